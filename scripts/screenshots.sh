#!/usr/bin/env bash
# Takes the README's pictures of the demo from the real programs, under Xvfb: the detection
# dialog waiting, the bar in the middle of the download, the "Firmware sent" box.
#   bash scripts/screenshots.sh        writes docs/detection-waiting.png, docs/downloading.png
#                                      and docs/firmware-sent.png
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xvfb.sh

[ "${1:-}" = --inside ] || under_xvfb 800x600x24 "$0"

dir=$PWD/build/demo
mkdir -p "$dir"
head -c 40000 /dev/urandom > "$dir/sample.bin"
# Slow enough to be seen: the answer at the 40th wake-up (2 s), 40 ms for each block.
./build/tools/simulator/vantyx-sim --pty --answer-wake-up 40 --block-delay 40 \
    --output "$dir/received.bin" > "$dir/device.log" &
device=$!
trap 'kill $device 2>/dev/null; kill $updater 2>/dev/null' EXIT
until grep -q '^port: ' "$dir/device.log"; do sleep 0.1; done
port=$(sed -n 's/^port: //p' "$dir/device.log")

(cd "$dir" && exec "$OLDPWD/build/src/FlashLoader" --port "$port") &
updater=$!
window=$(xdotool search --sync --name '^Brivox Vantyx Firmware updater$' | head -1)
sleep 1

# Where the form puts the controls, in the window's fixed 558 x 280.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
click "$window" 105 222 # Detect
dialog=$(xdotool search --sync --name '^Detection$' | head -1)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$dialog")"
click "$dialog" $((WIDTH / 2)) $((HEIGHT / 2)) # Start
xdotool mousemove 790 590 # off the button, which would show its hover colours
sleep 0.7
import -window "$dialog" docs/detection-waiting.png

sleep 2.5 # the device answers; the dialog closes
click "$window" 378 81 # the file field
xdotool type --delay 5 "$dir/sample.bin"
click "$window" 271 222 # Flash
xdotool mousemove 790 590
sleep 7.5 # more than 5 s of settling, then 157 blocks of 40 ms each
import -window "$window" docs/downloading.png

box=$(xdotool search --sync --name '^Information$' | head -1)
sleep 0.5
import -window "$box" docs/firmware-sent.png
xdotool key Return
sleep 0.5
kill "$updater"
echo "docs/detection-waiting.png docs/downloading.png docs/firmware-sent.png"
