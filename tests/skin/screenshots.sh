#!/usr/bin/env bash
# Screenshots of the skinned gallery at 100 % and 150 % DPI, each in a Wine
# prefix and virtual display of its own, saved as OUT/skin-<percent>.png.
# Fails when a screenshot is missing or its window background is not the skin's.
#   screenshots.sh RUNNER BUILD_DIR ARCH GALLERY_EXE OUT_DIR EXPECTED_BACKGROUND
set -uo pipefail
runner=$1 build=$2 arch=$3 gallery=$4 out=$5 expected=$6
mkdir -p "$out"
status=0

for dpi in 96 144; do
  percent=$((dpi * 100 / 96))
  prefix=$build/wineprefix-shots-$dpi
  "$runner" --prefix "$prefix" --arch "$arch" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
  "$runner" --prefix "$prefix" --arch "$arch" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w
  ready=$out/.ready-$dpi done=$out/.done-$dpi shot=$out/skin-$percent.png
  rm -f "$ready" "$done" "$shot"
  to_windows() { echo "Z:${1//\//\\}"; }
  "$runner" --prefix "$prefix" --arch "$arch" explorer /desktop=quorvane,1024x768 \
    "$(to_windows "$gallery")" "$(to_windows "$ready")" "$(to_windows "$done")" >/dev/null 2>&1 &
  started=$!
  for _ in $(seq 900); do [[ -e $ready ]] && break; sleep 0.1; done
  read -r number _ <"$prefix.display"
  [[ -e $ready ]] && DISPLAY=:$number import -window root "$shot"
  touch "$done"
  wait $started
  rm -f "$ready" "$done"
  # Left of the window's client area, below the caption: the skin's background.
  colour=$(convert "$shot" -format '%[hex:p{170,150}]' info: 2>/dev/null)
  echo "skin-$percent.png: background $colour"
  [[ ${colour:0:6} == "$expected" ]] || { echo "expected $expected"; status=1; }
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  if read -r _ pid <"$prefix.display"; then kill "$pid" 2>/dev/null; rm -f "$prefix.display"; fi
done
exit $status
