#!/usr/bin/env bash
# Tandril against Wget, Wget2 and HTTrack over a network with a round trip of R ms.
#
# nginx runs in one network namespace, the clients in another; the two are joined by
# delay-link, which holds every packet for R/2 ms each way (this kernel has no
# sch_netem; where it has, `tc qdisc add dev IF root netem delay` gives the same). At a
# round trip of 0 the clients talk to nginx over the server namespace's own loopback.
# Every run writes its copy on an ext4 file system made for that run alone (a loop
# device), so that no run pays for an earlier one's files. Needs root.
#
# Sites: a generated site of 500 small pages, one of 2,000 (an index linking every
# page, pages linking each other and the index), and one 256 MiB file. Each client
# fetches a site in turn, round after round; the report gives per client the median
# time, its ratio to the fastest of the peers, the requests and connections nginx saw
# (its access log), the files written and the maximum resident set.
#
#   bench/latency.sh [BUILD_DIR] [ROUNDS] ["RTT_MS ..."] [http|https] ["SITES"]
#     defaults: build-bench 3 "0 20 100" http "500 2000 big"
#   LATENCY_SKIP="NAME ..."  clients left out (tandril-1 tandril wget wget2 httrack curl)
#   LATENCY_BASELINE=FILE  another build's mirror-bench, run as client "baseline" with
#                          tandril's arguments, taking turns with it (a change's cost)
#   LATENCY_LOGS=DIR       keeps nginx's access log of every run there (connection,
#                          status, protocol, URI, time the answer ended; NAME-N.log)
#                          and when the client started and ended (NAME-N.times)
#   LATENCY_SLOW_ROUNDS=N  rounds for the clients that fetch one page at a time (Tandril
#                          with 1 connection, Wget, HTTrack) on the page sites at a round
#                          trip of 100 ms or more: minutes a round there (default ROUNDS)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/nginx_common.sh
build="${1:-build-bench}"
rounds="${2:-3}"
rtts="${3:-0 20 100}"
scheme="${4:-http}"
sites="${5:-500 2000 big}"
slow_rounds="${LATENCY_SLOW_ROUNDS:-$rounds}"
[ "$(id -u)" -eq 0 ] || { echo "bench/latency.sh needs root (namespaces, loop mounts)" >&2; exit 1; }

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF \
      -DTANDRIL_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target mirror-bench delay-link >/dev/null
runner="$(cd "$build" && pwd)/mirror-bench"
link="$(cd "$build" && pwd)/delay-link"

work=$(mktemp -d /tmp/tandril-latency-XXXXXX)
chmod 755 "$work"
cli=tdlat-cli$$
srv=tdlat-srv$$
mnt="$work/mnt"
cleanup() {
    umount "$mnt" 2>/dev/null || true
    bench_cleanup
}
trap cleanup EXIT

# --- the sites ----------------------------------------------------------------------
for n in 500 2000; do
    make_page_site "$work/www/s$n" "$n"
done
mkdir -p "$work/www/big"
head -c $((256 * 1024 * 1024)) /dev/urandom > "$work/www/big/large.bin"

# --- the namespaces, nginx ----------------------------------------------------------
bench_namespaces
server_ip=10.77.0.2

t_ca=(); w_ca=(); w2_ca=(); c_ca=(); ca=""
if [ "$scheme" = https ]; then
    ca="$work/ca"
    make_bench_ca "$ca" "$server_ip" 127.0.0.1
    t_ca=(--ca-file "$ca/ca.pem"); w_ca=(--ca-certificate="$ca/ca.pem")
    w2_ca=(--ca-certificate="$ca/ca.pem"); c_ca=(--cacert "$ca/ca.pem")
fi
write_nginx_conf "$work/nginx" "$work/www" "$ca" 127.0.0.1:8080 "$server_ip:8080"

# --- the link -----------------------------------------------------------------------
start_delay_link 0
ip netns exec "$srv" nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
sleep 0.5

# --- one measured run ---------------------------------------------------------------
image="$work/fs.img"
mkdir -p "$mnt"
fresh_fs() {
    umount "$mnt" 2>/dev/null || true
    rm -f "$image"
    truncate -s 2G "$image"
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$image"
    mount -o loop "$image" "$mnt"
    mkdir -p "$mnt/copy"
}

# run NS NAME COMMAND...: runs COMMAND in namespace NS inside $mnt/copy on a fresh file
# system; appends "name seconds rss_kib requests connections files protocol" to results.
run() {
    local ns="$1" name="$2"
    shift 2
    fresh_fs
    : > "$work/nginx/logs/access.log"
    sync
    local start=$EPOCHREALTIME
    (cd "$mnt/copy" && ip netns exec "$ns" /usr/bin/time -f "%e %M" -o "$work/time" "$@" \
        > "$work/out" 2> "$work/err") || {
        # Wget answers 8 when a server answered an error somewhere; the copy is still made.
        [ "$name" = wget ] || [ "$name" = wget2 ] || { echo "$name failed:" >&2; tail -5 "$work/err" >&2; }
    }
    # Wall time to the microsecond (GNU time's own is to the hundredth of a second).
    local t rss requests connections files protocol end=$EPOCHREALTIME
    t=$(python3 -c "print(f'{$end - $start:.3f}')")
    sleep 0.2  # nginx writes its last log lines
    if [ -n "${LATENCY_LOGS:-}" ]; then
        mkdir -p "$LATENCY_LOGS"
        local kept="$LATENCY_LOGS/$name-$(date +%s%N)"
        cp "$work/nginx/logs/access.log" "$kept.log"
        echo "$start $end" > "$kept.times"  # when the client started and ended
    fi
    read -r _ rss < <(tail -1 "$work/time")
    requests=$(wc -l < "$work/nginx/logs/access.log")
    connections=$(awk '{print $1}' "$work/nginx/logs/access.log" | sort -u | wc -l)
    protocol=$(awk '{print $3}' "$work/nginx/logs/access.log" | sort | uniq -c | sort -rn |
               awk 'NR==1{print $2}')
    files=$(find "$mnt/copy" -type f ! -path '*/hts-cache/*' ! -path '*/%tandril/*' ! -name 'hts-log.txt' \
            ! -name '~tmp~*' | wc -l)
    echo "$name $t $rss $requests $connections $files ${protocol:-none}" >> "$work/results"
}

