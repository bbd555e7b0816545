#!/usr/bin/env bash
# app-smoke.sh PEALIX SIGNAL: start Pealix offscreen (run it through
# tests/support/run-in-netns.sh), wait until it has installed its signal
# handlers, send SIGNAL, and expect a clean exit (status 0) within a few seconds.
set -u
app=$1 signal=$2

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The system bus is a file, not a network address: the namespace does not hide
# it. Without this the host's avahi-daemon would browse the real network for
# the application's first scan.
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$home/no-system-bus

"$app" & pid=$!

# The handlers are in place once the kernel reports the signal as caught.
case $signal in TERM) bit=15 ;; INT) bit=2 ;; *) echo "unknown signal $signal"; exit 2 ;; esac
caught=0
for _ in $(seq 1 200); do
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || break
  if [ -n "$mask" ] && (( (16#$mask >> (bit - 1)) & 1 )); then caught=1; break; fi
  sleep 0.05
done
if [ $caught != 1 ]; then
  echo "Pealix did not start (or never handled SIG$signal)"
  kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; exit 1
fi

kill "-$signal" "$pid"
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
  echo "Pealix still running 5 s after SIG$signal"
  kill -KILL "$pid"; wait "$pid" 2>/dev/null; exit 1
fi
wait "$pid"; status=$?
echo "Pealix exited with status $status after SIG$signal"
[ "$status" = 0 ]
