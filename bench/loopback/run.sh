#!/usr/bin/env bash
# Loopback load runs: requests/s and latency percentiles (wrk --latency) of a
# fixed back end (nginx serving static files, access log off) reached
#   direct          - the back end itself,
#   switch          - build/vantrell prog in front of it,
#   switch-before   - a second build of the switch (BENCH_BEFORE_BUILD), so
#                     that before/after figures come from one run,
#   switch-threads, switch-fibers - build/vantrell with its connections on OS
#                     threads or on the fiber runtime (VT_RUNTIME); likewise
#                     switch-before-threads and switch-before-fibers,
#   nginx, haproxy  - the peers as pooling proxies: keep-alive to the back end,
#                     back-end connections shared between clients,
#   nginx-1to1      - nginx without upstream keep-alive (a back-end connection
#                     per request),
#   haproxy-1to1    - HAProxy with "http-reuse never" (a back-end connection
#                     per client connection, as the switch keeps them),
# all proxies with the access log on to a file, on the same cores. Runs:
#   ka64     64 keep-alive connections, 1 KiB file
#   close64  64 connections, every request with "Connection: close"
#   ka1000   1000 keep-alive connections
#   tls64    64 keep-alive connections over HTTPS, TLS ended by the proxy
#            (direct: by the back end itself)
#   page16k  a 16 KiB file, 64 keep-alive connections
#   page16k1 a 16 KiB file, 1 keep-alive connection
#   page1m   a 1 MiB file, 64 keep-alive connections (see the MB/s column)
#   idle10k  10,000 idle keep-alive connections (each served one request
#            first), then the ka64 load beside them; the row adds the
#            proxy's RSS and how many idle connections failed or were closed
# Prints one table with each figure and its ratio to the direct run, and the
# failed requests (socket errors, non-2xx/3xx responses), then each switch
# target against HAProxy and the best one-to-one peer. With BENCH_SYSCALLS=1
# one more ka64 and close64 run per switch target under `perf stat` (or
# strace -c) prints the switch's syscalls, context switches and CPU time per
# request: on a loaded machine these move less than requests/s do.
#
# A benchmark, not a test: CI never runs it. Settings (environment):
#   BENCH_DURATION=10    seconds per measured run
#   BENCH_WARMUP=2       seconds of load before each measured run (0: none)
#   BENCH_REPEAT=1       rounds over all targets; the table shows each figure's
#                        median round, and requests and failures of all rounds
#   BENCH_RUNS="ka64 close64 ka1000 tls64 page16k page16k1 page1m idle10k"
#   BENCH_TARGETS="direct switch [switch-before] nginx haproxy nginx-1to1 haproxy-1to1"
#   BENCH_BUILD=<repo>/build   build folder of the switch
#   BENCH_BEFORE_BUILD=<dir>   build folder of a second switch build (with its
#                        vantrell built; it is never rebuilt): adds the target
#                        "switch-before"
#   BENCH_SYSCALLS=1     syscalls, context switches and CPU time per request
#                        (ka64, and close64 when it is among the runs)
#   BENCH_IDLE=10000     idle connections of the idle10k run
#   BENCH_NO_INSTALL=1   do not apt-get the tools
#   BENCH_NO_BUILD=1     use the build folder as it is
#   BENCH_NETNS=0        do not run in a private network namespace
#   BENCH_PIN=both       every run twice: pinned (back end, proxy and wrk each
#                        on their own cores), then unpinned (the same process
#                        and thread counts sharing every core, as on a user's
#                        machine); one table per mode and a summary of both.
#                        BENCH_PIN=1: pinned only, BENCH_PIN=0: unpinned only
#   BENCH_KEEP=1         keep the work folder (configs, logs, wrk outputs)
#   BENCH_SWITCH_CMD     prefix for the switch, e.g. "perf record -g --"
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)
build=${BENCH_BUILD:-$src/build}
duration=${BENCH_DURATION:-10}
warmup=${BENCH_WARMUP:-2}
repeat=${BENCH_REPEAT:-1}
before_build=${BENCH_BEFORE_BUILD:-}
[ -z "$before_build" ] || before_build=$(cd "$before_build" && pwd)
runs=${BENCH_RUNS:-ka64 close64 ka1000 tls64 page16k page16k1 page1m idle10k}
if [ -n "${BENCH_TARGETS:-}" ]; then
  targets=$BENCH_TARGETS
