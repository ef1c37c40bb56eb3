#include "cluster/exchange.h"

#include <mpi.h>

namespace quenda {
namespace {

constexpr int kCollector = 0;
constexpr int kTag = 0;

// Written by every receive, read by nobody: the count always matches because
// every process computes the same capped world size.
MPI_Status g_status;

}  // namespace

void send_results(TestRecord& record, const Identity& worker, const Timing& timing) {
  record.own.rate[worker.rank] = timing.rate;
  record.own.time[worker.rank] = timing.elapsed;
  MPI_Send(record.own.rate.data(), worker.world_size, MPI_DOUBLE, kCollector, kTag, MPI_COMM_WORLD);
  MPI_Send(record.own.time.data(), worker.world_size, MPI_DOUBLE, kCollector, kTag, MPI_COMM_WORLD);
}

void receive_results(ResultTables& received, int source, int world_size) {
  MPI_Recv(received.rate.data(), world_size, MPI_DOUBLE, source, kTag, MPI_COMM_WORLD, &g_status);
  MPI_Recv(received.time.data(), world_size, MPI_DOUBLE, source, kTag, MPI_COMM_WORLD, &g_status);
}

}  // namespace quenda
