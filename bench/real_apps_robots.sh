#!/usr/bin/env bash
# How politely the real PHP applications of bench/apps_common.sh are copied: at levels
# 2 and 3, mirror-bench with robots obeyed, with --no-robots, and with robots obeyed plus
# the application's recipe of skip patterns (README), against Wget with robots on and
# off. For each run: the requests the server saw, how many of them were action pages
# (edit, history, diff, login, special pages: URLs with do=, action=, Special:, oldid=,
# diff=, printable=), and the articles the copy holds.
#
#   bench/real_apps_robots.sh [BUILD_DIR] [ARTICLES] ["LEVELS"] ["APPS"]
#     defaults: build-bench, 40, "2 3", "dokuwiki mediawiki"
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
articles="${2:-40}"
levels_list="${3:-2 3}"
apps_list="${4:-dokuwiki mediawiki}"
bash scripts/install-deps.sh --apps
if [ ! -x "$build/mirror-bench" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=OFF -DTANDRIL_BENCH=ON
fi
cmake --build "$build" -j2 --target mirror-bench >/dev/null
runner="$(cd "$build" && pwd)/mirror-bench"
here="$(pwd)"
source "$here/bench/apps_common.sh"

declare -A recipe=(
    [dokuwiki]="*do=*"
    [mediawiki]="*title=*&* *Special:*"
)

# run NAME DIR COMMAND...: runs COMMAND, then counts what the server saw meanwhile.
# ROBOTS_CLIENTS="NAME|NAME" keeps only those clients (all five by default);
# ROBOTS_REQUESTS_DIR=DIR keeps each run's requests there (APP-LEVEL-NAME.log).
run() {
    local name="$1" dir="$2"
    shift 2
    if [ -n "${ROBOTS_CLIENTS:-}" ] && ! printf '%s\n' "$name" | grep -qxE "${ROBOTS_CLIENTS}"; then
        return
    fi
    local before
    before=$(wc -l < "$log")
    mkdir -p "$dir"
    (cd "$dir" && "$@" > /dev/null 2>&1) || true
    sleep 0.2
    local seen
    seen=$(tail -n +$((before + 1)) "$log")
    local requests actions
    requests=$(printf '%s\n' "$seen" | grep -c . || true)
    actions=$(printf '%s\n' "$seen" |
              grep -c -E '(do=|action=|Special(:|%3A)|oldid=|diff=|printable=)' || true)
    local copied
    if [ -n "${ROBOTS_REQUESTS_DIR:-}" ]; then
        mkdir -p "$ROBOTS_REQUESTS_DIR"
        printf '%s\n' "$seen" > "$ROBOTS_REQUESTS_DIR/$app-$level-${name// /_}.log"
    fi
    copied=$(python3 "$here/bench/app_report.py" "$dir" "$articles" |
             python3 -c 'import json,sys; print(json.load(sys.stdin)["present"])')
    printf '%-9s %5s  %-22s %8s %8s %9s\n' "$app" "$level" "$name" "$requests" "$actions" "$copied"
}

printf '%-9s %5s  %-22s %8s %8s %9s\n' app level client requests actions articles
for level in $levels_list; do
    for app in $apps_list; do
        url="${starts[$app]}"
        out="$work/out-$app-$level"
        excludes=()
        read -ra patterns <<< "${recipe[$app]}"
        for p in "${patterns[@]}"; do excludes+=(--exclude "$p"); done
        run "tandril" "$out/t" "$runner" --url "$url" --dir "$out/t/copy" --levels "$level" \
            --files 100000 --mb 4096
        run "tandril --no-robots" "$out/tn" "$runner" --url "$url" --dir "$out/tn/copy" \
            --levels "$level" --files 100000 --mb 4096 --no-robots
        run "tandril + recipe" "$out/tr" "$runner" --url "$url" --dir "$out/tr/copy" \
            --levels "$level" --files 100000 --mb 4096 "${excludes[@]}"
        run "wget" "$out/w" wget -q -r -l "$level" -k -p -E -nH "$url"
        run "wget -e robots=off" "$out/wn" wget -q -r -l "$level" -k -p -E -nH -e robots=off "$url"
    done
done
