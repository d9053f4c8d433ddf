#!/usr/bin/env bash
# The whole test suite: the host build, the host build under ASan+UBSan, and
# the 32-bit Windows build under Wine (or a 64-bit one, below), with the fuzz
# corpora replayed.
# Installs what is missing first. Exit code 0 only when everything passed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash tools/setup.sh

jobs=$(nproc)
# The 32-bit updater is always built; its tests run on the build that runs here.
source tools/windows-width.sh
presets=(host host-asan win32)
[ "$windows" = win32 ] || presets+=("$windows")
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
done

log=$root/build/logs
mkdir -p "$log"

# The Wine prefix is prepared while the builds run.
export UPDATER_WINEPREFIX=$root/build/$windows/wineprefix
bash tools/wine-prefix.sh "$UPDATER_WINEPREFIX" >"$log/wine-prefix.log" 2>&1 &
prefix_job=$!

for preset in "${presets[@]}"; do
  echo "== building $preset"
  cmake --build --preset "$preset" -j "$jobs" >"$log/build-$preset.log" 2>&1 || {
    tail -n 60 "$log/build-$preset.log"; echo "build of $preset failed"; exit 1; }
done
wait "$prefix_job" || { cat "$log/wine-prefix.log"; echo "wine prefix setup failed"; exit 1; }

# Windows need a display; a private Xvfb serves the Wine runs.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_job=$!
export WINEPREFIX=$UPDATER_WINEPREFIX DISPLAY=$display
WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1
# The first program of a server starts Wine's background services; started
# here, with output to a file, they cannot hold ctest's pipes open.
bash tools/wine-run.sh wineboot >"$log/wineboot.log" 2>&1 || true
cleanup() { WINEPREFIX=$UPDATER_WINEPREFIX wineserver -k 2>/dev/null || true; kill "$xvfb_job" 2>/dev/null || true; }
trap cleanup EXIT

status=0
run_tests() {
  local preset=$1
  echo "== testing $preset"
  ctest --preset "$preset" -j "$jobs" --timeout 900 >"$log/test-$preset.log" 2>&1 || status=1
  grep -E 'tests passed|tests failed|\*\*\*Failed|Not Run|Timeout' "$log/test-$preset.log" | head -40 || true
  [ $status -eq 0 ] || tail -n 80 "$log/test-$preset.log"
}
run_tests host
run_tests host-asan
run_tests "$windows"

# ctest's closing line of each run: "N% tests passed, F tests failed out of T".
read -r passed failed < <(for f in "$log"/test-*.log; do
    grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$f" | tail -n 1
  done | awk '{f += $4; t += $9} END {print t - f, f}')
echo "suite: ${passed:-0} passed, ${failed:-0} failed"
exit $status
