#!/usr/bin/env bash
# Sets up (installs what is missing, builds) and runs the benchmark under
# Open MPI's mpirun in the current directory, which receives the results file
# and the scratch files. The number of processes is the first argument
# (default 3: the collector and two workers).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
processes="${1:-3}"
"$here/scripts/setup.sh" >/dev/null

flags=()
# Open MPI refuses root unless told; more processes than cores need
# oversubscription.
[ "$(id -u)" -ne 0 ] || flags+=(--allow-run-as-root)
[ "$processes" -le "$(nproc)" ] || flags+=(--oversubscribe)
exec mpirun "${flags[@]}" -np "$processes" "$here/build/quenda-lite"
