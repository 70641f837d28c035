#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test,
# after the ThreadSanitizer and fuzzing checks of tools/run-extra-checks.sh and the check of
# the demo command and the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

extra=0
bash tools/run-extra-checks.sh || extra=$?
bash tests/packaging/demo-and-package.sh || extra=$?

# The main run comes last so that its summary closes the output.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --timeout 900 --no-tests=error

if [ "$extra" -ne 0 ]; then
    echo "The ThreadSanitizer, fuzzing or packaging checks failed (see above)." >&2
    exit "$extra"
fi
