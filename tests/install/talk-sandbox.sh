#!/bin/sh
# talk-sandbox.sh PROGRAM: run through tests/support/run-in-netns.sh. Gives the
# private namespace one network interface besides lo, the one a home network
# would be on, for a fake speaker to live on and for Pealix to pick as the clip
# server's address; then runs PROGRAM in it.
set -eu
ip link add talk0 type veth peer name talk0-far
ip addr add 10.77.0.1/24 dev talk0
ip link set talk0 up
ip link set talk0-far up
PEALIX_TALK_SANDBOX=1 exec "$@"
