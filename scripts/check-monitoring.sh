#!/usr/bin/env bash
# The line's monitoring: Prometheus' own checker reads the rules and runs their tests (made-up
# stations that make each alert fire and stay quiet); the dashboard is JSON; and every metric
# the rules and the dashboard name is one the stations write, every rule the dashboard names
# one the rules record.
#   bash scripts/check-monitoring.sh
set -euo pipefail
cd "$(dirname "$0")/../packaging/monitoring"
if ! command -v promtool > /dev/null; then
    # On a CI the check must run, not pass unseen.
    if [ "${CI:-}" = true ]; then
        echo "monitoring: no promtool (Debian's prometheus)" >&2
        exit 1
    fi
    echo "monitoring: no promtool here (Debian's prometheus; scripts/dev.sh installs it)"
    exit 77
fi
promtool check rules vantyx-rules.yml
promtool test rules vantyx-rules-test.yml
python3 -m json.tool vantyx-dashboard.json > /dev/null

written=$(grep -ohE '"vantyx_[a-z_]+' ../../src/metrics/*.cpp | tr -d '"' | sort -u)
recorded=$(grep -oE 'record: [a-z_:0-9]+' vantyx-rules.yml | sed 's/record: //' | sort -u)
status=0
for name in $(grep -ohE 'vantyx_[a-z_]+' vantyx-rules.yml vantyx-dashboard.json | sort -u); do
    # A histogram's series are its name with _bucket, _sum or _count.
    base=$(echo "$name" | sed -E 's/_(bucket|sum|count)$//')
    if ! grep -qx "$name" <<< "$written" && ! grep -qx "$base" <<< "$written"; then
        case "$name" in vantyx_yield | vantyx_boards) continue ;; esac # parts of rule names
        echo "monitoring: $name is not a metric the stations write" >&2
        status=1
    fi
done
for name in $(grep -ohE 'station:[a-z_:0-9]+' vantyx-dashboard.json | sort -u); do
    if ! grep -qx "$name" <<< "$recorded"; then
        echo "monitoring: the dashboard asks for $name, which no rule records" >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "monitoring: the rules, their tests and the dashboard agree with the metrics"
exit $status
