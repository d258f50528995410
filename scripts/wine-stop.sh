#!/usr/bin/env bash
# Ends the wineserver of a prefix and the Xvfb servers that wine-run.sh started
# for it (one "display pid" line each in PREFIX.xvfb).   wine-stop.sh PREFIX
# An Xvfb is ended only while the display's lock file still names it and it
# still runs "Xvfb <display>": another tree's server on the display is left alone.
set -uo pipefail
export WINEPREFIX=${1:?usage: wine-stop.sh PREFIX}
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w 2>/dev/null
record="$WINEPREFIX.xvfb"
[[ -f $record ]] || exit 0
lines=$(cat "$record")
rm -f "$record"

# Ends the Xvfb of display N when its lock file still names STARTED.
end_xvfb() {
    local n=${1#:} started=${2:-} pid
    n=${n%%.*}
    [[ $n =~ ^[0-9]+$ ]] || return 0
    lock_pid() { { tr -dc '0-9' <"/tmp/.X$n-lock"; } 2>/dev/null; }
    pid=$(lock_pid)
    [[ -n $pid && $pid == "$started" ]] || return 0
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -q "^Xvfb :$n " || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    # Xvfb removes its socket and lock file as it ends; remove what a server
    # killed too hard left behind.
    if ! kill -0 "$pid" 2>/dev/null && [[ $(lock_pid) == "$pid" ]]; then
        rm -f "/tmp/.X11-unix/X$n" "/tmp/.X$n-lock"
    fi
}

while read -r display started; do
    [[ -n ${display:-} ]] && end_xvfb "$display" "${started:-}"
done <<<"$lines"
exit 0
