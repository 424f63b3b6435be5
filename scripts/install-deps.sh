#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing when it is all there.
# A mirror that is mid-sync fails one index now and then: the update is tried
# twice, then the install goes on with the indexes it has and its own result
# decides. 32-bit Wine is optional (the test command reports the win32 tests
# it cannot run), so it is installed only where the kernel runs 32-bit code,
# and a failure to install it stops nothing.
#   install-deps.sh          everything
#   install-deps.sh native   what the native builds need, so they can start
#                            while the rest installs
set -uo pipefail

# Without what they only recommend (--no-install-recommends): on a fresh machine
# that is 290 packages and 520 MB to fetch instead of 550 and 880. What of it
# the tests use is named: the X libraries Wine's display driver loads, and the
# fonts Wine falls back on. Only the POSIX-thread MinGW compilers are used.
packages=(cmake g++ make googletest clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64 fonts-wine libxcomposite1 libxcursor1 libxi6 libxss1 fonts-liberation
          xvfb xauth xdotool imagemagick fonts-wqy-zenhei locales
          fonts-wqy-microhei fonts-dejavu-core fonts-urw-base35 fontconfig
          python3 tesseract-ocr tesseract-ocr-chi-sim
          strace ansible-core python3-fonttools fonts-ipafont-gothic osslsigncode openssl libssl-dev wixl msitools)

# The native presets (linux, linux-asan, linux-static) build with these alone;
# configuring the tests reads a DejaVu font's digest.
native=(cmake g++ make googletest libssl-dev fonts-dejavu-core)
only_native=0
[[ ${1:-} == native ]] && { only_native=1; packages=("${native[@]}"); }

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "$@"; }

# Asks the kernel itself: a 32-bit program of three instructions that exits 0,
# made with binutils (which g++ brought). Neither the i386 loader (absent on a
# fresh machine) nor the kernel's config (absent in most containers) is
# always there to ask.
runs_32bit() {
  local dir status
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' |
    as --32 -o "$dir/exit.o" - 2>/dev/null && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>/dev/null &&
    "$dir/exit" 2>/dev/null
  status=$?
  rm -rf "$dir"
  return $status
}

missing() {
  local p
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done
}

updated=0
update_indexes() {
  ((updated)) && return
  updated=1
  local log
  log=$(mktemp)
  for attempt in 1 2; do
    if apt_get update -q >"$log" 2>&1 && ! grep -q '^[EW]: Failed to fetch\|^E: Some index files failed' "$log"; then
      rm -f "$log"; return
    fi
    ((attempt == 1)) && sleep 5
  done
  echo "install-deps.sh: apt-get update could not fetch every index; going on with the ones it has:"
  grep -E '^(E|W|Err):' "$log" | grep -v '^ ' | head -n 5
  rm -f "$log"
}

mapfile -t need < <(missing "${packages[@]}")
if ((${#need[@]})); then
  # fontTools takes scipy (and a C++ toolchain for Python with it) or munkres:
  # the small one, where it is not there already.
  [[ " ${need[*]} " == *" python3-fonttools "* ]] && need+=(python3-munkres)
  echo "Installing: ${need[*]}"
  update_indexes
  apt_get install -y -q --no-install-recommends "${need[@]}" || exit 1
fi
((only_native)) && exit 0

if runs_32bit; then
  if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx i386 || { "${sudo_cmd[@]}" dpkg --add-architecture i386; updated=0; }
    update_indexes
    apt_get install -y -q --no-install-recommends wine32:i386 ||
      echo "install-deps.sh: wine32:i386 could not be installed; the win32 tests that need Wine will be reported not run"
  fi
else
  echo "install-deps.sh: this kernel runs no 32-bit programs; wine32:i386 is not installed"
fi

# Wine shows Chinese texts only under a Chinese locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  "${sudo_cmd[@]}" sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null || exit 1
fi
exit 0
