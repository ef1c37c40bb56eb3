#!/usr/bin/env bash
# The six single-process figures of the shipped program next to bare loops of
# the same calls, and peak memory per rank next to a bare MPI rank. The machine
# is assumed to be shared and noisy: each round runs all three series in
# rotating order, and the tables give medians over the rounds.
#
#   bench/overhead.sh   environment: ROUNDS (default 10), MEMORY_RUNS (default 3),
#                       and those of bench/common.sh; needs Open MPI's mpirun
source "$(dirname "$0")/common.sh"
build_targets quenda-lite quenda-lite-results bench_bare_loops bench_mpi_baseline
rounds=${ROUNDS:-10}
memory_runs=${MEMORY_RUNS:-3}

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
    case $series in
      # Not bound to a core, as the bare loops are not: the comparison is of the
      # program's code, not of the launcher's placement.
      program) (cd "$dir" && "${launcher[@]}" --bind-to none -np 1 "$program" </dev/null >console 2>errors) ||
        { echo "program run failed:" >&2; cat "$dir/errors" >&2; exit 1; }
        convert "$dir" ;;
      bare) (cd "$dir" && "$bare" >console) || { echo "bare loops failed" >&2; exit 1; } ;;
      bare+thread) (cd "$dir" && "$bare" --idle-thread >console) || { echo "bare loops failed" >&2; exit 1; } ;;
    esac
  done
  echo "  round $r of $rounds done" >&2
done
"${analyse[@]}" overhead "$work"
echo

echo "== Peak resident memory per rank (VmHWM via /usr/bin/time %M), -np 3, full counts"
echo "   baseline: $baseline, a rank that starts, passes three barriers and finalises"
for ((m = 1; m <= memory_runs; ++m)); do
  dir=$(fresh "memory/baseline-$m")
  (cd "$dir" && ranked "$dir/rss" -np 3 -- "$baseline" </dev/null >/dev/null)
  dir=$(fresh "memory/program-$m")
  (cd "$dir" && ranked "$dir/rss" -np 3 -- "$program" </dev/null >console)
done
"${analyse[@]}" memory "$work"
echo
footer
