#!/usr/bin/env bash
# Real PHP web applications from Debian packages, as a new user meets them: DokuWiki
# (files) and MediaWiki (SQLite), each installed with its default URLs into a folder of
# this run, seeded with ARTICLES linked articles (the start page links to the first
# half, article N to 2N+1 and 2N+2, each shows an image), served by nginx and php-fpm
# on 127.0.0.1. Each is mirrored at level 2 by mirror-bench (links modified, and
# portable links checked after the copy's folder has moved) and by GNU Wget
# (-r -l 2 -k -p -E -nH -e robots=off). Then the servers are stopped and each copy is
# counted from disk:
#   - bench/app_report.py: the articles present in the copy, and those reached from
#     the start page by following links on disk;
#   - bench/browser_check.py: headless Chromium, with loopback as its only network,
#     opens each article's saved page: pages styled, and failed loads of images,
#     stylesheets, fonts and scripts;
#   - the requests the server saw for each copy (nginx's access log).
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

work=$(mktemp -d /tmp/tandril-apps-XXXXXX)
chmod 755 "$work"
nginx_pid="" fpm_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -n "$fpm_pid" ] && kill "$fpm_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
live="http://127.0.0.1:$port"
picture=/usr/share/dokuwiki/lib/tpl/dokuwiki/images/logo.png

# DokuWiki: a copy of the program with its configuration and data in this run's folder.
dw="$work/dokuwiki"
cp -r /usr/share/dokuwiki "$dw"
rm -f "$dw/lib/plugins" "$dw/lib/tpl"
cp -r /var/lib/dokuwiki/lib/plugins /var/lib/dokuwiki/lib/tpl "$dw/lib/"
mkdir -p "$dw/conf"
cp -r /etc/dokuwiki/. "$dw/conf/"
cp -r /var/lib/dokuwiki/data "$dw/data"
printf '<?php\ndefine("DOKU_CONF", "%s/conf/");\n' "$dw" > "$dw/inc/preload.php"
cat > "$dw/conf/local.php" <<PHP
<?php
\$conf['title'] = 'Tandril bench wiki';
\$conf['savedir'] = '$dw/data';
\$conf['useacl'] = 0;
PHP
mkdir -p "$dw/data/media/wiki"
cp "$picture" "$dw/data/media/wiki/picture.png"

# MediaWiki: the program as Debian installs it, its settings, database and uploads here.
mw="$work/mediawiki"
mkdir -p "$mw/images" "$mw/cache"
export MW_CONFIG_FILE="$mw/LocalSettings.php"
php /usr/share/mediawiki/maintenance/install.php --dbtype=sqlite --dbpath="$mw/db" \
    --dbname=wiki --confpath="$mw" --server="$live" --scriptpath=/mediawiki \
    --pass=TandrilBench2026 --skins=Vector "Tandril bench wiki" Admin > "$work/mw-install.log"
cat >> "$mw/LocalSettings.php" <<PHP
\$wgUploadDirectory = "$mw/images";
\$wgUploadPath = "/mwimages";
\$wgEnableUploads = true;
\$wgCacheDirectory = "$mw/cache";
PHP

# The articles: the same link graph in both wikis.
mkdir -p "$work/seed/mw"
for n in $(seq 0 $((articles - 1))); do
    dwtext="====== Article $n ======\n\nThis is **article-$n**.\n\n{{wiki:picture.png}}\n\n"
    mwtext="This is '''article-$n'''.\n\n[[File:Picture.png]]\n\n"
    if [ "$n" -eq 0 ]; then
        children=$(seq 1 $((articles / 2)))
    else
        children=""
        for c in $((2 * n + 1)) $((2 * n + 2)); do
            [ "$c" -lt "$articles" ] && children="$children $c"
        done
        dwtext="$dwtext[[start|Start]]\n"
        mwtext="$mwtext[[Start]]\n"
    fi
    for c in $children; do
        dwtext="$dwtext  * [[article$c|Article $c]]\n"
        mwtext="$mwtext* [[Article $c]]\n"
    done
    page="article$n"
    [ "$n" -eq 0 ] && page=start
    printf "$dwtext" > "$dw/data/pages/$page.txt"
    title="Article $n"
    [ "$n" -eq 0 ] && title=Start
    printf "$mwtext" > "$work/seed/mw/$title"
