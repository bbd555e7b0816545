#!/bin/sh
# bench/broadcast/run.sh [BUILD] [broadcast-bench options]: release -> each
# speaker's command over a link with 20 ms round trips, in the simulated house.
# Needs root (network namespaces and TAP devices), pulseaudio for the
# recorded runs' virtual microphone, espeak-ng for the saved message's speech.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
[ $# -gt 0 ] && shift
[ -x "$build/bench/broadcast/broadcast-bench" ] || {
    echo "run.sh: build broadcast-bench first (cmake --build $build --target broadcast-bench)" >&2
    exit 2
}
vmic=$(mktemp -d)
trap 'sh "$here/../../tests/recorder/pulse-fixture.sh" stop "$vmic"; rm -rf "$vmic"' EXIT
sh "$here/../../tests/recorder/pulse-fixture.sh" start "$vmic"
PULSE_SERVER="unix:$vmic/native" "$build/bench/broadcast/broadcast-bench" "$@"
