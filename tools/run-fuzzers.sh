#!/usr/bin/env bash
# Builds every fuzz_* target with clang and runs each for a bounded time.
#   tools/run-fuzzers.sh [SECONDS]   (default 20 seconds per target)
# Exits non-zero when a target crashes or finds a fault; its reproducer is left in
# build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQEL_FUZZ=ON -DQEL_BUILD_GUI=OFF -DQEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz/all

targets=()
for binary in "$build"/fuzz/fuzz_*; do
    [ -f "$binary" ] && [ -x "$binary" ] && targets+=("$(basename "$binary")")
done
if [ "${#targets[@]}" -eq 0 ]; then
    echo "run-fuzzers: no fuzz_* programs in $build/fuzz" >&2
    exit 1
fi

mkdir -p "$build/artifacts" "$build/corpus"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "${targets[@]}"; do
    binary="$build/fuzz/$target"
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    echo "== $target (${seconds}s)"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/artifacts/$target-" "$corpus" 2>"$build/$target.log"; then
        tail -n 40 "$build/$target.log" >&2
        echo "run-fuzzers: $target failed" >&2
        status=1
    else
        tail -n 1 "$build/$target.log"
    fi
done
exit $status
