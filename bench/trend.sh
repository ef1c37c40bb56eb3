#!/usr/bin/env bash
# How fast `quenda-lite-results trend` reads a long history: RUNS results
# files of 511 workers each (one real run at the 512-process cap, copied
# under RUNS dates an hour apart: reading costs what a file's size costs,
# whatever its figures), against `cat` of the same files to /dev/null with a
# warm cache. The two alternate within each round, which goes first
# switching from round to round; the medians over the rounds and their
# ratio are printed by analyse.py, with the peak memory of the trend over
# one file and over all of them.
#
#   bench/trend.sh
#
# Environment: QUENDA_BUILD (build directory, default ./build), RUNS (files,
# default 1000), ROUNDS (default 9), KEEP (set: keep the files), SOURCE (a
# results file of 512 processes to copy; without it one is made with
# quenda-lite-scale under Open MPI's mpirun, which takes minutes on a busy
# machine of two cores). Needs /usr/bin/time and python3.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${QUENDA_BUILD:-$repo/build}" && pwd)
runs=${RUNS:-1000}
rounds=${ROUNDS:-9}
tool=$build/tools/results/quenda-lite-results
scale=$build/test/scale/quenda-lite-scale

cmake --build "$build" -j2 --target quenda-lite-results quenda-lite-scale >/dev/null
[ -x /usr/bin/time ] || { echo "bench/trend.sh needs /usr/bin/time (Debian package: time)" >&2; exit 1; }
launcher=(mpirun)
[ "$(id -u)" -ne 0 ] || launcher+=(--allow-run-as-root)
launcher+=(--oversubscribe)

work=$(mktemp -d "${TMPDIR:-/tmp}/quenda-trend-XXXXXX")
if [ -n "${KEEP:-}" ]; then
  echo "files kept in $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi

mkdir "$work/run" "$work/history" "$work/one" "$work/charts"
source=${SOURCE:-}
if [ -z "$source" ]; then
  (cd "$work/run" && "${launcher[@]}" -np 512 "$scale" </dev/null >console 2>errors) || {
    echo "the 512-process run failed:" >&2
    cat "$work/run/errors" >&2
    exit 1
  }
  source=$(find "$work/run" -name 'results_quenda_lite_windows_clusters @ *.txt' | head -1)
  [ -n "$source" ] || { echo "the 512-process run left no results file" >&2; exit 1; }
fi
grep -q '^Thread(s): 512$' "$source" || { echo "$source: not a run of 512 processes" >&2; exit 1; }
python3 - "$source" "$work/history" "$runs" <<'EOF'
import datetime, shutil, sys
source, folder, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
start = datetime.datetime(2024, 1, 1)
for i in range(runs):
    when = start + datetime.timedelta(hours=i)
    shutil.copyfile(source, f"{folder}/results_quenda_lite_windows_clusters @ node-a @ local date "
                            f"{when:%Y.%m.%d} time {when:%H.%M.%S}.txt")
EOF
cp "$(find "$work/history" -name '*.txt' | head -1)" "$work/one/"
bytes=$(cat "$work/history"/*.txt | wc -c)

# Wall-clock seconds of one command, from the shell's own clock.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  python3 -c "print($EPOCHREALTIME - $start)"
}

cat "$work/history"/*.txt >/dev/null  # a warm cache for both
: >"$work/times"
for ((r = 0; r < rounds; r++)); do
  if ((r % 2)); then
    echo "trend $(seconds "$tool" trend -o "$work/charts" "$work/history")" >>"$work/times"
    echo "cat $(seconds cat "$work/history"/*.txt)" >>"$work/times"
  else
    echo "cat $(seconds cat "$work/history"/*.txt)" >>"$work/times"
    echo "trend $(seconds "$tool" trend -o "$work/charts" "$work/history")" >>"$work/times"
  fi
done
peak_all=$(/usr/bin/time -f %M "$tool" trend -o "$work/charts" "$work/history" 2>&1 >/dev/null | tail -1)
rows=$(($(wc -l <"$work/charts/trend.csv") - 1))
peak_one=$(/usr/bin/time -f %M "$tool" trend -o "$work/one" "$work/one" 2>&1 >/dev/null | tail -1)

python3 "$repo/bench/analyse.py" trend "$work" "$runs" "$bytes" "$peak_one" "$peak_all"
echo "   the trend over all charted $rows rows (6 per run)"
