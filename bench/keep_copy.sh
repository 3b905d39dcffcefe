#!/usr/bin/env bash
# Keeping a copy: updating it, and continuing it after the program was killed.
#
# nginx serves a generated site of PAGES pages (an index linking every page, pages
# linking each other and the index) in one network namespace; the clients run in
# another, joined by delay-link with a round trip of RTT ms (as in bench/latency.sh).
# nginx sends ETag and Last-Modified for each file and answers 304 to a request that
# carries them back.
#
# First, updates: each client makes its own full copy, then updates it twice: with
# the site unchanged, and after 5% of its pages changed. Clients: Tandril (mirror-bench,
# which updates a finished copy by itself), `wget -N -r -l inf -k -p`, Wget2 with -N, and
# HTTrack's --update, each into the copy it made. Reported per step: time, requests
# and bytes nginx sent (headers included), as medians over the rounds.
#
# Then, kill and continue: mirror-bench is killed with SIGKILL at KILLS random moments
# of a copy and started again each time, until the copy is done; the final tree is
# compared with one uninterrupted run's (diff -r, the record and temporary files
# aside), and the bytes nginx sent for all the runs with the uninterrupted run's.
#
#   bench/keep_copy.sh [BUILD_DIR] [RTT_MS] [PAGES] [ROUNDS] [KILLS]
#     defaults: build-bench 20 2000 3 10
#   KEEP_PARTS="update kill"   the parts to run
#   KEEP_SCHEME=https          nginx over TLS with HTTP/2 (a CA made for the run; HTTrack,
#                              which cannot be given one, is left out)
#   KEEP_CLIENTS="..."         the clients of the updates (tandril wget wget2 httrack)
#   KEEP_MOMENTS="0.2 0.5 ..."  the kills' intervals in seconds, in place of random ones
# Needs root (namespaces).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_common.sh
build="${1:-build-bench}"
rtt="${2:-20}"
pages="${3:-2000}"
rounds="${4:-3}"
kills="${5:-10}"
parts="${KEEP_PARTS:-update kill}"
[ "$(id -u)" -eq 0 ] || { echo "bench/keep_copy.sh needs root (namespaces)" >&2; exit 1; }

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF \
      -DTANDRIL_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target mirror-bench delay-link >/dev/null
runner="$(cd "$build" && pwd)/mirror-bench"
link="$(cd "$build" && pwd)/delay-link"

work=$(mktemp -d /tmp/tandril-keep-XXXXXX)
chmod 755 "$work"
cli=tdkeep-cli$$
srv=tdkeep-srv$$
trap bench_cleanup EXIT