elif [ -n "$before_build" ]; then
  targets="direct switch switch-before nginx haproxy nginx-1to1 haproxy-1to1"
else
  targets="direct switch nginx haproxy nginx-1to1 haproxy-1to1"
fi
idle_count=${BENCH_IDLE:-10000}
syscalls=${BENCH_SYSCALLS:-1}

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
  inner=(bash "${BASH_SOURCE[0]}" --inner)
  if [ "${BENCH_NETNS:-1}" = 1 ] && unshare -n true 2>/dev/null; then
    inner=(unshare -n -- "${inner[@]}")
  fi
  case ${BENCH_PIN:-both} in
    both)
      summary=$(mktemp /tmp/vt-loopback-summary.XXXXXX)
      rc=0
      for mode in 1 0; do
        BENCH_PIN=$mode BENCH_SUMMARY=$summary "${inner[@]}" || rc=$?
        echo
      done
      echo "== both modes: the switch against its peers (req/s and p99 as ratios of the peer's)"
      cat "$summary"
      rm -f "$summary"
      exit "$rc" ;;
    0 | 1) exec "${inner[@]}" ;;
    *) echo "BENCH_PIN must be both, 1 or 0" >&2; exit 2 ;;
  esac
fi

# ------------------------------------------------------------ inner part
# A new namespace starts with its loopback down.
[ "${BENCH_NETNS:-1}" = 1 ] && { ip link set lo up 2>/dev/null || true; }
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
fds=$(ulimit -n)
[ "$fds" = unlimited ] && fds=65536
# A proxy holds two descriptors per idle connection (its back-end connection
# stays open too): past the descriptor limit it can accept nothing more, and
# the load beside the idle connections would measure that limit instead.
if [ $((2 * idle_count + 400)) -gt "$fds" ]; then
  echo "idle10k: $idle_count idle connections do not fit in $fds descriptors per process; using $(((fds - 400) / 2))" >&2
  idle_count=$(((fds - 400) / 2))
fi

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

# Cores: back end, proxy under test and wrk each get their own share, as
# workers and threads (the switch as carriers, VT_CARRIERS); pinned, each also
# runs only on its own cores. Unpinned the counts stay, so both modes differ
# only in the sharing.
ncpu=$(nproc)
pinned=${BENCH_PIN:-1}
if [ "$ncpu" -ge 3 ]; then
  nb=$((ncpu / 4)); [ "$nb" -ge 1 ] || nb=1
  np=$(((ncpu - nb) / 2))
  nw=$((ncpu - nb - np))
else
  nb=1; np=1; nw=1; pinned=0
fi
if [ "$pinned" = 1 ]; then
  mode=pinned
  cpus_backend="0-$((nb - 1))"
  cpus_proxy="$nb-$((nb + np - 1))"
  cpus_wrk="$((nb + np))-$((ncpu - 1))"
  on_backend=(taskset -c "$cpus_backend"); on_proxy=(taskset -c "$cpus_proxy"); on_wrk=(taskset -c "$cpus_wrk")
else
  mode=unpinned
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
for v in p_backend p_backend_tls p_switch p_switch_tls p_nginx p_nginx_tls p_haproxy p_haproxy_tls \
    p_nginx1 p_nginx1_tls p_haproxy1 p_haproxy1_tls; do
  take_port "$v"
done

# ------------------------------------------------------------ files
mkdir -p "$work/www" "$work/cert" "$work/switch/data/cert" "$work/nginx-backend" "$work/nginx-proxy" \
  "$work/nginx-proxy1"
