#!/usr/bin/env bash
# One entry point for a fresh Debian machine and for CI: installs what is missing, builds,
# then shows the updater at work, launches it, runs the test suite, or packages it.
#   scripts/dev.sh demo       build, start a simulated device and open the updater on it;
#                             when the window closes, say whether the device got the sample
#   scripts/dev.sh run        build and launch the updater, for a real board
#   scripts/dev.sh build      build only
#   scripts/dev.sh test       build and run every test suite but the fault soak (no display)
#   scripts/dev.sh package    build the .deb in build-package/ with Debian's hardening flags,
#                             check what it holds and run lintian on it
#   scripts/dev.sh sanitize   every suite and the soak under AddressSanitizer and UBSan,
#                             in build-sanitize/ (with CI=true the soak starts from seed 1)
#   scripts/dev.sh soak       the randomized fault soak alone (about 3 minutes)
#   scripts/dev.sh windows    cross-build for Windows into build-windows/ and run the suites,
#                             downloads on COM ports and the ZIP under Wine (scripts/windows.sh)
#   scripts/dev.sh fuzz [S]   build the libFuzzer targets with clang into build-fuzz/ and run
#                             each for S seconds (default 60) from the seeds in fuzz/corpus/
set -euo pipefail

cd "$(dirname "$0")/.."
source scripts/simport.sh
mode=${1:-}
jobs=$(nproc 2>/dev/null || echo 2)

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
}
# Nothing is installed for a mode that does not exist.
case "$mode" in
    demo | run | build | test | package | sanitize | soak | windows | fuzz) ;;
    *)
        [ -z "$mode" ] || echo "dev.sh: unknown mode '$mode'" >&2
        usage
        exit 2
        ;;
esac
kit=${QT_WINDOWS_KIT:-$PWD/../shared/windows}
if [ "$mode" = windows ] && [ ! -f "$kit/qt-6.4.2-mingw64-network-sql.tar.xz" ]; then
    echo "dev.sh windows: no Qt kit: $kit/qt-6.4.2-mingw64-network-sql.tar.xz is missing (set QT_WINDOWS_KIT)" >&2
    exit 1
fi

# libxkbcommon-dev: Qt's Gui package looks for it and, without it, CMake says "Could NOT find
# XKB" on every configure, though nothing here uses it. qt6-httpserver-dev needs
# qt6-websockets-dev's CMake files, which Debian does not make it depend on. prometheus: its
# server and promtool check the metrics in the tests; srecord's srec_cat writes HEX and
# S-record fixtures. libsodium-dev checks the jobs' signatures, which the tests make with
# minisign. Qt SQL's SQLite and PostgreSQL drivers keep the records; postgresql's server runs
# in the tests and the benchmark, sqlite3 is the benchmark's yardstick.
packages=(cmake g++ ninja-build qt6-base-dev qt6-serialport-dev qt6-tools-dev
          qt6-tools-dev-tools qt6-qpa-plugins libgl-dev fontconfig fonts-dejavu-core
          clang-format desktop-file-utils ser2net libxkbcommon-dev
          qt6-httpserver-dev qt6-websockets-dev prometheus srecord libsodium-dev minisign
          pkg-config libqt6sql6-sqlite libqt6sql6-psql postgresql sqlite3)

# What the package needs besides: its dependencies computed, its manual pages written, lintian.
package_packages=(dpkg-dev help2man lintian)
[ "$mode" = package ] && packages+=("${package_packages[@]}")

# What the Windows build and its run under Wine need besides.
windows_packages=(g++-mingw-w64-x86-64-posix gcc wine wine64 xvfb x11-utils imagemagick)
[ "$mode" = windows ] && packages+=("${windows_packages[@]}")

# libFuzzer is clang's, in its runtime package.
fuzz_packages=(clang libclang-rt-dev)
[ "$mode" = fuzz ] && packages+=("${fuzz_packages[@]}")

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
# `--target T...` after the arguments builds only those.
build() {
    local dir=$1
    shift
    local options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
                   -DFLASHLOADER_WERROR="${FLASHLOADER_WERROR:-OFF}")
    local configure=() targets=()
    while [ $# -gt 0 ]; do
        if [ "$1" = --target ]; then
            shift
            targets=(--target "$@")
            break
        fi
        configure+=("$1")
        shift
    done
    cmake -S . -B "$dir" "${options[@]}" "${configure[@]}"
    cmake --build "$dir" --parallel "$jobs" "${targets[@]}"
}

