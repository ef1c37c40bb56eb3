#!/usr/bin/env bash
# Measures the benchmark against bare references and prints the tables that
# docs/performance.md quotes.
#
#   bench/run.sh [overhead]   the six single-process figures of the shipped
#                             program next to bare loops of the same calls,
#                             and peak memory per rank next to a bare MPI rank
#   bench/run.sh wait         what the waiting collector and the barrier waits
#                             cost the figures when processes outnumber cores
#   bench/run.sh scale        the collector's own work as the workers grow, and
#                             one run beyond the 512-process cap
#   bench/run.sh instructions the user-space instructions of each single-process
#                             test against the bare loop's (callgrind): the same
#                             comparison as overhead, without the machine's noise
#   bench/run.sh all          all four
#
# Environment: QUENDA_BUILD (build directory, default ./build), ROUNDS
# (overhead rounds, default 10), WAIT_ROUNDS (default 5), SCALE_WORKERS
# (default "2 16 64 511"), SCALE_REPEATS (default 3), BEYOND_CAP (processes of
# the run beyond the cap, default 520; 0 skips it), MEMORY_RUNS (default 3),
# KEEP (set: keep the raw data and run directories). Needs Open MPI's mpirun
# (it uses --mca, -x and OMPI_COMM_WORLD_RANK) and /usr/bin/time.
#
# The machine is assumed to be shared and noisy: every mode alternates the
# things it compares within each round and reports medians over the rounds.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${QUENDA_BUILD:-$repo/build}" && pwd)
mode=${1:-overhead}
rounds=${ROUNDS:-10}
wait_rounds=${WAIT_ROUNDS:-5}
scale_workers=${SCALE_WORKERS:-"2 16 64 511"}
scale_repeats=${SCALE_REPEATS:-3}
beyond_cap=${BEYOND_CAP:-520}
memory_runs=${MEMORY_RUNS:-3}

program=$build/quenda-lite
bare=$build/bench/bench_bare_loops
baseline=$build/bench/bench_mpi_baseline
quarter=$build/bench/bench_quarter_plan
probe=$build/bench/libquenda_collector_probe.so
scale=$build/test/scale/quenda-lite-scale
driver=$build/test/syscall/syscall_profile_driver

cmake --build "$build" -j2 --target quenda-lite bench_bare_loops bench_mpi_baseline \
  bench_quarter_plan quenda_collector_probe quenda-lite-scale syscall_profile_driver >/dev/null

launcher=(mpirun)
[ "$(id -u)" -ne 0 ] || launcher+=(--allow-run-as-root)
launcher+=(--oversubscribe)
[ -x /usr/bin/time ] || { echo "bench/run.sh needs /usr/bin/time (Debian package: time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenda-bench-XXXXXX")
if [ -n "${KEEP:-}" ]; then
  echo "raw data and run directories kept in $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi

tests=(stream_handling descriptor_handling bytewise_write bytewise_read block_read block_write)

# --- small helpers -----------------------------------------------------------------

# A new empty directory for one run; prints its path.
fresh() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1"
  echo "$work/$1"
}

# Median of the numbers on standard input ("nan" for none).
median() {
  sort -g | awk '{ v[NR] = $1 }
    END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2];
          else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Values of one key from a "<key...> <value>" file: values FILE KEY...
values() {
  local file=$1
  shift
  awk -v key="$*" '{ k = $1; for (i = 2; i < NF; ++i) k = k " " $i; if (k == key) print $NF }' "$file"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0 || a == "nan" || b == "nan") print "nan"; else printf "%.3f", a / b }'; }

# Runs a launcher command with a per-rank wrapper that records each rank's peak
# resident set (KiB), user and system CPU seconds and wall seconds in
# <prefix>.<rank>: ranked PREFIX LAUNCHER-ARGS... -- BINARY
ranked() {
  local prefix=$1
  shift
  local args=()
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  shift
  "${launcher[@]}" "${args[@]}" sh -c \
    'exec /usr/bin/time -f "%M %U %S %e" -o "$0.$OMPI_COMM_WORLD_RANK" "$@"' "$prefix" "$@"
}

# The six single-process elapsed times of a console report, one per line.
single_times() { awk '/^The system spent: / { if (++n <= 6) print $4 }' "$1"; }

