#!/usr/bin/env bash
# Fails when a file of SRC includes a folder that is not below its own. The layers, from the
# bottom up; folders on one line are siblings and do not include each other.
set -euo pipefail
src=${1:?usage: check-layers.sh SRC}
layers=(
    "text"
    "settings"
    "store"
    "extract"
    "mining"
    "browser"
    "analysis"
    "analysis/charts"
    "ui cli"
    "mining/views browser/views analysis/views"
    "app"
)
declare -A rank
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do rank[$folder]=$i; done
done

# The layer of a path: its longest leading folder that is a layer (analysis/views before analysis).
layer_of() {
    local dir=$1 best=""
    for folder in "${!rank[@]}"; do
        if [[ $dir == "$folder" || $dir == "$folder"/* ]] && ((${#folder} > ${#best})); then best=$folder; fi
    done
    printf '%s' "$best"
}

bad=0
cd "$src"
while IFS= read -r file; do
    own=$(layer_of "$(dirname "$file")")
    if [[ -z $own ]]; then
        echo "$file: its folder is not a layer of check-layers.sh" >&2
        bad=1
        continue
    fi
    while IFS= read -r inc; do
        [[ $inc == */* ]] || continue
        target=$(layer_of "$(dirname "$inc")")
        if [[ -z $target ]]; then
            echo "$file includes \"$inc\": not a folder of src" >&2
            bad=1
        elif [[ $target != "$own" ]] && ((rank[$target] >= rank[$own])); then
            echo "$file ($own) includes \"$inc\" ($target), which is not below it" >&2
            bad=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -printf '%P\n' | sort)
exit $bad
