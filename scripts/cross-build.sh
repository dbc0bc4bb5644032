#!/usr/bin/env bash
# Builds, tests and packages both programs for one Debian architecture: arm64
# and armhf cross-compiled with Debian's multiarch packages and tested under
# qemu user-mode emulation, amd64 (or whatever this machine is) natively.
#
# Installs what is missing (scripts/install-deps.sh, then for a foreign
# architecture: the architecture itself, the cross compiler, the target's Qt 6
# and XCB development packages, qemu-user-static), configures with
# cmake/toolchains/ARCH.cmake, builds, runs the tests (ctest, under emulation
# for a foreign architecture), makes the packages into BUILD_DIR/packages/,
# checks them (scripts/check-packages.sh), asks apt whether they would install
# on their architecture, and runs a command-line program against the
# preloaded simulated controller.
#
# Usage: scripts/cross-build.sh [--no-tests] ARCH [BUILD_DIR]
#   ARCH        arm64, armhf or amd64
#   BUILD_DIR   default: build-ARCH/ in the source tree
#   --no-tests  build only the programs, the simulator and what the packages
#               need; skip ctest
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
run_tests=1
if [ "${1:-}" = --no-tests ]; then
    run_tests=0
    shift
fi
arch=${1:-}
case "$arch" in
    arm64) triplet=aarch64-linux-gnu; qemu=qemu-aarch64-static ;;
    armhf) triplet=arm-linux-gnueabihf; qemu=qemu-arm-static ;;
    amd64) triplet=; qemu= ;;
    *) echo "usage: $0 [--no-tests] arm64|armhf|amd64 [BUILD_DIR]" >&2; exit 2 ;;
esac
build=${2:-$root/build-$arch}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

started=$SECONDS
step_started=$SECONDS
step() {
    echo "cross-build $arch: $1 ($((SECONDS - step_started)) s for the step before, $((SECONDS - started)) s in all)"
    step_started=$SECONDS
}

"$root/scripts/install-deps.sh"

native=$(dpkg --print-architecture)
cross=0
[ "$arch" != "$native" ] && cross=1

if [ "$cross" -eq 1 ]; then
    [ -n "$qemu" ] || { echo "cross-build: $arch is built natively only, on an $arch machine" >&2; exit 2; }
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "cross-build: run as root to install the $arch packages" >&2; exit 1; }
        sudo=(sudo)
    fi
    # The target's compiler, Qt 6 (its private headers for the tests' made-up
    # monitors), XCB, Wayland client and GL development files, and the emulator.
    packages=("g++-$triplet" "qt6-base-dev:$arch" "qt6-base-private-dev:$arch" "libxcb1-dev:$arch"
              "libxcb-xinerama0-dev:$arch" "libxcb-randr0-dev:$arch" "libwayland-dev:$arch" "libgl-dev:$arch" qemu-user-static)
    missing=()
    for package in "${packages[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        [ "$status" = installed ] || missing+=("$package")
    done
    if [ ${#missing[@]} -ne 0 ]; then
        step "installing ${missing[*]}"
        if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            "${sudo[@]}" dpkg --add-architecture "$arch"
        fi
        apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900)
        "${apt[@]}" update -q
        # Multiarch packages must match the build machine's versions; apt may
        # upgrade those, but must never remove anything to make room.
        if "${apt[@]}" install -s --no-install-recommends "${missing[@]}" | grep -q '^Remv '; then
            "${apt[@]}" install -s --no-install-recommends "${missing[@]}" | grep '^Remv ' >&2
            echo "cross-build: installing the $arch packages would remove the packages above; not done" >&2
            exit 1
        fi
        "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"
    fi
fi

step "configuring in $build"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONTROLLER_QT_MAJOR=6 -DCONTROLLER_BUILD_TESTS=ON)
# Without the tests, CPack must not build them either: it builds all before installing.
[ "$run_tests" -eq 0 ] && options+=(-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
[ "$cross" -eq 1 ] && options+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$arch.cmake")
if command -v ccache >/dev/null 2>&1; then
    options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if ! cmake -S "$root" -B "$build" "${options[@]}" >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    exit 1
fi

step "building"
if [ "$run_tests" -eq 1 ]; then
    cmake --build "$build" -j"$jobs"
else
    # What the packages hold, and the simulator for the command-line run.
    cmake --build "$build" -j"$jobs" --target pravex_controller lunari_controller pravexctl lunarictl \
        translations pravex_docs lunari_docs driversim_preload
fi

failed=()
if [ "$run_tests" -eq 1 ]; then
    step "testing"
    (cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 900) || failed+=(tests)
fi

step "making the packages into $build/packages"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
for package in "$build"/packages/*.deb; do
    echo "  ${package##*/}: $(du -k "$package" | cut -f1) KiB; $(dpkg-deb -f "$package" Architecture)," \
         "Depends: $(dpkg-deb -f "$package" Depends)"
    [ "$(dpkg-deb -f "$package" Architecture)" = "$arch" ] || { echo "  not labelled $arch" >&2; failed+=(architecture); }
done

step "checking the packages"
"$root/scripts/check-packages.sh" "$build" || failed+=(packages)

# Whether apt finds every dependency for the packages' architecture.
if ! apt-get install -s --no-install-recommends "$build"/packages/*.deb >"$build/install-check.log" 2>&1; then
    cat "$build/install-check.log" >&2
    failed+=(install)
else
    echo "  apt-get install -s: $(grep -c '^Inst ' "$build/install-check.log") packages to install, none missing"
fi

step "running lunarictl and pravexctl against the simulated controller"
smoke=$(mktemp -d)
trap 'rm -rf "$smoke"' EXIT
printf 'lunari.fps = 120\npravex.fps = 60\n' >"$smoke/scenario"
emulator=()
[ "$cross" -eq 1 ] && emulator=("$qemu")
for tool in lunarictl pravexctl; do
    if ! DRIVERSIM_SCENARIO="$smoke/scenario" LD_PRELOAD="$build/driversim/libdriversim.so" \
            "${emulator[@]}" "$build/$tool" status --json >"$smoke/$tool.json" 2>"$smoke/$tool.err"; then
        cat "$smoke/$tool.err" >&2
        failed+=("$tool")
        continue
    fi
    if ! python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); sys.exit(0 if d.get("fps") in (60, 120) else 1)' \
            "$smoke/$tool.json"; then
        echo "  $tool status --json gave:" >&2
        cat "$smoke/$tool.json" >&2
        failed+=("$tool")
        continue
    fi
    echo "  ${emulator[*]:+${emulator[*]} }$tool status --json: $(tr -d '\n' <"$smoke/$tool.json" | cut -c1-100)..."
done

step "done"
if [ ${#failed[@]} -ne 0 ]; then
    echo "cross-build $arch: FAILED: ${failed[*]}"
    exit 1
fi
echo "cross-build $arch: passed in $((SECONDS - started)) s"
