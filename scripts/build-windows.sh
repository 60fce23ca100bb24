#!/bin/sh
# Builds the Windows x64 plug-in, build/windows/MirandelLink.dll, on Debian 12:
#   1. installs the cross toolchain and the sources it needs
#      (scripts/install-deps.sh --windows);
#   2. builds the dependencies from Debian's sources into build/windows/deps,
#      once (scripts/windows-deps.sh);
#   3. configures this tree with cmake/mingw-w64-x86_64.cmake into
#      build/windows, builds it, and checks the DLL's exports and imports.
# Environment: JOBS (default: nproc); TARGETS, the targets to build (default:
# all of them, the tests included; e.g. "MirandelLink mirandel-host");
# MIRANDEL_LINUX_BUILD, a Linux build folder with the phone emulator built, for
# the two-host tests (without it there are none).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/windows
DEPS=$BUILD/deps
JOBS=${JOBS:-$(nproc)}
export JOBS

say() { echo "build-windows: $*"; }
die() {
  echo "build-windows: error: $*" >&2
  exit 1
}
elapsed() { echo "$(($(date +%s) - $1)) s"; }

start=$(date +%s)
say "packages"
scripts/install-deps.sh --windows || die "installing packages failed"

say "dependencies in $DEPS"
step=$(date +%s)
scripts/windows-deps.sh "$DEPS" || die "building the dependencies failed"
say "dependencies ready after $(elapsed "$step")"

launchers=""
if command -v ccache >/dev/null 2>&1; then
  launchers="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi

linux_build=""
if [ -n "${MIRANDEL_LINUX_BUILD:-}" ]; then
  linux_build="-DMIRANDEL_LINUX_BUILD=$(realpath "$MIRANDEL_LINUX_BUILD")"
fi

mkdir -p "$BUILD"
say "configuring $BUILD"
# -O2: GCC 12's -O3 reports a false warning in this tree.
# shellcheck disable=SC2086
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DMIRANDEL_WINDOWS_DEPS="$DEPS" -DMIRANDEL_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" $launchers $linux_build \
  >"$BUILD/configure.log" 2>&1 ||
  { tail -30 "$BUILD/configure.log" >&2; die "configuring failed (log: $BUILD/configure.log)"; }

say "building (log: $BUILD/build.log)"
step=$(date +%s)
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$JOBS" ${TARGETS:+--target $TARGETS} >"$BUILD/build.log" 2>&1 ||
  { grep -E 'error|Error' "$BUILD/build.log" | head -40 >&2; die "building failed (log: $BUILD/build.log)"; }
[ -f "$BUILD/MirandelLink.dll" ] || die "the build ended without $BUILD/MirandelLink.dll"
say "built after $(elapsed "$step")"

say "checking the DLL's exports and imports"
(cd "$BUILD" && ctest -R '^WindowsDll\.' --output-on-failure >"$BUILD/check.log" 2>&1) ||
  { cat "$BUILD/check.log" >&2; die "the DLL's interface is wrong"; }

say "done in $(elapsed "$start"): $BUILD/MirandelLink.dll ($(wc -c <"$BUILD/MirandelLink.dll") bytes)"
