# Sourced by the bench scripts: the build, the launcher, a scratch folder of
# one folder per run, and the conversion of a run's results file to CSV and
# JSON. The scripts only start processes; bench/analyse.py reads what the runs
# left and prints the tables.
#
# Environment: QUENDA_BUILD (build directory, default ./build), NO_BUILD (set:
# use the build as it is, e.g. another tree's), KEEP (set: keep the run folders).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${QUENDA_BUILD:-$repo/build}" && pwd)
analyse=(python3 "$repo/bench/analyse.py")

program=$build/quenda-lite
results_tool=$build/tools/results/quenda-lite-results
bare=$build/bench/bench_bare_loops
baseline=$build/bench/bench_mpi_baseline
quarter=$build/bench/bench_quarter_plan
probe=$build/bench/libquenda_collector_probe.so
scale=$build/test/scale/quenda-lite-scale
driver=$build/test/syscall/syscall_profile_driver
tests=(stream_handling descriptor_handling bytewise_write bytewise_read block_read block_write)

# Builds the given targets unless NO_BUILD is set.
build_targets() { [ -n "${NO_BUILD:-}" ] || cmake --build "$build" -j2 --target "$@" >/dev/null; }

launcher=(mpirun)
[ "$(id -u)" -ne 0 ] || launcher+=(--allow-run-as-root)
launcher+=(--oversubscribe)

work=$(mktemp -d "${TMPDIR:-/tmp}/quenda-bench-XXXXXX")
if [ -n "${KEEP:-}" ]; then
  echo "run folders kept in $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi

# A new empty folder for one run, $work/STUDY/SERIES-ROUND; prints its path.
fresh() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1"
  echo "$work/$1"
}

# Runs a launcher command with a per-rank wrapper that records each rank's peak
# resident set (KiB), user and system CPU seconds and wall seconds in
# <prefix>.<rank>: ranked PREFIX LAUNCHER-ARGS... -- BINARY
ranked() {
  [ -x /usr/bin/time ] || { echo "the bench scripts need /usr/bin/time (Debian package: time)" >&2; exit 1; }
  local prefix=$1
  shift
  local args=()
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  shift
  "${launcher[@]}" "${args[@]}" sh -c \
    'exec /usr/bin/time -f "%M %U %S %e" -o "$0.$OMPI_COMM_WORLD_RANK" "$@"' "$prefix" "$@"
}

# The results file a run left in FOLDER, as CSV and JSON beside it.
convert() {
  "$results_tool" -o "$1" "$1" >/dev/null || echo "the results file in $1 was not converted" >&2
}

# Where and on what the figures were taken.
footer() {
  echo "date $(date -Iseconds); nproc $(nproc); kernel $(uname -r); run directory $work on" \
    "$(df --output=fstype "$work" | tail -1) ($(df --output=source "$work" | tail -1))"
}
