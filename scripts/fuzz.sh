#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a while, two at a
# time (FUZZ_JOBS to change it), each on one core.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]    default 30 seconds, every target
# Each target starts from a copy of its seed corpus (fuzz/corpus/<target>) in build-fuzz/,
# so the seeds in the repository stay small. A crash, a sanitizer report, a broken property,
# a time-out or a memory blow-up stops the script with a non-zero status; the input is kept
# in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
# Compiler cache keyed on paths relative to the checkout, so that a fresh clone reuses it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1

seconds="${1:-30}"
shift || true

"$(dirname "$0")/deps.sh"

# deps.sh installs clang-14, which provides the versioned name only.
cxx="$(command -v clang++-14 || command -v clang++)"
dir="$PWD/build-fuzz"
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DMERIVAL_FUZZ=ON \
    -DMERIVAL_TESTS=OFF -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_all

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for src in fuzz/*.cpp; do
        targets+=("$(basename "$src" .cpp)")
    done
fi

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/findings"

# One target; its summary is printed in one piece when it ends, so that two running side by
# side do not mix their lines. The status file says whether it found anything.
run_target() {
    local target="$1" corpus="$dir/corpus/$1" log="$dir/findings/$1.log" summary
    mkdir -p "$corpus"
    cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
    if "$dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" \
        "$corpus" >"$log" 2>&1; then
        summary="$(grep -E '^(#[0-9]+[[:space:]]+DONE|Done|stat::number_of_executed_units)' "$log" || true)"
        echo 0 >"$dir/findings/$target.status"
    else
        summary="fuzz_$target: FINDING (log $log)
$(grep -E 'property broken|ERROR|SUMMARY|Test unit written' "$log" || tail -20 "$log")"
        echo 1 >"$dir/findings/$target.status"
    fi
    printf '== fuzz_%s: %s s\n%s\n' "$target" "$seconds" "$summary"
}

jobs_at_once="${FUZZ_JOBS:-2}"
for target in "${targets[@]}"; do
    rm -f "$dir/findings/$target.status"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs_at_once" ]; do
        wait -n || true
    done
    run_target "$target" &
done
wait

status=0
for target in "${targets[@]}"; do
    [ "$(cat "$dir/findings/$target.status" 2>/dev/null)" = 0 ] || status=1
done
exit "$status"
