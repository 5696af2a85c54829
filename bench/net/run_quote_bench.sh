#!/usr/bin/env bash
# Requests per second of the quote server's GETLASTQUOTE beside nginx serving the same reply
# bytes as a static file, one request per connection, on 127.0.0.1, in the same run with wrk:
# once for one symbol and once for every symbol of a 5,000-symbol table ("*").
# No quote arrives during these runs, so after the first request both cases are served from the
# server's reply cache; the uncached figure (building the 5,000-line reply each time) is printed
# last, from bench_quote_replies.
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

bench_case() {  # label symbols path
  coproc SRV { "$SERVER" "$2"; }
  SERVER_PID=$SRV_PID
  local port
  read -r port <&"${SRV[0]}"
  # nginx serves our reply's bytes for the same URL (it ignores the query).
  curl -s "http://127.0.0.1:$port$3" > "$WORK/www/REQ"
  head -c 5 "$WORK/www/REQ" | grep -q '<PRE>' || { echo "no reply from our server"; exit 1; }
  curl -s "http://127.0.0.1:$NGINX_PORT$3" | cmp -s - "$WORK/www/REQ" || { echo "nginx body differs"; exit 1; }
  compare "$1" "quote server" "$port" "$3"
  kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=
}

bench_case "GETLASTQUOTE, 1 symbol" 1 "/REQ?GETLASTQUOTE(S0000)"
bench_case "GETLASTQUOTE(*), 5000 symbols" 5000 "/REQ?GETLASTQUOTE(*)"

REPLIES="$BUILD/bench/net/bench_quote_replies"
if [ -x "$REPLIES" ]; then
  echo "Uncached: GETLASTQUOTE(*) reply built from 5000 symbols (no reply cache, no socket)"
  "$REPLIES" --benchmark_filter='^BM_LastQuotesAllSymbols$' | grep BM_LastQuotesAllSymbols |
    awk '{ printf "  %s %s per reply = %.0f replies/s\n", $2, $3, ($3 == "us" ? 1e6 : $3 == "ms" ? 1e3 : 1e9) / $2 }'
else
  echo "missing $REPLIES (build target bench_quote_replies) for the uncached figure"
fi
