#!/usr/bin/env bash
# Sets everything up and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   ASan + UBSan build in build-asan/, leak detection on
#   scripts/test.sh --thread     ThreadSanitizer build in build-tsan/: the tests that start threads
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler cache keyed on paths relative to the checkout, so that a fresh clone reuses it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

# A merge left half-done must not pass for a build.
if git rev-parse --git-dir >/dev/null 2>&1 && git grep -nE '^(<{7} |>{7} |={7}$)' -- . ':!*.png'; then
    echo "conflict markers left in the sources" >&2
    exit 1
fi

"$(dirname "$0")/deps.sh"

select=()
target=all
case "${1:-}" in
    --sanitize)
        dir=build-asan
        flags=(-DMERIVAL_SANITIZE=ON -DMERIVAL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
        export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        ;;
    --thread)
        dir=build-tsan
        flags=(-DMERIVAL_TSAN=ON -DMERIVAL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
        # Qt, GLib, SQLite and libmosquitto are not built with the sanitizer: what they do
        # through its wrappers (allocations, copies, descriptors) is not checked, their locks
        # still are, and every access made by our own code is.
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$PWD/scripts/tsan.supp"
        select=(-L threads)
        target=merival_thread_tests
        ;;
    *)
        dir=build
        flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
        ;;
esac

cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j "$(nproc)" --target "$target"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "${select[@]}"
