#!/usr/bin/env bash
# Builds every preset and runs all of its tests: natively on Linux, and the
# Windows builds under Wine; then packs the release packages from those builds
# and checks them ("package"). Ends with "N passed, N failed, N not run" (each test
# not run, or skipped inside a test, is named above it with its reason); non-zero on failure.
#   QUORVANE_PRESETS="linux win64" scripts/test.sh   to run a subset
set -uo pipefail
cd "$(dirname "$0")/.."

read -r -a presets <<<"${QUORVANE_PRESETS:-linux linux-asan win64 win32 package}"
passed=0 failed=0 skipped=0 broken=()

# The native builds need six packages; the rest (MinGW, Wine, fonts, the
# tools the tests call) installs while they build, on a fresh machine two to
# three minutes of fetching and unpacking. The Windows builds and every test
# wait for it; build/install-deps.done holds its exit status once it has ended.
scripts/install-deps.sh native || exit 1
mkdir -p build
rm -f build/install-deps.done
{ scripts/install-deps.sh >build/install-deps.log 2>&1; echo $? >build/install-deps.done; } &
installed() {
  until [[ -s build/install-deps.done ]]; do sleep 1; done
  return "$(cat build/install-deps.done)"
}

# The builds run one after another in the background, each while the tests of
# the one before run: those wait for programs, windows and Wine much of the
# time. The builds yield the processor to the tests (nice), so a test waits no
# longer for it than when it ran alone. build/<preset>.built holds a build's
# exit status once it has ended; "package" builds the package's own tree.
# A win32 build that Wine cannot run here builds what runs without Wine (its
# host tests) and what the package takes, quorvane.exe and quorvane-sync.exe:
# its test programs would only be compiled, as win64 compiles and runs them.
for preset in "${presets[@]}"; do rm -f "build/$preset.built" "build/$preset.build-seconds"; done
build_all() {
  local preset status targets started
  for preset in "${presets[@]}"; do
    if [[ $preset != linux* && $preset != package ]] && ! installed; then
      echo "the packages it needs did not install (build/install-deps.log)" >"build/$preset.build.log"
      echo 1 >"build/$preset.built"; continue
    fi
    started=$SECONDS
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
    echo $((SECONDS - started)) >"build/$preset.build-seconds"
    echo "$status" >"build/$preset.built.new" && mv "build/$preset.built.new" "build/$preset.built"
  done
}
nice -n 10 bash -c "$(declare -p presets); $(declare -f build_all installed); build_all" &
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

