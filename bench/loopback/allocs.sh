#!/usr/bin/env bash
# Heap allocations per kept-alive request of the switch: build/vantrell in
# front of an nginx back end serving a 1 KiB file, under alloc_count.so
# (LD_PRELOAD), loaded by wrk; prints (allocations during the run) /
# (requests), and the switch's CPU time per request (a figure that a busy
# machine disturbs less than requests/s; the counter adds its own cost). A
# benchmark aid, not a test; runs in a private network namespace when it can.
#   ALLOC_BUILD=<repo>/build  build folder (vantrell and bench/bench_settings)
#   ALLOC_CONNS=8             keep-alive connections
#   ALLOC_DURATION=5          seconds of load
#   ALLOC_RUNTIME=            threads or fibers (VT_RUNTIME); empty: the build's
#   ALLOC_BROWSER=1           requests with a browser's header lines, not
#                             wrk's bare Host line (no Accept-Encoding: the
#                             plain road, not the compressor)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${ALLOC_BUILD:-$src/build}" && pwd)
conns=${ALLOC_CONNS:-8}
duration=${ALLOC_DURATION:-5}

if [ "${1:-}" != "--inner" ]; then
  if unshare -n true 2>/dev/null; then
    exec unshare -n -- bash "${BASH_SOURCE[0]}" --inner
  fi
  exec bash "${BASH_SOURCE[0]}" --inner
fi
ip link set lo up 2>/dev/null || true

work=$(mktemp -d /tmp/vt-allocs.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -shared -fPIC -o "$work/alloc_count.so" "$here/alloc_count.c" -lpthread
mkdir -p "$work/www" "$work/nginx" "$work/switch/data"
head -c 1024 /dev/zero | tr '\0' 'x' >"$work/www/1k.txt"
p_backend=18101 p_switch=18102
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
worker_processes 1;
events { worker_connections 4096; }
http {
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type text/plain;
  keepalive_requests 100000000;
  access_log off;
  server { listen 127.0.0.1:$p_backend; root $work/www; }
}
EOF
nginx -c "$work/nginx/nginx.conf" >"$work/nginx/out.log" 2>&1 &
pids+=($!)

(cd "$work/switch" && "$build/bench/bench_settings" --port "$p_switch" --backend-port "$p_backend" >/dev/null)
runtime=()
[ -z "${ALLOC_RUNTIME:-}" ] || runtime=("VT_RUNTIME=$ALLOC_RUNTIME")
(cd "$work/switch" && exec env "${runtime[@]}" ALLOC_COUNT_FILE="$work/count" LD_PRELOAD="$work/alloc_count.so" \
  "$build/vantrell" prog) >"$work/switch/out.log" 2>&1 &
pids+=($!)
switch_pid=$!
# User and system CPU time of the switch in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$switch_pid/stat"; }

url=http://127.0.0.1:$p_switch/1k.txt
hdr=()
if [ "${ALLOC_BROWSER:-0}" = 1 ]; then
  hdr=(-H "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36"
    -H "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"
    -H "Accept-Language: en-GB,en;q=0.9"
    -H "Referer: http://127.0.0.1/index.html" -H "Cookie: session=0123456789abcdef; theme=dark")
fi
for _ in $(seq 150); do
  [ "$(curl -s --max-time 1 -o /dev/null -w '%{http_code}' "$url" 2>/dev/null || true)" = 200 ] && break
  sleep 0.1
done
# Warm up: pool threads, kept back-end connections, log files.
wrk -t2 -c"$conns" -d2s "${hdr[@]}" "$url" >/dev/null 2>&1
sleep 0.5
before=$(cat "$work/count")
ticks_before=$(cpu_ticks)
wrk -t2 -c"$conns" -d"${duration}s" "${hdr[@]}" "$url" >"$work/wrk.txt" 2>&1
sleep 0.3
after=$(cat "$work/count")
ticks=$(($(cpu_ticks) - ticks_before))
requests=$(awk '/requests in/ {print $1}' "$work/wrk.txt")
grep -E "Socket errors|Non-2xx" "$work/wrk.txt" >&2 || true
# The same span idle: what the process allocates without requests.
sleep "$duration"
idle=$(($(cat "$work/count") - after))
awk -v a="$((after - before))" -v i="$idle" -v n="$requests" -v c="$conns" -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN {
  printf "%d requests on %d connections: %.1f allocations per request (%d allocations; %d in the same time idle), %.1f us CPU per request\n",
         n, c, (a - i) / n, a, i, t * 1e6 / hz / n }'
