// A profiling-interface shim, preloaded into every rank of a run, that notes
// when the rank enters and leaves each receive and barrier, each send, and
// when it reaches finalisation. On the collector, time outside the receives is
// its own work (writing its lines, its statistics); time inside them, and a
// worker's time inside a barrier, is waiting. The bench analysis (analyse.py) splits it
// per phase. The hostile tests read the messages themselves: who sent how
// many values with which tag to whom.
//
// Each event carries two clocks: wall time, and the CPU time of the calling
// thread, which leaves out the spells when the collector was not running at
// all (with more processes than cores, those can dwarf its own work).
//
// With QUENDA_PROBE_SLEEPY_WAIT=<microseconds>, receives, sends and barriers
// wait by testing and sleeping instead of inside the library, so a waiting
// rank takes next to no processor: the reference for what waiting could cost
// at best. (A worker's send waits too: once the tables outgrow the library's
// eager limit, it waits until the collector has come to its rank.)
//
// At finalisation each rank writes "<event> <wall seconds> <thread CPU seconds>"
// lines to "<QUENDA_PROBE_OUT>.<rank>"; without that variable nothing is kept.
// The lines of "send" and "recv_enter" go on with "<peer rank> <count> <tag>".
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

enum Event { kRecvEnter, kRecvLeave, kSend, kBarrierEnter, kBarrierLeave, kFinalize };
constexpr const char* kEventNames[] = {"recv_enter",    "recv_leave",    "send",
                                       "barrier_enter", "barrier_leave", "finalize"};

// 511 workers x 6 tests x 2 tables x 2 events, with room to spare.
constexpr int kCapacity = 1 << 15;
struct Record {
  Event event;
  double wall;
  double cpu;
  int peer;  // with a message: its source or destination, count and tag
  int count;
  int tag;
};
Record g_records[kCapacity];
int g_count = 0;
int g_rank = -1;
const char* g_out = nullptr;
long g_sleepy_wait_us = 0;

double seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void note(Event event, int peer = 0, int count = 0, int tag = 0) {
  if (g_out != nullptr && g_count < kCapacity)
    g_records[g_count++] =
        Record{event, seconds(CLOCK_MONOTONIC), seconds(CLOCK_THREAD_CPUTIME_ID), peer, count, tag};
}

// Tests the request that a call returning `started` began, sleeping between
// tests, until it completes.
int wait_sleeping(int started, MPI_Request* request, MPI_Status* status) {
  if (started != MPI_SUCCESS) return started;
  const timespec pause{0, g_sleepy_wait_us * 1000};
  for (;;) {
    int done = 0;
    const int result = PMPI_Test(request, &done, status);
    if (result != MPI_SUCCESS || done) return result;
    nanosleep(&pause, nullptr);
  }
}

}  // namespace

extern "C" {

int MPI_Init(int* argc, char*** argv) {
  const int result = PMPI_Init(argc, argv);
  PMPI_Comm_rank(MPI_COMM_WORLD, &g_rank);
  g_out = std::getenv("QUENDA_PROBE_OUT");
  if (const char* sleepy = std::getenv("QUENDA_PROBE_SLEEPY_WAIT")) {
    g_sleepy_wait_us = std::atol(sleepy);
    if (g_sleepy_wait_us < 0 || g_sleepy_wait_us > 999999) g_sleepy_wait_us = 0;
  }
  return result;
}

int MPI_Recv(void* buffer, int count, MPI_Datatype type, int source, int tag, MPI_Comm comm,
             MPI_Status* status) {
  note(kRecvEnter, source, count, tag);
  MPI_Request request;
  const int result =
      g_sleepy_wait_us > 0
          ? wait_sleeping(PMPI_Irecv(buffer, count, type, source, tag, comm, &request), &request,
                          status)
          : PMPI_Recv(buffer, count, type, source, tag, comm, status);
  note(kRecvLeave);
  return result;
}

int MPI_Send(const void* buffer, int count, MPI_Datatype type, int destination, int tag,
             MPI_Comm comm) {
  note(kSend, destination, count, tag);
  if (g_sleepy_wait_us <= 0) return PMPI_Send(buffer, count, type, destination, tag, comm);
  MPI_Request request;
  return wait_sleeping(PMPI_Isend(buffer, count, type, destination, tag, comm, &request), &request,
                       MPI_STATUS_IGNORE);
}

int MPI_Barrier(MPI_Comm comm) {
  note(kBarrierEnter);
  MPI_Request request;
  const int result = g_sleepy_wait_us > 0
                         ? wait_sleeping(PMPI_Ibarrier(comm, &request), &request, MPI_STATUS_IGNORE)
                         : PMPI_Barrier(comm);
  note(kBarrierLeave);
  return result;
}

int MPI_Finalize() {
  note(kFinalize);
  if (g_out != nullptr) {
    const std::string path = std::string(g_out) + "." + std::to_string(g_rank);
    if (std::FILE* out = std::fopen(path.c_str(), "w")) {
      for (int i = 0; i < g_count; ++i) {
        const Record& r = g_records[i];
        std::fprintf(out, "%s %.9f %.9f", kEventNames[r.event], r.wall, r.cpu);
        if (r.event == kRecvEnter || r.event == kSend)
          std::fprintf(out, " %d %d %d", r.peer, r.count, r.tag);
        std::fputc('\n', out);
      }
      std::fclose(out);
    }
  }
  return PMPI_Finalize();
}

}  // extern "C"
