// How a worker's figures for one test reach the collector: two blocking
// messages to rank 0, the whole rate table and then the whole time table,
// world-size doubles each, tag 0. Only the worker's own slot carries a figure.
#ifndef QUENDA_CLUSTER_EXCHANGE_H_
#define QUENDA_CLUSTER_EXCHANGE_H_

#include <array>

#include "cluster/statistics.h"
#include "plan.h"

namespace quenda {

// A rank's place in the job.
struct Identity {
  int rank;
  int world_size;              // already capped
  const char* processor_name;  // this process's own name
};

// Elapsed seconds of one timed stretch and the rate it gives.
struct Timing {
  double elapsed = 0.0;
  double rate = 0.0;
};

// The timing of a stretch that started at `start` and ended at `end` and is
// credited with `credited` files, accesses or bytes.
inline Timing timed(double credited, double start, double end) {
  const double elapsed = end - start;
  return Timing{elapsed, credited / elapsed};
}

struct ResultTables {
  std::array<double, kTableSlots> rate{};
  std::array<double, kTableSlots> time{};
};

// Everything one test keeps for the run.
struct TestRecord {
  Timing single;          // the collector's own single-process run
  ResultTables own;       // a worker's figures, in its own slot
  ResultTables received;  // the collector's receive tables
  Statistics statistics;  // the collector's summary of the workers
};

// Stores a worker's timing in its own slots and sends both tables to rank 0.
void send_results(TestRecord& record, const Identity& worker, const Timing& timing);

// Receives worker `source`'s rate table, then its time table.
void receive_results(ResultTables& received, int source, int world_size);

// The collector's loop over workers 1 .. world_size - 1 in rank order: receive
// the pair, accumulate the rate, and let the test write the worker's lines via
// write_worker(rank, elapsed, rate).
template <typename WriteWorker>
void collect_results(TestRecord& record, int world_size, WriteWorker&& write_worker) {
  for (int i = 1; i < world_size; ++i) {
    receive_results(record.received, i, world_size);
    const double rate = record.received.rate[i];
    accumulate(record.statistics, i, rate);
    write_worker(i, record.received.time[i], rate);
  }
}

}  // namespace quenda

#endif  // QUENDA_CLUSTER_EXCHANGE_H_
