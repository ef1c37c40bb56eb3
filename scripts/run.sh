#!/usr/bin/env bash
# Sets up (installs what is missing, builds) and runs the benchmark under
# Open MPI's mpirun in the current directory, which receives the results file
# and the scratch files. The number of processes is the first argument; by
# default one per core (at least two: the collector and one worker), because
# a process without a core of its own slows the others while it waits
# (bench/wait.sh measures this; docs/performance.md has the figures).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
# Open MPI gives a node one slot per physical core, not per hardware thread,
# so count cores the same way (nproc counts hardware threads).
cores="$(lscpu -p=core,socket 2>/dev/null | grep -v '^#' | sort -u | wc -l)"
[ "$cores" -gt 0 ] || cores="$(nproc)"
processes="${1:-$((cores > 2 ? cores : 2))}"
"$here/scripts/setup.sh" >/dev/null

flags=()
# Open MPI refuses root unless told.
[ "$(id -u)" -ne 0 ] || flags+=(--allow-run-as-root)
# More processes than cores: allow it, and let waiting processes yield their
# core rather than poll.
if [ "$processes" -gt "$cores" ]; then
  flags+=(--oversubscribe --mca mpi_yield_when_idle 1)
fi
exec mpirun "${flags[@]}" -np "$processes" "$here/build/quenda-lite"
