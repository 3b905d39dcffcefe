#!/usr/bin/env bash
# Takes the screenshots in docs/ from the real program in a real window under Xvfb:
# the main dialog, the Options dialog, the "Mirroring..." dialog half way through a run
# and at its end with the failures listed; and a text capture of tandril-cli copying the
# same site. A small, slow site is served on 127.0.0.1 for the run; settings live in a
# temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tandril tandril-cli

work=$(mktemp -d /tmp/tandril-shots-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

display=:$(( 90 + RANDOM % 9 ))
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A small site to mirror.
mkdir -p "$work/www/docs" "$work/www/img"
cat > "$work/www/index.html" <<'HTML'
<html><head><title>Field notes</title></head><body background="img/paper.gif">
<h1>Field notes</h1><img src="img/logo.gif">
<ul><li><a href="docs/">Documents</a></li><li><a href="docs/plants.html">Plants</a></li>
<li><a href="docs/birds.html">Birds</a></li><li><a href="about.html">About</a></li>
<li><a href="docs/old-notes.html">Old notes</a></li></ul>
<img src="http://127.0.0.1:1/counter.gif">
HTML
for n in $(seq 1 24); do
    echo "<li><a href=\"docs/day$n.html\">Day $n</a></li>" >> "$work/www/index.html"
    echo "<html><body><h2>Day $n</h2><a href=\"../index.html\">home</a></body></html>" > "$work/www/docs/day$n.html"
done
echo "</body></html>" >> "$work/www/index.html"
for p in index plants birds; do
    echo "<html><body><h2>$p</h2><a href=\"../index.html\">home</a><img src=\"../img/logo.gif\"></body></html>" > "$work/www/docs/$p.html"
done
echo "<html><body><p>About these notes.</p></body></html>" > "$work/www/about.html"
convert -size 16x16 xc:'#2e6b4f' "$work/www/img/logo.gif"
convert -size 16x16 xc:'#f4f1e6' "$work/www/img/paper.gif"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# Each answer takes a moment, so that a run can be seen half way.
cat > "$work/slow.py" <<'PY'
import http.server, sys, time
class Slow(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        time.sleep(0.12)
        super().do_GET()
    def log_message(self, *args):
        pass
http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Slow).serve_forever()
PY
(cd "$work/www" && exec python3 "$work/slow.py" "$port") &
pids+=($!)

# Settings with a short history, as after a few runs.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Orvello"
cat > "$XDG_CONFIG_HOME/Orvello/Tandril.conf" <<CONF
[URL]
Count=2
URL0=http://127.0.0.1:$port/index.html
URL1=http://example.com/docs/guide/
[Path]
Count=1
Path0=$work/mirror
[Options]
Modify%20Link=0
Max%20Level=2
Max%20File=200
Max%20MB=5
Max%20Connections=1
CONF

./build/ui/tandril &
pids+=($!)
window_of() {
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "no window named $1" >&2
    return 1
}
shot() {  # window-id file
    sleep 0.5
    import -window "$1" "docs/$2"
    echo "docs/$2"
}
mkdir -p docs
main=$(window_of Tandril)
xdotool windowfocus --sync "$main" 2>/dev/null || true
shot "$main" main-dialog.png

xdotool key alt+o
options=$(window_of Options)
shot "$options" options-dialog.png
xdotool windowfocus --sync "$options" 2>/dev/null || true
xdotool key Escape
sleep 0.3

xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key alt+m
progress=""
for _ in $(seq 1 100); do
    progress=$(xdotool search --onlyvisible --name "Mirroring\.\.\.\$" 2>/dev/null | head -n 1 || true)
    [ -n "$progress" ] && break
    sleep 0.1
done
[ -n "$progress" ] || { echo "no progress window" >&2; exit 1; }
for _ in $(seq 1 200); do
    [ "$(find "$work/mirror" -name 'day*.html' | wc -l)" -ge 10 ] && break
    sleep 0.05
done
shot "$progress" mirroring-progress.png
for _ in $(seq 1 300); do
    [ "$(find "$work/mirror" -name 'day*.html' | wc -l)" -ge 24 ] && [ -f "$work/mirror/about.html" ] && break
    sleep 0.1
done
sleep 8  # the dead host's image is tried again before it counts as failed
shot "$progress" mirroring-dialog.png

# tandril-cli on the same site, its output as it goes into a file.
cli="$PWD/build/tandril-cli"
{
    echo "$ tandril-cli --levels 2 http://127.0.0.1:PORT/index.html notes"
    (cd "$work" && "$cli" --levels 2 "http://127.0.0.1:$port/index.html" notes 2>&1 || true) |
        sed "s/$port/PORT/g; s|$work/|/home/me/|g"
} > docs/tandril-cli.txt
echo docs/tandril-cli.txt