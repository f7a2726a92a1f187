#!/usr/bin/env bash
# Installs what is missing, builds the program and its tools, and runs the demonstration
# (scripts/demo.sh): simulated stations on COM1 and the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."

"$(dirname "$0")/deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target merival merival-sim merival-poll
exec "$(dirname "$0")/demo.sh" build
