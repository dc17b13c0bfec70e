#!/usr/bin/env bash
# Installs what building and testing Qinglan needs on Debian 12, and nothing that is already
# there. Safe to run again: it only acts on what is missing.
#
#   scripts/setup.sh            native build and tests, the Windows cross build, Wine
set -euo pipefail

native_packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev googletest libcurl4-openssl-dev libjpeg62-turbo-dev libcpp-httplib-dev
  clang-format nlohmann-json3-dev yt-dlp curl libbenchmark-dev
)
windows_packages=(
  g++-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 fonts-wine xvfb xdotool x11-utils locales fonts-wqy-microhei
  imagemagick qrencode libjpeg-turbo-progs python3
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
      printf '%s\n' "$pkg"
  done
}

install_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Wine runs the 32-bit program, which needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  as_root apt-get update -qq
fi

install_packages "${native_packages[@]}" "${windows_packages[@]}"

# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives code page 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  as_root sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

# Where the 32-bit Wine cannot start, the Windows tests run on a 64-bit build of the same
# sources under the 64-bit Wine (wine_windows_arch in wine-env.sh), which needs these as well.
source "$(dirname "$0")/wine-env.sh"
if ! wine_runs_32bit; then
  install_packages wine64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
fi
