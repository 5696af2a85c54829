#!/usr/bin/env bash
# Requests per second of our HTTP listener beside nginx, one request per connection, both
# serving the same body bytes on 127.0.0.1, measured in the same run with wrk.
# Usage: run_http_bench.sh [BUILD_DIR] [DURATION_S] [CONNECTIONS]
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../../build}
DURATION=${2:-10}
CONNS=${3:-32}
THREADS=${WRK_THREADS:-4}
SERVER="$BUILD/bench/net/bench_net_server"
[ -x "$SERVER" ] || { echo "missing $SERVER (build target bench_net_server)"; exit 1; }
command -v wrk >/dev/null || { echo "wrk not installed"; exit 1; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

WORK=$(mktemp -d)
chmod 755 "$WORK"  # nginx workers may run as another user
cleanup() {
  [ -n "${NGINX_PID:-}" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
  [ -n "${SERVER_PID:-}" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# A quote reply of typical size.
mkdir -p "$WORK/www"
{
  printf '<PRE>OK\r\n'
  for s in ABC XYZ QRS MNO DEF; do printf '%s,15:59:58,101.25,101.2,101.3,100.5,99.75,102.1,1523400,12,15,340,0\r\n' "$s"; done
  printf '</PRE>'
} > "$WORK/www/REQ"

coproc SRV { "$SERVER" "$WORK/www/REQ"; }
SERVER_PID=$SRV_PID
read -r OUR_PORT <&"${SRV[0]}"

NGINX_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$WORK/nginx.conf" <<CONF
worker_processes auto;
daemon off;
master_process on;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $WORK/tmp;
  keepalive_timeout 0;
  default_type text/html;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $WORK/www;
  }
}
CONF
mkdir -p "$WORK/tmp"
"$NGINX" -c "$WORK/nginx.conf" -p "$WORK" &
NGINX_PID=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1',$NGINX_PORT),1)" 2>/dev/null && break
  sleep 0.1
done

run_wrk() {
  wrk -t"$THREADS" -c"$CONNS" -d"${DURATION}s" -H 'Connection: close' "http://127.0.0.1:$1/REQ" \
    | awk '/Requests\/sec/ {print $2} /Non-2xx|Socket errors/ {print > "/dev/stderr"}'
}

# Check both serve the same body before timing.
curl -s "http://127.0.0.1:$OUR_PORT/REQ" | cmp -s - "$WORK/www/REQ" || { echo "our body differs"; exit 1; }
curl -s "http://127.0.0.1:$NGINX_PORT/REQ" | cmp -s - "$WORK/www/REQ" || { echo "nginx body differs"; exit 1; }

run_wrk "$OUR_PORT" >/dev/null  # warm-up
OURS=$(run_wrk "$OUR_PORT")
REF=$(run_wrk "$NGINX_PORT")
OURS2=$(run_wrk "$OUR_PORT")
REF2=$(run_wrk "$NGINX_PORT")
python3 - "$OURS" "$REF" "$OURS2" "$REF2" "$CONNS" <<'PY'
import sys
o1, r1, o2, r2 = map(float, sys.argv[1:5])
ours, ref = (o1 + o2) / 2, (r1 + r2) / 2
print(f"connection-per-request, {sys.argv[5]} connections")
print(f"  vn_net listener : {ours:12.0f} req/s  ({o1:.0f}, {o2:.0f})")
print(f"  nginx           : {ref:12.0f} req/s  ({r1:.0f}, {r2:.0f})")
print(f"  ratio           : {ours / ref:12.2f}x  (goal >= 0.70x)")
PY
