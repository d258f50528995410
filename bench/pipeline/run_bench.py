#!/usr/bin/env python3
"""Update pipeline benchmark: one whole BeginUpdate (under Wine) against the
same work done by its parts and by native tools in the same run.

    python3 bench/pipeline/run_bench.py [--build build/x86_64] [--files 2000]
                                        [--total-mib 1024] [--changed-percent 10]

Makes (once, cached under <build>/bench_pipeline/data) a synthetic client of
--files files and --total-mib MiB, and a next version in which every tenth
file changed, published by tools/make_release. Starts the build tree's test
server (tools/test_server/fixture.sh; it binds localhost ports 80 and 443, so
no network test may run at the same time), serves the release, installs the
old version into a fresh folder and runs bin/pipeline_bench.exe, which times
each phase of BeginUpdate from inside its process. Then the same work again:

    verification   sha1sum over every installed file; and the engine's CNG
                   SHA-1 over the same bytes from memory (bin/sha1_zip_bench.exe
                   cngmem), the bound of the engine's own hashing
    download       curl (HTTPS, one process) of the changed archives, unzip of
                   each, sha1sum of the unpacked files
    copy           cp of the changed installed files to a backup folder, then
                   cp of the new files over them; and the same with every
                   backup and every new file flushed (sync -d), as durable as
                   the updater's copy

and prints a table with the ratio updater / native, and the peak memory of
the updater process (its maximum resident set as Linux sees it, and Windows'
peak working set from inside).
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
SERVED = "bench_pipeline"
VERSION_OLD, VERSION_NEW = 6, 7


def file_sizes(rng, count, total):
    """Sizes drawn from a wide log-normal spread, scaled to `total` bytes."""
    raw = [rng.lognormvariate(0, 1.6) for _ in range(count)]
    scale = total / sum(raw)
    sizes = [max(1, int(r * scale)) for r in raw]
    sizes[0] += total - sum(sizes)
    return sizes


def file_bytes(rng, size):
    """Three quarters random bytes, one quarter text: zip packs it a little."""
    random_part = rng.randbytes(size * 3 // 4)
    text = (b"velisk client data line %d\n" % size) * (size // 100 + 1)
    return random_part + text[: size - len(random_part)]


def make_data(data, files, total, changed_percent):
    stamp = os.path.join(data, "stamp")
    key = f"{files} {total} {changed_percent}\n"
    if os.path.exists(stamp) and open(stamp).read() == key:
        return
    shutil.rmtree(data, ignore_errors=True)
    rng = random.Random(7)
    old, new = os.path.join(data, "v_old"), os.path.join(data, "v_new")
    names = [f"dir{i % 40:02d}/sub{i % 7}/file{i:05d}.bin" for i in range(files)]
    every = max(1, round(100 / changed_percent))
    for index, (name, size) in enumerate(zip(names, file_sizes(rng, files, total))):
        content = file_bytes(rng, size)
        for root in (old, new):
            path = os.path.join(root, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                if root == new and index % every == 0:
                    f.write(file_bytes(rng, size))  # changed in the new version
                else:
                    f.write(content)
    tool = os.path.join(REPO, "tools", "make_release")
    base = f"http://localhost/{SERVED}/"
    subprocess.run([sys.executable, tool, new, str(VERSION_NEW), base, os.path.join(data, "server"), "--unsigned"],
                   check=True, stdout=subprocess.DEVNULL)
    # The installed manifest of the old version.
    sys.path.insert(0, tool)
    import digests  # noqa: E402
    import manifest  # noqa: E402
    rows = [(n, digests.file_digest(os.path.join(old, *n.split("/")))) for n in sorted(names)]
    manifest.write_manifest(os.path.join(data, "old.zdb"), rows, [base], VERSION_OLD)
    with open(stamp, "w") as f:
        f.write(key)


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def timed(cmd, **kwargs):
    t0 = time.perf_counter()
    subprocess.run(cmd, check=True, **kwargs)
    return time.perf_counter() - t0


def run_updater(build, install, download, manifest_url, ini):
    prefix = os.path.join(build, "wineprefix")
    cmd = ["bash", os.path.join(REPO, "scripts", "wine-run.sh"), f"--prefix={prefix}",
           os.path.join(build, "bin", "pipeline_bench.exe"), wine_path(install), wine_path(download),
           manifest_url, wine_path(ini)]
    process = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True)
    out = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = status
    values = dict(item.split("=") for item in out.split())
    if values.get("ok") != "1":
        raise RuntimeError(f"pipeline_bench failed: {out}")
    return values, usage.ru_maxrss * 1024


def changed_names(data):
    old, new = os.path.join(data, "v_old"), os.path.join(data, "v_new")
    names = []
    for folder, _, files in os.walk(new):
        for file_name in files:
            path = os.path.join(folder, file_name)
            name = os.path.relpath(path, new)
            with open(path, "rb") as a, open(os.path.join(old, name), "rb") as b:
                if a.read() != b.read():
                    names.append(name)
    return sorted(names)


def native_runs(build, data, work, names):
    old = os.path.join(data, "v_old")
    all_files = sorted(os.path.join(folder, f) for folder, _, files in os.walk(old) for f in files)
    results = {}
    results["sha1sum"] = timed(["sha1sum"] + all_files, stdout=subprocess.DEVNULL)

    listing = os.path.join(work, "hash_list.txt")
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(wine_path(p) for p in all_files) + "\n")
    prefix = os.path.join(build, "wineprefix")
    out = subprocess.run(["bash", os.path.join(REPO, "scripts", "wine-run.sh"), f"--prefix={prefix}",
                          os.path.join(build, "bin", "sha1_zip_bench.exe"), "cngmem", wine_path(listing)],
                         check=True, capture_output=True, text=True).stdout
    results["memhash"] = float(dict(i.split("=") for i in out.split())["seconds"])

    fetched = os.path.join(work, "native_download")
    shutil.rmtree(fetched, ignore_errors=True)
    curl = ["curl", "-s", "-f", "--create-dirs"]
    for name in names:
        curl += ["-o", os.path.join(fetched, name + ".zip"),
                 f"https://localhost/{SERVED}/{VERSION_NEW}/{name}.zip"]
    results["curl"] = timed(curl)
    t0 = time.perf_counter()
    for name in names:
        archive = os.path.join(fetched, name + ".zip")
        subprocess.run(["unzip", "-o", "-q", archive, "-d", os.path.dirname(archive)], check=True)
    results["unzip"] = time.perf_counter() - t0
    results["sha1sum changed"] = timed(["sha1sum"] + [os.path.join(fetched, n) for n in names],
                                       stdout=subprocess.DEVNULL)

    target = os.path.join(work, "native_install")
    backup = os.path.join(work, "native_backup")

    def fresh_copy_folders():
        """The old installation again, and an empty backup folder."""
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(old, target)
        shutil.rmtree(backup, ignore_errors=True)
        os.makedirs(backup)

    fresh_copy_folders()
    results["cp"] = (timed(["cp", "--parents", "-t", backup] + names, cwd=target)
                     + timed(["cp", "-f", "--parents", "-t", target] + names, cwd=fetched))
    # The same copy made as durable as the updater's: every backup on disk
    # before the new files are written, every new file on disk at the end
    # (the updater flushes each file it writes before its journal moves on).
    fresh_copy_folders()
    subprocess.run(["sync"], check=True)
    results["cp+sync"] = (timed(["cp", "--parents", "-t", backup] + names, cwd=target)
                          + timed(["sync", "-d"] + [os.path.join(backup, n) for n in names])
                          + timed(["cp", "-f", "--parents", "-t", target] + names, cwd=fetched)
                          + timed(["sync", "-d"] + [os.path.join(target, n) for n in names]))
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build", "x86_64"))
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--total-mib", type=int, default=1024)
    parser.add_argument("--changed-percent", type=int, default=10)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = os.path.join(build, "bench_pipeline")
    data = os.path.join(work, "data")
    print("preparing the releases (cached after the first run) ...", flush=True)
    make_data(data, args.files, args.total_mib << 20, args.changed_percent)
    names = changed_names(data)

    state = os.path.join(build, "test_server")
    fixture = os.path.join(REPO, "tools", "test_server", "fixture.sh")
    subprocess.run(["bash", fixture, "start", state], check=True, stdout=subprocess.DEVNULL)
    served = os.path.join(state, "www", SERVED)
    try:
        shutil.rmtree(served, ignore_errors=True)
        subprocess.run(["cp", "-al", os.path.join(data, "server"), served], check=True)
        install = os.path.join(work, "install")
        shutil.rmtree(install, ignore_errors=True)
        shutil.copytree(os.path.join(data, "v_old"), install)
        shutil.copy(os.path.join(data, "old.zdb"), os.path.join(install, "ProgramConfig.zdb"))
        ini = os.path.join(data, "server", str(VERSION_NEW), "version.ini")
        download = os.path.join(work, "download")

        print("running BeginUpdate ...", flush=True)
        values, maxrss = run_updater(build, install, download,
                                     f"http://localhost/{SERVED}/{VERSION_NEW}/ProgramConfig.zdb.zip", ini)
        print("running the native tools ...", flush=True)
        native = native_runs(build, data, work, names)
    finally:
        shutil.rmtree(served, ignore_errors=True)
        subprocess.run(["bash", fixture, "stop", state], check=False)

    ms = {k: float(v) / 1000.0 for k, v in values.items() if k.endswith("_ms")}
    changed_bytes = sum(os.path.getsize(os.path.join(data, "v_new", n)) for n in names)
    print(f"\nBeginUpdate of {args.files} files, {args.total_mib} MiB, {len(names)} changed "
          f"({changed_bytes / 2**20:.0f} MiB, {int(values['bytes_downloaded']) / 2**20:.0f} MiB of archives)\n")
    rows = [
        ("manifest archive", ms["manifest_ms"], "-", None),
        ("verification", ms["verify_ms"], "sha1sum", native["sha1sum"]),
        ("  (hashing bound)", ms["verify_ms"], "CNG SHA-1 in memory", native["memhash"]),
        ("download+unpack+check", ms["download_ms"], "curl+unzip+sha1sum",
         native["curl"] + native["unzip"] + native["sha1sum changed"]),
        ("copy with backup", ms["copy_ms"], "cp backup + cp", native["cp"]),
        ("  (as durable)", ms["copy_ms"], "the same + sync -d", native["cp+sync"]),
        ("obsolete, end steps", ms["finish_ms"], "-", None),
    ]
    native_total = native["sha1sum"] + native["curl"] + native["unzip"] + native["sha1sum changed"] + native["cp"]
    rows.append(("whole BeginUpdate", ms["total_ms"], "sum of native", native_total))
    print(f"{'phase':<24}{'updater s':>10}  {'native':<24}{'native s':>9}{'ratio':>8}")
    for phase, mine, tool, theirs in rows:
        if theirs is None:
            print(f"{phase:<24}{mine:>10.2f}  {tool:<24}{'':>9}{'':>8}")
        else:
            print(f"{phase:<24}{mine:>10.2f}  {tool:<24}{theirs:>9.2f}{mine / theirs:>8.2f}")
    print(f"\npeak memory of the updater process: {maxrss / 2**20:.0f} MiB resident (Linux), "
          f"{int(values['peak_working_set']) / 2**20:.0f} MiB working set, "
          f"{int(values['peak_private']) / 2**20:.0f} MiB private (Windows)")
    print(f"native detail: curl {native['curl']:.2f} s, unzip {native['unzip']:.2f} s, "
          f"sha1sum of changed {native['sha1sum changed']:.2f} s")
    print("load average at the end: " + " ".join(open("/proc/loadavg").read().split()[:3]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
