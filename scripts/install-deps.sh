#!/bin/sh
# Installs the Debian packages that a build needs. Non-interactive and
# idempotent: packages already present are left alone and apt is not even asked.
#
#   scripts/install-deps.sh            the Linux build, tests, tools and benchmarks, and
#                                      gnuplot (without X) for the soak's chart
#   scripts/install-deps.sh --windows  cross-building the Windows DLL and its
#                                      dependencies (scripts/build-windows.sh)
#   scripts/install-deps.sh --wine     running Windows programs under Wine: the
#                                      Windows demo and tests (WGL through Xvfb,
#                                      Media Foundation through GStreamer)
#   scripts/install-deps.sh --package  making and checking the release archives
#                                      (scripts/package.sh)
set -eu

LINUX_PACKAGES="
  build-essential cmake pkg-config git ca-certificates
  clang libclang-rt-14-dev clang-format
  libsrt-gnutls-dev srt-tools
  nlohmann-json3-dev
  libglew-dev libgl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
  libavcodec-dev libavutil-dev libavformat-dev libswscale-dev ffmpeg
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-ugly
  libzimg-dev
  libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  liblo-tools
  iproute2 nftables util-linux
  gnuplot-nox
"

# mingw-w64 with the posix thread model; dpkg-dev unpacks the Debian source
# packages that the Windows dependencies are built from; googletest and
# nlohmann-json3-dev provide the sources and headers used as they are.
WINDOWS_PACKAGES="
  cmake make ca-certificates
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  dpkg-dev
  googletest nlohmann-json3-dev
"

# 64-bit Wine only (every Windows program here is x64); Xvfb for WGL, which
# Mesa's llvmpipe provides; GStreamer's decoders behind Wine's Media Foundation.
WINE_PACKAGES="
  wine wine64 xvfb
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav
"

PACKAGE_PACKAGES="
  zip unzip
"

PACKAGES=""
if [ $# -eq 0 ]; then set -- --linux; fi
for set_name in "$@"; do
  case "$set_name" in
    --linux) PACKAGES="$PACKAGES $LINUX_PACKAGES" ;;
    --windows) PACKAGES="$PACKAGES $WINDOWS_PACKAGES" ;;
    --wine) PACKAGES="$PACKAGES $WINE_PACKAGES" ;;
    --package) PACKAGES="$PACKAGES $PACKAGE_PACKAGES" ;;
    *) echo "usage: scripts/install-deps.sh [--linux] [--windows] [--wine] [--package]" >&2; exit 2 ;;
  esac
done

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    case " $missing " in *" $p "*) ;; *) missing="$missing $p" ;; esac
  fi
done

if [ -z "$missing" ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
echo "install-deps: done"
