#!/bin/sh
# Runs a Windows program under Wine with a wineserver and a copy-on-write view
# of the prefix of its own, in the caller's network namespace:
#   in-wine.sh [--prefix DIR] [--display] PROGRAM [ARGS...]
#
# Wine's sockets are made by the wineserver, so a program's sockets live in
# the network namespace its wineserver was started in. Each run therefore
# mounts an overlay of the prefix made by scripts/wine-prefix.sh (--prefix, or
# MIRANDEL_WINE_PREFIX) in a private mount namespace: a new mount is a new
# prefix to Wine, which starts a wineserver of its own for it here, and the
# prefix itself is never written to, so parallel runs share neither a
# wineserver nor registry files. --display starts a private Xvfb for programs
# that draw with WGL. The program's exit status is the script's. Needs root.
set -eu
prefix=${MIRANDEL_WINE_PREFIX:-}
display=0
while [ $# -gt 0 ]; do
  case $1 in
    --prefix) prefix=$2; shift 2 ;;
    --display) display=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--prefix DIR] [--display] PROGRAM [ARGS...]" >&2; exit 2; }
[ -f "$prefix/.mirandel-ready" ] ||
  { echo "in-wine: no prefix at '$prefix' (scripts/wine-prefix.sh makes one)" >&2; exit 2; }
program=$(realpath "$1")
shift

scratch=$(mktemp -d "${TMPDIR:-/tmp}/in-wine.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# The path the prefix was made at (scripts/wine-prefix.sh); the mount over it
# is private to this run.
mkdir -p /tmp/mirandel-wine
status=0
unshare --mount --propagation private sh -c '
  set -eu
  prefix=$1 scratch=$2 display=$3 program=$4
  shift 4
  mkdir "$scratch/upper" "$scratch/work"
  mount -t overlay overlay \
    -o "lowerdir=$prefix,upperdir=$scratch/upper,workdir=$scratch/work" /tmp/mirandel-wine
  export WINEPREFIX=/tmp/mirandel-wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Ended by its process id: a non-interactive sh has no job control, so "kill %1"
  # would leave it running.
  xvfb=""
  if [ "$display" = 1 ]; then
    # Xvfb picks a free display and writes its number to the pipe.
    Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>"$scratch/xvfb.log" >"$scratch/display" &
    xvfb=$!
    n=0
    until [ -s "$scratch/display" ]; do
      n=$((n + 1))
      [ $n -le 200 ] ||
        { cat "$scratch/xvfb.log" >&2; echo "in-wine: no Xvfb" >&2; kill "$xvfb"; exit 2; }
      sleep 0.05
    done
    export DISPLAY=":$(cat "$scratch/display")"
  fi
  status=0
  wine "$program" "$@" || status=$?
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  exit $status' in-wine "$prefix" "$scratch" "$display" "$program" "$@" || status=$?
exit $status
