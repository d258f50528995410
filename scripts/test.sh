#!/usr/bin/env bash
# Runs every test: bootstraps the machine, builds both targets, runs the
# x86-64 tests under Wine with CTest and prints CTest's summary.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)
bash "$REPO/scripts/bootstrap.sh"
bash "$REPO/scripts/configure.sh" x86_64 i686
prefix="$REPO/build/x86_64/wineprefix"
trap 'bash "$REPO/scripts/wine-stop.sh" "$prefix"' EXIT
status=0
(cd "$REPO/build/x86_64" && ctest --output-on-failure -j"$(nproc)" "$@") || status=$?
echo "test.sh: finished in $(( $(date +%s) - start )) s"
exit $status
