#!/usr/bin/env python3
"""Download benchmark: HttpDownload (under Wine) against curl, same file, same server.

    python3 bench/download/run_bench.py [--build build/x86_64] [--size-mib 256] [--runs 3]

Starts the build tree's test server (tools/test_server/fixture.sh; it binds
localhost ports 80 and 443, so no network test may run at the same time),
makes a file of random bytes in its folder once, then downloads it over HTTP
and HTTPS with curl and with bin/download_bench.exe, each --runs times, and
prints the best run of each as a table:

    wall s        time of the transfer alone (download_bench measures inside
                  its process, so the ~0.2 s of starting a Wine process is out)
    MB/s          file size / wall time
    CPU s         user + system time of the client process; for HttpDownload
                  the Windows process plus the CPU the wineserver spent meanwhile
    ratio         against curl over the same scheme

Two more rows tell where the time goes: HttpDownload with its log lines
off, and a bare synchronous WinHTTP loop with 2 MiB reads under the same
Wine (download_bench --plain-winhttp).

The server's own CPU is the same for both clients and not counted.
Every downloaded file is compared in size with the source.
"""

import argparse
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))


def wineserver_cpu(prefix):
    """CPU seconds used so far by the wineserver of `prefix` (0 when none runs)."""
    total = 0.0
    tick = os.sysconf("SC_CLK_TCK")
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().strip().startswith("wineserver"):
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / tick
        except OSError:
            continue
    return total


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_curl(url, out, secure):
    cmd = ["curl", "-s", "-f", "-o", out, url]
    cpu0, t0 = children_cpu(), time.perf_counter()
    subprocess.run(cmd, check=True)
    wall = time.perf_counter() - t0
    return wall, children_cpu() - cpu0


def run_httpdownload(build, url, save_dir, secure, mode):
    prefix = os.path.join(build, "wineprefix")
    exe = os.path.join(build, "bin", "download_bench.exe")
    cmd = ["bash", os.path.join(REPO, "scripts", "wine-run.sh"), f"--prefix={prefix}", exe, url,
           "Z:" + save_dir.replace("/", "\\")]
    if secure:
        cmd.append("--secure")
    cmd += {"HttpDownload": [], "HttpDownload (no log)": ["--no-log"],
            "plain sync WinHTTP": ["--plain-winhttp"]}[mode]
    server0, cpu0 = wineserver_cpu(prefix), children_cpu()
    out = subprocess.run(cmd, check=False, capture_output=True, text=True).stdout
    server_cpu = wineserver_cpu(prefix) - server0
    values = dict(item.split("=") for item in out.split())
    if values.get("ok") != "1":
        raise RuntimeError(f"download_bench failed: {out}")
    # The process's own CPU as Windows counts it, plus the wineserver's.
    own = (float(values["user_ms"]) + float(values["kernel_ms"])) / 1000.0
    outer = children_cpu() - cpu0  # the whole Wine process tree, start-up included
    return float(values["wall_ms"]) / 1000.0, own + server_cpu, outer + server_cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build", "x86_64"))
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    state = os.path.join(build, "test_server")
    work = os.path.join(build, "bench_download")
    os.makedirs(work, exist_ok=True)

    subprocess.run(["bash", os.path.join(REPO, "tools", "test_server", "fixture.sh"), "start", state],
                   check=True, stdout=subprocess.DEVNULL)
    try:
        name = f"bench_{args.size_mib}mib.bin"
        source = os.path.join(state, "www", "bench", name)
        size = args.size_mib << 20
        if not os.path.exists(source) or os.path.getsize(source) != size:
            os.makedirs(os.path.dirname(source), exist_ok=True)
            with open(source, "wb") as f:
                for _ in range(args.size_mib):
                    f.write(os.urandom(1 << 20))
        rows = []
        for scheme in ("http", "https"):
            secure = scheme == "https"
            url = f"{scheme}://localhost/bench/{name}"
            results = {}
            for client in ("curl", "HttpDownload", "HttpDownload (no log)", "plain sync WinHTTP"):
                best = None
                for _ in range(args.runs):
                    target = os.path.join(work, name)
                    if os.path.exists(target):
                        os.remove(target)
                    if client == "curl":
                        wall, cpu = run_curl(url, target, secure)
                        outer = cpu
                    else:
                        wall, cpu, outer = run_httpdownload(build, url, work, secure, client)
                    if os.path.getsize(target) != size:
                        raise RuntimeError(f"{client} {scheme}: wrong size {os.path.getsize(target)}")
                    if best is None or wall < best[0]:
                        best = (wall, cpu, outer)
                results[client] = best
            base = results["curl"]
            for client, (wall, cpu, outer) in results.items():
                rows.append((scheme, client, wall, size / wall / 1e6, cpu, outer, wall / base[0], cpu / base[1]))
        print(f"\nDownload of {args.size_mib} MiB from localhost, best of {args.runs} runs\n")
        print(f"{'scheme':<7}{'client':<23}{'wall s':>8}{'MB/s':>8}{'CPU s':>8}{'CPU s*':>8}"
              f"{'wall/curl':>11}{'CPU/curl':>10}")
        for scheme, client, wall, rate, cpu, outer, rwall, rcpu in rows:
            print(f"{scheme:<7}{client:<23}{wall:>8.2f}{rate:>8.0f}{cpu:>8.2f}{outer:>8.2f}"
                  f"{rwall:>11.2f}{rcpu:>10.2f}")
        print("\nCPU s: client process (+ wineserver for HttpDownload);"
              " CPU s*: the same with the Wine process start-up included.")
    finally:
        subprocess.run(["bash", os.path.join(REPO, "tools", "test_server", "fixture.sh"), "stop", state],
                       check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
