#!/usr/bin/env bash
# Set-up and run script for a Debian 12 machine.
#   ./run.sh        install what is missing, build, make a demo kadu.db if there is none, open the window
#   ./run.sh test   install what is missing, build, run every test
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libsqlite3-dev
          mdbtools-dev libmdb3 fonts-dejavu-core
          desktop-file-utils appstream dpkg-dev)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
    cmake --build build -j"$(nproc)"
}

case "${1:-run}" in
    run)
        install_missing
        build
        [ -f kadu.db ] || ./build/tools/korvana-demodata kadu.db
        exec ./build/src/korvana
        ;;
    test)
        install_missing
        build
        cd build && ctest --output-on-failure -j"$(nproc)"
        ;;
    *)
        echo "usage: $0 [run|test]" >&2
        exit 2
        ;;
esac
