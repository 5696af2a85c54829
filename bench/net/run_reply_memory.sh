#!/usr/bin/env bash
# Memory while 256 clients each send GETLASTQUOTE of 65,000 symbols (a 256 KB request, a reply
# of about 4 MB) and do not read: the quote server (its replies in flight are held to a 256 MB
# budget, past it the busy answer) beside nginx serving the same reply bytes as a static file to
# the same requests, on 127.0.0.1, in the same run. Resident sizes in MB: before, at the peak,
# while the clients wait, and after they left; and how long a well-behaved client waits for a
# one-symbol reply when a slot frees.
# Usage: run_reply_memory.sh [BUILD_DIR] [CLIENTS]
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../../build}
CLIENTS=${2:-256}
SYMBOLS=5000
SERVER="$BUILD/bench/net/bench_quote_server"
PROBE="$BUILD/bench/net/bench_reply_memory"
for b in "$SERVER" "$PROBE"; do [ -x "$b" ] || { echo "missing $b"; exit 1; }; done
DURATION=1 CONNS=1 THREADS=1
NGINX_WORKERS=1
NGINX_HEADER_BUFFERS="4 512k"
source "$(dirname "$0")/wrk_vs_nginx.sh"
start_nginx

coproc SRV { exec "$SERVER" "$SYMBOLS" short; }
SERVER_PID=$SRV_PID
read -r OUR_PORT <&"${SRV[0]}"
# nginx serves a reply of ours for the same URL (it ignores the query). The request line is too
# long for a command line: it is made and sent by Python.
python3 - "$OUR_PORT" "$NGINX_PORT" "$SYMBOLS" "$WORK/www/REQ" <<'PY'
import itertools, string, sys, urllib.request
ours, nginx, symbols, path = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
names = ["".join(t) for t in itertools.product(string.ascii_uppercase, repeat=3)][:symbols]
query = "/REQ?GETLASTQUOTE(T0," + ",".join(names[i % len(names)] for i in range(1, 65000)) + ")"
body = urllib.request.urlopen(f"http://127.0.0.1:{ours}{query}").read()
if not body.startswith(b"<PRE>OK"):
    sys.exit("no reply from our server")
open(path, "wb").write(body)
if urllib.request.urlopen(f"http://127.0.0.1:{nginx}{query}").read() != body:
    sys.exit("nginx body differs")
PY
NGINX_PIDS=$(pgrep -d, -P "$NGINX_PID" || true)
NGINX_PIDS="$NGINX_PID${NGINX_PIDS:+,$NGINX_PIDS}"

echo "$CLIENTS clients, each GETLASTQUOTE of 65,000 symbols (256 KB request, $(stat -c %s "$WORK/www/REQ") byte reply), not reading"
ours=$("$PROBE" "$OUR_PORT" "$SERVER_PID" "$CLIENTS" "$SYMBOLS")
ref=$("$PROBE" "$NGINX_PORT" "$NGINX_PIDS" "$CLIENTS" "$SYMBOLS")
python3 - "$ours" "$ref" <<'PY'
import sys
def parse(line):
    return dict(kv.split("=", 1) for kv in line.split())
ours, ref = parse(sys.argv[1]), parse(sys.argv[2])
print("  memory in MB: resident size plus in-memory files held open (kept replies lie in them)")
print(f"  {'':14} {'before':>8} {'peak':>8} {'(hwm)':>8} {'held':>8} {'(files)':>8} {'after':>8} {'busy':>5} {'waiting':>7} {'probe max':>10}")
for name, r in (("quote server", ours), ("nginx", ref)):
    print(f"  {name:14} {float(r['before']):8.1f} {float(r['peak']):8.1f} {float(r['hwm']):8.1f} {float(r['held']):8.1f}"
          f" {float(r['held_files']):8.1f} {float(r['after']):8.1f} {r['busy']:>5} {r['waiting']:>7}"
          f" {float(r['probe_max_ms']):7.1f} ms" + ("" if r["probes_answered"] == "yes" else "  (a probe got no reply)"))
grow = float(ours['peak']) - float(ours['before'])
back = float(ours['after']) - float(ours['before'])
print(f"  quote server: peak {grow:.1f} MB over its start, against the replies' budget of 256 MB"
      f" (ratio {grow / 256:.2f}); {back:.1f} MB above its start after (goal within 100 MB)")
print(f"  peaks ours/nginx: {float(ours['peak']) / max(float(ref['peak']), 0.1):.2f};"
      f" a well-behaved client when a slot frees: {float(ours['probe_max_ms']):.1f} ms at most, nginx"
      f" {float(ref['probe_max_ms']):.1f} ms (goal within 500 ms)")
PY
