#!/usr/bin/env bash
# What the waiting collector and the barrier waits cost the figures when
# processes outnumber cores: the program with a quarter of the counts as one,
# two and three processes, three ways of waiting, and bare loops run at once as
# the workers' reference; variants in rotating order within each round.
source "$(dirname "$0")/common.sh"
build_targets quenda-lite-results bench_bare_loops bench_quarter_plan quenda_mpi_probe
wait_rounds=${WAIT_ROUNDS:-5}
quarter=$build/bench/bench_quarter_plan
cycles=$((131072 / 4)) length=$((8388608 / 4))  # the quarter plan's counts

# The quarter plan, the probe preloaded: quarter_run DIR NP MPIRUN-ARGS...
quarter_run() {
  local dir=$1 np=$2
  shift 2
  (cd "$dir" && ranked "$dir/rank" -np "$np" -x LD_PRELOAD="$probe" -x QUENDA_PROBE_OUT="$dir/probe" \
    "$@" -- "$quarter" </dev/null >console 2>errors) ||
    { echo "run in $dir failed:" >&2; cat "$dir/errors" >&2; exit 1; }
  convert "$dir"
}

# LOOPS bare loops at once with the quarter counts, as LOOPS workers: one
# directory, the workers' file names, an idle thread each; nobody waiting.
bare_loops() {
  local dir=$1 k
  for ((k = 1; k <= $2; ++k)); do
    (cd "$dir" && "$bare" "$cycles" "$length" "data64-windows-$k@$(hostname).tmp" \
      "data64-windows-$k@$(hostname)" --idle-thread >"console.$k") &
  done
  wait
}

echo "== Processes beyond cores: $(nproc) cores; the program with a quarter of the counts"
echo "   ($quarter), $wait_rounds rounds, variants in rotating order; medians of rates"
variants=(alone np2 np3 np3-yield np3-spin np3-sleep bare-one bare-pair)
for ((r = 1; r <= wait_rounds; ++r)); do
  for ((v = 0; v < ${#variants[@]}; ++v)); do
    variant=${variants[(v + r) % ${#variants[@]}]}
    dir=$(fresh "wait/$variant-$r")
    case $variant in
      alone) quarter_run "$dir" 1 ;;
      np2) quarter_run "$dir" 2 ;;
      np3) quarter_run "$dir" 3 ;;
      np3-yield) quarter_run "$dir" 3 --mca mpi_yield_when_idle 1 ;;
      np3-spin) quarter_run "$dir" 3 --mca mpi_yield_when_idle 0 ;;
      # Every wait tests and sleeps 1 ms (mpi_probe): waiting costs nearly nothing.
      np3-sleep) quarter_run "$dir" 3 -x QUENDA_PROBE_SLEEPY_WAIT=1000 ;;
      bare-one) bare_loops "$dir" 1 ;;
      bare-pair) bare_loops "$dir" 2 ;;
    esac
  done
  echo "  round $r of $wait_rounds done" >&2
done
echo
"${analyse[@]}" wait "$work" "$cycles" "$length"
echo
footer
