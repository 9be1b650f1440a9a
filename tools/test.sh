#!/usr/bin/env bash
# Runs every test of the project on this machine, installing what the tests
# need first: the C++ suite three times (plain, under valgrind memcheck, under
# AddressSanitizer and UBSan), its concurrency tests under ThreadSanitizer, a
# time-bounded libFuzzer run over the numerical core, then the Python suite
# twice (against the installed module, and against a module built with
# AddressSanitizer and UBSan).
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=${PYTHON:-python3}
jobs=${JOBS:-2}

step() { printf '\n==> %s\n' "$*"; }

step "Python packages for the tests"
"$python" -m pip install --quiet --disable-pip-version-check -r tests/requirements.txt

# Debian packages: GoogleTest, valgrind, and clang with its libFuzzer runtime.
fuzzer_links() {
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -fsanitize=fuzzer -x c++ - -o /dev/null 2>/dev/null
}
missing=()
[ -f /usr/include/gtest/gtest.h ] || [ -f /usr/local/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v valgrind >/dev/null || missing+=(valgrind)
command -v clang++ >/dev/null || missing+=(clang)
command -v clang++ >/dev/null && fuzzer_links || missing+=(libclang-rt-dev)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    step "Debian packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing Debian packages: install them first, e.g. 'sudo apt-get install ${missing[*]}'." >&2
    exit 1
  fi
fi

cpp_suite() {  # $1: build folder, rest: extra CMake options, then ctest's after a lone -R
  local dir=$1; shift
  local options=() select=()
  while [ $# -gt 0 ]; do
    if [ "$1" = -R ]; then select=("$@"); break; fi
    options+=("$1"); shift
  done
  cmake -S . -B "$dir" -G Ninja -DLUMEVARO_TESTS=ON -DLUMEVARO_MODULE=OFF "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure "${select[@]}"
}

step "C++ tests"
cpp_suite build/test-plain

step "C++ tests under valgrind memcheck"
# One process for the whole suite. valgrind computes x87 long double in double
# precision, so the test that checks the quadrature table against long double
# formulas to one ulp cannot pass under it; the plain run above covers it.
valgrind --quiet --error-exitcode=1 --leak-check=full \
  build/test-plain/lumevaro_tests --gtest_brief=1 \
  --gtest_filter=-TanhSinhNodes.EveryEntryMatchesItsFormulaWithinOneUlp

step "C++ tests under AddressSanitizer and UBSan"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  cpp_suite build/test-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMEVARO_SANITIZE=ON

step "C++ tests of concurrent calls under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1 \
  cpp_suite build/test-thread -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMEVARO_SANITIZE_THREAD=ON \
  -R 'Threads\.'

step "Fuzzing the elliptic integrals and the models (libFuzzer, ASan, UBSan; ${FUZZ_SECONDS:-60} s)"
# The corpus grows in the build folder from run to run; a failing input is
# written there as crash-*, timeout-* or leak-* and can be replayed by giving
# its path to the binary.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMEVARO_FUZZ=ON -DLUMEVARO_SANITIZE=ON -DLUMEVARO_TESTS=OFF -DLUMEVARO_MODULE=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target fuzz_routines
mkdir -p build/fuzz/corpus
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 build/fuzz/fuzz_routines \
  -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -max_len=512 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/ build/fuzz/corpus 2>build/fuzz/last-run.log ||
  { tail -n 60 build/fuzz/last-run.log >&2; exit 1; }
grep -E '^Done|^stat::(number_of_executed_units|peak_rss_mb)' build/fuzz/last-run.log || true

if [ -f src/lib.cpp ]; then
  step "Python module"
  "$python" -m pip install --quiet --disable-pip-version-check "$root"
  step "Python tests"
  (cd tests/python && "$python" -m pytest -q -p no:cacheprovider .)

  step "Python tests against the module built with AddressSanitizer and UBSan"
  # The interpreter is not instrumented: the ASan runtime must be loaded
  # first, and libstdc++ with it so that ASan finds the C++ throw it wraps.
  # Leak detection stays off, as CPython keeps much of its memory to the end;
  # the soak test is left out because ASan's quarantine of freed memory grows
  # the resident size it watches, and so are the packaging tests, which build
  # and install wheels instead of calling the module. The sanitized_module
  # plugin checks that the tests import this build.
  sanitized=$root/build/python-sanitize
  cmake -S . -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMEVARO_MODULE=ON -DLUMEVARO_SANITIZE=ON -DLUMEVARO_TESTS=OFF \
    -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
  cmake --build "$sanitized" -j "$jobs"
  (cd tests/python &&
    LUMEVARO_SANITIZED_BUILD=$sanitized PYTHONPATH=$sanitized${PYTHONPATH:+:$PYTHONPATH} \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$python" -m pytest -q -p no:cacheprovider -p sanitized_module -m "not soak and not packaging" .)
fi
