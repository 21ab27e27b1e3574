# Sourced by the side-by-side benchmarks (web files, HTTPS): installs what is
# missing, finds nginx, makes the work folder and removes it with both servers
# when the script ends. The script sets CORVEL_PID and NGINX_PID once it starts
# them. Usage: NEEDED="wrk" . bench/side_by_side.sh

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
