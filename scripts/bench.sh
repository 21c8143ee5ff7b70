#!/bin/bash
# The benchmark of tunerpad under Wine: key-to-action latency, idle CPU and
# memory beside a bare 70 ms timer program, the device retry's CPU, and the
# shipped programs' sizes and imports. Builds what it measures in trees of its
# own (win64 for the runs under wine64, win32 for the shipped programs), then
# runs scripts/bench.py; the tables go to <out>/results.md and the histogram
# to docs/latency.png. Not part of the tests; about five minutes.
#
#   scripts/bench.sh [--presses N] [--seconds S] [--seed N]
#
# BENCH_BUILD64, BENCH_BUILD32 and BENCH_OUT move the trees and the results.
set -euo pipefail
top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"
if [ "$(id -u)" -eq 0 ]; then scripts/install-deps.sh; else sudo scripts/install-deps.sh; fi
build64=${BENCH_BUILD64:-$top/../build-tunerpad/win64-bench}
build32=${BENCH_BUILD32:-$top/../build-tunerpad/win32-bench}
out=${BENCH_OUT:-$top/../build-tunerpad/bench}
cmake --preset win64 -B "$build64" >/dev/null
cmake --build "$build64" -j2 --target tunerpad boxsim tvstub tvpost wineprobe idletimer
cmake --preset win32 -B "$build32" >/dev/null
cmake --build "$build32" -j2 --target tunerpad clearway setup idletimer
mkdir -p docs
export PYTHONDONTWRITEBYTECODE=1
exec python3 scripts/bench.py --build64 "$build64" --build32 "$build32" --out "$out" \
  --png docs/latency.png "$@"
