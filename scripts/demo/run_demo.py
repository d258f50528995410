#!/usr/bin/env python3
"""A local demo update of a Velisk client installation under Wine.

    run_demo.py REPO BUILD_DIR

Makes two versions of a client folder, publishes both with the release tool,
installs version 1, serves the releases from the local test server on
localhost (HTTP and HTTPS), runs the real Update.exe in update mode to bring
the installation to version 2 while the update window shows, and checks that
the installation now equals version 2 byte for byte. Prints what happened and
leaves the window's screenshot, the logs and the installation under
BUILD_DIR/demo.
"""

import glob
import hashlib
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile

BASE_URL = "http://localhost/velisk/"


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_client_versions(demo, bin_dir):
    rng = random.Random(20261209)
    engine_v1 = bytes(rng.getrandbits(8) for _ in range(3 << 20))
    engine_v2 = bytearray(engine_v1)
    engine_v2[1000:1016] = b"version-2-engine"
    common = {
        "VeliskLive.exe": open(os.path.join(bin_dir, "client_standin.exe"), "rb").read(),
        "zuZavozeVororiz.exe": open(os.path.join(bin_dir, "launcher_standin.exe"), "rb").read(),
        "Application/skin/theme.json": b'{"accent": "#ff9900"}\n',
    }
    v1 = dict(common)
    v1.update({
        "bin/engine.dat": engine_v1,
        "bin/old_plugin.dll": b"retired in version 2\n",
        "readme.txt": "Velisk 1.0\n".encode(),
    })
    v2 = dict(common)
    v2.update({
        "bin/engine.dat": bytes(engine_v2),
        "bin/new_feature.dat": bytes(rng.getrandbits(8) for _ in range(200 << 10)),
        "readme.txt": "Velisk 2.0 \u2014 \u65b0\u7248\u672c\n".encode(),
        "res/lang/zh-CN.txt": "\u4e2d\u6587\u754c\u9762\n".encode(),
    })
    folders = {}
    for version, files in ((1, v1), (2, v2)):
        folder = os.path.join(demo, "client-v%d" % version)
        for name, data in files.items():
            write(os.path.join(folder, *name.split("/")), data)
        folders[version] = folder
    return folders


def make_releases(repo, demo, folders):
    www = os.path.join(demo, "server", "www", "velisk")
    notes = os.path.join(demo, "notes.txt")
    with open(notes, "w", encoding="utf-8") as f:
        f.write("\u5168\u65b0\u7684\u754c\u9762\u4e3b\u9898\n\u4e0b\u8f7d\u66f4\u5feb\u3001\u66f4\u7a33\u5b9a\n"
                "\u4fee\u590d\u4e86\u82e5\u5e72\u95ee\u9898\n\u65b0\u589e\u4e2d\u6587\u8d44\u6e90\u6587\u4ef6\n"
                "\u66f4\u65b0\u540e\u81ea\u52a8\u91cd\u542f\u5ba2\u6237\u7aef\n\u652f\u6301\u65ad\u70b9\u7eed\u4f20\n")
    tool = os.path.join(repo, "tools", "make_release")
    for version, folder in folders.items():
        subprocess.run([sys.executable, tool, folder, str(version), BASE_URL, www,
                        "--version-name", "V%d.0.0" % version, "--notes", notes, "--force"],
                       check=True, stdout=subprocess.DEVNULL)
    return www


def install_version_1(demo, folders, www):
    install = os.path.join(demo, "install")
    shutil.copytree(folders[1], install)
    with zipfile.ZipFile(os.path.join(www, "1", "ProgramConfig.zdb.zip")) as z:
        z.extractall(install)
    shutil.copy(os.path.join(www, "1", "version.ini"), os.path.join(install, "version.ini"))
    new_ini = os.path.join(demo, "new", "version.ini")
    os.makedirs(os.path.dirname(new_ini))
    shutil.copy(os.path.join(www, "2", "version.ini"), new_ini)
    return install, new_ini


def tree_digests(folder, skip=()):
    result = {}
    for root, _, files in os.walk(folder):
        for name in files:
            full = os.path.join(root, name)
            rel = os.path.relpath(full, folder).replace(os.sep, "/")
            if rel in skip or rel.endswith(".record"):
                continue
            with open(full, "rb") as f:
                result[rel] = hashlib.sha1(f.read()).hexdigest()
    return result


