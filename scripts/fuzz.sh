#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build (see cmake/Sanitizers.cmake) for
# SECONDS each and prints each one's executions.
#
#   scripts/fuzz.sh BUILD_DIR SECONDS          a smoke run: seeds from tests/fuzz/corpus,
#                                              new inputs thrown away
#   scripts/fuzz.sh BUILD_DIR SECONDS keep     new inputs kept in BUILD_DIR/corpus/<target>
#                                              and used again by the next run
#
# A finding (crash, sanitizer report, broken property, timeout, memory blow-up)
# fails the run; its input is left in BUILD_DIR/findings.
set -euo pipefail
build=${1:?usage: fuzz.sh BUILD_DIR SECONDS [keep]}
seconds=${2:?usage: fuzz.sh BUILD_DIR SECONDS [keep]}
mode=${3:-smoke}
root=$(cd "$(dirname "$0")/.." && pwd)
seeds=$root/tests/fuzz/corpus
findings=$build/findings
mkdir -p "$findings"
scratch=$(mktemp -d /tmp/pealix-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

passed=0
failed=0
for binary in "$build"/tests/fuzz/Fuzz*; do
  [ -x "$binary" ] && [ -f "$binary" ] || continue
  name=$(basename "$binary")
  if [ "$mode" = keep ]; then
    corpus=$build/corpus/$name
  else
    corpus=$scratch/$name
  fi
  mkdir -p "$corpus"
  log=$scratch/$name.log
  # Leaks are looked for by the sanitizer suite; here they would only stop the run early.
  if ASAN_OPTIONS=detect_leaks=0 "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/$name-" "$corpus" "$seeds/$name" >"$log" 2>&1; then
    passed=$((passed + 1))
    verdict=ok
  else
    failed=$((failed + 1))
    verdict=FAILED
    tail -n 40 "$log"
  fi
  runs=$(awk '/stat::number_of_executed_units:/ {print $2}' "$log" | tail -n1)
  units=$(ls "$corpus" | wc -l)
  printf 'fuzz %-20s %10s executions in %s s, corpus %s, %s\n' "$name" "${runs:-?}" "$seconds" "$units" "$verdict"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
