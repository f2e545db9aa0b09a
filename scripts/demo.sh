#!/usr/bin/env bash
# Main job: install what is missing, build the release preset, then program a
# module of the embedded default bench with the console programmer and read
# its flash back. Settings and flash images live in build/release/demo, which
# every run starts afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release

bin=build/release/bin
demo=build/release/demo
rm -rf "$demo"
mkdir -p "$demo"
export QEL4410_REGISTRY="$PWD/$demo/registry"
export QEL4410_BENCH_STATE="$PWD/$demo/bench"
unset QEL4410_BENCH QEL4410_BENCH_TIMING QEL4410_TIMDATA

bold='' plain=''
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
step() { printf '\n%s$ %s%s\n' "$bold" "$*" "$plain"; "$@"; }

cd "$bin"
step ./qel-flash program 0 0 --tim QT-6201 --bootloader standard --bitstream standard \
    --add exec firmware/samples/hello.out --id 1 --version 1.0 --bootable \
    --dynamic 0x80000100=42 --dynamic 0x80000104=0xC0FFEE
step ./qel-flash show 0 0