run_tests() {
    local dir=$1
    shift
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure \
        --parallel $((jobs * 2)) "$@"
}

# The sample goes out padded to whole blocks with 0xFF: compare with that.
say_what_arrived() {
    local sample=$1 received=$2
    if [ ! -s "$received" ]; then
        echo "Nothing was flashed: the simulated device completed no download."
        return
    fi
    local size padded expected
    size=$(stat -c %s "$sample")
    padded=$(( (size + 255) / 256 * 256 ))
    expected=$(mktemp)
    { cat "$sample"; head -c $((padded - size)) /dev/zero | tr '\0' '\377'; } > "$expected"
    if cmp -s "$expected" "$received"; then
        echo "The device received the sample byte for byte ($size bytes, padded to $padded)."
    else
        local at
        at=$(cmp "$expected" "$received" 2>&1 | sed -n 's/.*byte \([0-9]*\).*/\1/p')
        echo "The device's image differs from the sample from byte ${at:-1} on (of $padded)."
    fi
    rm -f "$expected"
}

demo() {
    local dir=$PWD/build/demo
    mkdir -p "$dir"
    rm -f "$dir/received.bin"
    # A few dozen KiB that are not all 0xFF, so that a wrong byte would show.
    head -c 40000 /dev/urandom > "$dir/sample.bin"
    # At the wire's pace, as a real board at 115200: the bar takes a few seconds to run.
    ./build/tools/simulator/vantyx-sim --pty --line-rate 115200 --output "$dir/received.bin" \
        > "$dir/device.log" &
    device=$! # global: the exit trap stops it, after this function has returned
    # Whatever simulator runs when the demo ends is stopped; one that ended itself is no error.
    trap 'kill "$device" 2>/dev/null || true' EXIT
    local port
    port=$(sim_port "$dir/device.log") || { echo "the simulated device did not start" >&2; exit 1; }
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: run the demo in a desktop session (or under xvfb-run)." >&2
        exit 1
    fi
    # Outside a desktop session (root, a container) Qt would say it made one up.
    [ -n "${XDG_RUNTIME_DIR:-}" ] || export XDG_RUNTIME_DIR=$(mktemp -d)
    echo "A simulated Vantyx device listens on $port, first in the updater's list."
    echo "1. Press Detect, then Start: the device answers and the dialog closes."
    echo "2. Press Browse and pick sample.bin."
    echo "3. Press Flash. The updater first waits five seconds after Start, as the bootloader"
    echo "   asks, and the window does not respond meanwhile; then the bar runs for about"
    echo "   four seconds and \"Firmware sent\" comes up."
    echo "4. Close the window."
    (cd "$dir" && "$OLDPWD/build/src/FlashLoader" --port "$port") || true
    kill "$device" 2>/dev/null || true
    wait "$device" 2>/dev/null || true
    say_what_arrived "$dir/sample.bin" "$dir/received.bin"

    echo
    echo "The same download from the command line, with vantyx-flash:"
    rm -f "$dir/received.bin"
    ./build/tools/simulator/vantyx-sim --pty --once --line-rate 115200 \
        --output "$dir/received.bin" > "$dir/device.log" &
    device=$!
    port=$(sim_port "$dir/device.log") || { echo "the simulated device did not start" >&2; exit 1; }
    echo "  build/src/vantyx-flash --port $port build/demo/sample.bin"
    ./build/src/vantyx-flash --port "$port" "$dir/sample.bin" || true
    wait "$device" 2>/dev/null || true
    say_what_arrived "$dir/sample.bin" "$dir/received.bin"
}

