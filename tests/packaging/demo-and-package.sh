#!/usr/bin/env bash
# Runs the README's main-job command without a display and checks that the backup landed,
# then builds the .deb, unpacks it into a scratch root and runs the installed qel.
set -euo pipefail
cd "$(dirname "$0")/../.."

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "FAILED: $what" >&2
        failed=$((failed + 1))
    fi
}

echo "== the demo command, display unset"
demo_status=0
env -u DISPLAY -u WAYLAND_DISPLAY QEL_DEMO_DIR="$scratch/demo" bash tools/run-demo.sh \
    >"$scratch/demo.log" 2>&1 || demo_status=$?
if [ "$demo_status" -ne 0 ]; then
    cat "$scratch/demo.log" >&2
fi
check "the demo command succeeds" test "$demo_status" -eq 0
check "it reports the backup as complete" grep -q "byte for byte" "$scratch/demo.log"
check "the listing landed" test -s "$scratch/demo/backup/k7.lst"
check "the data landed" test -s "$scratch/demo/backup/ST/SYSDIR.DAT"
check "no recovery file is left" test ! -e "$scratch/demo/backup/k7.bad"
check "the demo server was stopped" test ! -e "$scratch/demo/server.state/pid"

echo "== the Debian package"
(cd build/release && cpack -G DEB >"$scratch/cpack.log" 2>&1) || cat "$scratch/cpack.log" >&2
deb=$(find build/release -maxdepth 1 -name 'velmora-qel_*.deb' | head -n 1)
check "cpack built a package" test -n "$deb"
if [ -n "$deb" ]; then
    dpkg -x "$deb" "$scratch/root"
    check "the installed qel runs" sh -c "'$scratch/root/usr/bin/qel' --version | grep -q 2.0.55"
    check "k7_qel is installed" test -x "$scratch/root/usr/bin/k7_qel"
    check "the man page is installed" test -f "$scratch/root/usr/share/man/man1/qel.1"
    check "the desktop entry is installed" \
        test -f "$scratch/root/usr/share/applications/k7_qel.desktop"
    check "the icon is installed" \
        test -f "$scratch/root/usr/share/icons/hicolor/scalable/apps/k7_qel.svg"
fi

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
