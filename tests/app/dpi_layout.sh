#!/usr/bin/env bash
# Runs the window-scale test program in a Wine prefix and on an X display of
# its own: it changes the prefix's LogPixels and reads the screen, which
# would disturb the window tests that share the main prefix and display.
#   dpi_layout.sh REPO BUILD PROGRAM.exe
set -euo pipefail
REPO=$1 BUILD=$2 PROGRAM=$3
prefix=$BUILD/wineprefix-dpi
main=${VELISK_DISPLAY:-:77}
n=${main#:}
export VELISK_DISPLAY=:$(( ${n%%.*} + 100 ))
trap 'bash "$REPO/scripts/wine-stop.sh" "$prefix"' EXIT
bash "$REPO/scripts/wine-cjk-font.sh" "$prefix"
"$REPO/scripts/wine-run.sh" "--prefix=$prefix" "$PROGRAM"
