#!/bin/sh
# Checks what scripts/package.sh left in DIR (default dist/): the checksums, each archive's
# files and nothing else, the plug-ins' exports, the guide as it stands in the tree, and
# notices that name every library with the Debian version it came from. With
# --windows-build and --linux-build, also that the archives carry those builds' plug-ins.
#
#   scripts/check-package.sh [DIR] [--windows-build DIR] [--linux-build DIR]
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
DIST=$ROOT/dist
WINDOWS_BUILD=""
LINUX_BUILD=""
while [ $# -gt 0 ]; do
  case "$1" in
    --windows-build) WINDOWS_BUILD=$(realpath "$2"); shift ;;
    --linux-build) LINUX_BUILD=$(realpath "$2"); shift ;;
    *) DIST=$(realpath "$1") ;;
  esac
  shift
done

failures=0
check() {
  if eval "$2"; then echo "check-package: ok: $1"; else
    echo "check-package: FAILED: $1" >&2
    failures=$((failures + 1))
  fi
}

version_part() { sed -n "s/^#define MIRANDEL_VERSION_$1 \([0-9][0-9]*\)$/\1/p" plugin/Version.h; }
NAME=MirandelLink-$(version_part MAJOR).$(version_part MINOR)
ZIP=$NAME-windows-x64.zip
TAR=$NAME-linux-x86_64.tar.gz

check "dist holds the two archives and SHA256SUMS, nothing else" \
  '[ "$(ls "$DIST" | LC_ALL=C sort | tr "\n" " ")" = "$TAR $ZIP SHA256SUMS " ]'
check "SHA256SUMS names both archives and matches them" \
  '(cd "$DIST" && [ "$(awk "{ print \$2 }" SHA256SUMS | LC_ALL=C sort | tr "\n" " ")" = "$TAR $ZIP " ] && sha256sum --quiet -c SHA256SUMS)'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
licence=""
if [ -f LICENSE ]; then licence="$NAME/LICENSE.txt "; fi
mkdir "$work/windows" "$work/linux"
unzip -q "$DIST/$ZIP" -d "$work/windows"
tar -xzf "$DIST/$TAR" -C "$work/linux"
listing() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' '); }
check "the Windows archive holds the DLL, the guide and the notices" \
  '[ "$(listing "$work/windows")" = "$NAME/GUIDE.txt ${licence}$NAME/MirandelLink.dll $NAME/THIRD-PARTY-NOTICES.txt " ]'
check "the Linux archive holds the .so, the guide and the notices" \
  '[ "$(listing "$work/linux")" = "$NAME/GUIDE.txt ${licence}$NAME/MirandelLink.so $NAME/THIRD-PARTY-NOTICES.txt " ]'
for side in windows linux; do
  check "the $side guide is GUIDE.md as it stands" 'cmp -s GUIDE.md "$work/$side/$NAME/GUIDE.txt"'
done

dll=$work/windows/$NAME/MirandelLink.dll
so=$work/linux/$NAME/MirandelLink.so
check "the DLL is a 64-bit Windows DLL exporting plugMain and SetLogCallback" \
  'x86_64-w64-mingw32-objdump -p "$dll" | grep -q "^Magic.*020b" &&
   x86_64-w64-mingw32-objdump -p "$dll" | grep -Eq "\] plugMain$" &&
   x86_64-w64-mingw32-objdump -p "$dll" | grep -Eq "\] SetLogCallback$"'
check "the DLL carries a version resource" \
  'x86_64-w64-mingw32-objdump -h "$dll" | grep -q " \.rsrc "'
check "the .so is a 64-bit shared object exporting only plugMain and SetLogCallback" \
  '[ "$(nm -D --defined-only "$so" | awk "\$2 == \"T\" { print \$3 }" | LC_ALL=C sort | tr "\n" " ")" = "SetLogCallback plugMain " ]'
if [ -n "$WINDOWS_BUILD" ]; then
  check "the DLL is the Windows build's" 'cmp -s "$dll" "$WINDOWS_BUILD/MirandelLink.dll"'
fi
if [ -n "$LINUX_BUILD" ]; then
  check "the .so is the Linux build's" 'cmp -s "$so" "$LINUX_BUILD/MirandelLink.so"'
fi

notices=$work/windows/$NAME/THIRD-PARTY-NOTICES.txt
for lib in "SRT, Secure Reliable Transport (Debian source package srt [0-9]" \
  "GLEW, the OpenGL Extension Wrangler (Debian source package glew [0-9]" \
  "nlohmann JSON [0-9.-]* (Debian source package nlohmann-json3 [0-9]" \
  "mingw-w64 runtime [0-9]" "GCC runtime libraries [0-9]"; do
  check "the Windows notices have a section for: ${lib%% (*}" 'grep -q "^$lib" "$notices"'
done
for text in "Mozilla Public License" "GCC RUNTIME LIBRARY EXCEPTION" "GNU GENERAL PUBLIC LICENSE" \
  "Permission is hereby granted"; do
  check "the Windows notices quote: $text" 'grep -qi "$text" "$notices"'
done
notices=$work/linux/$NAME/THIRD-PARTY-NOTICES.txt
for lib in libavcodec libavutil libsrt libglew "nlohmann JSON"; do
  check "the Linux notices name $lib with its version" 'grep -Eq "^ *$lib[^ ]* +[0-9:]" "$notices" || grep -q "^$lib [0-9]" "$notices"'
done

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures checks failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
