#!/usr/bin/env bash
# Builds the scanner's fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time.
#   scripts/fuzz.sh [SECONDS]      (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/install-deps.sh --core
command -v clang++ >/dev/null || bash scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTANDRIL_GUI=OFF -DTANDRIL_FUZZ=ON \
      -DTANDRIL_SANITIZE=address,undefined,fuzzer-no-link
cmake --build build-fuzz -j2 --target scanner_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work/"
./build-fuzz/tests/fuzz/scanner_fuzz -max_total_time="$seconds" -max_len=20000 \
    -print_final_stats=1 "$work"