clients_for() {  # site -> the clients, in the order they take turns
    local all="tandril-1 tandril wget wget2 httrack"
    [ -n "${LATENCY_BASELINE:-}" ] && all="$all baseline"
    [ "$1" = big ] && all="$all curl"
    for client in $all; do
        case " ${LATENCY_SKIP:-} " in *" $client "*) ;; *) echo "$client" ;; esac
    done
}

run_client() {  # ns base site client
    local ns="$1" base="$2" site="$3" client="$4" url levels
    if [ "$site" = big ]; then url="$base/big/large.bin"; levels=1
    else url="$base/s$site/index.html"; levels=1; fi
    case "$client" in
        tandril-1) run "$ns" "$client" "$runner" --url "$url" --dir "$mnt/copy/" --levels $levels \
                       --files 100000 --mb 4096 --connections 1 "${t_ca[@]}" ;;
        tandril)   run "$ns" "$client" "$runner" --url "$url" --dir "$mnt/copy/" --levels $levels \
                       --files 100000 --mb 4096 "${t_ca[@]}" ;;
        baseline)  run "$ns" "$client" "$LATENCY_BASELINE" --url "$url" --dir "$mnt/copy/" \
                       --levels $levels --files 100000 --mb 4096 "${t_ca[@]}" ;;
        wget)      run "$ns" "$client" wget -nv "${w_ca[@]}" -r -l $levels -k -p -nH \
                       -e robots=off "$url" ;;
        wget2)     run "$ns" "$client" wget2 -q "${w2_ca[@]}" -r -l inf -k -p -nH \
                       -e robots=off "$url" ;;
        httrack)   run "$ns" "$client" httrack "$url" -O "$mnt/copy/h" -q -c8 -A0 -%c0 \
                       --disable-security-limits -s0 ;;
        curl)      run "$ns" "$client" curl -s "${c_ca[@]}" -o "$mnt/copy/large.bin" "$url" ;;
    esac
}

report() {  # rtt site
    python3 - "$work/results" "$1" "$2" <<'PY'
import sys, statistics
path, rtt, site = sys.argv[1], float(sys.argv[2]), sys.argv[3]
runs = {}
for line in open(path):
    name, t, rss, req, conn, files, proto = line.split()
    runs.setdefault(name, []).append((float(t), int(rss), int(req), int(conn), int(files), proto))
med = {n: statistics.median(r[0] for r in v) for n, v in runs.items()}
peers = [n for n in ("wget", "wget2", "httrack") if n in med]
best = min(peers, key=lambda n: med[n]) if peers else None
print(f"round trip {rtt:g} ms, site {site}: fastest peer {best} {med[best]:.2f} s" if best else "")
for n, v in runs.items():
    last = v[-1]
    times = " ".join(f"{r[0]:.3f}" for r in v)
    ratio = f"{med[n] / med[best]:.2f}" if best and med[best] > 0 else "n/a"
    print(f"  {n:10s} median {med[n]:7.3f} s  /fastest peer {ratio:>5s}  requests {last[2]:5d}"
          f"  connections {last[3]:3d}  files {last[4]:5d}  {last[5]:9s} max RSS {max(r[1] for r in v):7d} KiB"
          f"  (rounds: {times})")
if "baseline" in med and "tandril" in med:
    print(f"  tandril / baseline {med['tandril'] / med['baseline']:.3f}")
if site != "big" and rtt > 0 and "tandril" in med:
    files = runs["tandril"][-1][2]
    bound = files * rtt / 1000 / 6
    print(f"  bound for 6 connections: {files} requests x {rtt:g} ms / 6 = {bound:.2f} s;"
          f" tandril / bound {med['tandril'] / bound:.2f}")
if site == "big" and "curl" in med:
    print(f"  tandril / curl -o {med['tandril'] / med['curl']:.2f}")
PY
}

echo "latency benchmark: $scheme, rounds $rounds, round trips: $rtts ms, sites: $sites"
for rtt in $rtts; do
    if [ "$rtt" -eq 0 ]; then
        ns="$srv"; host=127.0.0.1
    else
        ns="$cli"; host=$server_ip
        start_delay_link "$rtt"
    fi
    base="$scheme://$host:8080"
    ip netns exec "$ns" curl -s "${c_ca[@]}" -o /dev/null \
        -w "round trip $rtt ms: curl connect %{time_connect} s, first byte %{time_starttransfer} s\n" \
        "$base/s500/index.html"
    for site in $sites; do
        : > "$work/results"
        for round in $(seq 1 "$rounds"); do
            for client in $(clients_for "$site"); do
                if [ "$round" -gt "$slow_rounds" ] && [ "$rtt" -ge 100 ] &&
                   { [ "$client" = tandril-1 ] || [ "$client" = wget ] || [ "$client" = httrack ]; } &&
                   [ "$site" != big ]; then
                    continue
                fi
                run_client "$ns" "$base" "$site" "$client"
            done
        done
        report "$rtt" "$site"
    done
done
