#!/usr/bin/env bash
# Tandril, Wget and Wget2 over a link of limited bandwidth as well as delay: nginx, with
# gzip on for text, serves Debian's Sphinx documentation in one network namespace; the
# clients run in another, joined by delay-link at RATE kbit/s and a round trip of RTT
# ms. Each copies the set at level LEVELS, in turns, each onto a fresh folder; for each
# run: the wall time, the bytes nginx sent (headers and bodies, from its log) and, for
# the copy saved, its size and what it weighs compressed as nginx compresses it (gzip
# level 1 for text, the bytes themselves for the rest). Needs root.
#
#   bench/bandwidth.sh [BUILD_DIR] [ROUNDS] [RATE_KBIT] [RTT_MS] [LEVELS]
#     defaults: build-bench 3 20000 40 2
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_common.sh
build="${1:-build-bench}"
rounds="${2:-3}"
rate="${3:-20000}"
rtt="${4:-40}"
levels="${5:-2}"
[ "$(id -u)" -eq 0 ] || { echo "bench/bandwidth.sh needs root (namespaces)" >&2; exit 1; }
bash scripts/install-deps.sh --docs
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF \
      -DTANDRIL_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target mirror-bench delay-link >/dev/null
runner="$(cd "$build" && pwd)/mirror-bench"
link="$(cd "$build" && pwd)/delay-link"
docs=/usr/share/doc/sphinx-doc/html

work=$(mktemp -d /tmp/tandril-bandwidth-XXXXXX)
chmod 755 "$work"
cli=tdbw-cli$$
srv=tdbw-srv$$
trap bench_cleanup EXIT

bench_namespaces
server_ip=10.78.0.2
start_delay_link "$rtt" "$rate"

mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1; daemon off; pid $work/nginx/nginx.pid; user root;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    log_format sent '\$bytes_sent \$status \$request_uri';
    access_log $work/nginx/logs/access.log sent;
    keepalive_requests 100000;
    gzip on;
    gzip_types text/css application/javascript text/javascript application/json image/svg+xml
               text/plain application/xml;
    client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi; uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server { listen 10.78.0.2:8080; location /docs/ { alias $docs/; } }
}
CONF
ip netns exec "$srv" nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
sleep 0.5
url="http://10.78.0.2:8080/docs/index.html"
ip netns exec "$cli" curl -s -o /dev/null -w "link: connect %{time_connect} s\n" "$url"

run() {  # name command...
    local name="$1"
    shift
    rm -rf "$work/copy"
    mkdir -p "$work/copy"
    : > "$work/nginx/logs/access.log"
    local start=$EPOCHREALTIME
    (cd "$work/copy" && ip netns exec "$cli" "$@" > /dev/null 2>&1) || true
    local end=$EPOCHREALTIME
    sleep 0.3
    python3 - "$name" "$start" "$end" "$work/nginx/logs/access.log" "$work/copy" \
        >> "$work/results" <<'PY'
import gzip, os, sys
name, start, end, log, copy = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), sys.argv[4], sys.argv[5]
sent = sum(int(line.split()[0]) for line in open(log) if line.strip())
requests = sum(1 for line in open(log) if line.strip())
saved = packed = files = 0
text = (".html", ".htm", ".css", ".js", ".svg", ".txt", ".json", ".xml")
for d, dirs, names in os.walk(copy):
    dirs[:] = [x for x in dirs if x != "%tandril"]  # the record of the copy, not the copy
    for n in names:
        if n.startswith("~tmp~"):
            continue
        data = open(os.path.join(d, n), "rb").read()
        files += 1
        saved += len(data)
        plain = n.split("@")[0].lower()
        packed += len(gzip.compress(data, 1)) if plain.endswith(text) else len(data)
print(name, f"{end - start:.3f}", sent, requests, files, saved, packed)
PY
}

: > "$work/results"
for round in $(seq 1 "$rounds"); do
    run tandril "$runner" --url "$url" --dir "$work/copy/t/" --levels "$levels" --files 100000 \
        --mb 4096 --no-robots
    run wget wget -q -r -l "$levels" -k -p -E -nH -e robots=off --compression=auto "$url"
    run wget2 wget2 -q -r -l "$levels" -k -p -E -nH -e robots=off \
        --max-threads=5 "$url"
done
python3 - "$work/results" "$rate" "$rtt" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, t, sent, req, files, saved, packed = line.split()
    runs.setdefault(name, []).append((float(t), int(sent), int(req), int(files), int(saved), int(packed)))
print(f"link {sys.argv[2]} kbit/s, round trip {sys.argv[3]} ms")
med = {n: statistics.median(r[0] for r in v) for n, v in runs.items()}
fastest = min(med.values())
for n, v in runs.items():
    t, sent, req, files, saved, packed = v[-1]
    print(f"  {n:8s} median {med[n]:7.2f} s (/fastest {med[n] / fastest:.2f})  requests {req:5d}"
          f"  files {files:5d}  on the wire {sent:10d} B  saved {saved:10d} B"
          f"  saved compressed {packed:10d} B  wire/compressed {sent / packed:.3f}"
          f"  (rounds: {' '.join(f'{r[0]:.2f}' for r in v)})")
PY
