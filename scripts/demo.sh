#!/usr/bin/env bash
# Main job: install what is missing, build the release preset, run the demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/bin/qel-demo "$@"
