#!/usr/bin/env bash
# Loopback load runs: requests/s and latency percentiles (wrk --latency) of a
# fixed back end (nginx serving a 1 KiB file, access log off) reached
#   direct   - the back end itself,
#   switch   - build/vantrell prog in front of it,
#   nginx    - nginx as a reverse proxy,
#   haproxy  - HAProxy,
# the three proxies configured alike: keep-alive to the back end, access log
# on to a file, the same cores. Runs:
#   ka64     64 keep-alive connections
#   close64  64 connections, every request with "Connection: close"
#   ka1000   1000 keep-alive connections
#   tls64    64 keep-alive connections over HTTPS, TLS ended by the proxy
#            (direct: by the back end itself)
# Prints one table with each figure and its ratio to the direct run, and the
# failed requests (socket errors, non-2xx/3xx responses).
#
# A benchmark, not a test: CI never runs it. Settings (environment):
#   BENCH_DURATION=10    seconds per measured run
#   BENCH_WARMUP=2       seconds of load before each measured run (0: none)
#   BENCH_REPEAT=1       rounds over all targets; the table shows each figure's
#                        median round, and requests and failures of all rounds
#   BENCH_RUNS="ka64 close64 ka1000 tls64"
#   BENCH_TARGETS="direct switch nginx haproxy"
#   BENCH_BUILD=<repo>/build   build folder of the switch
#   BENCH_NO_INSTALL=1   do not apt-get the tools
#   BENCH_NO_BUILD=1     use the build folder as it is
#   BENCH_NETNS=0        do not run in a private network namespace
#   BENCH_PIN=0          do not pin processes to cores
#   BENCH_KEEP=1         keep the work folder (configs, logs, wrk outputs)
#   BENCH_SWITCH_CMD     prefix for the switch, e.g. "perf record -g --"
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)
build=${BENCH_BUILD:-$src/build}
duration=${BENCH_DURATION:-10}
warmup=${BENCH_WARMUP:-2}
repeat=${BENCH_REPEAT:-1}
runs=${BENCH_RUNS:-ka64 close64 ka1000 tls64}
targets=${BENCH_TARGETS:-direct switch nginx haproxy}

# ------------------------------------------------------------ outer part
# Installs and builds with the machine's network, then runs the rest in a
# private network namespace: fixed ports there collide with nothing, and
# the switch's single-instance name (an abstract socket) is private too.
if [ "${1:-}" != "--inner" ]; then
  if [ "${BENCH_NO_INSTALL:-0}" != 1 ]; then
    "$src/scripts/setup"
    need=()
    for p in wrk nginx haproxy openssl curl util-linux iproute2; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
    done
    if [ ${#need[@]} -gt 0 ]; then
      env DEBIAN_FRONTEND=noninteractive apt-get update -q
      env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
    fi
  fi
  if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
    cmake -S "$src" -B "$build" -G Ninja >/dev/null
    cmake --build "$build" -j 4 --target vantrell bench_settings
  fi
  if [ "${BENCH_NETNS:-1}" = 1 ] && unshare -n true 2>/dev/null; then
    exec unshare -n -- bash "${BASH_SOURCE[0]}" --inner
  fi
  exec bash "${BASH_SOURCE[0]}" --inner
fi

# ------------------------------------------------------------ inner part
# A new namespace starts with its loopback down.
[ "${BENCH_NETNS:-1}" = 1 ] && { ip link set lo up 2>/dev/null || true; }
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
fds=$(ulimit -n)
[ "$fds" = unlimited ] && fds=65536

work=$(mktemp -d /tmp/vt-loopback.XXXXXX)
chmod 755 "$work"
pids=()

cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ "${BENCH_KEEP:-0}" = 1 ]; then
    echo "work folder kept: $work" >&2
  else
    rm -rf "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Stops one started process by its id.
stop_pid() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  local keep=()
  for p in "${pids[@]}"; do [ "$p" = "$pid" ] || keep+=("$p"); done
  pids=("${keep[@]}")
}

