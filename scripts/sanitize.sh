#!/usr/bin/env bash
# Every test under AddressSanitizer + UndefinedBehaviorSanitizer (widget tests on Qt's
# offscreen platform included); then the core and its tests built without Qt, under
# ThreadSanitizer (the threaded engine tests are the ones it is for).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTANDRIL_GUI=ON \
      -DTANDRIL_SANITIZE=address,undefined
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 600

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRIL_GUI=OFF \
      -DTANDRIL_SANITIZE=thread
cmake --build build-tsan -j2
TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan --output-on-failure -j2 --timeout 600
