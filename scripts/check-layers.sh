#!/usr/bin/env bash
# The layers as the sources see them: which folders of src/ each folder includes from. Fails
# when two folders import each other (or any loop), or when a folder includes from a layer
# above its own:
#   core          protocol serial
#   records       records                 (and core)
#   engine        link remote flash       (and records, core)
#   metrics       metrics                 (and engine, records, core)
#   window        app detect images       (and records, core)
#   bench window  benchwindow             (and metrics, engine, records, core)
#   cli           cli                     (and metrics, engine, records, core)
#   frontend      frontend: the window programs' command lines, on Qt alone
set -euo pipefail
cd "$(dirname "$0")/../src"

declare -A allowed=(
    [protocol]="protocol serial" [serial]="protocol serial" [frontend]="frontend"
    [records]="protocol serial records"
    [link]="protocol serial link records" [remote]="protocol serial link remote"
    [flash]="protocol serial records link remote flash"
    [metrics]="protocol serial records flash metrics"
    [app]="protocol serial records frontend app detect images"
    [detect]="protocol serial detect images" [images]="images"
    [benchwindow]="protocol serial records frontend link remote flash metrics benchwindow images"
    [cli]="protocol serial records link remote flash metrics cli")

edges=$(grep -rHo '^#include "[a-z]*/' --include='*.cpp' --include='*.h' . |
    sed 's|^\./\([a-z]*\)/[^:]*:#include "\([a-z]*\)/|\1 \2|' | sort -u)
status=0
while read -r from to; do
    [ -n "$from" ] || continue
    if [[ " ${allowed[$from]:-} " != *" $to "* ]]; then
        echo "layers: src/$from includes from src/$to, a layer it may not use" >&2
        status=1
    fi
done <<< "$edges"
# tsort says where a loop is; folders including themselves are no loop.
if ! awk '$1 != $2' <<< "$edges" | tsort > /dev/null 2> /tmp/layers.$$; then
    cat /tmp/layers.$$ >&2
    status=1
fi
rm -f /tmp/layers.$$
[ $status -eq 0 ] && echo "layers: $(awk '$1 != $2' <<< "$edges" | wc -l) folder imports, no loop, none upward"
exit $status
