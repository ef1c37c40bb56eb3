# Sourced by each study (settings: README.md): paths, the launcher, a scratch
# folder with a folder per run, and the results tool's CSV and JSON of a run. The
# studies start processes; analyse.py reads what the runs left and prints tables.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${QUENDA_BUILD:-$repo/build}" && pwd)
analyse=(python3 "$repo/bench/analyse.py")
program=$build/quenda-lite
bare=$build/bench/bench_bare_loops
probe=$build/bench/libquenda_mpi_probe.so
scale=$build/test/scale/quenda-lite-scale
launcher=(mpirun --oversubscribe)
[ "$(id -u)" -ne 0 ] || launcher+=(--allow-run-as-root)
[ -x /usr/bin/time ] || { echo "bench/ needs /usr/bin/time (Debian package: time)" >&2; exit 1; }

build_targets() { [ -n "${NO_BUILD:-}" ] || cmake --build "$build" -j2 --target "$@" >/dev/null; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenda-bench-XXXXXX")
if [ -n "${KEEP:-}" ]; then echo "run folders kept in $work" >&2; else trap 'rm -rf "$work"' EXIT; fi

# A new folder for one run, $work/STUDY/SERIES-ROUND; prints its path.
fresh() { mkdir -p "$work/$1" && echo "$work/$1"; }

# A launcher command whose ranks each leave "<peak KiB> <user s> <system s>
# <wall s>" in <prefix>.<rank>: ranked PREFIX LAUNCHER-ARGS... -- BINARY
ranked() {
  local prefix=$1 args=()
  shift
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  shift
  "${launcher[@]}" "${args[@]}" sh -c \
    'exec /usr/bin/time -f "%M %U %S %e" -o "$0.$OMPI_COMM_WORLD_RANK" "$@"' "$prefix" "$@"
}

# The results file a run left in FOLDER, converted to CSV and JSON beside it.
convert() {
  "$build/tools/results/quenda-lite-results" -o "$1" "$1" >/dev/null ||
    echo "$1: results file not converted" >&2
}

footer() {
  echo "date $(date -Iseconds); nproc $(nproc); kernel $(uname -r); run directory $work on" \
    "$(df --output=fstype "$work" | tail -1) ($(df --output=source "$work" | tail -1))"
}
