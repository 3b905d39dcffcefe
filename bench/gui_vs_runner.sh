#!/usr/bin/env bash
# The progress dialog against the headless runner on the same 2,000-page run, on a
# freshly made ext4 file system (a loop device; needs root), else on /dev/shm. A fresh
# file system keeps the disk's own history (inodes deleted by earlier runs, which ext4
# searches past) out of the comparison.
#
#   bench/gui_vs_runner.sh [BUILD_DIR] [PAGES]     (defaults: build-guibench, 2000)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-guibench}"
pages="${2:-2000}"
bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTANDRIL_GUI=ON -DTANDRIL_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target gui-bench mirror-bench

dir=/dev/shm
image=""
mnt=""
cleanup() {
    [ -n "$mnt" ] && umount "$mnt" 2>/dev/null || true
    [ -n "$mnt" ] && rmdir "$mnt" 2>/dev/null || true
    [ -n "$image" ] && rm -f "$image"
}
trap cleanup EXIT
if [ "$(id -u)" -eq 0 ]; then
    image=$(mktemp /tmp/tandril-ext4-XXXXXX.img)
    truncate -s 2G "$image"
    mkfs.ext4 -q -F "$image"
    mnt=$(mktemp -d /tmp/tandril-ext4-XXXXXX)
    if mount -o loop "$image" "$mnt"; then
        dir=$mnt
    else
        mnt=""
    fi
fi
echo "mirrors under $dir"
QT_QPA_PLATFORM=offscreen "$build/gui-bench" "$pages" "$dir" "$(cd "$build" && pwd)/mirror-bench"
