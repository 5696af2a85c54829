#!/usr/bin/env bash
# Latency of a normal client's request while slow clients hold connections open (each sends
# the start of a request, then a byte a second, never finishing), for the quote server and for
# nginx serving the same reply bytes, on 127.0.0.1, in the same run. A reply counts when it
# comes whole with status 200 within 5 s. The first request comes right behind the crowd.
# Usage: run_slow_clients.sh [BUILD_DIR] [REQUESTS]
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../../build}
REQUESTS=${2:-200}
SERVER="$BUILD/bench/net/bench_quote_server"
PROBE="$BUILD/bench/net/bench_slow_clients"
for b in "$SERVER" "$PROBE"; do [ -x "$b" ] || { echo "missing $b"; exit 1; }; done
DURATION=1 CONNS=1 THREADS=1
source "$(dirname "$0")/wrk_vs_nginx.sh"
start_nginx

coproc SRV { "$SERVER" 100; }
SERVER_PID=$SRV_PID
read -r OUR_PORT <&"${SRV[0]}"
PATH_Q="/REQ?GETLASTQUOTE(S0000)"
curl -s "http://127.0.0.1:$OUR_PORT$PATH_Q" > "$WORK/www/REQ"
curl -s "http://127.0.0.1:$NGINX_PORT$PATH_Q" | cmp -s - "$WORK/www/REQ" || { echo "nginx body differs"; exit 1; }

echo "Normal client's GETLASTQUOTE (one connection each, $REQUESTS in a row) beside slow clients"
printf '  %-6s %-13s %9s %10s %10s %10s %10s\n' slow server answered first_ms median_ms p90_ms max_ms
for slow in 0 200 400 2000; do
  for target in "quote-server $OUR_PORT" "nginx $NGINX_PORT"; do
    set -- $target
    read -r answered median p90 max opened first < <("$PROBE" "$2" "$PATH_Q" "$slow" "$REQUESTS")
    printf '  %-6s %-13s %5s/%-4s %10s %10s %10s %10s\n' "$opened" "$1" "$answered" "$REQUESTS" "$first" "$median" "$p90" "$max"
  done
done
echo "  (goal: with 200 slow clients every request answered, the slowest within 100 ms; behind"
echo "   2000 slow clients the first request as quick as the rest)"
