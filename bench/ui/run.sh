#!/usr/bin/env bash
# bench/ui/run.sh [BUILD_DIR]: Pealix in a real tray (trayer under a private
# Xvfb), in a network namespace of its own since it looks for speakers by
# multicast. Prints:
#   click -> panel shown (XTest click to the panel's MapNotify), 20 rounds;
#   resident memory with the tray icon up and the first scan done;
#   poll/ppoll calls of the whole idle process over 30 s (strace -c -f),
#   panel closed and nothing under way: each one is a wakeup.
# Needs root (the namespace), Xvfb, trayer, xdotool, xwininfo and strace.
set -eu
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
app=$build/src/app/pealix
bench=$build/bench/ui/ui_panel_click_bench
netns=$here/../../tests/support/run-in-netns.sh
IDLE_SECONDS=${IDLE_SECONDS:-30}
for program in Xvfb trayer xwininfo strace; do
    command -v "$program" >/dev/null || { echo "$program is not installed (scripts/install-deps.sh)"; exit 1; }
done
[ -x "$app" ] && [ -x "$bench" ] || { echo "build the targets pealix and ui_panel_click_bench first"; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/displayfd"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$work/displayfd" </dev/null >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 number <"$work/displayfd"
export DISPLAY=:$number
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xwininfo -root -tree | grep -q '("panel" "trayer")' && break; sleep 0.05; done

mkdir -p "$work/home/run" && chmod 700 "$work/home/run"
env -u DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
    XDG_RUNTIME_DIR="$work/home/run" QT_QPA_PLATFORM=xcb "$netns" "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)

icon=
for _ in $(seq 200); do
    icon=$(xwininfo -root -tree | awk '/\("pealix" "Pealix"\)/ { match($0, /^ */); if (RLENGTH > 5) {
        split($(NF-1), s, /[x+]/); split($NF, a, /\+/); print a[2] + int(s[1] / 2), a[3] + int(s[2] / 2); exit } }')
    [ -n "$icon" ] && break
    sleep 0.05
done
[ -n "$icon" ] || { echo "no tray icon: $(cat "$work/app.log")"; exit 1; }

echo "== click -> panel shown"
# shellcheck disable=SC2086
"$bench" $icon 20

echo "== memory"
# The first scan listens 3 s, a Cast scan ends at most 2 s later.
sleep 6
rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status")
echo "resident memory with the tray and one scan done: $((rss / 1024)) MB ($rss kB) (goal: <= 60 MB)"

echo "== idle wakeups over $IDLE_SECONDS s (panel closed, nothing under way)"
timeout -s INT "$IDLE_SECONDS" strace -f -c -e trace=poll,ppoll -p "$app_pid" -o "$work/strace.txt" || true
cat "$work/strace.txt"
calls=$(awk '$NF == "poll" || $NF == "ppoll" { n += $4 } END { print n + 0 }' "$work/strace.txt")
echo "poll/ppoll calls while idle: $calls in $IDLE_SECONDS s (goal: 0, no timer wakes the process)"
