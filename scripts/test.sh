#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   - the source format check,
#   - the lookup and the picture decoder natively, under AddressSanitizer and UBSan,
#   - the fuzz targets for a bounded time each (QINGLAN_FUZZ_SECONDS, default 30),
#   - the Windows program's tests under Wine on a virtual X display: the lookup against the
#     Windows HTTP component, the real windows in-process, and the real qinglan.exe driven from
#     outside with real input.
set -euo pipefail
source "$(dirname "$0")/common.sh"

"$QINGLAN_ROOT/scripts/setup.sh"
mkdir -p "$QINGLAN_BUILD"

say "Source format"
"$QINGLAN_ROOT/scripts/check-format.sh"

say "Native build and tests (AddressSanitizer, UBSan)"
build_native
ctest --test-dir "$QINGLAN_BUILD/native" --output-on-failure -j "$(nproc)"

say "Fuzzing the extraction and the text operations, ${QINGLAN_FUZZ_SECONDS:-30} s each"
build_fuzz
for fuzzer in extraction_fuzzer text_ops_fuzzer; do
    corpus=$QINGLAN_BUILD/fuzz/corpus/$fuzzer
    mkdir -p "$corpus"
    seeds=()
    [ "$fuzzer" = extraction_fuzzer ] && seeds=("$QINGLAN_ROOT/lookup/fuzz/corpus")
    log=$QINGLAN_BUILD/fuzz/$fuzzer.log
    if ! "$QINGLAN_BUILD/fuzz/lookup/fuzz/$fuzzer" -max_total_time="${QINGLAN_FUZZ_SECONDS:-30}" \
        -max_len=65536 -artifact_prefix="$QINGLAN_BUILD/fuzz/" "$corpus" "${seeds[@]}" \
        >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "$fuzzer found a fault; the input is in $QINGLAN_BUILD/fuzz/" >&2
        exit 1
    fi
    echo "$fuzzer: $(grep -E '^Done [0-9]+ runs' "$log" || echo done)"
done

say "Windows build and tests under Wine"
build_windows
source "$QINGLAN_ROOT/scripts/wine-env.sh"
wine_env_init "$QINGLAN_BUILD/windows/wine-env"
trap 'wine_env_shutdown || true' EXIT
# The end-to-end test of the main job uses the address service of the native build.
export QINGLAN_SERVICE_EXE=$QINGLAN_BUILD/native/service/qinglan-service
# One at a time: the tests share one desktop, one clipboard and one keyboard.
ctest --test-dir "$QINGLAN_BUILD/windows" --output-on-failure
