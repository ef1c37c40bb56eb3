// The figures' way from the workers to the collector, on the wire: each side
// of the exchange is checked against raw MPI calls of the other, so a swapped
// pair of tables, a wildcard source or tag, or a wrong count shows even when
// both sides would agree with each other. Runs as three processes.
#include "cluster/exchange.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

namespace quenda {
namespace {

constexpr int kWorld = 3;

int rank_of_this_process() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

// Distinct figures per worker, so that any mix-up shows.
Timing timing_of(int rank) { return Timing{0.25 * rank, 1000.0 * rank + 7.0}; }

struct Message {
  std::vector<double> values;
  int count = 0;
  int tag = -1;
};

// Receives the next message from `source` whatever its tag, into a buffer
// larger than any table, so that the count sent is what is seen.
Message receive_any_tag(int source) {
  Message message;
  message.values.assign(kTableSlots, -1.0);
  MPI_Status status;
  MPI_Recv(message.values.data(), kTableSlots, MPI_DOUBLE, source, MPI_ANY_TAG, MPI_COMM_WORLD,
           &status);
  MPI_Get_count(&status, MPI_DOUBLE, &message.count);
  message.tag = status.MPI_TAG;
  return message;
}

// A table of world-size doubles holding `value` in slot `rank` only.
void expect_table(const Message& message, int rank, double value, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(message.tag, 0);
  ASSERT_EQ(message.count, kWorld);
  for (int slot = 0; slot < kWorld; ++slot) {
    EXPECT_EQ(message.values[slot], slot == rank ? value : 0.0) << "slot " << slot;
  }
}

TEST(Exchange, WorkerSendsItsRateTableThenItsTimeTableToRankZero) {
  const int rank = rank_of_this_process();
  if (rank == 0) {
    // Later worker first: the order the collector asks in is its own affair.
    for (const int source : {2, 1}) {
      const Message rate = receive_any_tag(source);
      const Message time = receive_any_tag(source);
      expect_table(rate, source, timing_of(source).rate, "rate table");
      expect_table(time, source, timing_of(source).elapsed, "time table");
    }
  } else {
    auto record = std::make_unique<TestRecord>();
    send_results(*record, Identity{rank, kWorld, "node"}, timing_of(rank));
    // The worker keeps its own figures in its own slot.
    EXPECT_EQ(record->own.rate[rank], timing_of(rank).rate);
    EXPECT_EQ(record->own.time[rank], timing_of(rank).elapsed);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

void send_table(int rank, double value, int tag) {
  std::vector<double> table(kWorld, 0.0);
  table[rank] = value;
  MPI_Send(table.data(), kWorld, MPI_DOUBLE, 0, tag, MPI_COMM_WORLD);
}

TEST(Exchange, CollectorTakesEachWorkersPairInRankOrderFromThatWorkerWithTagZero) {
  const int rank = rank_of_this_process();
  if (rank == 0) {
    auto record = std::make_unique<TestRecord>();
    std::vector<std::tuple<int, double, double>> written;
    collect_results(*record, kWorld, [&](int worker, double elapsed, double rate) {
      written.emplace_back(worker, elapsed, rate);
    });
    const std::vector<std::tuple<int, double, double>> expected{
        {1, timing_of(1).elapsed, timing_of(1).rate}, {2, timing_of(2).elapsed, timing_of(2).rate}};
    EXPECT_EQ(written, expected);
    EXPECT_EQ(record->statistics.total, timing_of(1).rate + timing_of(2).rate);
    EXPECT_EQ(record->statistics.rates[1], timing_of(1).rate);
    EXPECT_EQ(record->statistics.rates[2], timing_of(2).rate);
    // The message with another tag is still waiting, untouched.
    const Message other = receive_any_tag(2);
    EXPECT_EQ(other.tag, 1);
  } else if (rank == 2) {
    // Worker 2 is first on the wire, and starts with a message of another
    // tag: only a receive that names source and tag gets the order right.
    send_table(2, -5.0, 1);
    send_table(2, timing_of(2).rate, 0);
    send_table(2, timing_of(2).elapsed, 0);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    send_table(1, timing_of(1).rate, 0);
    send_table(1, timing_of(1).elapsed, 0);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace
}  // namespace quenda

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  int size = 0;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  if (size != quenda::kWorld) {
    if (quenda::rank_of_this_process() == 0) {
      std::fprintf(stderr, "exchange_test needs %d processes, got %d\n", quenda::kWorld, size);
    }
    MPI_Finalize();
    return 2;
  }
  // Only the collector's rank prints; every rank's failures count.
  if (quenda::rank_of_this_process() != 0) {
    delete ::testing::UnitTest::GetInstance()->listeners().Release(
        ::testing::UnitTest::GetInstance()->listeners().default_result_printer());
  }
  const int failed = RUN_ALL_TESTS() != 0 ? 1 : 0;
  int any_failed = 0;
  MPI_Allreduce(&failed, &any_failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Finalize();
  return any_failed;
}
