#!/usr/bin/env bash
# One entry point for a fresh Debian machine and for CI: installs what is missing, builds,
# then launches the updater, runs the test suite, or runs it under the sanitizers.
#   scripts/dev.sh run        build and launch the updater
#   scripts/dev.sh test       build and run every test suite but the fault soak (no display)
#   scripts/dev.sh sanitize   every suite and the soak under AddressSanitizer and UBSan,
#                             in build-sanitize/
#   scripts/dev.sh soak       the randomized fault soak alone (about 3 minutes)
set -euo pipefail

cd "$(dirname "$0")/.."
mode=${1:-run}
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake g++ ninja-build qt6-base-dev qt6-serialport-dev qt6-tools-dev
          qt6-tools-dev-tools qt6-qpa-plugins libgl-dev fontconfig fonts-dejavu-core
          clang-format)

install_missing() {
    local missing=()
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures and builds `$1` with the extra CMake arguments that follow; warnings are errors
# when FLASHLOADER_WERROR=ON is in the environment (.ci/run sets it).
build() {
    local dir=$1
    shift
    local options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
                   -DFLASHLOADER_WERROR="${FLASHLOADER_WERROR:-OFF}")
    cmake -S . -B "$dir" "${options[@]}" "$@"
    cmake --build "$dir" --parallel "$jobs"
}

run_tests() {
    local dir=$1
    shift
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure \
        --parallel $((jobs * 2)) "$@"
}

install_missing
case "$mode" in
    run)
        build build
        exec ./build/src/FlashLoader
        ;;
    test)
        build build
        run_tests build -LE soak
        ;;
    soak)
        build build
        run_tests build -L soak
        ;;
    sanitize)
        build build-sanitize -DFLASHLOADER_SANITIZE=ON
        export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        run_tests build-sanitize
        ;;
    *)
        echo "usage: $0 run|test|sanitize|soak" >&2
        exit 2
        ;;
esac
