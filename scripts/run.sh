#!/usr/bin/env bash
# Installs what is missing, builds the address service and qinglan.exe, starts the service in
# the background and the tool under Wine on this machine's display; the service stops when the
# tool is closed.
#
#   scripts/run.sh
#
# The tool asks the address service at the host it was built with (ADDRESS_SERVICE_HOST, by
# default 127.0.0.1:8680, where the service listens) and opens addresses in the browser that Wine
# hands web addresses to.
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ -z "${DISPLAY:-}" ]; then
    echo "run: there is no X display: DISPLAY is not set." >&2
    echo "run: start the tool from a desktop session or over ssh -X. (scripts/test.sh brings" >&2
    echo "run: its own virtual display for the tests.)" >&2
    exit 1
fi

"$QINGLAN_ROOT/scripts/setup.sh"
if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    echo "run: the X display '$DISPLAY' does not answer." >&2
    exit 1
fi
mkdir -p "$QINGLAN_BUILD"

say "Building the address service"
build_service
arch=$(wine_windows_arch)
if [ "$arch" = i686 ]; then
    say "Building qinglan.exe"
else
    say "Building qinglan.exe for $arch: the kernel here runs no 32-bit programs, so only the 64-bit Wine can start"
fi
build_windows qinglan
exe=$(windows_build_dir "$arch")/ui/qinglan.exe

service_url=http://127.0.0.1:8680
if curl -sf -o /dev/null "$service_url/healthz"; then
    say "An address service already answers at $service_url; using it"
else
    say "Starting the address service at $service_url (log: $QINGLAN_BUILD/service.log)"
    "$QINGLAN_SERVICE_EXE" >"$QINGLAN_BUILD/service.log" 2>&1 </dev/null &
    service_pid=$!
    trap 'kill "$service_pid" 2>/dev/null; wait "$service_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
        curl -sf -o /dev/null "$service_url/healthz" && break
        kill -0 "$service_pid" 2>/dev/null || { cat "$QINGLAN_BUILD/service.log" >&2; exit 1; }
        sleep 0.3
    done
fi

# A prefix of its own, so the tests' settings (browser stand-in, fixed desktop) do not apply.
if [ "$arch" = i686 ]; then
    export WINEPREFIX=$QINGLAN_BUILD/wine-run
else
    export WINEPREFIX=$QINGLAN_BUILD/wine-run-$arch
fi
wine_loader_vars "$QINGLAN_BUILD"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives code page 936.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the Wine prefix $WINEPREFIX"
    wine wineboot -i >"$QINGLAN_BUILD/wine-run.log" 2>&1 </dev/null
fi
say "Starting $exe"
wine "$exe" >>"$QINGLAN_BUILD/wine-run.log" 2>&1 </dev/null
