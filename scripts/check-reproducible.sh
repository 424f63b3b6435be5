#!/usr/bin/env bash
# Builds one commit twice, in two fresh clones at paths of different lengths,
# and compares the release binaries and packages byte for byte: quorvane.exe,
# quorvane-sync.exe and quorvane_skin.dll of win64 and win32, quorvane-sync of
# linux and linux-static, and everything scripts/package.sh puts in dist/
# (the archives and the installer packages). Prints their sha256 sums; exits 1
# naming every file that differs, and for an installer package what in it does.
# Takes 4 to 6 minutes on 2 cores, so the test command does not run it.
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
  [linux-static]="quorvane-sync"
  [win64]="quorvane quorvane-sync quorvane_skin"
  [win32]="quorvane quorvane-sync quorvane_skin")
files=(build/linux/bin/quorvane-sync build/linux-static/bin/quorvane-sync
       build/win64/bin/quorvane.exe build/win64/bin/quorvane-sync.exe build/win64/bin/quorvane_skin.dll
       build/win32/bin/quorvane.exe build/win32/bin/quorvane-sync.exe build/win32/bin/quorvane_skin.dll)

for tree in "${trees[@]}"; do
  git clone -q --no-checkout . "$tree"
  git -C "$tree" checkout -q --detach "$commit"
  for preset in linux linux-static win64 win32; do
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
  echo "== ${tree#"$work"/}: packages"
  start=$SECONDS
  if ! (cd "$tree" && scripts/package.sh) >"$tree/package.log" 2>&1; then
    tail -n 30 "$tree/package.log"; echo "check-reproducible.sh: package.sh failed in $tree" >&2; exit 2
  fi
  echo "packed in $((SECONDS - start)) s"
done
mapfile -t packages < <(cd "${trees[0]}" && ls dist)
if [[ $(cd "${trees[1]}" && ls dist) != "$(printf '%s\n' "${packages[@]}")" ]]; then
  echo "not reproducible: dist/ holds other files in the second clone"; exit 1
fi
files+=("${packages[@]/#/dist/}")

differ=()
for file in "${files[@]}"; do
  one=$(sha256sum <"${trees[0]}/$file" | cut -d' ' -f1)
  two=$(sha256sum <"${trees[1]}/$file" | cut -d' ' -f1)
  if [[ $one == "$two" ]]; then
    echo "$one  $file"
  else
    echo "$one  $file (first)"; echo "$two  $file (second: differs)"
    if [[ $file == *.msi ]]; then
      diff <(msiinfo suminfo "${trees[0]}/$file") <(msiinfo suminfo "${trees[1]}/$file") | sed 's/^/    /'
      msidiff -t "${trees[0]}/$file" "${trees[1]}/$file" | head -n 40 | sed 's/^/    /'
    fi
    differ+=("$file")
  fi
done
if ((${#differ[@]})); then
  echo "not reproducible: ${differ[*]}"
  exit 1
fi
echo "reproducible: ${#files[@]} files identical in both clones of ${commit:0:12}"
