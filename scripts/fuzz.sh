#!/usr/bin/env bash
# scripts/fuzz.sh SECONDS
# Builds the fuzz preset (clang, libFuzzer, ASan + UBSan) in build/fuzz (or
# $QEL_FUZZ_BUILD_DIR) and runs every bin/fuzz_* there for SECONDS seconds,
# seeded with fuzz/corpus/<name without the fuzz_ prefix>. Fails when a
# target crashes; the crashing inputs stay in <build>/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:?usage: scripts/fuzz.sh SECONDS}"
build="${QEL_FUZZ_BUILD_DIR:-build/fuzz}"

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzzers

shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if ((${#targets[@]} == 0)); then
  echo "fuzz.sh: no fuzz targets in $build/bin" >&2
  exit 1
fi

# New inputs go to a scratch folder (the first corpus argument), never into
# the committed seeds.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failed=()
for target in "${targets[@]}"; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name="$(basename "$target")"
  seeds="fuzz/corpus/${name#fuzz_}"
  artifacts="$build/artifacts/$name"
  log="$build/logs/$name.log"
  mkdir -p "$scratch/$name" "$artifacts" "$(dirname "$log")"
  corpora=("$scratch/$name")
  [ -d "$seeds" ] && corpora+=("$seeds")
  echo "== $name: ${seconds} s, seeds ${seeds}"
  if "$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "${corpora[@]}" >"$log" 2>&1; then
    grep -E "^(stat::number_of_executed_units|Done )" "$log" || tail -n 2 "$log"
  else
    tail -n 60 "$log"
    echo "== $name FAILED (log $log, inputs in $artifacts)"
    failed+=("$name")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran ${seconds} s each without a crash"
