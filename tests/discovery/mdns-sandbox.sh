#!/bin/sh
# mdns-sandbox.sh PROGRAM [ARGS...]
# Runs PROGRAM in a network and mount namespace of its own (loopback only) with
# a private system D-Bus and avahi-daemon, so that nothing multicasts outside.
# Exit 77 (skipped) when the namespace cannot be made, unless CI=true.
set -eu
cannot() {
  echo "mdns-sandbox: $*" >&2
  case "${CI:-}" in true|TRUE|True|1) exit 1 ;; esac
  exit 77
}
if [ "${PEALIX_MDNS_SANDBOX:-}" != 1 ]; then
  for tool in unshare ip dbus-daemon dbus-send avahi-daemon avahi-publish-service; do
    command -v "$tool" >/dev/null 2>&1 || cannot "$tool is not installed"
  done
  unshare --net --mount --propagation private -- true 2>/dev/null \
    || cannot "cannot create a network namespace (needs root or CAP_SYS_ADMIN)"
  PEALIX_MDNS_SANDBOX=1 exec unshare --net --mount --propagation private -- sh "$0" "$@"
fi

D=$(mktemp -d /tmp/pealix-mdns.XXXXXX)
DBUS_PID= AVAHI_PID= CMD_PID=
cleanup() {
  if [ -n "$AVAHI_PID" ]; then kill "$AVAHI_PID" 2>/dev/null || true; wait "$AVAHI_PID" 2>/dev/null || true; fi
  if [ -n "$DBUS_PID" ]; then kill "$DBUS_PID" 2>/dev/null || true; wait "$DBUS_PID" 2>/dev/null || true; fi
  rm -rf "$D"
}
trap cleanup EXIT
trap '[ -n "$CMD_PID" ] && kill "$CMD_PID" 2>/dev/null; exit 130' INT TERM

mount -t tmpfs tmpfs /run # the daemons' sockets and pid files stay in here
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo src 127.0.0.1
mkdir -p /run/dbus
cat >"$D/bus.conf" <<'X'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type>
 <listen>unix:path=/run/dbus/system_bus_socket</listen><auth>EXTERNAL</auth>
 <policy context="default"><allow user="*"/><allow own="*"/>
  <allow send_destination="*"/><allow receive_sender="*"/></policy>
</busconfig>
X
cat >"$D/avahi.conf" <<'X'
[server]
host-name=sandbox
use-ipv4=yes
use-ipv6=no
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
X
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
dbus-daemon --config-file="$D/bus.conf" --nofork --nopidfile 2>"$D/dbus.log" &
DBUS_PID=$!
i=0
until [ -S /run/dbus/system_bus_socket ]; do
  i=$((i + 1)); [ $i -gt 50 ] && { cat "$D/dbus.log" >&2; exit 1; }; sleep 0.1
done
avahi-daemon -f "$D/avahi.conf" --no-drop-root --no-chroot --no-rlimits >"$D/avahi.log" 2>&1 &
AVAHI_PID=$!
i=0 # until the daemon reports it is running (state 2), at most 10 s
until dbus-send --system --print-reply --dest=org.freedesktop.Avahi / org.freedesktop.Avahi.Server.GetState \
  2>/dev/null | grep -q 'int32 2'; do
  i=$((i + 1)); [ $i -gt 100 ] && { cat "$D/avahi.log" >&2; exit 1; }; sleep 0.1
done
"$@" </dev/null &
CMD_PID=$!
wait "$CMD_PID"
