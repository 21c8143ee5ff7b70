#!/bin/bash
# The main job: builds the programs and runs tunerpad under Wine against the
# simulated capture box, playing a remote-control session (or, with
# --interactive, letting you press the keys). Installs what is missing first.
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"
if [ "$(id -u)" -eq 0 ]; then scripts/install-deps.sh; else sudo scripts/install-deps.sh; fi
cmake --preset win64 >/dev/null
cmake --build --preset win64
cmake --preset win32 >/dev/null
cmake --build --preset win32
exec python3 scripts/demo.py --build "$top/../build-tunerpad/win64" "$@"
