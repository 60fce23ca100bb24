#!/bin/sh
# The release a VJ downloads. Builds the Windows DLL (scripts/build-windows.sh) and the
# Linux plug-in, and leaves in dist/:
#   MirandelLink-<major>.<minor>-windows-x64.zip      the DLL, the guide, the notices
#   MirandelLink-<major>.<minor>-linux-x86_64.tar.gz  the .so, the guide, the notices
#   SHA256SUMS
# Each archive holds one folder, MirandelLink-<major>.<minor>, with GUIDE.txt (GUIDE.md as
# it stands) and THIRD-PARTY-NOTICES.txt: the licence of every library linked in, with the
# Debian source version the build used; the Linux one names the libraries loaded at run time.
# The version is the information record's (plugin/Version.h). The archives are reproducible:
# their files carry the time of the last commit, in a fixed order and owner.
#
#   scripts/package.sh [--no-build] [--linux-build DIR] [--windows-build DIR] [--out DIR]
#
# --no-build takes the plug-ins as built in DIR (by default build/package-linux and
# build/windows); scripts/check-package.sh checks what this leaves.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
LINUX_BUILD=$ROOT/build/package-linux
WINDOWS_BUILD=$ROOT/build/windows
OUT=$ROOT/dist
BUILD=1
JOBS=${JOBS:-$(nproc)}

say() { echo "package: $*"; }
die() {
  echo "package: error: $*" >&2
  exit 1
}
usage() {
  echo "usage: scripts/package.sh [--no-build] [--linux-build DIR] [--windows-build DIR] [--out DIR]" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) BUILD=0 ;;
    --linux-build) [ $# -ge 2 ] || usage; LINUX_BUILD=$(realpath -m "$2"); shift ;;
    --windows-build) [ $# -ge 2 ] || usage; WINDOWS_BUILD=$(realpath -m "$2"); shift ;;
    --out) [ $# -ge 2 ] || usage; OUT=$(realpath -m "$2"); shift ;;
    *) usage ;;
  esac
  shift
done

version_part() { sed -n "s/^#define MIRANDEL_VERSION_$1 \([0-9][0-9]*\)$/\1/p" plugin/Version.h; }
VERSION=$(version_part MAJOR).$(version_part MINOR)
case "$VERSION" in [0-9]*.[0-9]*) ;; *) die "no version in plugin/Version.h" ;; esac
NAME=MirandelLink-$VERSION

scripts/install-deps.sh --linux --package
if [ "$BUILD" = 1 ]; then
  say "Linux plug-in in $LINUX_BUILD"
  cmake -S "$ROOT" -B "$LINUX_BUILD" -DCMAKE_BUILD_TYPE=Release -DMIRANDEL_WERROR=ON \
    -DMIRANDEL_BUILD_TESTS=OFF -DMIRANDEL_BUILD_TOOLS=OFF -DMIRANDEL_BUILD_BENCH=OFF \
    >"$LINUX_BUILD.configure.log" 2>&1 || { tail -20 "$LINUX_BUILD.configure.log" >&2; die "configuring failed"; }
  cmake --build "$LINUX_BUILD" -j "$JOBS" --target MirandelLink >"$LINUX_BUILD.build.log" 2>&1 ||
    { tail -30 "$LINUX_BUILD.build.log" >&2; die "building the Linux plug-in failed"; }
  say "Windows plug-in in $WINDOWS_BUILD"
  [ "$WINDOWS_BUILD" = "$ROOT/build/windows" ] ||
    die "scripts/build-windows.sh builds into build/windows only; use --no-build for another folder"
  TARGETS=MirandelLink scripts/build-windows.sh
fi
SO=$LINUX_BUILD/MirandelLink.so
DLL=$WINDOWS_BUILD/MirandelLink.dll
DEPS=$WINDOWS_BUILD/deps
[ -f "$SO" ] || die "no $SO"
[ -f "$DLL" ] || die "no $DLL"
for lib in srt glew; do
  [ -f "$DEPS/share/licenses/$lib/copyright" ] ||
    die "no licence of $lib in $DEPS/share/licenses (run scripts/windows-deps.sh)"
done

# The version of an installed Debian package, and its source package's name and version.
installed() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || die "package $1 is not installed"; }
source_of() { dpkg-query -W -f='${source:Package} ${source:Version}' "$1"; }

# section TITLE: a heading between rules, as plain text reads it best.
section() {
  printf '\n%s\n%s\n%s\n\n' "================================================================================" \
    "$1" "================================================================================"
}

json_notice() {
  section "nlohmann JSON $(installed nlohmann-json3-dev) (Debian source package $(source_of nlohmann-json3-dev)), MIT licence"
  echo "Compiled in from its headers; reads the phone's description of its effects."
  echo
  cat /usr/share/doc/nlohmann-json3-dev/copyright
}

