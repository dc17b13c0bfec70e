# Shared by the project's scripts: where things are, and how the two builds are configured.
# Source it; it defines variables and functions only.

QINGLAN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QINGLAN_BUILD=${QINGLAN_BUILD:-$QINGLAN_ROOT/build}
QINGLAN_JPEG_MINGW=${QINGLAN_CACHE:-$HOME/.cache/qinglan}/libjpeg-mingw-i686

say() { printf '\n== %s\n' "$*"; }

# The Windows program and its tests, cross-compiled; the libjpeg built by build-libjpeg-mingw.sh.
# Arguments name the targets to build (default: all of them).
build_windows() {
    cmake -S "$QINGLAN_ROOT" -B "$QINGLAN_BUILD/windows" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$QINGLAN_ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DJPEG_INCLUDE_DIR="$QINGLAN_JPEG_MINGW/include" \
        -DJPEG_LIBRARY="$QINGLAN_JPEG_MINGW/lib/libjpeg.a" \
        >"$QINGLAN_BUILD/windows-configure.log" 2>&1 ||
        { cat "$QINGLAN_BUILD/windows-configure.log"; return 1; }
    cmake --build "$QINGLAN_BUILD/windows" ${1:+--target "$@"}
}

# The window-free lookup and the picture decoder, natively, with AddressSanitizer and UBSan.
build_native() {
    cmake -S "$QINGLAN_ROOT" -B "$QINGLAN_BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DQINGLAN_SANITIZE=ON "$@" >"$QINGLAN_BUILD/native-configure.log" 2>&1 ||
        { cat "$QINGLAN_BUILD/native-configure.log"; return 1; }
    cmake --build "$QINGLAN_BUILD/native"
}

# The address service as it is run, optimised and without tests.
build_service() {
    cmake -S "$QINGLAN_ROOT" -B "$QINGLAN_BUILD/service" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQINGLAN_TESTS=OFF >"$QINGLAN_BUILD/service-configure.log" 2>&1 ||
        { cat "$QINGLAN_BUILD/service-configure.log"; return 1; }
    cmake --build "$QINGLAN_BUILD/service" --target qinglan-service
}
QINGLAN_SERVICE_EXE=$QINGLAN_BUILD/service/service/qinglan-service

# The libFuzzer targets, with clang.
build_fuzz() {
    CC=clang CXX=clang++ cmake -S "$QINGLAN_ROOT" -B "$QINGLAN_BUILD/fuzz" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQINGLAN_FUZZ=ON -DQINGLAN_TESTS=OFF \
        -DQINGLAN_SERVICE=OFF \
        >"$QINGLAN_BUILD/fuzz-configure.log" 2>&1 ||
        { cat "$QINGLAN_BUILD/fuzz-configure.log"; return 1; }
    cmake --build "$QINGLAN_BUILD/fuzz"
}
