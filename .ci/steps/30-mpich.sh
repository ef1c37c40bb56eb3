#!/usr/bin/env bash
# The program and its tests built against MPICH (Debian's mpich, beside Open
# MPI) with warnings as errors, and the test suite run under MPICH's launcher
# (hydra). The full-size runs are left to the Open MPI build: they test the
# plan, not the MPI, and take minutes each.
# Runs as root on a fresh Debian 12 machine with no standard input, after
# scripts/setup.sh (as .ci/run does), which installs what every build needs.
set -euo pipefail
cd "$(dirname "$0")/../.."

# What scripts/setup.sh installs for the whole tree, so that the step also
# runs on its own, and MPICH.
packages=(g++ cmake make openmpi-bin libopenmpi-dev libgtest-dev googletest strace
  nlohmann-json3-dev libboost-math-dev libxml2-utils librsvg2-bin chromium mpich libmpich-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Installing MPICH registers its mpicc/mpirun as alternatives. Open MPI's
# priority is the higher one, so automatic mode keeps it; a machine left in
# manual mode could differ, and the default build must keep Open MPI.
keep_open_mpi() {
  local group=$1 link=$2 choice=$3
  if [[ $(readlink -f "$link") != $(readlink -f "$choice") ]]; then
    echo "$link pointed to $(readlink -f "$link"); restoring Open MPI"
    update-alternatives --set "$group" "$choice"
  fi
}
keep_open_mpi mpi /usr/bin/mpicxx /usr/bin/mpicc.openmpi
keep_open_mpi mpirun /usr/bin/mpirun /usr/bin/mpirun.openmpi
compiler=$(/usr/bin/mpicxx --showme:version 2>&1 || true)
launcher=$(/usr/bin/mpirun --version 2>&1 || true)
if [[ $compiler != *"Open MPI"* || $launcher != *"Open MPI"* ]]; then
  echo "mpicxx or mpirun is not Open MPI's: '$compiler' / '${launcher%%$'\n'*}'" >&2
  exit 1
fi

cmake -S . -B build-mpich -DCMAKE_BUILD_TYPE=Release \
  -DMPI_CXX_COMPILER=/usr/bin/mpicxx.mpich \
  -DMPIEXEC_EXECUTABLE=/usr/bin/mpiexec.mpich \
  -DQUENDA_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-mpich -j2

# The program must really be MPICH's: a build that picked Open MPI's headers
# or libraries would pass every test below and prove nothing.
linked=$(ldd build-mpich/test/quenda-lite-small)
if [[ $linked != *libmpich.so* || $linked == *libmpi.so* ]]; then
  echo "quenda-lite-small is not linked against MPICH alone:" >&2
  echo "$linked" >&2
  exit 1
fi

ctest --test-dir build-mpich --output-on-failure --no-tests=error -j2 -E '^FullSizeRunTest\.'
