#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
# As root it runs apt-get; otherwise it prints the apt-get line to run.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build ccache pkg-config
    qt6-base-dev qt6-serialport-dev qt6-translations-l10n libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libmodbus-dev clang-14 libclang-rt-14-dev
    xvfb x11-apps imagemagick
    qt6-charts-dev libqt6sql6-sqlite libmosquitto-dev mosquitto openssl
    lintian devscripts
    qt6-httpserver-dev qt6-websockets-dev libcurl4-openssl-dev libsodium-dev
    mbpoll socat chromium python3-aiosmtpd python3-prometheus-client libjs-dygraphs
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

line="apt-get install -y ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $line
else
    echo "Missing packages. Run as root:" >&2
    echo "  sudo apt-get update && sudo $line" >&2
    exit 1
fi
