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

# config.txt: Windows-1252 bytes, CR LF. Channel 0 a flow meter at station 1, channel 1 a pH
# meter at 2, channel 2 a resistivity meter at 3 on its extension block, channel 3 a
# conductivity meter at 4.
printf '%b' \
    '1,5\r\n"1","D\xe9bit entr\xe9e"\r\n' \
    '1,2\r\n"2","pH bassin"\r\n' \
    '1,0\r\n"3","Eau ultrapure"\r\n' \
    '1,1\r\n"4","Conductivit\xe9 rejet"\r\n' \
    '#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n' \
    '#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n' > config.txt
# PortCom.dat: COM1, 9600 baud, no parity, 1 stop bit.
printf ' 1             0 \r\n 0 \r\n 0 \r\n' > PortCom.dat
cp "$root/assets/instrum1.bmp" instrum1.bmp

"$sim" --pace --seed 2024 1:flow 2:ph 3:resistivity 4:conductivity > sim.log 2> sim.err &
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
