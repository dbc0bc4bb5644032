#!/usr/bin/env bash
# Checks a build's Debian packages as a distribution would: builds them with
# CPack, runs lintian (errors, warnings and informational tags), and validates
# their desktop entries (desktop-file-validate) and AppStream metadata
# (appstreamcli validate --no-net). Fails on any lintian tag but the ones the
# build's publishing settings explain: the default maintainer address
# (bogus-mail-host, also in the change log) and no copyright holder or
# licence given (no-copyright-file).
#
# Usage: scripts/check-packages.sh [build-dir]     (default: build/)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
cache="$build/CMakeCache.txt"
[ -f "$cache" ] || { echo "check-packages: $build is not a configured build" >&2; exit 2; }
for tool in cpack lintian dpkg-deb desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "check-packages: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

setting() {
    sed -n "s/^$1:[A-Z]*=//p" "$cache"
}
allowed=()
if [ "$(setting CONTROLLER_MAINTAINER)" = "Touch controller developers <maintainers@localhost>" ]; then
    allowed+=(bogus-mail-host bogus-mail-host-in-debian-changelog)
fi
if [ -z "$(setting CONTROLLER_COPYRIGHT_HOLDER)" ] || [ -z "$(setting CONTROLLER_LICENSE)" ]; then
    allowed+=(no-copyright-file)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target pravex_docs lunari_docs >/dev/null
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" \
        -D CPACK_OUTPUT_FILE_PREFIX="$work/debs" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    exit 1
fi
packages=("$work"/debs/*.deb)
echo "check-packages: ${packages[*]##*/}"
# The sizes a user downloads, so that the README need not quote figures that age.
for package in "${packages[@]}"; do
    echo "check-packages: ${package##*/}: $(( ($(stat -c %s "$package") + 1023) / 1024 )) KiB"
done

failed=0
# lintian says as root that it would rather not run as root; that is no tag.
lintian --display-info --pedantic "${packages[@]}" 2>/dev/null >"$work/lintian.txt" || true
while read -r line; do
    tag=$(printf '%s\n' "$line" | sed -n 's/^[EWIPX]: [^ ]*: \([^ ]*\).*/\1/p')
    [ -n "$tag" ] || continue
    if printf '%s\n' "${allowed[@]}" | grep -qx -- "$tag"; then
        echo "  lintian (explained by the settings): $line"
    else
        echo "  lintian: $line"
        failed=1
    fi
done <"$work/lintian.txt"

for package in "${packages[@]}"; do
    root="$work/root-$(basename "$package" .deb)"
    dpkg-deb -x "$package" "$root"
    for entry in "$root"/usr/share/applications/*.desktop; do
        desktop-file-validate "$entry" || { echo "  desktop-file-validate: ${entry##*/} failed"; failed=1; }
    done
    metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
    [ -f "${metainfo[0]}" ] || { echo "  no AppStream metadata in ${package##*/}"; failed=1; continue; }
    appstreamcli validate --no-net "${metainfo[@]}" >"$work/appstream.txt" 2>&1 \
        || { cat "$work/appstream.txt"; echo "  appstreamcli: ${metainfo[*]##*/} failed"; failed=1; }
done

if [ "$failed" -ne 0 ]; then
    echo "check-packages: FAILED"
    exit 1
fi
echo "check-packages: lintian, desktop-file-validate and appstreamcli find nothing to mend"