# --- the site -----------------------------------------------------------------------
site="$work/www/site"
make_page_site "$site" "$pages"
touch -d '2026-01-01 00:00:00' "$site/index.html" "$site"/pages/*.html
cp -a "$site" "$work/pristine"

# --- namespaces, nginx, the link ----------------------------------------------------
bench_namespaces
server_ip=10.77.0.2
scheme="${KEEP_SCHEME:-http}"
t_ca=(); w_ca=(); listen="$server_ip:8080"; tls=""
if [ "$scheme" = https ]; then
    make_bench_ca "$work/ca" "$server_ip"
    t_ca=(--ca-file "$work/ca/ca.pem"); w_ca=(--ca-certificate="$work/ca/ca.pem")
    listen="$server_ip:8080 ssl http2"
    tls="ssl_certificate $work/ca/server.pem; ssl_certificate_key $work/ca/server.key; ssl_protocols TLSv1.2 TLSv1.3;"
fi
mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
error_log $work/nginx/logs/error.log warn;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
    log_format sent '\$status \$request_uri \$bytes_sent';
    access_log $work/nginx/logs/access.log sent;
    keepalive_requests 100000;
    types { text/html html htm; }
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server { listen $listen; $tls root $work/www; }
}
CONF
start_delay_link "$rtt"
ip netns exec "$srv" nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
sleep 0.5
url="$scheme://$server_ip:8080/site/index.html"
log="$work/nginx/logs/access.log"

# sent: "requests bytes" nginx logged since the log was emptied.
sent() {
    sleep 0.2  # nginx writes its last lines
    awk '{n++; b += $3} END {printf "%d %d\n", n, b}' "$log"
}

# step CLIENT DIR FIRST: one run of CLIENT into DIR (FIRST: a new copy); prints
# "seconds requests bytes".
step() {
    local client="$1" dir="$2" first="$3" start end
    : > "$log"
    mkdir -p "$dir"
    start=$EPOCHREALTIME
    case "$client" in
        tandril)
            ip netns exec "$cli" "$runner" --url "$url" --dir "$dir/" --levels 100 \
                --files 100000 --mb 4096 "${t_ca[@]}" $([ "$first" = 1 ] && echo --fresh) \
                > "$work/out" 2> "$work/err" ;;
        wget)
            (cd "$dir" && ip netns exec "$cli" wget -nv "${w_ca[@]}" -N -r -l inf -k -p -nH "$url" \
                > "$work/out" 2> "$work/err") || true ;;
        wget2)
            (cd "$dir" && ip netns exec "$cli" wget2 -q "${w_ca[@]}" -N -r -l inf -k -p -nH "$url" \
                > "$work/out" 2> "$work/err") || true ;;
        httrack)
            if [ "$first" = 1 ]; then
                ip netns exec "$cli" httrack "$url" -O "$dir" -q -c8 -A0 -%c0 \
                    --disable-security-limits -s0 > "$work/out" 2> "$work/err" || true
            else
                (cd "$dir" && ip netns exec "$cli" httrack --update -q -c8 -A0 -%c0 \
                    --disable-security-limits -s0 > "$work/out" 2> "$work/err") || true
            fi ;;
    esac
    end=$EPOCHREALTIME
    echo "$(python3 -c "print(f'{$end - $start:.3f}')") $(sent)"
}

# Changes every 20th page (5%): new content, a new time (so a new ETag and Last-Modified).
change_pages() {
    for i in $(seq 0 20 $((pages - 1))); do
        echo "<!-- changed in round $1 -->" >> "$site/pages/p$i.html"
        touch -d "2026-02-0$(( $1 % 9 + 1 )) 00:00:00" "$site/pages/p$i.html"
    done
}

if [[ " $parts " == *" update "* ]]; then
    default_clients="tandril wget wget2 httrack"
    [ "$scheme" = https ] && default_clients="tandril wget wget2"
    clients="${KEEP_CLIENTS:-$default_clients}"
    : > "$work/results"
    for round in $(seq 1 "$rounds"); do
        rm -rf "$site" && cp -a "$work/pristine" "$site"
        for c in $clients; do
            rm -rf "$work/copies/$c"
            echo "$c full $(step "$c" "$work/copies/$c" 1)" >> "$work/results"
        done
        for c in $clients; do
            echo "$c unchanged $(step "$c" "$work/copies/$c" 0)" >> "$work/results"
        done
        change_pages "$round"
        for c in $clients; do
            echo "$c changed $(step "$c" "$work/copies/$c" 0)" >> "$work/results"
        done
    done
    echo "update: $pages pages, $scheme, round trip $rtt ms, $rounds rounds (medians)"
    python3 - "$work/results" <<'PY'
import sys, statistics
rows = {}
for line in open(sys.argv[1]):
    c, kind, t, req, b = line.split()
    rows.setdefault((c, kind), []).append((float(t), int(req), int(b)))
clients = list(dict.fromkeys(c for c, _ in rows))
med = {k: tuple(statistics.median(r[i] for r in v) for i in range(3)) for k, v in rows.items()}
for kind in ("full", "unchanged", "changed"):
    fastest = min(med[(c, kind)][0] for c in clients)
    print(f"  {kind}:")
    for c in clients:
        t, req, b = med[(c, kind)]
        full = med[(c, "full")][2]
        share = f"  {100 * b / full:5.1f}% of its full copy's bytes" if kind != "full" else ""
        print(f"    {c:8s} {t:8.3f} s  x{t / fastest:5.2f} of the fastest  requests {req:6.0f}"
              f"  bytes {b:10.0f}{share}")
PY
fi

if [[ " $parts " == *" kill "* ]]; then
    rm -rf "$site" && cp -a "$work/pristine" "$site"
    # Both copies are made at one path (links are file URLs into it), then compared.
    dir="$work/kill/copy"
    once="$work/kill/once"
    read -r once_t once_req once_bytes <<< "$(step tandril "$dir" 1)"
    mv "$dir" "$once"
    mkdir -p "$dir"
    total_req=0; total_bytes=0; n=0
    : > "$log"
    # Random moments of the copy, within the time of one uninterrupted run: each run is
    # killed that much later than the one before it was.
    moments=${KEEP_MOMENTS:-}
    [ -n "$moments" ] || moments=$(python3 -c "import random; m = sorted(random.uniform(0, $once_t * 0.9) for _ in range($kills)); print(' '.join(f'{b - a:.2f}' for a, b in zip([0] + m, m)))")
    for at in $moments; do
        ip netns exec "$cli" "$runner" --url "$url" --dir "$dir/" --levels 100 --files 100000 \
            --mb 4096 "${t_ca[@]}" > /dev/null 2>&1 &
        pid=$!
        sleep "$at"
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        n=$((n + 1))
    done
    ip netns exec "$cli" "$runner" --url "$url" --dir "$dir/" --levels 100 --files 100000 \
        --mb 4096 "${t_ca[@]}" > "$work/out" 2> "$work/err"
    read -r total_req total_bytes <<< "$(sent)"
    echo "kill and continue: $n kills, each run killed after $moments s (one run takes $once_t s)"
    if diff -r -x '%tandril' -x '~tmp~*' "$once" "$dir" > "$work/diff"; then
        echo "  final tree identical to one uninterrupted run's"
    else
        echo "  final tree DIFFERS from one uninterrupted run's:"; head -20 "$work/diff"
    fi
    python3 -c "print(f'  requests {$total_req} (one run {$once_req}), bytes {$total_bytes} (one run {$once_bytes}): x{$total_bytes / $once_bytes:.3f}')"
    [ -z "${KEEP_LOG:-}" ] || cp "$log" "$KEEP_LOG"
    # What was asked for more than once, and what those requests cost.
    awk '{n[$2]++; b[$2] += $3} END {for (u in n) if (n[u] > 1) {k++; x += b[u] * (n[u] - 1) / n[u]; if (n[u] > 2 || b[u] > 20000) l = l " " u "(" n[u] "x)"} printf "  asked for again: %d URLs, about %d bytes;%s\n", k, x, l}' "$log"
fi