# The six single-process rates of a console report (files or accesses per second).
single_rates() {
  awk '/^Multi-Thread Enabled:/ { exit }
       /^The system could process / { print $5 }
       /^It was: / { print $3 * 1000000 }' "$1"
}

# Worker rates of a console report: "<test index> <rank> <rate>", tests 1..6.
worker_rates() {
  awk -v workers="$2" '
    /^Thread:/ && / The system could process / { n++; print int((n - 1) / workers) + 1, $1, $(NF - 1) }
    /^Thread:/ && / It was: / { n++; print int((n - 1) / workers) + 1, $1, $(NF - 2) * 1000000 }' "$1"
}

# --- overhead: program against bare loops, and memory per rank -----------------

run_program_single() {
  local dir
  dir=$(fresh program)
  # Not bound to a core, as the bare loops are not: the comparison is of the
  # program's code, not of the launcher's placement.
  (cd "$dir" && "${launcher[@]}" --bind-to none -np 1 "$program" </dev/null >console 2>errors) || {
    echo "program run failed:" >&2; cat "$dir/errors" >&2; exit 1; }
  paste -d' ' <(printf '%s\n' "${tests[@]}") <(single_times "$dir/console") |
    sed "s/^/program $1 /" >>"$work/overhead.dat"
}

# The bare loops; with a second argument, with an idle thread as well.
run_bare_single() {
  local dir series=bare
  dir=$(fresh bare)
  if [ $# -gt 1 ]; then
    series=bare+thread
    (cd "$dir" && "$bare" --idle-thread >console) || { echo "bare loops failed" >&2; exit 1; }
  else
    (cd "$dir" && "$bare" >console) || { echo "bare loops failed" >&2; exit 1; }
  fi
  sed "s/^/$series $1 /" "$dir/console" >>"$work/overhead.dat"
}

# Median of one series' times of one test.
series_median() { awk -v s="$1" -v t="$2" '$1 == s && $3 == t { print $4 }' "$work/overhead.dat" | median; }

# Per-round ratios of two series for one test, one per line.
round_ratios() {
  awk -v a="$1" -v b="$2" -v t="$3" '$3 == t { v[$1 " " $2] = $4 }
    END { for (r = 1; (a " " r) in v; ++r) if ((b " " r) in v) print v[a " " r] / v[b " " r] }' \
    "$work/overhead.dat"
}

overhead() {
  echo "== Single-process tests: the shipped program against bare loops of the same calls"
  echo "program:     $program run as 'mpirun --bind-to none -np 1' (figures from its console report)"
  echo "bare:        $bare (hand-written loops, no MPI, no report)"
  echo "bare+thread: the same with one idle thread, as an MPI rank has its library's threads"
  echo "$rounds rounds; each round runs all three in rotating order, each in a fresh directory"
  echo
  : >"$work/overhead.dat"
  local order=(program bare bare+thread)
  for ((r = 1; r <= rounds; ++r)); do
    for ((k = 0; k < 3; ++k)); do
      case ${order[(k + r) % 3]} in
        program) run_program_single "$r" ;;
        bare) run_bare_single "$r" ;;
        bare+thread) run_bare_single "$r" thread ;;
      esac
    done
    echo "  round $r of $rounds done" >&2
  done
  printf '%-20s %11s %11s %11s %8s %8s  %s\n' test "program s" "bare s" "+thread s" \
    "p/bare" "p/+thr" "per-round p/bare: median [min..max]"
  for t in "${tests[@]}"; do
    local p b bt per_round
    p=$(series_median program "$t")
    b=$(series_median bare "$t")
    bt=$(series_median bare+thread "$t")
    # Each round's pair was measured minutes apart at most, so slow spells of a
    # shared machine cancel in these ratios more than in the medians above.
    per_round=$(round_ratios program bare "$t")
    printf '%-20s %11.6g %11.6g %11.6g %8s %8s  %.3f [%.3f..%.3f]\n' "$t" "$p" "$b" "$bt" \
      "$(ratio "$p" "$b")" "$(ratio "$p" "$bt")" "$(median <<<"$per_round")" \
      "$(sort -g <<<"$per_round" | head -1)" "$(sort -g <<<"$per_round" | tail -1)"
  done
  echo "(times are medians over the rounds; p/bare = median program time / median bare time,"
  echo " 1.000 meaning no difference; p/+thr the same against bare+thread)"
  echo
  memory
}

