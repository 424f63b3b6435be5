#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine: on this desktop when there
# is one; otherwise on a virtual display, where it saves a screenshot of the
# window, prints its path and closes the program again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$(nproc)" --target quorvane >/dev/null

exe=$PWD/build/win64/bin/quorvane.exe
# A prefix of its own: the tests' prefix opens everything in a fixed-size virtual desktop.
prefix=$PWD/build/win64/wineprefix-run

if [[ -n ${DISPLAY:-} ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  exec cmake/wine-run.sh --prefix "$prefix" --here "$exe"
fi

# A new prefix takes a minute or more to make on a busy machine: made first, so
# the wait below is for the window alone.
cmake/wine-run.sh --prefix "$prefix" cmd /c exit >/dev/null
# No display: Wine's own desktop on a virtual screen draws the window frame too.
cmake/wine-run.sh --prefix "$prefix" explorer /desktop=Quorvane,1024x768 "$exe" &
runner=$!
for _ in $(seq 300); do
  [[ -f $prefix.display ]] && DISPLAY=:$(cut -d' ' -f1 "$prefix.display") xdotool search --name "Quorvane V1.7" \
    >/dev/null 2>&1 && break
  sleep 0.2
done
export DISPLAY=:$(cut -d' ' -f1 "$prefix.display")
sleep 1
shot=$PWD/build/win64/screenshots/run.png
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
echo "screenshot: $shot"
xdotool mousemove 512 384 key Escape
wait "$runner" || true
# The virtual display and the Wine server of this prefix end with the program.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
read -r _ xvfb <"$prefix.display" && kill "$xvfb" 2>/dev/null || true
rm -f "$prefix.display"
