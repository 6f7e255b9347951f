#!/usr/bin/env bash
# The folders' ties, written down once and checked on every #include of every source file.
# A tie not in the table fails the test, so none is added without being seen here.
#
#   tests/structure/IncludeGraph.sh [SOURCE_ROOT]
#
#   geo    uses nothing
#   model  uses geo and sim (the blob model is an implicit system's; the system owns blobs)
#   sim    uses geo and model, and mesh/Reconstruct.h (a system owns its mesh)
#   mesh   uses geo, sim/Particle.h (nodes are built from floaters) and model/SafeWrite.h
#          (every file is written through the one safe writer)
#   view   uses the core and app (the scene and the mouse are the Simulator's operations)
#   app    uses the core and view
# No core folder (geo, model, sim, mesh) names a window-system or OpenGL header.
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}

allowed() {  # allowed FOLDER INCLUDED: may a file in FOLDER include INCLUDED?
    local from=$1 to=$2
    local target=${to%%/*}
    [ "$target" = "$from" ] && return 0
    case $from in
        geo) return 1 ;;
        model) [[ $target == geo || $target == sim ]] ;;
        sim) [[ $target == geo || $target == model || $to == mesh/Reconstruct.h ]] ;;
        mesh) [[ $target == geo || $to == sim/Particle.h || $to == model/SafeWrite.h ]] ;;
        view) [[ $target =~ ^(geo|model|sim|mesh|app)$ ]] ;;
        app) [[ $target =~ ^(geo|model|sim|mesh|view)$ ]] ;;
        *) return 1 ;;
    esac
}

platformHeader='^(GL/|GLFW/|OpenGL/|windows\.h|winuser\.h|wingdi\.h|shellapi\.h|windowsx\.h)'
failures=0
checked=0
for folder in geo model sim mesh view app; do
    while IFS= read -r file; do
        while IFS= read -r line; do
            checked=$((checked + 1))
            if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
                included=${BASH_REMATCH[1]}
                if ! allowed "$folder" "$included"; then
                    echo "FAIL: ${file#"$root"/} includes \"$included\": $folder may not use it"
                    failures=$((failures + 1))
                fi
            elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
                included=${BASH_REMATCH[1]}
                if [[ $folder =~ ^(geo|model|sim|mesh)$ ]] &&
                    [[ ${included,,} =~ $platformHeader ]]; then
                    echo "FAIL: ${file#"$root"/} includes <$included>: the core stays headless"
                    failures=$((failures + 1))
                fi
            fi
        done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file")
    done < <(find "$root/$folder" -name '*.h' -o -name '*.cpp' | sort)
done
echo "$checked includes checked, $failures outside the table"
[ "$checked" -gt 0 ] && [ "$failures" -eq 0 ]