memory() {
  echo "== Peak resident memory per rank (VmHWM via /usr/bin/time %M), -np 3, full counts"
  : >"$work/memory.dat"
  for ((m = 1; m <= memory_runs; ++m)); do
    local dir
    dir=$(fresh memory-base)
    (cd "$dir" && ranked "$dir/rss" -np 3 -- "$baseline" </dev/null >/dev/null)
    for k in 0 1 2; do echo "baseline $k $(cut -d' ' -f1 "$dir/rss.$k")" >>"$work/memory.dat"; done
    dir=$(fresh memory-program)
    (cd "$dir" && ranked "$dir/rss" -np 3 -- "$program" </dev/null >console)
    for k in 0 1 2; do echo "program $k $(cut -d' ' -f1 "$dir/rss.$k")" >>"$work/memory.dat"; done
  done
  printf '%-12s %14s %14s %12s %20s\n' rank "program KiB" "baseline KiB" "diff KiB" "limit (base+9 MiB)"
  for k in 0 1 2; do
    local p b
    p=$(values "$work/memory.dat" program "$k" | median)
    b=$(values "$work/memory.dat" baseline "$k" | median)
    printf '%-12s %14.0f %14.0f %12.0f %14.0f %s\n' "$k" "$p" "$b" "$((${p%.*} - ${b%.*}))" \
      "$((${b%.*} + 9216))" "$( ((${p%.*} <= ${b%.*} + 9216)) && echo within || echo OVER)"
  done
  echo "(baseline: $baseline, a rank that starts, passes three barriers and finalises;"
  echo " the limit is the baseline plus the 8 MiB block buffer plus 1 MiB; medians of $memory_runs run(s))"
  echo
}

# --- wait: oversubscription, the waiting collector and the barrier waits ----------

wait_variant() {
  local name=$1 round=$2
  shift 2
  local dir
  dir=$(fresh "wait-$name")
  local np=$1
  shift
  (cd "$dir" && ranked "$dir/rank" -np "$np" -x LD_PRELOAD="$probe" -x QUENDA_PROBE_OUT="$dir/probe" \
    "$@" -- "$quarter" </dev/null >console 2>errors) || {
    echo "run $name failed:" >&2; cat "$dir/errors" >&2; exit 1; }
  local i=0
  while read -r rate; do
    echo "$name single ${tests[i]} $rate" >>"$work/wait.dat"
    i=$((i + 1))
  done < <(single_rates "$dir/console")
  if ((np > 1)); then
    worker_rates "$dir/console" $((np - 1)) |
      awk -v n="$name" -v t="${tests[*]}" '{ split(t, names, " "); s[$1] += $3; c[$1]++ }
        END { for (k = 1; k <= 6; ++k) if (c[k]) print n, "workers", names[k], s[k] / c[k] }' \
      >>"$work/wait.dat"
  fi
  read -r _ _ _ wall <"$dir/rank.0"
  echo "$name wall $wall" >>"$work/wait.dat"
  echo "$name collector_waiting $(waiting "$dir/probe.0" recv all)" >>"$work/wait.dat"
  if ((np > 1)); then
    for ((k = 1; k < np; ++k)); do waiting "$dir/probe.$k" barrier first; done |
      awk -v n="$name" '{ s += $1; w += $2; c++ } END { print n, "worker_first_barrier", s / c, w / c }' \
      >>"$work/wait.dat"
  fi
}

# From a probe file: "<CPU share> <wall seconds>" of the time spent inside one
# kind of call (recv or barrier), over all of them or only the first.
waiting() {
  awk -v kind="$2" -v which="$3" '
    $1 == kind "_enter" { w0 = $2; c0 = $3 }
    $1 == kind "_leave" { if (which == "first" && n) next; wall += $2 - w0; cpu += $3 - c0; n++ }
    END { if (wall > 0) print cpu / wall, wall; else print "nan 0" }' "$1"
}

