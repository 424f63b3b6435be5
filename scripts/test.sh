#!/usr/bin/env bash
# Builds every preset and runs all of its tests: natively on Linux, and the
# Windows builds under Wine; then packs the release packages from those builds
# and checks them ("package"). Ends with "N passed, N failed"; non-zero on failure.
#   QUORVANE_PRESETS="linux win64" scripts/test.sh   to run a subset
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

read -r -a presets <<<"${QUORVANE_PRESETS:-linux linux-asan win64 win32 package}"
passed=0 failed=0 skipped=0 broken=()

# The builds run one after another in the background, each while the tests of
# the one before run: those wait for programs, windows and Wine much of the
# time. The builds yield the processor to the tests (nice), so a test waits no
# longer for it than when it ran alone. build/<preset>.built holds a build's
# exit status once it has ended; "package" builds the package's own tree.
# A win32 build that Wine cannot run here builds what runs without Wine (its
# host tests) and what the package takes, quorvane.exe and quorvane-sync.exe:
# its test programs would only be compiled, as win64 compiles and runs them.
mkdir -p build
for preset in "${presets[@]}"; do rm -f "build/$preset.built"; done
build_all() {
  local preset status targets
  for preset in "${presets[@]}"; do
    targets=()
    if [[ $preset == win32 ]] && ! cmake/wine-run.sh --arch win32 --can-run >/dev/null; then
      targets=(--target quorvane quorvane-sync)
    fi
    if [[ $preset == package ]]; then
      { cmake --preset linux-static && cmake --build --preset linux-static -j "$(nproc)" --target quorvane-sync; } \
        >"build/$preset.build.log" 2>&1
    else
      { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"; } \
        >"build/$preset.build.log" 2>&1
    fi
    status=$?
    echo "$status" >"build/$preset.built.new" && mv "build/$preset.built.new" "build/$preset.built"
  done
}
nice -n 10 bash -c "$(declare -p presets); $(declare -f build_all); build_all" &
builder=$!
trap 'kill "$builder" 2>/dev/null' EXIT

# The exit status of PRESET's build, once it has ended.
built() {
  local status
  until [[ -f build/$1.built ]]; do
    kill -0 "$builder" 2>/dev/null || { [[ -f build/$1.built ]] && break; echo 1; return; }
    sleep 1
  done
  read -r status <"build/$1.built"
  echo "$status"
}

for preset in "${presets[@]}"; do
  echo "== $preset"
  if [[ $(built "$preset") != 0 ]]; then
    grep -E -A3 'error|Error' "build/$preset.build.log" | head -n 80
    broken+=("$preset"); continue
  fi
  if [[ $preset == package ]]; then
    # The release packages, from the trees built above (build/linux-static is its own).
    log=build/package-test.log
    python3 tests/scripts/package_test.py 2>&1 | tee "$log"
    total=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log")
    if [[ -z $total ]]; then
      broken+=("$preset"); continue
    fi
    # "FAILED (failures=1, errors=1, skipped=1)" or "OK (skipped=1)"
    bad=0 unrun=0
    for count in $(tail -n 1 "$log" | grep -oE '(failures|errors|skipped)=[0-9]+'); do
      if [[ $count == skipped=* ]]; then unrun=${count#*=}; else bad=$((bad + ${count#*=})); fi
    done
    good=$((total - bad - unrun))
    ((good >= 0)) || good=0
    passed=$((passed + good)); failed=$((failed + bad)); skipped=$((skipped + unrun))
    continue
  fi
  log=build/$preset/ctest.log
  only=()
  arch=$(grep -o -- '--arch;win[0-9]*' "build/$preset/CMakeCache.txt" | head -n 1 | cut -d';' -f2)
  if [[ -n $arch ]] && ! why=$(cmake/wine-run.sh --arch "$arch" --can-run); then
    # Built, but Wine cannot run it here: only the tests that need no Wine run.
    all=$(ctest --preset "$preset" -N | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
    host=$(ctest --preset "$preset" -N -L host | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
    echo "$preset: built; $((all - host)) of its $all tests not run: $why"
    skipped=$((skipped + all - host))
    only=(-L host)
  fi
  ctest --preset "$preset" "${only[@]}" 2>&1 | tee "$log"
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
if ((skipped)); then
  echo "$passed passed, $failed failed, $skipped not run (see above)"
else
  echo "$passed passed, $failed failed"
fi
((failed == 0))
