#!/bin/sh
# Compiles all of the package's C# (Runtime, Editor, the samples and the
# tests) as the engine would, against the small stand-in engine assemblies of engine/, so
# that a typo in the component fails CI:
#   compile_package.sh <out-dir>
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
out=$1
here=$(cd "$(dirname "$0")" && pwd)
pkg="$here/../../unity_package/com.zvaudio.output"
MCS=${MCS:-mcs}

mkdir -p "$out"
cs() {
    "$MCS" -langversion:7.2 -warnaserror -nologo -target:library "$@"
}
cs -out:"$out/UnityEngine.dll" "$here/engine/UnityEngine.cs"
cs -r:"$out/UnityEngine.dll" -out:"$out/UnityEditor.dll" "$here/engine/UnityEditor.cs"

engine="-r:$out/UnityEngine.dll"
cs $engine -r:"$out/UnityEditor.dll" -out:"$out/ZVAudio.Output.dll" \
    -define:UNITY_5_3_OR_NEWER -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN \
    -define:UNITY_STANDALONE -define:UNITY_STANDALONE_WIN \
    "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
cs $engine -r:"$out/UnityEditor.dll" -r:"$out/ZVAudio.Output.dll" -out:"$out/ZVAudio.Output.Editor.dll" \
    -define:UNITY_5_3_OR_NEWER -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN \
    "$pkg"/Editor/*.cs "$pkg"/Editor/Core/*.cs
cs $engine -r:"$out/ZVAudio.Output.dll" -out:"$out/ZVAudio.Output.Samples.dll" \
    -define:UNITY_5_3_OR_NEWER -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN \
    "$pkg"/Samples~/*/*.cs
# The package's tests, as the engine's test framework builds them (their
# assembly names are the ones the package's InternalsVisibleTo names).
cs -out:"$out/nunit.framework.dll" "$here"/nunit/*.cs
tests="-r:$out/nunit.framework.dll -define:UNITY_5_3_OR_NEWER -define:UNITY_EDITOR -define:UNITY_EDITOR_WIN -define:UNITY_INCLUDE_TESTS"
cs $engine $tests -r:"$out/ZVAudio.Output.dll" -out:"$out/ZVAudio.Output.Tests.dll" "$pkg"/Tests/Runtime/*.cs
cs $engine $tests -r:"$out/UnityEditor.dll" -r:"$out/ZVAudio.Output.dll" -r:"$out/ZVAudio.Output.Editor.dll" \
    -out:"$out/ZVAudio.Output.Editor.Tests.dll" "$pkg"/Tests/Editor/*.cs

cs $engine -out:"$out/ZVAudio.Output.WindowsPlayer.dll" \
    -define:UNITY_5_3_OR_NEWER -define:UNITY_STANDALONE -define:UNITY_STANDALONE_WIN \
    "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
cs $engine -out:"$out/ZVAudio.Output.WindowsIL2CPP.dll" \
    -define:UNITY_5_3_OR_NEWER -define:UNITY_STANDALONE -define:UNITY_STANDALONE_WIN -define:ENABLE_IL2CPP \
    "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
# A reference to a method by that name puts "Prelink" into the assembly's
# string heap; nothing else of ours is called that.
if LC_ALL=C grep -q Prelink "$out/ZVAudio.Output.WindowsIL2CPP.dll"; then
    echo "ZVAudio.Output.WindowsIL2CPP.dll refers to Prelink, which IL2CPP does not implement" >&2
    exit 1
fi
if ! LC_ALL=C grep -q Prelink "$out/ZVAudio.Output.WindowsPlayer.dll"; then
    echo "ZVAudio.Output.WindowsPlayer.dll does not refer to Prelink: the IL2CPP check cannot tell" >&2
    exit 1
fi
cs $engine -out:"$out/ZVAudio.Output.OtherPlayer.dll" \
    -define:UNITY_5_3_OR_NEWER -define:UNITY_IOS \
    "$pkg"/Runtime/*.cs "$pkg"/Runtime/Core/*.cs
echo "package compiled into $out"
