#!/usr/bin/env bash
# Renews docs/main-window.png and docs/instructions-window.png: builds qinglan.exe, runs it under
# Wine's virtual desktop on a virtual X display against a stand-in address service, and takes
# the pictures there.
set -euo pipefail
source "$(dirname "$0")/common.sh"

"$QINGLAN_ROOT/scripts/setup.sh"
mkdir -p "$QINGLAN_BUILD"
build_windows
windows_build=$(windows_build_dir)
wine_env_init "$windows_build/wine-env"
trap 'wine_env_shutdown || true' EXIT
QINGLAN_BUILD_DIR=$windows_build QINGLAN_WINE_DIR=$windows_build/wine-env \
    QINGLAN_EXE=$windows_build/ui/qinglan.exe \
    QINGLAN_PROBE=$windows_build/tests/qinglan_probe.exe \
    python3 "$QINGLAN_ROOT/tests/e2e/make_screenshots.py" "$QINGLAN_ROOT/docs"
echo "screenshots: docs/main-window.png docs/instructions-window.png"
