#!/usr/bin/env bash
# Builds Tandril (installing what the build needs) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target tandril
exec ./build/ui/tandril