done
php /usr/share/mediawiki/maintenance/importTextFiles.php --overwrite "$work/seed/mw"/* \
    > "$work/mw-import.log" 2>&1
mkdir -p "$work/seed/img"
cp "$picture" "$work/seed/img/Picture.png"
php /usr/share/mediawiki/maintenance/importImages.php --extensions=png "$work/seed/img" \
    > "$work/mw-images.log" 2>&1
chmod -R a+rX "$work"

# php-fpm and nginx, both as this user, logging every request.
mkdir -p "$work/fpm" "$work/nginx/logs"
cat > "$work/fpm/php-fpm.conf" <<CONF
[global]
pid = $work/fpm/php-fpm.pid
error_log = $work/fpm/error.log
daemonize = no
[apps]
listen = $work/fpm/php-fpm.sock
listen.mode = 0666
pm = static
pm.max_children = 4
clear_env = no
env[MW_CONFIG_FILE] = $mw/LocalSettings.php
CONF
php-fpm8.2 -R -F -y "$work/fpm/php-fpm.conf" &
fpm_pid=$!
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1; daemon off; pid $work/nginx/nginx.pid; user root;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 256; }
http {
    include /etc/nginx/mime.types;
    log_format plain '\$status \$request_uri';
    access_log $work/nginx/logs/access.log plain;
    client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi; uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        location /dokuwiki/ {
            alias $dw/;
            index doku.php;
            location ~ \.php\$ {
                include /etc/nginx/fastcgi_params;
                fastcgi_param SCRIPT_FILENAME \$request_filename;
                fastcgi_pass unix:$work/fpm/php-fpm.sock;
            }
        }
        location /mediawiki/ {
            alias /usr/share/mediawiki/;
            index index.php;
            location ~ \.php\$ {
                include /etc/nginx/fastcgi_params;
                fastcgi_param SCRIPT_FILENAME \$request_filename;
                fastcgi_pass unix:$work/fpm/php-fpm.sock;
            }
        }
        location /mwimages/ { alias $mw/images/; }
    }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 1 100); do
    curl -sf -o /dev/null "$live/dokuwiki/doku.php?id=start" && break
    sleep 0.1
done

declare -A starts=(
    [dokuwiki]="$live/dokuwiki/doku.php?id=start"
    [mediawiki]="$live/mediawiki/index.php?title=Start"
)
apps=(dokuwiki mediawiki)
log="$work/nginx/logs/access.log"
requests() { wc -l < "$log"; }
declare -A seen
for a in "${apps[@]}"; do
    url="${starts[$a]}"
    mkdir -p "$work/$a-copies/wget" "$work/$a-copies/moved"
    before=$(requests)
    start=$(date +%s.%N)
    "$runner" --url "$url" --dir "$work/$a-copies/tandril" --levels $levels --files 100000 \
        --mb 4096 > "$work/$a-copies/tandril.json" 2> "$work/$a-copies/tandril.log" || true
    seen[$a,tandril]="$(( $(requests) - before )) $(python3 -c "import time; print(f'{time.time() - $start:.1f}')")"
    before=$(requests)
    "$runner" --url "$url" --dir "$work/$a-copies/portable" --levels $levels --files 100000 \
        --mb 4096 --relative-links > /dev/null 2>&1 || true
    seen[$a,portable]="$(( $(requests) - before )) -"
    mv "$work/$a-copies/portable" "$work/$a-copies/moved/portable-elsewhere"
    before=$(requests)
    start=$(date +%s.%N)
    (cd "$work/$a-copies/wget" && wget -q -r -l $levels -k -p -E -nH -e robots=off "$url" || true)
    seen[$a,wget]="$(( $(requests) - before )) $(python3 -c "import time; print(f'{time.time() - $start:.1f}')")"
done
kill "$nginx_pid" "$fpm_pid"
wait "$nginx_pid" "$fpm_pid" 2>/dev/null || true
nginx_pid="" fpm_pid=""

printf '%-9s %-9s %8s %6s %7s %9s %7s %6s | %s\n' app copy requests secs files articles \
    reachable styled "browser: failed/requests (by type)"
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
