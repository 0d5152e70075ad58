#!/usr/bin/env bash
# The Windows build, cross-compiled with MinGW-w64 against the Qt kit in ../shared/windows (or
# $QT_WINDOWS_KIT) into build-windows/ with warnings as errors, then run under Wine:
#   - the suites that need no device;
#   - tst_device_port: the window's download and vantyx-flash on five simulated devices at
#     once, through Qt's Windows serial code, against vantyx-sim on pseudo-terminals that the
#     Wine prefix sees as COM5 to COM10;
#   - the ZIP, unpacked into a clean folder and run from there: vantyx-flash.exe --version, a
#     download, and the window under Xvfb with the windows platform plugin.
# Called by scripts/dev.sh windows, which has installed what is missing and built build/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/simport.sh
jobs=$(nproc 2>/dev/null || echo 2)
root=$PWD
out=$root/build-windows
kit=${QT_WINDOWS_KIT:-$root/../shared/windows}

step() { echo "== windows: $*"; }

if [ ! -d "$out/qt6-mingw" ]; then
    [ -f "$kit/qt-6.4.2-mingw64.tar.xz" ] ||
        { echo "windows: no Qt kit at $kit (set QT_WINDOWS_KIT)" >&2; exit 1; }
    mkdir -p "$out"
    tar xJf "$kit/qt-6.4.2-mingw64.tar.xz" -C "$out"
fi

step "cross build"
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64.cmake" \
    -DCMAKE_PREFIX_PATH="$out/qt6-mingw" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DFLASHLOADER_WERROR="${FLASHLOADER_WERROR:-OFF}" > "$out/configure.log" 2>&1 ||
    { cat "$out/configure.log"; exit 1; }
cmake --build "$out" --parallel "$jobs"
gcc -Wall -Wextra -Werror -shared -fPIC -o "$out/ptymodem.so" tests/wine/ptymodem.c -ldl

export WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mingw_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
build_path="Z:$out/qt6-mingw/bin;Z:$mingw_runtime;Z:$pthread_runtime"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "a Wine prefix of its own"
    wine wineboot -i > "$out/wineboot.log" 2>&1 || { cat "$out/wineboot.log"; exit 1; }
fi
# Wine passes no QT_ variable from Linux, but does the prefix's own environment: the offscreen
# platform's fonts.
wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\fonts\truetype\dejavu' /f \
    > /dev/null 2>&1
wineserver -k > /dev/null 2>&1 || true
wineserver -p > /dev/null 2>&1 # started without the preload below, which is for the programs only

devices=()
cleanup() {
    for pid in "${devices[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
    wineserver -k > /dev/null 2>&1 || true
}
trap cleanup EXIT

# Runs a Windows program from the build tree under Wine; with the serial preload and the hook
# when it uses serial ports.
run_built() {
    WINEPATH="$build_path" QT_PLUGIN_PATH="$out/qt6-mingw/plugins" wine "$@"
}
run_serial() {
    WINEPATH="$build_path" QT_PLUGIN_PATH="$out/qt6-mingw/plugins" LD_PRELOAD="$out/ptymodem.so" \
        wine "$out/winelaunch.exe" "Z:$out/commwaithook.dll" "$@"
}

passed=0
failed=0
record() { if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $2"; fi; }

step "suites without a device"
# Qt Test writes its log to a file here: Wine gives a console program's output to nobody.
for suite in tst_stopwatch tst_protocol tst_bootloader tst_firmwareimage tst_forms tst_notice \
             tst_mainwindow tst_interrupt; do
    status=0
    platform=()
    case $suite in tst_forms | tst_notice | tst_mainwindow) platform=(-platform offscreen) ;; esac
    run_built "$out/$suite.exe" "${platform[@]}" -o "Z:$out/$suite.log,txt" > /dev/null 2>&1 ||
        status=$?
    grep -E '^Totals' "$out/$suite.log" | sed "s/^/$suite: /" || true
    [ $status -eq 0 ] || cat "$out/$suite.log"
    record $status "$suite"
done

