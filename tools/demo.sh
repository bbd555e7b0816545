#!/bin/sh
# tools/demo.sh [BUILD_DIR]  (what `make demo` runs)
# Starts the demo house (tools/houses/demo.json: three Sonos rooms, two of
# them grouped, and two Cast devices) and Pealix inside it, with your display
# and sound server. Talk with the chord; the house prints what every room
# does. Ctrl+C, or quitting Pealix, takes all of it down.
#
# Pealix gets a home of its own under BUILD_DIR/demo-home (settings, saved
# messages, its runtime folder), so your own settings and a Pealix you may be
# running are left alone. On first use every demo speaker is switched on.
#
# The house needs network namespaces. Where the desktop lets users make user
# namespaces (Debian 12 does), it makes them itself without root; elsewhere
# (for example Ubuntu 24.04, whose AppArmor forbids it) this script asks sudo.
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
house="$build/tools/pealix-house"
pealix="$build/src/app/pealix"
for program in "$house" "$pealix"; do
  [ -x "$program" ] || { echo "demo: $program is not built; run make demo" >&2; exit 1; }
done

home=$(mkdir -p "$build/demo-home" && cd "$build/demo-home" && pwd)
mkdir -p "$home/config/Pealix" "$home/data" "$home/runtime"
chmod 700 "$home/runtime"
settings="$home/config/Pealix/Pealix.conf"
if [ ! -f "$settings" ]; then
  ids=$("$house" "$here/houses/demo.json" --speakers | paste -sd, - | sed 's/,/, /g')
  printf '[General]\nenabledSpeakerIDs=%s\n' "$ids" >"$settings"
fi

# The display and the sound server are reached by their sockets' paths, which
# work from inside a network namespace; name them in full, since Pealix's
# runtime folder is the demo's own.
runtime=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}
export PULSE_SERVER="${PULSE_SERVER:-unix:$runtime/pulse/native}"
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
  case "$WAYLAND_DISPLAY" in /*) ;; *) export WAYLAND_DISPLAY="$runtime/$WAYLAND_DISPLAY" ;; esac
fi
[ -n "${DISPLAY:-}" ] && export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
export XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/runtime"

if [ "$(id -u)" = 0 ] || unshare --user --map-root-user --net true 2>/dev/null; then
  exec "$house" "$here/houses/demo.json" -- "$pealix"
fi
echo "demo: this desktop does not let users make namespaces; asking sudo (Pealix itself runs as you)" >&2
exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_SESSION_TYPE,XDG_CURRENT_DESKTOP,DBUS_SESSION_BUS_ADDRESS,PULSE_SERVER,XDG_CONFIG_HOME,XDG_DATA_HOME,XDG_RUNTIME_DIR,HOME,LANG \
  "$house" "$here/houses/demo.json" -- "$pealix"
