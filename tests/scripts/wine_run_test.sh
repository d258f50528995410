#!/usr/bin/env bash
# The Wine wrapper runs its program even when no X server comes up for its
# display, and says why windows cannot be shown: it must never end without
# running the program and without a word (a demo once waited in vain for a
# stand-in that the wrapper had silently not started). And it starts a server
# on a display whose socket and lock file a killed server left behind (every
# window test of a run once failed against such a socket).
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
other=$((n + 200))
[[ -e /tmp/.X11-unix/X$other || -e /tmp/.X$other-lock ]] && { echo "display :$other is in use; skipped"; exit 0; }
trap 'rm -f "/tmp/.X$n-lock" "$errors"; end_server_of_other' EXIT
end_server_of_other() {
    local pid
    pid=$({ tr -dc '0-9' <"/tmp/.X$other-lock"; } 2>/dev/null)
    if [[ -n $pid ]] && grep -qa "^Xvfb" "/proc/$pid/cmdline" 2>/dev/null; then
        kill "$pid"
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    fi
    rm -f "/tmp/.X11-unix/X$other" "/tmp/.X$other-lock"   # the display was free before
}

out=$(VELISK_DISPLAY=:$n VELISK_XVFB_WAIT_SECONDS=2 bash "$WINE_RUN" "--prefix=$PREFIX" cmd /c echo program ran 2>"$errors")
status=$?
said=$(cat "$errors")
echo "exit status: $status"; echo "stdout: $out"; echo "stderr: $said"
[[ $status -eq 0 ]] || fail "the wrapper ended with status $status"
[[ $out == *"program ran"* ]] || fail "the program did not run"
[[ $said == *"X server for :$n did not start within 2 s"* ]] || fail "the wrapper did not say why"

# A free display, and one whose killed server left a socket nobody listens on
# and a lock file naming a process that has ended: each gets a new server.
for setup in free stale; do
    dead=
    if [[ $setup == stale ]]; then
        python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "/tmp/.X11-unix/X$other"
        ( : ) & dead=$!; wait $dead
        printf '%10d\n' "$dead" >"/tmp/.X$other-lock"
    fi
    out=$(VELISK_DISPLAY=:$other VELISK_XVFB_WAIT_SECONDS=20 bash "$WINE_RUN" "--prefix=$PREFIX" cmd /c echo program ran 2>"$errors")
    status=$?
    server=$({ tr -dc '0-9' <"/tmp/.X$other-lock"; } 2>/dev/null)
    echo "$setup display: exit status $status, stdout: $out, stderr: $(cat "$errors"), server: ${server:-none}"
    [[ $status -eq 0 && $out == *"program ran"* ]] || fail "the program did not run on the $setup display"
    [[ -n $server && $server != "$dead" ]] && tr '\0' ' ' <"/proc/$server/cmdline" | grep -q "^Xvfb :$other " \
        || fail "no new X server took the $setup display"
    grep -q "^:$other $server\$" "$PREFIX.xvfb" || fail "the new server is not noted for wine-stop.sh"
    end_server_of_other
done
echo PASS
