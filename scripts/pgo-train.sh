#!/usr/bin/env bash
# Runs the profiling build of zuv-test over the script test suite, so that the release build
# is optimised for how the interpreter is really used: the counts go to the profile folder.
# Usage: scripts/pgo-train.sh PROFILING_ZUV_TEST PROFILE_FOLDER
# Skipped when the folder already holds the counts of this very program (a build that changed
# nothing trains nothing); a test that fails here only counts less.
set -uo pipefail
cd "$(dirname "$0")/.."
program=$1 data=$2
stamp=$data/trained
[ -f "$stamp" ] && [ "$stamp" -nt "$program" ] && exit 0
rm -rf "$data"
mkdir -p "$data"
for script in tests/zuv/*.zuv; do
  # No display: a test of windows falls back or fails, and trains the rest.
  ZUV_TEST_DATA=$PWD/tests/zuv/data/ DISPLAY= WAYLAND_DISPLAY= timeout 120 "$program" "$script" >/dev/null 2>&1
done
touch "$stamp"
