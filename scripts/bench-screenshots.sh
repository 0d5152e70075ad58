#!/usr/bin/env bash
# Takes the README's pictures of vantyx-bench from the real program, under Xvfb: a station of
# eight named slots in every state at once (passed, flashing, waking, failed, waiting to be
# flashed by hand, unplugged), on the board wall at 1024x600 (a line's panel PC) and 1920x1080,
# in light and dark colours, and the engineer's table.
#   bash scripts/bench-screenshots.sh   writes docs/bench-wall-*.png and docs/bench-table.png
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xvfb.sh
source scripts/simport.sh

if [ "${1:-}" != --inside ]; then
    for screen in 1024x600 1920x1080; do
        for colours in light dark; do
            SHOT_SCREEN=$screen SHOT_COLOURS=$colours SHOT_VIEW=wall \
                under_xvfb_once "${screen}x24" "$0"
        done
    done
    SHOT_SCREEN=1920x1080 SHOT_COLOURS=light SHOT_VIEW=table under_xvfb_once 1920x1080x24 "$0"
    ls docs/bench-wall-*.png docs/bench-table.png
    exit 0
fi

dir=$PWD/build/bench-shots/$SHOT_SCREEN-$SHOT_COLOURS-$SHOT_VIEW
rm -rf "$dir"
mkdir -p "$dir"
head -c 65536 /dev/urandom > "$dir/firmware.bin"
touch -d '1 minute ago' "$dir/firmware.bin"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
slots=()
board() { # NAME, then vantyx-sim's arguments
    local name=$1 log=$dir/$1.log
    shift
    ./build/tools/simulator/vantyx-sim --pty "$@" > "$log" &
    pids+=($!)
    slots+=("$name = $(sim_port "$log")")
}
board A1                                      # passed: answers at once
board A2
board A3 --line-rate 115200                   # flashing at the wire's pace
board A4 --line-rate 115200 --block-delay 4
board B1 --line-rate 115200 --silent-after-block 3    # failed: falls silent
board B2 --answer-wake-up 4000                # waking: its bootloader not yet up
slots+=("B3 = socket://127.0.0.1:4001")       # a bench on another machine: flashed by hand
slots+=("B4 = $dir/no-board-here")            # nothing plugged in
printf '[station]\n\n[slots]\n' > "$dir/bench.ini"
printf '%s\n' "${slots[@]}" >> "$dir/bench.ini"

# Its own settings and records, not the user's: no saved place, so it fills the screen.
export XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data
mkdir -p "$XDG_CONFIG_HOME/Brivox"
printf '[General]\ndark=%s\nview=%s\n' "$([ "$SHOT_COLOURS" = dark ] && echo true || echo false)" \
    "$SHOT_VIEW" > "$XDG_CONFIG_HOME/Brivox/vantyx-bench.conf"
./build/src/vantyx-bench --slots "$dir/bench.ini" --tag "WO-1742" --start "$dir/firmware.bin" &
pids+=($!)
window=$(xdotool search --sync --name 'Vantyx Bench' | head -1)
# The settling, then the boards: two passed, two sending, one failed, one still waking.
sleep 8.5
shot=docs/bench-table.png
[ "$SHOT_VIEW" = wall ] && shot=docs/bench-wall-$SHOT_SCREEN-$SHOT_COLOURS.png
import -window root "$shot"
echo "$shot"
