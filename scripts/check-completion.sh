#!/usr/bin/env bash
# The bash completion knows every option of every program, as each program's --help lists
# them: for each, the completion is asked what follows "--" and must offer them all.
#   bash scripts/check-completion.sh PROGRAM_PATH...
set -euo pipefail
cd "$(dirname "$0")/.."
source packaging/vantyx.bash-completion
status=0
for program in "$@"; do
    name=$(basename "$program")
    options=$(QT_QPA_PLATFORM=offscreen "$program" --help | grep -oE '^ +(-[a-z], )?--[a-z][a-z-]*' |
        grep -oE -- '--[a-z][a-z-]*' | sort -u)
    function=$(complete -p "$name" | sed 's/.* -F \([^ ]*\) .*/\1/')
    COMP_WORDS=("$name" --)
    COMP_CWORD=1
    COMPREPLY=()
    "$function"
    offered=$(printf '%s\n' "${COMPREPLY[@]}" | sort -u)
    missing=$(comm -23 <(echo "$options") <(echo "$offered"))
    if [ -n "$missing" ]; then
        echo "completion: $name: not offered:" $missing >&2
        status=1
    else
        echo "completion: $name: $(echo "$options" | wc -l) options, all offered"
    fi
done
exit $status
