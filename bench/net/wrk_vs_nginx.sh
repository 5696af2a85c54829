# Shared by the wrk benchmarks: a temporary nginx on a loopback port serving $WORK/www, wrk
# runs with one request per connection, and the printed comparison. Source it after setting
# BUILD, DURATION, CONNS and THREADS (and, to change them, NGINX_WORKERS and
# NGINX_HEADER_BUFFERS).
command -v wrk >/dev/null || { echo "wrk not installed (scripts/setup bench)"; exit 1; }
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

start_nginx() {
  NGINX_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat > "$WORK/nginx.conf" <<CONF
worker_processes ${NGINX_WORKERS:-auto};
daemon off;
master_process on;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $WORK/tmp;
  keepalive_timeout 0;
  # Quote requests may name thousands of symbols in the request line.
  large_client_header_buffers ${NGINX_HEADER_BUFFERS:-4 64k};
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
}

run_wrk() {  # port path
  wrk -t"$THREADS" -c"$CONNS" -d"${DURATION}s" -H 'Connection: close' "http://127.0.0.1:$1$2" \
    | awk '/Requests\/sec/ {print $2} /Non-2xx|Socket errors/ {print > "/dev/stderr"}'
}

# Times ours and nginx twice each, alternating, after a warm-up, and prints the comparison.
compare() {  # label ourName ourPort path [goal]
  local bytes o1 r1 o2 r2
  bytes=$(stat -c %s "$WORK/www/REQ")
  run_wrk "$3" "$4" >/dev/null
  o1=$(run_wrk "$3" "$4"); r1=$(run_wrk "$NGINX_PORT" "$4")
  o2=$(run_wrk "$3" "$4"); r2=$(run_wrk "$NGINX_PORT" "$4")
  python3 - "$1" "$2" "$bytes" "$CONNS" "$o1" "$r1" "$o2" "$r2" "${5:-0.70}" <<'PY'
import sys
label, name, size, conns = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
o1, r1, o2, r2 = map(float, sys.argv[5:9])
goal = sys.argv[9]
ours, ref = (o1 + o2) / 2, (r1 + r2) / 2
print(f"{label}: reply {size} bytes, connection per request, {conns} connections")
print(f"  {name:<15}: {ours:12.0f} req/s  ({o1:.0f}, {o2:.0f})")
print(f"  {'nginx':<15}: {ref:12.0f} req/s  ({r1:.0f}, {r2:.0f})")
print(f"  {'ratio':<15}: {ours / ref:12.2f}x  (goal >= {goal}x)")
PY
}
