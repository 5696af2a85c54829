#!/usr/bin/env bash
# Requests per second of the quote server's GETLASTQUOTE beside nginx serving the same reply
# bytes as a static file, one request per connection, on 127.0.0.1, in the same run with wrk:
# once for one symbol and once for every symbol of a 5,000-symbol table ("*").
# Usage: run_quote_bench.sh [BUILD_DIR] [DURATION_S] [CONNECTIONS]
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../../build}
DURATION=${2:-10}
CONNS=${3:-32}
THREADS=${WRK_THREADS:-4}
SERVER="$BUILD/bench/net/bench_quote_server"
[ -x "$SERVER" ] || { echo "missing $SERVER (build target bench_quote_server)"; exit 1; }
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
mkdir -p "$WORK/www" "$WORK/tmp"

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
"$NGINX" -c "$WORK/nginx.conf" -p "$WORK" &
NGINX_PID=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1',$NGINX_PORT),1)" 2>/dev/null && break
  sleep 0.1
done

run_wrk() {  # port path
  wrk -t"$THREADS" -c"$CONNS" -d"${DURATION}s" -H 'Connection: close' "http://127.0.0.1:$1$2" \
    | awk '/Requests\/sec/ {print $2} /Non-2xx|Socket errors/ {print > "/dev/stderr"}'
}

bench_case() {  # label symbols path
  coproc SRV { "$SERVER" "$2"; }
  SERVER_PID=$SRV_PID
  local port
  read -r port <&"${SRV[0]}"
  # nginx serves our reply's bytes for the same URL (it ignores the query).
  curl -s "http://127.0.0.1:$port$3" > "$WORK/www/REQ"
  head -c 5 "$WORK/www/REQ" | grep -q '<PRE>' || { echo "no reply from our server"; exit 1; }
  curl -s "http://127.0.0.1:$NGINX_PORT$3" | cmp -s - "$WORK/www/REQ" || { echo "nginx body differs"; exit 1; }
  local bytes
  bytes=$(stat -c %s "$WORK/www/REQ")
  run_wrk "$port" "$3" >/dev/null  # warm-up
  local o1 r1 o2 r2
  o1=$(run_wrk "$port" "$3"); r1=$(run_wrk "$NGINX_PORT" "$3")
  o2=$(run_wrk "$port" "$3"); r2=$(run_wrk "$NGINX_PORT" "$3")
  kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=
  python3 - "$1" "$bytes" "$CONNS" "$o1" "$r1" "$o2" "$r2" <<'PY'
import sys
label, size, conns = sys.argv[1], int(sys.argv[2]), sys.argv[3]
o1, r1, o2, r2 = map(float, sys.argv[4:8])
ours, ref = (o1 + o2) / 2, (r1 + r2) / 2
print(f"{label}: reply {size} bytes, connection per request, {conns} connections")
print(f"  quote server : {ours:12.0f} req/s  ({o1:.0f}, {o2:.0f})")
print(f"  nginx        : {ref:12.0f} req/s  ({r1:.0f}, {r2:.0f})")
print(f"  ratio        : {ours / ref:12.2f}x  (goal >= 0.70x)")
PY
}

bench_case "GETLASTQUOTE, 1 symbol" 1 "/REQ?GETLASTQUOTE(S0000)"
bench_case "GETLASTQUOTE(*), 5000 symbols" 5000 "/REQ?GETLASTQUOTE(*)"
