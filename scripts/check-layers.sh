#!/bin/sh
# Fails when a product file includes a header from a folder above its own. The order, from
# the bottom: base/; then ffgl/ (the host's ABI and the base classes of a clip), link/, video/
# and ffglex/, which know nothing of each other; then rack/; then clip/; then plugin/, the
# entry point. tools/, tests/, bench/ and fuzz/ stand
# beside the product and may include any of it.
set -eu
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    base) echo 0 ;;
    ffgl | link | video | ffglex) echo 1 ;;
    rack) echo 2 ;;
    clip) echo 3 ;;
    plugin) echo 4 ;;
    *) echo "" ;;
  esac
}

bad=0
for folder in base ffgl link video ffglex rack clip plugin; do
  [ -d "$folder" ] || continue
  own=$(rank "$folder")
  # Every quoted include of a project folder: file, line and the included folder.
  grep -rnoE '^#include "[a-z]+/' --include='*.h' --include='*.cpp' --include='*.rc' "$folder" |
    sed -E 's|^([^:]+):([0-9]+):#include "([a-z]+)/$|\1 \2 \3|' >/tmp/layers.$$ || true
  while read -r file line target; do
    [ "$target" = "$folder" ] && continue
    other=$(rank "$target")
    [ -z "$other" ] && continue
    if [ "$other" -ge "$own" ]; then
      echo "check-layers: $file:$line includes $target/, which is not below $folder/" >&2
      bad=1
    fi
  done </tmp/layers.$$
  rm -f /tmp/layers.$$
done
if [ "$bad" -ne 0 ]; then
  echo "check-layers: order, from the bottom: base/; ffgl/ link/ video/ ffglex/; rack/; clip/; plugin/" >&2
  exit 1
fi
echo "check-layers: every include goes down"
