#!/bin/bash
# Builds the libFuzzer targets of fuzz/ with clang (-fsanitize=fuzzer,address,
# undefined) and runs each one for a bounded time over its committed corpus.
# Fails on any crash, sanitizer report or broken invariant; the input that
# found it is left in <build>/artifacts/.
#
#   scripts/fuzz.sh            every target for 20 s (FUZZ_SECONDS overrides)
#   scripts/fuzz.sh --long     every target for 10 minutes
#   scripts/fuzz.sh receiver_fuzz ...   only the targets named
#
# The build goes to build/fuzz (FUZZ_BUILD_DIR overrides). New
# inputs are kept there, not in the committed corpus under fuzz/corpus/.
set -uo pipefail

top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
seconds=${FUZZ_SECONDS:-20}
targets=()
for arg in "$@"; do
  case "$arg" in
    --long) seconds=${FUZZ_SECONDS:-600} ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) targets+=("$arg") ;;
  esac
done
build=${FUZZ_BUILD_DIR:-$top/build/fuzz}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# A compiler that links libFuzzer: clang with its runtime libraries.
fuzzer_links() {
  local dir
  dir=$(mktemp -d)
  printf '%s\n' '#include <cstdint>' '#include <cstddef>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' > "$dir/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1
  local ok=$?
  rm -rf "$dir"
  return $ok
}

if ! command -v clang++ >/dev/null 2>&1 || ! fuzzer_links || ! command -v cmake >/dev/null 2>&1; then
  echo "fuzz: installing clang, its runtime libraries and cmake"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq >/dev/null
  version=$(apt-cache search --names-only '^libclang-rt-[0-9]+-dev$' | sed -E 's/^libclang-rt-([0-9]+)-dev.*/\1/' | sort -n | tail -n 1)
  pkgs=(clang cmake make)
  [ -n "$version" ] && pkgs+=("libclang-rt-$version-dev")
  as_root apt-get install -y -qq --no-install-recommends "${pkgs[@]}" >/dev/null || exit 1
  fuzzer_links || { echo "fuzz: clang cannot link libFuzzer" >&2; exit 1; }
fi

echo "== fuzz: configure and build in $build"
log=$(mktemp)
if ! cmake -S "$top/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$log" 2>&1 ||
   ! cmake --build "$build" -j "$(nproc)" >>"$log" 2>&1; then
  cat "$log"
  echo "fuzz: build failed" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

if [ ${#targets[@]} -eq 0 ]; then
  for t in receiver_fuzz country_fuzz registry_fuzz uninstall_fuzz ini_fuzz; do
    [ -x "$build/$t" ] && targets+=("$t")
  done
fi

status=0
summary=()
mkdir -p "$build/artifacts"
for t in "${targets[@]}"; do
  if [ ! -x "$build/$t" ]; then
    echo "fuzz: no target $t" >&2
    status=1
    summary+=("$t: FAILED (no such target)")
    continue
  fi
  # REDerUro.ini texts are tried with lines of 10,000 characters and more.
  case "$t" in
    ini_fuzz) max_len=32768 ;;
    *) max_len=8192 ;;
  esac
  seeds="$top/fuzz/corpus/$t"
  work="$build/corpus/$t"
  mkdir -p "$work" "$seeds"
  out="$build/$t.log"
  echo "== fuzz: $t for ${seconds}s over $(ls "$seeds" | wc -l) committed inputs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len="$max_len" \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$work" "$seeds" >"$out" 2>&1
  rc=$?
  execs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$out" | grep -Eo '[0-9]+$' | tail -n 1)
  cov=$(grep -Eo 'cov: [0-9]+' "$out" | tail -n 1 | grep -Eo '[0-9]+')
  units=$(ls "$work" | wc -l)
  if [ $rc -ne 0 ]; then
    status=1
    grep -E 'invariant broken|ERROR: AddressSanitizer|runtime error|ERROR: libFuzzer|SUMMARY|Test unit written' "$out" | head -n 20
    summary+=("$t: FAILED (exit $rc) after ${execs:-?} executions; see $out and $build/artifacts/")
  else
    summary+=("$t: ${execs:-?} executions, coverage ${cov:-?}, corpus $units inputs, no crash")
  fi
done

echo
for line in "${summary[@]}"; do echo "fuzz: $line"; done
exit $status
