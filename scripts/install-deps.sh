#!/bin/sh
# Installs every Debian package that the build, the tests, the tools and the
# benchmarks need. Non-interactive and idempotent: packages already present
# are left alone and apt is not even asked.
set -eu

PACKAGES="
  build-essential cmake pkg-config git ca-certificates
  clang libclang-rt-14-dev clang-format
  libsrt-gnutls-dev srt-tools
  nlohmann-json3-dev
  libglew-dev libgl-dev libegl-dev libegl-mesa0 libgl1-mesa-dri
  libavcodec-dev libavutil-dev libavformat-dev libswscale-dev ffmpeg
  libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  liblo-tools
  iproute2 nftables util-linux
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
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