windows_notices() {
  cat <<EOF
Mirandel Link $VERSION for Windows x64: third-party notices

MirandelLink.dll contains the following libraries, linked in statically and
unchanged. Each is given with the Debian source package it was built from and
the licence texts that package carries. The source of each is available from
Debian under that name and version.
EOF
  srt_version=$(cat "$DEPS/share/licenses/srt/version")
  section "SRT, Secure Reliable Transport (Debian source package srt $srt_version), Mozilla Public License 2.0"
  echo "Built without encryption; carries the picture from the phone. Its source code is"
  echo "available as Debian's source package srt $srt_version, and from the SRT project."
  echo
  if [ -f "$DEPS/share/licenses/srt/LICENSE" ]; then cat "$DEPS/share/licenses/srt/LICENSE"; else cat /usr/share/common-licenses/MPL-2.0; fi
  echo
  cat "$DEPS/share/licenses/srt/copyright"
  glew_version=$(cat "$DEPS/share/licenses/glew/version")
  section "GLEW, the OpenGL Extension Wrangler (Debian source package glew $glew_version), Modified BSD, Mesa and Khronos (MIT) licences"
  if [ -f "$DEPS/share/licenses/glew/LICENSE.txt" ]; then cat "$DEPS/share/licenses/glew/LICENSE.txt"; echo; fi
  cat "$DEPS/share/licenses/glew/copyright"
  json_notice
  section "mingw-w64 runtime $(installed mingw-w64-x86-64-dev) (Debian source package $(source_of mingw-w64-x86-64-dev)): C runtime start-up code and winpthreads"
  echo "The start-up code and the POSIX threads library (winpthreads) of the mingw-w64"
  echo "toolchain are linked in. Their licences, as Debian gives them:"
  echo
  cat /usr/share/doc/mingw-w64-x86-64-dev/copyright
  gcc_version=$(installed gcc-mingw-w64-x86-64-posix-runtime)
  section "GCC runtime libraries $gcc_version (Debian source package $(source_of gcc-mingw-w64-x86-64-posix-runtime)): libstdc++ and libgcc"
  echo "The C++ standard library and the compiler's support library are linked in under the"
  echo "GNU General Public License version 3 with the GCC Runtime Library Exception 3.1,"
  echo "which allows them in a program under any licence. The exception, then the licence:"
  echo
  awk '/^GCC RUNTIME LIBRARY EXCEPTION/ { on = 1 } on { print } on && /requirements of the license of GCC\./ { exit }' \
    /usr/share/doc/gcc-mingw-w64-base/copyright
  echo
  cat /usr/share/common-licenses/GPL-3
}

linux_notices() {
  cat <<EOF
Mirandel Link $VERSION for Linux x86_64: third-party notices

MirandelLink.so loads these libraries of the system at run time; they are not
part of this archive, and each comes with its own licence in the system's
/usr/share/doc/PACKAGE/copyright. The versions are those this build was made
against, on Debian 12:
EOF
  echo
  for p in libavcodec59 libavutil57 libsrt1.5-gnutls libglew2.2; do
    if dpkg-query -W "$p" >/dev/null 2>&1; then
      printf '  %-18s %-22s from Debian source package %s\n' "$p" "$(installed "$p")" "$(source_of "$p")"
    fi
  done
  cat <<EOF

  libavcodec, libavutil  FFmpeg's libraries, which decode the picture (LGPL 2.1 or later;
                         Debian builds them with GPL parts, GPL 2 or later)
  libsrt                 SRT, which carries the picture (Mozilla Public License 2.0)
  libglew                GLEW, which loads OpenGL (Modified BSD, Mesa and Khronos licences)

It contains this library, compiled in:
EOF
  json_notice
}

rm -rf "$OUT"
mkdir -p "$OUT/stage"
# The time of the last commit (or of the version header outside git), for every file.
EPOCH=$(git log -1 --format=%ct 2>/dev/null || stat -c %Y plugin/Version.h)
stage() {
  dir=$OUT/stage/$1/$NAME
  mkdir -p "$dir"
  cp "$2" "$dir/"
  cp GUIDE.md "$dir/GUIDE.txt"
  if [ -f LICENSE ]; then cp LICENSE "$dir/LICENSE.txt"; fi
  "$3" >"$dir/THIRD-PARTY-NOTICES.txt"
  find "$OUT/stage/$1" -exec touch -h -d "@$EPOCH" {} +
}
stage windows "$DLL" windows_notices
stage linux "$SO" linux_notices

WINDOWS_ZIP=$NAME-windows-x64.zip
LINUX_TAR=$NAME-linux-x86_64.tar.gz
(cd "$OUT/stage/windows" && find "$NAME" | LC_ALL=C sort | TZ=UTC zip -q -X -D -@ "$OUT/$WINDOWS_ZIP")
(cd "$OUT/stage/linux" &&
  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$EPOCH" -cf - "$NAME" | gzip -n -9 >"$OUT/$LINUX_TAR")
rm -rf "$OUT/stage"
(cd "$OUT" && sha256sum "$WINDOWS_ZIP" "$LINUX_TAR" >SHA256SUMS)

say "in $OUT:"
(cd "$OUT" && for f in "$WINDOWS_ZIP" "$LINUX_TAR" SHA256SUMS; do
  printf '  %-45s %8s bytes\n' "$f" "$(stat -c %s "$f")"
done)
