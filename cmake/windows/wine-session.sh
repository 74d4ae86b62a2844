#!/bin/sh
# Starts or stops the Wine session of one build tree.
#
#   wine-session.sh start <prefix> [persistence]   server (and first boot) up
#   wine-session.sh stop  <prefix>                  server and its services down
#
# The server and the services the first boot leaves behind are started with
# their output on a log file and in a session of their own: a background
# process holding a test's stdout would keep CTest waiting for it.
# persistence is how many idle seconds the server lingers ("" = until stopped).
set -eu

action=${1:?usage: wine-session.sh start|stop <prefix> [persistence]}
prefix=${2:?usage: wine-session.sh start|stop <prefix> [persistence]}
persistence=${3-}

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No prompts to install the .NET and HTML engines into a new prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

if command -v wine64 >/dev/null 2>&1; then
    wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
else
    wine=wine
fi

log="$prefix.log"

case "$action" in
start)
    # The server needs the folder; the first boot fills it.
    mkdir -p "$prefix"
    # One caller at a time sets the prefix up; the others wait for it. The
    # lock is not handed down: the server outlives this script.
    exec 9>"$prefix.lock"
    flock 9
    status=0
    wineserver "-p$persistence" </dev/null >>"$log" 2>&1 9>&- || status=$?
    if [ "$status" -eq 0 ]; then
        # A new server: boot the prefix (creating it the first time) so that
        # the services start here, detached, rather than inside a test.
        WINELOADER="$wine" setsid -w "$wine" wineboot </dev/null >>"$log" 2>&1 9>&-
    elif [ "$status" -ne 2 ]; then
        # 2 means a server for this prefix is running already.
        echo "wine-session.sh: wineserver failed ($status), see $log" >&2
        exit "$status"
    fi
    ;;
stop)
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    ;;
*)
    echo "wine-session.sh: unknown action $action" >&2
    exit 64
    ;;
esac