def run_update(repo, build, install, new_ini, screenshot):
    wine = [os.path.join(repo, "scripts", "wine-run.sh"), "--prefix=" + os.path.join(build, "wineprefix")]
    bin_dir = os.path.join(build, "bin")
    env = dict(os.environ)
    env.setdefault("VELISK_DISPLAY", ":77")
    subprocess.run(["bash", os.path.join(repo, "scripts", "wine-cjk-font.sh"), os.path.join(build, "wineprefix")],
                   env=env, check=False)
    # A process the updater waits for before it starts, so that the window
    # can be photographed; the demo ends it after the screenshot.
    holder_dir = os.path.join(os.path.dirname(install), "holder")
    os.makedirs(holder_dir, exist_ok=True)
    holder = os.path.join(holder_dir, "holder.exe")
    shutil.copy(os.path.join(bin_dir, "client_standin.exe"), holder)
    holder_proc = subprocess.Popen(wine + [holder, "--no-window"], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    record = holder + ".record"
    for _ in range(200):
        if os.path.exists(record) and open(record).read().strip():
            break
        time.sleep(0.05)
    holder_pid = open(record).read().split("\t")[0].split("=")[1]

    args = [win_path(install), BASE_URL + "2/ProgramConfig.zdb.zip", win_path(new_ini), holder_pid,
            win_path(install), win_path(os.path.join(install, "zuZavozeVororiz.exe"))]
    started = time.time()
    update = subprocess.Popen(wine + [os.path.join(bin_dir, "Update.exe")] + args, env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(4)
    shot = subprocess.run(["/usr/bin/import", "-display", env["VELISK_DISPLAY"], "-window", "root",
                           "-crop", "630x390+0+0", screenshot],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(wine + [os.path.join(bin_dir, "Haltrix.exe"), "--pids", "[%s]" % holder_pid], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    holder_proc.wait(timeout=30)
    code = update.wait(timeout=300)
    return code, time.time() - started, shot.returncode == 0


def find_log(build):
    logs = glob.glob(os.path.join(build, "wineprefix", "drive_c", "users", "*", "**", "VeliskUpdateLog",
                                  "update_info.log"), recursive=True)
    return max(logs, key=os.path.getmtime) if logs else None


def main():
    repo, build = sys.argv[1], sys.argv[2]
    demo = os.path.join(build, "demo")
    shutil.rmtree(demo, ignore_errors=True)
    os.makedirs(demo)
    bin_dir = os.path.join(build, "bin")

    folders = make_client_versions(demo, bin_dir)
    www = make_releases(repo, demo, folders)
    install, new_ini = install_version_1(demo, folders, www)
    before = tree_digests(install)

    server_state = os.path.join(demo, "server")
    fixture = os.path.join(repo, "tools", "test_server", "fixture.sh")
    subprocess.run(["bash", fixture, "start", server_state], check=True, stdout=subprocess.DEVNULL)
    try:
        screenshot = os.path.join(demo, "update-window.png")
        code, seconds, shot = run_update(repo, build, install, new_ini, screenshot)
    finally:
        subprocess.run(["bash", fixture, "stop", server_state], check=False)

    after = tree_digests(install, skip=("ProgramConfig.zdb", "version.ini"))
    expected = tree_digests(folders[2])
    changed = sorted(n for n in expected if before.get(n) != expected[n])
    removed = sorted(n for n in before if n not in expected and n not in ("ProgramConfig.zdb", "version.ini"))
    requests = [l for l in open(os.path.join(server_state, "requests.log"), encoding="utf-8") if l.strip()]

    print("demo: Update.exe finished in %.1f s (exit code %s)" % (seconds, code))
    print("demo: %d requests to the local server; files new or changed in version 2: %d; removed: %d"
          % (len(requests), len(changed), len(removed)))
    for name in changed:
        print("   updated  %s  %s" % (name, "ok" if after.get(name) == expected[name] else "MISMATCH"))
    for name in removed:
        print("   removed  %s  %s" % (name, "ok" if name not in after else "STILL THERE"))
    log = find_log(build)
    if log:
        wanted = ("BeginUpdate over", "FUS_VERIFYFILE over", "download all files", "update thread over")
        for line in open(log, encoding="utf-8", errors="replace"):
            if any(w in line for w in wanted):
                print("   log: " + line.rstrip()[line.find("]") + 2:])
        print("demo: logs in %s" % os.path.dirname(log))
    if shot:
        print("demo: screenshot of the update window: %s" % screenshot)
    installed_ini = open(os.path.join(install, "version.ini"), encoding="utf-8").read()
    ok = after == expected and "version=2" in installed_ini.replace(" ", "")
    print("demo: installation %s version 2" % ("now equals" if ok else "does NOT equal"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
