#!/bin/bash
# The main job: builds the programs and runs tunerpad under Wine against the
# simulated capture box, playing a remote-control session (or, with
# --interactive, letting you press the keys). Installs what is missing first.
#
# It runs the shipped 32-bit build wherever the kernel runs 32-bit x86 code
# itself, and the 64-bit build of the same sources where 32-bit Wine would
# run only through an emulator.
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"
if [ "$(id -u)" -eq 0 ]; then scripts/install-deps.sh; else sudo scripts/install-deps.sh; fi
i386=$(scripts/i386-mode.sh)
if [ "${i386%%:*}" = native ]; then preset=win32; else preset=win64; fi
echo "demo: 32-bit x86 code $i386"
echo "demo: running the $preset build"
cmake --preset "$preset" -DWINE_I386="${i386%%:*}" >/dev/null
cmake --build --preset "$preset"
exec python3 scripts/demo.py --build "$top/build/$preset" "$@"
