#!/bin/sh
# The main job: installs dependencies, builds the plug-in and the headless
# host, then loads the plug-in in the host, creates one clip in an offscreen
# OpenGL context and prints its information, parameter table, events and log,
# draws a few frames and writes a snapshot.
#
# The clip broadcasts discovery probes as soon as it exists, so the host runs
# in a private network namespace with only loopback up (needs root): nothing
# it sends can leave the machine. Extra arguments go to mirandel-host.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "=== configure build/release"
cmake -S . -B build/release -DMIRANDEL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "=== build"
cmake --build build/release -j "$(nproc)" --target MirandelLink mirandel-host

echo "=== run (private network namespace)"
exec unshare --net sh -c 'ip link set lo up && exec "$@"' demo \
  build/release/tools/host/mirandel-host build/release/MirandelLink.so \
  --viewport 1280x720 --frames 60 --snapshot build/release/demo.png "$@"
