#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing when it is all there.
set -euo pipefail

packages=(cmake g++ make googletest clang libclang-rt-14-dev mingw-w64 wine wine64 wine32:i386 fonts-wine
          xvfb xauth xdotool imagemagick fonts-wqy-zenhei locales
          fonts-wqy-microhei fonts-dejavu-core fonts-urw-base35 fontconfig
          python3 tesseract-ocr tesseract-ocr-chi-sim
          strace ansible-core python3-fonttools fonts-ipafont-gothic osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

# Wine shows Chinese texts only under a Chinese locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  "${sudo_cmd[@]}" sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
