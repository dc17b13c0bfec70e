#!/usr/bin/env bash
# Installs what is missing, builds qinglan.exe and starts it under Wine on this machine's display.
#
#   scripts/run.sh
#
# The program asks the address service at the host it was built with (ADDRESS_SERVICE_HOST,
# default 127.0.0.1:8680) and opens addresses in the browser that Wine hands web addresses to.
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    if [ -n "${DISPLAY:-}" ] || command -v xdpyinfo >/dev/null 2>&1; then
        echo "run: no X display is reachable (DISPLAY='${DISPLAY:-}')." >&2
    else
        echo "run: no X display: DISPLAY is not set." >&2
    fi
    echo "run: start the tool from a desktop session, or over ssh -X; the tests (scripts/test.sh)" >&2
    echo "run: bring their own virtual display." >&2
    exit 1
fi

"$QINGLAN_ROOT/scripts/setup.sh"
mkdir -p "$QINGLAN_BUILD"
say "Building qinglan.exe"
build_windows -DQINGLAN_TESTS=OFF
exe=$QINGLAN_BUILD/windows/ui/qinglan.exe

# A prefix of its own, so the tests' settings (browser stand-in, fixed desktop) do not apply.
export WINEPREFIX=$QINGLAN_BUILD/wine-run
export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives code page 936.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the Wine prefix $WINEPREFIX"
    wine wineboot -i >"$QINGLAN_BUILD/wine-run.log" 2>&1 </dev/null
fi
say "Starting $exe"
exec wine "$exe" >>"$QINGLAN_BUILD/wine-run.log" 2>&1 </dev/null
