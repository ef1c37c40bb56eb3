#!/usr/bin/env bash
# The Windows x86-64 program, cross-built with MinGW-w64 against the
# one-process MPI stand-in (test only) and run under wine: the unit tests,
# the Windows platform layer's and the stand-in's own tests, and a whole
# small run of the benchmark checked by test/windows/check_windows_run.sh
# against a Linux run of the same plan.
# Runs as root on a fresh Debian 12 machine with no standard input.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

# nlohmann-json3-dev and libboost-math-dev: configuring the tree finds them
# for tools/results.
packages=(cmake make g++ googletest libgtest-dev openmpi-bin libopenmpi-dev nlohmann-json3-dev
  libboost-math-dev g++-mingw-w64-x86-64-posix wine wine64 clang-tidy)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build=$root/build-windows
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
  -DQUENDA_MPI_STANDIN=ON -DQUENDA_WARNINGS_AS_ERRORS=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build" -j2 --target quenda-lite quenda-lite-small unit_tests \
  platform_windows_test mpi_standin_test

# The Linux build of the same small program, under Open MPI, is what the
# Windows run's report is compared with.
reference=$build/linux-reference
cmake -S . -B "$reference" -DCMAKE_BUILD_TYPE=Release \
  -DMPI_CXX_COMPILER=/usr/bin/mpicxx.openmpi \
  -DMPIEXEC_EXECUTABLE=/usr/bin/mpiexec.openmpi >/dev/null
cmake --build "$reference" -j2 --target quenda-lite-small

# A wine prefix of its own, inside the build tree. The wine server and the
# service processes that wineboot starts would hold this script's output
# open for minutes after the last program ends, so the server is started
# here and killed on the way out, whatever happens in between.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# No .NET or HTML engine: a new prefix would otherwise try to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
trap 'wineserver -k || true' EXIT
wineserver -p
wineboot -i

# The Windows half of the platform layer under the same clang-tidy checks as
# the rest of src/, parsed as MinGW-w64 code with MinGW's C++ headers.
mingw_cxx=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | head -1)
clang-tidy -p "$build" --quiet --extra-arg=--target=x86_64-w64-mingw32 \
  --extra-arg=-isystem"$mingw_cxx" --extra-arg=-isystem"$mingw_cxx/x86_64-w64-mingw32" \
  --extra-arg=-Wno-unknown-warning-option src/platform/platform_windows.cpp

ctest --test-dir "$build" --output-on-failure --no-tests=error \
  -R '^(unit_tests|platform_windows_test|mpi_standin_test)$'

bash test/windows/check_windows_run.sh "$build/test/quenda-lite-small.exe" \
  "$reference/test/quenda-lite-small" /usr/bin/mpiexec.openmpi
