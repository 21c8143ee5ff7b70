#!/bin/bash
# Runs every test tier: the host scenario tests, then the real programs under
# Wine. Installs what a fresh Debian machine lacks first.
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

# Runs one ctest preset and adds its counts to the totals.
run_tier() {
  local preset=$1
  local log
  log=$(mktemp)
  echo "== $preset: configure and build"
  if ! cmake --preset "$preset" >"$log" 2>&1 || ! cmake --build --preset "$preset" >>"$log" 2>&1; then
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
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    local total bad
    bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
    status=1
  fi
  rm -f "$log"
}

run_tier host
run_tier win32
run_tier win64

echo
echo "all tiers: $passed passed, $failed failed"
exit $status
