#!/usr/bin/env bash
# The program and its tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding ends the process, so the run fails),
# then the unit tests, the small-count end-to-end runs and the hostile runs
# under the real mpirun. The full-size runs are left to the plain build: they
# test the plan, not memory safety, and take minutes each.
# Runs as root on a fresh Debian 12 machine with no standard input, after
# scripts/setup.sh (as .ci/run does), which installs what every build needs.
set -euo pipefail
cd "$(dirname "$0")/../.."

# util-linux and mount: unshare and mount for the hostile runs' private scenes.
packages=(cmake make g++ googletest libgtest-dev openmpi-bin libopenmpi-dev util-linux mount
  clang-tidy libboost-math-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# GCC's -Wmaybe-uninitialized misfires inside libstdc++'s <regex> once
# sanitizers instrument it; the plain build keeps that warning.
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DCMAKE_CXX_FLAGS="$flags -Wno-maybe-uninitialized" >/dev/null
cmake --build build-asan -j2 --target quenda-lite quenda-lite-small unit_tests e2e_tests \
  hostile_tests exchange_test results_fuzz_test

# allocator_may_return_null=1: the block read asks for a buffer as long as the
# file claims to be, and a directory on ext4 claims 2^63 - 1 bytes; the program
# uses new (std::nothrow) and takes the null it gets as an empty file, where
# the sanitizer's allocator would otherwise end the process.
export ASAN_OPTIONS=allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1

# Leaks: Open MPI keeps what it allocates in MPI_Init until the process ends,
# and unloads its components in MPI_Finalize, so their blocks show up with
# "<unknown module>" frames. With the slow unwinder every such stack still
# reaches the Open MPI library that called in, and these suppressions name
# only Open MPI's libraries and the two it runs on (hwloc, libevent); a leak
# in the program's own code is still reported.
cat > build-asan/lsan-open-mpi.supp <<'SUPP'
leak:libmpi.so
leak:libopen-pal.so
leak:libopen-rte.so
leak:libhwloc.so
leak:libevent_core
SUPP
leak_check="$ASAN_OPTIONS:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$(pwd)/build-asan/lsan-open-mpi.supp:print_suppressions=0"
ASAN_OPTIONS=$leak_check build-asan/test/unit_tests
ASAN_OPTIONS=$leak_check build-asan/test/e2e_tests --gtest_filter='-FullSizeRunTest.*'
ASAN_OPTIONS=$leak_check ctest --test-dir build-asan --output-on-failure --no-tests=error \
  -R '^exchange_test$'
# The results tool on a few hundred mutated results files, a few seconds. It
# runs no MPI, so the fast unwinder serves its leak check.
build-asan/tools/results/test/results_fuzz_test
# The hostile runs go through the same code with more processes and in
# stranger places, looking for memory errors and undefined behaviour; the slow
# unwinder would make them several times slower, so the leak check is left to
# the runs above.
ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" build-asan/test/hostile/hostile_tests

# clang-tidy over the program's own sources (.clang-tidy: bugprone-* and
# performance-*), compiled as the sanitizer build compiles them.
mapfile -t sources < <(sed -n 's|^ *"file": "\(.*\)",\{0,1\}$|\1|p' build-asan/compile_commands.json |
  grep "^$(pwd)/src/")
((${#sources[@]})) || { echo "no source of src/ in build-asan/compile_commands.json" >&2; exit 1; }
clang-tidy -p build-asan --quiet --extra-arg=-Wno-unknown-warning-option "${sources[@]}"
