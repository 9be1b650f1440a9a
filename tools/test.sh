#!/usr/bin/env bash
# Runs every test of the project on this machine, installing what the tests
# need first: the C++ suite twice (plain, then under AddressSanitizer and
# UBSan), then the Python suite against the installed module.
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=${PYTHON:-python3}
jobs=${JOBS:-2}

step() { printf '\n==> %s\n' "$*"; }

step "Python packages for the tests"
"$python" -m pip install --quiet --disable-pip-version-check -r tests/requirements.txt

if [ ! -f /usr/include/gtest/gtest.h ] && [ ! -f /usr/local/include/gtest/gtest.h ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    step "GoogleTest (libgtest-dev)"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev >/dev/null
  else
    echo "GoogleTest is missing: install it first, e.g. 'sudo apt-get install libgtest-dev'." >&2
    exit 1
  fi
fi

cpp_suite() {  # $1: build folder, rest: extra CMake options
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DLUMEVARO_TESTS=ON -DLUMEVARO_MODULE=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

step "C++ tests"
cpp_suite build/test-plain

step "C++ tests under AddressSanitizer and UBSan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  cpp_suite build/test-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMEVARO_SANITIZE=ON

if [ -f src/lib.cpp ]; then
  step "Python module"
  "$python" -m pip install --quiet --disable-pip-version-check "$root"
  step "Python tests"
  (cd tests/python && "$python" -m pytest -q -p no:cacheprovider .)
fi
