#!/bin/sh
# The whole test suite: installs dependencies, then builds and runs every test
#   0. checks that every include goes down the layers (scripts/check-layers.sh), and builds
#      the plug-in with clang's thread-safety analysis (compile-only),
#   1. in a normal optimised build (with the benchmarks, which are built but not run),
#   2. runs the soak's short form with the release build's programs (scripts/soak.sh),
#   3. in the Windows build (scripts/build-windows.sh), under Wine, with the phone
#      emulator of the release build as the peer of the two-host tests,
#   3b. makes the release archives from those two builds and checks them (scripts/package.sh,
#      scripts/check-package.sh),
#   4. under AddressSanitizer + UndefinedBehaviorSanitizer,
#   5. under ThreadSanitizer, for the parts where threads meet (link, video, clip),
#   6. and runs each libFuzzer target for a bounded time (clang).
# Networked tests make their own private network namespaces (needs root).
# Environment: JOBS (default: nproc), FUZZ_SECONDS (default 8), SKIP_STAGES
# (e.g. "threads soak windows tsan fuzz" while iterating locally).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
SKIP_STAGES=${SKIP_STAGES:-}
# Tests the next suite leaves out (a ctest -E pattern).
exclude=

scripts/install-deps.sh

# Only ThreadSanitizer builds read this.
export TSAN_OPTIONS="suppressions=$ROOT/tests/support/tsan.supp ${TSAN_OPTIONS:-}"

skipped() { case " $SKIP_STAGES " in *" $1 "*) return 0 ;; esac; return 1; }

run_suite() {
  name=$1; shift
  dir=$ROOT/build/ci-$name
  if skipped "$name"; then echo "=== $name: skipped"; return; fi
  start=$(date +%s)
  echo "=== $name: configure"
  cmake -S "$ROOT" -B "$dir" -DMIRANDEL_WERROR=ON "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
  echo "=== $name: build"
  cmake --build "$dir" -j "$JOBS" >"$dir.build.log" 2>&1 ||
    { grep -E "error|Error" "$dir.build.log" | head -40; tail -20 "$dir.build.log"; exit 1; }
  echo "=== $name: test"
  (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 300 ${exclude:+-E "$exclude"})
  echo "=== $name: done in $(( $(date +%s) - start )) s"
}

mkdir -p build
echo "=== layers"
scripts/check-layers.sh
# Locks checked by the compiler: the plug-in built with clang's thread-safety analysis, every
# finding an error. Compile-only; the sanitizer stages below run the code.
if skipped threads; then
  echo "=== threads: skipped"
else
  start=$(date +%s)
  echo "=== threads"
  dir=$ROOT/build/ci-threads
  cmake -S "$ROOT" -B "$dir" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g0" "-DCMAKE_CXX_FLAGS=-Wthread-safety" \
    -DMIRANDEL_WERROR=ON -DMIRANDEL_BUILD_TESTS=OFF -DMIRANDEL_BUILD_TOOLS=OFF \
    -DMIRANDEL_BUILD_BENCH=OFF >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j "$JOBS" --target MirandelLink >"$dir.build.log" 2>&1 ||
    { grep -E "error" "$dir.build.log" | head -40; exit 1; }
  echo "=== threads: done in $(( $(date +%s) - start )) s"
fi
# Line tables (-g1) are all a sanitizer report needs and build much faster
# than full debug information; CI keeps no binaries to debug.
run_suite release -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
# The soak's short form: two clips, each from its own emulated phone through the fault relay
# (a little loss and jitter, and a blackout long enough to break the link), drawn by one
# headless host for 20 s. It fails the run when a clip showed a damaged picture or none, or
# was not live again by the end. A stage of its own rather than a CTest test: it must have
# both cores to itself (two encoders, two decoders and llvmpipe fill them), and it runs
# once, not again in every sanitizer build. The long form is in README.
if skipped soak; then
  echo "=== soak: skipped"
else
  start=$(date +%s)
  echo "=== soak"
  scripts/soak.sh --no-build --build "$ROOT/build/ci-release" --out "$ROOT/build/ci-soak" \
    --clips 2 --duration 20 --loss 1 --jitter 10 --blackout-at 5 --blackout-for 6
  echo "=== soak: done in $(( $(date +%s) - start )) s"
fi
# The Windows DLL and its tests: the dependencies are built once into
# build/windows/deps and the Wine prefix once per run; every Wine run starts
# from that prefix in a private namespace, so ctest runs them in parallel.
if skipped windows; then
  echo "=== windows: skipped"
else
  start=$(date +%s)
  phone=$ROOT/build/ci-release/tools/phone/mirandel-phone
  if [ -x "$phone" ]; then
    export MIRANDEL_LINUX_BUILD="$ROOT/build/ci-release"
  else
    echo "=== windows: no release build with the phone emulator, so no two-host tests"
  fi
  echo "=== windows: build"
  scripts/build-windows.sh
  echo "=== windows: Wine prefix"
  scripts/install-deps.sh --wine
  scripts/wine-prefix.sh "$ROOT/build/windows/wine-prefix"
  echo "=== windows: test"
  (cd "$ROOT/build/windows" && ctest --output-on-failure -j "$JOBS" --timeout 300)
  echo "=== windows: done in $(( $(date +%s) - start )) s"
fi
# The release archives, made from the release and Windows builds above and read back as a
# VJ gets them: checksums, each archive's files, the plug-ins, the guide and the notices.
if skipped package || skipped windows; then
  echo "=== package: skipped"
else
  start=$(date +%s)
  echo "=== package"
  scripts/package.sh --no-build --linux-build "$ROOT/build/ci-release" --out "$ROOT/build/ci-dist"
  scripts/check-package.sh "$ROOT/build/ci-dist" --windows-build "$ROOT/build/windows" \
    --linux-build "$ROOT/build/ci-release"
  echo "=== package: done in $(( $(date +%s) - start )) s"
fi
run_suite asan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1" \
  -DMIRANDEL_SANITIZE=address,undefined -DMIRANDEL_BUILD_BENCH=OFF
# The exhaustive conversion check is single-threaded, so ThreadSanitizer finds nothing in it,
# and under it the check takes a minute of the two-minute limit; release and ASan run it.
exclude='^ConvertSimd\.EveryYuvTriple'
run_suite tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1" \
  -DMIRANDEL_SANITIZE=thread \
  -DMIRANDEL_BUILD_BENCH=OFF "-DMIRANDEL_ONLY_TESTS=link;video;clip"

if skipped fuzz; then
  echo "=== fuzz: skipped"
else
  echo "=== fuzz"
  # About 50 s in all for the six targets and the making of their seeds.
  FUZZ_SECONDS=${FUZZ_SECONDS:-8} FUZZ_JOBS=$JOBS scripts/fuzz.sh
fi
echo "=== all stages passed"
