#!/usr/bin/env bash
# The collector's own work as the workers grow, and one run beyond the
# 512-process cap: quenda-lite-scale, the program's code with plan {512, 16, 1024}.
source "$(dirname "$0")/common.sh"
build_targets quenda-lite-results quenda_mpi_probe quenda-lite-scale
scale_workers=${SCALE_WORKERS:-"2 16 64 511"}
scale_repeats=${SCALE_REPEATS:-3} beyond_cap=${BEYOND_CAP:-520}

# Runs COMMAND in DIR, noting its exit status and start and end times: timed DIR COMMAND...
timed() {
  local dir=$1 status=0
  shift
  date +%s.%N >"$dir/clock"
  (cd "$dir" && "$@" </dev/null >console 2>errors) || status=$?
  date +%s.%N >>"$dir/clock"
  echo "$status" >"$dir/status"
  convert "$dir"
}

echo "== The collector's own work as the workers grow: quenda-lite-scale (plan {512, 16, 1024}),"
echo "   mpi_probe preloaded; every rank waits (receives, sends, barriers) by testing and"
echo "   sleeping 1 ms, so that hundreds of waiting processes do not take the collector's core;"
echo "   medians of $scale_repeats run(s) (one above 255 workers)"
for w in $scale_workers; do
  for ((k = 1; k <= (w < 256 ? scale_repeats : 1); ++k)); do
    dir=$(fresh "scale/$w-$k")
    timed "$dir" "${launcher[@]}" -np $((w + 1)) -x LD_PRELOAD="$probe" \
      -x QUENDA_PROBE_OUT="$dir/probe" -x QUENDA_PROBE_SLEEPY_WAIT=1000 "$scale"
    # Open MPI's mpirun has been seen to end a complete run of 500 processes
    # or more with status 1 ("exiting improperly"); the collector's figures
    # are still whole, so they are kept and the status is shown.
    echo "  $w workers, run $k done (status $(cat "$dir/status"))" >&2
    [ -s "$dir/probe.0" ] ||
      { echo "no figures from the collector:" >&2; tail -5 "$dir/errors" >&2; rm -r "$dir"; }
  done
done
"${analyse[@]}" scale "$work"
echo
if ((beyond_cap > 0)); then
  echo "== One run beyond the cap: -np $beyond_cap, quenda-lite-scale"
  dir=$(fresh beyond)
  timed "$dir" ranked "$dir/rank" -np "$beyond_cap" -- "$scale"
  "${analyse[@]}" beyond "$work" "$beyond_cap" 512
  echo
fi
footer
