#!/usr/bin/env bash
# A program run through the Wine wrapper with its output on a pipe (as CTest
# runs every test) may leave a process behind: the reader of the pipe must
# still see its end as soon as the program itself has ended. Wine hands the
# program's output to every process it starts, so without the wrapper's care
# a stand-in left running held CTest's pipe for its two-minute life and a
# passed test ended as a time-out.
#   wine_run_pipe_test.sh WINE_RUN PREFIX BIN_DIR
set -uo pipefail
WINE_RUN=${1:?usage: wine_run_pipe_test.sh WINE_RUN PREFIX BIN_DIR}
PREFIX=${2:?usage: wine_run_pipe_test.sh WINE_RUN PREFIX BIN_DIR}
BIN=${3:?usage: wine_run_pipe_test.sh WINE_RUN PREFIX BIN_DIR}
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wine_run_pipe.XXXXXX")
left="left_behind_$$.exe"
cleanup() { pkill -f "$left" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
cp "$BIN/client_standin.exe" "$work/starter.exe" && cp "$BIN/client_standin.exe" "$work/$left" || fail "no stand-in"
winpath() { echo "Z:${1//\//\\}"; }

# The starter records its start, starts the other stand-in (which runs on
# without a window) and ends at once.
start=$(date +%s.%N)
out=$(bash "$WINE_RUN" "--prefix=$PREFIX" "$(winpath "$work/starter.exe")" --no-window --exit \
          --spawn "$(winpath "$work/$left")" | cat)
seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
echo "the pipe ended after $seconds s"
[[ -s $work/starter.exe.record ]] || fail "the starter did not run"
awk -v s="$seconds" 'BEGIN { exit !(s < 30) }' || fail "the pipe stayed open for $seconds s"
for _ in $(seq 100); do [[ -s $work/$left.record ]] && break; sleep 0.1; done
[[ -s $work/$left.record ]] || fail "the stand-in left behind did not start"
pgrep -f "$left" >/dev/null || fail "the stand-in left behind is not running"
echo PASS
