#!/usr/bin/env bash
# Serves the same ~150 KB .m4a with ClipServer and with nginx (one worker, no
# keep-alive, so every request is a new connection for both) and loads each
# with wrk on 127.0.0.1, sending "Connection: close". Prints requests/s and
# p99 latency for each and the ratio ours/nginx.
#
#   bench/clipserver/run.sh [BUILD_DIR]      (default: build)
#   DURATION=10 CONNECTIONS=32 bench/clipserver/run.sh build-release
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
[[ $build = /* ]] || build=$root/$build
duration=${DURATION:-10}
connections=${CONNECTIONS:-32}
serve=$build/bench/clipserver/clipserver_serve

if [ ! -x "$serve" ]; then
  echo "run.sh: $serve not found; build the target clipserver_serve first" >&2
  exit 2
fi

need=()
command -v wrk >/dev/null 2>&1 || need+=(wrk)
[ -x /usr/sbin/nginx ] || need+=(nginx)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "run.sh: installing ${need[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  # The package starts a system nginx on port 80; this benchmark wants none.
  if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl stop nginx >/dev/null 2>&1 || true; fi
fi

work=$(mktemp -d /tmp/clipserver-bench-XXXXXX)
ours_pid=""
nginx_pid=""
cleanup() {
  [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  [ -n "$ours_pid" ] && wait "$ours_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"   # nginx's worker may run as another user
mkdir -p "$work/www"

# About 150 KB: 12.5 s of mono AAC at 96 kbit/s, index first as the recorder writes it.
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=12.5" -ac 1 -ar 44100 \
  -c:a aac -b:a 96k -movflags +faststart -y "$work/www/clip.m4a"
chmod 644 "$work/www/clip.m4a"
size=$(stat -c %s "$work/www/clip.m4a")

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Our server, on the event loop of one thread.
"$serve" "$work/www/clip.m4a" >"$work/ours.port" &
ours_pid=$!
for _ in $(seq 100); do [ -s "$work/ours.port" ] && break; sleep 0.05; done
ours_port=$(head -n1 "$work/ours.port")

# nginx: one worker, no keep-alive, Debian's default file-sending settings, no access log.
nginx_port=$(free_port)
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 0;
  types { audio/mp4 m4a; }
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
    location / { try_files /clip.m4a =404; }
  }
}
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -q -s --noproxy '*' -o /dev/null "http://127.0.0.1:$nginx_port/clip.m4a" && break
  sleep 0.05
done

# Prints "requests/s p99" for one run.
load() {
  local out
  out=$(wrk -t1 -c"$connections" -d"${duration}s" --latency -H "Connection: close" "http://127.0.0.1:$1/clip.m4a")
  echo "$out" >>"$work/wrk.log"
  if echo "$out" | grep -q "Non-2xx\|Socket errors"; then echo "$out" | grep "Non-2xx\|Socket errors" >&2; fi
  local rps p99
  rps=$(echo "$out" | awk '/^Requests\/sec:/ {print $2}')
  p99=$(echo "$out" | awk '$1 == "99%" {print $2}')
  echo "$rps $p99"
}

# Check both answer the same bytes before timing anything.
for port in "$ours_port" "$nginx_port"; do
  got=$(curl -q -s --noproxy '*' "http://127.0.0.1:$port/clip.m4a" | wc -c)
  if [ "$got" != "$size" ]; then echo "run.sh: port $port served $got of $size bytes" >&2; exit 1; fi
done

echo "clip: $size bytes; wrk -t1 -c$connections -d${duration}s, Connection: close"
# Warm both up, then alternate so drift on a shared machine hits both alike.
DURATION_SAVED=$duration; duration=2; load "$ours_port" >/dev/null; load "$nginx_port" >/dev/null; duration=$DURATION_SAVED
read -r ours_rps ours_p99 < <(load "$ours_port")
read -r nginx_rps nginx_p99 < <(load "$nginx_port")
read -r ours_rps2 ours_p99_2 < <(load "$ours_port")
read -r nginx_rps2 nginx_p99_2 < <(load "$nginx_port")

printf '%-12s %12s %12s\n' "server" "requests/s" "p99"
printf '%-12s %12s %12s\n' "ClipServer" "$ours_rps" "$ours_p99" "ClipServer" "$ours_rps2" "$ours_p99_2"
printf '%-12s %12s %12s\n' "nginx" "$nginx_rps" "$nginx_p99" "nginx" "$nginx_rps2" "$nginx_p99_2"
awk -v a="$ours_rps" -v b="$ours_rps2" -v c="$nginx_rps" -v d="$nginx_rps2" \
  'BEGIN { printf "ratio ours/nginx (requests/s, both rounds): %.2f\n", (a + b) / (c + d) }'
