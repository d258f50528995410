#!/usr/bin/env bash
# Starts and stops the loopback proxies (Debian's tinyproxy) of one build tree.
#
#   fixture.sh start STATE_DIR
#   fixture.sh stop STATE_DIR
#
# start: stops proxies left behind by an earlier run, then starts two
# tinyproxy daemons on 127.0.0.1, each with its own configuration, pid file
# and log file under STATE_DIR, and waits until both accept connections:
#   open   port 3128: forwards every request (HTTP, and HTTPS through CONNECT)
#   basic  port 3129: answers 407 and asks for Basic authentication
# Both add a Via header to what they forward, which the test server logs.
# The logs (STATE_DIR/open.log, basic.log) are emptied at every start.
# stop: ends both (only processes that still run tinyproxy).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?usage: fixture.sh start|stop STATE_DIR}
STATE=${2:?usage: fixture.sh start|stop STATE_DIR}
source "$HERE/../../scripts/lib/background.sh"
PROXIES=("open 3128" "basic 3129")

stop_one() {
    local name=$1 pid
    [[ -f $STATE/$name.pid ]] || return 0
    pid=$(cat "$STATE/$name.pid")
    rm -f "$STATE/$name.pid"
    if [[ $pid =~ ^[0-9]+$ ]] && grep -qs tinyproxy "/proc/$pid/cmdline"; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
    fi
}

start_one() {
    local name=$1 port=$2
    {
        echo "Port $port"
        echo "Listen 127.0.0.1"
        echo "Timeout 60"
        echo "MaxClients 32"
        echo "Allow 127.0.0.1"
        echo "LogFile \"$STATE/$name.log\""
        echo "LogLevel Connect"
        echo "PidFile \"$STATE/$name.pid\""
        [[ $name == basic ]] && echo "BasicAuth velisk not-a-secret"
    } >"$STATE/$name.conf"
    : >"$STATE/$name.log"
    # tinyproxy puts itself in the background and writes its pid file.
    ( close_inherited_fds
      exec setsid tinyproxy -c "$STATE/$name.conf" </dev/null >"$STATE/$name.out" 2>&1 )
    for _ in $(seq 200); do
        if [[ -s $STATE/$name.pid ]] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "proxy $name on 127.0.0.1:$port"
            return 0
        fi
        sleep 0.05
    done
    echo "fixture: tinyproxy $name did not start:" >&2
    cat "$STATE/$name.out" "$STATE/$name.log" >&2
    return 1
}

case $cmd in
start)
    command -v tinyproxy >/dev/null || { echo "fixture: tinyproxy is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
    mkdir -p "$STATE"
    STATE=$(cd "$STATE" && pwd)
    for p in "${PROXIES[@]}"; do stop_one ${p%% *}; done
    for p in "${PROXIES[@]}"; do start_one $p; done
    ;;
stop)
    [[ -d $STATE ]] || exit 0
    for p in "${PROXIES[@]}"; do stop_one ${p%% *}; done
    ;;
*)
    echo "usage: fixture.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
