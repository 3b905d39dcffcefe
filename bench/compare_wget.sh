#!/usr/bin/env bash
# Serves generated sites with nginx on 127.0.0.1 and mirrors each with mirror-bench
# and with GNU Wget (wget -r -l N -k -p -nH -e robots=off), in one run; for the large
# file also with curl -o. Prints wall times, maximum resident sets and ratios. With
# "https" nginx serves over TLS (HTTP/2 offered) with a certificate from a CA made
# for the run, which every client is given.
#
#   bench/compare_wget.sh [BUILD_DIR] [LARGE_MIB] [http|https]
#                                     (defaults: build-bench, 256, http)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_common.sh
build="${1:-build-bench}"
large_mib="${2:-256}"
scheme="${3:-http}"
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

t_ca=(); w_ca=(); c_ca=(); ca=""
if [ "$scheme" = https ]; then
    ca="$work/ca"
    make_bench_ca "$ca" 127.0.0.1
    t_ca=(--ca-file "$ca/ca.pem"); w_ca=(--ca-certificate="$ca/ca.pem"); c_ca=(--cacert "$ca/ca.pem")
fi

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
write_nginx_conf "$work/nginx" "$site" "$ca" "127.0.0.1:$port"
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 1 50); do
    curl -s "${c_ca[@]}" -o /dev/null "$scheme://127.0.0.1:$port/index.html" && break
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

url="$scheme://127.0.0.1:$port"
median() { python3 -c "import sys; v=sorted(sys.argv[1:]); print(v[len(v)//2])" "$@"; }

# Small pages: three rounds, the two programs taking turns, into fresh directories.
t_times=(); w_times=(); t_rss=0; w_rss=0
for round in 1 2 3; do
    read -r s kb <<< "$(measure ${PROFILE_WRAPPER:-} "$runner" --url "$url/index.html" \
        --dir "$work/m$round" --levels 1 --files 10000 --mb 2048 "${t_ca[@]}")"
    files=$(python3 -c "import json; print(json.load(open('$work/out'))['files'])")
    t_times+=("$s"); [ "$kb" -gt "$t_rss" ] && t_rss=$kb
    mkdir -p "$work/w$round"
    read -r s kb <<< "$(cd "$work/w$round" && measure wget -nv "${w_ca[@]}" -r -l 1 -k -p -nH -e robots=off "$url/index.html")"
    w_times+=("$s"); [ "$kb" -gt "$w_rss" ] && w_rss=$kb
done
report "2,000 small pages" "$(median "${t_times[@]}") $t_rss" "$(median "${w_times[@]}") $w_rss"
echo "  (median of 3 rounds each: mirror-bench ${t_times[*]} s, wget ${w_times[*]} s;"
echo "   mirror-bench fetched $files files, wget $(find "$work/w1" -type f | wc -l))"

# The large file: three rounds of each program, and of curl -o.
t_times=(); w_times=(); c_times=(); t_rss=0; w_rss=0; c_rss=0
for round in 1 2 3; do
    rm -rf "$work/big-m" "$work/big-w" "$work/curl-large.bin"
    read -r s kb <<< "$(measure "$runner" --url "$url/big/large.bin" --dir "$work/big-m" "${t_ca[@]}")"
    t_times+=("$s"); [ "$kb" -gt "$t_rss" ] && t_rss=$kb
    mkdir -p "$work/big-w"
    read -r s kb <<< "$(cd "$work/big-w" && measure wget -nv "${w_ca[@]}" -r -l 1 -k -p -nH -e robots=off "$url/big/large.bin")"
    w_times+=("$s"); [ "$kb" -gt "$w_rss" ] && w_rss=$kb
    read -r s kb <<< "$(measure curl -s "${c_ca[@]}" -o "$work/curl-large.bin" "$url/big/large.bin")"
    c_times+=("$s"); [ "$kb" -gt "$c_rss" ] && c_rss=$kb
done
t_med=$(median "${t_times[@]}"); c_med=$(median "${c_times[@]}")
report "${large_mib} MiB file" "$t_med $t_rss" "$(median "${w_times[@]}") $w_rss"
printf '%-22s curl -o      %7.2f s %7d KiB | mirror-bench / curl time ratio %s\n' "" "$c_med" \
    "$c_rss" "$(python3 -c "print(f'{$t_med / $c_med:.2f}' if $c_med > 0 else 'n/a')")"
cmp -s "$work/big-m/big/large.bin" "$site/big/large.bin" &&
    echo "  (the mirrored file is byte for byte the served one)"
