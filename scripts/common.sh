# Shared by the project's scripts: where things are, and how the two builds are configured.
# Source it; it defines variables and functions only.

QINGLAN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QINGLAN_BUILD=${QINGLAN_BUILD:-$QINGLAN_ROOT/build}

say() { printf '\n== %s\n' "$*"; }

source "$QINGLAN_ROOT/scripts/wine-env.sh"

# Where the Windows build for an architecture (i686, the program's own target, or x86_64, the
# test build for machines that run only the 64-bit Wine) lives; default: the one Wine runs here.
windows_build_dir() {
    local arch=${1:-$(wine_windows_arch)}
    if [ "$arch" = i686 ]; then
        echo "$QINGLAN_BUILD/windows"
    else
        echo "$QINGLAN_BUILD/windows-$arch"
    fi
}

# Configures the Windows build for <arch> (i686 or x86_64) in <dir>, with the libjpeg that
# build-libjpeg-mingw.sh builds for it; further arguments go to CMake.
configure_windows() {
    local arch=$1 dir=$2
    shift 2
    local jpeg=${QINGLAN_CACHE:-$HOME/.cache/qinglan}/libjpeg-mingw-$arch
    "$QINGLAN_ROOT/scripts/build-libjpeg-mingw.sh" "$arch" || return 1
    mkdir -p "$dir"
    cmake -S "$QINGLAN_ROOT" -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$QINGLAN_ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DJPEG_INCLUDE_DIR="$jpeg/include" \
        -DJPEG_LIBRARY="$jpeg/lib/libjpeg.a" \
        "$@" >"$dir-configure.log" 2>&1 ||
        { cat "$dir-configure.log"; return 1; }
}

# The Windows program and its tests, cross-compiled for <arch>. Further arguments name the
# targets to build (default: all of them).
build_windows_for() {
    local arch=$1 dir
    shift
    dir=$(windows_build_dir "$arch")
    configure_windows "$arch" "$dir" && cmake --build "$dir" ${1:+--target "$@"}
}

# The same for the architecture that Wine runs here.
build_windows() {
    build_windows_for "$(wine_windows_arch)" "$@"
}

# The DLLs that every Windows installation has; anything else would have to be shipped.
QINGLAN_SYSTEM_DLLS='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|ole32|oleaut32|advapi32|msvcrt|ws2_32|shlwapi|uuid|version|winmm|imm32)\.dll$'

# Fails unless <exe> is a Windows GUI program for <arch> that imports only system DLLs.
check_windows_exe() {
    local exe=$1 arch=$2 format headers imports others
    case "$arch" in
        i686) format=pei-i386 ;;
        *) format=pei-x86-64 ;;
    esac
    headers=$("$arch-w64-mingw32-objdump" -p "$exe") || return 1
    if ! grep -q "file format $format" <<<"$headers"; then
        echo "$exe: not a $arch program" >&2
        return 1
    fi
    if ! grep -Eq '^Subsystem.*\(Windows GUI\)' <<<"$headers"; then
        echo "$exe: not a GUI program" >&2
        return 1
    fi
    imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
    others=$(tr 'A-Z' 'a-z' <<<"$imports" | grep -Ev "$QINGLAN_SYSTEM_DLLS" || true)
    if [ -n "$others" ]; then
        echo "$exe: imports DLLs that are not the system's: $others" >&2
        return 1
    fi
    echo "$exe: $arch GUI program, $(stat -c %s "$exe") bytes, imports only system DLLs:" \
        $imports
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
