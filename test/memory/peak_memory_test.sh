#!/usr/bin/env bash
# Peak resident memory per rank: every rank of the benchmark stays within the
# peak of a rank that only starts MPI, passes three barriers and finalises,
# plus its block buffer (the file length) plus 1 MiB. The baseline's ranks all
# do the same, yet their peaks differ by a few hundred KiB from rank to rank
# and run to run (MPICH most), so every rank is held to the largest of them.
#
# Usage: peak_memory_test.sh PROCESSES FILE_LENGTH BASELINE PROGRAM MPIRUN [FLAGS...]
set -euo pipefail
processes=$1 length=$2 baseline=$3 program=$4
shift 4
launcher=("$@")

[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package: time)"; exit 1; }
# shellcheck source=test/support/shell.sh
source "$(dirname "$0")/../support/shell.sh"
scratch_folder memory

# Runs BINARY as PROCESSES ranks in DIRECTORY; each rank's peak (KiB) lands in
# DIRECTORY/peak.<rank>.
peaks() {
  local directory=$1 binary=$2
  mkdir -p "$directory"
  (cd "$directory" && "${launcher[@]}" -np "$processes" sh -c \
    'exec /usr/bin/time -f %M -o "$0/peak.${OMPI_COMM_WORLD_RANK:-${PMI_RANK:-0}}" "$1"' \
    "$directory" "$binary" </dev/null >console 2>errors) || {
    echo "run of $binary failed:"; cat "$directory/errors"; exit 1; }
}

peaks "$work/baseline" "$baseline"
peaks "$work/program" "$program"

allowance=$(( (length + 1023) / 1024 + 1024 ))
b=0
for ((rank = 0; rank < processes; ++rank)); do
  [ -s "$work/baseline/peak.$rank" ] || { echo "no baseline peak for rank $rank"; exit 1; }
  peak=$(tail -1 "$work/baseline/peak.$rank")
  ((peak <= b)) || b=$peak
done
status=0
printf '%-6s %14s %14s %10s %10s\n' rank "program KiB" "baseline KiB" "extra KiB" "allowed"
for ((rank = 0; rank < processes; ++rank)); do
  [ -s "$work/program/peak.$rank" ] || { echo "no peak for rank $rank"; exit 1; }
  p=$(tail -1 "$work/program/peak.$rank")
  verdict=within
  if ((p - b > allowance)); then verdict=OVER; status=1; fi
  printf '%-6s %14d %14d %10d %10d %s\n' "$rank" "$p" "$b" $((p - b)) "$allowance" "$verdict"
done
exit $status