# LOOPS bare loops at once with the quarter counts, as LOOPS workers: one
# directory, the workers' file names, an idle thread each; nobody waiting.
# Records their mean rates under SERIES: wait_bare SERIES LOOPS
wait_bare() {
  local series=$1 loops=$2 dir
  dir=$(fresh "wait-$series")
  local cycles=$((131072 / 4)) length=$((8388608 / 4)) node k
  node=$(hostname)
  for ((k = 1; k <= loops; ++k)); do
    (cd "$dir" && "$bare" "$cycles" "$length" "data64-windows-$k@$node.tmp" \
      "data64-windows-$k@$node" --idle-thread >"console.$k") &
  done
  wait
  cat "$dir"/console.* | awk -v series="$series" -v c="$cycles" -v l="$length" '
    { credited = c }
    $1 ~ /^bytewise/ { credited = l + int(l / 2) }
    $1 ~ /^block/ { credited = l }
    { s[$1] += credited / $2; n[$1]++ }
    END { for (k in s) print series, "workers", k, s[k] / n[k] }' >>"$work/wait.dat"
}

wait_study() {
  echo "== Processes beyond cores: $(nproc) cores; the program with a quarter of the counts"
  echo "   ($quarter), $wait_rounds rounds, variants in rotating order; medians of rates"
  : >"$work/wait.dat"
  local variants=(alone np2 np3 np3-yield np3-spin np3-sleep bare-one bare-pair)
  for ((r = 1; r <= wait_rounds; ++r)); do
    for ((v = 0; v < ${#variants[@]}; ++v)); do
      case ${variants[(v + r) % ${#variants[@]}]} in
        alone) wait_variant alone "$r" 1 ;;
        np2) wait_variant np2 "$r" 2 ;;
        np3) wait_variant np3 "$r" 3 ;;
        np3-yield) wait_variant np3-yield "$r" 3 --mca mpi_yield_when_idle 1 ;;
        np3-spin) wait_variant np3-spin "$r" 3 --mca mpi_yield_when_idle 0 ;;
        # Every wait tests and sleeps 1 ms (collector_probe): waiting costs nearly nothing.
        np3-sleep) wait_variant np3-sleep "$r" 3 -x QUENDA_PROBE_SLEEPY_WAIT=1000 ;;
        bare-one) wait_bare bare-one 1 ;;
        bare-pair) wait_bare bare-pair 2 ;;
      esac
    done
    echo "  round $r of $wait_rounds done" >&2
  done
  echo
  echo "Collector's single-process rates (rate relative to -np 1 in brackets):"
  printf '%-20s %12s %21s %21s %21s %21s %21s\n' test "-np 1" "-np 2" "-np 3" "-np 3 yield=1" \
    "-np 3 yield=0" "-np 3 sleepy waits"
  for t in "${tests[@]}"; do
    local a row=""
    a=$(values "$work/wait.dat" alone single "$t" | median)
    for v in np2 np3 np3-yield np3-spin np3-sleep; do
      local x
      x=$(values "$work/wait.dat" "$v" single "$t" | median)
      row+=$(printf ' %12.6g [%6s]' "$x" "$(ratio "$x" "$a")")
    done
    printf '%-20s %12.6g%s\n' "$t" "$a" "$row"
  done
  echo
  echo "Mean worker rate (relative, in brackets, to as many bare loops run at once in one"
  echo "directory with the workers' file names: one loop for -np 2, two for -np 3):"
  printf '%-20s %12s %21s %12s %21s %21s %21s %21s\n' test "one bare" "-np 2" "bare pair" "-np 3" \
    "-np 3 yield=1" "-np 3 yield=0" "-np 3 sleepy waits"
  for t in "${tests[@]}"; do
    local a one two row=""
    one=$(values "$work/wait.dat" bare-one workers "$t" | median)
    two=$(values "$work/wait.dat" np2 workers "$t" | median)
    a=$(values "$work/wait.dat" bare-pair workers "$t" | median)
    row=$(printf ' %12.6g [%6s] %12.6g' "$two" "$(ratio "$two" "$one")" "$a")
    for v in np3 np3-yield np3-spin np3-sleep; do
      local x
      x=$(values "$work/wait.dat" "$v" workers "$t" | median)
      row+=$(printf ' %12.6g [%6s]' "$x" "$(ratio "$x" "$a")")
    done
    printf '%-20s %12.6g%s\n' "$t" "$one" "$row"
  done
  echo
  echo "Waiting (medians): the share of a core that a waiting process takes while it waits"
  echo "(its thread's CPU time / wall time inside the call), and how long it waits:"
  printf '%-12s %10s %28s %30s\n' variant "run wall s" "collector in MPI_Recv" \
    "each worker in 1st MPI_Barrier"
  for v in alone np2 np3 np3-yield np3-spin np3-sleep; do
    local c w
    c=$(awk -v v="$v" '$1 == v && $2 == "collector_waiting" { print $3 }' "$work/wait.dat" | median)
    w=$(awk -v v="$v" '$1 == v && $2 == "collector_waiting" { print $4 }' "$work/wait.dat" | median)
    local bc bw
    bc=$(awk -v v="$v" '$1 == v && $2 == "worker_first_barrier" { print $3 }' "$work/wait.dat" | median)
    bw=$(awk -v v="$v" '$1 == v && $2 == "worker_first_barrier" { print $4 }' "$work/wait.dat" | median)
    printf '%-12s %10.2f %12s core, %7.2f s %14s core, %7.2f s\n' "$v" \
      "$(values "$work/wait.dat" "$v" wall | median)" "$c" "$w" "$bc" "$bw"
  done
  echo "(-np 1 has no worker and no receive; the first barrier is where the workers wait"
  echo " while the collector runs its single-process tests)"
  echo
}

