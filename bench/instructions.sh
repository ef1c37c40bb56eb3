#!/usr/bin/env bash
# The user-space instructions of each single-process test of the program against
# the bare loops' (valgrind's callgrind): overhead.sh's comparison without the
# machine's noise.
source "$(dirname "$0")/common.sh"
command -v valgrind >/dev/null || { echo "bench/instructions.sh needs valgrind" >&2; exit 1; }
build_targets bench_bare_loops syscall_profile_driver
cycles=2048 length=262144

# One binary under callgrind, annotated in $work/instructions/SERIES: counted SERIES COMMAND...
counted() {
  local dir
  dir=$(fresh "instructions/$1")
  shift
  (cd "$dir" && valgrind -q --tool=callgrind --callgrind-out-file=out "$@" >/dev/null 2>errors \
    </dev/null) ||
    { echo "callgrind run of $1 failed" >&2; cat "$dir/errors" >&2; exit 1; }
  callgrind_annotate --inclusive=yes --threshold=100 "$dir/out" >"$dir/out.annotated" 2>/dev/null
}

echo "== User-space instructions of each single-process test, program against bare loops"
echo "   (valgrind --tool=callgrind, inclusive counts of each test's function; $cycles cycles,"
echo "   files of $length bytes; the system calls are the same on all sides: test/syscall)"
# The profile driver runs the program's own single-process test functions with
# the given counts, after MPI_Init, as the program does.
counted program "$build/test/syscall/syscall_profile_driver" "$cycles" "$length" --unmarked-clock
counted bare "$bare" "$cycles" "$length"
counted thread "$bare" "$cycles" "$length" --idle-thread
"${analyse[@]}" instructions "$work" "$cycles" "$length"
echo "(a second thread makes glibc's system-call wrappers take their cancellation path, some"
echo " 40 instructions per call: bare+thread is the like-for-like reference for an MPI rank;"
echo " the program's block tests read the MPI clock where the bare loops read steady_clock)"
echo
footer
