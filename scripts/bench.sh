#!/usr/bin/env bash
# Measures how fast and how small the tool is, with figures that anyone can rerun:
#   - the extraction, natively with Google Benchmark: result pages of 64 KiB, 1 MiB and 16 MiB
#     with 10, 1,000 and 100,000 anchors, beside a memmem and a memchr pass over the same bytes;
#   - qinglan.exe's size and the DLLs it imports;
#   - under Wine: filling the real list view with 10,000 rows through the address list against
#     the list-view messages themselves, and the paints it causes;
#   - under Wine: the time from start to the main window shown, against a minimal program that
#     opens one window.
# Not part of scripts/test.sh. Run it on a quiet machine: the figures are timings.
#
#   scripts/bench.sh            everything; a copy of the report goes to build/bench-report.txt
#
# QINGLAN_BENCH_REPETITIONS (default 5) sets how often each extraction benchmark is repeated,
# QINGLAN_BENCH_STARTS (default 25) how often each program is started.
set -euo pipefail
source "$(dirname "$0")/common.sh"

repetitions=${QINGLAN_BENCH_REPETITIONS:-5}
starts=${QINGLAN_BENCH_STARTS:-25}
native=$QINGLAN_BUILD/bench-native
report=$QINGLAN_BUILD/bench-report.txt

"$QINGLAN_ROOT/scripts/setup.sh"
if ! dpkg-query -W -f='${Status}\n' libbenchmark-dev 2>/dev/null | grep -q '^install ok installed$'; then
    echo "bench: installing libbenchmark-dev"
    if [ "$(id -u)" = 0 ]; then as_root=(); else as_root=(sudo); fi
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends libbenchmark-dev >/dev/null
fi
# qinglan.exe is measured as it is shipped, 32-bit; where the kernel runs no 32-bit programs,
# the Wine figures are those of the 64-bit build of the same sources, and the report says so.
arch=$(wine_windows_arch)
windows=$QINGLAN_BUILD/bench-windows-$arch
mkdir -p "$QINGLAN_BUILD"

say "Building (native Release; Windows Release, as scripts/test.sh builds qinglan.exe)"
cmake -S "$QINGLAN_ROOT" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQINGLAN_TESTS=OFF \
    -DQINGLAN_BENCH=ON >"$native-configure.log" 2>&1 || { cat "$native-configure.log"; exit 1; }
cmake --build "$native" --target extraction_bench
configure_windows "$arch" "$windows" -DQINGLAN_TESTS=OFF -DQINGLAN_BENCH=ON
cmake --build "$windows" --target qinglan list_view_bench minimal_window start_time_bench

exe=$windows/ui/qinglan.exe
minimal=$windows/bench/minimal_window.exe
{
    echo "Qinglan benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$QINGLAN_ROOT" \
        rev-parse --short HEAD 2>/dev/null || echo unknown)"
    echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | xargs)," \
        "load average $(cut -d' ' -f1-3 /proc/loadavg)"
    if [ "$arch" != i686 ]; then
        echo "Windows figures: $arch build under the 64-bit Wine (this kernel runs no 32-bit programs)"
    fi
} | tee "$report"

say "Extraction (Google Benchmark, native Release build)" | tee -a "$report"
"$native/bench/extraction_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
    --benchmark_color=false 2>&1 | tee -a "$report"

say "qinglan.exe: size and imports" | tee -a "$report"
{
    printf '  size: %s bytes (%s)\n' "$(stat -c %s "$exe")" "$(du -h --apparent-size "$exe" | cut -f1)"
    printf '  minimal window program: %s bytes\n' "$(stat -c %s "$minimal")"
    if check_windows_exe "$exe" "$arch" 2>&1 | sed 's/^/  /'; then
        echo "  Goal: only system DLLs: met."
    else
        echo "  Goal: only system DLLs: MISSED"
    fi
} | tee -a "$report"

wine_env_init "$windows/wine-env"
trap 'wine_env_shutdown || true' EXIT

# Wine programs write to files, never to a pipe (see wine-env.sh).
say "List view under Wine" | tee -a "$report"
wine "$windows/bench/list_view_bench.exe" >"$windows/list_view_bench.log" 2>&1 </dev/null ||
    echo "list_view_bench failed" >>"$windows/list_view_bench.log"
tee -a "$report" <"$windows/list_view_bench.log"

say "Start-up under Wine" | tee -a "$report"
wine "$windows/bench/start_time_bench.exe" "Z:$exe" "Z:$minimal" "$starts" \
    >"$windows/start_time_bench.log" 2>&1 </dev/null ||
    echo "start_time_bench failed" >>"$windows/start_time_bench.log"
tee -a "$report" <"$windows/start_time_bench.log"

echo
echo "Report: $report"
