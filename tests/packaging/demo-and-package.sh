#!/usr/bin/env bash
# Runs the README's main-job command without a display and checks that the backup landed,
# then builds the two .deb packages, checks them with lintian, unpacks them into a scratch
# root and runs the installed qel and man.
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

echo "== the Debian packages"
version=$(sed -n 's/^project(k7_qel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
(cd build/release && cpack -G DEB >"$scratch/cpack.log" 2>&1) || cat "$scratch/cpack.log" >&2
arch=$(dpkg --print-architecture)
cli_deb=build/release/velmora-qel_${version}_$arch.deb
gui_deb=build/release/velmora-qel-gui_${version}_$arch.deb
check "cpack built velmora-qel $version" test -f "$cli_deb"
check "cpack built velmora-qel-gui $version" test -f "$gui_deb"
if [ -f "$cli_deb" ] && [ -f "$gui_deb" ]; then
    # Errors and warnings fail; notes (I:) and overrides do not.
    lintian_status=0
    lintian --fail-on error,warning "$cli_deb" "$gui_deb" >"$scratch/lintian.log" 2>&1 ||
        lintian_status=$?
    cat "$scratch/lintian.log"
    check "lintian finds no error or warning" test "$lintian_status" -eq 0
    check "the command line needs no Qt" sh -c "! dpkg-deb -f '$cli_deb' Depends | grep -q qt"
    check "the desktop program needs the command line" \
        sh -c "dpkg-deb -f '$gui_deb' Depends | grep -q 'velmora-qel (= $version)'"

    root=$scratch/root
    dpkg -x "$cli_deb" "$root"
    dpkg -x "$gui_deb" "$root"
    check "the installed qel says $version" \
        sh -c "test \"\$('$root/usr/bin/qel' --version)\" = 'qel $version'"
    check "k7_qel is installed" test -x "$root/usr/bin/k7_qel"
    for page in qel k7_qel; do
        check "man -l reads the $page page" \
            sh -c "MANWIDTH=80 man -l '$root/usr/share/man/man1/$page.1.gz' | grep -q '$page $version'"
    done
    check "the desktop entry is installed" \
        test -f "$root/usr/share/applications/k7_qel.desktop"
    check "the icon is installed" \
        test -f "$root/usr/share/icons/hicolor/scalable/apps/k7_qel.svg"
fi
echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
