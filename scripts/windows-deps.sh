#!/bin/sh
# Builds the Windows x64 dependencies of the plug-in from Debian's own sources
# into one prefix (default build/windows/deps; never committed):
#
#   SRT        static, without encryption, from Debian's srt source package
#   GLEW       static (GLEW_STATIC), from Debian's glew source package
#   JSON       nlohmann JSON's own include folder, from nlohmann-json3-dev
#   GoogleTest gtest and gmock, from Debian's googletest package (/usr/src)
#   zlib       static, from Debian's zlib source package  } the headless host's
#   libpng     static, from Debian's libpng1.6 source     } PNG snapshots
#
# Each dependency is built once: a stamp under <prefix>/stamps records what
# was built (source version, recipe, compiler), and a dependency is rebuilt
# only when that changes. Fetching sources needs deb-src entries for Debian's
# archive; when none are configured, this adds them in a file of its own
# (/etc/apt/sources.list.d/mirandel-deb-src.sources) and updates apt.
#
#   scripts/windows-deps.sh [PREFIX]
#
# Expects the packages of `scripts/install-deps.sh --windows`. Needs root (or
# sudo) only when deb-src entries must be added.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
PREFIX=${1:-${MIRANDEL_WINDOWS_DEPS:-$ROOT/build/windows/deps}}
mkdir -p "$PREFIX"
PREFIX=$(cd "$PREFIX" && pwd)
WORK=$PREFIX/work
STAMPS=$PREFIX/stamps
JOBS=${JOBS:-$(nproc)}

# Source versions to build, most wanted first: the archive stops serving a
# source when a newer revision replaces it, so an older one is the fallback.
SRT_VERSIONS="1.5.1-1+deb12u2 1.5.1-1+deb12u1 1.5.1-1"
GLEW_VERSIONS="2.2.0-4"
ZLIB_VERSIONS="1:1.2.13.dfsg-1+deb12u1 1:1.2.13.dfsg-1"
PNG_VERSIONS="1.6.39-2+deb12u6 1.6.39-2+deb12u5 1.6.39-2+deb12u4 1.6.39-2"

# Bump when a recipe below changes, so existing builds are redone.
RECIPE=1

say() { echo "windows-deps: $*"; }
die() {
  echo "windows-deps: error: $*" >&2
  exit 1
}

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix cmake make dpkg-source; do
  command -v "$tool" >/dev/null 2>&1 ||
    die "$tool not found; run scripts/install-deps.sh --windows first"
done

package_version() {
  dpkg-query -W -f='${Version}' "$1" 2>/dev/null || die "package $1 is not installed"
}
COMPILER=$(package_version g++-mingw-w64-x86-64-posix)

# stamp_ok NAME KEY FILE: true when NAME was built with exactly KEY and its
# FILE (relative to the prefix) is still there.
stamp_ok() {
  [ -f "$STAMPS/$1" ] && [ "$(cat "$STAMPS/$1")" = "$2" ] && [ -f "$PREFIX/$3" ]
}
stamp_write() {
  mkdir -p "$STAMPS"
  printf '%s\n' "$2" >"$STAMPS/$1"
}