# One simulated device per COM port, each with its fault; the good ones write what they get.
mkdir -p "$out/devices"
rm -f "$out/devices"/*
com=5
start_device() {
    local role=$1
    shift
    "$root/build/tools/simulator/vantyx-sim" --pty "$@" > "$out/devices/$role.log" 2>&1 &
    devices+=($!)
    local path
    path=$(sim_port "$out/devices/$role.log") ||
        { echo "windows: vantyx-sim for $role did not start" >&2; exit 1; }
    ln -sfn "$path" "$WINEPREFIX/dosdevices/com$com"
    export "VANTYX_DEVICE_$role=COM$com"
    com=$((com + 1))
}
start_device GOOD --output "$out/devices/good.bin"
start_device GOOD2 --output "$out/devices/good2.bin"
start_device SILENT --silent-after-block 3
start_device STALL --silent-after-block 2
start_device BAD --garbage-rate 1
start_device UNPLUG --unplug-after-block 5
export VANTYX_DEVICE_GOOD_OUTPUT="Z:$out/devices/good.bin"
export VANTYX_DEVICE_GOOD2_OUTPUT="Z:$out/devices/good2.bin"
export VANTYX_FLASH_LAUNCHER="Z:$out/winelaunch.exe;Z:$out/commwaithook.dll"

step "the window and vantyx-flash on COM ports"
status=0
run_serial "Z:$out/tst_device_port.exe" -platform offscreen -o "Z:$out/tst_device_port.log,txt" \
    > /dev/null 2>&1 || status=$?
grep -E '^(PASS|FAIL|SKIP|Totals)' "$out/tst_device_port.log" | sed 's/^/tst_device_port: /' || true
[ $status -eq 0 ] || cat "$out/tst_device_port.log"
record $status tst_device_port

step "the ZIP, unpacked into a clean folder"
(cd "$out" && rm -f vantyx-firmware-updater-*-win64.zip && cpack -G ZIP > cpack.log) ||
    { cat "$out/cpack.log"; exit 1; }
unpacked=$(mktemp -d)
(cd "$unpacked" && cmake -E tar xf "$out"/vantyx-firmware-updater-*-win64.zip)
bin=$(echo "$unpacked"/*/bin)
ls "$bin"
status=0
version=$(wine "$bin/vantyx-flash.exe" --version 2>&1 | tr -d '\r') || status=$?
echo "$version"
[ "$version" = "vantyx-flash $(sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)" ] || status=1
record $status "vantyx-flash.exe --version from the ZIP"

head -c 5000 /dev/urandom > "$out/devices/zip.bin"
rm -f "$out/devices/good.bin"
status=0
LD_PRELOAD="$out/ptymodem.so" wine "$out/winelaunch.exe" "Z:$out/commwaithook.dll" \
    "Z:$bin/vantyx-flash.exe" --port "$VANTYX_DEVICE_GOOD" "Z:$out/devices/zip.bin" || status=$?
{ cat "$out/devices/zip.bin"; head -c $((5120 - 5000)) /dev/zero | tr '\0' '\377'; } > "$out/devices/zip.expected"
for _ in $(seq 20); do [ -s "$out/devices/good.bin" ] && break; sleep 0.1; done
cmp "$out/devices/zip.expected" "$out/devices/good.bin" || status=1
record $status "a download by vantyx-flash.exe from the ZIP"

if command -v Xvfb > /dev/null; then
    display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
    xvfb=$!
    sleep 1
    DISPLAY=$display wine "$bin/FlashLoader.exe" > "$out/window.log" 2>&1 &
    window=$!
    status=1
    for _ in $(seq 100); do
        if DISPLAY=$display xwininfo -root -tree 2>/dev/null |
            grep -q '"Brivox Vantyx Firmware updater".*558x280'; then
            status=0
            break
        fi
        sleep 0.2
    done
    if [ $status -eq 0 ] && command -v import > /dev/null; then
        sleep 1 # painted
        DISPLAY=$display import -window root "$out/zip-window.png" 2>/dev/null || true
    fi
    kill $window 2>/dev/null || true
    record $status "FlashLoader.exe from the ZIP opens its 558x280 window"
fi
rm -rf "$unpacked"

echo "windows: $passed passed, $failed failed"
[ $failed -eq 0 ]
