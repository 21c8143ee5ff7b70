#!/bin/bash
# The main job: builds the programs and runs tunerpad under Wine against the
# simulated capture box, playing a remote-control session (or, with
# --interactive, letting you press the keys). Installs what is missing first.
#
# It runs the shipped 32-bit build wherever the kernel runs 32-bit x86 code
# itself, and the 64-bit build of the same sources where 32-bit Wine would
# run only through an emulator. The terminal shows the session's story; the
# installing and building go to a log beside the demo's other files
# (--verbose shows everything).
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"
verbose=0
deps=()
for arg in "$@"; do
  [ "$arg" = --verbose ] && verbose=1
  [ "$arg" = --docs ] && deps=(--docs)
done

i386_mode() {
  local answer
  answer=$(scripts/i386-mode.sh)
  echo "${answer%%:*}"
}

prepare() {
  if [ "$(id -u)" -eq 0 ]; then scripts/install-deps.sh "${deps[@]}"; else sudo scripts/install-deps.sh "${deps[@]}"; fi
  mode=$(i386_mode)
  echo "demo: 32-bit x86 code $(scripts/i386-mode.sh)"
  cmake --preset "$preset" -DWINE_I386="$mode"
  cmake --build --preset "$preset"
}

# Decided before the install only to name the log's folder; asked again after it.
if [ "$(i386_mode)" = native ]; then preset=win32; else preset=win64; fi
log_dir="$top/build/$preset/demo"
mkdir -p "$log_dir"
if [ "$verbose" = 1 ]; then
  prepare
else
  echo "demo: installing what is missing and building the $preset programs (log: ${log_dir#"$top"/}/prepare.log)"
  if ! prepare >"$log_dir/prepare.log" 2>&1; then
    tail -n 30 "$log_dir/prepare.log"
    echo "demo: preparing failed; see $log_dir/prepare.log" >&2
    exit 1
  fi
fi
mode=$(i386_mode)
if [ "$mode" = native ]; then built=win32; else built=win64; fi
if [ "$built" != "$preset" ]; then
  # The install made 32-bit code run differently than before it.
  preset=$built
  prepare >>"$log_dir/prepare.log" 2>&1
fi
echo "demo: the $preset build (32-bit x86 code: $mode)"
exec python3 scripts/demo.py --build "$top/build/$preset" "$@"