head -c 1024 /dev/zero | tr '\0' 'x' > "$work/www/1k.txt"
head -c 16384 /dev/zero | tr '\0' 'y' > "$work/www/16k.txt"
head -c 1048576 /dev/zero | tr '\0' 'z' > "$work/www/1m.txt"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -keyout "$work/cert/bench.key" -out "$work/cert/bench.crt" 2>/dev/null
cat "$work/cert/bench.crt" "$work/cert/bench.key" > "$work/cert/bench.pem"
cp "$work/cert/bench.crt" "$work/cert/bench.key" "$work/switch/data/cert/"
path=/1k.txt
path_of() {  # RUN
  case $1 in
    page16k*) echo /16k.txt ;;
    page1m) echo /1m.txt ;;
    *) echo "$path" ;;
  esac
}

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
events { worker_connections 32768; }
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

# The same without upstream keep-alive: every request opens its own
# back-end connection.
cat > "$work/nginx-proxy1/nginx.conf" <<EOF
$(nginx_common "$work/nginx-proxy1")
worker_processes $np;
worker_cpu_affinity auto;
worker_rlimit_nofile $fds;
events { worker_connections 32768; }
http {
$(nginx_http_common "$work/nginx-proxy1")
  access_log $work/nginx-proxy1/access.log combined;
  server {
    listen 127.0.0.1:$p_nginx1 backlog=4096;
    listen 127.0.0.1:$p_nginx1_tls ssl backlog=4096;
    ssl_certificate $work/cert/bench.crt;
    ssl_certificate_key $work/cert/bench.key;
    location / {
      proxy_pass http://127.0.0.1:$p_backend;
      proxy_http_version 1.1;
    }
  }
}
EOF

# HAProxy: REUSE of back-end connections (always / never), PORT, TLS PORT.
haproxy_cfg() {
  local reuse=$1 port=$2 port_tls=$3
  cat <<EOF
global
  maxconn $(( (fds - 200) / 2 > 30000 ? 30000 : (fds - 200) / 2 ))
  nbthread $np
  log stdout format raw local0 info
defaults
  mode http
  log global
  option httplog
  option http-keep-alive
  http-reuse $reuse
  timeout connect 5s
  timeout client 60s
  timeout server 60s
frontend bench
  bind 127.0.0.1:$port
  bind 127.0.0.1:$port_tls ssl crt $work/cert/bench.pem
  default_backend backend
backend backend
  server b1 127.0.0.1:$p_backend
EOF
}
haproxy_cfg always "$p_haproxy" "$p_haproxy_tls" > "$work/haproxy.cfg"
haproxy_cfg never "$p_haproxy1" "$p_haproxy1_tls" > "$work/haproxy1.cfg"

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
backend_pid=""
start_backend() {
  "${on_backend[@]}" nginx -c "$work/nginx-backend/nginx.conf" >"$work/nginx-backend/out.log" 2>&1 &
  started_pid=$!; pids+=("$started_pid"); backend_pid=$started_pid
  wait_ready "http://127.0.0.1:$p_backend$path" "$started_pid"
}

