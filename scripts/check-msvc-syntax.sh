#!/usr/bin/env bash
# Compiles every Windows source of the program as MSVC would read it (clang in
# MSVC mode, -fsyntax-only), against MinGW's Windows headers and C++ library,
# since no MSVC runs here. Catches what only GCC accepts. Exit 1 on any error.
#   check-msvc-syntax.sh [SOURCE...]     (default: every non-POSIX source)
set -uo pipefail
cd "$(dirname "$0")/.."

gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
cxx=$gcc_dir/include/c++
flags=(--target=x86_64-pc-windows-msvc -fsyntax-only -std=c++20 -fms-extensions -fno-ms-compatibility
       -Wall -Wextra -Wpedantic -Werror -nostdinc++ -nostdlibinc
       -isystem "$(clang++ -print-resource-dir)/include" -isystem "$cxx" -isystem "$cxx/x86_64-w64-mingw32"
       -isystem /usr/x86_64-w64-mingw32/include
       -D_UCRT -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -I.)

if (($#)); then
  sources=("$@")
else
  mapfile -t sources < <(git ls-files 'base/*.cpp' 'sync/*.cpp' 'cli/*.cpp' 'frame/*.cpp' 'ui/*.cpp' 'app/*.cpp' \
                                       'skin/*.cpp' | grep -v '_posix\.cpp$')
fi

failed=0
for source in "${sources[@]}"; do
  version=(-D_WIN32_WINNT=0x0601 -DWINVER=0x0601)
  # MinGW's shobjidl.h has Windows 7 helpers that only MSVC's own __uuidof
  # compiles; the Vista level leaves them out and keeps everything we call.
  grep -q 'shlobj.h\|shellapi.h' "$source" && version=(-D_WIN32_WINNT=0x0600 -DWINVER=0x0600)
  if ! out=$(clang++ "${flags[@]}" "${version[@]}" "$source" 2>&1); then
    echo "$source:"; echo "$out" | grep -E 'error|warning' | head -n 5
    failed=$((failed + 1))
  fi
done
echo "${#sources[@]} sources read as MSVC would, $failed with errors"
((failed == 0))
