#!/bin/sh
# run-in-netns.sh PROGRAM [ARGS...]
# Runs PROGRAM in a fresh network namespace whose only interface is lo, made
# multicast-capable, so nothing it multicasts (SSDP, the application's own
# discovery) reaches a real network. The namespace goes
# away with the program.
set -eu
if [ "${PEALIX_NETNS_INNER:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null 2>&1 || ! command -v ip >/dev/null 2>&1; then
    reason="a private network namespace needs root, unshare and ip"
    if [ "${CI:-}" = true ] || [ "${CI:-}" = 1 ]; then
      echo "FAIL: $reason" >&2
      exit 1
    fi
    echo "SKIP: $reason" >&2
    exit 77
  fi
  PEALIX_NETNS_INNER=1 exec unshare --net -- "$0" "$@"
fi
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo src 127.0.0.1
exec "$@"