# Cores: back end, proxy under test and wrk each get their own.
ncpu=$(nproc)
if [ "${BENCH_PIN:-1}" = 1 ] && [ "$ncpu" -ge 3 ]; then
  nb=$((ncpu / 4)); [ "$nb" -ge 1 ] || nb=1
  np=$(((ncpu - nb) / 2))
  nw=$((ncpu - nb - np))
  cpus_backend="0-$((nb - 1))"
  cpus_proxy="$nb-$((nb + np - 1))"
  cpus_wrk="$((nb + np))-$((ncpu - 1))"
  on_backend=(taskset -c "$cpus_backend"); on_proxy=(taskset -c "$cpus_proxy"); on_wrk=(taskset -c "$cpus_wrk")
else
  nb=1; np=1; nw=$(( ncpu > 1 ? ncpu / 2 : 1 ))
  cpus_backend=""; cpus_proxy=""; cpus_wrk=""
  on_backend=(env); on_proxy=(env); on_wrk=(env)
fi
# The prefixes exec their command, so $! of a started server is the server.

# Ports: fixed inside the private namespace, else the first free ones.
port_free() { ! ss -Htln "sport = :$1" 2>/dev/null | grep -q .; }
next_port=18000
take_port() {  # VARIABLE
  while ! port_free "$next_port"; do next_port=$((next_port + 1)); done
  printf -v "$1" '%s' "$next_port"
  next_port=$((next_port + 1))
}
for v in p_backend p_backend_tls p_switch p_switch_tls p_nginx p_nginx_tls p_haproxy p_haproxy_tls; do
  take_port "$v"
done

# ------------------------------------------------------------ files
mkdir -p "$work/www" "$work/cert" "$work/switch/data/cert" "$work/nginx-backend" "$work/nginx-proxy"
head -c 1024 /dev/zero | tr '\0' 'x' > "$work/www/1k.txt"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -keyout "$work/cert/bench.key" -out "$work/cert/bench.crt" 2>/dev/null
cat "$work/cert/bench.crt" "$work/cert/bench.key" > "$work/cert/bench.pem"
cp "$work/cert/bench.crt" "$work/cert/bench.key" "$work/switch/data/cert/"
path=/1k.txt

# Temp paths of an nginx instance (it must never touch /var).
nginx_common() {
  local dir=$1
  cat <<EOF
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
EOF
}
nginx_http_common() {
  local dir=$1
  cat <<EOF
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  default_type text/plain;
  keepalive_requests 100000000;
  keepalive_timeout 60s;
EOF
}

cat > "$work/nginx-backend/nginx.conf" <<EOF
$(nginx_common "$work/nginx-backend")
worker_processes $nb;
worker_cpu_affinity auto;
events { worker_connections 16384; }
http {
$(nginx_http_common "$work/nginx-backend")
  access_log off;
  server {
    listen 127.0.0.1:$p_backend backlog=4096;
    listen 127.0.0.1:$p_backend_tls ssl backlog=4096;
    ssl_certificate $work/cert/bench.crt;
    ssl_certificate_key $work/cert/bench.key;
    root $work/www;
  }
}
EOF

cat > "$work/nginx-proxy/nginx.conf" <<EOF
$(nginx_common "$work/nginx-proxy")
worker_processes $np;
worker_cpu_affinity auto;
worker_rlimit_nofile $fds;
events { worker_connections 16384; }
http {
$(nginx_http_common "$work/nginx-proxy")
  access_log $work/nginx-proxy/access.log combined;
  upstream backend {
    server 127.0.0.1:$p_backend;
    keepalive 1024;
    keepalive_requests 100000000;
  }
  server {
    listen 127.0.0.1:$p_nginx backlog=4096;
    listen 127.0.0.1:$p_nginx_tls ssl backlog=4096;
    ssl_certificate $work/cert/bench.crt;
    ssl_certificate_key $work/cert/bench.key;
    location / {
      proxy_pass http://backend;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
    }
  }
}
EOF

cat > "$work/haproxy.cfg" <<EOF
global
  maxconn $(( (fds - 200) / 2 > 10000 ? 10000 : (fds - 200) / 2 ))
  nbthread $np
  log stdout format raw local0 info
defaults
  mode http
  log global
  option httplog
  option http-keep-alive
  http-reuse always
  timeout connect 5s
  timeout client 60s
  timeout server 60s
frontend bench
  bind 127.0.0.1:$p_haproxy
  bind 127.0.0.1:$p_haproxy_tls ssl crt $work/cert/bench.pem
  default_backend backend
backend backend
  server b1 127.0.0.1:$p_backend
EOF

