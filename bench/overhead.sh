#!/usr/bin/env bash
# The six single-process figures of the shipped program against bare loops of
# the same calls, and peak memory per rank against a bare MPI rank. Each round
# runs the three series in rotating order; the tables give medians over rounds.
source "$(dirname "$0")/common.sh"
build_targets quenda-lite quenda-lite-results bench_bare_loops bench_mpi_baseline
rounds=${ROUNDS:-10} memory_runs=${MEMORY_RUNS:-3}
baseline=$build/bench/bench_mpi_baseline

echo "== Single-process tests: the shipped program against bare loops of the same calls"
echo "program:     $program run as 'mpirun --bind-to none -np 1' (figures from its results file)"
echo "bare:        $bare (hand-written loops, no MPI, no report)"
echo "bare+thread: the same with one idle thread, as an MPI rank has its library's threads"
echo "$rounds rounds; each round runs all three in rotating order, each in a fresh directory"
echo
order=(program bare bare+thread)
for ((r = 1; r <= rounds; ++r)); do
  for ((k = 0; k < 3; ++k)); do
    series=${order[(k + r) % 3]}
    dir=$(fresh "overhead/$series-$r")
    # Not bound to a core, as the bare loops are not: the comparison is of the
    # program's code, not of the launcher's placement.
    case $series in
      program) command=("${launcher[@]}" --bind-to none -np 1 "$program") ;;
      bare) command=("$bare") ;;
      bare+thread) command=("$bare" --idle-thread) ;;
    esac
    (cd "$dir" && "${command[@]}" </dev/null >console 2>errors) ||
      { echo "$series run failed:" >&2; cat "$dir/errors" >&2; exit 1; }
    [ "$series" != program ] || convert "$dir"
  done
  echo "  round $r of $rounds done" >&2
done
"${analyse[@]}" overhead "$work"
echo

echo "== Peak resident memory per rank (VmHWM via /usr/bin/time %M), -np 3, full counts"
echo "   baseline: $baseline, a rank that starts, passes three barriers and finalises"
for ((m = 1; m <= memory_runs; ++m)); do
  for series in baseline program; do
    dir=$(fresh "memory/$series-$m")
    (cd "$dir" && ranked "$dir/rss" -np 3 -- "${!series}" </dev/null >console)
  done
done
"${analyse[@]}" memory "$work"
echo
footer
