#!/usr/bin/env bash
# Builds a static libjpeg for MinGW-w64 from Debian's libjpeg-turbo source package and installs
# it under a cache folder, once. Later runs see the installed library and stop at once.
#
#   scripts/build-libjpeg-mingw.sh [ARCH]
#
# ARCH is i686 (the default, the program's own target) or x86_64 (the 64-bit test build). The
# library goes to ${QINGLAN_CACHE:-$HOME/.cache/qinglan}/libjpeg-mingw-ARCH. The machine's apt
# configuration is left as it is: the deb-src list, the package lists and apt's caches all live in
# a private temporary folder that is removed afterwards.
set -euo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=${1:-i686}
case "$arch" in
  i686 | x86_64) ;;
  *)
    echo "build-libjpeg-mingw: unknown architecture '$arch' (i686 or x86_64)" >&2
    exit 1
    ;;
esac
toolchain=$repo_dir/cmake/mingw-$arch.cmake
prefix=$(realpath -m "${QINGLAN_CACHE:-$HOME/.cache/qinglan}/libjpeg-mingw-$arch")

if [ -e "$prefix/lib/libjpeg.a" ]; then
  exit 0
fi

for tool in apt-get cmake make tar "$arch-w64-mingw32-gcc-posix"; do
  if ! command -v "$tool" >/dev/null; then
    echo "build-libjpeg-mingw: $tool is missing; run scripts/setup.sh first" >&2
    exit 1
  fi
done

work=$(mktemp -d)
log=$work/build.log
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

fail() {
  echo "build-libjpeg-mingw: $1 failed; its log:" >&2
  cat "$log" >&2
  exit 1
}

# Writes the machine's own Debian archives as deb-src entries, so the source comes from the same
# place as the installed packages.
write_source_list() {
  local out=$1
  if [ -r /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$out/debian.sources"
  elif [ -r /etc/apt/sources.list ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$out/debian.list"
  else
    echo "build-libjpeg-mingw: no Debian apt sources found on this machine" >&2
    exit 1
  fi
}

# Runs apt-get with the private source list, package lists and caches.
private_apt() {
  apt-get -q \
    -o Dir::Etc::SourceList=/dev/null \
    -o Dir::Etc::SourceParts="$work/sources" \
    -o Dir::State::Lists="$work/lists" \
    -o Dir::Cache="$work/cache" \
    -o Dir::Cache::Archives="$work/cache/archives" \
    "$@"
}

fetch_source() {
  mkdir -p "$work/sources" "$work/lists/partial" "$work/cache/archives/partial" "$work/download"
  # Run as root, apt downloads as the _apt user, which must be able to reach these folders.
  chmod 755 "$work"
  if [ "$(id -u)" = 0 ] && getent passwd _apt >/dev/null; then
    chown _apt "$work/lists/partial" "$work/cache/archives/partial" "$work/download"
  fi
  write_source_list "$work/sources"
  private_apt update >>"$log" 2>&1 || fail "apt-get update"
  (cd "$work/download" && private_apt source --download-only libjpeg-turbo) >>"$log" 2>&1 ||
    fail "apt-get source"
}

unpack_source() {
  local tarballs=("$work"/download/libjpeg-turbo_*.orig.tar.gz)
  if [ ! -e "${tarballs[0]}" ]; then
    echo "build-libjpeg-mingw: no libjpeg-turbo orig tarball was downloaded" >&2
    cat "$log" >&2
    exit 1
  fi
  mkdir -p "$work/src"
  tar -xzf "${tarballs[0]}" -C "$work/src" --strip-components=1 >>"$log" 2>&1 || fail "unpacking"
}

# SIMD would need nasm, and TurboJPEG is not used. The files are installed into a staging folder
# beside the prefix and then renamed into place, so an interrupted run never leaves a prefix that
# has libjpeg.a but lacks the headers.
build_and_install() {
  local staging=$prefix.partial
  cmake -S "$work/src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF >>"$log" 2>&1 || fail "configuring"
  cmake --build "$work/build" -j 2 >>"$log" 2>&1 || fail "building"
  rm -rf "$staging"
  DESTDIR=$work/stage cmake --install "$work/build" >>"$log" 2>&1 || fail "installing"
  mkdir -p "$(dirname "$prefix")"
  mv "$work/stage$prefix" "$staging"
  rm -rf "$prefix"
  mv "$staging" "$prefix"
}

echo "build-libjpeg-mingw: building libjpeg into $prefix"
fetch_source
unpack_source
build_and_install
