#!/usr/bin/env bash
# Sets everything up and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   ASan + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler cache keyed on paths relative to the checkout, so that a fresh clone reuses it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

"$(dirname "$0")/deps.sh"

if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    flags=(-DMERIVAL_SANITIZE=ON -DMERIVAL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    dir=build
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi

cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
