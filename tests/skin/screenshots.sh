#!/usr/bin/env bash
# Screenshots of the skinned program: the real tool window alone and with its
# help window open, at 100 % and 150 % DPI (OUT/tool-100.png, OUT/skin-100.png,
# OUT/tool-150.png, OUT/skin-150.png), each on a screen of 1024 x 768 scaled
# alike; and the control gallery, whose rows, selection, progress and disabled
# button the empty tool window cannot show (OUT/skin-controls.png). Each runs in
# a Wine prefix and display of its own. Beside the tool and help shots,
# REGIONS_EXE writes where their texts stand (.texts), for legibility.py.
# Fails when a screenshot is missing or the window background is not the skin's.
#   screenshots.sh RUNNER BUILD_DIR ARCH QUORVANE_EXE GALLERY_EXE REGIONS_EXE OUT_DIR EXPECTED_BACKGROUND
set -uo pipefail
runner=$1 build=$2 arch=$3 program=$4 gallery=$5 regions=$6 out=$7 expected=$8
mkdir -p "$out"
status=0

to_windows() { echo "Z:${1//\//\\}"; }

# Starts PROGRAM ARGS... on Wine's own desktop in PREFIX at DPI; sets DISPLAY and started.
start() {
  local prefix=$1 dpi=$2
  shift 2
  local screen=$((1024 * dpi / 96))x$((768 * dpi / 96))
  export QUORVANE_SCREEN=$screen
  "$runner" --prefix "$prefix" --arch "$arch" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$runner" --prefix "$prefix" --arch "$arch" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w
  "$runner" --prefix "$prefix" --arch "$arch" explorer /desktop=quorvane,"$screen" "$@" >/dev/null 2>&1 &
  started=$!
  for _ in $(seq 100); do [[ -f $prefix.display ]] && break; sleep 0.1; done
  DISPLAY=:$(cut -d' ' -f1 "$prefix.display")
  export DISPLAY
}

# The texts of GROUP with their places, beside screenshot BASE.png. The tool
# must run on Wine's desktop of the program to see its windows.
texts() {
  local prefix=$1 base=$2 group=$3
  rm -f "$base.texts"
  "$runner" --prefix "$prefix" --arch "$arch" explorer /desktop=quorvane,"$QUORVANE_SCREEN" \
    "$(to_windows "$regions")" "$(to_windows "$base.texts")" "$group" >/dev/null 2>&1
  for _ in $(seq 100); do [[ -f $base.texts ]] && return; sleep 0.1; done
  echo "$(basename "$base").texts: not written"; status=1
}

stop() {
  local prefix=$1
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  wait "$started" 2>/dev/null
  if read -r _ pid <"$prefix.display"; then kill "$pid" 2>/dev/null; rm -f "$prefix.display"; fi
}

# The pixel at (X, Y) of SHOT must be the skin's background.
check() {
  local shot=$1 x=$2 y=$3 colour
  colour=$(convert "$shot" -format "%[hex:p{$x,$y}]" info: 2>/dev/null)
  echo "$(basename "$shot"): background $colour"
  [[ ${colour:0:6} == "$expected" ]] || { echo "expected $expected"; status=1; }
}

for dpi in 96 144; do
  percent=$((dpi * 100 / 96))
  prefix=$build/wineprefix-shots-$dpi shot=$out/skin-$percent.png
  tool=$out/tool-$percent.png
  rm -f "$shot" "$tool"
  start "$prefix" "$dpi" "$(to_windows "$program")"
  window=""
  for _ in $(seq 300); do
    window=$(xdotool search --name "Quorvane V1.7" 2>/dev/null | head -n 1)
    [[ -n $window ]] && break
    sleep 0.1
  done
  if [[ -n $window ]]; then
    sleep 1
    import -window root "$tool"
    texts "$prefix" "${tool%.png}" main
    # The window is centred; xdotool's own idea of its position inside Wine's
    # desktop is off, its size is right.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    X=$(((1024 * dpi / 96 - WIDTH) / 2)) Y=$(((768 * dpi / 96 - HEIGHT) / 2))
    # 浏览 of the source has the focus; five steps of the Tab ring reach 帮助.
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
    for key in Tab Tab Tab Tab Tab space; do xdotool key "$key"; sleep 0.25; done
    for _ in $(seq 50); do xdotool search --name "^帮助$" >/dev/null 2>&1 && break; sleep 0.1; done
    sleep 1
    import -window root "$shot"
    texts "$prefix" "${shot%.png}" help
    # Inside the client area, left of the first label: the skin's background.
    check "$shot" $((X + 17 * dpi / 96)) $((Y + 50 * dpi / 96))
  else
    echo "skin-$percent.png: no tool window"; status=1
  fi
  stop "$prefix"
done

prefix=$build/wineprefix-shots-96 shot=$out/skin-controls.png
ready=$out/.ready done=$out/.done
rm -f "$ready" "$done" "$shot"
start "$prefix" 96 "$(to_windows "$gallery")" "$(to_windows "$ready")" "$(to_windows "$done")"
for _ in $(seq 300); do [[ -e $ready ]] && break; sleep 0.1; done
if [[ -e $ready ]]; then
  import -window root "$shot"
  check "$shot" 170 150
else
  echo "skin-controls.png: the gallery did not start"; status=1
fi
touch "$done"
stop "$prefix"
rm -f "$ready" "$done"
exit $status
