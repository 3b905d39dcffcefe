#!/usr/bin/env bash
# The core and its tests under AddressSanitizer + UndefinedBehaviorSanitizer, built
# without Qt; then the threaded engine tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --core

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTANDRIL_GUI=OFF \
      -DTANDRIL_SANITIZE=address,undefined
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 600

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRIL_GUI=OFF \
      -DTANDRIL_SANITIZE=thread
cmake --build build-tsan -j2 --target tandril_engine_tests mirror-bench
TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan --output-on-failure -j2 --timeout 600 -L engine
