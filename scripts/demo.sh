#!/usr/bin/env bash
# Demonstration: four simulated stations on COM1 of a demo folder, and the desktop program
# started in that folder. Without a display, the headless poller runs instead.
#
#   scripts/demo.sh [BUILD_DIR]        (default: build/)
#
# Environment: MERIVAL_DEMO_DIR (default: demo/ at the top of the repository),
# MERIVAL_POLL_COUNT (passes of the headless poller, default 10).
# The demo folder's config.txt and PortCom.dat are written afresh on every run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
demo="${MERIVAL_DEMO_DIR:-$root/demo}"

program="$build/shell/merival"
sim="$build/sim/merival-sim"
poll="$build/tools/poll/merival-poll"
for tool in "$program" "$sim" "$poll"; do
    if [ ! -x "$tool" ]; then
        echo "demo: $tool is missing; build first (scripts/run.sh does both)." >&2
        exit 1
    fi
done

mkdir -p "$demo"
cd "$demo"

. "$root/scripts/demo-files.sh"

"$sim" --pace --seed 2024 "${DEMO_STATIONS[@]}" > sim.log 2> sim.err &
sim_pid=$!
stop_sim() {
    kill -TERM "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do
    [ -L COM1 ] && break
    if ! kill -0 "$sim_pid" 2> /dev/null; then
        echo "demo: the simulator stopped:" >&2
        cat sim.err >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -L COM1 ]; then
    echo "demo: the simulator made no COM1 link in $demo" >&2
    exit 1
fi
echo "demo: stations simulated on $demo/COM1 (requests logged in $demo/sim.log)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    count="${MERIVAL_POLL_COUNT:-10}"
    echo "demo: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the desktop"
    echo "      program cannot open its windows; running $count passes of merival-poll"
    echo "      against the same stations instead."
    "$poll" --count "$count"
else
    echo "demo: starting the desktop program in $demo; press OK, then choose Mesure."
    "$program"
fi