# ------------------------------------------------------------ servers
# Waits until URL answers 200 with the 1 KiB body.
wait_ready() {
  local url=$1 pid=$2
  for _ in $(seq 150); do
    kill -0 "$pid" 2>/dev/null || return 1
    local got
    got=$(curl -sk --max-time 1 -o /dev/null -w '%{http_code} %{size_download}' "$url" 2>/dev/null || true)
    [ "$got" = "200 1024" ] && return 0
    sleep 0.1
  done
  return 1
}

started_pid=""
start_backend() {
  "${on_backend[@]}" nginx -c "$work/nginx-backend/nginx.conf" >"$work/nginx-backend/out.log" 2>&1 &
  started_pid=$!; pids+=("$started_pid")
  wait_ready "http://127.0.0.1:$p_backend$path" "$started_pid"
}

# Starts TARGET; sets started_pid. False when it does not come up.
start_target() {
  started_pid=""
  case $1 in
    direct) return 0 ;;
    switch)
      (cd "$work/switch" &&
        "$build/bench/bench_settings" --port "$p_switch" --backend-port "$p_backend" \
          --https-port "$p_switch_tls" --cert bench.crt --key bench.key >/dev/null)
      (cd "$work/switch" && exec ${BENCH_SWITCH_CMD:-} "${on_proxy[@]}" "$build/vantrell" prog) >"$work/switch/out.log" 2>&1 &
      started_pid=$!; pids+=("$started_pid")
      wait_ready "http://127.0.0.1:$p_switch$path" "$started_pid" ;;
    nginx)
      "${on_proxy[@]}" nginx -c "$work/nginx-proxy/nginx.conf" >"$work/nginx-proxy/out.log" 2>&1 &
      started_pid=$!; pids+=("$started_pid")
      wait_ready "http://127.0.0.1:$p_nginx$path" "$started_pid" ;;
    haproxy)
      "${on_proxy[@]}" haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy-access.log" 2>"$work/haproxy-err.log" &
      started_pid=$!; pids+=("$started_pid")
      wait_ready "http://127.0.0.1:$p_haproxy$path" "$started_pid" ;;
  esac
}

url_of() {  # TARGET RUN
  local t=$1 r=$2 scheme=http port
  case $t in
    direct) port=$p_backend; [ "$r" = tls64 ] && port=$p_backend_tls ;;
    switch) port=$p_switch; [ "$r" = tls64 ] && port=$p_switch_tls ;;
    nginx) port=$p_nginx; [ "$r" = tls64 ] && port=$p_nginx_tls ;;
    haproxy) port=$p_haproxy; [ "$r" = tls64 ] && port=$p_haproxy_tls ;;
  esac
  [ "$r" = tls64 ] && scheme=https
  echo "$scheme://127.0.0.1:$port$path"
}

# ------------------------------------------------------------ measuring
# Figures per run/target/round.
declare -A rps p50 p99 errs non2xx total note

# wrk latency figure (e.g. 812.00us, 1.20ms, 2.01s) in milliseconds.
to_ms() {
  awk -v v="$1" 'BEGIN {
    n = v + 0
    if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n = n; else if (v ~ /m$/) n *= 60000; else if (v ~ /s$/) n *= 1000
    printf "%.3f", n }'
}

measure() {  # TARGET RUN ROUND
  local t=$1 r=$2 k=$1/$2/$3 conns=64 hdr=()
  case $r in
    close64) hdr=(-H "Connection: close") ;;
    ka1000) conns=1000 ;;
  esac
  local threads=$nw
  local url; url=$(url_of "$t" "$r")
  local out="$work/wrk-$r-$t-$3.txt"
  if [ "$warmup" != 0 ]; then
    "${on_wrk[@]}" wrk -t"$threads" -c"$conns" -d"${warmup}s" --timeout 5s "${hdr[@]}" "$url" >/dev/null 2>&1 || true
  fi
  if ! "${on_wrk[@]}" wrk -t"$threads" -c"$conns" -d"${duration}s" --timeout 5s --latency "${hdr[@]}" "$url" \
      >"$out" 2>&1; then
    note[$k]="wrk failed"
    return
  fi
  rps[$k]=$(awk '/^Requests\/sec:/ {print $2}' "$out")
  total[$k]=$(awk '/requests in/ {print $1}' "$out")
  p50[$k]=$(to_ms "$(awk '$1 == "50%" {print $2}' "$out")")
  p99[$k]=$(to_ms "$(awk '$1 == "99%" {print $2}' "$out")")
  # connect read write timeout
  errs[$k]=$(awk -F'[ ,]+' '/Socket errors:/ {print $5, $7, $9, $11}' "$out")
  non2xx[$k]=$(awk '/Non-2xx or 3xx responses:/ {print $5}' "$out")
  : "${errs[$k]:=0 0 0 0}" "${non2xx[$k]:=0}"
}

