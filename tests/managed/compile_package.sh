#!/bin/sh
# Compiles all of the package's C# (Runtime, Editor, the samples and the
# tests) as the engine would, against the small stand-in engine assemblies of engine/, so
# that a typo in the component fails CI:
#   compile_package.sh <out-dir>
# Everything is built once for each engine version the package supports, the
# oldest and the newest, into <out-dir>/<version>/, with the version symbols
# that engine defines (UNITY_X_Y_OR_NEWER for every version up to its own;
# engine manual, "Unity scripting symbol reference"); the stand-ins are
# compiled with the same symbols, so their #if picks that engine's API.
# Runtime is built four times: for the Windows Editor (which Editor and the
# samples are built against), for the Windows player on Mono and on IL2CPP,
# and for a player of another platform, which must carry no native calls.
# IL2CPP raises NotSupportedException from Marshal.Prelink, so its build must
# not refer to it; the Mono player's build must, or the check proves nothing.
set -eu

if [ "$#" -ne 1 ]; then
    echo "usage: $0 <out-dir>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
pkg="$here/../../unity_package/com.zvaudio.output"
MCS=${MCS:-mcs}
# The package's "unity" in package.json is the oldest.
engine_versions="2021.3 6000.5"
release_order="5.3 5.4 5.5 5.6 2017.1 2017.2 2017.3 2017.4 2018.1 2018.2 2018.3 2018.4
2019.1 2019.2 2019.3 2019.4 2020.1 2020.2 2020.3 2021.1 2021.2 2021.3 2022.1 2022.2 2022.3
2023.1 2023.2 2023.3 6000.0 6000.1 6000.2 6000.3 6000.4 6000.5"

# -define options for the version symbols of engine version $1 (X.Y).
version_defines() {
    for v in $release_order; do
        echo "-define:UNITY_$(echo "$v" | tr . _)_OR_NEWER"
        [ "$v" = "$1" ] && break
    done
    echo "-define:UNITY_$(echo "$1" | tr . _) -define:UNITY_${1%%.*}"
}

cs() {
    "$MCS" -langversion:7.2 -warnaserror -nologo -target:library $versions "$@"
}

# compile_for <version> <out-dir>
compile_for() {
    version=$1
    out=$2
    versions=$(version_defines "$version")
    mkdir -p "$out"
    cs -out:"$out/UnityEngine.dll" "$here/engine/UnityEngine.cs"
    cs -r:"$out/UnityEngine.dll" -out:"$out/UnityEditor.dll" "$here/engine/UnityEditor.cs"
    cs -r:"$out/UnityEngine.dll" -out:"$out/UnityEngine.TestRunner.dll" "$here/engine/UnityEngine.TestRunner.cs"

    engine="-r:$out/UnityEngine.dll"
    cs $engine -r:"$out/UnityEditor.dll" -out:"$out/ZVAudio.Output.dll" \
        -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN \
        -define:UNITY_STANDALONE -define:UNITY_STANDALONE_WIN \
        "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
    cs $engine -r:"$out/UnityEditor.dll" -r:"$out/ZVAudio.Output.dll" -out:"$out/ZVAudio.Output.Editor.dll" \
        -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN \
        "$pkg"/Editor/*.cs "$pkg"/Editor/Core/*.cs
    cs $engine -r:"$out/ZVAudio.Output.dll" -out:"$out/ZVAudio.Output.Samples.dll" \
        -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN \
        "$pkg"/Samples~/*/*.cs
    # The package's tests, as the engine's test framework builds them (their
    # assembly names are the ones the package's InternalsVisibleTo names).
    cs -out:"$out/nunit.framework.dll" "$here"/nunit/*.cs
    tests="-r:$out/nunit.framework.dll -r:$out/UnityEngine.TestRunner.dll -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN -define:UNITY_INCLUDE_TESTS"
    cs $engine $tests -r:"$out/ZVAudio.Output.dll" -out:"$out/ZVAudio.Output.Tests.dll" "$pkg"/Tests/Runtime/*.cs
    cs $engine $tests -r:"$out/UnityEditor.dll" -r:"$out/ZVAudio.Output.dll" -r:"$out/ZVAudio.Output.Editor.dll" \
        -out:"$out/ZVAudio.Output.Editor.Tests.dll" "$pkg"/Tests/Editor/*.cs

    cs $engine -out:"$out/ZVAudio.Output.WindowsPlayer.dll" \
        -define:UNITY_STANDALONE -define:UNITY_STANDALONE_WIN \
        "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
    cs $engine -out:"$out/ZVAudio.Output.WindowsIL2CPP.dll" \
        -define:UNITY_STANDALONE -define:UNITY_STANDALONE_WIN -define:ENABLE_IL2CPP \
        "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
    # A reference to a method by that name puts "Prelink" into the assembly's
    # string heap; nothing else of ours is called that.
    if LC_ALL=C grep -q Prelink "$out/ZVAudio.Output.WindowsIL2CPP.dll"; then
        echo "$version: ZVAudio.Output.WindowsIL2CPP.dll refers to Prelink, which IL2CPP does not implement" >&2
        exit 1
    fi
    if ! LC_ALL=C grep -q Prelink "$out/ZVAudio.Output.WindowsPlayer.dll"; then
        echo "$version: ZVAudio.Output.WindowsPlayer.dll does not refer to Prelink: the IL2CPP check cannot tell" >&2
        exit 1
    fi
    cs $engine -out:"$out/ZVAudio.Output.OtherPlayer.dll" \
        -define:UNITY_IOS \
        "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
}

for v in $engine_versions; do
    compile_for "$v" "$1/$v"
done
echo "package compiled into $1 for engine versions $engine_versions"
