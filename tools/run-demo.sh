#!/usr/bin/env bash
# The main job against the bundled demo server: install what is missing, build, start the
# demo server, back it up with qel, show what landed, and open k7_qel when a display is there.
set -euo pipefail
cd "$(dirname "$0")/.."

demo=${QEL_DEMO_DIR:-/tmp/velmora-demo}
server_root=$demo/server
folder=$demo/backup
build=build/release

bash tools/install-deps.sh demo

echo "== Building (release) in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
qel=$build/cli/qel
gui=$build/ui/k7_qel

echo "== Starting the demo server"
# A successful backup removes the marker 7.1/safe; put it back so the demo can run again.
bash tools/demo-server.sh --root "$server_root" --reset-markers >/dev/null 2>&1 || true
bash tools/demo-server.sh --root "$server_root" --background
port=$(cat "$server_root.state/port")
host=127.0.0.1:$port

# Checksums of every file of the two data trees, by path relative to the given root.
checksums() { (cd "$1" && find access2 ST -type f -print0 | sort -z | xargs -0 sha256sum); }

stop_server() { bash tools/demo-server.sh --root "$server_root" --stop >/dev/null; }

mkdir -p "$folder"
log=$demo/VelmoraQel.log
echo "== qel backup --host $host --folder $folder"
status=0
"$qel" backup --host "$host" --folder "$folder" --no-resume --debug-level 1 --log "$log" ||
    status=$?

echo
echo "== What landed in $folder"
files=$(find "$folder" -type f | wc -l)
echo "$files files, $(du -sh "$folder" | cut -f1) in all; the first few:"
find "$folder" -type f | sort | head -n 12 | sed "s|^$folder/|  |"
if [ "$status" -eq 0 ]; then
    if [ "$(checksums "$server_root")" = "$(checksums "$folder")" ]; then
        echo "Every file of the server's access2 and ST trees is here, byte for byte."
    else
        echo "The local trees differ from the server's: see $log" >&2
        status=1
    fi
fi
echo "Operation log: $log"

if [ "$status" -ne 0 ]; then
    stop_server
    exit "$status"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${CI:-}" ] && [ -x "$gui" ]; then
    bash tools/demo-server.sh --root "$server_root" --reset-markers >/dev/null
    echo
    echo "== Opening k7_qel: type $host as the host and a folder of your choice."
    echo "   The demo server stops when you close the program."
    "$gui" || true
fi
stop_server
