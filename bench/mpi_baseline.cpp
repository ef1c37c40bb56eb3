// The least an MPI rank of this job can be: start, pass the three barriers
// that open the cluster phases, finalise. Its peak resident memory is the
// baseline that a rank of the benchmark is compared with.
#include <mpi.h>

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  for (int phase = 0; phase < 3; ++phase) MPI_Barrier(MPI_COMM_WORLD);
  MPI_Finalize();
  return 0;
}
