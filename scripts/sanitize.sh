#!/bin/bash
# Builds the host tree (the product sources on the simulated desktop, with
# every host test) under AddressSanitizer and UndefinedBehaviorSanitizer in a
# build tree of its own, and runs the host tests. Any sanitizer report fails
# the test that triggered it, and so the script.
#
#   scripts/sanitize.sh               gcc (the default compiler)
#   SANITIZE_CXX=clang++ scripts/sanitize.sh
#
# The build goes to build/sanitize (SANITIZE_BUILD_DIR overrides);
# extra arguments are passed to ctest (for instance -R Soak).
set -uo pipefail

top=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=${SANITIZE_BUILD_DIR:-$top/build/sanitize}
cxx=${SANITIZE_CXX:-g++}
case "$cxx" in
  clang++*) cc=${cxx/clang++/clang} ;;
  *) cc=${cxx/g++/gcc} ;;
esac

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The compiler must link a program with both sanitizers.
sanitizers_link() {
  local dir
  dir=$(mktemp -d)
  echo 'int main() { return 0; }' > "$dir/probe.cpp"
  "$cxx" -fsanitize=address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1 && "$dir/probe"
  local ok=$?
  rm -rf "$dir"
  return $ok
}

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake make)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev googletest)
command -v "$cxx" >/dev/null 2>&1 && sanitizers_link || case "$cxx" in
  clang++*)
    need+=(clang)
    ;;
  *) need+=(g++) ;;
esac
if [ ${#need[@]} -gt 0 ]; then
  echo "sanitize: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq >/dev/null
  if [[ "$cxx" == clang++* ]]; then
    version=$(apt-cache search --names-only '^libclang-rt-[0-9]+-dev$' | sed -E 's/^libclang-rt-([0-9]+)-dev.*/\1/' | sort -n | tail -n 1)
    [ -n "$version" ] && need+=("libclang-rt-$version-dev")
  fi
  as_root apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null || exit 1
  sanitizers_link || { echo "sanitize: $cxx cannot link with -fsanitize=address,undefined" >&2; exit 1; }
fi

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
echo "== sanitize: configure and build with $cxx in $build"
log=$(mktemp)
if ! cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
       -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
       -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
       -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >"$log" 2>&1 ||
   ! cmake --build "$build" -j "$(nproc)" >>"$log" 2>&1; then
  cat "$log"
  echo "sanitize: build failed" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

echo "== sanitize: host tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 900 "$@"
