#!/usr/bin/env bash
# A reading of a two-digit board by the bench program, run from a checkout
# and a build whose paths hold blanks, a quote and non-ASCII letters: every
# path the scripts, the simulator, the capture stand-in and the program pass
# between them must arrive whole, or the reading fails (the demonstration's
# "digits read: ?"). No move is made, so the result does not hang on how busy
# the machine is.
# Usage: odd_folder.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf -- "$tmp"' EXIT
odd="$tmp/tavi rob'ot är"
mkdir -p "$odd"
# The checkout and the build seen through the odd path, without copying them.
ln -s "$src" "$odd/repo"
ln -s "$build" "$odd/build"
run="$odd/run  dir"
status=0
TAVI_BUILD_DIR="$odd/build" "$odd/repo/scripts/sim" --world "$odd/repo/sim/worlds/open.world" \
  --set 'board 70 0 180 42' --run-dir "$run" -- benchtest number <<<"54" \
  >"$tmp/transcript.txt" 2>"$tmp/err.txt" || status=$?
fail() {
  echo "odd_folder: $1" >&2
  cat "$tmp/transcript.txt" "$tmp/err.txt" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "benchtest exited with status $status"
grep -q '左数字=4、右数字=2$' "$tmp/transcript.txt" || fail "the board's 42 was not read"
grep -qx 'captures_failed=0' "$run/summary.txt" || fail "a capture failed"
[ -s "$run/truth.txt" ] && [ -s "$run/map.png" ] || fail "no report or map"
echo "odd_folder: read 42 from $run"
