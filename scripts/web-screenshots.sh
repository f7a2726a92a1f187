#!/usr/bin/env bash
# The pictures of the web view's live page and curves, taken in headless chromium by the
# browser test against merival-sim, into docs/screenshots/web-live.png and web-curves.png.
#
#   scripts/web-screenshots.sh [BUILD_DIR]        (default: build/, configured if needed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)" --target merival-poll merival-sim
mkdir -p "$root/docs/screenshots"
/usr/bin/python3 "$root/tests/web/browser_test.py" "$(cd "$build" && pwd)" \
    "$root/docs/screenshots" WebBrowserTest.test_1_live_page_and_curves_on_loopback
