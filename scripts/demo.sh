#!/bin/bash
# The main job: builds the programs and runs tunerpad under Wine against the
# simulated capture box, playing a remote-control session (or, with
# --interactive, letting you press the keys). Installs what is missing first.
#
# It runs the shipped 32-bit build wherever the kernel runs 32-bit x86 code
# itself, and the 64-bit build of the same sources where 32-bit Wine would
# run only through an emulator. The terminal shows the session's story; the
# installing and building go to build/demo-prepare.log (--verbose shows
# everything).
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"
verbose=0
deps=()
for arg in "$@"; do
  [ "$arg" = --verbose ] && verbose=1
  [ "$arg" = --docs ] && deps=(--docs)
done

# Installing first: it is what makes 32-bit code run, so the build to run
# is decided after it.
prepare() {
  if [ "$(id -u)" -eq 0 ]; then scripts/install-deps.sh "${deps[@]}"; else sudo scripts/install-deps.sh "${deps[@]}"; fi
  i386=$(scripts/i386-mode.sh)
  mode=${i386%%:*}
  if [ "$mode" = native ]; then preset=win32; else preset=win64; fi
  echo "demo: 32-bit x86 code $i386"
  cmake --preset "$preset" -DWINE_I386="$mode"
  cmake --build --preset "$preset"
}

if [ "$verbose" = 1 ]; then
  prepare
else
  log=build/demo-prepare.log
  mkdir -p build
  echo "demo: installing what is missing and building (log: $log)"
  if ! prepare >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "demo: preparing failed; see $log" >&2
    exit 1
  fi
fi
echo "demo: the $preset build (32-bit x86 code: $mode)"
exec python3 scripts/demo.py --build "$top/build/$preset" "$@"
