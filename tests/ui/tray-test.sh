#!/usr/bin/env bash
# tray-test.sh PEALIX RUN_IN_NETNS: Pealix in a real system tray. A private
# Xvfb with Debian's trayer as the tray host; Pealix itself runs in a network
# namespace of its own (it looks for speakers by multicast) and reaches the X
# server through its socket in /tmp/.X11-unix. Driven with xdotool:
#   the icon appears in the tray; a click on it opens the panel; a click
#   elsewhere closes it; "Quit" in the icon's menu ends Pealix with status 0.
set -u
app=$1 netns=$2

under_ci() { [[ "${CI:-}" == true || "${CI:-}" == 1 ]]; }
skip() {
    if under_ci; then echo "FAIL: $1" >&2; exit 1; fi
    echo "SKIP: $1" >&2; exit 77
}
fail() { echo "FAIL: $1" >&2; exit 1; }

for program in Xvfb trayer xdotool xwininfo; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
[[ $(id -u) == 0 ]] || skip "Pealix runs in a private network namespace, which needs root"

work=$(mktemp -d)
pids=()
cleanup() {
    # Only what this script started, newest first.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    for pid in "${pids[@]}"; do timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# Polls `condition` every 50 ms for at most `limit` tries.
await() {
    local limit=$1; shift
    for ((try = 0; try < limit; try++)); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}

mkfifo "$work/displayfd"
Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$work/displayfd" </dev/null >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 20 number <"$work/displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$number

trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
pids+=($!)
tray_ready() { xwininfo -root -tree 2>/dev/null | grep -q '("panel" "trayer")'; }
await 200 tray_ready || fail "trayer did not start: $(cat "$work/trayer.log")"

home=$work/home
mkdir -p "$home/config" "$home/data" "$home/run" && chmod 700 "$home/run"
# No session bus: Qt then embeds its icon with the XEmbed tray protocol trayer speaks.
env -u DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=xcb "$netns" "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)

# Pealix's windows: "id x y width height depth" (depth: how deep in the tree).
pealix_windows() {
    xwininfo -root -tree 2>/dev/null | awk '/\("pealix" "Pealix"\)/ {
        match($0, /^ */); depth = RLENGTH
        split($(NF-1), size, /[x+]/); split($NF, at, /\+/)
        print $1, at[2], at[3], size[1], size[2], depth }'
}
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
# The icon is the one window of ours inside another program's (trayer's)
# window; the root window's own children are indented by five spaces.
icon=
find_icon() {
    icon=$(pealix_windows | awk '$6 > 5 { print; exit }')
    [[ -n "$icon" ]]
}
await 300 find_icon || fail "no Pealix icon in the tray: $(cat "$work/app.log")"
read -r icon_id icon_x icon_y icon_w icon_h _ <<<"$icon"
echo "icon $icon_id at $icon_x,$icon_y (${icon_w}x$icon_h)"

# A viewable top-level window of ours wider than the icon: the panel or the menu.
popup_shown() {
    while read -r id _ _ width _ depth; do
        ((depth == 5 && width > 60)) && viewable "$id" && return 0
    done < <(pealix_windows)
    return 1
}
popup_gone() { ! popup_shown; }

popup_shown && fail "a window of Pealix was open before any click"
xdotool mousemove $((icon_x + icon_w / 2)) $((icon_y + icon_h / 2)) click 1
await 100 popup_shown || fail "a click on the icon did not open the panel"
echo "the panel opened"

xdotool mousemove 100 500 click 1
await 100 popup_gone || fail "a click elsewhere did not close the panel"
echo "the panel closed"

xdotool mousemove $((icon_x + icon_w / 2)) $((icon_y + icon_h / 2)) click 3
await 100 popup_shown || fail "a right click on the icon showed no menu"
# The menu holds the keyboard: Up from nothing selects its last entry, Quit.
xdotool key Up Return
gone() { ! kill -0 "$app_pid" 2>/dev/null; }
await 200 gone || fail "Pealix still runs 10 s after Quit"
wait "$app_pid"
status=$?
echo "Pealix ended with status $status"
[[ $status == 0 ]] || fail "Quit ended Pealix with status $status: $(cat "$work/app.log")"
