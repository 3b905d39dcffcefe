#!/usr/bin/env bash
# Real documentation sets from Debian packages (MkDocs, Sphinx and Doxygen output),
# served by nginx on 127.0.0.1, mirrored at level 2 by mirror-bench (links modified,
# and portable links) and by GNU Wget (-r -l 2 -k -p -E -nH -e robots=off). Then the
# server is stopped and each copy is checked as it opens from disk:
#   - bench/copy_report.py: references missing locally, references left pointing at
#     the server (embedded ones and hyperlinks apart), pages with every stylesheet;
#   - bench/browser_check.py: headless Chromium, with loopback as its only network,
#     opens PAGES saved pages of each copy and counts failed loads of images,
#     stylesheets, fonts and scripts.
# The portable copy is checked after its folder has been moved.
#
#   bench/real_docs.sh [BUILD_DIR] [PAGES]     (defaults: build-bench, 30)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
pages="${2:-30}"
bash scripts/install-deps.sh --docs
if [ ! -x "$build/mirror-bench" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF -DTANDRIL_BENCH=ON
fi
cmake --build "$build" -j2 --target mirror-bench >/dev/null
runner="$(cd "$build" && pwd)/mirror-bench"
here="$(pwd)"

work=$(mktemp -d /tmp/tandril-docs-XXXXXX)
chmod 755 "$work"
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

declare -A roots=(
    [mkdocs]=/usr/share/doc/mkdocs/html
    [sphinx]=/usr/share/doc/sphinx-doc/html
    [doxygen]=/usr/share/doc/doxygen/html
)
sites=(mkdocs sphinx doxygen)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx/logs"
{
    echo "worker_processes 1; daemon off; pid $work/nginx/nginx.pid;"
    echo "error_log $work/nginx/logs/error.log warn;"
    echo "events { worker_connections 256; }"
    echo "http { include /etc/nginx/mime.types; access_log off; sendfile on;"
    for t in client_body proxy fastcgi uwsgi scgi; do echo " ${t}_temp_path $work/nginx/$t;"; done
    echo " server { listen 127.0.0.1:$port;"
    for s in "${sites[@]}"; do echo "  location /$s/ { alias ${roots[$s]}/; }"; done
    echo " }"
    echo "}"
} > "$work/nginx/nginx.conf"
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
live="http://127.0.0.1:$port"
for _ in $(seq 1 50); do
    curl -s -o /dev/null "$live/mkdocs/index.html" && break
    sleep 0.1
done

for s in "${sites[@]}"; do
    url="$live/$s/index.html"
    mkdir -p "$work/$s"
    "$runner" --url "$url" --dir "$work/$s/tandril" --levels 2 --files 10000 --mb 2048 \
        > "$work/$s/tandril.json" 2> "$work/$s/tandril.log" || true
    "$runner" --url "$url" --dir "$work/$s/portable" --levels 2 --files 10000 --mb 2048 \
        --relative-links > /dev/null 2>&1 || true
    mkdir -p "$work/$s/wget" "$work/$s/moved"
    (cd "$work/$s/wget" && wget -q -r -l 2 -k -p -E -nH -e robots=off "$url" || true)
    mv "$work/$s/portable" "$work/$s/moved/portable-elsewhere"
done
kill "$nginx_pid"
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""

printf '%-8s %-9s %6s %6s %8s %8s %8s %8s %9s %8s %7s | %s\n' site copy files pages missing \
    "(served)" css_miss live_emb live_link "(in copy)" styled "browser: failed/requests (by type)"
for s in "${sites[@]}"; do
    for copy in tandril portable wget; do
        dir="$work/$s/$copy"
        [ "$copy" = portable ] && dir="$work/$s/moved/portable-elsewhere"
        files=$(find "$dir" -type f ! -name '~tmp~*' | wc -l)
        report=$(python3 "$here/bench/copy_report.py" "$dir/" "$live" "$s" "${roots[$s]}")
        browser=$(unshare -n sh -c "ip link set lo up && python3 '$here/bench/browser_check.py' '$dir' $pages")
        python3 - "$s" "$copy" "$files" "$report" "$browser" <<'PY'
import json, sys
site, copy, files, report, browser = sys.argv[1], sys.argv[2], sys.argv[3], json.loads(sys.argv[4]), json.loads(sys.argv[5])
print(f"{site:<8} {copy:<9} {files:>6} {report['pages']:>6} {report['missing']:>8} "
      f"{report['missing_served']:>8} {report['missing_css']:>8} "
      f"{report['live_embedded']:>8} {report['live_links']:>9} {report['live_in_copy']:>9} "
      f"{report['styled']:>7} | "
      f"{browser['failed']}/{browser['requests']} in {browser['pages']} pages {browser['failed_by_type']}")
for e in report["missing_examples"][:3]:
    print("    missing, on the server:", e)
for e in browser["examples"][:3]:
    print("    failed load:", e)
PY
    done
done
