// Facts about the one-process MPI stand-in that the benchmark relies on when
// it runs without a real MPI.
#include <gtest/gtest.h>
#include <mpi.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

TEST(MpiStandin, IsAWorldOfRankZeroAlone) {
  int size = -1;
  int rank = -1;
  EXPECT_EQ(MPI_Init(nullptr, nullptr), MPI_SUCCESS);
  EXPECT_EQ(MPI_Comm_size(MPI_COMM_WORLD, &size), MPI_SUCCESS);
  EXPECT_EQ(MPI_Comm_rank(MPI_COMM_WORLD, &rank), MPI_SUCCESS);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(MPI_Barrier(MPI_COMM_WORLD), MPI_SUCCESS);
  EXPECT_EQ(MPI_Finalize(), MPI_SUCCESS);
}

TEST(MpiStandin, NamesTheComputerWithinTheBuffer) {
  char name[MPI_MAX_PROCESSOR_NAME];
  std::memset(name, 'x', sizeof name);
  int length = -1;
  EXPECT_EQ(MPI_Get_processor_name(name, &length), MPI_SUCCESS);
  EXPECT_GT(length, 0);
  EXPECT_LT(length, MPI_MAX_PROCESSOR_NAME);
  EXPECT_EQ(std::strlen(name), static_cast<std::size_t>(length));
}

TEST(MpiStandin, ClockCountsSecondsAndNeverGoesBack) {
  const double start = MPI_Wtime();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double end = MPI_Wtime();
  // Sleeps may overrun by a scheduler tick or an emulator's slack, never
  // by seconds; a clock in the wrong unit is off by a factor of 1000 or more.
  EXPECT_GE(end - start, 0.19);
  EXPECT_LT(end - start, 2.0);

  // Two readings in a row: the counter is fine-grained enough that a few
  // thousand readings see it move, and it never steps backwards.
  double previous = MPI_Wtime();
  bool moved = false;
  for (int i = 0; i < 100000; ++i) {
    const double now = MPI_Wtime();
    ASSERT_GE(now, previous);
    moved = moved || now > previous;
    previous = now;
  }
  EXPECT_TRUE(moved);
}

TEST(MpiStandinDeathTest, MessagesEndTheProcessLoudly) {
  double values[2] = {1.0, 2.0};
  MPI_Status status;
  EXPECT_DEATH(MPI_Send(values, 2, MPI_DOUBLE, 0, 0, MPI_COMM_WORLD), "MPI_Send of 2 values");
  EXPECT_DEATH(MPI_Recv(values, 2, MPI_DOUBLE, 1, 0, MPI_COMM_WORLD, &status),
               "MPI_Recv of 2 values with rank 1");
  int size = 0;
  EXPECT_DEATH(MPI_Comm_size(MPI_COMM_WORLD + 1, &size), "unknown communicator");
}

}  // namespace
