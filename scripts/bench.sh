#!/bin/bash
# The benchmark of tunerpad under Wine: key-to-action latency, idle CPU and
# memory beside a bare 70 ms timer program, the device retry's CPU, and the
# shipped programs' sizes and imports. Builds what it measures in trees of its
# own, then runs scripts/bench.py; the tables go to <out>/results.md and the
# histogram to docs/latency.png. Not part of the tests; about five minutes.
#
# The runs use the shipped 32-bit build wherever the kernel runs 32-bit x86
# code itself, and the 64-bit build of the same sources where 32-bit Wine
# would run only through an emulator; the sizes are always the 32-bit ones.
#
#   scripts/bench.sh [--presses N] [--seconds S] [--seed N]
#
# BENCH_BUILD64, BENCH_BUILD32 and BENCH_OUT move the trees and the results.
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"
if [ "$(id -u)" -eq 0 ]; then scripts/install-deps.sh; else sudo scripts/install-deps.sh; fi
build64=${BENCH_BUILD64:-$top/build/win64-bench}
build32=${BENCH_BUILD32:-$top/build/win32-bench}
out=${BENCH_OUT:-$top/build/bench}
i386=$(scripts/i386-mode.sh)
echo "bench: 32-bit x86 code $i386"
runners=(tunerpad boxsim tvstub tvpost wineprobe idletimer)
cmake --preset win32 -B "$build32" -DWINE_I386="${i386%%:*}" >/dev/null
if [ "${i386%%:*}" = native ]; then
  echo "bench: running the shipped win32 build"
  cmake --build "$build32" -j2 --target clearway setup "${runners[@]}"
  run=$build32
else
  echo "bench: running the win64 build (32-bit Wine would be emulated)"
  cmake --preset win64 -B "$build64" -DWINE_I386="${i386%%:*}" >/dev/null
  cmake --build "$build64" -j2 --target "${runners[@]}"
  cmake --build "$build32" -j2 --target tunerpad clearway setup idletimer
  run=$build64
fi
# The instructions of one idle poll, in an optimised host build with line
# information for callgrind.
cmake --preset host -B "$top/build/host-bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build/host-bench" -j2 --target idlepoll
mkdir -p docs
export PYTHONDONTWRITEBYTECODE=1
exec python3 scripts/bench.py --run-build "$run" --build32 "$build32" --out "$out" \
  --png docs/latency.png --idlepoll "$top/build/host-bench/tools/idlepoll/idlepoll" "$@"
