#!/usr/bin/env bash
# Install what is missing, build the debug preset and run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
preset="${1:-debug}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if ! ctest --preset "$preset" -j2; then
  # The log's tail is often all that is kept: end it with the failures' own
  # output, each failed test run once more on its own.
  echo "== failed tests, run again one at a time"
  ctest --preset "$preset" --rerun-failed --output-on-failure || true
  exit 1
fi
