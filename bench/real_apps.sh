#!/usr/bin/env bash
# Real PHP web applications from Debian packages, as a new user meets them: DokuWiki
# (files) and MediaWiki (SQLite), each installed with its default URLs into a folder of
# this run, seeded with ARTICLES linked articles (the start page links to the first
# half, article N to 2N+1 and 2N+2, each shows an image), served by nginx and php-fpm
# on 127.0.0.1. Each is mirrored at level 2 by mirror-bench (links modified, and
# portable links checked after the copy's folder has moved), both with --no-robots, and by
# GNU Wget (-r -l 2 -k -p -E -nH -e robots=off). Then the servers are stopped and each copy is
# counted from disk:
#   - bench/app_report.py: the articles present in the copy, and those reached from
#     the start page by following links on disk;
#   - bench/browser_check.py: headless Chromium, with loopback as its only network,
#     opens each article's saved page: pages styled, and failed loads of images,
#     stylesheets, fonts and scripts;
#   - the requests the server saw for each copy (nginx's access log).
# Tandril's copy is then updated at once (the site unchanged): its requests, how many
# were answered 304, and the bytes nginx sent against those of the first copy.
#
#   bench/real_apps.sh [BUILD_DIR] [ARTICLES]     (defaults: build-bench, 40)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
articles="${2:-40}"
levels=2
bash scripts/install-deps.sh --apps
if [ ! -x "$build/mirror-bench" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF -DTANDRIL_BENCH=ON
fi
cmake --build "$build" -j2 --target mirror-bench >/dev/null
runner="$(cd "$build" && pwd)/mirror-bench"
here="$(pwd)"

source "$here/bench/apps_common.sh"
apps=(dokuwiki mediawiki)
requests() { wc -l < "$log"; }
declare -A seen updates
for a in "${apps[@]}"; do
    url="${starts[$a]}"
    mkdir -p "$work/$a-copies/wget" "$work/$a-copies/moved"
    before=$(requests)
    start=$(date +%s.%N)
    "$runner" --url "$url" --dir "$work/$a-copies/tandril" --levels $levels --files 100000 \
        --mb 4096 --no-robots > "$work/$a-copies/tandril.json" 2> "$work/$a-copies/tandril.log" \
        || true
    seen[$a,tandril]="$(( $(requests) - before )) $(python3 -c "import time; print(f'{time.time() - $start:.1f}')")"
    full_bytes=$(tail -n +$((before + 1)) "$log" | awk '{b += $3} END {print b + 0}')
    # The same copy updated at once (the site unchanged): what asking again costs.
    before=$(requests)
    start=$(date +%s.%N)
    "$runner" --url "$url" --dir "$work/$a-copies/tandril" --levels $levels --files 100000 \
        --mb 4096 --no-robots > /dev/null 2>&1 || true
    secs=$(python3 -c "import time; print(f'{time.time() - $start:.1f}')")
    updates[$a]=$(tail -n +$((before + 1)) "$log" | awk -v full="$full_bytes" -v secs="$secs" \
        '{n++; b += $3; if ($1 == 304) u++} END {printf "%d requests (%d answered 304), %d bytes: %.1f%% of the first copy'"'"'s %d, %s s", n, u, b, 100 * b / full, full, secs}')
    before=$(requests)
    "$runner" --url "$url" --dir "$work/$a-copies/portable" --levels $levels --files 100000 \
        --mb 4096 --no-robots --relative-links > /dev/null 2>&1 || true
    seen[$a,portable]="$(( $(requests) - before )) -"
    mv "$work/$a-copies/portable" "$work/$a-copies/moved/portable-elsewhere"
    before=$(requests)
    start=$(date +%s.%N)
    (cd "$work/$a-copies/wget" && wget -q -r -l $levels -k -p -E -nH -e robots=off "$url" || true)
    seen[$a,wget]="$(( $(requests) - before )) $(python3 -c "import time; print(f'{time.time() - $start:.1f}')")"
done
apps_stop

printf '%-9s %-9s %8s %6s %7s %9s %7s %6s | %s\n' app copy requests secs files articles \
    reachable styled "browser: failed/requests (by type)"
for a in "${apps[@]}"; do
    echo "$a: update of tandril's copy: ${updates[$a]}"
done
for a in "${apps[@]}"; do
    for copy in tandril portable wget; do
        dir="$work/$a-copies/$copy"
        [ "$copy" = portable ] && dir="$work/$a-copies/moved/portable-elsewhere"
        files=$(find "$dir" -type f ! -name '~tmp~*' | wc -l)
        report=$(python3 "$here/bench/app_report.py" "$dir" "$articles")
        python3 -c 'import json,sys; print("\n".join(json.loads(sys.argv[1])["pages"]))' \
            "$report" > "$work/pages.txt"
        browser=$(unshare -n sh -c "ip link set lo up && python3 '$here/bench/browser_check.py' '$dir' 0 '$work/pages.txt'")
        python3 - "$a" "$copy" "$files" "${seen[$a,$copy]}" "$report" "$browser" <<'PY'
import json, sys
app, copy, files, seen = sys.argv[1:5]
report, browser = json.loads(sys.argv[5]), json.loads(sys.argv[6])
count, secs = seen.split()
print(f"{app:<9} {copy:<9} {count:>8} {secs:>6} {files:>7} {report['present']:>9} "
      f"{report['reachable']:>7} {browser['styled']:>6} | "
      f"{browser['failed']}/{browser['requests']} in {browser['pages']} pages "
      f"{browser['failed_by_type']}")
for e in browser["examples"][:3]:
    print("    failed load:", e)
PY
    done
done
