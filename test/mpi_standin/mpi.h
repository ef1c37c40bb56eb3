// Test only: a one-process stand-in for the part of MPI the benchmark uses,
// so that the program and its unit tests can be built and run where no MPI
// exists (the Windows cross build, run under an emulator). The world is
// rank 0 alone; barriers return at once, and point-to-point messages, which a
// one-process job never sends, end the process loudly.
//
// Never part of the shipped program: the product is always built against a
// real MPI.
#ifndef QUENDA_TEST_MPI_STANDIN_MPI_H_
#define QUENDA_TEST_MPI_STANDIN_MPI_H_

#define MPI_SUCCESS 0
#define MPI_MAX_PROCESSOR_NAME 128

typedef int MPI_Comm;
typedef int MPI_Datatype;

// Distinct non-zero values, so that a zero-initialised handle is never
// mistaken for a real one.
#define MPI_COMM_WORLD ((MPI_Comm)0x44000000)
#define MPI_DOUBLE ((MPI_Datatype)0x4c00080b)

typedef struct MPI_Status {
  int MPI_SOURCE;
  int MPI_TAG;
  int MPI_ERROR;
} MPI_Status;

#ifdef __cplusplus
extern "C" {
#endif

int MPI_Init(int* argc, char*** argv);
int MPI_Finalize(void);
int MPI_Comm_size(MPI_Comm comm, int* size);
int MPI_Comm_rank(MPI_Comm comm, int* rank);
// The computer's name, at most MPI_MAX_PROCESSOR_NAME - 1 characters.
int MPI_Get_processor_name(char* name, int* resultlen);
// Seconds from the high-resolution monotonic counter.
double MPI_Wtime(void);
int MPI_Barrier(MPI_Comm comm);
// Ends the one process with the error code as its exit status.
int MPI_Abort(MPI_Comm comm, int errorcode);
// Both print what was asked and abort: there is nobody to talk to.
int MPI_Send(const void* buf, int count, MPI_Datatype datatype, int dest, int tag, MPI_Comm comm);
int MPI_Recv(void* buf, int count, MPI_Datatype datatype, int source, int tag, MPI_Comm comm,
             MPI_Status* status);

#ifdef __cplusplus
}
#endif

#endif  // QUENDA_TEST_MPI_STANDIN_MPI_H_
