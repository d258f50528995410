#!/usr/bin/env bash
# Runs one Windows program under 64-bit Wine; CTest's cross-compiling emulator.
#
#   wine-run.sh program.exe [args...]
#
# Environment:
#   VELISK_WINEPREFIX  Wine prefix to use (default: <this build tree>/wineprefix,
#                      given by CMake through the emulator's first argument form
#                      "--prefix=DIR").
#   VELISK_DISPLAY     X display of the shared Xvfb server (default :77).
#   VELISK_XVFB_WAIT_SECONDS  how long to wait for a new Xvfb (default 30).
#
# Under a lock it creates the prefix once, starts one persistent wineserver and
# one Xvfb server with every inherited descriptor closed (otherwise CTest would
# wait for Wine's background services, which inherit its output pipe), warms the
# server once, and then execs wine64 with the program. scripts/wine-stop.sh ends
# both servers.
set -euo pipefail

WINE_BIN=/usr/lib/wine
if [[ ${1:-} == --prefix=* ]]; then
    PREFIX=${1#--prefix=}
    shift
else
    PREFIX=${VELISK_WINEPREFIX:-$PWD/wineprefix}
fi
export WINEPREFIX=$PREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
export DISPLAY=${VELISK_DISPLAY:-:77}
source "$(dirname "$0")/lib/background.sh"

detached() {   # runs "$@" with no inherited descriptors and waits for it
    ( close_inherited_fds; exec "$@" </dev/null >/dev/null 2>&1 )
}

# True while an X server serves display N: its socket exists and its lock file
# names a running process whose command line holds ":N". A server that was
# killed (a session ended with kill -9) leaves both files behind; taking its
# socket for a server made every window test of the next run fail.
x_server_runs() {
    local n=$1 pid
    [[ -S /tmp/.X11-unix/X$n ]] || return 1
    pid=$({ tr -dc '0-9' <"/tmp/.X$n-lock"; } 2>/dev/null || true)
    [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 1
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -q -- ":$n\( \|$\)"
}

# Removes the socket and lock file of display N when the lock names no running
# process, so that a new Xvfb can take the display.
remove_stale_display() {
    local n=$1 pid
    pid=$({ tr -dc '0-9' <"/tmp/.X$n-lock"; } 2>/dev/null || true)
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then return 0; fi
    rm -f "/tmp/.X11-unix/X$n" "/tmp/.X$n-lock"
}

# Starts the Xvfb server of DISPLAY unless one runs, and then adds the
# display and the server's process id to PREFIX.xvfb: wine-stop.sh ends only
# the Xvfb servers that its prefix started, never another tree's server.
# It waits up to 30 s for the server. When none comes, it says so and
# goes on: programs without windows still run, and a window test then fails
# beside this message. (It once gave up after 5 s, and the failed test of the
# socket, as the last command under "set -e", ended this wrapper at once
# without running the program or saying a word.)
ensure_xvfb() {
    local n=${DISPLAY#:}
    n=${n%%.*}
    x_server_runs "$n" && return 0
    remove_stale_display "$n"
    ( close_inherited_fds; exec setsid Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp \
        </dev/null >/dev/null 2>&1 ) &
    local wait=${VELISK_XVFB_WAIT_SECONDS:-30}
    for _ in $(seq $((wait * 20))); do x_server_runs "$n" && break; sleep 0.05; done
    if ! x_server_runs "$n"; then
        echo "wine-run.sh: the X server for $DISPLAY did not start within $wait s; windows cannot be shown" >&2
        return 0
    fi
    # The server's process id, from its lock file, goes with the display.
    echo "$DISPLAY $( { tr -dc '0-9' <"/tmp/.X$n-lock"; } 2>/dev/null)" >>"$PREFIX.xvfb"
}

ensure_wine() {
    mkdir -p "$(dirname "$PREFIX")"
    if [[ ! -f $PREFIX/system.reg ]]; then
        WINEDLLOVERRIDES="mscoree=;mshtml=" detached "$WINE_BIN/wine64" wineboot -i || true
        "$WINE_BIN/wineserver" -w || true
    fi
    # Exit status 0: a new persistent server was started; 2: one already runs.
    if detached "$WINE_BIN/wineserver" -p; then
        detached "$WINE_BIN/wine64" cmd /c exit || true
    fi
}

{
    flock 9
    ensure_xvfb
    ensure_wine
} 9>"$PREFIX.lock"

# CTest reads a test's output from a pipe until every process that holds the
# pipe has closed it, and Wine hands a program's standard output and error to
# every process the program starts. A process that a finished test left
# behind (a client stand-in lives up to two minutes) would then keep CTest
# waiting until the test's time-out. When the output is a pipe, the program
# writes into files instead, which are copied to the pipe once it has ended;
# the test's result is its own exit status, whatever it started.
# What the program wrote is copied out also when the wrapper itself is ended
# (CTest's time-out), so a test that timed out still shows its output.
if [[ -p /dev/stdout || -p /dev/stderr ]]; then
    captured=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX")
    copy_out() { cat "$captured/out"; cat "$captured/err" >&2; rm -rf "$captured"; }
    trap copy_out EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
    status=0
    "$WINE_BIN/wine64" "$@" >"$captured/out" 2>"$captured/err" || status=$?
    exit $status
fi
exec "$WINE_BIN/wine64" "$@"
