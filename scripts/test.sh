#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   - the source format check,
#   - the lookup and the picture decoder natively, under AddressSanitizer and UBSan,
#   - the fuzz targets for a bounded time each (QINGLAN_FUZZ_SECONDS, default 30),
#   - the Windows program's tests under Wine on a virtual X display: the lookup against the
#     Windows HTTP component, the real windows in-process, and the real qinglan.exe driven from
#     outside with real input. Where the kernel runs no 32-bit programs, the 32-bit program is
#     still built and checked, and the Windows tests run on a 64-bit build (see wine-env.sh).
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

windows_arch=$(wine_windows_arch)
windows_build=$(windows_build_dir "$windows_arch")
if [ "$windows_arch" != i686 ]; then
    say "Building the 32-bit qinglan.exe, which is shipped"
    build_windows_for i686 qinglan
    check_windows_exe "$(windows_build_dir i686)/ui/qinglan.exe" i686
    echo "The Windows tests below run on the $windows_arch build of the same sources under the"
    echo "64-bit Wine: the kernel here runs no 32-bit programs (or QINGLAN_WINDOWS_ARCH says so)."
fi

say "Windows build ($windows_arch) and tests under Wine"
build_windows
check_windows_exe "$windows_build/ui/qinglan.exe" "$windows_arch"
wine_env_init "$windows_build/wine-env"
trap 'wine_env_shutdown || true' EXIT
# The end-to-end test of the main job uses the address service of the native build.
export QINGLAN_SERVICE_EXE=$QINGLAN_BUILD/native/service/qinglan-service
# One at a time: the tests share one desktop, one clipboard and one keyboard.
ctest --test-dir "$windows_build" --output-on-failure
