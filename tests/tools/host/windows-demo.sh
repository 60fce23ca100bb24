#!/bin/sh
# The main job under Wine in a short form, as a test of the Windows build:
#   windows-demo.sh SOURCE_DIR LINUX_BUILD WINDOWS_BUILD OUT_DIR
# runs scripts/demo.sh --windows for 8 s at 640x360 with the programs already built (the
# Linux build's phone emulator, the Windows build's DLL, host and Wine prefix), then reads
# its summary back. It passes when the clip showed the phone's live stream, not a picture or
# two; when the stamps were timed on the phone's clock, so that glass to glass comes out no
# shorter than the receive-to-decoded time it contains (with the host's own steady clock
# under Wine it comes out a fraction of a second short, often below zero); and when the
# snapshots are PNG files. Needs root (network namespaces).
set -eu
[ $# -eq 4 ] || { echo "usage: $0 SOURCE_DIR LINUX_BUILD WINDOWS_BUILD OUT_DIR" >&2; exit 2; }
src=$1 linux=$2 windows=$3 out=$4
[ -x "$linux/tools/phone/mirandel-phone" ] || {
  echo "windows-demo: no mirandel-phone in the Linux build $linux (MIRANDEL_LINUX_BUILD)" >&2
  exit 1
}
mkdir -p "$out"
log=$out/demo.log
status=0
"$src/scripts/demo.sh" --windows --no-build --linux-build "$linux" --windows-build "$windows" \
  --out "$out" --duration 8 --size 640x360 >"$log" 2>&1 || status=$?
cat "$log"
fail() {
  echo "windows-demo: $*" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "the demo failed (status $status)"

# "pictures shown:      279 (0 never reached the frame)"
shown=$(awk '/^pictures shown:/ { print $3 }' "$log")
# "glass to glass:      median 94.4 ms · p95 ...", likewise "receive to decoded:"
glass=$(awk '/^glass to glass:/ && $4 == "median" { print $5 }' "$log")
decoded=$(awk '/^receive to decoded:/ && $4 == "median" { print $5 }' "$log")
if [ -z "$shown" ] || [ -z "$glass" ] || [ -z "$decoded" ]; then fail "no summary with figures"; fi
# 8 s of a 30 fps stream; well over 3 s of it shown proves a live stream.
[ "$shown" -ge 100 ] || fail "only $shown pictures shown"
awk -v g="$glass" -v d="$decoded" 'BEGIN { exit !(g >= d && g < 1000) }' ||
  fail "glass to glass $glass ms against receive to decoded $decoded ms: stamps timed on another clock"

n=0
for f in "$out"/snapshot-*.png; do
  [ -f "$f" ] || continue
  [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$f is no PNG"
  n=$((n + 1))
done
[ "$n" -eq 3 ] || fail "$n snapshots instead of 3"
echo "windows-demo: $shown pictures shown, glass to glass $glass ms," \
  "receive to decoded $decoded ms, $n snapshots"