# Starts TARGET; sets started_pid. False when it does not come up.
start_target() {
  started_pid=""
  case $1 in
    direct) return 0 ;;
    switch | switch-*)
      local bin=$build/vantrell runtime=(env VT_CARRIERS="$np")
      [[ $1 == switch-before* ]] && bin=$before_build/vantrell
      [[ $1 == *-threads ]] && runtime+=(VT_RUNTIME=threads)
      [[ $1 == *-fibers ]] && runtime+=(VT_RUNTIME=fibers)
      # Room for the idle10k run's connections: a full pool would end
      # keep-alive waits at once.
      (cd "$work/switch" &&
        "$build/bench/bench_settings" --port "$p_switch" --backend-port "$p_backend" \
          --https-port "$p_switch_tls" --cert bench.crt --key bench.key --max-threads 12000 >/dev/null)
      (cd "$work/switch" && exec ${BENCH_SWITCH_CMD:-} "${runtime[@]}" "${on_proxy[@]}" "$bin" prog) >"$work/switch/out.log" 2>&1 &
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
    nginx-1to1)
      "${on_proxy[@]}" nginx -c "$work/nginx-proxy1/nginx.conf" >"$work/nginx-proxy1/out.log" 2>&1 &
      started_pid=$!; pids+=("$started_pid")
      wait_ready "http://127.0.0.1:$p_nginx1$path" "$started_pid" ;;
    haproxy-1to1)
      "${on_proxy[@]}" haproxy -db -f "$work/haproxy1.cfg" >"$work/haproxy1-access.log" 2>"$work/haproxy1-err.log" &
      started_pid=$!; pids+=("$started_pid")
      wait_ready "http://127.0.0.1:$p_haproxy1$path" "$started_pid" ;;
    *) echo "unknown target $1" >&2; return 1 ;;
  esac
}

url_of() {  # TARGET RUN
  local t=$1 r=$2 scheme=http port
  case $t in
    direct) port=$p_backend; [ "$r" = tls64 ] && port=$p_backend_tls ;;
    switch | switch-*) port=$p_switch; [ "$r" = tls64 ] && port=$p_switch_tls ;;
    nginx) port=$p_nginx; [ "$r" = tls64 ] && port=$p_nginx_tls ;;
    haproxy) port=$p_haproxy; [ "$r" = tls64 ] && port=$p_haproxy_tls ;;
    nginx-1to1) port=$p_nginx1; [ "$r" = tls64 ] && port=$p_nginx1_tls ;;
    haproxy-1to1) port=$p_haproxy1; [ "$r" = tls64 ] && port=$p_haproxy1_tls ;;
  esac
  [ "$r" = tls64 ] && scheme=https
  echo "$scheme://127.0.0.1:$port$(path_of "$r")"
}

# ------------------------------------------------------------ measuring
ratio() {  # VALUE REFERENCE
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'
}

# Figures per run/target/round.
declare -A rps p50 p99 errs non2xx total note mbps rss idle_lost
declare -A sys_per_req cs_per_req cpu_per_req

