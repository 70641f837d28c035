#!/usr/bin/env bash
# Backup and restore speed of qel beside a Python ftplib loop (a fresh active-mode connection
# per file) and lftp mirroring over one connection, against the test server and vsftpd on
# loopback. Builds a release qel in build/release, then runs bench/qel_bench.py with the
# arguments given (--help lists them). Not part of CI: it takes minutes, needs about 3 GiB
# under $TMPDIR, and root for vsftpd.
set -euo pipefail

cd "$(dirname "$0")/.."
repo=$(pwd)
build="$repo/build/release"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_GUI=OFF \
        -DQEL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target qel >/dev/null
for tool in lftp strace /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
exec /usr/bin/python3 "$repo/bench/qel_bench.py" --qel "$build/cli/qel" "$@"
