#!/usr/bin/env bash
# The Windows build, cross-compiled with MinGW-w64 against the Qt kit in ../shared/windows (or
# $QT_WINDOWS_KIT) into build-windows/ with warnings as errors, then run under Wine:
#   - every suite CTest lists in the cross build, but those that take devices;
#   - tst_device_port: the window's download and vantyx-flash on five simulated devices at
#     once, through Qt's Windows serial code, against vantyx-sim on pseudo-terminals that the
#     Wine prefix sees as COM5 to COM10; WINDOWS_DEVICE_RUNS=N runs it N times, each with fresh
#     devices (a loop to show that it never fails by chance);
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

# Qt with Network, HTTP Server, SQL (SQLite and PostgreSQL's driver), libsodium and libpq. A
# folder unpacked from another kit is replaced, and the build configured afresh on it.
archive=qt-6.4.2-mingw64-network-sql.tar.xz
if [ "$(cat "$out/qt6-mingw/.kit" 2>/dev/null)" != "$archive" ]; then
    [ -f "$kit/$archive" ] ||
        { echo "windows: no Qt kit: $kit/$archive is missing (set QT_WINDOWS_KIT)" >&2; exit 1; }
    rm -rf "$out/qt6-mingw" "$out/CMakeCache.txt"
    mkdir -p "$out"
    tar xJf "$kit/$archive" -C "$out"
    echo "$archive" > "$out/qt6-mingw/.kit"
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
# platform and its fonts, for every suite (the ZIP's window below asks for the windows one).
wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d 'Z:\usr\share\fonts\truetype\dejavu' /f \
    > /dev/null 2>&1
wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f > /dev/null 2>&1
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
# Qt Test writes its log to a file here, and Wine's own words on a crash go beside it: Wine gives
# a console program's output to nobody.
suites=$(ctest --test-dir "$out" -N -LE device | sed -n 's/^ *Test *#[0-9]*: //p')
[ -n "$suites" ] || { echo "windows: CTest lists no suite in $out" >&2; exit 1; }
run_suite() {
    local suite=$1 launch=$2
    shift 2
    local status=0
    # Wine's own debugger, not Qt Test's handler, reports a crash: it names the modules and
    # their exported functions.
    $launch "$out/$suite.exe" "$@" -nocrashhandler -o "Z:$out/$suite.log,txt" \
        > "$out/$suite.wine.log" 2>&1 || status=$?
    grep -E '^(PASS|FAIL|SKIP|Totals)' "$out/$suite.log" | grep -E "${WINDOWS_SHOW:-^Totals}" |
        sed "s/^/$suite: /" || true
    if [ $status -ne 0 ]; then
        cat "$out/$suite.log" "$out/$suite.wine.log"
    fi
    return $status
}
for suite in $suites; do
    status=0
    run_suite "$suite" run_built || status=$?
    record $status "$suite"
done

