#!/usr/bin/env bash
# Runs the real quorvane.exe under Wine and drives it from outside with xdotool,
# as a user would, keeping screenshots of what it showed.
#   end_to_end.sh window|job|big QUORVANE_EXE TEXT_REGIONS_EXE RUN_WATCH_EXE SCREENSHOT_DIR WINE_RUNNER [RUNNER_ARGS...]
# window: the tool window opens with its title, Esc ends the program with exit code 0.
# job:    choose a source in the real folder chooser, type a target, pick 同名替换,
#         run, confirm the summary, then check the files on disk.
# big:    a 1 GB font replacing an old one: the target chooser opens at the typed
#         folder; mid-run the bar stands between 10 % and 90 % (RUN_WATCH_EXE reads
#         it around its screenshot); 结束 clicked then stops the run (how soon is printed, and measured in bench/),
#         with the old file whole and no temporary left.
# Beside the screenshots of the tool window and the chooser, TEXT_REGIONS_EXE
# writes where their texts stand (main.texts, chooser.texts), for legibility.py;
# the chooser's title is read out of ui/tool_window.h.
set -uo pipefail

scenario=$1 exe=$2 regions=$3 watch=$4 shots=$5
shift 5
runner=("$@")

fail() { echo "end_to_end $scenario: $*" >&2; exit 1; }

prefix=""
for ((i = 0; i < ${#runner[@]}; i++)); do
  [[ ${runner[i]} == --prefix ]] && prefix=${runner[i + 1]}
done
[[ -n $prefix ]] || fail "the Wine runner has no --prefix"
mkdir -p "$shots"

app_pid="" work=""
# A failed check must not leave the program holding the test's output open.
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $work ]] && rm -rf "$work"
}
trap cleanup EXIT

start_app() {
  "${runner[@]}" "$exe" &
  app_pid=$!
  for _ in $(seq 100); do
    [[ -f $prefix.display ]] && break
    sleep 0.1
  done
  DISPLAY=:$(cut -d' ' -f1 "$prefix.display")
  export DISPLAY
}

