#!/usr/bin/env bash
# Runs the Windows build of the small benchmark under wine, one process, and
# holds it against what a Windows console user must get:
#   - every line ends in CR LF, on the console and in the results file;
#   - the report is the same, number for number position, as the Linux
#     build's report of the same small run under a real MPI;
#   - the byte-wise read opens the file that the byte-wise write still holds
#     open (no "Unable to open file"), and both scratch files are whole;
#   - standard input at its end does not hold the closing "Press Enter";
#   - the closing line names the Windows working directory, "/" and the
#     results file, which exists;
#   - a second run whose scratch file cannot be created (a directory in its
#     place) still completes: every open of the descriptor test fails, and the
#     close of the -1 it gives must not end the process.
#
# Usage: check_windows_run.sh WINDOWS_SMALL_EXE LINUX_SMALL_BINARY OPENMPI_MPIEXEC
# (the Linux reference runs under Open MPI's launcher).
# Expects WINEPREFIX set and the wine server up. Exits non-zero on the first
# fact that does not hold, after saying which and showing the evidence.
set -euo pipefail

if (($# != 3)); then
  echo "usage: $0 WINDOWS_SMALL_EXE LINUX_SMALL_BINARY OPENMPI_MPIEXEC" >&2
  exit 2
fi
windows_exe=$(realpath "$1")
linux_binary=$(realpath "$2")
linux_mpiexec=$3
here=$(cd "$(dirname "$0")" && pwd)
# A run that outlives this is waiting for input it will never get.
run_timeout=${QUENDA_RUN_TIMEOUT:-120}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
# Passes with the first message where the command succeeds, fails with the
# second otherwise.
check() {
  local good=$1 bad=$2
  shift 2
  if "$@"; then pass "$good"; else fail "$bad"; fi
}

# The small plan's file length, read from the header the small program is
# built from, so that the two can never disagree.
plan_line=$(grep -E 'kSmallPlan\{' "$here/../small_plan.h")
plan_pattern='kSmallPlan\{ *[0-9]+, *[0-9]+, *([0-9]+) *\}'
if [[ $plan_line =~ $plan_pattern ]]; then
  file_length=${BASH_REMATCH[1]}
else
  echo "cannot read the small plan's file length from: $plan_line" >&2
  exit 2
fi

# shellcheck source=test/support/shell.sh
source "$here/../support/shell.sh"
scratch_folder windows-run

# --- helpers -----------------------------------------------------------------

# Every line feed is preceded by a carriage return, there is no other
# carriage return, and the text ends with a line end.
check_crlf() {
  local what=$1 file=$2
  local lf cr crlf last
  lf=$(tr -cd '\n' <"$file" | wc -c)
  cr=$(tr -cd '\r' <"$file" | wc -c)
  crlf=$(grep -c $'\r$' "$file" || true)
  last=$(tail -c 1 "$file" | od -An -tx1 | tr -d ' ')
  if ((lf == 0)); then
    fail "$what is empty"
  elif ((crlf != lf || cr != lf)) || [[ $last != 0a ]]; then
    fail "$what: $lf line feeds, $crlf CR LF line ends, $cr carriage returns, last byte $last"
  else
    pass "$what: all $lf lines end in CR LF"
  fi
}

to_lf() { sed 's/\r$//' "$1"; }

# Numbers become "#", and the saved path (which differs by design between the
# two systems) becomes "<path>".
masked() {
  sed -E -e 's/^(Results have been saved in a file and you can find it at: ).*/\1<path>/' \
    -e 's/[0-9]+(\.[0-9]+)?(e[-+]?[0-9]+)?/#/g' "$1"
}

compare_masked() {
  local what=$1 windows=$2 linux=$3
  if diff <(masked "$linux") <(masked "$windows") >"$work/diff.txt"; then
    pass "$what matches the Linux run line for line, numbers masked ($(wc -l <"$windows") lines)"
  else
    fail "$what differs from the Linux run (< Linux, > Windows, numbers masked):"
    cat "$work/diff.txt" >&2
  fi
}

# The one results file a run left in its directory; says what it found and
# fails otherwise.
results_file_in() {
  local dir=$1
  local found=("$dir"/results_quenda_lite_windows_clusters\ @\ *\ @\ local\ date\ *.txt)
  if ((${#found[@]} != 1)) || [[ ! -f ${found[0]} ]]; then
    echo "expected exactly one results file in $dir, found: ${found[*]}" >&2
    return 1
  fi
  printf '%s\n' "${found[0]}"
}

run_windows() {
  local dir=$1
  (cd "$dir" && timeout "$run_timeout" wine "$windows_exe" </dev/null >console.raw 2>stderr.txt)
}

# --- the Linux reference -------------------------------------------------------

linux_dir=$work/linux
mkdir "$linux_dir"
if ! (cd "$linux_dir" && timeout "$run_timeout" "$linux_mpiexec" --allow-run-as-root -n 1 \
  "$linux_binary" </dev/null >console.txt 2>stderr.txt); then
  cat "$linux_dir/stderr.txt" >&2
  echo "the Linux reference run failed; nothing to compare against" >&2
  exit 1
fi
linux_results=$(results_file_in "$linux_dir") || exit 1
mapfile -t linux_lines <"$linux_dir/console.txt"

# --- the Windows run -----------------------------------------------------------

win_dir=$work/windows
mkdir "$win_dir"
status=0
run_windows "$win_dir" || status=$?
if ((status == 124)); then
  fail "the run did not end within ${run_timeout}s with standard input at its end"
elif ((status != 0)); then
  fail "the run exited with status $status"
else
  pass "the run ended by itself with standard input at its end (exit status 0)"
fi
if ((status != 0)); then
  cat "$win_dir/stderr.txt" "$win_dir/console.raw" >&2 || true
  exit 1
fi

check_crlf "console" "$win_dir/console.raw"
to_lf "$win_dir/console.raw" >"$win_dir/console.txt"
mapfile -t lines <"$win_dir/console.txt"
if ((${#lines[@]} < 3)); then
  fail "the console shows ${#lines[@]} line(s)"
  cat "$win_dir/console.raw" >&2
  exit 1
fi

check "the report's title is the Linux run's: ${lines[1]}" "the title is '${lines[1]}'" \
  [ "${lines[1]}" = "${linux_lines[1]}" ]
check "the report counts one process: Thread(s): 1" "no line 'Thread(s): 1'" \
  grep -qx 'Thread(s): 1' "$win_dir/console.txt"
# Line for line, so also without "Unable to open file" (the byte-wise read
# opened the file its writer holds open) and closing with "Press Enter to Exit.".
compare_masked "console report" "$win_dir/console.txt" "$linux_dir/console.txt"

cluster_tmp=$win_dir/data64-windows-cluster.tmp
cluster_copy=$win_dir/data64-windows-cluster
head -c "$file_length" /dev/zero | tr '\0' '\013' >"$work/expected.bin"
size=$(stat -c %s "$cluster_tmp" 2>/dev/null || echo missing)
check "data64-windows-cluster.tmp holds $file_length bytes of 0x0B" \
  "data64-windows-cluster.tmp is not $file_length bytes of 0x0B ($size bytes)" \
  cmp -s "$cluster_tmp" "$work/expected.bin"
check "data64-windows-cluster is an identical copy" \
  "data64-windows-cluster differs from data64-windows-cluster.tmp" \
  cmp -s "$cluster_copy" "$cluster_tmp"

if ! windows_results=$(results_file_in "$win_dir"); then
  fail "the Windows run left no single results file"
else
  check_crlf "results file" "$windows_results"
  to_lf "$windows_results" >"$work/results.txt"
  compare_masked "results file" "$work/results.txt" "$linux_results"

  prefix='Results have been saved in a file and you can find it at: '
  saved_line=$(grep -F "$prefix" "$win_dir/console.txt" || true)
  saved=${saved_line#"$prefix"}
  expected="$(winepath -w "$win_dir")/$(basename "$windows_results")"
  check "the saved path is the Windows working directory, / and the results file: $saved" \
    "the saved path is '$saved', expected '$expected'" [ "$saved" = "$expected" ]
fi

# --- a run whose scratch files cannot be created --------------------------------

hostile_dir=$work/no-scratch
mkdir -p "$hostile_dir/data64-windows-cluster.tmp"
status=0
run_windows "$hostile_dir" || status=$?
# Every test meets the directory: the three that create cannot open it, the
# reads find no regular file, and the block copy made from nothing is empty.
# Each says so on standard error, and the status is 1.
expected_errors="quenda-lite: rank 0 on NODE: stream handling: data64-windows-cluster.tmp: Permission denied; the figures of this test are not measurements
quenda-lite: rank 0 on NODE: descriptor handling: data64-windows-cluster.tmp: Permission denied; the figures of this test are not measurements
quenda-lite: rank 0 on NODE: byte-wise write: data64-windows-cluster.tmp: Permission denied; the figures of this test are not measurements
quenda-lite: rank 0 on NODE: byte-wise read: data64-windows-cluster.tmp: Is a directory; the figures of this test are not measurements
quenda-lite: rank 0 on NODE: block read: data64-windows-cluster.tmp: Is a directory; the figures of this test are not measurements
quenda-lite: rank 0 on NODE: block write: data64-windows-cluster: the file holds 0 bytes, not 4096; the figures of this test are not measurements"
errors=$(to_lf "$hostile_dir/stderr.txt" | sed 's/^\(quenda-lite: rank 0 on \)[^:]*:/\1NODE:/')
if ((status != 1)) || [[ $errors != "$expected_errors" ]]; then
  fail "with a directory in place of the scratch file the run exited with status $status" \
    "and said on standard error:"
  cat "$hostile_dir/stderr.txt" >&2 || true
else
  pass "with a directory in place of the scratch file, every test says so on standard error" \
    "and the status is 1"
  to_lf "$hostile_dir/console.raw" >"$hostile_dir/console.txt"
  unable=$(grep -c '^Unable to open file$' "$hostile_dir/console.txt" || true)
  normal_lines=$(wc -l <"$win_dir/console.txt")
  hostile_lines=$(wc -l <"$hostile_dir/console.txt")
  if [[ $(tail -n 1 "$hostile_dir/console.txt") == "Press Enter to Exit." ]] &&
    ((unable == 1 && hostile_lines == normal_lines + 1)); then
    pass "with no scratch file creatable, the run closes the failed descriptors and completes"
  else
    fail "with no scratch file creatable: $unable 'Unable to open file' lines," \
      "$hostile_lines lines against $normal_lines"
    cat "$hostile_dir/console.txt" >&2
  fi
fi

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks of the Windows run passed"
