# Sourced by the side-by-side benchmarks (web files, HTTPS): installs what is
# missing, finds nginx, makes the work folder and removes it with both servers
# when the script ends; the files both serve, and starting each server
# (start_corvel, start_nginx set CORVEL_PID and NGINX_PID) and waiting for it.
# Usage: CORVEL=... NEEDED="wrk" . bench/side_by_side.sh

# Installs the named Debian packages that are missing (needs root); nginx-light
# when nginx is not there. Without nginx, NGINX is empty and only corvel runs.
missing=""
for tool in ${NEEDED:-}; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || missing="$missing nginx-light"
if [ -n "$missing" ]; then
    echo "installing:$missing"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing >/dev/null ||
        echo "could not install:$missing" >&2
fi
NGINX=$(command -v nginx 2>/dev/null || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || NGINX=""

WORK=$(mktemp -d)
CORVEL_PID=""
NGINX_PID=""
cleanup() {
    [ -n "$CORVEL_PID" ] && kill "$CORVEL_PID" 2>/dev/null && wait "$CORVEL_PID" 2>/dev/null || true
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# The folder both servers serve ($WORK/www: small.bin of 1 KiB and large.bin of
# 10 MiB, readable for nginx's unprivileged workers) and corvel's data folder with
# its settings: logs and the live trace off, as a production server would run.
DATA="$WORK/home/Norvex/Corvel"
make_web_files() {
    mkdir -p "$WORK/www" "$DATA" "$WORK/nginx"
    chmod 755 "$WORK" "$WORK/www"
    head -c 1024 /dev/urandom > "$WORK/www/small.bin"
    head -c 10485760 /dev/urandom > "$WORK/www/large.bin"
    chmod 644 "$WORK/www/small.bin" "$WORK/www/large.bin"
    printf 'WebBaseDir=%s\nTraceWEB=0\nTraceLive=0\n' "$WORK/www" > "$DATA/settings.inf"
}

# Starts $CORVEL --headless over the work folder's home; sets CORVEL_PID.
start_corvel() {  # PORT HTTPS_PORT (0: none)
    XDG_DATA_HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config" HOME="$WORK/home" \
        "$CORVEL" --headless --port "$1" --https-port "$2" --trace-port 0 > "$WORK/corvel.out" 2>&1 &
    CORVEL_PID=$!
}

# Writes nginx's configuration (one server on 127.0.0.1:PORT serving $WORK/www,
# LISTEN_OPTIONS after the port, SERVER_LINES inside the server block) and starts
# it; sets NGINX_PID.
start_nginx() {  # PORT LISTEN_OPTIONS SERVER_LINES
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
        listen 127.0.0.1:$1$2;
$3
        root $WORK/www;
    }
}
CONF
    "$NGINX" -c "$WORK/nginx/nginx.conf" -p "$WORK/nginx" &
    NGINX_PID=$!
}

# Waits up to ten seconds until curl fetches URL; false when it never does.
wait_for_url() {  # URL [CURL_OPTIONS...]
    url=$1
    shift
    i=0
    until curl -s -o /dev/null "$@" "$url"; do
        i=$((i + 1))
        [ $i -gt 100 ] && return 1
        sleep 0.1
    done
    return 0
}
