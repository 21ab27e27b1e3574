#!/bin/sh
# Static web files, side by side: corvel --headless and nginx from Debian serve the
# same folder on loopback; wrk measures requests per second for a 1 KiB file with a
# new connection per request ("Connection: close") and MB/s for a 10 MiB file.
#
#   bench/web_files_bench.sh [BUILD_DIR] [SECONDS]
#
# Installs wrk and nginx with apt-get when they are missing (needs root). Without
# nginx (not installed and not installable) only corvel's figures are printed.
# Prints one line per measurement and the ratios; leaves nothing running.
set -eu

BUILD_DIR=${1:-build}
SECONDS_PER_RUN=${2:-10}
CORVEL="$BUILD_DIR/bin/corvel"
[ -x "$CORVEL" ] || { echo "no corvel at $CORVEL (build first)" >&2; exit 1; }

NEEDED="wrk"
. "$(dirname "$0")/side_by_side.sh"
command -v wrk >/dev/null 2>&1 || { echo "wrk is needed for the measurements" >&2; exit 1; }

make_web_files
CORVEL_PORT=$(free_port)
start_corvel "$CORVEL_PORT" 0

NGINX_PORT=""
if [ -n "$NGINX" ]; then
    NGINX_PORT=$(free_port)
    start_nginx "$NGINX_PORT" "" ""
fi

for port in $CORVEL_PORT ${NGINX_PORT:-}; do
    wait_for_url "http://127.0.0.1:$port/small.bin" || { echo "server on $port did not start" >&2; exit 1; }
done

# wrk's "Requests/sec" and "Transfer/sec" (converted to MB/s).
# Raw wrk output goes to $WORK/wrk.log (shown at the end).
rps() {
    wrk -t2 -c16 -d"${SECONDS_PER_RUN}s" -H "Connection: close" "$1" | tee -a "$WORK/wrk.log" |
        awk '/Requests\/sec/ {print $2}'
}
mbps() {
    wrk -t1 -c2 -d"${SECONDS_PER_RUN}s" --timeout 10s "$1" | tee -a "$WORK/wrk.log" | awk '/Transfer\/sec/ {
        v = $2; u = v; sub(/[0-9.]+/, "", u); sub(/[A-Za-z]+/, "", v);
        f = (u == "GB") ? 1024 : (u == "MB") ? 1 : (u == "KB") ? 1 / 1024 : 1 / 1048576;
        printf "%.1f\n", v * f }'
}

C_RPS=$(rps "http://127.0.0.1:$CORVEL_PORT/small.bin")
C_MB=$(mbps "http://127.0.0.1:$CORVEL_PORT/large.bin")
if [ -n "$NGINX" ]; then
    N_RPS=$(rps "http://127.0.0.1:$NGINX_PORT/small.bin")
    N_MB=$(mbps "http://127.0.0.1:$NGINX_PORT/large.bin")
    echo "1 KiB, Connection: close   corvel $C_RPS req/s   nginx $N_RPS req/s"
    echo "10 MiB                      corvel $C_MB MB/s   nginx $N_MB MB/s"
else
    echo "1 KiB, Connection: close   corvel $C_RPS req/s   (no nginx to compare with)"
    echo "10 MiB                      corvel $C_MB MB/s"
fi
grep -E "Running|Requests/sec|Transfer/sec|errors|Non-2xx|timeout" "$WORK/wrk.log" || true
if [ -n "$NGINX" ]; then
    awk -v c="$C_RPS" -v n="$N_RPS" -v cm="$C_MB" -v nm="$N_MB" 'BEGIN {
        printf "ratio corvel/nginx: requests %.2f (aim >= 0.70), throughput %.2f (aim >= 0.90)\n", c / n, cm / nm }'
fi
