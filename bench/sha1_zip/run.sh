#!/usr/bin/env bash
# Benchmark of the engine's file readers against the native tools, in one run:
#   CalFileSHA1 (under Wine)           vs sha1sum
#   Boost SHA-1 from memory (Wine)     vs sha1sum   (hashing without reading)
#   ExtractZip (under Wine)            vs unzip     (the same archives)
# The data (files of mixed sizes, archives made by tools/make_release) lives
# under --work, never in the repository. Every timing is the best of --repeat
# runs over a warm page cache; the Wine timings are taken inside the program,
# so Wine's start-up is not counted. unzip runs once per archive.
#
#   bench/sha1_zip/run.sh [--size 1G] [--work /tmp/velisk-bench-sha1zip]
#                         [--build build/x86_64] [--repeat 2] [--keep]
# Needs VELISK_DISPLAY like the tests, sha1sum, unzip and python3.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
SIZE=1G
WORK=/tmp/velisk-bench-sha1zip
BUILD=$REPO/build/x86_64
REPEAT=2
KEEP=0
while (( $# )); do
    case $1 in
        --size) SIZE=$2; shift 2;;
        --work) WORK=$2; shift 2;;
        --build) BUILD=$2; shift 2;;
        --repeat) REPEAT=$2; shift 2;;
        --keep) KEEP=1; shift;;
        *) echo "unknown option $1" >&2; exit 2;;
    esac
done
for tool in sha1sum unzip python3; do
    command -v $tool >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
BENCH_EXE=$BUILD/bin/sha1_zip_bench.exe
[[ -f $BENCH_EXE ]] || { echo "build $BENCH_EXE first (cmake --build $BUILD --target sha1_zip_bench)" >&2; exit 2; }
BYTES=$(numfmt --from=iec "$SIZE")
WINE_RUN=("$REPO/scripts/wine-run.sh" "--prefix=$BUILD/wineprefix")

winpath() { echo "Z:${1//\//\\}"; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

rm -rf "$WORK"
mkdir -p "$WORK"
[[ $KEEP == 1 ]] || trap 'rm -rf "$WORK"' EXIT
echo "data: $(python3 "$REPO/bench/sha1_zip/gen_data.py" "$WORK/data" "$BYTES")"
python3 "$REPO/tools/make_release" "$WORK/data" 1 http://bench.invalid/ "$WORK/server" >/dev/null
find "$WORK/data" -type f | sort >"$WORK/files.txt"
find "$WORK/server/1" -name '*.zip' ! -name ProgramConfig.zdb.zip | sort >"$WORK/archives.txt"
while read -r f; do winpath "$f"; done <"$WORK/files.txt" >"$WORK/files.win.txt"
while read -r f; do winpath "$f"; done <"$WORK/archives.txt" >"$WORK/archives.win.txt"
DATA_BYTES=$(xargs -a "$WORK/files.txt" -d '\n' stat -c %s | awk '{s+=$1} END {print s}')
ZIP_BYTES=$(xargs -a "$WORK/archives.txt" -d '\n' stat -c %s | awk '{s+=$1} END {print s}')
NFILES=$(wc -l <"$WORK/files.txt")
xargs -a "$WORK/files.txt" -d '\n' cat >/dev/null          # warm the page cache
xargs -a "$WORK/archives.txt" -d '\n' cat >/dev/null

best=()
best_of() {   # best_of <command...>: prints the smallest wall time of REPEAT runs
    local b="" t0 t1 t
    for _ in $(seq "$REPEAT"); do
        t0=$(now); "$@" >/dev/null; t1=$(now)
        t=$(calc "$t1 - $t0")
        if [[ -z $b ]] || less "$t" "$b"; then b=$t; fi
    done
    echo "$b"
}
best_of_wine() {   # best_of_wine <mode> <list> [dest]: smallest in-program time
    local b="" line t
    for _ in $(seq "$REPEAT"); do
        [[ ${3:-} ]] && { rm -rf "$WORK/out.wine"; mkdir -p "$WORK/out.wine"; }
        line=$("${WINE_RUN[@]}" "$BENCH_EXE" "$1" "$(winpath "$2")" ${3:+"$(winpath "$3")"} 2>/dev/null | tr -d '\r')
        [[ $line == *failures=0* ]] || { echo "sha1_zip_bench $1 failed: $line" >&2; exit 1; }
        t=${line#seconds=}; t=${t%% *}
        if [[ -z $b ]] || less "$t" "$b"; then b=$t; fi
    done
    echo "$b"
}
native_unzip() {
    rm -rf "$WORK/out.native"; mkdir -p "$WORK/out.native"
    xargs -a "$WORK/archives.txt" -d '\n' -I{} unzip -q -o {} -d "$WORK/out.native"
}

T_SHA1SUM=$(best_of xargs -a "$WORK/files.txt" -d '\n' sha1sum)
T_CALSHA1=$(best_of_wine hash "$WORK/files.win.txt")
T_MEMHASH=$(best_of_wine memhash "$WORK/files.win.txt")
T_UNZIP=$(best_of native_unzip)
T_EXTRACT=$(best_of_wine unzip "$WORK/archives.win.txt" "$WORK/out.wine")
# Both extractions must have produced the same files.
if ! diff -rq "$WORK/out.native" "$WORK/out.wine" >/dev/null; then
    echo "ExtractZip and unzip produced different files" >&2; exit 1
fi

mibs() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.1f", b / 1048576 / t }'; }
row() {   # row <label> <ours> <native> <bytes> <native label>
    printf "| %-34s | %8.3f s | %7s MiB/s | %-8s %8.3f s | %6.2f |\n" \
        "$1" "$2" "$(mibs "$4" "$2")" "$5" "$3" "$(calc "$2 / $3")"
}
echo
echo "SHA-1 and zip benchmark: $NFILES files, $DATA_BYTES bytes of data, $ZIP_BYTES bytes of archives"
echo "(best of $REPEAT runs, warm cache; x86_64 build under Wine vs native Linux tools; ratio = ours / native)"
echo
printf "| %-34s | %10s | %13s | %-19s | %6s |\n" "ours" "time" "throughput" "native" "ratio"
printf "|%s|%s|%s|%s|%s|\n" "------------------------------------" "------------" "---------------" \
    "---------------------" "--------"
row "CalFileSHA1 over every file" "$T_CALSHA1" "$T_SHA1SUM" "$DATA_BYTES" "sha1sum"
row "Boost SHA-1 from memory" "$T_MEMHASH" "$T_SHA1SUM" "$DATA_BYTES" "sha1sum"
row "ExtractZip of every archive" "$T_EXTRACT" "$T_UNZIP" "$DATA_BYTES" "unzip"
echo
echo "reading share of CalFileSHA1 (1 - memory / file): $(calc "100 * ($T_CALSHA1 - $T_MEMHASH) / $T_CALSHA1")%"
