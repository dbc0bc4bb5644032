#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one for
# a bounded time, starting from its seed corpus in tests/fuzz/corpus/<target>/.
# Exits non-zero when a target finds a crash, a sanitizer report or a leak;
# the input that did it is kept in build-fuzz/artifacts/.
# Usage: scripts/fuzz.sh [seconds per target]   (default 60)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
case "$seconds" in
    ''|*[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;;
esac
jobs=$(nproc 2>/dev/null || echo 2)
dir="$root/build-fuzz"
targets=(fuzz_answers fuzz_views)

"$root/scripts/install-deps.sh" || { echo "installing the dependencies failed" >&2; exit 1; }

cc=$(command -v clang-14 || command -v clang) || { echo "clang is missing" >&2; exit 1; }
cxx=$(command -v clang++-14 || command -v clang++) || { echo "clang++ is missing" >&2; exit 1; }
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Everything is instrumented for coverage and the sanitizers; only the fuzz
# targets themselves link libFuzzer's main.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

mkdir -p "$dir"
echo "=== fuzz: configure and build in $dir"
if ! cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCONTROLLER_QT_MAJOR=6 -DCONTROLLER_FUZZ=ON \
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" "${launcher[@]}" \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"
    exit 1
fi
cmake --build "$dir" -j"$jobs" --target "${targets[@]}" || exit 1

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# As in the sanitizer suite: the leak checker can crash walking recorded dynamic TLS.
export ASAN_OPTIONS=intercept_tls_get_addr=0
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan-suppressions.txt:print_suppressions=0"
failed=()
for target in "${targets[@]}"; do
    # New inputs go to the build tree; the committed seeds are only read.
    corpus="$dir/corpus/$target"
    mkdir -p "$corpus" "$dir/artifacts"
    echo "=== fuzz: $target for ${seconds} s"
    if ! "$dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
            -artifact_prefix="$dir/artifacts/$target-" -print_final_stats=1 \
            "$corpus" "$root/tests/fuzz/corpus/$target" 2>"$dir/$target.log"; then
        tail -n 60 "$dir/$target.log"
        failed+=("$target")
    else
        grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$dir/$target.log" || true
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "FUZZ FAILED: ${failed[*]} (inputs in $dir/artifacts)"
    exit 1
fi
echo "fuzz: no crash in ${targets[*]}"
