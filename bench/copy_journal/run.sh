#!/usr/bin/env bash
# Benchmark of the copy with backup into an installation, in one run:
#   CopyDirectory (under Wine): flushed journal, each backup flushed and moved
#                 into place, each copy flushed, the backup folder removed
#   native:       cp of the old files into a backup folder, fdatasync of each
#                 backup (sync -d), cp of the new files over the old, fdatasync
#                 of each of them, rm -rf
# over the same files (--small files of 256 KiB and --large files of 32 MiB).
# Every timing is the best of --repeat runs, each from a fresh copy of the old
# installation; the Wine timing is taken inside the program (Wine's start-up
# is not counted).
#
#   bench/copy_journal/run.sh [--small 200] [--large 4] [--repeat 3]
#                             [--work /tmp/velisk-bench-copyjournal] [--build build/x86_64]
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
SMALL=200
LARGE=4
REPEAT=3
WORK=/tmp/velisk-bench-copyjournal
BUILD=$REPO/build/x86_64
while (( $# )); do
    case $1 in
        --small) SMALL=$2; shift 2;;
        --large) LARGE=$2; shift 2;;
        --repeat) REPEAT=$2; shift 2;;
        --work) WORK=$2; shift 2;;
        --build) BUILD=$2; shift 2;;
        *) echo "unknown option $1" >&2; exit 2;;
    esac
done
BENCH_EXE=$BUILD/bin/copy_journal_bench.exe
[[ -f $BENCH_EXE ]] || { echo "build $BENCH_EXE first (cmake --build $BUILD --target copy_journal_bench)" >&2; exit 2; }
WINE_RUN=("$REPO/scripts/wine-run.sh" "--prefix=$BUILD/wineprefix")
winpath() { echo "Z:${1//\//\\}"; }
now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

rm -rf "$WORK"
mkdir -p "$WORK/old" "$WORK/download"
trap 'rm -rf "$WORK"' EXIT
COUNT=$((SMALL + LARGE))
for ((i = 0; i < COUNT; i++)); do
    size=$(( i < SMALL ? 256 : 32768 ))
    head -c "${size}K" /dev/urandom >"$WORK/old/f$i.bin"
    head -c "${size}K" /dev/urandom >"$WORK/download/f$i.bin"
done
BYTES=$(du -sb "$WORK/download" | cut -f1)

wine_times=()
native_times=()
for ((r = 0; r < REPEAT; r++)); do
    rm -rf "$WORK/install" && cp -a "$WORK/old" "$WORK/install" && sync
    line=$("${WINE_RUN[@]}" "$BENCH_EXE" "$(winpath "$WORK/download")" "$(winpath "$WORK/install")" "$COUNT" \
               2>"$WORK/wine.err") || true
    [[ $line == *ok=1* ]] || { echo "CopyDirectory failed: $line" >&2; cat "$WORK/wine.err" >&2; exit 1; }
    wine_times+=("$(sed -E 's/.*seconds=([0-9.]+).*/\1/' <<<"$line")")
    cmp -s "$WORK/install/f0.bin" "$WORK/download/f0.bin" || { echo "copy did not arrive" >&2; exit 1; }

    rm -rf "$WORK/install" && cp -a "$WORK/old" "$WORK/install" && sync
    start=$(now)
    mkdir "$WORK/install/backup"
    cp "$WORK"/install/f*.bin "$WORK/install/backup/"
    sync -d "$WORK"/install/backup/f*.bin
    cp "$WORK"/download/f*.bin "$WORK/install/"
    sync -d "$WORK"/install/f*.bin
    rm -rf "$WORK/install/backup"
    native_times+=("$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.6f", b - a }')")
done

w=$(best "${wine_times[@]}")
n=$(best "${native_times[@]}")
printf '%-44s %10s %10s\n' "copy with backup ($COUNT files, $((BYTES >> 20)) MiB)" seconds "MiB/s"
printf '%-44s %10.3f %10.1f\n' "CopyDirectory (Wine, journal, flushed backups)" "$w" "$(awk -v b="$BYTES" -v t="$w" 'BEGIN { print b / 1048576 / t }')"
printf '%-44s %10.3f %10.1f\n' "cp + sync -d + cp + sync -d + rm (native)" "$n" "$(awk -v b="$BYTES" -v t="$n" 'BEGIN { print b / 1048576 / t }')"
