#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mpi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

namespace {

// Anything but the one communicator there is means the caller expects a
// world this stand-in cannot give; going on would produce wrong figures.
void require_world(MPI_Comm comm, const char* function) {
  if (comm == MPI_COMM_WORLD) return;
  std::fprintf(stderr, "mpi stand-in: %s called with an unknown communicator %d\n", function, comm);
  std::fflush(stderr);
  std::abort();
}

[[noreturn]] void no_peer(const char* function, int peer, int count) {
  std::fprintf(stderr,
               "mpi stand-in: %s of %d values with rank %d in a one-process world; "
               "a one-process run never does this\n",
               function, count, peer);
  std::fflush(stderr);
  std::abort();
}

// Copies at most MPI_MAX_PROCESSOR_NAME - 1 characters and terminates.
int store_name(const char* source, char* name) {
  std::size_t length = std::strlen(source);
  if (length > MPI_MAX_PROCESSOR_NAME - 1) length = MPI_MAX_PROCESSOR_NAME - 1;
  std::memcpy(name, source, length);
  name[length] = '\0';
  return static_cast<int>(length);
}

}  // namespace

extern "C" {

int MPI_Init(int*, char***) { return MPI_SUCCESS; }

int MPI_Finalize(void) { return MPI_SUCCESS; }

int MPI_Comm_size(MPI_Comm comm, int* size) {
  require_world(comm, "MPI_Comm_size");
  *size = 1;
  return MPI_SUCCESS;
}

int MPI_Comm_rank(MPI_Comm comm, int* rank) {
  require_world(comm, "MPI_Comm_rank");
  *rank = 0;
  return MPI_SUCCESS;
}

int MPI_Get_processor_name(char* name, int* resultlen) {
#ifdef _WIN32
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  if (!GetComputerNameA(computer, &size)) computer[0] = '\0';
#else
  char computer[256] = {};
  // gethostname need not terminate a truncated name; the last byte stays 0.
  if (gethostname(computer, sizeof computer - 1) != 0) computer[0] = '\0';
#endif
  *resultlen = store_name(computer, name);
  return MPI_SUCCESS;
}

double MPI_Wtime(void) {
#ifdef _WIN32
  // The frequency is fixed at boot; reading it once keeps each clock
  // reading down to the counter itself.
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency;
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

int MPI_Barrier(MPI_Comm comm) {
  require_world(comm, "MPI_Barrier");
  return MPI_SUCCESS;
}

int MPI_Abort(MPI_Comm comm, int errorcode) {
  require_world(comm, "MPI_Abort");
  std::exit(errorcode);
}

int MPI_Send(const void*, int count, MPI_Datatype, int dest, int, MPI_Comm) {
  no_peer("MPI_Send", dest, count);
}

int MPI_Recv(void*, int count, MPI_Datatype, int source, int, MPI_Comm, MPI_Status*) {
  no_peer("MPI_Recv", source, count);
}

}  // extern "C"
