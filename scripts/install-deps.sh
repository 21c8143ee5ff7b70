#!/bin/bash
# Installs the build, test and Wine tools on a Debian machine, as root.
# Safe to run again: only packages that are missing are installed.
# With --docs also what the demo's pictures of the Japanese and Taiwanese
# wizard need: a CJK font and the two locales whose code pages they use.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  cmake g++ make libgtest-dev libgmock-dev googletest
  clang
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  nsis
  wine wine32:i386 wine64
  xvfb xauth x11-utils xdotool imagemagick
  qemu-user-static
  python3
  valgrind
)

DOCS_LOCALES=(ja_JP zh_TW)
docs=0
if [ "${1:-}" = --docs ]; then
  docs=1
  PACKAGES+=(fonts-wqy-zenhei locales)
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: must run as root" >&2
  exit 1
fi

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for pkg in "${PACKAGES[@]}"; do
  installed "$pkg" || missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed"
else
  echo "install-deps: missing: ${missing[*]}"
  for pkg in "${missing[@]}"; do
    # Wine's 32-bit half comes from the i386 archive.
    if [[ "$pkg" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      echo "install-deps: adding the i386 architecture"
      dpkg --add-architecture i386
      break
    fi
  done
  echo "install-deps: apt-get update"
  apt-get update -qq >/dev/null
  echo "install-deps: apt-get install ${#missing[@]} packages"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  for pkg in "${missing[@]}"; do
    if ! installed "$pkg"; then
      echo "install-deps: $pkg did not install" >&2
      exit 1
    fi
  done
  echo "install-deps: installed ${missing[*]}"
fi

# The sanitizers' and libFuzzer's runtime for clang comes in a package named
# after clang's major version (libclang-rt-14-dev on bookworm): take the
# version of the clang installed, else of the one the archive offers.
clang_major() {
  local v
  v=$(clang --version 2>/dev/null | sed -nE 's/.*clang version ([0-9]+)\..*/\1/p' | head -n 1)
  [ -n "$v" ] || v=$(apt-cache depends clang 2>/dev/null | sed -nE 's/^ *Depends: clang-([0-9]+)$/\1/p' | head -n 1)
  echo "$v"
}
version=$(clang_major)
if [ -z "$version" ]; then
  echo "install-deps: cannot tell clang's version" >&2
  exit 1
fi
runtime="libclang-rt-$version-dev"
if ! installed "$runtime"; then
  if [ -z "$(apt-cache policy "$runtime" 2>/dev/null | sed -nE 's/^ *Candidate: (.+)$/\1/p' | grep -v '(none)')" ]; then
    echo "install-deps: apt-get update"
    apt-get update -qq >/dev/null
  fi
  echo "install-deps: apt-get install $runtime"
  apt-get install -y -qq --no-install-recommends "$runtime" >/dev/null
  if ! installed "$runtime"; then
    echo "install-deps: $runtime did not install" >&2
    exit 1
  fi
fi
echo "install-deps: clang $version with $runtime"

if [ "$docs" = 1 ]; then
  for name in "${DOCS_LOCALES[@]}"; do
    if ! locale -a | grep -qix "$name.utf8"; then
      echo "install-deps: making the locale $name.UTF-8"
      localedef -i "$name" -f UTF-8 "$name.UTF-8"
    fi
  done
fi

echo "install-deps: enabling 32-bit x86 programs"
exec "$(dirname "$(readlink -f "$0")")/enable-i386.sh"