# --- scale: the collector's work as workers grow; one run beyond the cap ----------

# From a probe file, for one clock (column 2: wall, column 3: the collector
# thread's CPU time): "<phase C work> <tail> <phase A work>" in seconds. Work is
# the collector's time outside its receives within the phase; the tail runs
# from the last receive to finalisation, which follows the last line at once.
probe_summary() {
  awk -v column="$2" '{ e[NR] = $1; t[NR] = $column }
    END {
      b = 0
      for (i = 1; i <= NR; ++i) {
        if (e[i] == "barrier_leave") { b++; start[b] = t[i] }
        if (e[i] == "barrier_enter" && b == 1) endA = t[i]
        if (e[i] == "recv_enter") enter = t[i]
        if (e[i] == "recv_leave") { inside[b] += t[i] - enter; last = t[i] }
        if (e[i] == "finalize") fin = t[i]
      }
      print (fin - start[3]) - inside[3], fin - last, (endA - start[1]) - inside[1]
    }' "$1"
}

scale_study() {
  echo "== The collector's own work as the workers grow: quenda-lite-scale (plan {512, 16, 1024}),"
  echo "   collector_probe preloaded; every rank waits (receives, sends, barriers) by testing and sleeping 1 ms, so that"
  echo "   hundreds of waiting processes do not take the collector's core; medians of"
  echo "   $scale_repeats run(s) (one above 255 workers)"
  : >"$work/scale.dat"
  for w in $scale_workers; do
    local repeats=$scale_repeats
    ((w < 256)) || repeats=1
    for ((k = 1; k <= repeats; ++k)); do
      local dir start end status=0
      dir=$(fresh "scale-$w")
      start=$(date +%s.%N)
      (cd "$dir" && "${launcher[@]}" -np $((w + 1)) -x LD_PRELOAD="$probe" \
        -x QUENDA_PROBE_OUT="$dir/probe" -x QUENDA_PROBE_SLEEPY_WAIT=1000 "$scale" \
        </dev/null >console 2>errors) || status=$?
      end=$(date +%s.%N)
      # Open MPI's mpirun has been seen to end a complete run of 500 processes
      # or more with status 1 ("exiting improperly"); the collector's figures
      # are still whole, so they are kept and the status is shown.
      if [ ! -s "$dir/probe.0" ]; then
        echo "scale run with $w workers failed (status $status):" >&2
        tail -5 "$dir/errors" >&2
        continue
      fi
      echo "$w status $status" >>"$work/scale.dat"
      echo "$w wall $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" >>"$work/scale.dat"
      echo "$w lines $(grep -c '^Thread:' "$dir/console" || true)" >>"$work/scale.dat"
      read -r work_c tail_c work_a < <(probe_summary "$dir/probe.0" 2)
      printf '%s\n' "$w workC $work_c" "$w tail $tail_c" "$w workA $work_a" >>"$work/scale.dat"
      read -r work_c tail_c work_a < <(probe_summary "$dir/probe.0" 3)
      printf '%s\n' "$w cpuC $work_c" "$w cpuTail $tail_c" "$w cpuA $work_a" >>"$work/scale.dat"
      echo "  $w workers, run $k done (status $status)" >&2
    done
  done
  printf '%7s %8s %7s | %-37s | %-37s\n' "" "" "" "  collector wall clock, phase C" \
    "  collector thread CPU, phase C"
  printf '%7s %8s %7s | %9s %9s %9s %7s | %9s %9s %9s %7s\n' workers "wall s" lines \
    "work ms" "us/wkr" "marg us" "tail ms" "work ms" "us/wkr" "marg us" "tail ms"
  local previous_w="" previous_wall="" previous_cpu=""
  for w in $scale_workers; do
    local wall cpu marg_wall="-" marg_cpu="-"
    wall=$(values "$work/scale.dat" "$w" workC | median)
    cpu=$(values "$work/scale.dat" "$w" cpuC | median)
    # The cost of each worker added since the previous row: constant when the
    # work is linear in the workers, growing with them when it is quadratic.
    if [ -n "$previous_w" ]; then
      marg_wall=$(awk -v a="$previous_wall" -v b="$wall" -v m="$previous_w" -v n="$w" \
        'BEGIN { printf "%.1f", (b - a) * 1e6 / (n - m) }')
      marg_cpu=$(awk -v a="$previous_cpu" -v b="$cpu" -v m="$previous_w" -v n="$w" \
        'BEGIN { printf "%.1f", (b - a) * 1e6 / (n - m) }')
    fi
    previous_w=$w previous_wall=$wall previous_cpu=$cpu
    printf '%7d %8.2f %7.0f | %9.3f %9.1f %9s %7.3f | %9.3f %9.1f %9s %7.3f\n' "$w" \
      "$(values "$work/scale.dat" "$w" wall | median)" \
      "$(values "$work/scale.dat" "$w" lines | median)" \
      "$(awk -v x="$wall" 'BEGIN { print x * 1000 }')" \
      "$(awk -v x="$wall" -v w="$w" 'BEGIN { print x * 1e6 / w }')" "$marg_wall" \
      "$(awk -v x="$(values "$work/scale.dat" "$w" tail | median)" 'BEGIN { print x * 1000 }')" \
      "$(awk -v x="$cpu" 'BEGIN { print x * 1000 }')" \
      "$(awk -v x="$cpu" -v w="$w" 'BEGIN { print x * 1e6 / w }')" "$marg_cpu" \
      "$(awk -v x="$(values "$work/scale.dat" "$w" cpuTail | median)" 'BEGIN { print x * 1000 }')"
  done
  echo "(work: the collector's time outside MPI_Recv from the third barrier to finalisation, in"
  echo " which it writes 24 lines per worker plus a fixed set; tail: from the return of the last"
  echo " worker's last receive to finalisation, which follows the last line; marg: added work per"
  echo " added worker since the row above. Phase A, wall ms by workers:"
  for w in $scale_workers; do
    printf ' %s: %.3f' "$w" "$(awk -v x="$(values "$work/scale.dat" "$w" workA | median)" 'BEGIN { print x * 1000 }')"
  done
  echo ")"
  echo "launcher exit statuses by workers:$(for w in $scale_workers; do printf ' %s: %s' "$w" \
    "$(values "$work/scale.dat" "$w" status | tr '\n' ',' | sed 's/,$//')"; done)"
  echo
  if ((beyond_cap > 0)); then
    echo "== One run beyond the cap: -np $beyond_cap, quenda-lite-scale"
    local dir start end status=0
    dir=$(fresh beyond)
    start=$(date +%s.%N)
    (cd "$dir" && ranked "$dir/rank" -np "$beyond_cap" -- "$scale" </dev/null >console 2>errors) ||
      status=$?
    end=$(date +%s.%N)
    echo "exit status $status, wall $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
    echo "report: $(grep -m1 '^Thread(s): ' "$dir/console" || echo 'no banner'), $(grep -c '^Thread:' "$dir/console" || true) worker lines (511 workers x 12 expected: 6132)"
    echo "scratch files left: $(find "$dir" -maxdepth 1 -name 'data64-windows-*' | wc -l) (2 x 512 expected)"
    [ ! -f "$dir/rank.0" ] || echo "peak RSS of the collector (rank 0): $(cut -d' ' -f1 "$dir/rank.0") KiB"
    for ((k = 1; k < beyond_cap; ++k)); do [ ! -f "$dir/rank.$k" ] || cat "$dir/rank.$k"; done |
      awk '{ n++; s += $1; if ($1 > m) m = $1 }
        END { if (n) printf "peak RSS of the other ranks: max %d KiB, mean %.0f KiB over %d ranks\n", m, s / n, n }'
    echo "(the collector's extra is Open MPI's state for the 511 peers it receives from)"
    [ "$status" -eq 0 ] || { echo "launcher's errors:"; grep -v '^\s*$' "$dir/errors" | head -20; }
    echo
  fi
}

