#!/usr/bin/env bash
# How fast `quenda-lite-results` reads a long history: RUNS results files of
# 511 workers each (one file of the 512-process cap, copied under RUNS dates
# an hour apart: reading costs what a file's size costs, whatever its
# figures), against `cat` of the same files to /dev/null with a warm cache:
# `trend` over the folder, and a conversion of the whole folder into its
# three outputs each. The three alternate within each round, in an order
# that turns from round to round; analyse.py prints the medians over the
# rounds and their ratios to cat, with the peak memory of the trend over one
# file and over all of them. Each conversion writes into a folder emptied
# (and synced) before it, as a folder's first conversion does.
#
# Beside common.sh's settings: TOOL (the results tool to measure, default the
# build's), RUNS (files, default 1000), ROUNDS (default 5), SOURCE (a results
# file of 512 processes to copy; without it the tool's sample run of 512
# processes is written by bench_sample_results).
source "$(dirname "$0")/common.sh"
build_targets quenda-lite-results bench_sample_results
runs=${RUNS:-1000} rounds=${ROUNDS:-5}
tool=${TOOL:-$build/tools/results/quenda-lite-results}

mkdir "$work/history" "$work/one" "$work/charts" "$work/converted"
source=${SOURCE:-$work/sample.txt}
[ -n "${SOURCE:-}" ] || "$build/bench/bench_sample_results" 512 >"$source"
grep -q '^Thread(s): 512$' "$source" || { echo "$source: not a run of 512 processes" >&2; exit 1; }
for ((i = 0; i < runs; i++)); do  # an hour apart from 2024-01-01 00:00
  when=$(date -u -d "@$((1704067200 + 3600 * i))" '+%Y.%m.%d time %H.%M.%S')
  cp "$source" "$work/history/results_quenda_lite_windows_clusters @ node-a @ local date $when.txt"
done
cp "$(find "$work/history" -name '*.txt' | head -1)" "$work/one/"
bytes=$(cat "$work/history"/*.txt | wc -c)

# Wall-clock seconds of one command, from the shell's own clock, and its CPU
# seconds (user and system), which the other work of a busy machine does not
# stretch as it stretches the wall clock.
seconds() {
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%U %S" -o "$work/cpu" "$@" >/dev/null 2>&1 || true
  python3 -c "import sys; print($EPOCHREALTIME - $start, sum(map(float, sys.argv[1].split()[-2:])))" \
    "$(cat "$work/cpu")"
}

sync  # the copies written back before the first round, not during it
cat "$work/history"/*.txt >/dev/null  # a warm cache for all
: >"$work/times"
measure() {
  case $1 in
    cat) echo "cat $(seconds cat "$work/history"/*.txt)" ;;
    trend) echo "trend $(seconds "$tool" trend -o "$work/charts" "$work/history")" ;;
    convert) rm -rf "$work/converted" && sync &&
      echo "convert $(seconds "$tool" -o "$work/converted" "$work/history")" ;;
  esac >>"$work/times"
}
order=(cat trend convert)
for ((r = 0; r < rounds; r++)); do
  for ((i = 0; i < 3; i++)); do measure "${order[(r + i) % 3]}"; done
done
[ "$(find "$work/converted" -name '*.svg' | wc -l)" -eq "$runs" ] ||
  { echo "the conversion did not write every file's outputs" >&2; exit 1; }
peak_all=$(/usr/bin/time -f %M "$tool" trend -o "$work/charts" "$work/history" 2>&1 >/dev/null | tail -1)
rows=$(($(wc -l <"$work/charts/trend.csv") - 1))
[ "$rows" -eq $((6 * runs)) ] || { echo "the trend charted $rows rows, not $((6 * runs))" >&2; exit 1; }
peak_one=$(/usr/bin/time -f %M "$tool" trend -o "$work/one" "$work/one" 2>&1 >/dev/null | tail -1)

"${analyse[@]}" trend "$work" "$runs" "$bytes" "$peak_one" "$peak_all"
