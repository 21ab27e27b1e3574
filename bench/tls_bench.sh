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

DATA="$WORK/home/Norvex/Corvel"
mkdir -p "$WORK/www" "$DATA" "$WORK/nginx"
# nginx workers run as an unprivileged user: the files must be readable for it.
chmod 755 "$WORK" "$WORK/www"
head -c 1024 /dev/urandom > "$WORK/www/small.bin"
head -c 10485760 /dev/urandom > "$WORK/www/large.bin"
chmod 644 "$WORK/www/small.bin" "$WORK/www/large.bin"

# corvel: logs and the live trace off, as a production server would run.
printf 'WebBaseDir=%s\nTraceWEB=0\nTraceLive=0\n' "$WORK/www" > "$DATA/settings.inf"
CORVEL_PORT=$(free_port)
CORVEL_TLS_PORT=$(free_port)
XDG_DATA_HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config" HOME="$WORK/home" \
    "$CORVEL" --headless --port "$CORVEL_PORT" --https-port "$CORVEL_TLS_PORT" --trace-port 0 \
    > "$WORK/corvel.out" 2>&1 &
CORVEL_PID=$!

i=0
until curl -s -o /dev/null --cacert "$DATA/tls-certificate.pem" \
    "https://localhost:$CORVEL_TLS_PORT/small.bin"; do
    i=$((i + 1)); [ $i -gt 100 ] && { echo "corvel did not start" >&2; cat "$WORK/corvel.out" >&2; exit 1; }
    sleep 0.1
done

NGINX_PORT=""
if [ -n "$NGINX" ]; then
    NGINX_PORT=$(free_port)
    # The same certificate and key; nginx's master reads the key before its
    # workers drop their rights.
    cp "$DATA/tls-certificate.pem" "$DATA/tls-key.pem" "$WORK/nginx/"
    cat > "$WORK/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $WORK/nginx;
    proxy_temp_path $WORK/nginx;
    fastcgi_temp_path $WORK/nginx;
    uwsgi_temp_path $WORK/nginx;
    scgi_temp_path $WORK/nginx;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$NGINX_PORT ssl;
        ssl_certificate $WORK/nginx/tls-certificate.pem;
        ssl_certificate_key $WORK/nginx/tls-key.pem;
        ssl_protocols TLSv1.2 TLSv1.3;
        root $WORK/www;
    }
}
CONF
    "$NGINX" -c "$WORK/nginx/nginx.conf" -p "$WORK/nginx" &
    NGINX_PID=$!
    i=0
    until curl -s -o /dev/null --cacert "$DATA/tls-certificate.pem" \
        "https://localhost:$NGINX_PORT/small.bin"; do
        i=$((i + 1)); [ $i -gt 100 ] && { echo "nginx did not start" >&2; exit 1; }
        sleep 0.1
    done
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
