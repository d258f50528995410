#!/usr/bin/env python3
"""Delta update benchmark: bytes fetched and the whole BeginUpdate (under
Wine) with and without zstd patches, for two corpora of two client versions.

    python3 bench/delta/run_bench.py [--build build/x86_64] [--old-bin DIR]
                                     [--cache /var/cache/velisk-bench] [--corpus 1|2 ...]

Corpus 1, "own binaries": the shipped binaries of this project (Update.exe,
UpdateSigned.exe, Haltrix.exe, Lockscan.dll, Vantor.dll, Pellix.dll,
stripped as the bundle ships them) of an older build (--old-bin, e.g. the
main tree's build/x86_64/bin) and of this tree: a minor release.
Corpus 2, "chromium": Debian's chromium and chromium-common of bookworm
(150.x) and of bookworm-security (156.x), fetched with apt-get download and
unpacked with dpkg-deb -x into the cache folder: six major versions apart.

For each corpus the new version is published twice by tools/make_release
(timed): plain, and with --patch-from the old version. The build tree's test
server (tools/test_server/fixture.sh; binds localhost ports 80 and 443, so
run it alone in its network namespace) serves both; bin/pipeline_bench.exe
runs BeginUpdate on a fresh copy of the old version, unpaced and paced at
10 MB/s (the server's trickle fault, 100,000 bytes every 10 ms), and reports
its time and peak working set. Bytes fetched come from the server's request
log. Each patch is also compared with plain `zstd -19 --long=30
--patch-from` of the same pair.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
TOOL = os.path.join(REPO, "tools", "make_release")
VERSION_OLD, VERSION_NEW = 6, 7
SHIPPED = ["Update.exe", "UpdateSigned.exe", "Haltrix.exe", "Lockscan.dll", "Vantor.dll", "Pellix.dll"]
CHROMIUM = {"old": "150.0.7871.100-1~deb12u1", "new": "156.0.8078.129-1~deb12u1"}
PACE = "trickle=100000:10"

sys.path.insert(0, TOOL)
import digests  # noqa: E402
import manifest  # noqa: E402


def run(cmd, **kwargs):
    return subprocess.run(cmd, check=True, **kwargs)


def own_binaries(corpus, old_bin, new_bin):
    for side, folder in (("old", old_bin), ("new", new_bin)):
        target = os.path.join(corpus, side)
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        for name in SHIPPED:
            run(["x86_64-w64-mingw32-strip", "-o", os.path.join(target, name), os.path.join(folder, name)])


def chromium(corpus, cache):
    debs = os.path.join(cache, "debs")
    os.makedirs(debs, exist_ok=True)
    for side, version in CHROMIUM.items():
        target = os.path.join(corpus, side)
        if os.path.isfile(os.path.join(target, ".complete")):
            continue
        names = ["%s_%s_amd64.deb" % (package, version) for package in ("chromium", "chromium-common")]
        for package, deb in zip(("chromium", "chromium-common"), names):
            if not os.path.isfile(os.path.join(debs, deb)):
                run(["apt-get", "download", "%s=%s" % (package, version)], cwd=debs)
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        for deb in names:
            run(["dpkg-deb", "-x", os.path.join(debs, deb), target])
        for folder, _, files in os.walk(target):  # links and empty files are not published
            for file_name in files:
                path = os.path.join(folder, file_name)
                if os.path.islink(path) or os.path.getsize(path) == 0:
                    os.remove(path)
        open(os.path.join(target, ".complete"), "w").close()


def publish(corpus, served_base, patched):
    out = os.path.join(corpus, "server_patch" if patched else "server_full")
    shutil.rmtree(out, ignore_errors=True)
    cmd = [sys.executable, TOOL, os.path.join(corpus, "new"), str(VERSION_NEW), served_base, out,
           "--exclude", ".complete", "--unsigned"]
    if patched:
        cmd += ["--patch-from", os.path.join(corpus, "old")]
    t0 = time.perf_counter()
    run(cmd, stdout=subprocess.DEVNULL)
    return out, time.perf_counter() - t0


def installed_manifest(corpus, base):
    old = os.path.join(corpus, "old")
    rows = []
    for folder, _, files in os.walk(old):
        for file_name in files:
            if file_name == ".complete":
                continue
            path = os.path.join(folder, file_name)
            rows.append((os.path.relpath(path, old).replace(os.sep, "/"), digests.file_digest(path)))
    database = os.path.join(corpus, "old.zdb")
    if os.path.exists(database):
        os.remove(database)
    manifest.write_manifest(database, sorted(rows), [base], VERSION_OLD)
    return database


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def run_update(build, corpus, database, ini):
    install = os.path.join(corpus, "install")
    download = os.path.join(corpus, "download")
    shutil.rmtree(install, ignore_errors=True)
    shutil.rmtree(download, ignore_errors=True)
    run(["cp", "-a", os.path.join(corpus, "old"), install])
    shutil.copy(database, os.path.join(install, "ProgramConfig.zdb"))
    manifest_url = ini[1]
    cmd = ["bash", os.path.join(REPO, "scripts", "wine-run.sh"), "--prefix=" + os.path.join(build, "wineprefix"),
           os.path.join(build, "bin", "pipeline_bench.exe"), wine_path(install), wine_path(download),
           manifest_url, wine_path(ini[0])]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    values = dict(item.split("=", 1) for item in out.split() if "=" in item)
    if values.get("ok") != "1":
        raise RuntimeError("pipeline_bench failed: " + out)
    new = os.path.join(corpus, "new")
    for folder, _, files in os.walk(new):
        for file_name in files:
            if file_name == ".complete":
                continue
            path = os.path.join(folder, file_name)
            installed = os.path.join(install, os.path.relpath(path, new))
            if digests.file_digest(path) != digests.file_digest(installed):
                raise RuntimeError("installed file differs from the new version: " + installed)
    shutil.rmtree(install, ignore_errors=True)
    return values


def fetched_bytes(log_path, mark, served, server_dir):
    """Bytes of the archives and of the patches that requests since `mark` asked for."""
    full = patch = 0
    with open(log_path, encoding="utf-8") as f:
        lines = f.readlines()[mark:]
    for line in lines:
        entry = json.loads(line)
        path = entry.get("path", "")
        at = path.find("/" + served + "/")
        if at < 0 or entry.get("status") not in (200, 206) or path.endswith("ProgramConfig.zdb.zip"):
            continue
        local = os.path.join(server_dir, *path[at + len(served) + 2:].split("/"))
        size = os.path.getsize(local)
        start = int(entry["range"][6:].split("-")[0]) if entry.get("range") else 0
        if path.endswith(".zst"):
            patch += size - start
        elif path.endswith(".zip"):
            full += size - start
    return full, patch, len(lines)


def native_patch_sizes(corpus, patch_rows):
    """Sizes of plain zstd -19 --long=30 --patch-from patches of the files the tool patched."""
    sizes = {}
    scratch = os.path.join(corpus, "native.zst")
    for name in sorted({row[0] for row in patch_rows}):
        old = os.path.join(corpus, "old", *name.split("/"))
        new = os.path.join(corpus, "new", *name.split("/"))
        run(["zstd", "-q", "-f", "-19", "--long=30", "--patch-from=" + old, new, "-o", scratch],
            stderr=subprocess.DEVNULL)
        sizes[name] = os.path.getsize(scratch)
    os.remove(scratch)
    return sizes


def patch_rows_of(server_dir):
    import sqlite3
    import tempfile
    import zipfile
    with tempfile.TemporaryDirectory() as scratch:
        with zipfile.ZipFile(os.path.join(server_dir, str(VERSION_NEW), "ProgramConfig.zdb.zip")) as z:
            z.extract("ProgramConfig.zdb", scratch)
        connection = sqlite3.connect(os.path.join(scratch, "ProgramConfig.zdb"))
        try:
            return list(connection.execute("SELECT SectionName, PatchSize, TargetSize, ArchiveSize FROM FilePatch"))
        except sqlite3.OperationalError:
            return []
        finally:
            connection.close()


def bench_corpus(label, corpus, build, state, repeat):
    log_path = os.path.join(state, "requests.log")
    results = {"label": label}
    sides = {}
    for patched in (False, True):
        served = "bench_delta_" + ("patch" if patched else "full")
        base = "http://localhost/%s/" % served
        server_dir, seconds = publish(corpus, base, patched)
        results["tool_patch" if patched else "tool_full"] = seconds
        www = os.path.join(state, "www", served)
        shutil.rmtree(www, ignore_errors=True)
        run(["cp", "-al", server_dir, www])
        sides[patched] = (served, server_dir, base)
    rows = patch_rows_of(sides[True][1])
    results["patch_rows"] = rows
    database = installed_manifest(corpus, sides[False][2])
    runs = {}
    for _ in range(repeat):  # the modes interleaved, so that a change of load hits both alike
        for paced in (False, True):
            for patched in (False, True):
                served, server_dir, base = sides[patched]
                url = ("http://localhost/fault/%s/%s/" % (PACE, served)) if paced else base
                ini = os.path.join(corpus, "new.ini")
                with open(ini, "w") as f:
                    f.write("[update]\r\nversion=%d\r\nurl=%s\r\nversionName=v7\r\n" % (VERSION_NEW, url))
                mark = sum(1 for _ in open(log_path, encoding="utf-8"))
                values = run_update(build, corpus, database,
                                    (ini, base + "%d/ProgramConfig.zdb.zip" % VERSION_NEW))
                full, patch, _ = fetched_bytes(log_path, mark, served, server_dir)
                runs.setdefault((patched, paced), []).append(
                    (float(values["total_ms"]) / 1000, int(values["peak_working_set"]), full, patch,
                     float(values["download_ms"]) / 1000))
    for key, samples in runs.items():
        samples.sort()
        middle = samples[len(samples) // 2]  # the median run by total time
        results[key] = middle[:4] + (max(sample[1] for sample in samples), middle[4])
    results["native"] = native_patch_sizes(corpus, rows)
    for patched in (False, True):
        shutil.rmtree(os.path.join(state, "www", sides[patched][0]), ignore_errors=True)
    return results


def print_table(all_results):
    print()
    header = ("corpus", "full B fetched", "patch B fetched", "ratio", "tool s", "update s unpaced",
              "(download phase s)", "update s 10 MB/s", "(download phase s)", "peak WS MiB")
    print(" | ".join(header))
    for r in all_results:
        base_full = r[(False, False)][2]
        for patched in (False, True):
            unpaced, paced = r[(patched, False)], r[(patched, True)]
            full, patch = unpaced[2], unpaced[3]
            ratio = (full + patch) / base_full if base_full else 0.0
            print(" | ".join([
                "%s %s" % (r["label"], "with patches" if patched else "full archives"),
                "%d" % full, "%d" % patch, "%.3f" % ratio,
                "%.1f" % (r["tool_patch"] if patched else r["tool_full"]),
                "%.2f" % unpaced[0], "%.2f" % unpaced[5], "%.2f" % paced[0], "%.2f" % paced[5],
                "%.0f" % (max(unpaced[4], paced[4]) / 2**20)]))
    print("\npatches against plain zstd -19 --long=30 --patch-from (bytes):")
    for r in all_results:
        for name, patch_size, target, archive in r["patch_rows"]:
            native = r["native"].get(name, 0)
            print("  %s %s: ours %d, plain %d, archive %d, file %d" % (r["label"], name, patch_size, native, archive,
                                                                        target))
    print("load average at the end: " + " ".join(open("/proc/loadavg").read().split()[:3]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build", "x86_64"))
    parser.add_argument("--old-bin", default="/work/main/build/x86_64/bin",
                        help="bin folder of the older build for corpus 1")
    parser.add_argument("--cache", default="/var/cache/velisk-bench")
    parser.add_argument("--corpus", type=int, action="append", choices=(1, 2))
    parser.add_argument("--repeat", type=int, default=3, help="runs of each update; the median is shown")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    corpora = args.corpus or [1, 2]
    state = os.path.join(build, "test_server")
    fixture = os.path.join(REPO, "tools", "test_server", "fixture.sh")
    run(["bash", fixture, "start", state], stdout=subprocess.DEVNULL)
    results = []
    try:
        if 1 in corpora:
            corpus = os.path.join(args.cache, "own")
            own_binaries(corpus, args.old_bin, os.path.join(build, "bin"))
            print("corpus 1 ...", flush=True)
            results.append(bench_corpus("own binaries", corpus, build, state, args.repeat))
        if 2 in corpora:
            corpus = os.path.join(args.cache, "chromium")
            chromium(corpus, args.cache)
            print("corpus 2 ...", flush=True)
            results.append(bench_corpus("chromium 150->156", corpus, build, state, args.repeat))
    finally:
        run(["bash", fixture, "stop", state], stdout=subprocess.DEVNULL)
    print_table(results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
