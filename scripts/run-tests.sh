#!/usr/bin/env bash
# Runs the whole suite through CTest. Tests that need services (network
# namespaces with avahi-daemon, a private PulseAudio, Xvfb) start them
# themselves as CTest fixtures, so nothing has to be running beforehand.
#
#   scripts/run-tests.sh BUILD_DIR [ASAN_DIR [FUZZ_DIR [SMOKE_SECONDS]]]
#
# With ASAN_DIR, the suite runs again from that sanitizer build, where any
# report of AddressSanitizer, LeakSanitizer or UndefinedBehaviorSanitizer fails
# its test; with FUZZ_DIR, every fuzz target runs for SMOKE_SECONDS (10) first.
set -euo pipefail
build_dir=${1:-build}
asan_dir=${2:-}
fuzz_dir=${3:-}
smoke_seconds=${4:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
# Two tests at a time: most of them wait on sockets, timers and child
# processes, and each keeps to its own loopback port, display, namespace and
# home; those that share a fixture (a virtual microphone, an Xvfb, the build
# folder) hold a resource lock, so CTest runs them one after another.
jobs=${CTEST_PARALLEL_LEVEL:-2}

(cd "$build_dir" && ctest --output-on-failure --timeout 300 --parallel "$jobs") || status=1

if [ -n "$fuzz_dir" ]; then
  echo "== fuzz targets, ${smoke_seconds} s each"
  "$root/scripts/fuzz.sh" "$fuzz_dir" "$smoke_seconds" || status=1
fi

if [ -n "$asan_dir" ]; then
  echo "== the suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0
  export LSAN_OPTIONS=suppressions=$root/tests/support/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  (cd "$asan_dir" && ctest --output-on-failure --timeout 600 --parallel "$jobs") || status=1
fi
exit $status
