#!/usr/bin/env bash
# Installs every Debian package Kelvra needs to build, run and test.
# Idempotent: packages already present are skipped, and the package index is
# refreshed at most once per run (only when something is missing).
set -euo pipefail

PACKAGES=(
    # toolchain
    build-essential cmake pkg-config git clang libclang-rt-14-dev llvm
    # Qt 5.15: Core, Gui, Widgets, Network, PrintSupport, DBus, Test
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    # crypto, device identity
    libssl-dev libdbus-1-dev libmount-dev
    # style sheets for the appearance themes
    python3-qdarkstyle
    # runtime services used by the program and its tests
    dbus-daemon dbus-bin dbus-x11 openssh-client openssh-server sshpass putty-tools openssl
    xvfb xauth xterm x11-utils
    # screens for the start-up tests, screenshots, the headless run and the
    # start-up benchmark
    x11-apps xdotool imagemagick libxcb1-dev
    # the workstation's printers for the session editor's tests (a private
    # cupsd), the checker of the desktop entries the installer writes, and
    # gio, which starts an entry as a desktop session does
    cups-daemon cups-client desktop-file-utils libglib2.0-bin
    # a small tray on the virtual screen for the tray menu's picture
    trayer
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: all dependencies present"
    exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
    SUDO=sudo
else
    SUDO=
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
