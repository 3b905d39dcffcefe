#!/usr/bin/env bash
# Builds a fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for a bounded time.
#   scripts/fuzz.sh [SECONDS] [TARGET]     (defaults: 60, scanner_fuzz; also css_fuzz,
#                                           srcset_fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
target="${2:-scanner_fuzz}"
bash scripts/install-deps.sh --core
command -v clang++ >/dev/null || bash scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTANDRIL_GUI=OFF -DTANDRIL_FUZZ=ON \
      -DTANDRIL_SANITIZE=address,undefined,fuzzer-no-link
cmake --build build-fuzz -j2 --target "$target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case "$target" in
    scanner_fuzz) cp tests/fuzz/corpus/* "$work/" ;;
    css_fuzz) cp tests/fuzz/css_corpus/* "$work/" ;;
esac
./build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -max_len=20000 \
    -print_final_stats=1 "$work"
