#!/usr/bin/env bash
# The layers as the build and the sources say them. Reads the targets CMake wrote to
# BUILD/layers.txt at its configure (default build/), then fails when:
#   - a library's or program's source lies outside the folder of its CMakeLists, or two libraries
#     of src/ share a folder: a folder is a library, and a file moved is a file of another one;
#   - a file of src/, tools/, bench/, fuzz/ or tests/ includes a header of a library that its
#     target does not link, directly or through the libraries it links: no layer reaches up;
#   - the project's libraries link in a loop.
# A file no target lists (another system's *_win.cpp, a build's alternative) belongs to the
# library of its folder.
#   bash scripts/check-layers.sh [BUILD]
#   bash scripts/check-layers.sh --moved FILE FOLDER [BUILD]
#       what it would say were FILE moved into FOLDER and listed by that folder's library
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

moved_file='' moved_to=''
if [ "${1:-}" = --moved ]; then
    moved_file=$root/$2 moved_to=$root/$3
    shift 3
fi
build=${1:-build}
layers=$build/layers.txt
if [ ! -f "$layers" ]; then
    echo "layers: no $layers: configure first (bash scripts/dev.sh build)" >&2
    exit 2
fi

declare -A folder type owner links listed
roots=("$root/src")
while read -r kind target value rest; do
    case "$kind" in
        target) type[$target]=$value folder[$target]=$rest ;;
        source)
            [[ "$value" == "$root"/* && "$value" != "$root/build"* ]] || continue
            if [ "$value" = "$moved_file" ]; then
                value=$moved_to/$(basename "$value")
                target=moved
            fi
            owner[$value]="${owner[$value]:-} $target"
            listed[$target]="${listed[$target]:-} $value"
            ;;
        link) links[$target]="${links[$target]:-} $value" ;;
        include) [[ "$value" == "$root"/* ]] && roots+=("$value") ;;
    esac
done < "$layers"
if [ -n "$moved_file" ]; then # now the file of the library of its new folder
    for target in "${!type[@]}"; do
        [[ "${type[$target]}" == *LIBRARY && "${folder[$target]}" == "$moved_to" ]] || continue
        moved=$moved_to/$(basename "$moved_file")
        owner[$moved]=" $target"
        listed[$target]+=" $moved"
    done
    unset 'listed[moved]'
fi

status=0
fail() {
    echo "layers: $*" >&2
    status=1
}
rel() { echo "${1#"$root"/}"; }

# A folder is a library: its targets' sources lie below it, and src/ has one library a folder.
declare -A library_of_folder
for target in "${!type[@]}"; do
    for source in ${listed[$target]:-}; do
        [[ "$source" == "${folder[$target]}"/* ]] ||
            fail "$(rel "$source") is a source of $target, whose folder is $(rel "${folder[$target]}")"
    done
    [[ "${type[$target]}" == *LIBRARY && "${folder[$target]}" == "$root/src/"* ]] || continue
    other=${library_of_folder[${folder[$target]}]:-}
    [ -z "$other" ] || fail "$other and $target share the folder $(rel "${folder[$target]}")"
    library_of_folder[${folder[$target]}]=$target
done

# The targets `target` reaches through what it links, itself among them.
declare -A reach
reaches() {
    local target=$1
    if [ -z "${reach[$target]:-}" ]; then
        local all=" $target " link
        for link in ${links[$target]:-}; do
            [ -n "${type[$link]:-}" ] || continue # Qt's, the system's, the flags
            reaches "$link"
            for one in ${reach[$link]}; do
                [[ "$all" == *" $one "* ]] || all+="$one "
            done
        done
        reach[$target]=$all
    fi
}

# The targets a file belongs to: those that list it, else the libraries of its nearest folder.
owners_of() {
    local file=$1
    if [ -n "${owner[$file]:-}" ]; then
        echo "${owner[$file]}"
        return
    fi
    local dir
    dir=$(dirname "$file")
    while [[ "$dir" == "$root"/* ]]; do
        local found=''
        for target in "${!type[@]}"; do
            [[ "${type[$target]}" == *LIBRARY && "${folder[$target]}" == "$dir" ]] &&
                found+=" $target"
        done
        if [ -n "$found" ]; then
            echo "$found"
            return
        fi
        dir=$(dirname "$dir")
    done
}

mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'bench/*.cpp' \
    'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h' 'tests/*.cpp' 'tests/*.h')
edges=0
for relative in "${files[@]}"; do
    file=$root/$relative
    [ "$file" = "$moved_file" ] && file=$moved_to/$(basename "$file")
    includes=$(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$root/$relative")
    [ -n "$includes" ] || continue
    from=$(owners_of "$file")
    if [ -z "$from" ]; then
        fail "$(rel "$file") is in no target's folder"
        continue
    fi
    for target in $from; do reaches "$target"; done
    for include in $includes; do
        header=''
        for base in "$(dirname "$file")" "${roots[@]}"; do
            if [ -f "$base/$include" ]; then
                header=$base/$include
                break
            fi
        done
        [ -n "$header" ] || continue # made by the build (a form's header)
        [ "$header" = "$moved_file" ] && header=$moved_to/$(basename "$header")
        to=$(owners_of "$header")
        for target in $from; do
            ok=false
            for one in $to; do
                [[ "${reach[$target]}" == *" $one "* ]] && ok=true
            done
            $ok || fail "$(rel "$file") ($target) includes $include of$to, which $target does not link"
        done
        edges=$((edges + 1))
    done
done

# No loop among the libraries: tsort says where one is.
pairs=''
for target in "${!links[@]}"; do
    for link in ${links[$target]}; do
        [ -n "${type[$link]:-}" ] && pairs+="$target $link"$'\n'
    done
done
if ! tsort <<< "$pairs" > /dev/null 2> /tmp/layers.$$; then
    fail "the libraries link in a loop: $(tr '\n' ' ' < /tmp/layers.$$)"
fi
rm -f /tmp/layers.$$
[ $status -eq 0 ] &&
    echo "layers: ${#type[@]} targets, ${#library_of_folder[@]} libraries a folder each in src/, $edges includes, each from a library linked, no loop"
exit $status
