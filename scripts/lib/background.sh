# Helpers for scripts that start long-lived background processes (sourced).

# Closes every descriptor above 2 of the current (sub)shell, so a process
# started from it does not keep the caller's pipes (and CTest) waiting.
close_inherited_fds() {
    local fd
    for fd in $(ls /proc/$BASHPID/fd); do
        if (( fd > 2 )); then eval "exec $fd>&-" 2>/dev/null || true; fi
    done
}

# stop_pid_file STATE_DIR SCRIPT_NAME: ends the process whose id is in
# STATE_DIR/server.pid, but only while it still runs SCRIPT_NAME (a reused id
# is left alone); removes server.pid and server.ready.
stop_pid_file() {
    local state=$1 script=$2 pid
    [[ -f $state/server.pid ]] || return 0
    pid=$(cat "$state/server.pid")
    rm -f "$state/server.pid" "$state/server.ready"
    if [[ $pid =~ ^[0-9]+$ ]] && grep -qs "$script" "/proc/$pid/cmdline"; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
    fi
}

# start_server LABEL STATE_DIR COMMAND...: starts COMMAND detached from the
# caller (own session, no inherited descriptors, output to
# STATE_DIR/server.out) and waits up to 10 s for it to write
# STATE_DIR/server.ready. When the file does not appear or the command ends
# first, it says that LABEL did not start, shows server.out and fails.
start_server() {
    local label=$1 state=$2 pid
    shift 2
    ( close_inherited_fds
      exec setsid "$@" </dev/null >"$state/server.out" 2>&1 ) &
    pid=$!
    for _ in $(seq 200); do
        [[ -f $state/server.ready ]] && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    [[ -f $state/server.ready ]] && return 0
    echo "fixture: $label did not start:" >&2
    cat "$state/server.out" >&2
    return 1
}
