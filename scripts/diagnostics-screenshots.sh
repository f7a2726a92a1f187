#!/usr/bin/env bash
# The picture of "Diagnostic > Trafic de la ligne" during a fault scenario, under a virtual X
# display, into docs/screenshots/diagnostics.png: the demonstration's four channels, with
# stations that send replies too long, fall silent, refuse with an exception, echo the request
# as a 2-wire adapter does, or answer with a bad CRC.
#
#   scripts/diagnostics-screenshots.sh [BUILD_DIR]        (default: build/, configured if needed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)" --target merival-diagnostics-screenshot merival-sim
build="$(cd "$build" && pwd)"
command -v xvfb-run > /dev/null || { echo "diagnostics-screenshots: xvfb-run is missing (package xvfb)" >&2; exit 1; }
out="$root/docs/screenshots"
mkdir -p "$out"

work="$(mktemp -d)"
folder="$work/MERIVAL"
mkdir -p "$folder"
cd "$folder"
. "$root/scripts/demo-files.sh"
"$build/sim/merival-sim" --pace --seed 15 1:flow:long=0.3 2:ph:silent=0.3:exception=0.3 \
    3:resistivity:echo 4:conductivity:badcrc=0.3:noise=0.1 > sim-requests.txt 2> sim.err &
sim_pid=$!
trap 'kill -TERM "$sim_pid" 2> /dev/null || true; wait "$sim_pid" 2> /dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    [ -L COM1 ] && break
    sleep 0.1
done
[ -L COM1 ] || { echo "diagnostics-screenshots: the simulator made no COM1 link" >&2; cat sim.err >&2; exit 1; }
if locale -a 2> /dev/null | grep -qi '^fr_FR\.utf8$'; then
    export LC_ALL=fr_FR.UTF-8
fi
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/diagnostics/merival-diagnostics-screenshot" "$out" 7
