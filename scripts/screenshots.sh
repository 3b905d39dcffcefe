#!/usr/bin/env bash
# Takes the screenshots in docs/ from the real program in a real window under Xvfb:
# the main dialog, the Options dialog and a finished "Mirroring..." dialog. A small
# site is served on 127.0.0.1 for the run; settings live in a temporary directory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tandril

work=$(mktemp -d /tmp/tandril-shots-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

display=:$(( 90 + RANDOM % 9 ))
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# A small site to mirror.
mkdir -p "$work/www/docs" "$work/www/img"
cat > "$work/www/index.html" <<'HTML'
<html><head><title>Field notes</title></head><body background="img/paper.gif">
<h1>Field notes</h1><img src="img/logo.gif">
<ul><li><a href="docs/">Documents</a></li><li><a href="docs/plants.html">Plants</a></li>
<li><a href="docs/birds.html">Birds</a></li><li><a href="about.html">About</a></li></ul>
</body></html>
HTML
for p in index plants birds; do
    echo "<html><body><h2>$p</h2><a href=\"../index.html\">home</a><img src=\"../img/logo.gif\"></body></html>" > "$work/www/docs/$p.html"
done
echo "<html><body><p>About these notes.</p></body></html>" > "$work/www/about.html"
convert -size 16x16 xc:'#2e6b4f' "$work/www/img/logo.gif"
convert -size 16x16 xc:'#f4f1e6' "$work/www/img/paper.gif"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/www" && exec python3 -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
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
progress=$(window_of "Mirroring...")
for _ in $(seq 1 100); do
    [ -f "$work/mirror/about.html" ] && break
    sleep 0.1
done
sleep 1
shot "$progress" mirroring-dialog.png
