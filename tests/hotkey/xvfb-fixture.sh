#!/usr/bin/env bash
# xvfb-fixture.sh start|stop STATE_DIR: a private Xvfb on a display it picks
# itself (-displayfd); STATE_DIR records the display and the PID.
set -euo pipefail
state=${2:?usage: $0 start|stop STATE_DIR}

case "$1" in
start)
    rm -rf "$state" && mkdir -p "$state"
    if ! command -v Xvfb >/dev/null; then
        echo "Xvfb is missing (package xvfb)" >&2
        [[ "${CI:-}" == "true" || "${CI:-}" == "1" ]] && exit 1
        exit 0
    fi
    mkfifo "$state/displayfd"
    # Output goes to a file: CTest waits for the pipes it gave us to close.
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$state/displayfd" </dev/null >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/pid"
    # Xvfb writes the display number once it accepts clients.
    if ! read -r -t 20 number <"$state/displayfd" || [[ -z "$number" ]]; then
        cat "$state/xvfb.log" >&2 || true
        kill "$(cat "$state/pid")" 2>/dev/null || true
        exit 1
    fi
    echo ":$number" >"$state/display"
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
*) exit 2 ;;
esac
