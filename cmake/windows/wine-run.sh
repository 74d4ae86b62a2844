#!/bin/sh
# The cross-compiling emulator of the Windows build: runs one Windows program
# under Wine, headless, in the build tree's prefix.
#
#   wine-run.sh <prefix> <program.exe> [arguments...]
#
# WINEPREFIX in the environment takes precedence over <prefix>. A server
# started here lingers a minute after the last program; tools/ci/windows.sh
# starts one that stays until it stops it.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
prefix=${WINEPREFIX:-${1:?usage: wine-run.sh <prefix> <program> [arguments...]}}
shift

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

"$here/wine-session.sh" start "$prefix" 60

# Host paths among the arguments (tests pass output files and the like) become
# paths on Wine's Z: drive, which maps the host's root: a Windows program
# reads "/tmp/x.wav" as C:\tmp\x.wav. The program itself stays as given.
program=$1
shift
for argument in "$@"; do
    shift
    case "$argument" in
    /*)
        if [ -e "$(dirname "$argument")" ]; then
            argument="Z:$argument"
        fi
        ;;
    esac
    set -- "$@" "$argument"
done
set -- "$program" "$@"

if command -v wine64 >/dev/null 2>&1; then
    exec wine64 "$@"
elif [ -x /usr/lib/wine/wine64 ]; then
    export WINELOADER=/usr/lib/wine/wine64
    exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