# Adds deb-src entries mirroring the deb entries of Debian's own archive (URIs
# naming debian), each in the format it came in: deb822 paragraphs into
# mirandel-deb-src.sources, one-line entries into mirandel-deb-src.list.
has_sources() { [ -n "$(apt-cache showsrc srt 2>/dev/null | grep '^Version:' || true)" ]; }
ensure_deb_src() {
  if has_sources; then return; fi
  d=/etc/apt/sources.list.d
  if [ ! -f $d/mirandel-deb-src.sources ] && [ ! -f $d/mirandel-deb-src.list ]; then
    say "adding deb-src entries for Debian's archive ($d/mirandel-deb-src.*)"
    tmp=$(mktemp -d)
    for f in "$d"/*.sources; do
      [ -f "$f" ] || continue
      # One paragraph per entry; keep those of type deb with a Debian URI.
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
        /(^|\n)Types:[^\n]*[ \t]deb([ \t]|\n|$)/ && /(^|\n)URIs:[^\n]*debian/ {
          sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f" >>"$tmp/sources"
    done
    for f in /etc/apt/sources.list "$d"/*.list; do
      [ -f "$f" ] || continue
      awk '$1 == "deb" && /debian/ { $1 = "deb-src"; print }' "$f" >>"$tmp/list"
    done
    [ -s "$tmp/sources" ] || [ -s "$tmp/list" ] ||
      die "no entry of Debian's archive found in /etc/apt to derive deb-src entries from"
    if [ -s "$tmp/sources" ]; then $SUDO install -m 644 "$tmp/sources" $d/mirandel-deb-src.sources; fi
    if [ -s "$tmp/list" ]; then $SUDO install -m 644 "$tmp/list" $d/mirandel-deb-src.list; fi
    rm -rf "$tmp"
  fi
  say "updating apt's package lists"
  $SUDO apt-get update -qq || die "apt-get update failed"
  has_sources || die "apt knows no source of srt even with deb-src entries ($d/mirandel-deb-src.*)"
}

# fetch_source PACKAGE "VERSIONS": unpacks the first of VERSIONS that the
# archive both lists and serves into $WORK/PACKAGE-src and sets FETCHED to it.
fetch_source() {
  pkg=$1
  ensure_deb_src
  listed=$(apt-cache showsrc "$pkg" | awk '/^Version:/ { print $2 }')
  FETCHED=""
  rm -rf "$WORK/$pkg-download" "$WORK/$pkg-src"
  mkdir -p "$WORK/$pkg-download"
  for v in $2; do
    if ! printf '%s\n' "$listed" | grep -qxF "$v"; then
      say "$pkg $v: not listed by apt, trying the next version"
      continue
    fi
    say "$pkg $v: downloading the source package"
    if (cd "$WORK/$pkg-download" && apt-get source -qq --download-only "$pkg=$v" >download.log 2>&1); then
      FETCHED=$v
      break
    fi
    say "$pkg $v: listed but not served, trying the next version:"
    grep -m1 '^E:' "$WORK/$pkg-download/download.log" | sed 's/^/  /' || true
    rm -f "$WORK/$pkg-download"/*
  done
  [ -n "$FETCHED" ] || die "none of the $pkg source versions [$2] could be downloaded (apt lists: $(printf '%s\n' "$listed" | tr '\n' ' '))"
  dsc=$(ls "$WORK/$pkg-download"/*.dsc)
  dpkg-source -x "$dsc" "$WORK/$pkg-src" >"$WORK/$pkg-download/unpack.log" 2>&1 ||
    die "unpacking $dsc failed (see $WORK/$pkg-download/unpack.log)"
}

# cmake_install NAME SOURCE [cmake options]: configures SOURCE for Windows,
# builds it and installs it into the prefix; the logs stay in $WORK/NAME-build.
cmake_install() {
  name=$1 src=$2
  shift 2
  dir=$WORK/$name-build
  rm -rf "$dir"
  mkdir -p "$dir"
  cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DMIRANDEL_WINDOWS_DEPS="$PREFIX" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" "$@" >"$dir/configure.log" 2>&1 ||
    { tail -30 "$dir/configure.log" >&2; die "configuring $name failed (log: $dir/configure.log)"; }
  cmake --build "$dir" -j "$JOBS" >"$dir/build.log" 2>&1 ||
    { grep -E 'error|Error' "$dir/build.log" | head -30 >&2; die "building $name failed (log: $dir/build.log)"; }
  cmake --install "$dir" >"$dir/install.log" 2>&1 ||
    { tail -30 "$dir/install.log" >&2; die "installing $name failed (log: $dir/install.log)"; }
}

# c_archive LIB DIR "SOURCES" [CFLAGS...]: compiles the C files SOURCES of DIR
# and archives them as $PREFIX/lib/LIB; the objects stay in $WORK/LIB-objects.
c_archive() {
  lib=$1 dir=$2 sources=$3
  shift 3
  objects=$WORK/$lib-objects
  rm -rf "$objects"
  mkdir -p "$objects" "$PREFIX/lib"
  for c in $sources; do
    x86_64-w64-mingw32-gcc-posix -O2 "$@" -c "$dir/$c" -o "$objects/${c%.c}.o" ||
      die "compiling $c for $lib failed"
  done
  rm -f "$PREFIX/lib/$lib"
  x86_64-w64-mingw32-ar rcs "$PREFIX/lib/$lib" "$objects"/*.o
}

elapsed() { echo "$(($(date +%s) - $1)) s"; }

# fetched_dependency NAME LABEL PACKAGE "VERSIONS" KEY FILE RECIPE: unless NAME's stamp
# records KEY and FILE (relative to the prefix) is still there, unpacks the first of
# VERSIONS of PACKAGE's source that the archive serves, runs RECIPE with that source folder,
# and stamps NAME with KEY and the version built (NAME.version).
fetched_dependency() {
  dep_name=$1 dep_label=$2 dep_package=$3 dep_versions=$4 dep_key=$5 dep_file=$6 dep_recipe=$7
  if stamp_ok "$dep_name" "$dep_key" "$dep_file"; then
    say "$dep_label: up to date ($(cat "$STAMPS/$dep_name.version"))"
    return
  fi
  dep_start=$(date +%s)
  fetch_source "$dep_package" "$dep_versions"
  say "$dep_label $FETCHED: building"
  "$dep_recipe" "$WORK/$dep_package-src"
  stamp_write "$dep_name.version" "$FETCHED"
  stamp_write "$dep_name" "$dep_key"
  say "$dep_label $FETCHED: done in $(elapsed "$dep_start")"
}

# --- SRT -------------------------------------------------------------------
# The stream needs no encryption (no passphrase is ever set), so no crypto
# library is linked; apps and tests are off.
#
# SRT's own pthreads synchronisation (over mingw's winpthreads), not its C++11
# one: with C++11 sync a process that ever started SRT hangs as it exits. The
# library's static destructor runs at DLL_PROCESS_DETACH, after Windows has
# ended every other thread, its collector thread among them, in the middle of
# a condition wait; destroying that std::condition_variable then waits forever
# for the dead waiter. SRT's own condition is never destroyed on Windows.
SRT_OPTIONS="-DENABLE_ENCRYPTION=OFF -DENABLE_APPS=OFF -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
  -DENABLE_STDCXX_SYNC=OFF -DENABLE_UNITTESTS=OFF -DENABLE_TESTING=OFF -DENABLE_EXAMPLES=OFF"
key="srt [$SRT_VERSIONS] recipe $RECIPE compiler $COMPILER options $(printf '%s' "$SRT_OPTIONS" | tr -s ' \n' ' ')"
srt_recipe() {
  # shellcheck disable=SC2086
  cmake_install srt "$1" $SRT_OPTIONS
}
fetched_dependency srt SRT srt "$SRT_VERSIONS" "$key" lib/libsrt.a srt_recipe

# --- GLEW ------------------------------------------------------------------
# One C file and its headers. The library loads every entry point past GL 1.1
# through wglGetProcAddress; the 1.1 ones are opengl32.dll's own exports.
key="glew [$GLEW_VERSIONS] recipe $RECIPE compiler $COMPILER"
glew_recipe() {
  src=$1
  [ -f "$src/src/glew.c" ] || die "the glew source has no src/glew.c"
  mkdir -p "$PREFIX/include/GL" "$PREFIX/lib"
  x86_64-w64-mingw32-gcc-posix -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I"$src/include" \
    -c "$src/src/glew.c" -o "$WORK/glew.o" || die "compiling glew.c failed"
  rm -f "$PREFIX/lib/libglew32s.a"
  x86_64-w64-mingw32-ar rcs "$PREFIX/lib/libglew32s.a" "$WORK/glew.o"
  cp "$src/include/GL/glew.h" "$src/include/GL/wglew.h" "$PREFIX/include/GL/"
}
fetched_dependency glew GLEW glew "$GLEW_VERSIONS" "$key" lib/libglew32s.a glew_recipe

# --- nlohmann JSON -----------------------------------------------------------
# Header-only: its own include folder and nothing else of the build machine.
json_version=$(package_version nlohmann-json3-dev)
key="nlohmann-json $json_version recipe $RECIPE"
if stamp_ok json "$key" include/nlohmann/json.hpp; then
  say "nlohmann JSON: up to date ($json_version)"
else
  [ -f /usr/include/nlohmann/json.hpp ] || die "/usr/include/nlohmann/json.hpp is missing"
  rm -rf "$PREFIX/include/nlohmann"
  mkdir -p "$PREFIX/include"
  cp -r /usr/include/nlohmann "$PREFIX/include/nlohmann"
  stamp_write json "$key"
  say "nlohmann JSON $json_version: headers copied"
fi

# --- GoogleTest ------------------------------------------------------------
gtest_version=$(package_version googletest)
key="googletest $gtest_version recipe $RECIPE compiler $COMPILER"
if stamp_ok googletest "$key" lib/libgtest.a; then
  say "GoogleTest: up to date ($gtest_version)"
else
  start=$(date +%s)
  [ -f /usr/src/googletest/CMakeLists.txt ] || die "/usr/src/googletest is missing"
  say "GoogleTest $gtest_version: building"
  cmake_install googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  stamp_write googletest "$key"
  say "GoogleTest $gtest_version: done in $(elapsed "$start")"
fi

# --- zlib and libpng ---------------------------------------------------------
# For the headless host's PNG snapshots, the same libpng code as on Linux. Both
# are a handful of C files with a ready configuration header (zconf.h, libpng's
# prebuilt pnglibconf.h), compiled directly like GLEW.
key="zlib [$ZLIB_VERSIONS] recipe $RECIPE compiler $COMPILER"
zlib_recipe() {
  src=$1
  c_archive libz.a "$src" "adler32.c compress.c crc32.c deflate.c gzclose.c gzlib.c gzread.c
    gzwrite.c infback.c inffast.c inflate.c inftrees.c trees.c uncompr.c zutil.c"
  mkdir -p "$PREFIX/include"
  cp "$src/zlib.h" "$src/zconf.h" "$PREFIX/include/"
}
fetched_dependency zlib zlib zlib "$ZLIB_VERSIONS" "$key" lib/libz.a zlib_recipe

# libpng is rebuilt whenever zlib is: the key names the zlib it was built on.
key="libpng [$PNG_VERSIONS] recipe $RECIPE compiler $COMPILER zlib $(cat "$STAMPS/zlib.version")"
libpng_recipe() {
  src=$1
  [ -f "$src/scripts/pnglibconf.h.prebuilt" ] || die "the libpng source has no pnglibconf.h.prebuilt"
  cp "$src/scripts/pnglibconf.h.prebuilt" "$src/pnglibconf.h"
  c_archive libpng16.a "$src" "png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c
    pngrtran.c pngrutil.c pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c" \
    -I"$PREFIX/include"
  cp "$src/png.h" "$src/pngconf.h" "$src/pnglibconf.h" "$PREFIX/include/"
}
fetched_dependency libpng libpng libpng1.6 "$PNG_VERSIONS" "$key" lib/libpng16.a libpng_recipe

# --- Licences of what the plug-in DLL links in --------------------------------
# The release's notices (scripts/package.sh) quote each library's licence with the source
# version the build used: its Debian copyright file and its own licence text, kept in
# share/licenses/NAME. A prefix built before they were kept gets them from the same source
# version, downloaded again without building.
licences() {
  name=$1
  dest=$PREFIX/share/licenses/$name
  version=$(cat "$STAMPS/$name.version")
  if [ -f "$dest/copyright" ] && [ "$(cat "$dest/version" 2>/dev/null)" = "$version" ]; then
    return
  fi
  src=$WORK/$name-src
  # The source tree left by the build is that version's.
  if [ ! -f "$src/debian/copyright" ]; then fetch_source "$name" "$version"; fi
  rm -rf "$dest"
  mkdir -p "$dest"
  cp "$src/debian/copyright" "$dest/copyright"
  for f in LICENSE LICENSE.txt; do
    if [ -f "$src/$f" ]; then cp "$src/$f" "$dest/$f"; fi
  done
  printf '%s\n' "$version" >"$dest/version"
  say "$name $version: licence kept in $dest"
}
licences srt
licences glew

say "all dependencies ready in $PREFIX"
