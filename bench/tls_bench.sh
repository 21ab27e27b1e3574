#!/bin/sh
# HTTPS, side by side: corvel --headless and nginx from Debian serve the same
# folder on loopback with the same certificate (corvel's own, made on its first
# start: a P-256 key). The load client bench/tls_load_client (built with the
# benchmarks) measures new TLS connections per second (a 1 KiB file, one request
# per connection, no session resumed: every request is a full handshake) and MB/s
# of a 10 MiB file, one connection per download. (wrk cannot be used: over TLS it
# counts an answer that ends with the connection, as corvel's web files do, as a
# read error.)
#
#   bench/tls_bench.sh [BUILD_DIR] [SECONDS]
#
# Installs nginx with apt-get when it is missing (needs root). Without nginx only
# corvel's figures are printed. Prints one line per measurement and the ratios;
# leaves nothing running.
set -eu

BUILD_DIR=${1:-build}
SECONDS_PER_RUN=${2:-10}
CORVEL="$BUILD_DIR/bin/corvel"
CLIENT="$BUILD_DIR/bench/tls_load_client"
[ -x "$CORVEL" ] || { echo "no corvel at $CORVEL (build first)" >&2; exit 1; }
[ -x "$CLIENT" ] || { echo "no load client at $CLIENT (build target tls_load_client)" >&2; exit 1; }

NEEDED=""
. "$(dirname "$0")/side_by_side.sh"

make_web_files
CORVEL_PORT=$(free_port)
CORVEL_TLS_PORT=$(free_port)
start_corvel "$CORVEL_PORT" "$CORVEL_TLS_PORT"

wait_for_url "https://localhost:$CORVEL_TLS_PORT/small.bin" --cacert "$DATA/tls-certificate.pem" ||
    { echo "corvel did not start" >&2; cat "$WORK/corvel.out" >&2; exit 1; }

NGINX_PORT=""
if [ -n "$NGINX" ]; then
    NGINX_PORT=$(free_port)
    # The same certificate and key; nginx's master reads the key before its
    # workers drop their rights.
    cp "$DATA/tls-certificate.pem" "$DATA/tls-key.pem" "$WORK/nginx/"
    start_nginx "$NGINX_PORT" " ssl" "        ssl_certificate $WORK/nginx/tls-certificate.pem;
        ssl_certificate_key $WORK/nginx/tls-key.pem;
        ssl_protocols TLSv1.2 TLSv1.3;"
    wait_for_url "https://localhost:$NGINX_PORT/small.bin" --cacert "$DATA/tls-certificate.pem" ||
        { echo "nginx did not start" >&2; exit 1; }
fi

# The client's "answers/s" and "MB/s"; its lines go to $WORK/client.log (shown at the end).
measure() {  # PORT PATH THREADS FIELD
    "$CLIENT" localhost "$1" "$2" "$DATA/tls-certificate.pem" "$3" "$SECONDS_PER_RUN" |
        tee -a "$WORK/client.log" | awk -v f="$4" '{ for (i = 1; i < NF; i++) if ($i == f) print $(i + 1) }'
}
run_pair() {  # NAME PORT
    echo "$1 port $2" >> "$WORK/client.log"
    eval "${1}_RPS=\$(measure $2 /small.bin 4 answers/s)"
    eval "${1}_MB=\$(measure $2 /large.bin 2 MB/s)"
}

run_pair C "$CORVEL_TLS_PORT"
if [ -n "$NGINX" ]; then
    run_pair N "$NGINX_PORT"
    echo "new TLS connections (1 KiB each)   corvel $C_RPS /s   nginx $N_RPS /s"
    echo "10 MiB over HTTPS                  corvel $C_MB MB/s   nginx $N_MB MB/s"
else
    echo "new TLS connections (1 KiB each)   corvel $C_RPS /s   (no nginx to compare with)"
    echo "10 MiB over HTTPS                  corvel $C_MB MB/s"
fi
cat "$WORK/client.log"
if [ -n "$NGINX" ]; then
    awk -v c="$C_RPS" -v n="$N_RPS" -v cm="$C_MB" -v nm="$N_MB" 'BEGIN {
        printf "ratio corvel/nginx: connections %.2f, throughput %.2f (aim >= 0.70 both)\n", c / n, cm / nm }'
fi
