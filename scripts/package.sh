#!/usr/bin/env bash
# Builds the release packages into dist/:
#   quorvane-VERSION-win64.zip, quorvane-VERSION-win32.zip
#       quorvane.exe, quorvane-sync.exe, README.md, docs/deploy.md, docs/deploy/
#   quorvane-VERSION-x64.msi, quorvane-VERSION-x86.msi
#       the same files of win64 and win32, installed per machine into
#       Program Files\Quorvane (scripts/make-msi.py, Debian's wixl)
#   quorvane-sync-VERSION-linux-x86_64.tar.gz
#       quorvane-sync (linked statically), the same documents
#   SHA256SUMS
# VERSION is the project's, from CMakeLists.txt. The same commit packs the same
# bytes in any folder: every time in the archives and installer packages is
# SOURCE_DATE_EPOCH (the commit's time unless set), and order, owners and
# modes are fixed.
#
#   package.sh [--sign PFX [--timestamp URL]] [--dist DIR]
#
# --sign signs both executables of each Windows package, and the installer
# packages, with Authenticode (osslsigncode), the PFX's password taken from
# QUORVANE_SIGN_PASSWORD. The signing time is SOURCE_DATE_EPOCH, so two
# signed builds match, and no time-stamp authority is asked unless
# --timestamp names one (RFC 3161).
# The builds are the presets' trees, build/win64, build/win32 and
# build/linux-static: made when missing, reused (and brought up to date) when not.
set -euo pipefail

caller=$PWD
cd "$(dirname "$0")/.."

