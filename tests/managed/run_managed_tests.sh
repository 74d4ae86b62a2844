#!/bin/sh
# Compiles the package for the engine (compile_package.sh), checks the
# stand-in engine against the engine's declarations (api_check/), then
# compiles its engine-independent C# (Runtime/Core, Editor/Core) with the
# package's own tests (Tests/) and these, and runs them against the Linux
# build of the plug-in and the simulated device:
#   run_managed_tests.sh <library-dir> <work-dir> [test-name-filter]
# <library-dir> holds libZVAudioOutput.so and libzv_sdk_loader.so.
set -eu

if [ "$#" -lt 2 ]; then
    echo "usage: $0 <library-dir> <work-dir> [filter]" >&2
    exit 2
fi
libdir=$(cd "$1" && pwd)
workdir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
pkg="$here/../../unity_package/com.zvaudio.output"
MCS=${MCS:-mcs}
MONO=${MONO:-mono}

mkdir -p "$workdir"
MCS="$MCS" sh "$here/compile_package.sh" "$workdir/package" >/dev/null
MCS="$MCS" MONO="$MONO" sh "$here/api_check/check_engine_api.sh" "$workdir/package" "$workdir/engine_api"
exe="$workdir/ZVAudio.Output.Tests.exe"
"$MCS" -langversion:7.2 -debug -warnaserror -nologo -target:exe -out:"$exe" \
    "$pkg"/Runtime/Core/*.cs "$pkg"/Editor/Core/*.cs "$pkg"/Tests/Runtime/*.cs "$pkg"/Tests/Editor/*.cs \
    "$here"/*.cs "$here"/nunit/*.cs
cp "$here/ZVAudio.Output.Tests.exe.config" "$exe.config"

ZV_PACKAGE_BUILD="$workdir/package/2021.3" \
LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    exec "$MONO" --debug "$exe" "$@"
