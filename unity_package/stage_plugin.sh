#!/bin/sh
# Copies a Windows x86-64 build of the plug-in into the package's plug-in
# folder, as the release tarball carries it:
#   stage_plugin.sh <path>/ZVAudioOutput.dll
# Only the plug-in belongs there (the package ships import settings for no
# other DLL; the platform DLLs go into a project's Assets/Plugins/x86_64/),
# and it must be a 64-bit PE image.
set -eu

dest="$(cd "$(dirname "$0")" && pwd)/com.zvaudio.output/Runtime/Plugins/x86_64"

if [ "$#" -eq 0 ]; then
    echo "usage: $0 <path-to-ZVAudioOutput.dll>" >&2
    exit 2
fi

# Reads `count` bytes at `offset` of a file as one little-endian number.
read_le() {
    od -A n -t u1 -j "$2" -N "$3" "$1" |
        awk '{ for (i = NF; i >= 1; --i) v = v * 256 + $i } END { print v + 0 }'
}

for dll in "$@"; do
    name=$(basename "$dll")
    case "$name" in
    ZVAudioOutput.dll) ;;
    zv_sdk_loader.dll | zv_unity_native_logging.dll)
        echo "$name: platform DLLs go into the Unity project's Assets/Plugins/x86_64/, not the package" >&2
        exit 1
        ;;
    *)
        echo "$name: not ZVAudioOutput.dll" >&2
        exit 1
        ;;
    esac
    if [ ! -f "$dll" ]; then
        echo "$dll: no such file" >&2
        exit 1
    fi
    if [ "$(read_le "$dll" 0 2)" -ne 23117 ]; then # "MZ"
        echo "$dll: not a Windows DLL" >&2
        exit 1
    fi
    pe=$(read_le "$dll" 60 4)
    if [ "$(read_le "$dll" "$pe" 4)" -ne 17744 ] || # "PE\0\0"
        [ "$(read_le "$dll" $((pe + 4)) 2)" -ne 34404 ]; then # machine 0x8664
        echo "$dll: not an x86-64 PE image" >&2
        exit 1
    fi
    cp "$dll" "$dest/$name"
    echo "staged $name -> $dest"
done
