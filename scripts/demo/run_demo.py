#!/usr/bin/env python3
"""A local demo update of a Velisk client installation under Wine.

    run_demo.py REPO BUILD_DIR [--hidden] [--server-state DIR] [--out DIR]

Makes two versions of a client folder, publishes both with the release tool,
installs version 1 and starts its client (a stand-in that records how it was
started), serves the releases from the local test server on localhost, and
runs the real Update.exe in update mode to bring the installation to version
2. The server paces the file downloads so that the update window can be seen;
a screenshot of it is taken during the download.

With --hidden the installation allows hidden updates: Update.exe stages
version 2 without any window and hands the client the copy command; the demo
then plays the client and runs the copy mode with "-restart".

--server-state uses a test server that already runs (tools/test_server/
fixture.sh) instead of starting one; the tests do that.

Either way it checks that the installation now equals version 2 byte for
byte, prints what changed, how the client and the launcher were started and
where the logs are, and leaves everything under BUILD_DIR/demo (or --out).
"""

import argparse
import glob
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
import zipfile

BASE_URL = "http://localhost/velisk/"
# The file archives come through the server's pacing: 32 KiB every 50 ms.
PACED_URL = "http://localhost/fault/trickle=32768:50/velisk/"
USELESS = "logs/old.log"
RELATED = "vk_service.exe"


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read_text(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def make_client_versions(demo, bin_dir):
    rng = random.Random(20261209)
    engine_v1 = bytes(rng.getrandbits(8) for _ in range(3 << 20))
    engine_v2 = bytearray(engine_v1)
    engine_v2[1000:1016] = b"version-2-engine"
    with open(os.path.join(bin_dir, "client_standin.exe"), "rb") as f:
        client = f.read()
    with open(os.path.join(bin_dir, "launcher_standin.exe"), "rb") as f:
        launcher = f.read()
    common = {
        "VeliskLive.exe": client,
        "zuZavozeVororiz.exe": launcher,
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


def make_releases(repo, demo, folders, server_state, signing_key, hidden):
    www = os.path.join(server_state, "www", "velisk")
    shutil.rmtree(www, ignore_errors=True)  # each demo publishes its two versions afresh
    notes = os.path.join(demo, "notes.txt")
    with open(notes, "w", encoding="utf-8") as f:
        f.write("\u5168\u65b0\u7684\u754c\u9762\u4e3b\u9898\n\u4e0b\u8f7d\u66f4\u5feb\u3001\u66f4\u7a33\u5b9a\n"
                "\u4fee\u590d\u4e86\u82e5\u5e72\u95ee\u9898\n\u65b0\u589e\u4e2d\u6587\u8d44\u6e90\u6587\u4ef6\n"
                "\u66f4\u65b0\u540e\u81ea\u52a8\u91cd\u542f\u5ba2\u6237\u7aef\n\u652f\u6301\u65ad\u70b9\u7eed\u4f20\n")
    tool = os.path.join(repo, "tools", "make_release")
    settings = ["update.target=VeliskLive.exe", "update.uselessFiles=" + json.dumps([USELESS]),
                "update.related=" + json.dumps([RELATED]), "regKey.appCode=velisk-demo",
                "regKey.protocol=URL:Velisk Demo", "regKey.target=VeliskLive.exe"]
    for version, folder in folders.items():
        command = [sys.executable, tool, folder, str(version), BASE_URL, www,
                   "--version-name", "V%d.0.0" % version, "--notes", notes]
        command += ["--sign-key", signing_key] if signing_key else ["--unsigned"]
        # Version 2's own version.ini sends its file downloads through the
        # server's pacing and, for the hidden demo, asks for a hidden update:
        # the client must not change a signed version.ini after downloading it.
        extra = []
        if version == max(folders):
            extra = ["update.url=" + PACED_URL] + (["update.hide=1", "update.minHideVersion=1"] if hidden else [])
        for setting in settings + extra:
            command += ["--set", setting]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return www


def set_ini_keys(path, keys):
    """Sets [update] keys of a version.ini written by the release tool."""
    text = read_text(path)
    for key, value in keys.items():
        text, found = re.subn(r"(?m)^%s=.*$" % key, "%s=%s" % (key, value), text)
        if not found:
            text = text.replace("[update]\n", "[update]\n%s=%s\n" % (key, value), 1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def install_version_1(demo, folders, www, hidden):
    install = os.path.join(demo, "install")
    shutil.copytree(folders[1], install)
    with zipfile.ZipFile(os.path.join(www, "1", "ProgramConfig.zdb.zip")) as z:
        z.extract("ProgramConfig.zdb", install)  # an installation holds the manifest, not its signature
    shutil.copy(os.path.join(www, "1", "version.ini"), os.path.join(install, "version.ini"))
    write(os.path.join(install, *USELESS.split("/")), b"left behind by version 1\n")
    new_ini = os.path.join(demo, "new", "version.ini")
    os.makedirs(os.path.dirname(new_ini))
    # The client downloads version.ini and its signature into one folder.
    for name in ("version.ini", "version.ini.sig"):
        if os.path.exists(os.path.join(www, "2", name)):
            shutil.copy(os.path.join(www, "2", name), os.path.join(os.path.dirname(new_ini), name))
    if hidden:
        set_ini_keys(os.path.join(install, "version.ini"), {"canHide": "1"})
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


def start_records(exe):
    """(pid, command line) of every start a stand-in recorded."""
    record = exe + ".record"
    if not os.path.exists(record):
        return []
    starts = []
    for line in read_text(record).splitlines():
        fields = dict(part.split("=", 1) for part in line.split("\t") if "=" in part)
        if "pid" in fields and "cmd" in fields:
            starts.append((fields["pid"], fields["cmd"]))
    return starts


def wait_until(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class Wine:
    def __init__(self, repo, build, log_dir):
        self.command = [os.path.join(repo, "scripts", "wine-run.sh"), "--prefix=" + os.path.join(build, "wineprefix")]
        self.bin_dir = os.path.join(build, "bin")
        # What Wine and the wrapper print for each program goes to
        # LOG_DIR/wine-<program>.log, so a failed start can say why.
        self.log_dir = log_dir
        self.env = dict(os.environ)
        self.env.setdefault("VELISK_DISPLAY", ":77")
        # Statistics would go to the maker's hosts; the demo keeps them local
        # (a closed port, so each point fails at once).
        self.env.setdefault("VELISK_REPORT_BASE_URL", "http://127.0.0.1:9")
        subprocess.run(["bash", os.path.join(repo, "scripts", "wine-cjk-font.sh"), os.path.join(build, "wineprefix")],
                       env=self.env, check=False)

    def output_path(self, program):
        return os.path.join(self.log_dir, "wine-%s.log" % os.path.basename(program))

    def start(self, program, *args):
        with open(self.output_path(program), "ab") as output:
            return subprocess.Popen(self.command + [program] + list(args), env=self.env,
                                    stdout=output, stderr=subprocess.STDOUT)

    def start_standin(self, exe, *args):
        """Starts a stand-in; returns its Windows process id once recorded,
        and the Wine process that ends with it. When no start is recorded,
        says whether the process ended (and how) or still runs, with what
        Wine printed."""
        process = self.start(exe, *args)
        if not wait_until(lambda: start_records(exe) or process.poll() is not None, 20) or not start_records(exe):
            code = process.poll()
            state = "still runs" if code is None else "ended with exit code %d" % code
            with open(self.output_path(exe), encoding="utf-8", errors="replace") as f:
                said = f.read()[-2000:].strip() or "(nothing)"
            raise RuntimeError("the stand-in %s did not record its start; its Wine process %s; Wine printed:\n%s"
                               % (exe, state, said))
        return start_records(exe)[0][0], process

    def update(self, *args):
        return self.start(os.path.join(self.bin_dir, updater_program(self.bin_dir)), *args)


# The demo signs its releases with the first of the keys that the build tree
# made for itself (build/x86_64/test-keys, never committed) and runs
# UpdateSigned.exe, the updater built from the same sources with those keys.
# The shipped Update.exe trusts only the publisher's keys.
def updater_program(bin_dir):
    return "UpdateSigned.exe" if os.path.exists(os.path.join(bin_dir, "UpdateSigned.exe")) else "Update.exe"


def demo_signing_key(build):
    key = os.path.join(build, "test-keys", "first.private.pem")
    return key if updater_program(os.path.join(build, "bin")) == "UpdateSigned.exe" and os.path.exists(key) else None


def request_log(server_state):
    with open(os.path.join(server_state, "requests.log"), encoding="utf-8") as f:
        return [json.loads(l) for l in f if l.strip()]


def file_requests(server_state, mark=0):
    """The file archives of the demo's releases requested after log line `mark`."""
    return [r for r in request_log(server_state)[mark:]
            if "/velisk/" in r.get("path", "") and r["path"].endswith(".zip") and "ProgramConfig" not in r["path"]]


def screenshot_during_download(wine, server_state, screenshot, update):
    """Takes the screenshot a second into the paced download."""
    mark = len(request_log(server_state))
    if not wait_until(lambda: file_requests(server_state, mark) or update.poll() is not None, 120):
        return False
    time.sleep(1)
    shot = subprocess.run(["/usr/bin/import", "-display", wine.env["VELISK_DISPLAY"], "-window", "root",
                           "-crop", "630x390+0+0", screenshot],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return shot.returncode == 0


def run_visible_update(wine, install, new_ini, server_state, screenshot):
    client = os.path.join(install, "VeliskLive.exe")
    # The client started the update; Update closes it and waits for it to end.
    caller_pid, _ = wine.start_standin(client)
    update = wine.update(win_path(install), BASE_URL + "2/ProgramConfig.zdb.zip", win_path(new_ini), caller_pid,
                         win_path(install), win_path(os.path.join(install, "zuZavozeVororiz.exe")))
    shot = screenshot_during_download(wine, server_state, screenshot, update)
    return update.wait(timeout=300), shot


def run_hidden_update_then_copy(wine, install, new_ini, on_update_end=lambda: None):
    client = os.path.join(install, "VeliskLive.exe")
    update = wine.update(win_path(install), BASE_URL + "2/ProgramConfig.zdb.zip", win_path(new_ini), "0",
                         win_path(install), win_path(os.path.join(install, "zuZavozeVororiz.exe")))
    code = update.wait(timeout=300)
    on_update_end()  # the copy mode's run starts new log files
    starts = start_records(client)
    handed = starts[-1][1] if starts else ""
    print("demo: hidden update ended (exit code %s); the client was started with:\n   %s" % (code, handed))
    staged = re.search(r'-copy "([^"]*)" "([^"]*)" "([^"]*)" (\d+)', handed)
    if not staged:
        print("demo: the client got no copy command")
        return code
    staging, base = staged.group(2), staged.group(3)
    print("demo: staged in %s; now the copy mode, as the client would start it, with -restart" % staging)
    copy = wine.update("-copy", staging, base, "-restart")
    return copy.wait(timeout=300)


def find_logs(build):
    logs = glob.glob(os.path.join(build, "wineprefix", "drive_c", "users", "*", "**", "VeliskUpdateLog",
                                  "update_info.log"), recursive=True)
    return max(logs, key=os.path.getmtime) if logs else None


def print_changes(install, folders, before):
    # The updater's own files; a staged update brings the manifest's signature along.
    own = ("ProgramConfig.zdb", "ProgramConfig.zdb.sig", "version.ini", "version.ini.sig", RELATED,
           RELATED + ".record")
    after = tree_digests(install, skip=own)
    expected = tree_digests(folders[2])
    changed = sorted(n for n in expected if before.get(n) != expected[n])
    removed = sorted(n for n in before if n not in expected and n not in own)
    print("demo: files new or changed in version 2: %d; removed: %d" % (len(changed), len(removed)))
    for name in changed:
        print("   updated  %s  %s" % (name, "ok" if after.get(name) == expected[name] else "MISMATCH"))
    for name in removed:
        print("   removed  %s  %s" % (name, "ok" if name not in after else "STILL THERE"))
    installed_ini = read_text(os.path.join(install, "version.ini")).replace(" ", "")
    return after == expected and "version=2" in installed_ini


def print_starts(install, related):
    for label, exe in (("client", os.path.join(install, "VeliskLive.exe")),
                       ("launcher", os.path.join(install, "zuZavozeVororiz.exe"))):
        for pid, cmd in start_records(exe):
            print("demo: %s started (pid %s): %s" % (label, pid, cmd))
    print("demo: related process %s %s" % (RELATED, "was ended" if related.poll() is not None else "STILL RUNS"))


def signature_line(build):
    """The log's "manifest signature checked: ..." text, or None."""
    log = find_logs(build)
    label = "manifest signature checked: "
    for line in open(log, encoding="utf-8", errors="replace") if log else []:
        if label in line:
            return line.rstrip()[line.find(label) + len(label):]
    return None


def print_log_summary(build):
    log = find_logs(build)
    if not log:
        return
    wanted = ("manifest signature checked", "manifest refused", "BeginUpdate over", "download all files",
              "update thread over", "CopyStagedUpdate", "point imcopy")
    for line in open(log, encoding="utf-8", errors="replace"):
        if any(w in line for w in wanted):
            print("   log: " + line.rstrip()[line.find("]") + 2:])
    print("demo: logs in %s" % os.path.dirname(log))


def main():
    parser = argparse.ArgumentParser(description="local demo update under Wine")
    parser.add_argument("repo")
    parser.add_argument("build")
    parser.add_argument("--hidden", action="store_true", help="hidden update, then the copy mode")
    parser.add_argument("--server-state", help="state folder of a test server that already runs")
    parser.add_argument("--out", help="folder of the demo's files (default BUILD/demo)")
    args = parser.parse_args()
    demo_started = time.time()
    demo = os.path.abspath(args.out or os.path.join(args.build, "demo"))
    shutil.rmtree(demo, ignore_errors=True)
    os.makedirs(demo)

    server_state = os.path.abspath(args.server_state or os.path.join(demo, "server"))
    folders = make_client_versions(demo, os.path.join(args.build, "bin"))
    signing_key = demo_signing_key(args.build)
    www = make_releases(args.repo, demo, folders, server_state, signing_key, args.hidden)
    if signing_key:
        print("demo: releases signed with %s; the updater is UpdateSigned.exe, which trusts that build tree's keys"
              % signing_key)
    else:
        print("demo: releases NOT signed (no UpdateSigned.exe in this build tree)")
    install, new_ini = install_version_1(demo, folders, www, args.hidden)
    before = tree_digests(install, skip=(USELESS,))
    # The related service runs from the installation: the updater ends only
    # programs inside it.
    services = install
    shutil.copy(os.path.join(args.build, "bin", "client_standin.exe"), os.path.join(services, RELATED))

    fixture = os.path.join(args.repo, "tools", "test_server", "fixture.sh")
    if not args.server_state:
        subprocess.run(["bash", fixture, "start", server_state], check=True, stdout=subprocess.DEVNULL)
    log_mark = len(request_log(server_state))
    screenshot = os.path.join(demo, "update-window.png")
    shot = False
    try:
        wine = Wine(args.repo, args.build, demo)
        _, related = wine.start_standin(os.path.join(services, RELATED), "--no-window")
        update_started = time.time()
        checked = []  # the signature line of the update run's log
        if args.hidden:
            code = run_hidden_update_then_copy(wine, install, new_ini,
                                               lambda: checked.append(signature_line(args.build)))
        else:
            code, shot = run_visible_update(wine, install, new_ini, server_state, screenshot)
            checked.append(signature_line(args.build))
        update_seconds = time.time() - update_started
        # The restarted client and launcher record their starts a moment later.
        wait_until(lambda: start_records(os.path.join(install, "zuZavozeVororiz.exe")), 10)
        time.sleep(1)
    finally:
        if not args.server_state:
            subprocess.run(["bash", fixture, "stop", server_state], check=False)

    print("demo: %s finished in %.1f s (exit code %s); %d file archives fetched through the paced server"
          % (updater_program(os.path.join(args.build, "bin")), update_seconds, code,
             len(file_requests(server_state, log_mark))))
    ok = print_changes(install, folders, before)
    print("   useless  %s  %s" % (USELESS, "deleted" if not os.path.exists(os.path.join(install, USELESS))
                                 else "STILL THERE"))
    ok = ok and not os.path.exists(os.path.join(install, USELESS))
    print_starts(install, related)
    print_log_summary(args.build)
    if signing_key:
        line = checked[0] if checked else None
        print("demo: manifest signature %s" % (("checked: " + line) if line else "NOT checked"))
        ok = ok and bool(line)
    if shot:
        print("demo: screenshot of the update window during the download: %s" % screenshot)
    print("demo: installation %s version 2" % ("now equals" if ok else "does NOT equal"))
    print("demo: the whole demo took %.1f s" % (time.time() - demo_started))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
