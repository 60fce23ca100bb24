#!/bin/sh
# Makes the Wine prefix that every Windows program of the tests and the demo
# starts from, once:
#   scripts/wine-prefix.sh DIR
# The prefix is made at the very path tests/support/in-wine.sh shows it at:
# Wine updates a prefix (several seconds) whenever it finds it at another path
# than the one it was made at. It is made again when Wine's version changes.
# Runs in private network and mount namespaces; needs root.
set -eu
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$(realpath -m "$1")
version=$(wine --version 2>/dev/null)
ready=$dir/.mirandel-ready
if [ -f "$ready" ] && [ "$(cat "$ready")" = "$version" ]; then exit 0; fi

echo "wine-prefix: making $dir ($version)"
rm -rf "$dir"
mkdir -p "$dir"
# No Mono or Gecko: nothing here runs .NET or HTML, and their installers would
# ask questions. The mount over the path is private to this run, as in
# in-wine.sh; DIR itself may lie under /tmp.
mkdir -p /tmp/mirandel-wine
unshare --net --mount --propagation private sh -c '
  set -eu
  ip link set lo up
  mount --bind "$1" /tmp/mirandel-wine
  export WINEPREFIX=/tmp/mirandel-wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1
  wineserver -w' make-prefix "$dir"
echo "$version" >"$ready"
