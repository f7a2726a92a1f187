#!/usr/bin/env bash
# Pictures of the configuration dialog, the main window, the measurement window with live
# values, the serial link and extraction dialogs and the trend window, taken under a virtual X display with the
# demonstration's stations, into docs/screenshots/.
#
# The pictures must name nothing of the machine: the program runs in a private mount namespace
# (unshare) where the working folder is /home/exploitant/MERIVAL on an empty /home.
#
#   scripts/screenshots.sh [BUILD_DIR]        (default: build/, configured if needed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
if [ -z "${MERIVAL_SHOTS_INSIDE:-}" ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
    cmake --build "$build" -j "$(nproc)" --target merival-screenshots merival-sim \
        merival-history-screenshots bench_history
fi
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
command -v unshare > /dev/null || { echo "screenshots: unshare is missing (package util-linux)" >&2; exit 1; }

if [ -z "${MERIVAL_SHOTS_INSIDE:-}" ]; then
    if ! unshare -rm true 2> /dev/null; then
        echo "screenshots: this system refuses a private mount namespace (unshare -rm)" >&2
        exit 1
    fi
    exec unshare -rm env MERIVAL_SHOTS_INSIDE=1 bash "$0" "$build"
fi

# From here on, inside the namespace: an empty /home that only this run sees.
mount -t tmpfs -o mode=0755 merival-home /home
export HOME=/home/exploitant
mkdir -p "$out"

# The demonstration's folder, simulator and files, without starting the program.
demo="$HOME/MERIVAL"
mkdir -p "$demo"
cd "$demo"
. "$root/scripts/demo-files.sh"
# Two logger files for the extraction dialog's list.
: > Tessamon.log
: > Station2.log

"$sim" --pace --seed 2024 "${DEMO_STATIONS[@]}" > sim-requests.txt 2> sim.err &
sim_pid=$!
trap 'kill -TERM "$sim_pid" 2> /dev/null || true; wait "$sim_pid" 2> /dev/null || true' EXIT
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

# The trend window on a 1024 x 768 screen, over the month of four channels that bench_history
# generates under the build (about a minute the first time, then reused).
month="$build/bench-history/historique.sqlite"
if [ ! -f "$month" ]; then
    "$build/bench/bench_history" "$month" > /dev/null
fi
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/tools/history/merival-history-screenshots" "$month" "$out"
echo "screenshots: written to $out"
ls -l "$out"
