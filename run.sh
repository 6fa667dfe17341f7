#!/usr/bin/env bash
# Set-up and run script for a Debian 12 machine.
#   ./run.sh        install what is missing, build, make a demo kadu.db if there is none, open the window
#   ./run.sh test   install what is missing, build, run every test; then the same
#                   tests again under AddressSanitizer and UBSan (build-asan/), and
#                   each fuzz target for a bounded time (build-fuzz/, clang)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libsqlite3-dev
          mdbtools-dev libmdb3 libpq-dev fonts-dejavu-core qt6-translations-l10n
          desktop-file-utils appstream dpkg-dev lintian
          clang-14 libfuzzer-14-dev
          xvfb openbox xdotool x11-utils dbus-daemon libqrencode-dev)
# Only the test command installs these: trying Korvana must not install and
# start a database server (the office tests start their own throw-away
# cluster); a QR decoder reads the QR window back; the desktop's link opener
# hands a tel: link to a test telephone.
TEST_PACKAGES=(postgresql zbar-tools xdg-utils)

# install_missing [package...]: the PACKAGES list and the packages given.
install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build [target...]: configures build/ and builds the targets (all when none).
build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --build build -j"$(nproc)" "${targets[@]}"
}

# Any sanitizer report fails the test that made it. Leak checking stays on:
# the suite runs clean without suppressions.
sanitizer_env() {
    export ASAN_OPTIONS="detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
}

test_sanitized() {
    cmake -S . -B build-asan -DKORVANA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build build-asan -j"$(nproc)"
    # The packaging tests check files, not code paths: nothing for the sanitizers there.
    (sanitizer_env && cd build-asan && ctest --output-on-failure -j"$(nproc)" -LE package)
}

test_fuzz() {
    cmake -S . -B build-fuzz -DKORVANA_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 \
          -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build-fuzz -j"$(nproc)"
    (cd build-fuzz && ctest --output-on-failure -j"$(nproc)")
}

case "${1:-run}" in
    run)
        install_missing
        build korvana korvana-demodata korvana-import
        [ -f kadu.db ] || ./build/tools/korvana-demodata kadu.db
        exec ./build/src/korvana
        ;;
    test)
        install_missing "${TEST_PACKAGES[@]}"
        build
        (cd build && ctest --output-on-failure -j"$(nproc)")
        test_sanitized
        test_fuzz
        ;;
    *)
        echo "usage: $0 [run|test]" >&2
        exit 2
        ;;
esac
