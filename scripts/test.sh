#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: Qt 6, Qt 5.15,
# and Qt 6 under AddressSanitizer and UndefinedBehaviorSanitizer. The Debian
# packages of the Qt 6 and Qt 5.15 builds are checked as a distribution would
# (scripts/check-packages.sh): the Qt 6 ones with the default publishing
# settings, the Qt 5.15 ones as a publisher would set them.
# Then runs the fuzz targets for a bounded time (FUZZ_SECONDS, default 45 each),
# and cross-builds for ARM with scripts/cross-build.sh: arm64 with its tests
# under emulation and its packages checked, armhf with its packages checked and
# the command-line programs run under emulation.
# Usage: scripts/test.sh [suite...]   (suites: qt6 qt5 sanitize fuzz arm64 armhf; default all)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/install-deps.sh" || { echo "installing the dependencies failed" >&2; exit 1; }

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths inside the checkout are hashed relative to the build folder, so a
    # run in a fresh clone elsewhere reuses what an earlier run compiled.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi

failed=()
run_suite() {
    local name=$1
    shift
    local dir="$root/build-test-$name"
    echo "=== $name: configure and build in $dir"
    mkdir -p "$dir"
    if ! cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"
        failed+=("$name (configure)")
        return
    fi
    if ! cmake --build "$dir" -j"$jobs"; then
        failed+=("$name (build)")
        return
    fi
    echo "=== $name: tests"
    if ! (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600); then
        failed+=("$name (tests)")
    fi
    if [ "$name" != sanitize ]; then
        echo "=== $name: packages"
        "$root/scripts/check-packages.sh" "$dir" || failed+=("$name (packages)")
    fi
}

# What a publisher sets; the licence here only lets the copyright file be checked.
publisher=(-DCONTROLLER_MAINTAINER="Package Check <check@panels.example.net>"
           -DCONTROLLER_COPYRIGHT_HOLDER="2026 Package Check"
           -DCONTROLLER_LICENSE=check-only -DCONTROLLER_LICENSE_FILE="$root/packaging/check-only-licence.txt")

suites=("$@")
[ ${#suites[@]} -eq 0 ] && suites=(qt6 qt5 sanitize fuzz arm64 armhf)
timings=()
for suite in "${suites[@]}"; do
    suite_started=$SECONDS
    case "$suite" in
        qt6) run_suite qt6 -DCONTROLLER_QT_MAJOR=6 ;;
        qt5) run_suite qt5 -DCONTROLLER_QT_MAJOR=5 "${publisher[@]}" ;;
        sanitize) run_suite sanitize -DCONTROLLER_QT_MAJOR=6 -DCONTROLLER_SANITIZE=ON ;;
        fuzz) "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-45}" || failed+=("fuzz") ;;
        arm64) "$root/scripts/cross-build.sh" arm64 "$root/build-test-arm64" || failed+=("arm64") ;;
        armhf) "$root/scripts/cross-build.sh" --no-tests armhf "$root/build-test-armhf" || failed+=("armhf") ;;
        *) echo "unknown suite: $suite" >&2; exit 2 ;;
    esac
    timings+=("$suite $((SECONDS - suite_started)) s")
done
echo "suite times: $(printf '%s, ' "${timings[@]}" | sed 's/, $//')"

if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all suites passed: ${suites[*]}"
