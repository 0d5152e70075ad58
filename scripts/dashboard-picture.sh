#!/usr/bin/env bash
# Takes the README's picture of the line's monitoring from Prometheus' own graph page: two
# stations (vantyx-flash --watch, four slots each) flash boards that keep arriving, one in
# eight falling silent, for DASHBOARD_MINUTES (18: the rules' 15-minute windows fill); a
# private Prometheus scrapes them every two seconds with the line's rules; Chromium draws it.
#   bash scripts/dashboard-picture.sh      writes docs/line-dashboard.png
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/simport.sh

missing=()
for tool in prometheus:prometheus chromium:chromium curl:curl; do
    command -v "${tool%%:*}" > /dev/null || missing+=("${tool##*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi
[ -x build/src/vantyx-flash ] || bash scripts/dev.sh build

minutes=${DASHBOARD_MINUTES:-18}
dir=$PWD/build/dashboard
rm -rf "$dir"
mkdir -p "$dir"
head -c 16384 /dev/urandom > "$dir/firmware.bin"
touch -d '1 minute ago' "$dir/firmware.bin"
pids=()
trap 'kill "${pids[@]}" 2> /dev/null || true' EXIT

# A slot whose boards keep coming: a board is a vantyx-sim for one download, its pseudo-
# terminal linked at the slot's name while it is plugged in.
slot() { # STATION SLOT SEED
    local link=$dir/$1-$2 log=$dir/$1-$2.log seed=$3 n=0
    while true; do
        n=$((n + 1))
        local fault=()
        [ $(((seed * 7 + n * 13) % 8)) -eq 0 ] && fault=(--silent-after-block 3)
        ./build/tools/simulator/vantyx-sim --pty --once "${fault[@]}" > "$log" 2>&1 &
        local sim=$!
        ln -sfn "$(sim_port "$log")" "$link"
        if [ ${#fault[@]} -gt 0 ]; then
            sleep 9 # the failure said, the board pulled
            kill $sim 2> /dev/null || true
        fi
        wait $sim 2> /dev/null || true
        rm -f "$link"
        sleep 1 # the next board
    done
}

ports=()
for station in 1 2; do
    port=$((19460 + station))
    ports+=("127.0.0.1:$port")
    printf '[slots]\n' > "$dir/station-$station.ini"
    for s in A1 A2 B1 B2; do
        echo "$s = $dir/station-$station-$s" >> "$dir/station-$station.ini"
        slot "station-$station" "$s" $((station * 10 + ${#pids[@]})) &
        pids+=($!)
    done
    ./build/src/vantyx-flash --watch --slots "$dir/station-$station.ini" --tag "WO-17$station" \
        --metrics "127.0.0.1:$port" --log "$dir/station-$station.jsonl" "$dir/firmware.bin" \
        > "$dir/station-$station.out" 2>&1 &
    pids+=($!)
done

# The rules' own one-minute group, evaluated every 15 s here: a short run's graph has points.
sed 's/^    interval: 1m$/    interval: 15s/' packaging/monitoring/vantyx-rules.yml > "$dir/rules.yml"
cat > "$dir/prometheus.yml" << EOF
global:
  scrape_interval: 2s
  evaluation_interval: 15s
rule_files:
  - $dir/rules.yml
scrape_configs:
  - job_name: vantyx
    static_configs:
      - targets: ['${ports[0]}', '${ports[1]}']
EOF
prometheus --config.file="$dir/prometheus.yml" --storage.tsdb.path="$dir/data" \
    --web.listen-address=127.0.0.1:19490 > "$dir/prometheus.log" 2>&1 &
pids+=($!)
echo "dashboard: two stations flashing for $minutes minutes"
sleep $((minutes * 60))

# The graph page: each station's yield and boards an hour, as the rules record them.
url="http://127.0.0.1:19490/graph?"
n=0
for expr in 'station:vantyx_yield:ratio_rate15m' 'station:vantyx_boards:per_hour_rate15m'; do
    encoded=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$expr")
    url+="g$n.expr=$encoded&g$n.tab=0&g$n.stacked=0&g$n.show_exemplars=0&g$n.range_input=${minutes}m&"
    n=$((n + 1))
done
chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,1440 \
    --virtual-time-budget=15000 --screenshot="$dir/page.png" "$url" > "$dir/chromium.log" 2>&1
mkdir -p docs
cp "$dir/page.png" docs/line-dashboard.png
echo "docs/line-dashboard.png: $(curl -s "http://127.0.0.1:19490/api/v1/query?query=station:vantyx_yield:ratio_rate15m")"
