#!/usr/bin/env bash
# Ends the wineserver of a prefix and the shared Xvfb server started by
# wine-run.sh.   wine-stop.sh PREFIX
set -uo pipefail
export WINEPREFIX=${1:?usage: wine-stop.sh PREFIX}
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w 2>/dev/null
display=${VELISK_DISPLAY:-:77}
n=${display#:}
pkill -f "Xvfb $display " 2>/dev/null
rm -f "/tmp/.X11-unix/X${n%%.*}" "/tmp/.X${n%%.*}-lock" 2>/dev/null
exit 0
