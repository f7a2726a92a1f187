#!/usr/bin/env bash
# Pictures of the configuration dialog, the main window and the measurement window with live
# values, taken under a virtual X display with the demonstration's stations, into
# docs/screenshots/.
#
#   scripts/screenshots.sh [BUILD_DIR]        (default: build/, configured if needed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)" --target merival-screenshots merival-screenshot-trafic merival-sim
build="$(cd "$build" && pwd)"
out="$root/docs/screenshots"
shots="$build/shell/merival-screenshots"
sim="$build/sim/merival-sim"
for tool in "$shots" "$sim"; do
    if [ ! -x "$tool" ]; then
        echo "screenshots: $tool is missing; build it first" >&2
        exit 1
    fi
done
command -v xvfb-run > /dev/null || { echo "screenshots: xvfb-run is missing (package xvfb)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The demonstration's folder, simulator and files, without starting the program.
demo="$work/demo"
mkdir -p "$demo"
cd "$demo"
. "$root/scripts/demo-files.sh"
# Two logger files for the extraction dialog's list.
: > Tessamon.log
: > Station2.log

"$sim" --pace --seed 2024 "${DEMO_STATIONS[@]}" > sim-requests.txt 2> sim.err &
sim_pid=$!
trap 'kill -TERM "$sim_pid" 2> /dev/null || true; wait "$sim_pid" 2> /dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    [ -L COM1 ] && break
    sleep 0.1
done
[ -L COM1 ] || { echo "screenshots: the simulator made no COM1 link" >&2; cat sim.err >&2; exit 1; }

# French number formatting, as on the operator's machine, when the locale exists.
if locale -a 2> /dev/null | grep -qi '^fr_FR\.utf8$'; then
    export LC_ALL=fr_FR.UTF-8
fi
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" "$shots" "$out"
kill -TERM "$sim_pid" 2> /dev/null || true
wait "$sim_pid" 2> /dev/null || true

# The traffic window during a fault scenario: a folder and a simulator of its own, stations
# that fall silent, answer with a bad CRC, an exception, a reply too long, or an echo.
faults="$work/MERIVAL"
mkdir -p "$faults"
cd "$faults"
. "$root/scripts/demo-files.sh"
"$sim" --pace --seed 15 1:flow:long=0.3 2:ph:silent=0.3:exception=0.3 3:resistivity:echo \
    4:conductivity:badcrc=0.3:noise=0.1 > sim-requests.txt 2> sim.err &
sim_pid=$!
for _ in $(seq 100); do
    [ -L COM1 ] && break
    sleep 0.1
done
[ -L COM1 ] || { echo "screenshots: the simulator made no COM1 link" >&2; cat sim.err >&2; exit 1; }
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" "$build/shell/merival-screenshot-trafic" "$out"
echo "screenshots: written to $out"
ls -l "$out"
