#!/usr/bin/env bash
# merival-poll --record against merival-sim, killed with SIGKILL at 20 random moments: after
# each kill the file passes PRAGMA integrity_check, the next run records again, and the passes
# printed whole but not recorded are counted.
#
#   bench/history_crash.sh [BUILD_DIR]   (default: build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cmake --build "$build" --target integration_HistoryRecordTest merival-poll merival-sim > /dev/null
MERIVAL_HISTORY_KILLS=20 "$build/tests/integration_HistoryRecordTest" \
    --gtest_filter='*KilledWhileRecording*' | tee /dev/stderr |
    awk '/^kill/ { printed += $6; recorded += $10; n++ }
         END { printf "%d kills: %d passes printed whole, %d recorded, %d lost\n", n, printed, recorded, printed - recorded }'