# --- instructions: the same calls, counted rather than timed ----------------------

# Inclusive instruction counts of functions whose names contain each of the
# given words, from a callgrind output file: counted FILE WORD...
counted() {
  local file=$1
  shift
  callgrind_annotate --inclusive=yes --threshold=100 "$file" 2>/dev/null >"$file.annotated"
  local word
  for word in "$@"; do
    awk -v w="$word" 'index($0, w "(") && $1 ~ /^[0-9,]+$/ { gsub(",", "", $1); print $1; exit }' \
      "$file.annotated"
  done
}

instructions() {
  command -v valgrind >/dev/null || { echo "bench/run.sh instructions needs valgrind" >&2; exit 1; }
  local cycles=2048 length=262144
  echo "== User-space instructions of each single-process test, program against bare loops"
  echo "   (valgrind --tool=callgrind, inclusive counts of each test's function; $cycles cycles,"
  echo "   files of $length bytes; the system calls are the same on all sides: test/syscall)"
  local dir
  dir=$(fresh instructions-program)
  # The profile driver runs the program's own single-process test functions
  # with the given counts, after MPI_Init, as the program does.
  (cd "$dir" && valgrind -q --tool=callgrind --callgrind-out-file="$dir/out" \
    "$driver" "$cycles" "$length" >/dev/null 2>errors </dev/null) ||
    { echo "callgrind run of the program's tests failed" >&2; cat "$dir/errors" >&2; exit 1; }
  local program_counts bare_counts thread_counts
  mapfile -t program_counts < <(counted "$dir/out" run_stream_handling run_descriptor_handling \
    run_bytewise_write run_bytewise_read run_block_read run_block_write)
  local series
  for series in bare thread; do
    dir=$(fresh "instructions-$series")
    local extra=()
    [ "$series" = bare ] || extra=(--idle-thread)
    (cd "$dir" && valgrind -q --tool=callgrind --callgrind-out-file="$dir/out" \
      "$bare" "$cycles" "$length" "${extra[@]}" >/dev/null 2>errors </dev/null) ||
      { echo "callgrind run of the bare loops failed" >&2; cat "$dir/errors" >&2; exit 1; }
    mapfile -t "${series}_counts" < <(counted "$dir/out" "::stream_handling" \
      "::descriptor_handling" "::bytewise_write" "::bytewise_read" "::block_read" "::block_write")
  done
  local units=("$cycles" "$cycles" $((length + length / 2)) $((length + length / 2)) 1 1)
  local unit_names=(cycle cycle access access file file)
  printf '%-20s %12s %12s %12s %8s %8s  %s\n' test program bare "bare+thread" p/bare p/+thr \
    "per unit: program, bare, bare+thread"
  local k
  for k in 0 1 2 3 4 5; do
    local p=${program_counts[k]:-nan} b=${bare_counts[k]:-nan} t=${thread_counts[k]:-nan}
    printf '%-20s %12s %12s %12s %8s %8s  %s\n' "${tests[k]}" "$p" "$b" "$t" "$(ratio "$p" "$b")" \
      "$(ratio "$p" "$t")" "$(awk -v p="$p" -v b="$b" -v t="$t" -v u="${units[k]}" -v n="${unit_names[k]}" \
        'BEGIN { printf "%.1f, %.1f, %.1f per %s", p / u, b / u, t / u, n }')"
  done
  echo "(a second thread makes glibc's system-call wrappers take their cancellation path, some"
  echo " 40 instructions per call: bare+thread is the like-for-like reference for an MPI rank;"
  echo " the program's block tests read the MPI clock where the bare loops read steady_clock)"
  echo
}

case $mode in
  overhead) overhead ;;
  wait) wait_study ;;
  scale) scale_study ;;
  instructions) instructions ;;
  all) overhead; instructions; wait_study; scale_study ;;
  *) echo "usage: bench/run.sh [overhead|wait|scale|instructions|all]" >&2; exit 2 ;;
esac
echo "date $(date -Iseconds); nproc $(nproc); kernel $(uname -r); run directory $work on $(df -T "$work" | awk 'NR == 2 { print $2 " (" $1 ")" }')"
