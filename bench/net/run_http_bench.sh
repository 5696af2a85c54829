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
source "$(dirname "$0")/wrk_vs_nginx.sh"

# A quote reply of typical size.
{
  printf '<PRE>OK\r\n'
  for s in ABC XYZ QRS MNO DEF; do printf '%s,15:59:58,101.25,101.2,101.3,100.5,99.75,102.1,1523400,12,15,340,0\r\n' "$s"; done
  printf '</PRE>'
} > "$WORK/www/REQ"

coproc SRV { "$SERVER" "$WORK/www/REQ"; }
SERVER_PID=$SRV_PID
read -r OUR_PORT <&"${SRV[0]}"
start_nginx

# Check both serve the same body before timing.
curl -s "http://127.0.0.1:$OUR_PORT/REQ" | cmp -s - "$WORK/www/REQ" || { echo "our body differs"; exit 1; }
curl -s "http://127.0.0.1:$NGINX_PORT/REQ" | cmp -s - "$WORK/www/REQ" || { echo "nginx body differs"; exit 1; }
compare "HTTP listener" "vn_net listener" "$OUR_PORT" /REQ
