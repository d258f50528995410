#!/usr/bin/env bash
# Starts and stops the local statistics service of one build tree.
#
#   fixture.sh start STATE_DIR
#   fixture.sh stop STATE_DIR
#
# start: stops a service left behind by an earlier run, then starts
# stat_server.py detached from the caller (no inherited descriptors, so CTest
# does not wait for it) on a free loopback port, and waits until it listens.
# STATE_DIR/server.ready then holds the control port (see stat_server.py for
# the control requests), STATE_DIR/server.pid its process id.
# stop: ends the service whose id is in STATE_DIR/server.pid.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
cmd=${1:?usage: fixture.sh start|stop STATE_DIR}
STATE=${2:?usage: fixture.sh start|stop STATE_DIR}
PYTHON=${PYTHON:-python3}
source "$HERE/../../scripts/lib/background.sh"
stop_server() { stop_pid_file "$STATE" stat_server.py; }

case $cmd in
start)
    mkdir -p "$STATE"
    STATE=$(cd "$STATE" && pwd)
    stop_server
    start_server "statistics service" "$STATE" "$PYTHON" "$HERE/stat_server.py" \
        --ready-file "$STATE/server.ready" --pid-file "$STATE/server.pid" || exit 1
    echo "stat server control port $(cat "$STATE/server.ready")"
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: fixture.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
