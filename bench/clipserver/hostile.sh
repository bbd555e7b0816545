#!/usr/bin/env bash
# The clip server under a flood: HOSTILE connections at a time (default 1,000;
# half-open, slow heads, 70 KB heads, garbage, many Range lines, pipelined
# requests, resets before and during the body, clients that never read, idle
# sockets), each reconnecting when dropped, for SECONDS (default 30), while a
# well-behaved client fetches the clip in a loop and compares it byte for byte.
# Everything runs on 127.0.0.0/8. Prints good fetches completed/attempted, the
# server's peak descriptors, and its memory before, during and after the flood.
#
#   bench/clipserver/hostile.sh [BUILD_DIR]        (default: build)
#   HOSTILE=3000 SECONDS_=60 CLIP_SECONDS=60 bench/clipserver/hostile.sh build
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
[[ $build = /* ]] || build=$root/$build
hostile=${HOSTILE:-1000}
duration=${SECONDS_:-30}
clip_seconds=${CLIP_SECONDS:-12.5}
serve=$build/bench/clipserver/clipserver_serve

if [ ! -x "$serve" ]; then
  echo "hostile.sh: $serve not found; build the target clipserver_serve first" >&2
  exit 2
fi

work=$(mktemp -d /tmp/clipserver-hostile-XXXXXX)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Mono AAC at 96 kbit/s, index first as the recorder writes it (12.5 s: about 150 KB).
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=$clip_seconds" -ac 1 -ar 44100 \
  -c:a aac -b:a 96k -movflags +faststart -y "$work/clip.m4a"

# The server gets the descriptor limit of a desktop session.
(ulimit -n 1024; exec "$serve" "$work/clip.m4a") >"$work/port" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(head -n1 "$work/port")
echo "clip: $(stat -c %s "$work/clip.m4a") bytes; server pid $server_pid, port $port"

python3 "$here/hostile.py" "$port" "$server_pid" "$work/clip.m4a" "$hostile" "$duration"

# After the flood: once every connection has had time to reach its idle limit.
sleep 15
fds=$(ls "/proc/$server_pid/fd" | wc -l)
rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status")
tcp=$(awk '/^TCP:/ {for (i = 1; i < NF; i++) if ($i == "mem") print $(i + 1) * 4}' /proc/net/sockstat)
echo "after (15 s later): server descriptors $fds, memory (RSS) $rss KiB, kernel TCP memory $tcp KiB"
