#!/usr/bin/env bash
# Builds one commit twice, in two fresh clones at paths of different lengths,
# and compares the release binaries byte for byte: quorvane.exe,
# quorvane-sync.exe and quorvane_skin.dll of win64 and win32, quorvane-sync of
# linux. Prints their sha256 sums; exits 1 naming every file that differs.
# Takes about 7 minutes on 2 cores, so the test command does not run it.
#   check-reproducible.sh [--keep] [COMMIT]    (default HEAD; --keep leaves the clones)
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
if [[ ${1:-} == --keep ]]; then keep=1; shift; fi
commit=$(git rev-parse --verify "${1:-HEAD}^{commit}")

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-repro.XXXXXX")
((keep)) || trap 'rm -rf "$work"' EXIT
trees=("$work/one" "$work/second-build-with-a-longer-path/two")

declare -A targets=(
  [linux]="quorvane-sync"
  [win64]="quorvane quorvane-sync quorvane_skin"
  [win32]="quorvane quorvane-sync quorvane_skin")
files=(linux/bin/quorvane-sync
       win64/bin/quorvane.exe win64/bin/quorvane-sync.exe win64/bin/quorvane_skin.dll
       win32/bin/quorvane.exe win32/bin/quorvane-sync.exe win32/bin/quorvane_skin.dll)

for tree in "${trees[@]}"; do
  git clone -q --no-checkout . "$tree"
  git -C "$tree" checkout -q --detach "$commit"
  for preset in linux win64 win32; do
    echo "== ${tree#"$work"/}: $preset"
    start=$SECONDS
    log=$tree/build-$preset.log
    # shellcheck disable=SC2086  # the targets are words
    if ! (cd "$tree" && cmake --preset "$preset" -DQUORVANE_TESTS=OFF &&
          cmake --build --preset "$preset" -j 2 --target ${targets[$preset]}) >"$log" 2>&1; then
      tail -n 30 "$log"; echo "check-reproducible.sh: the $preset build failed in $tree" >&2; exit 2
    fi
    echo "built in $((SECONDS - start)) s"
  done
done

differ=()
for file in "${files[@]}"; do
  one=$(sha256sum <"${trees[0]}/build/$file" | cut -d' ' -f1)
  two=$(sha256sum <"${trees[1]}/build/$file" | cut -d' ' -f1)
  if [[ $one == "$two" ]]; then
    echo "$one  $file"
  else
    echo "$one  $file (first)"; echo "$two  $file (second: differs)"
    differ+=("$file")
  fi
done
if ((${#differ[@]})); then
  echo "not reproducible: ${differ[*]}"
  exit 1
fi
echo "reproducible: ${#files[@]} files identical in both builds of ${commit:0:12}"