# Unpacks the .deb and checks that the programs, the desktop entry, the icons, the manual pages
# and the doc folder are there, that the programs run from the unpacked tree, and that lintian
# finds nothing to say.
check_package() {
    local deb unpacked
    deb=$(ls build-package/vantyx-firmware-updater_*.deb)
    unpacked=$(mktemp -d)
    dpkg-deb -x "$deb" "$unpacked"
    for file in bin/FlashLoader bin/vantyx-flash bin/vantyx-bench bin/vantyx-sim bin/vantyx-job \
                bin/vantyx-records \
                share/applications/vantyx-firmware-updater.desktop \
                share/applications/vantyx-bench.desktop \
                share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/vantyx-firmware-updater.png \
                share/man/man1/{FlashLoader,vantyx-flash,vantyx-bench,vantyx-sim,vantyx-job,vantyx-records}.1.gz \
                share/doc/vantyx-firmware-updater/{copyright,changelog.gz} \
                share/doc/vantyx-firmware-updater/monitoring/{vantyx-rules.yml,vantyx-rules-test.yml,vantyx-dashboard.json} \
                share/bash-completion/completions/{vantyx-flash,vantyx-bench,FlashLoader,vantyx-sim,vantyx-job,vantyx-records}; do
        [ -s "$unpacked/usr/$file" ] || { echo "$deb lacks /usr/$file" >&2; exit 1; }
    done
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
    fi
    "$unpacked/usr/bin/vantyx-flash" --version
    "$unpacked/usr/bin/vantyx-sim" --version
    "$unpacked/usr/bin/vantyx-records" --version
    env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/FlashLoader" --version
    env -u DISPLAY -u WAYLAND_DISPLAY "$unpacked/usr/bin/vantyx-bench" --version
    man -l "$unpacked/usr/share/man/man1/vantyx-flash.1.gz" 2>&1 | grep -q -- '--detect-timeout' ||
        { echo "the manual page of vantyx-flash lacks its options" >&2; exit 1; }
    dpkg-deb --field "$deb" Package Version Depends
    rm -rf "$unpacked"
    # Any error or warning fails, and so does a missing hardening flag, which lintian says
    # only among its informational notes.
    # (Its note that it runs as root, as in CI, is no finding.)
    lintian --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2)
    if lintian --display-info "$deb" 2>/dev/null | grep hardening-; then
        echo "the programs lack hardening flags" >&2
        exit 1
    fi
    echo "package: $deb holds the four programs, their manual pages, the desktop entries, the"
    echo "icons and the doc folder; lintian has nothing to say"
}

install_missing
case "$mode" in
    build)
        build build
        ;;
    demo)
        # Only what the demo runs: a newcomer sees the window minutes sooner.
        build build --target FlashLoader vantyx-flash vantyx-sim
        demo
        ;;
    package)
        # Debian's own flags for what is shipped: fortified functions, stack protector,
        # read-only relocations bound at start.
        export DEB_BUILD_MAINT_OPTIONS=hardening=+all
        build build-package -DFLASHLOADER_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
            "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
        rm -f build-package/vantyx-firmware-updater_*.deb
        (cd build-package && cpack -G DEB > /dev/null)
        check_package
        ;;
    run)
        build build --target FlashLoader
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
    windows)
        build build
        bash scripts/windows.sh
        ;;
    fuzz)
        seconds=${2:-60}
        fuzzers=(comportsession hostrules portnames imageformats slotfile jobfile signature)
        CC=clang CXX=clang++ build build-fuzz -DFLASHLOADER_FUZZ=ON -DFLASHLOADER_BUILD_TESTS=OFF \
            --target "${fuzzers[@]/#/fuzz_}"
        # Each from its seeds, in a corpus of its own here: what it finds stays out of the
        # sources. A crash or a leak leaves its input in build-fuzz/artifacts/ and fails.
        status=0
        for fuzzer in "${fuzzers[@]}"; do
            corpus=build-fuzz/corpus/$fuzzer
            mkdir -p "$corpus" build-fuzz/artifacts
            cp -n fuzz/corpus/"$fuzzer"/* "$corpus"/
            log=build-fuzz/fuzz_$fuzzer.log
            if ! build-fuzz/fuzz/fuzz_"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
                    -rss_limit_mb=2048 -timeout=10 -artifact_prefix=build-fuzz/artifacts/"$fuzzer"- \
                    "$corpus" > "$log" 2>&1; then
                grep -E 'ERROR|SUMMARY|artifact' "$log" >&2 || tail -20 "$log" >&2
                status=1
            fi
            runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
            rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
            coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
            echo "fuzz_$fuzzer: ${runs:-?} runs in ${seconds} s, ${rate:-?} a second, ${coverage:-cov: ?}, corpus $(ls "$corpus" | wc -l)"
        done
        exit $status
        ;;
    sanitize)
        # CI's soak starts from a fixed seed, so that its result is the code's and not the draw's.
        build build-sanitize -DFLASHLOADER_SANITIZE=ON "-DFLASHLOADER_SOAK_SEED=${CI:+1}"
        export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        run_tests build-sanitize
        ;;
esac
