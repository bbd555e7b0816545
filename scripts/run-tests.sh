#!/usr/bin/env bash
# Runs the whole suite through CTest. Tests that need services (network
# namespaces with avahi-daemon, a private PulseAudio, Xvfb) start them
# themselves as CTest fixtures, so nothing has to be running beforehand.
set -euo pipefail
build_dir=${1:-build}
cd "$build_dir"
exec ctest --output-on-failure --timeout 300