# Holds COUNT idle keep-alive connections to PORT, each after one request
# for PATH; writes "<open> <failed>" to READY once they stand, and on SIGUSR1
# writes to READY.check how many of them the server has closed since.
cat > "$work/idle.py" <<'PY'
import os, selectors, signal, socket, sys, time
port, count, path, ready = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
request = ("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode()

def response_done(data):
    end = data.find(b"\r\n\r\n")
    if end < 0:
        return False
    length = 0
    for line in data[:end].split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    return data.startswith(b"HTTP/1.1 200") and len(data) >= end + 4 + length

held, failed = [], 0
for start in range(0, count, 250):
    batch = []
    for _ in range(min(250, count - start)):
        s = socket.socket()
        s.settimeout(10)
        try:
            s.connect(("127.0.0.1", port))
            s.sendall(request)
            batch.append(s)
        except OSError:
            failed += 1
            s.close()
    for s in batch:
        data = b""
        try:
            while not response_done(data):
                more = s.recv(65536)
                if not more:
                    break
                data += more
        except OSError:
            pass
        if response_done(data):
            held.append(s)
        else:
            failed += 1
            s.close()

def check(*_):
    closed = 0
    for s in held:
        s.setblocking(False)
        try:
            if s.recv(1) == b"":
                closed += 1
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    with open(ready + ".check", "w") as f:
        f.write("%d\n" % closed)
    sys.exit(0)

signal.signal(signal.SIGUSR1, check)
with open(ready + ".tmp", "w") as f:
    f.write("%d %d\n" % (len(held), failed))
os.rename(ready + ".tmp", ready)
while True:
    time.sleep(3600)
PY

# Resident memory (MB) of PID and its descendants.
rss_mb() {
  local all=($1) p
  for p in $(pgrep -P "$1" 2>/dev/null); do all+=("$p"); done
  local kb=0 v
  for p in "${all[@]}"; do
    v=$(awk '/^VmRSS:/ {print $2}' "/proc/$p/status" 2>/dev/null || echo 0)
    kb=$((kb + ${v:-0}))
  done
  echo $((kb / 1024))
}

# wrk rate (e.g. 12.34MB, 800.00KB, 1.20GB) in MB/s.
to_mbps() {
  awk -v v="$1" 'BEGIN {
    n = v + 0
    if (v ~ /GB$/) n *= 1024; else if (v ~ /KB$/) n /= 1024; else if (v ~ /B$/ && v !~ /MB$/) n /= 1048576
    printf "%.1f", n }'
}

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
    page16k1) conns=1 ;;
  esac
  local threads=$nw
  [ "$threads" -le "$conns" ] || threads=$conns
  local url; url=$(url_of "$t" "$r")
  local out="$work/wrk-$r-$t-$3.txt"
  local idle_pid="" ready="$work/idle-$t-$3.ready" target_pid=${started_pid:-$backend_pid}
  if [ "$r" = idle10k ]; then
    local port=${url#http://127.0.0.1:}; port=${port%%/*}
    "${on_wrk[@]}" python3 "$work/idle.py" "$port" "$idle_count" "$path" "$ready" &
    idle_pid=$!; pids+=("$idle_pid")
    for _ in $(seq 1200); do [ -f "$ready" ] && break; sleep 0.1; done
    if [ ! -f "$ready" ]; then
      note[$k]="idle connections not up"
      stop_pid "$idle_pid"
      return
    fi
  fi
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
  mbps[$k]=$(to_mbps "$(awk '/^Transfer\/sec:/ {print $2}' "$out")")
  : "${errs[$k]:=0 0 0 0}" "${non2xx[$k]:=0}"
  if [ -n "$idle_pid" ]; then
    rss[$k]=$(rss_mb "$target_pid")
    kill -USR1 "$idle_pid" 2>/dev/null || true
    for _ in $(seq 100); do [ -f "$ready.check" ] && break; sleep 0.1; done
    local up failed closed
    read -r up failed <"$ready"
    closed=$(cat "$ready.check" 2>/dev/null || echo "?")
    idle_lost[$k]="$failed/$closed"
    stop_pid "$idle_pid"
  fi
}

# One more run of TARGET at RUN (ka64, close64) with its process counted:
# syscalls, context switches and CPU time per request (perf stat; strace -c
# -f when perf cannot count, which slows the run down but counts the same
# calls, and counts no switches nor CPU time).
count_syscalls() {  # TARGET RUN
  local t=$1 r=$2 pid=$started_pid url out="$work/wrk-syscalls-$1-$2.txt" cnt="$work/count-$1-$2.txt" hdr=()
  url=$(url_of "$t" "$r")
  [ "$r" = close64 ] && hdr=(-H "Connection: close")
  local counter=()
  if perf stat -e raw_syscalls:sys_enter,context-switches,task-clock -- true >/dev/null 2>&1; then
    perf stat -e raw_syscalls:sys_enter,context-switches,task-clock -x, -o "$cnt" -p "$pid" -- sleep "$duration" &
  else
    timeout -s INT "$duration" strace -c -f -o "$cnt" -p "$pid" &
  fi
  local counter_pid=$!
  "${on_wrk[@]}" wrk -t"$nw" -c64 -d"${duration}s" --timeout 5s "${hdr[@]}" "$url" >"$out" 2>&1 || true
  wait "$counter_pid" 2>/dev/null || true
  local requests calls switches cpu_ms
  requests=$(awk '/requests in/ {print $1}' "$out")
  if grep -q raw_syscalls "$cnt" 2>/dev/null; then
    calls=$(awk -F, '/raw_syscalls/ {print $1}' "$cnt")
    switches=$(awk -F, '/context-switches/ {print $1}' "$cnt")
    cpu_ms=$(awk -F, '/task-clock/ {print $1}' "$cnt")
  else
    calls=$(awk '$NF == "total" {print $(NF-2)}' "$cnt" 2>/dev/null)
    switches=""; cpu_ms=""
  fi
  sys_per_req[$t/$r]=$(ratio "$calls" "$requests")
  cs_per_req[$t/$r]=$(ratio "$switches" "$requests")
  # microseconds of CPU per request
  cpu_per_req[$t/$r]=$(ratio "$(awk -v m="$cpu_ms" 'BEGIN { if (m != "") print m * 1000 }')" "$requests")
}
counted_runs=ka64
[[ " $runs " == *" close64 "* ]] && counted_runs="ka64 close64"

