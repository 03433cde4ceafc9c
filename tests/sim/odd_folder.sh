#!/usr/bin/env bash
# A reading of a two-digit board by the bench program, run from a checkout
# and a build whose paths hold blanks, a quote and non-ASCII letters: every
# path the scripts, the simulator, the capture stand-in and the program pass
# between them must arrive whole, or the reading fails (the demonstration's
# "digits read: ?"). No move is made, so the result does not hang on how busy
# the machine is. From the same folder: the sanitizer gates' options, whose
# log and suppressions paths the runtimes must read whole (a report has to
# land in the odd folder), and the timing benchmark up to its first figure.
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

# A heap overflow, a signed overflow and a clean ThreadSanitizer run, each
# under its gate's options; a value cut at the blank stops the runtime with
# "expected '='" before the program runs.
printf '%s\n' '#include <climits>' 'int main(int argc, char**) {' \
  '  if (argc > 1) { int big = INT_MAX - 1; return big + argc; }' \
  '  int* p = new int[1]; int r = p[argc]; delete[] p; return r; }' >"$tmp/bad.cpp"
"${CXX:-c++}" -g -fsanitize=address,undefined "$tmp/bad.cpp" -o "$odd/asan probe"
printf 'int main() { return 0; }\n' >"$tmp/clean.cpp"
"${CXX:-c++}" -fsanitize=thread "$tmp/clean.cpp" -o "$odd/tsan probe"
logs="$odd/sanitizer logs"
env="$odd/repo/scripts/sanitizer-env"
"$env" asan "$logs" "$odd/asan probe" 2>"$tmp/err.txt" && fail "the heap overflow went unseen"
grep -qs 'heap-buffer-overflow' "$logs"/asan.* || fail "no AddressSanitizer report in $logs"
# Linked beside AddressSanitizer, GCC's UBSan runtime keeps its reports on
# standard error, whatever log_path says; a value it cannot parse stops it
# before the program runs.
"$env" asan "$logs" "$odd/asan probe" ub 2>"$tmp/ub.txt" && fail "the signed overflow went unseen"
grep -qs 'signed integer overflow' "$logs"/ubsan.* "$tmp/ub.txt" || fail "no UBSan report"
# ThreadSanitizer's fixed layout may need address randomisation off (scripts/test).
"$env" tsan "$logs" "$odd/tsan probe" 2>>"$tmp/err.txt" ||
  "$env" tsan "$logs" setarch "$(uname -m)" -R "$odd/tsan probe" 2>>"$tmp/err.txt" ||
  fail "ThreadSanitizer did not take its options"

TAVI_BUILD_DIR="$odd/build" TAVI_TIMING_DIR="$odd/timing" TAVI_TIMING_RUNS=5 TAVI_SIM_REPORT=none \
  "$odd/repo/benchmarks/timing/run" >"$tmp/transcript.txt" 2>"$tmp/err.txt" || fail "benchmarks/timing/run failed"
grep -q '^  utime+stime: ' "$tmp/transcript.txt" || fail "benchmarks/timing/run printed no figure"
echo "odd_folder: sanitizer reports and the timing figures in $odd"
