#!/usr/bin/env bash
# Install what is missing, build the debug preset and run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
preset="${1:-debug}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
