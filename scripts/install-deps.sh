#!/bin/bash
# Installs the Debian 12 packages needed to build, test, run the demo and package both programs.
# Safe to run again: when everything is installed it does not touch apt at all.
set -euo pipefail

packages=(
    # toolchain
    cmake g++ make ccache file dpkg-dev pkg-config
    clang libclang-rt-14-dev
    # Qt 6 (default) and Qt 5.15, with their linguist tools for the translation catalogues
    qt6-base-dev qt6-base-dev-tools qt6-l10n-tools qt6-tools-dev-tools
    qtbase5-dev qtbase5-dev-tools qttools5-dev-tools
    # XCB: the X server's root window, monitors and window places
    libxcb1-dev libxcb-xinerama0-dev libxcb-randr0-dev
    # the Wayland compositor's own word on its outputs
    libwayland-dev
    # Qt's platform headers, for the tests alone: they give Qt made-up monitors
    qt6-base-private-dev qtbase5-private-dev
    libgl-dev
    # headless X for the program tests and the demo; Xorg's dummy driver for
    # desktops of two monitors, and a window manager that spans them
    xvfb xauth xdotool x11-apps x11-utils fonts-dejavu-core
    xserver-xorg-core xserver-xorg-video-dummy icewm
    # a headless Wayland compositor with XWayland, its screenshots, and Qt's Wayland platform
    sway xwayland grim qt6-wayland qtwayland5
    # GNOME's, KDE's, weston and cage's compositors, headless, for the native and XWayland rows;
    # mutter and kwin_wayland run on a session bus of their own, mutter is set up through gdbus
    mutter kwin-wayland weston cage dbus-daemon libglib2.0-bin
    # a window manager without _NET_WM_FULLSCREEN_MONITORS, and xrandr for new
    # resolutions and for which monitor is the primary one
    openbox x11-xserver-utils
    # re-rendering the images in resources/
    imagemagick librsvg2-bin
    # checking the packages as a distribution would; timing the command-line programs
    lintian desktop-file-utils appstream time
    # the command-line programs' metrics checked by Prometheus' own tools (promtool, node_exporter's
    # textfile collector). The test starts its own exporter on a free loopback port, so the services
    # these packages start where systemd runs (ports 9090 and 9100) are in no test's way
    prometheus prometheus-node-exporter
    # that a replaced file reaches the disk before its rename, and the rename before the end
    strace
    # rating the metrics unit's sandbox (systemd-analyze security --offline)
    systemd
)

# The build machine's own copy counts; with other architectures added
# (scripts/cross-build.sh) a package may be installed for them as well.
native=$(dpkg --print-architecture)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Architecture} ${db:Status-Status}\n' "$package" 2>/dev/null \
        | grep -Eq "^($native|all) installed$" || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
