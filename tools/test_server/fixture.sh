#!/usr/bin/env bash
# Starts and stops the shared test server of one build tree in the background.
#
#   fixture.sh start STATE_DIR [extra test_server.py options...]
#   fixture.sh stop STATE_DIR
#
# start: makes the test certificates and has the host trust their CA
# (scripts/trust-test-ca.sh), stops a server left behind by an earlier run,
# then starts test_server.py detached from the caller (no inherited
# descriptors, so CTest does not wait for it) serving STATE_DIR/www on
# 127.0.0.1 (and ::1) ports 80 and 443, and waits until it listens.
# Files under STATE_DIR:
#   www/            the served folder (tests put their files here)
#   certs/          CA, "localhost" and untrusted certificates
#   requests.log    the request log (JSON lines; see test_server.py)
#   server.pid, server.ready, server.out
# stop: ends the server whose pid is in STATE_DIR/server.pid.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
cmd=${1:?usage: fixture.sh start|stop STATE_DIR}
STATE=${2:?usage: fixture.sh start|stop STATE_DIR}
shift 2
PYTHON=${PYTHON:-python3}
source "$HERE/../../scripts/lib/background.sh"
stop_server() { stop_pid_file "$STATE" test_server.py; }

case $cmd in
start)
    mkdir -p "$STATE/www"
    STATE=$(cd "$STATE" && pwd)
    bash "$REPO/scripts/trust-test-ca.sh" "$STATE/certs"
    stop_server
    rm -f "$STATE/server.ready"
    : >"$STATE/requests.log"
    start_server "test server" "$STATE" "$PYTHON" "$HERE/test_server.py" --root "$STATE/www" \
        --cert "$STATE/certs/localhost.crt" --key "$STATE/certs/localhost.key" \
        --untrusted-cert "$STATE/certs/untrusted.crt" --untrusted-key "$STATE/certs/untrusted.key" \
        --log "$STATE/requests.log" --pid-file "$STATE/server.pid" \
        --ready-file "$STATE/server.ready" "$@" || exit 1
    cat "$STATE/server.ready"
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: fixture.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
