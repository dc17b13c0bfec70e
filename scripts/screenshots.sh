#!/usr/bin/env bash
# Renews docs/main-window.png and docs/instructions-window.png: builds qinglan.exe, runs it under
# Wine's virtual desktop on a virtual X display against a stand-in address service, and takes
# the pictures there.
set -euo pipefail
source "$(dirname "$0")/common.sh"

"$QINGLAN_ROOT/scripts/setup.sh"
mkdir -p "$QINGLAN_BUILD"
build_windows
source "$QINGLAN_ROOT/scripts/wine-env.sh"
wine_env_init "$QINGLAN_BUILD/windows/wine-env"
trap 'wine_env_shutdown || true' EXIT
QINGLAN_BUILD_DIR=$QINGLAN_BUILD/windows QINGLAN_WINE_DIR=$QINGLAN_BUILD/windows/wine-env \
    QINGLAN_EXE=$QINGLAN_BUILD/windows/ui/qinglan.exe \
    QINGLAN_PROBE=$QINGLAN_BUILD/windows/tests/qinglan_probe.exe \
    python3 "$QINGLAN_ROOT/tests/e2e/make_screenshots.py" "$QINGLAN_ROOT/docs"
echo "screenshots: docs/main-window.png docs/instructions-window.png"
