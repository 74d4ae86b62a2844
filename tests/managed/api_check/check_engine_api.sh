#!/bin/sh
# Compares the stand-in engine assemblies that compile_package.sh built, one
# set per engine version, with the record of the engine's declarations
# (engine/reference_api.tsv); first proves that the comparison fails on a
# doctored record:
#   check_engine_api.sh <package-build-dir> <work-dir>
set -eu

if [ "$#" -ne 2 ]; then
    echo "usage: $0 <package-build-dir> <work-dir>" >&2
    exit 2
fi
build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
record="$here/../engine/reference_api.tsv"
MCS=${MCS:-mcs}
MONO=${MONO:-mono}

mkdir -p "$work"
exe="$work/EngineApiCheck.exe"
"$MCS" -langversion:7.2 -warnaserror -nologo -target:exe -out:"$exe" "$here/EngineApiCheck.cs"

# Every version is checked before the script fails, so one run names all.
checked=0
failed=0
for engine in "$build"/*/UnityEngine.dll; do
    [ -f "$engine" ] || continue
    dir=$(dirname "$engine")
    "$MONO" "$exe" --self-test "$record" "$(basename "$dir")" \
        "$dir/UnityEngine.dll" "$dir/UnityEditor.dll" "$dir/UnityEngine.TestRunner.dll" || failed=1
    checked=$((checked + 1))
done
# A line for a version no stand-in is built for would never be checked.
known="all $(for d in "$build"/*/UnityEngine.dll; do basename "$(dirname "$d")"; done | tr "\n" " ")"
if ! awk -F '\t' -v known="$known" '
    BEGIN { n = split(known, k, " "); for (i = 1; i <= n; ++i) ok[k[i]] = 1 }
    /^#/ || NF == 0 { next }
    { m = split($1, v, ","); for (i = 1; i <= m; ++i) if (!(v[i] in ok)) {
          printf "record line %d is for engine version %s; the stand-ins are built for %s\n", NR, v[i], known
          bad = 1 } }
    END { exit bad }' "$record" >&2; then
    failed=1
fi
[ "$failed" -eq 0 ] || exit 1
if [ "$checked" -lt 2 ]; then
    echo "$build holds stand-ins for $checked engine version(s); compile_package.sh builds two" >&2
    exit 1
fi
