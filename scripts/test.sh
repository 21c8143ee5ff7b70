#!/bin/bash
# Runs every test tier: the host scenario tests, the same under AddressSanitizer
# and UndefinedBehaviorSanitizer, a short run of every fuzz target, then the
# real programs under Wine. Installs what a fresh Debian machine lacks first.
#
# FUZZ_SECONDS sets the time each fuzz target runs (default 15);
# SANITIZE_SOAK_HOURS the virtual hours of the sanitized soak (default 6: the
# full day runs in the host tier, and the sanitizers slow it tenfold).
set -uo pipefail

top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$top"

if [ "$(id -u)" -eq 0 ]; then
  scripts/install-deps.sh || exit 1
else
  sudo scripts/install-deps.sh || exit 1
fi

passed=0
failed=0
status=0

# Adds the counts of a ctest summary in `log` to the totals; a run without
# one (the build failed) counts as one failure.
count_ctest() {
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    status=1
    return
  fi
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# Runs one ctest preset and adds its counts to the totals; further
# arguments go to its configure step.
run_tier() {
  local preset=$1
  shift
  local log
  log=$(mktemp)
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" "$@" >"$log" 2>&1 || ! cmake --build --preset "$preset" >>"$log" 2>&1; then
    cat "$log"
    echo "== $preset: build failed"
    failed=$((failed + 1))
    status=1
    rm -f "$log"
    return
  fi
  echo "== $preset: tests"
  ctest --preset "$preset" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  count_ctest "$log"
  rm -f "$log"
}

# The host tests again, built with both sanitizers; each test counts.
run_sanitized() {
  local log
  log=$(mktemp)
  echo "== sanitize: host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  SOAK_HOURS=${SANITIZE_SOAK_HOURS:-6} scripts/sanitize.sh 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  count_ctest "$log"
  rm -f "$log"
}

# Every fuzz target for a short while over its committed corpus; each target
# counts as one test.
run_fuzz() {
  local log ok bad
  log=$(mktemp)
  echo "== fuzz: every target for ${FUZZ_SECONDS:-15} s"
  FUZZ_SECONDS=${FUZZ_SECONDS:-15} scripts/fuzz.sh 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  ok=$(grep -cE '^fuzz: [a-z_]+: [0-9]+ executions' "$log")
  bad=$(grep -cE '^fuzz: [a-z_]+: FAILED' "$log")
  if [ $((ok + bad)) -eq 0 ]; then
    bad=1
    status=1
  fi
  passed=$((passed + ok))
  failed=$((failed + bad))
  rm -f "$log"
}

# Decided once for the run: where the kernel runs 32-bit x86 code itself, the
# shipped win32 build runs every end-to-end scenario and win64 a smoke run;
# where it runs only through an emulator, the other way round.
i386=$(scripts/i386-mode.sh)
i386_mode=${i386%%:*}
echo "== 32-bit x86 code: $i386"
if [ "$i386_mode" = native ]; then
  echo "== Wine tier: every end-to-end scenario on the shipped win32 build; win64 runs its import checks and a smoke scenario"
else
  echo "== Wine tier: every end-to-end scenario on the win64 build; win32 runs its import checks and a smoke scenario"
fi

# Runs one tier (named first) and says how long it took.
timed() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  echo "== $name: $((SECONDS - start)) s"
}

timed host run_tier host
timed sanitize run_sanitized
timed fuzz run_fuzz
timed win32 run_tier win32 -DWINE_I386="$i386_mode"
timed win64 run_tier win64 -DWINE_I386="$i386_mode"

# The platform tests must be the same list in the host build and in the
# Windows build that ran them under Wine.
contract_list() {
  ctest --test-dir "$1" -N -L contract 2>/dev/null | sed -nE 's/^ *Test +#[0-9]+: (contract\..*)$/\1/p' | sort
}
if [ "$i386_mode" = native ]; then wine_full=build/win32; else wine_full=build/win64; fi
host_list=$(contract_list build/host)
wine_list=$(contract_list "$wine_full")
if [ -n "$host_list" ] && [ "$host_list" = "$wine_list" ]; then
  echo "== contract: the same $(echo "$host_list" | wc -l) platform tests in build/host and $wine_full"
  passed=$((passed + 1))
else
  echo "== contract: the platform test lists differ between build/host and $wine_full:"
  diff <(echo "$host_list") <(echo "$wine_list")
  failed=$((failed + 1))
  status=1
fi

echo
echo "all tiers: $passed passed, $failed failed"
exit $status