# One simulated device per COM port, each with its fault; the good ones write what they get.
# Started afresh for each run of the suite: a device that failed stays so.
mkdir -p "$out/devices"
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
start_devices() {
    rm -f "$out/devices"/*
    com=5
    start_device GOOD --output "$out/devices/good.bin"
    start_device GOOD2 --output "$out/devices/good2.bin"
    start_device SILENT --silent-after-block 3
    start_device STALL --silent-after-block 2
    start_device BAD --garbage-rate 1
    start_device UNPLUG --unplug-after-block 5
}
stop_devices() {
    for pid in "${devices[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${devices[@]}"; do wait "$pid" 2>/dev/null || true; done
    devices=()
}
export VANTYX_DEVICE_GOOD_OUTPUT="Z:$out/devices/good.bin"
export VANTYX_DEVICE_GOOD2_OUTPUT="Z:$out/devices/good2.bin"
export VANTYX_FLASH_LAUNCHER="Z:$out/winelaunch.exe;Z:$out/commwaithook.dll"

runs=${WINDOWS_DEVICE_RUNS:-1}
step "the window and vantyx-flash on COM ports ($runs run(s))"
device_failures=0
for run in $(seq "$runs"); do
    start_devices
    status=0
    WINDOWS_SHOW='^(PASS|FAIL|SKIP|Totals)' run_suite tst_device_port run_serial || status=$?
    [ $status -eq 0 ] || device_failures=$((device_failures + 1))
    [ "$runs" -eq 1 ] || echo "tst_device_port: run $run of $runs: status $status"
    stop_devices
done
[ "$runs" -eq 1 ] || echo "tst_device_port: $((runs - device_failures)) of $runs runs passed"
record $device_failures tst_device_port
start_devices # for the ZIP's download below

step "the station's features under Wine"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# Waits for `path` to be written whole (a device writes its output at the download's end).
wait_file() { for _ in $(seq 50); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
station=$out/station
rm -rf "$station" && mkdir -p "$station"
head -c 3000 /dev/urandom > "$station/fw.bin"
{ cat "$station/fw.bin"; head -c $((3072 - 3000)) /dev/zero | tr '\0' '\377'; } > "$station/fw.expected"
touch -d '1 minute ago' "$station/fw.bin" # whole on the disk: read at once

# A board behind ser2net on the Linux side, reached through Wine's sockets by rfc2217://.
status=0
"$root/build/tools/simulator/vantyx-sim" --pty --output "$station/remote.bin" > "$station/remote.log" 2>&1 &
devices+=($!)
remote_port=$(free_port)
cat > "$station/ser2net.yaml" << EOF_CONFIG
connection: &remote
    accepter: telnet(rfc2217),tcp,127.0.0.1,$remote_port
    connector: serialdev,$(sim_port "$station/remote.log"),115200n81,local
    options:
      chardelay: false
      mdns: false
EOF_CONFIG
ser2net -n -d -c "$station/ser2net.yaml" -P "$station/ser2net.pid" 2> /dev/null &
devices+=($!)
for _ in $(seq 50); do (exec 3<> "/dev/tcp/127.0.0.1/$remote_port") 2> /dev/null && break; sleep 0.1; done
run_built "$out/vantyx-flash.exe" --port "rfc2217://127.0.0.1:$remote_port" "Z:$station/fw.bin" \
    > "$station/remote.out" 2>&1 || status=$?
wait_file "$station/remote.bin" && cmp "$station/fw.expected" "$station/remote.bin" || status=1
[ $status -eq 0 ] || cat "$station/remote.out"
record $status "a download through rfc2217:// to ser2net on Linux"

# /metrics read by Linux's curl while vantyx-flash.exe --watch flashes the slot's board; its
# records in the Windows SQLite store, read back by Linux's vantyx-records and by the Windows one.
status=0
metrics_port=$(free_port)
printf '[slots]\nW1 = %s\n' "$VANTYX_DEVICE_GOOD2" > "$station/bench.ini"
# Wine lists the ports of the registry's device map only, which lives as long as its server:
# the slot's port entered there, as a port driver would.
wineserver -p > /dev/null 2>&1 || true # already running, as it should be
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v VantyxW1 /t REG_SZ \
    /d "$VANTYX_DEVICE_GOOD2" /f > /dev/null 2>&1 || status=1
rm -f "$out/devices/good2.bin"
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Brivox/vantyx-records # an earlier run's
run_serial "Z:$out/vantyx-flash.exe" --watch --slots "Z:$station/bench.ini" --tag wine \
    --metrics "127.0.0.1:$metrics_port" --log "Z:$station/shift.jsonl" "Z:$station/fw.bin" \
    > "$station/watch.out" 2>&1 &
watcher=$!
scraped=""
for _ in $(seq 150); do
    scraped=$(curl -sf "http://127.0.0.1:$metrics_port/metrics" || true)
    grep -q '^vantyx_boards_total{result="ok"} 1$' <<< "$scraped" && break
    sleep 0.2
done
grep -q '^vantyx_boards_total{result="ok"} 1$' <<< "$scraped" || status=1
grep -q '^vantyx_flash_info{program="vantyx-flash"' <<< "$scraped" || status=1
kill -INT $watcher 2> /dev/null || true
wineserver -k > /dev/null 2>&1 || true
wait $watcher 2> /dev/null || true
wineserver -p > /dev/null 2>&1
# The prefix's services start here, not inside a $(...) whose pipe they would hold open.
wine reg query 'HKLM\HARDWARE' > /dev/null 2>&1 || true
wait_file "$out/devices/good2.bin" && cmp "$station/fw.expected" "$out/devices/good2.bin" || status=1
[ $status -eq 0 ] || { cat "$station/watch.out"; echo "$scraped"; }
record $status "/metrics read by curl while vantyx-flash.exe --watch flashes"

status=0
store=$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Local/Brivox/vantyx-records/records.sqlite)
id=$(sed -n 's/.*"id":"\([0-9a-f-]*\)".*/\1/p' "$station/shift.jsonl" | head -1)
[ -n "$id" ] && [ -f "$store" ] || status=1
linux=$("$root/build/src/vantyx-records" export --json --tag wine --database "$store" 2>&1) || status=1
windows=$(run_built "$out/vantyx-records.exe" export --json --tag wine 2>&1 | tr -d '\r') || status=1
[ "$linux" = "$(cat "$station/shift.jsonl")" ] && [ "$windows" = "$linux" ] || status=1
[ $status -eq 0 ] || { echo "store: $store"; echo "linux: $linux"; echo "windows: $windows"; }
record $status "the Windows store read by Linux's vantyx-records and by vantyx-records.exe"

# A job signed on Linux with minisign: verified and run by the Windows programs; tampered, refused.
status=0
if command -v minisign > /dev/null; then
    minisign -G -W -p "$station/line.pub" -s "$station/line.key" > /dev/null
    "$root/build/src/vantyx-job" new "$station/fw.bin" --name wine --job-version 1 --count 1 \
        > /dev/null
    minisign -S -m "$station/wine.vjob" -s "$station/line.key" -t "approved for Wine" > /dev/null
    shown=$(run_built "$out/vantyx-job.exe" show "Z:$station/wine.vjob" --trust "Z:$station/line.pub" 2>&1 | tr -d '\r') || status=1
    grep -q "approved" <<< "$shown" || status=1
    rm -f "$out/devices/good2.bin"
    run_serial "Z:$out/vantyx-flash.exe" --job "Z:$station/wine.vjob" --trust "Z:$station/line.pub" \
        --port "$VANTYX_DEVICE_GOOD2" > "$station/job.out" 2>&1 || status=1
    wait_file "$out/devices/good2.bin" && cmp "$station/fw.expected" "$out/devices/good2.bin" || status=1
    printf 'x' | dd of="$station/fw.bin" bs=1 seek=100 conv=notrunc 2> /dev/null
    refused=0
    run_built "$out/vantyx-flash.exe" --job "Z:$station/wine.vjob" --trust "Z:$station/line.pub" \
        --port "$VANTYX_DEVICE_GOOD2" > "$station/tampered.out" 2>&1 || refused=$?
    [ $refused -eq 2 ] && grep -q "vantyx-flash: " "$station/tampered.out" || status=1
    [ $status -eq 0 ] || cat "$station/job.out" "$station/tampered.out" <<< "$shown"
else
    echo "no minisign: the signed job's row is not run"
    status=1
fi
record $status "a signed job verified and run by the Windows programs, a tampered one refused"

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
    DISPLAY=$display wine "$bin/FlashLoader.exe" -platform windows > "$out/window.log" 2>&1 &
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
