#!/bin/sh
# routed-address.sh PROGRAM: run through tests/support/run-in-netns.sh. Gives
# the private namespace the interfaces of a laptop at home with Docker up: Wi-Fi
# on one subnet, a wired link on another, a docker0 bridge, a link-local-only
# interface and a default route over the Wi-Fi; then runs PROGRAM in it.
set -eu
pair() { # name address/prefix
  ip link add "$1" type veth peer name "$1-far"
  ip addr add "$2" dev "$1"
  ip link set "$1" up
  ip link set "$1-far" up
}
ip link add docker0 type bridge
ip addr add 172.17.0.1/16 dev docker0
ip link set docker0 up
pair wlp2s0 192.168.50.10/24
pair enp3s0 10.20.0.10/24
pair eth9 169.254.10.10/16
ip route add default via 192.168.50.1 dev wlp2s0
PEALIX_ADDRESS_SANDBOX=1 exec "$@"
