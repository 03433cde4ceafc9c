#!/usr/bin/env bash
# The demonstration patrol run from a checkout and a build whose paths hold
# blanks, a quote and non-ASCII letters: every path the scripts, the
# simulator, the capture stand-in and the program pass between them must
# arrive whole, or the reading fails ("digits read: ?").
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
TAVI_BUILD_DIR="$odd/build" "$odd/repo/scripts/sim" --world "$odd/repo/sim/worlds/demo.world" \
  --run-dir "$run" -- tavi_demo >"$tmp/transcript.txt" 2>"$tmp/err.txt" || status=$?
fail() {
  echo "odd_folder: $1" >&2
  cat "$tmp/transcript.txt" "$tmp/err.txt" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "tavi_demo exited with status $status"
grep -qx '左数字=6、右数字=-1' "$tmp/transcript.txt" || fail "the board's 6 was not read"
grep -qx 'captures_failed=0' "$run/summary.txt" || fail "a capture failed"
grep -qx 'last_motor_frame=00 00 00 00' "$run/summary.txt" || fail "the last frame is no stop frame"
[ -s "$run/truth.txt" ] || fail "no report"
echo "odd_folder: read 6 from $run"