# Waits for a window whose title matches; its X id.
wait_window() {
  local title=$1 id=""
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    kill -0 "$app_pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# Until COMMAND... succeeds: the state the next step needs. The limit only stops a hang.
wait_until() {
  local what=$1
  shift
  for _ in $(seq 600); do
    "$@" >/dev/null 2>&1 && return 0
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended while waiting for $what"
    sleep 0.1
  done
  fail "no $what within a minute"
}
run_watch() { "${runner[@]}" "$watch" "$@"; }
rows_are() { [[ $(run_watch rows | tr -d '\r') == "$1" ]]; }
no_window() { ! xdotool search --onlyvisible --name "$1"; }
# The tool window is up when its buttons show.
ready() {
  wait_window "Quorvane V1.7" >/dev/null || fail "no tool window"
  wait_until "buttons on the tool window" run_watch center 执行
}

shot() {
  import -window root "$shots/$1.png" || fail "no screenshot $1"
  echo "screenshot: $shots/$1.png"
}

# The texts of GROUP (see text_regions.cpp) with their places, beside screenshot NAME.
texts() {
  local group=$2 file=$shots/$1.texts
  rm -f "$file"
  "${runner[@]}" "$regions" "Z:${file//\//\\}" "$group" || fail "text_regions found no $group window"
  [[ -f $file ]] || fail "no $file"
}

# Keys go to the window under the pointer: there is no window manager.
keys() {
  xdotool mousemove 512 384
  for key in "$@"; do
    xdotool key "$key"
    sleep 0.25
  done
}

# Esc closes the window, and the program ends on its own with exit code 0.
finish() {
  keys Escape
  for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid"
    fail "still running 10 s after Esc"
  fi
  wait "$app_pid"
  local code=$?
  [[ $code -eq 0 ]] || fail "exit code $code, expected 0"
}

case $scenario in
  window)
    start_app
    ready
    shot main
    texts main main
    finish
    ;;

  job)
    work=$(mktemp -d /tmp/qv-e2e.XXXXXX)
    mkdir -p "$work/source/sub" "$work/target"
    printf 'new a' >"$work/source/a.ttf"
    printf 'new b' >"$work/source/b.otf"
    printf 'not a font' >"$work/source/notes.txt"
    printf 'new c' >"$work/source/sub/c.fon"
    printf 'new d' >"$work/source/sub/d.ttc"
    printf 'old a' >"$work/target/a.ttf"
    before=$(cd "$work/source" && find . -type f -exec md5sum {} + | sort)

    start_app
    ready
    # 浏览 of the source folder has the focus at start.
    keys space
    wait_window "选择文件夹|Browse" >/dev/null || fail "no folder chooser"
    # Wine's chooser has no edit box: walk its tree from "/" by type-ahead.
    keys shift+Tab Down Right
    IFS=/ read -r -a parts <<<"${work#/}/source"
    for part in "${parts[@]}"; do
      xdotool type --delay 60 "$part"
      sleep 0.4
      keys Right
    done
    shot chooser
    title=$(sed -nE 's/.* kChooseSourceTitle = "(.+)";/\1/p' "$(dirname "$0")/../../ui/tool_window.h")
    [[ -n $title ]] || fail "no kChooseSourceTitle in ui/tool_window.h"
    texts chooser "text=$title"
    keys Return
    wait_until "the four fonts listed" rows_are 4
    shot listed
    # The focus is back on 浏览; Shift+Tab reaches the target field with its text selected.
    keys shift+Tab
    xdotool type --delay 20 "Z:${work//\//\\}\\target"
    # Seven steps of the ring to 同名忽略, Down to 同名替换, four back to 执行.
    keys Tab Tab Tab Tab Tab Tab Tab Down
    keys shift+Tab shift+Tab shift+Tab shift+Tab space
    wait_window "执行结果" >/dev/null || fail "no summary"
    wait_until "the summary's text" run_watch summary
    shot summary
    keys Return
    wait_until "the summary closed" no_window "执行结果"
    shot done
    finish

    for font in a.ttf b.otf c.fon d.ttc; do
      [[ -f $work/target/$font ]] || fail "$font not copied"
    done
    [[ $(cat "$work/target/a.ttf") == "new a" ]] || fail "a.ttf not replaced"
    [[ $(cat "$work/target/c.fon") == "new c" ]] || fail "c.fon differs"
    [[ ! -e $work/target/notes.txt ]] || fail "notes.txt copied"
    after=$(cd "$work/source" && find . -type f -exec md5sum {} + | sort)
    [[ $before == "$after" ]] || fail "the source folder changed"
    echo "target: $(ls "$work/target" | tr '\n' ' ')"
    ;;

  big)
    # On the prefix's drive C: Wine's chooser cannot select a folder on Z:, the
    # whole Unix file system, which no Windows machine has.
    work=$(mktemp -d "$prefix/drive_c/qv-e2e-XXXXXX")
    mkdir -p "$work/source/sub" "$work/target"
    # Sparse: written at once, yet every byte is read and written by the copy.
    truncate -s 1G "$work/source/big.ttf"
    printf 'small' >"$work/source/sub/small.ttf"
    printf 'old big' >"$work/target/big.ttf"
    winpath() {
      local path=$1
      [[ $path == "$prefix/drive_c/"* ]] && path=C:/${path#"$prefix/drive_c/"} || path=Z:$path
      echo "${path//\//\\}"
    }
    target=$(winpath "$work/target")

    start_app
    ready
    run_watch drop "$(winpath "$work/source")" || fail "the drop was not taken"
    wait_until "the two dropped fonts listed" rows_are 2
    # The focus is on the source's 浏览; Shift+Tab reaches the target field with its text selected.
    keys shift+Tab
    xdotool type --delay 20 "$target"
    click() {
      local at
      at=$("${runner[@]}" "$watch" center "$1") || fail "no button $1"
      xdotool mousemove ${at//$'\r'/} click 1
      sleep 0.5
    }
    click 浏览
    wait_window "选择文件夹|Browse" >/dev/null || fail "no folder chooser for the target"
    shot chooser_target
    keys Return
    wait_until "the chooser closed" no_window "选择文件夹|Browse"
    chosen=$("${runner[@]}" "$watch" field | tr -d '\r')
    [[ ${chosen,,} == "${target,,}" ]] || fail "the target chooser opened elsewhere: chose '$chosen', not '$target'"
    click 同名替换
    line=$("${runner[@]}" "$watch" midrun "$(winpath "$shots/midrun.bmp")" 10 | tr -d '\r')
    echo "run_watch: $line"
    convert "$shots/midrun.bmp" "$shots/midrun.png" && rm -f "$shots/midrun.bmp"
    echo "screenshot: $shots/midrun.png"
    read -r _ painted _ position _ captured _ disabled _ stopped _ summary _ at_summary _ text <<<"$line"
    [[ $captured == 1 ]] || fail "no mid-run screenshot: $line"
    awk -v p="$painted" 'BEGIN { exit !(p >= 10 && p <= 90) }' ||
      fail "the screenshot shows the bar $painted % filled, not within 10-90 %"
    [[ $disabled != -1 && $stopped != -1 ]] || fail "结束 did not stop the run: $line"
    [[ $text == 本次任务共处理文件0个*'\n已结束：2 个文件未处理。' ]] || fail "summary: $text"
    shot stopped_summary
    keys Return
    wait_until "the summary closed" no_window "执行结果"
    shot stopped
    finish

    [[ $(cat "$work/target/big.ttf") == "old big" ]] || fail "the old big.ttf changed"
    [[ -z $(find "$work/target" -name '.quorvane-*') ]] || fail "a temporary was left: $(ls -a "$work/target")"
    [[ ! -e $work/target/small.ttf ]] || fail "small.ttf was copied after the stop"
    [[ $(stat -c %s "$work/source/big.ttf") == 1073741824 ]] || fail "the source changed"
    echo "stopped $stopped ms after the click (disabled after $disabled ms, summary after $summary ms)"
    ;;

  *)
    fail "unknown scenario"
    ;;
esac
echo "end_to_end $scenario: passed"
