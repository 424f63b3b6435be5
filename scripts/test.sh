#!/usr/bin/env bash
# Builds every preset and runs all of its tests: natively on Linux, and the
# Windows builds under Wine. Ends with "N passed, N failed"; non-zero on failure.
#   QUORVANE_PRESETS="linux win64" scripts/test.sh   to run a subset
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

read -r -a presets <<<"${QUORVANE_PRESETS:-linux linux-asan win64 win32}"
passed=0 failed=0 broken=()

for preset in "${presets[@]}"; do
  echo "== $preset"
  buildlog=$(mktemp)
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)"; } >"$buildlog" 2>&1; then
    grep -E -A3 'error|Error' "$buildlog" | head -n 80; rm -f "$buildlog"
    broken+=("$preset"); continue
  fi
  rm -f "$buildlog"
  log=build/$preset/ctest.log
  ctest --preset "$preset" 2>&1 | tee "$log"
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z $summary ]]; then
    broken+=("$preset"); continue
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad)); failed=$((failed + bad))
done
scripts/stop-wine.sh

for preset in "${broken[@]}"; do
  echo "preset $preset did not build or ran no test"
  failed=$((failed + 1))
done
echo "$passed passed, $failed failed"
((failed == 0))