fail() { echo "package.sh: $*" >&2; exit 2; }
usage() { fail "usage: package.sh [--sign PFX [--timestamp URL]] [--dist DIR]"; }
# Paths are the caller's, relative ones too.
from_caller() { [[ $1 == /* ]] && echo "$1" || echo "$caller/$1"; }

pfx="" tsa="" dist=$PWD/dist
while (($#)); do
  case $1 in
    --sign) (($# >= 2)) || usage; pfx=$(from_caller "$2"); shift 2 ;;
    --timestamp) (($# >= 2)) || usage; tsa=$2; shift 2 ;;
    --dist) (($# >= 2)) || usage; dist=$(from_caller "$2"); shift 2 ;;
    -h | --help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) usage ;;
  esac
done
if [[ -n $tsa && -z $pfx ]]; then fail "--timestamp needs --sign"; fi
for tool in wixl msibuild; do
  command -v $tool >/dev/null || fail "$tool is missing (apt-get install wixl msitools)"
done
if [[ -n $pfx ]]; then
  [[ -f $pfx && -r $pfx ]] || fail "cannot read the certificate $pfx"
  command -v osslsigncode >/dev/null || fail "osslsigncode is missing (apt-get install osslsigncode)"
fi

version=$(sed -nE 's/^project\(Quorvane VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || fail "no project version in CMakeLists.txt"
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || fail "not a git checkout: set SOURCE_DATE_EPOCH"
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is not a number of seconds: $SOURCE_DATE_EPOCH"
export SOURCE_DATE_EPOCH
if [[ -n $(git status --porcelain --untracked-files=no 2>/dev/null) ]]; then
  echo "package.sh: warning: uncommitted changes go into the packages, dated as the last commit" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

build() { # PRESET TARGET...
  local preset=$1 log=$work/build-$1.log
  shift
  echo "building $preset: $*"
  if ! { { [[ -f build/$preset/CMakeCache.txt ]] || cmake --preset "$preset"; } &&
         cmake --build --preset "$preset" -j "$(nproc)" --target "$@"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    fail "the $preset build failed"
  fi
}
build linux-static quorvane-sync
build win64 quorvane quorvane-sync
build win32 quorvane quorvane-sync

# A stale tree would pack another version under this one's name.
built=$(build/linux-static/bin/quorvane-sync --version)
[[ $built == "quorvane-sync $version" ]] || fail "build/linux-static says \"$built\", CMakeLists.txt $version"
# (grep reads to the end: with -q, strings would die of a closed pipe.)
for arch in win64 win32; do
  strings -a "build/$arch/bin/quorvane-sync.exe" | grep -x "quorvane-sync $version" >/dev/null ||
    fail "build/$arch/bin/quorvane-sync.exe is not version $version"
  strings -el "build/$arch/bin/quorvane.exe" | grep -x "$version.0" >/dev/null ||
    fail "build/$arch/bin/quorvane.exe carries no version resource of $version"
done

documents() { # DIR: README.md, docs/deploy.md and all of docs/deploy/ as committed
  install -D -m 0644 README.md "$1/README.md"
  install -D -m 0644 docs/deploy.md "$1/docs/deploy.md"
  local file
  while IFS= read -r file; do
    install -D -m 0644 "$file" "$1/$file"
  done < <(git ls-files docs/deploy 2>/dev/null || find docs/deploy -type f ! -path '*/__pycache__/*')
}

sign() { # UNSIGNED SIGNED
  local args=(sign -pkcs12 "$pfx" -readpass "$work/password" -h sha256 -n Quorvane)
  if [[ -n $tsa ]]; then args+=(-ts "$tsa"); else args+=(-time "$SOURCE_DATE_EPOCH"); fi
  if ! osslsigncode "${args[@]}" -in "$1" -out "$2" >"$work/sign.log" 2>&1; then
    cat "$work/sign.log" >&2
    fail "signing $1 with $pfx failed"
  fi
}
if [[ -n $pfx ]]; then
  (umask 077 && printf '%s' "${QUORVANE_SIGN_PASSWORD-}" >"$work/password")
fi

# zip keeps local times to 2 s from 1980 on: the epoch's UTC time is written,
# so every machine writes the same. Unix modes go into the external attributes.
zip_tree() { # STAGE TOP ZIP
  python3 - "$@" "$SOURCE_DATE_EPOCH" <<'EOF'
import os, stat, sys, time, zipfile

stage, top, out, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
stamp = time.gmtime(max(epoch, 315532800))[:6]
names = [top]
for root, dirs, files in os.walk(os.path.join(stage, top)):
    names += [os.path.relpath(os.path.join(root, name), stage) for name in dirs + files]
with zipfile.ZipFile(out, "w") as archive:
    # Parents first, then their entries by name, as tar --sort=name lists them.
    for name in sorted(names, key=lambda name: name.split(os.sep)):
        path = os.path.join(stage, name)
        is_dir = os.path.isdir(path)
        info = zipfile.ZipInfo(name + "/" if is_dir else name, stamp)
        info.create_system = 3
        if is_dir:
            info.external_attr = (stat.S_IFDIR | 0o755) << 16 | 0x10
            archive.writestr(info, b"")
        else:
            mode = 0o755 if os.stat(path).st_mode & 0o100 else 0o644
            info.external_attr = (stat.S_IFREG | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as data:
                archive.writestr(info, data.read(), compresslevel=9)
EOF
}

out=$work/out
mkdir -p "$out"
declare -A msi_arch=([win64]=x64 [win32]=x86)
for arch in win64 win32; do
  top=quorvane-$version-$arch
  mkdir -p "$work/$arch/$top"
  for exe in quorvane.exe quorvane-sync.exe; do
    if [[ -n $pfx ]]; then
      sign "build/$arch/bin/$exe" "$work/$arch/$top/$exe"
      chmod 0755 "$work/$arch/$top/$exe"
    else
      install -m 0755 "build/$arch/bin/$exe" "$work/$arch/$top/$exe"
    fi
  done
  documents "$work/$arch/$top"
  zip_tree "$work/$arch" "$top" "$out/$top.zip"
  msi=quorvane-$version-${msi_arch[$arch]}.msi
  scripts/make-msi.py --arch "${msi_arch[$arch]}" --version "$version" --epoch "$SOURCE_DATE_EPOCH" \
    "$work/$arch/$top" "$work/$msi" || fail "making $msi failed"
  if [[ -n $pfx ]]; then
    sign "$work/$msi" "$out/$msi"
  else
    mv "$work/$msi" "$out/$msi"
  fi
done

top=quorvane-sync-$version-linux-x86_64
mkdir -p "$work/linux/$top"
install -m 0755 build/linux-static/bin/quorvane-sync "$work/linux/$top/quorvane-sync"
documents "$work/linux/$top"
tar --create --format=gnu --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    --mode='u=rwX,go=rX' -C "$work/linux" "$top" | gzip -9 -n >"$out/$top.tar.gz"

(cd "$out" && export LC_ALL=C && sha256sum -- * >SHA256SUMS)

# Only now does dist change: a failure above leaves what was there.
mkdir -p "$dist"
for file in "$out"/*; do
  mv -f "$file" "$dist/"
done
echo "packages of $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH${pfx:+, signed}) in $dist:"
(cd "$dist" && cat SHA256SUMS)
