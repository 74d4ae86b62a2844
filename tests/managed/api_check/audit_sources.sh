#!/bin/sh
# For a maintainer with clones of the engine's reference source: checks that
# the file each line of engine/reference_api.tsv names exists at each tag it
# names and mentions the type and the member. It cannot tell a wrong
# signature (read the file for that); it catches a wrong file, tag or name.
#   audit_sources.sh <UnityCsReference clone> <com.unity.test-framework clone>
# (github.com/Unity-Technologies/UnityCsReference; the test framework as
# published in the package registry, e.g. a mirror with one tag per version).
set -eu

if [ "$#" -ne 2 ]; then
    echo "usage: $0 <UnityCsReference clone> <com.unity.test-framework clone>" >&2
    exit 2
fi
engine_repo=$1
test_repo=$2
here=$(cd "$(dirname "$0")" && pwd)
record="$here/../engine/reference_api.tsv"

# mentions <repo> <tag> <path> <word>...: each word occurs in the file.
mentions() {
    repo=$1 tag=$2 path=$3
    shift 3
    text=$(git -C "$repo" show "$tag:$path" 2>/dev/null) || {
        echo "$path does not exist at $tag"
        return 1
    }
    for word in "$@"; do
        case $text in
        *"$word"*) ;;
        *) echo "$path at $tag does not mention $word"; return 1 ;;
        esac
    done
}

tab=$(printf '\t')
line_number=0
report=$(while IFS="$tab" read -r versions kind type member scope signature source; do
    line_number=$((line_number + 1))
    case $versions in '#'* | '') continue ;; esac
    short=${type##*.}
    case $kind in
    type | ctor) words=$short ;;
    method) [ "$member" = op_Implicit ] && words="$short implicit operator" || words="$short ${member%%<*}" ;;
    *) words="$short $member" ;;
    esac
    repo=$engine_repo
    case $source in *com.unity.test-framework*) repo=$test_repo ;; esac
    # "path@tag,tag" or "path@tag; path@tag"; a test-framework source is
    # "path@com.unity.test-framework version,version".
    echo "$source" | tr ';' '\n' | while read -r part; do
        path=${part%%@*}
        tags=${part#*@}
        tags=${tags#com.unity.test-framework }
        for tag in $(echo "$tags" | tr ',' ' '); do
            # shellcheck disable=SC2086
            mentions "$repo" "$tag" "$path" $words || echo "  (record line $line_number)"
        done
    done
done <"$record")
if [ -n "$report" ]; then
    echo "$report" >&2
    exit 1
fi
echo "every source in the record exists and mentions its type and member"
