#!/usr/bin/env bash
# Shows both programs working against the simulated touch controller.
#
# Installs what is missing, builds in build-demo/, installs the programs into
# build-demo/stage/ and starts them through their launchers. The simulated
# driver is found two seconds after start, its signals move, and a
# calibration started with "Calibrate" walks through its three targets on
# its own (2.5 s each).
#
# With a display (DISPLAY set) the windows open there; close them to end.
# Without one the programs run on a private Xvfb display, the demo walks
# through the main window, the calibration screen and the graph window of
# each, and saves their pictures in ./demo-screenshots/ (or DEMO_SCREENSHOTS).
#
# DEMO_SCENARIO names another scenario for the simulated controller, for
# example one that replays a recording made with pravexctl or lunarictl
# ("lunari.replay = /path/to/panel.rec").
#
# Usage: scripts/demo.sh            (from any directory)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-demo"
stage="$build/stage"
screenshots=${DEMO_SCREENSHOTS:-$PWD/demo-screenshots}

"$root/scripts/install-deps.sh"

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
echo "demo: building in $build"
mkdir -p "$build"
if ! cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONTROLLER_BUILD_TESTS=ON "${launcher[@]}" \
        >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    exit 1
fi
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" \
    --target pravex_controller lunari_controller pravexctl lunarictl pravex_docs lunari_docs \
             translations driversim_preload
rm -rf "$stage"
for component in pravex lunari; do
    cmake --install "$build" --prefix "$stage" --component "$component" >/dev/null
done

scenario=$(readlink -f -- "${DEMO_SCENARIO:-$root/tests/e2e/demo-scenario.txt}")
export DRIVERSIM_SCENARIO="$scenario"
preload="$build/driversim/libdriversim.so"

if [ -z "${DISPLAY:-}" ]; then
    echo "demo: no display; running both programs on a private Xvfb display"
    exec python3 "$root/tests/e2e/demo_tour.py" --bindir "$stage/bin" --preload "$preload" \
        --scenario "$scenario" --state "$build/state" --out "$screenshots"
fi

# The launchers keep each program's working folder under XDG_STATE_HOME.
export XDG_STATE_HOME="$build/state"
pids=()
stop() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap stop INT TERM EXIT
for program in pravex_controller lunari_controller; do
    LD_PRELOAD="$preload" "$stage/bin/$program" &
    pids+=($!)
done
sleep 2
for i in 0 1; do
    if ! kill -0 "${pids[$i]}" 2>/dev/null; then
        program=$([ "$i" = 0 ] && echo pravex_controller || echo lunari_controller)
        echo "demo: $program ended at once: a copy of it is already running (one copy at a time)" >&2
    fi
done
cat <<EOF
demo: both programs run on $DISPLAY against the simulated controller.
  - the driver shows as found (green USB symbol, scan rate) after two seconds;
  - "Calibrate" opens the full-screen calibration; the simulated driver walks
    through the three targets by itself ("Erea mode" lets you drag an area first);
  - "Test" / "Graph" opens the live signals; "+" and "-" set the threshold.
  Working folders (catalogue, icon, driver log): $build/state/
Close both windows (or press Ctrl-C here) to end.
EOF
wait
