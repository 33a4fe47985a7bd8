#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Usage: scripts/setup.sh [--windows]   (--windows adds the MinGW/Wine tier)
# As root it installs with apt-get; otherwise it names what is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
          libbenchmark-dev libcli11-dev nlohmann-json3-dev libjpeg-turbo-progs
          imagemagick sox libxml2-utils ghostscript zip gcab help2man dpkg-dev
          libimage-exiftool-perl libjpeg62-turbo-dev libspng-dev libgif-dev libzip-dev
          zlib1g-dev pkg-config libssl-dev ffmpeg flac vorbis-tools opus-tools lame
          libavformat-dev libavcodec-dev libavutil-dev libbz2-dev liblzma-dev libzstd-dev
          liblz4-dev bzip2 xz-utils zstd lz4 libarchive-dev libsqlite3-dev sqlite3 7zip cpio
          genisoimage libtiff-dev libtiff-tools p7zip-full xorriso libgsf-bin msitools binutils
          gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 osslsigncode openssl enscript groff-base gzip tar pigz
          pbzip2 lbzip2 icoutils netpbm chromium
          libxml2-dev
          libflac-dev
          libtsk-dev libewf-dev ewf-tools qemu-utils
          dosfstools mtools e2fsprogs ntfs-3g fdisk python3
          gdb
          )
# Installed without the packages they recommend (which are large and not needed).
lean_packages=(gimp)
windows_packages=(g++-mingw-w64-i686)
wine_packages=(wine wine32:i386)
if [ "$(dpkg --print-architecture)" = amd64 ]; then packages+=(libhyperscan-dev); else packages+=(libvectorscan-dev); fi

want_windows=0
[ "${1:-}" = "--windows" ] && want_windows=1

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# A mirror in the middle of a sync may fail one index of many; what counts
# is whether the packages then install.
update() { apt-get update -qq || echo "setup: apt-get update reported errors; trying the install anyway" >&2; }

install() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (run as root to install): $*" >&2
    return 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

need=$(missing "${packages[@]}")
lean=$(missing "${lean_packages[@]}")
if [ -n "$need$lean" ]; then
  [ "$(id -u)" -eq 0 ] && update
  # shellcheck disable=SC2086
  [ -z "$need" ] || install $need
  # shellcheck disable=SC2086
  [ -z "$lean" ] || install --no-install-recommends $lean
fi

# The Windows tier needs the cross compiler (exit 3 without it); Wine, which
# runs its tests, may be missing or unusable, and the tier then checks the
# DLLs without running them.
if [ "$want_windows" = 1 ]; then
  need=$(missing "${windows_packages[@]}")
  if [ -n "$need" ]; then
    [ "$(id -u)" -eq 0 ] && update
    # shellcheck disable=SC2086
    install $need || exit 3
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    [ "$(id -u)" -eq 0 ] && dpkg --add-architecture i386 && update
  fi
  need=$(missing "${wine_packages[@]}")
  if [ -n "$need" ]; then
    [ "$(id -u)" -eq 0 ] && update
    # shellcheck disable=SC2086
    install $need || echo "setup: Wine cannot be installed here; the Windows tests will not run" >&2
  fi
fi
