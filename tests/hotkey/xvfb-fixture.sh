#!/usr/bin/env bash
# xvfb-fixture.sh start|stop STATE_DIR
# Starts a private Xvfb on a display it picks itself (-displayfd) and records
# the display and the PID in STATE_DIR; stop ends that PID only.
set -euo pipefail
action=${1:?start or stop}
state=${2:?state folder}

ci() { [[ "${CI:-}" == "true" || "${CI:-}" == "1" ]]; }

case "$action" in
start)
    rm -rf "$state"
    mkdir -p "$state"
    if ! command -v Xvfb >/dev/null; then
        if ci; then
            echo "Xvfb is missing (package xvfb)" >&2
            exit 1
        fi
        echo "Xvfb is missing: the X11 tests will skip"
        exit 0
    fi
    fifo="$state/displayfd"
    mkfifo "$fifo"
    # Output goes to a file: CTest waits for the pipes it gave us to close.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$fifo" </dev/null >"$state/xvfb.log" 2>&1 &
    pid=$!
    echo "$pid" >"$state/pid"
    # Xvfb writes the display number once it accepts clients.
    if ! read -r -t 20 number <"$fifo" || [[ -z "$number" ]]; then
        echo "Xvfb did not start:" >&2
        cat "$state/xvfb.log" >&2 || true
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    rm -f "$fifo"
    echo ":$number" >"$state/display"
    echo "Xvfb $pid on :$number"
    ;;
stop)
    [[ -f "$state/pid" ]] || exit 0
    pid=$(cat "$state/pid")
    # Only the process we started, should the PID have been reused meanwhile.
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q '^Xvfb '; then
        kill "$pid"
        timeout 10 tail --pid="$pid" -s 0.05 -f /dev/null || kill -9 "$pid" 2>/dev/null || true
    fi
    rm -rf "$state"
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
