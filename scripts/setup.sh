#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# A second run finds everything present and installs nothing.
set -euo pipefail

packages=(
    cmake g++ make ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5sql5-sqlite libqwt-qt5-dev
    sqlite3 xvfb xauth x11-utils fonts-wqy-microhei socat procps
    xdotool imagemagick dbus at-spi2-core
    libmosquitto-dev mosquitto mosquitto-clients libxcb1-dev
    dpkg-dev file faketime
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
