#!/usr/bin/env bash
# Benchmark of the engine's file readers against the native tools, in one run:
#   CalFileSHA1 (under Wine)           vs sha1sum
#   CNG SHA-1 from memory (Wine)       vs sha1sum   (CalFileSHA1's hasher without reading)
#   Boost SHA-1 from memory (Wine)     vs sha1sum   (the fallback hasher)
#   openssl speed -evp sha1            (the CPU's SHA instructions: the machine's limit)
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
for tool in sha1sum unzip python3 openssl; do
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

# Each measurement prints "<wall> <cpu>" in seconds: the smallest of each
# over REPEAT runs (CPU time is the steadier figure on a shared machine).
keep_best() {   # keep_best <wall> <cpu>: folds one run into BEST_WALL/BEST_CPU
    if [[ -z $BEST_WALL ]] || less "$1" "$BEST_WALL"; then BEST_WALL=$1; fi
    if [[ -z $BEST_CPU ]] || less "$2" "$BEST_CPU"; then BEST_CPU=$2; fi
}
best_native() {   # best_native <command...>
    local times
    BEST_WALL="" BEST_CPU=""
    for _ in $(seq "$REPEAT"); do
        /usr/bin/time -f "%e %U %S" -o "$WORK/time.txt" "$@" >/dev/null
        read -r -a times <"$WORK/time.txt"
        keep_best "${times[0]}" "$(calc "${times[1]} + ${times[2]}")"
    done
    echo "$BEST_WALL $BEST_CPU"
}
best_wine() {   # best_wine <mode> <list> [dest]: timings taken inside the program
    local line wall cpu
    BEST_WALL="" BEST_CPU=""
    for _ in $(seq "$REPEAT"); do
        [[ ${3:-} ]] && { rm -rf "$3"; mkdir -p "$3"; }
        line=$("${WINE_RUN[@]}" "$BENCH_EXE" "$1" "$(winpath "$2")" ${3:+"$(winpath "$3")"} 2>/dev/null | tr -d '\r')
        [[ $line == *failures=0* ]] || { echo "sha1_zip_bench $1 failed: $line" >&2; exit 1; }
        wall=${line#seconds=}; wall=${wall%% *}
        cpu=${line#*cpu=}; cpu=${cpu%% *}
        keep_best "$wall" "$cpu"
    done
    echo "$BEST_WALL $BEST_CPU"
}
native_unzip() {
    rm -rf "$WORK/out.native"; mkdir -p "$WORK/out.native"
    xargs -a "$WORK/archives.txt" -d '\n' -I{} unzip -q -o {} -d "$WORK/out.native"
}
export -f native_unzip
export WORK

read -r W_SHA1SUM C_SHA1SUM < <(best_native xargs -a "$WORK/files.txt" -d '\n' sha1sum)
read -r W_CALSHA1 C_CALSHA1 < <(best_wine hash "$WORK/files.win.txt")
read -r W_MEMHASH C_MEMHASH < <(best_wine memhash "$WORK/files.win.txt")
read -r W_CNGMEM C_CNGMEM < <(best_wine cngmem "$WORK/files.win.txt")
# openssl's own rate over 4 MiB blocks (bytes per second), best of REPEAT runs.
OPENSSL_RATE=0
for _ in $(seq "$REPEAT"); do
    rate=$(openssl speed -mr -seconds 2 -bytes 4194304 -evp sha1 2>/dev/null | awk -F: '/^\+F:/ {print $4}')
    if less "$OPENSSL_RATE" "$rate"; then OPENSSL_RATE=$rate; fi
done
W_OPENSSL=$(calc "$DATA_BYTES / $OPENSSL_RATE")
read -r W_UNZIP C_UNZIP < <(best_native bash -c native_unzip)
read -r W_EXTRACT C_EXTRACT < <(best_wine unzip "$WORK/archives.win.txt" "$WORK/out.wine")
# Both extractions must have produced the same files.
if ! diff -rq "$WORK/out.native" "$WORK/out.wine" >/dev/null; then
    echo "ExtractZip and unzip produced different files" >&2; exit 1
fi

mibs() { awk -v b="$DATA_BYTES" -v t="$1" 'BEGIN { printf "%.1f", b / 1048576 / t }'; }
row() {   # row <label> <wall> <cpu> <native label> <native wall> <native cpu>
    printf "| %-28s | %8.2f s | %8.2f s | %8s | %-7s | %8.2f s | %8.2f s | %6.2f | %6.2f |\n" \
        "$1" "$2" "$3" "$(mibs "$3")" "$4" "$5" "$6" "$(calc "$2 / $5")" "$(calc "$3 / $6")"
}
echo
echo "SHA-1 and zip benchmark: $NFILES files, $DATA_BYTES bytes of data, $ZIP_BYTES bytes of archives"
echo "best of $REPEAT runs, warm page cache; ours = x86_64 build under Wine, native = Linux tools;"
echo "MiB/s = data bytes per CPU second; ratios = ours / native (above 1: ours is slower)"
echo
printf "| %-28s | %10s | %10s | %8s | %-7s | %10s | %10s | %6s | %6s |\n" \
    "ours" "wall" "cpu" "MiB/s" "native" "wall" "cpu" "wall x" "cpu x"
echo "|------------------------------|------------|------------|----------|---------|------------|------------|--------|--------|"
row "CalFileSHA1, every file" "$W_CALSHA1" "$C_CALSHA1" sha1sum "$W_SHA1SUM" "$C_SHA1SUM"
row "CNG SHA-1, from memory" "$W_CNGMEM" "$C_CNGMEM" sha1sum "$W_SHA1SUM" "$C_SHA1SUM"
row "Boost SHA-1, from memory" "$W_MEMHASH" "$C_MEMHASH" sha1sum "$W_SHA1SUM" "$C_SHA1SUM"
row "openssl speed -evp sha1" "$W_OPENSSL" "$W_OPENSSL" sha1sum "$W_SHA1SUM" "$C_SHA1SUM"
row "ExtractZip, every archive" "$W_EXTRACT" "$C_EXTRACT" unzip "$W_UNZIP" "$C_UNZIP"
echo
echo "openssl speed: its rate over 4 MiB blocks applied to the data (one core, no reading; wall = cpu)"
echo "CalFileSHA1 speed / CNG from memory: wall $(calc "$W_CNGMEM / $W_CALSHA1"), cpu $(calc "$C_CNGMEM / $C_CALSHA1")"
echo "reading share of CalFileSHA1 (1 - memory / file, CPU): $(calc "100 * ($C_CALSHA1 - $C_CNGMEM) / $C_CALSHA1")%"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
