#!/usr/bin/env bash
# Installs the Debian packages a job needs; does nothing when all are there.
#   install-deps.sh demo   what tools/run-demo.sh needs: build both programs, run the demo server
#   install-deps.sh        that, and what the tests and the packaging check need
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev
    python3-pyftpdlib
)
if [ "${1:-}" != demo ]; then
    packages+=(
        libgtest-dev libgmock-dev
        clang libclang-rt-14-dev
        dpkg-dev file lintian man-db
    )
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run this as root, or install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
