#!/usr/bin/env bash
# Takes the README's pictures of vantyx-bench from the real program, under Xvfb: a shift of
# eight simulated boards at a real line's pace while they are flashed, with two failed rows, and
# the shift's counters once they are done.
#   bash scripts/bench-screenshots.sh   writes docs/bench-shift.png and docs/bench-counters.png
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xvfb.sh
source scripts/simport.sh

[ "${1:-}" = --inside ] || under_xvfb 1200x760x24 "$0"

dir=$PWD/build/bench-shots
rm -rf "$dir"
mkdir -p "$dir"
head -c 65536 /dev/urandom > "$dir/firmware.bin"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null' EXIT
ports=()
board() {
    local log=$dir/board${#ports[@]}.log
    ./build/tools/simulator/vantyx-sim --pty --line-rate 115200 "$@" > "$log" &
    pids+=($!)
    ports+=(--port "$(sim_port "$log")")
}
for fault in "" "" "--silent-after-block 60" "" "" "--unplug-after-block 90" "" ""; do
    # shellcheck disable=SC2086 # the fault's words are its arguments
    board $fault
done
# Its own settings and records, not the user's.
export XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data
./build/src/vantyx-bench --start "${ports[@]}" "$dir/firmware.bin" &
pids+=($!)
window=$(xdotool search --sync --name 'Vantyx Bench' | head -1)
xdotool windowmove "$window" 0 0
xdotool windowsize "$window" 1180 700
sleep 9.5 # the settling, then the boards at the line's pace; two have failed by now
import -window "$window" docs/bench-shift.png
sleep 6
import -window "$window" docs/bench-counters.png
echo "docs/bench-shift.png docs/bench-counters.png"
