#!/usr/bin/env bash
# Checks beyond the sanitized test run, called by tools/run-tests.sh:
#  1. the engine tests and the qel front end under ThreadSanitizer (the worker thread, its
#     progress hand-over to the front end, the runner's exit code);
#  2. every fuzz target for a short, bounded time (tools/run-fuzzers.sh).
#   tools/run-extra-checks.sh [FUZZ_SECONDS]   (default 15 seconds per fuzz target)
# Exits non-zero when either check fails; both run even when the first one fails.
set -uo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${1:-15}
build=build/tsan
status=0

step() {
    echo "== run-extra-checks: $*"
}

thread_sanitizer() {
    step "ThreadSanitizer build ($build)"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_TSAN=ON -DQEL_SANITIZE=OFF \
        -DQEL_BUILD_GUI=OFF >/dev/null || return 1
    cmake --build "$build" -j "$(nproc)" --target qel qel_tests_engine qel_tests_cli || return 1
    step "engine and qel tests under ThreadSanitizer"
    # A report stops the process: a test fails, and so does a qel run that a test started.
    TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
        ctest --test-dir "$build" -j "$(nproc)" -L '^(engine|cli)$' --output-on-failure \
        --timeout 600 --no-tests=error
}

if ! thread_sanitizer; then
    echo "run-extra-checks: the ThreadSanitizer check failed" >&2
    status=1
fi

step "fuzz targets, ${fuzz_seconds}s each"
if ! bash tools/run-fuzzers.sh "$fuzz_seconds"; then
    echo "run-extra-checks: a fuzz target failed" >&2
    status=1
fi

exit $status