echo "cores: back end ${cpus_backend:-any}, proxy ${cpus_proxy:-any} ($np), wrk ${cpus_wrk:-any} ($nw threads);" \
     "${duration}s per run after ${warmup}s warm-up, $repeat round(s)" >&2
if ! start_backend; then
  echo "the back end did not start:" >&2
  cat "$work/nginx-backend/error.log" "$work/nginx-backend/out.log" >&2 || true
  exit 1
fi
for round in $(seq "$repeat"); do
  for t in $targets; do
    if ! start_target "$t"; then
      echo "$t did not come up; its rows stay empty" >&2
      for r in $runs; do note[$t/$r/$round]="did not start"; done
      [ -n "$started_pid" ] && stop_pid "$started_pid"
      continue
    fi
    for r in $runs; do
      echo "  round $round: $r $t ..." >&2
      measure "$t" "$r" "$round"
    done
    if [ -n "$started_pid" ]; then
      stop_pid "$started_pid"
      # Access log lines written, as a check that logging was on.
      case $t in
        switch) lines=$(cat "$work"/switch/Log/W3C/*/*.log 2>/dev/null | grep -vc '^#' || true) ;;
        nginx) lines=$(wc -l <"$work/nginx-proxy/access.log" 2>/dev/null || echo 0) ;;
        haproxy) lines=$(wc -l <"$work/haproxy-access.log" 2>/dev/null || echo 0) ;;
      esac
      echo "  $t access-log lines so far: $lines" >&2
    fi
  done
done

# ------------------------------------------------------------ table
ratio() {  # VALUE REFERENCE
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'
}
# The round whose requests/s is the median of TARGET RUN's measured rounds.
median_round() {
  local t=$1 r=$2 round list=()
  for round in $(seq "$repeat"); do
    [ -n "${rps[$t/$r/$round]:-}" ] && list+=("${rps[$t/$r/$round]} $round")
  done
  [ ${#list[@]} -gt 0 ] || return 0
  printf '%s\n' "${list[@]}" | sort -g | awk '{ a[NR] = $2 } END { print a[int((NR + 1) / 2)] }'
}
[ "$repeat" -gt 1 ] && echo "figures: median round of $repeat; requests and failures: all rounds"
printf '%-8s %-8s %10s %6s %9s %6s %9s %6s %10s %17s %8s\n' \
  run target 'req/s' 'x dir' 'p50 ms' 'x dir' 'p99 ms' 'x dir' requests 'sock err c/r/w/t' 'non-2xx'
for r in $runs; do
  md=$(median_round direct "$r"); d=direct/$r/$md
  for t in $targets; do
    m=$(median_round "$t" "$r")
    if [ -z "$m" ]; then
      printf '%-8s %-8s %s\n' "$r" "$t" "${note[$t/$r/1]:-no figures}"
      continue
    fi
    k=$t/$r/$m
    sum_total=0; sum_non2xx=0; c=0; rd=0; w=0; to=0
    for round in $(seq "$repeat"); do
      [ -n "${rps[$t/$r/$round]:-}" ] || continue
      sum_total=$((sum_total + total[$t/$r/$round]))
      sum_non2xx=$((sum_non2xx + non2xx[$t/$r/$round]))
      read -r a b e f <<<"${errs[$t/$r/$round]}"
      c=$((c + a)); rd=$((rd + b)); w=$((w + e)); to=$((to + f))
    done
    printf '%-8s %-8s %10.0f %6s %9.3f %6s %9.3f %6s %10s %17s %8s\n' "$r" "$t" \
      "${rps[$k]}" "$(ratio "${rps[$k]}" "${rps[$d]:-}")" \
      "${p50[$k]}" "$(ratio "${p50[$k]}" "${p50[$d]:-}")" \
      "${p99[$k]}" "$(ratio "${p99[$k]}" "${p99[$d]:-}")" \
      "$sum_total" "$c/$rd/$w/$to" "$sum_non2xx"
  done
done
