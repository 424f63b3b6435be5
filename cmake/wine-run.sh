#!/usr/bin/env bash
# Runs a Windows program of one build tree under Wine: in that tree's own Wine
# prefix (created once) and on that tree's own virtual display of 1024 x 768, so
# tests see the same screen everywhere and never touch the user's desktop.
# QUORVANE_SCREEN=WxH gives a newly started display another size.
#   wine-run.sh --prefix DIR [--arch win64|win32] [--here] PROGRAM [ARGS...]
#   wine-run.sh --arch win64|win32 --can-run   exit 0 when this machine can run that build
#   wine-run.sh --prefix DIR [--arch A] --session start|end
# --here runs on the current display instead of the tree's virtual one.
# --session start ends the prefix's Wine server, if any, and starts one that
# stays until --session end: a test run's programs all connect to that one.
set -uo pipefail

prefix="" arch=win64 here=0 check=0 session=""
while (($#)); do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --here) here=1; shift ;;
    --can-run) check=1; shift ;;
    --session) session=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done

# Debian's `wine` starts the 32-bit loader when wine32 is installed, which
# then hands 64-bit programs to wine64, and falls back to wine64 without it.
# Some kernels run no 32-bit code at all, so 64-bit programs go to wine64
# directly, and 32-bit ones need the 32-bit loader itself.
if [[ $arch == win64 ]]; then
  loader=/usr/lib/wine/wine64
  [[ -x $loader ]] || loader=wine
else
  loader=/usr/lib/wine/wine
fi
[[ $arch == win64 && $loader != wine ]] && export WINELOADER=$loader
if ((check)); then
  if [[ $loader != wine && ! -x $loader ]]; then
    echo "no 32-bit Wine loader ($loader): wine32:i386 is not installed"
    exit 1
  fi
  out=$("$loader" --version 2>&1) && exit 0
  if [[ $out == *"Exec format error"* ]]; then
    echo "this machine runs no 32-bit programs (the kernel's IA-32 emulation is off)"
  else
    echo "$loader does not start: ${out##*$'\n'}"
  fi
  exit 1
fi
[[ -n $prefix && ($# -gt 0 || $session == start || $session == end) ]] ||
  { echo "usage: wine-run.sh --prefix DIR [--arch A] [--here] PROGRAM [ARGS...] | --session start|end" >&2; exit 2; }

# Wine refuses a relative WINEPREFIX.
prefix=$(realpath -m -- "$prefix")
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
((here)) || unset DISPLAY

# Ends the prefix's session: its server and every program still in it.
end_session() {
  wineserver -k 2>/dev/null 9>&-
  wineserver -w 9>&-
}
if [[ $session == end ]]; then
  end_session
  exit 0
fi

exec 9>"$prefix.lock"
flock 9

display_file=$prefix.display
if ((here)); then
  :
elif [[ -f $display_file ]] && read -r number pid <"$display_file" && kill -0 "$pid" 2>/dev/null; then
  DISPLAY=:$number
else
  for number in $(seq 90 400); do
    [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]] && continue
    setsid Xvfb ":$number" -screen 0 "${QUORVANE_SCREEN:-1024x768}x24" -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
    pid=$!
    for _ in $(seq 100); do
      [[ -e /tmp/.X11-unix/X$number ]] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if [[ -e /tmp/.X11-unix/X$number ]]; then
      echo "$number $pid" >"$display_file"
      DISPLAY=:$number
      break
    fi
  done
fi
[[ -n ${DISPLAY:-} ]] || { echo "wine-run.sh: could not start Xvfb" >&2; exit 2; }
export DISPLAY

if [[ ! -f $prefix/system.reg ]]; then
  "$loader" wineboot -i </dev/null >/dev/null 2>&1 9>&-
  wineserver -w
fi

# A zh_CN prefix gives the GUI font (MS Shell Dlg -> SimSun, 12 pixels at
# 100 %) to WenQuanYi Zen Hei when SimSun is missing. Its gasp table asks for
# black-and-white glyphs from 9 to 16 pixels, which it has no bitmaps for, so
# thin strokes fall between pixels (目 draws as 日, hyphens vanish). The Sharp
# face of the same file has bitmap strikes for 12 to 16 pixels and outlines
# above.
fonts_setup=$prefix/quorvane-fonts
fonts_wanted="SimSun 宋体 NSimSun 新宋体 -> WenQuanYi Zen Hei Sharp"
if [[ $(cat "$fonts_setup" 2>/dev/null) != "$fonts_wanted" ]]; then
  fc-list -q 'WenQuanYi Zen Hei Sharp' ||
    echo "wine-run.sh: no WenQuanYi Zen Hei Sharp (fonts-wqy-zenhei); Chinese texts lose strokes at 100 %" >&2
  added=1
  for face in ${fonts_wanted% -> *}; do
    "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "${fonts_wanted#* -> }" /f \
      </dev/null >/dev/null 2>&1 9>&- || added=0
  done
  # Tried again on the next run unless all went in.
  ((added)) && echo "$fonts_wanted" >"$fonts_setup"
fi

# Window frames draw their caption buttons as letters of Marlett ("r" is the
# close button's X). Debian's Wine 8 looks for the fonts it ships under a
# folder name it cannot open (its data folder plus "../fonts"), so no prefix
# has Marlett; the prefix's own Fonts folder is always read.
if [[ ! -f $prefix/drive_c/windows/Fonts/marlett.ttf ]]; then
  marlett=""
  for candidate in /usr/share/wine/fonts/marlett.ttf /usr/lib/x86_64-linux-gnu/wine/fonts/marlett.ttf \
                   /usr/lib/i386-linux-gnu/wine/fonts/marlett.ttf; do
    [[ -f $candidate ]] && { marlett=$candidate; break; }
  done
  if [[ -z $marlett ]]; then
    echo "wine-run.sh: no marlett.ttf (fonts-wine); caption buttons show letters" >&2
  else
    mkdir -p "$prefix/drive_c/windows/Fonts" && cp "$marlett" "$prefix/drive_c/windows/Fonts/marlett.ttf"
  fi
fi

# A server that outlives its last program by Wine's 3 s may be exiting just as
# the next program connects, which then dies with "recvmsg: Connection reset by
# peer"; tests start programs one after another, often seconds apart. A
# persistent server, started while no program can start (the lock), leaves no
# such moment. A running server, persistent or not, makes 'wineserver -p' exit
# at once, so the one found is ended first; which also gives the run a session
# of its own.
# The session's services (services.exe, winedevice.exe, ...) then live as
# long as the server and inherit the output of the program that started them:
# started here, they hold no test's output open, which its runner waits to close.
# A server of the session before that is still going away can make the first
# boot fail: it is tried again from the start, twice.
if [[ $session == start ]]; then
  for attempt in 1 2 3; do
    end_session
    if wineserver -p </dev/null >/dev/null 2>&1 9>&- && "$loader" wineboot </dev/null >/dev/null 2>&1 9>&-; then
      exit 0
    fi
    ((attempt < 3)) && sleep 1
  done
  echo "wine-run.sh: the Wine session did not start" >&2
  exit 1
fi
flock -u 9
exec 9>&-

exec "$loader" "$@"