# Counts one preset's CTest run from its JUnit report: "passed failed not-run" on the
# first line of OUT, then a line for each test or case not run, with its reason.
# A test passes only when it ran; the cases a test skipped inside it (Python's
# skipTest, GoogleTest's GTEST_SKIP, and under Wine, where a GoogleTest program is
# one test, the skipped cases of its own XML report) are not run, each by name.
count_run() {
  python3 - "$@" <<'PY'
import glob, re, sys, xml.etree.ElementTree as ET
junit, gtest_dir, out = sys.argv[1:4]
passed = failed = 0
not_run = []  # (where, why)
# A GoogleTest program run as one test under Wine (--gtest_brief) names its skipped
# cases only in its summary, after all of them: its XML report gives each with its reason.
reported = {path.rsplit("/", 1)[-1][:-4] for path in glob.glob(f"{gtest_dir}/*.xml")}
def inner_skips(test, text):
    found = []
    text = text.replace("\r\n", "\n")
    # Python unittest -v: "test_x (module.Class.test_x) ... skipped 'why'", a docstring line between at most
    for m in re.finditer(r"^(test\w*) \(([\w.]+)\)(?:\n[^\n]*?)? \.\.\. skipped '(.*)'$", text, re.M):
        found.append((f"{test}: {m.group(2).rsplit('.', 1)[0]}.{m.group(1)}", m.group(3)))
    if test in reported:
        return found
    # GoogleTest: "file:line: Skipped", the reason, then "[  SKIPPED ] Suite.Case"
    for m in re.finditer(r"^[^\n]*: Skipped\n(.*?)\n?\[  SKIPPED \] (\S+)", text, re.M | re.S):
        found.append((f"{test}: {m.group(2)}", m.group(1).strip().replace("\n", " ") or "no reason given"))
    return found
for case in ET.parse(junit).getroot().iter("testcase"):
    name, status = case.get("name"), case.get("status")
    text = case.findtext("system-out") or ""
    skips = inner_skips(name, text)
    if status == "fail" or case.find("failure") is not None:
        failed += 1
    elif status in ("notrun", "disabled") or case.find("skipped") is not None:
        why = case.find("skipped").get("message", "") if case.find("skipped") is not None else status
        not_run += skips or [(name, why)]
    else:
        passed += 1
        not_run += skips
# A GoogleTest program run as one test under Wine: its skipped cases from its XML report.
for report in glob.glob(f"{gtest_dir}/*.xml"):
    program = report.rsplit("/", 1)[-1][:-4]
    for case in ET.parse(report).getroot().iter("testcase"):
        skipped = case.find("skipped")
        if skipped is not None or case.get("result") == "skipped":
            why = skipped.get("message", "") if skipped is not None else ""
            why = why.split("\n", 1)[-1]  # after the file and line it was said at
            not_run.append((f"{program}: {case.get('classname')}.{case.get('name')}", why.strip().replace("\n", " ")))
with open(out, "w") as f:
    f.write(f"{passed} {failed} {len(not_run)}\n")
    for where, why in not_run:
        f.write(f"not run: {where}: {why}\n")
PY
}

# What the installer said, once it has ended: which packages, any index that failed.
installed; status=$?
grep -E '^(install-deps.sh|Installing|E:|W:)' build/install-deps.log | cut -c1-400
if ((status)); then echo "install-deps.sh failed ($status); the rest of its log is build/install-deps.log"; exit 1; fi

# Where the time goes: each build's length beside its preset, each test run's after it.
for preset in "${presets[@]}"; do
  echo "== $preset"
  if [[ $(built "$preset") != 0 ]]; then
    grep -E -A3 'error|Error' "build/$preset.build.log" | head -n 80
    broken+=("$preset"); continue
  fi
  echo "($preset built in $(cat "build/$preset.build-seconds") s, at ${SECONDS} s)"
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
    sed -nE "s/^(test[^ ]*) \(([^)]*)\).* \.\.\. skipped '(.*)'$/not run: package: \2: \3/p" "$log"
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
  junit=$PWD/build/$preset/ctest-junit.xml gtests=$PWD/build/$preset/gtest-reports
  rm -rf "$junit" "$gtests" && mkdir -p "$gtests"
  # Under Wine each GoogleTest program writes its report where count_run reads it (Z: is /).
  reports=()
  [[ -n $arch ]] && reports=(env "GTEST_OUTPUT=xml:Z:${gtests//\//\\}\\")
  "${reports[@]}" ctest --preset "$preset" "${only[@]}" --output-junit "$junit" \
    --test-output-size-passed 8000000 --test-output-size-failed 8000000 2>&1 | tee "$log"
  if ! grep -qE 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" ||
    ! count_run "$junit" "$gtests" "build/$preset/counts.txt"; then
    broken+=("$preset"); continue
  fi
  read -r good bad unrun <"build/$preset/counts.txt"
  tail -n +2 "build/$preset/counts.txt"
  passed=$((passed + good)); failed=$((failed + bad)); skipped=$((skipped + unrun))
done
scripts/stop-wine.sh

for preset in "${broken[@]}"; do
  echo "preset $preset did not build or ran no test"
  failed=$((failed + 1))
done
echo "(all done at ${SECONDS} s)"
echo "$passed passed, $failed failed, $skipped not run"
((failed == 0))
