#!/usr/bin/env bash
# Requests per second of the quote server's GETLASTQUOTE beside nginx serving the same reply
# bytes as a static file, one request per connection, on 127.0.0.1, in the same run with wrk:
#  - cached: no quote arrives, so after the first request the reply comes from the server's
#    reply cache (one symbol, and every symbol of a 5,000-symbol table with "*");
#  - built anew: the quote generation moves on before every request (as on a quote change), so
#    each reply is built from the table;
#  - a long explicit list: GETLASTQUOTE naming 2,500 symbols (a 15 KB request line), cached.
# Last, from bench_quote_replies, the in-memory time to build the 5,000-symbol reply anew, per
# symbol, on one core.
# Usage: run_quote_bench.sh [BUILD_DIR] [DURATION_S] [CONNECTIONS]
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../../build}
DURATION=${2:-10}
CONNS=${3:-32}
THREADS=${WRK_THREADS:-4}
SERVER="$BUILD/bench/net/bench_quote_server"
[ -x "$SERVER" ] || { echo "missing $SERVER (build target bench_quote_server)"; exit 1; }
source "$(dirname "$0")/wrk_vs_nginx.sh"
start_nginx

bench_case() {  # label symbols path goal [changing]
  coproc SRV { "$SERVER" "$2" ${5:-}; }
  SERVER_PID=$SRV_PID
  local port
  read -r port <&"${SRV[0]}"
  # nginx serves our reply's bytes for the same URL (it ignores the query).
  curl -s "http://127.0.0.1:$port$3" > "$WORK/www/REQ"
  head -c 5 "$WORK/www/REQ" | grep -q '<PRE>' || { echo "no reply from our server"; exit 1; }
  curl -s "http://127.0.0.1:$NGINX_PORT$3" | cmp -s - "$WORK/www/REQ" || { echo "nginx body differs"; exit 1; }
  compare "$1" "quote server" "$port" "$3" "$4"
  kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=
}

bench_case "GETLASTQUOTE, 1 symbol, cached reply" 1 "/REQ?GETLASTQUOTE(S0000)" 0.9
bench_case "GETLASTQUOTE(*), 5000 symbols, cached reply" 5000 "/REQ?GETLASTQUOTE(*)" 0.9
bench_case "GETLASTQUOTE, 1 symbol, quotes changed before every request (reply built anew)" \
  1 "/REQ?GETLASTQUOTE(S0000)" 0.5 changing
LONG_LIST=$(python3 -c 'print(",".join("S%04d" % i for i in range(0, 5000, 2)))')
bench_case "GETLASTQUOTE, explicit list of 2500 symbols (15 KB request), cached reply" 5000 \
  "/REQ?GETLASTQUOTE($LONG_LIST)" 0.9

REPLIES="$BUILD/bench/net/bench_quote_replies"
if [ -x "$REPLIES" ]; then
  echo "GETLASTQUOTE(*) reply built anew from 5000 symbols, in memory, one core (no cache, no socket)"
  "$REPLIES" --benchmark_filter='^BM_LastQuotesAllSymbols$' 2>/dev/null | grep BM_LastQuotesAllSymbols |
    awk '{ us = $2 * ($3 == "ms" ? 1e3 : $3 == "ns" ? 1e-3 : 1)
           printf "  %.1f us per reply = %.3f us per symbol  (goal < 0.2 us per symbol)\n", us, us / 5000 }'
else
  echo "missing $REPLIES (build target bench_quote_replies) for the per-symbol figure"
fi
