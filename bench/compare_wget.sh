#!/usr/bin/env bash
# Serves generated sites with nginx on 127.0.0.1 and mirrors each with mirror-bench
# and with GNU Wget (wget -r -l N -k -p -nH -e robots=off), in one run; for the large
# file also with curl -o. Prints wall times, maximum resident sets and ratios.
#
#   bench/compare_wget.sh [BUILD_DIR] [LARGE_MIB]     (defaults: build-bench, 256)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
large_mib="${2:-256}"
bash scripts/install-deps.sh
if [ ! -x "$build/mirror-bench" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF -DTANDRIL_BENCH=ON
    cmake --build "$build" -j2 --target mirror-bench
fi
runner="$(cd "$build" && pwd)/mirror-bench"

work=$(mktemp -d /tmp/tandril-bench-XXXXXX)
chmod 755 "$work"  # nginx workers may run as another user
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# --- the sites -------------------------------------------------------------------
site="$work/www"
mkdir -p "$site/pages" "$site/big"
{
    echo "<html><head><title>Index</title></head><body><h1>Pages</h1><ul>"
    for i in $(seq 0 1999); do echo "<li><a href=\"pages/p$i.html\">Page $i</a></li>"; done
    echo "</ul></body></html>"
} > "$site/index.html"
filler=$(printf 'Tandril copies a web site into a local directory. %.0s' $(seq 1 30))
for i in $(seq 0 1999); do
    n=$(( (i + 1) % 2000 )); p=$(( (i + 1999) % 2000 ))
    printf '<html><head><title>Page %d</title></head><body>\n<p>%s</p>\n<a href="p%d.html">next</a> <a href="p%d.html">previous</a> <a href="../index.html">index</a>\n</body></html>\n' \
        "$i" "$filler" "$n" "$p" > "$site/pages/p$i.html"
done
head -c "$((large_mib * 1024 * 1024))" /dev/urandom > "$site/big/large.bin"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
error_log $work/nginx/logs/error.log warn;
pid $work/nginx/nginx.pid;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    keepalive_requests 100000;
    types { text/html html htm; application/octet-stream bin; }
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server { listen 127.0.0.1:$port; root $site; }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 1 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/index.html" && break
    sleep 0.1
done

# Runs a command, prints "seconds max_rss_kib".
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/out" 2> "$work/err" || {
        tail -5 "$work/err" >&2
        echo "command failed: $*" >&2; cat "$work/err" >&2; exit 1; }
    cat "$work/time"
}

report() {  # name tandril_line wget_line
    read -r t_s t_kb <<< "$2"
    read -r w_s w_kb <<< "$3"
    ratio=$(python3 -c "print(f'{$t_s / $w_s:.2f}' if $w_s > 0 else 'n/a')")
    printf '%-22s mirror-bench %7.2f s %7d KiB | wget %7.2f s %7d KiB | time ratio %s\n' \
        "$1" "$t_s" "$t_kb" "$w_s" "$w_kb" "$ratio"
}

url="http://127.0.0.1:$port"

rm -rf "$work/m1" "$work/w1"
t=$(measure ${PROFILE_WRAPPER:-} "$runner" --url "$url/index.html" --dir "$work/m1" --levels 1 --files 10000 --mb 2048)
files=$(python3 -c "import json; print(json.load(open('$work/out'))['files'])")
w=$(cd "$work" && mkdir -p w1 && cd w1 && measure wget -nv -r -l 1 -k -p -nH -e robots=off "$url/index.html")
report "2,000 small pages" "$t" "$w"
echo "  (mirror-bench fetched $files files; wget fetched $(find "$work/w1" -type f | wc -l))"

rm -rf "$work/m1" "$work/w1"
t=$(measure "$runner" --url "$url/big/large.bin" --dir "$work/m2")
w=$(cd "$work" && mkdir -p w2 && cd w2 && measure wget -nv -r -l 1 -k -p -nH -e robots=off "$url/big/large.bin")
c=$(measure curl -s -o "$work/curl-large.bin" "$url/big/large.bin")
report "${large_mib} MiB file" "$t" "$w"
read -r c_s c_kb <<< "$c"
read -r t_s _ <<< "$t"
printf '%-22s curl -o      %7.2f s %7d KiB | mirror-bench / curl time ratio %s\n' "" "$c_s" "$c_kb" \
    "$(python3 -c "print(f'{$t_s / $c_s:.2f}' if $c_s > 0 else 'n/a')")"
cmp -s "$work/m2/big/large.bin" "$site/big/large.bin" && echo "  (the mirrored file is byte for byte the served one)"