echo "$mode: back end ${cpus_backend:-any core} ($nb), proxy ${cpus_proxy:-any core} ($np), wrk ${cpus_wrk:-any core}" \
     "($nw threads); ${duration}s per run after ${warmup}s warm-up, $repeat round(s); load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
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
    # Counted first: after idle10k the pool holds thousands of threads, and
    # perf opens its counters per thread.
    if [ "$syscalls" = 1 ] && [ "$round" = 1 ] && [[ $t == switch* ]]; then
      for r in $counted_runs; do
        echo "  syscalls per request: $r $t ..." >&2
        count_syscalls "$t" "$r"
      done
    fi
    for r in $runs; do
      echo "  round $round: $r $t ..." >&2
      measure "$t" "$r" "$round"
    done
    if [ -n "$started_pid" ]; then
      stop_pid "$started_pid"
      # Access log lines written, as a check that logging was on.
      case $t in
        switch*) lines=$(cat "$work"/switch/Log/W3C/*/*.log 2>/dev/null | grep -vc '^#' || true) ;;
        nginx) lines=$(wc -l <"$work/nginx-proxy/access.log" 2>/dev/null || echo 0) ;;
        haproxy) lines=$(wc -l <"$work/haproxy-access.log" 2>/dev/null || echo 0) ;;
        nginx-1to1) lines=$(wc -l <"$work/nginx-proxy1/access.log" 2>/dev/null || echo 0) ;;
        haproxy-1to1) lines=$(wc -l <"$work/haproxy1-access.log" 2>/dev/null || echo 0) ;;
      esac
      echo "  $t access-log lines so far: $lines" >&2
    fi
  done
done

# ------------------------------------------------------------ table
# The round whose requests/s is the median of TARGET RUN's measured rounds.
median_round() {
  local t=$1 r=$2 round list=()
  for round in $(seq "$repeat"); do
    [ -n "${rps[$t/$r/$round]:-}" ] && list+=("${rps[$t/$r/$round]} $round")
  done
  [ ${#list[@]} -gt 0 ] || return 0
  printf '%s\n' "${list[@]}" | sort -g | awk '{ a[NR] = $2 } END { print a[int((NR + 1) / 2)] }'
}
echo "== $mode (load before the table: $(cut -d' ' -f1-3 /proc/loadavg))"
[ "$repeat" -gt 1 ] && echo "figures: median round of $repeat; requests and failures: all rounds"
printf '%-8s %-13s %10s %6s %9s %6s %9s %6s %8s %10s %17s %8s\n' \
  run target 'req/s' 'x dir' 'p50 ms' 'x dir' 'p99 ms' 'x dir' 'MB/s' requests 'sock err c/r/w/t' 'non-2xx'
for r in $runs; do
  md=$(median_round direct "$r"); d=direct/$r/$md
  for t in $targets; do
    m=$(median_round "$t" "$r")
    if [ -z "$m" ]; then
      printf '%-8s %-13s %s\n' "$r" "$t" "${note[$t/$r/1]:-no figures}"
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
    printf '%-8s %-13s %10.0f %6s %9.3f %6s %9.3f %6s %8s %10s %17s %8s\n' "$r" "$t" \
      "${rps[$k]}" "$(ratio "${rps[$k]}" "${rps[$d]:-}")" \
      "${p50[$k]}" "$(ratio "${p50[$k]}" "${p50[$d]:-}")" \
      "${p99[$k]}" "$(ratio "${p99[$k]}" "${p99[$d]:-}")" \
      "${mbps[$k]:--}" "$sum_total" "$c/$rd/$w/$to" "$sum_non2xx"
  done
done

# Each switch target against the peers: req/s and p99 as ratios of the
# peer's, against HAProxy (pooling) and the best one-to-one peer (its req/s,
# and that peer's p99). Written to BENCH_SUMMARY too, which collects both modes.
peer_summary() {
  local r t m k mh kh best bt mb kb
  printf '%-9s %-8s %-21s %9s %9s %15s %9s\n' mode run target 'x haproxy' 'p99 x hap' 'x best 1to1' 'p99 x it'
  for r in $runs; do
    mh=$(median_round haproxy "$r"); kh=haproxy/$r/$mh
    best=""; bt=""
    for t in nginx-1to1 haproxy-1to1; do
      mb=$(median_round "$t" "$r")
      [ -n "$mb" ] || continue
      kb=$t/$r/$mb
      if [ -z "$best" ] || awk -v a="${rps[$kb]}" -v b="${rps[$best]}" 'BEGIN { exit !(a > b) }'; then
        best=$kb; bt=$t
      fi
    done
    for t in $targets; do
      [[ $t == switch* ]] || continue
      m=$(median_round "$t" "$r")
      [ -n "$m" ] || continue
      k=$t/$r/$m
      printf '%-9s %-8s %-21s %9s %9s %15s %9s\n' "$mode" "$r" "$t" \
        "$( [ -n "$mh" ] && ratio "${rps[$k]}" "${rps[$kh]}" || echo -)" \
        "$( [ -n "$mh" ] && ratio "${p99[$k]}" "${p99[$kh]}" || echo -)" \
        "$( [ -n "$best" ] && echo "$(ratio "${rps[$k]}" "${rps[$best]}") ${bt%-1to1}" || echo -)" \
        "$( [ -n "$best" ] && ratio "${p99[$k]}" "${p99[$best]}" || echo -)"
    done
  done
}
echo
summary_text=$(peer_summary)
echo "$summary_text"
if [ -n "${BENCH_SUMMARY:-}" ]; then
  echo "$summary_text" | { [ -s "$BENCH_SUMMARY" ] && tail -n +2 || cat; } >>"$BENCH_SUMMARY"
fi

if [[ " $runs " == *" idle10k "* ]]; then
  echo
  echo "idle10k: $idle_count idle keep-alive connections, then ka64 beside them"
  printf '%-13s %10s %12s %9s %9s %22s\n' target 'req/s' 'x ka64 alone' 'p99 ms' 'RSS MB' 'idle failed/closed'
  for t in $targets; do
    m=$(median_round "$t" idle10k)
    [ -n "$m" ] || { printf '%-13s %s\n' "$t" "${note[$t/idle10k/1]:-no figures}"; continue; }
    k=$t/idle10k/$m
    ma=$(median_round "$t" ka64)
    printf '%-13s %10.0f %12s %9.3f %9s %22s\n' "$t" "${rps[$k]}" "$(ratio "${rps[$k]}" "${rps[$t/ka64/$ma]:-}")" \
      "${p99[$k]}" "${rss[$k]:--}" "${idle_lost[$k]:--}"
  done
fi

if [ "$syscalls" = 1 ]; then
  echo
  echo "per request (one more run each, counted over the switch's process)"
  printf '%-8s %-13s %10s %18s %12s\n' run target syscalls 'context switches' 'CPU us'
  for r in $counted_runs; do
    for t in $targets; do
      [[ $t == switch* ]] || continue
      printf '%-8s %-13s %10s %18s %12s\n' "$r" "$t" "${sys_per_req[$t/$r]:--}" "${cs_per_req[$t/$r]:--}" \
        "${cpu_per_req[$t/$r]:--}"
    done
  done
fi
