#!/usr/bin/env bash
# Install what is missing, build the debug preset and run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
preset="${1:-debug}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if ctest --preset "$preset" -j2; then
  exit 0
fi

# The log's tail is often all that is kept: end it with the failures' own
# output, each failed test run once more on its own.
failed=$(cut -d: -f2- "build/$preset/Testing/Temporary/LastTestsFailed.log")
echo "== failed tests, run again one at a time"
if ! ctest --preset "$preset" --rerun-failed --output-on-failure; then
  exit 1
fi
# Every failure passed on its own. Only the window tests, which run on the
# toolkit's offscreen platform, are let off so; they are named as flaky.
gui=$(ctest --preset "$preset" -N -L gui | sed -n 's/^ *Test *#[0-9]*: //p')
while IFS= read -r name; do
  if ! grep -qxF -- "$name" <<<"$gui"; then
    echo "== $name failed, then passed: not a window test, so the run fails"
    exit 1
  fi
done <<<"$failed"
echo "== FLAKY window tests (failed once, passed on their own):"
echo "$failed"
