#!/usr/bin/env bash
# The Wine wrapper runs its program even when no X server comes up for its
# display, and says why windows cannot be shown: it must never end without
# running the program and without a word (a demo once waited in vain for a
# stand-in that the wrapper had silently not started).
#   wine_run_test.sh WINE_RUN PREFIX
set -uo pipefail
WINE_RUN=${1:?usage: wine_run_test.sh WINE_RUN PREFIX}
PREFIX=${2:?usage: wine_run_test.sh WINE_RUN PREFIX}
fail() { echo "FAIL: $*"; exit 1; }

# A display whose lock file names a running process (this shell): Xvfb
# refuses to start there, as it does while another server still holds it.
n=$((300 + $$ % 200))
[[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && { echo "display :$n is in use; skipped"; exit 0; }
printf '%10d\n' $$ >"/tmp/.X$n-lock"
errors=$(mktemp "${TMPDIR:-/tmp}/wine_run_test.XXXXXX")
trap 'rm -f "/tmp/.X$n-lock" "$errors"' EXIT

out=$(VELISK_DISPLAY=:$n VELISK_XVFB_WAIT_SECONDS=2 bash "$WINE_RUN" "--prefix=$PREFIX" cmd /c echo program ran 2>"$errors")
status=$?
said=$(cat "$errors")
echo "exit status: $status"; echo "stdout: $out"; echo "stderr: $said"
[[ $status -eq 0 ]] || fail "the wrapper ended with status $status"
[[ $out == *"program ran"* ]] || fail "the program did not run"
[[ $said == *"X server for :$n did not start within 2 s"* ]] || fail "the wrapper did not say why"
echo PASS
