# Shared by the benchmarks of real PHP applications (sourced): DokuWiki (files) and
# MediaWiki (SQLite) from Debian's packages, installed with their default URLs into a
# folder of the run, seeded with $articles linked articles (the start page links to the
# first half, article N to 2N+1 and 2N+2, each shows an image, each shows the word
# "article-N" in bold), served by nginx and php-fpm on 127.0.0.1, every request logged.
# Needs: $articles. Sets: $work, $live, $log (nginx's access log: "status URI" a line),
# starts[dokuwiki|mediawiki] (the start URLs); apps_stop stops the servers.

work=$(mktemp -d /tmp/tandril-apps-XXXXXX)
chmod 755 "$work"
nginx_pid="" fpm_pid=""
apps_stop() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -n "$fpm_pid" ] && kill "$fpm_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && wait "$nginx_pid" 2>/dev/null || true
    [ -n "$fpm_pid" ] && wait "$fpm_pid" 2>/dev/null || true
    nginx_pid="" fpm_pid=""
}
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
// Pages as an established wiki has them: older than the delay before which DokuWiki
// asks robots not to index a new page or follow its links.
\$conf['indexdelay'] = 0;
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
// Article links as php-fpm serves them (index.php?title=...), for the pages the
// import renders on the command line too.
\$wgUsePathInfo = false;
// Every view rendered afresh: the import renders a page before the pages it links to
// exist, and a cached rendering would show them as missing (edit links) until the
// wiki's job queue catches up.
\$wgParserCacheType = CACHE_NONE;
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
    log_format plain '\$status \$request_uri \$bytes_sent';
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
log="$work/nginx/logs/access.log"
