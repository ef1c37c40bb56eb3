// The six single-process tests as bare loops: the very same library calls in
// the very same order on the same file names, written out by hand, with no MPI,
// no report and none of the program's code. What the program measures above
// these figures is what the program itself adds.
//
// Prints one line per test, "<test> <elapsed seconds>", in the program's order.
// Usage: bench_bare_loops [cycles length [input_name output_name]] [--idle-thread]
// The names default to the collector's; a worker's names let two loops share a
// directory as the workers of a run do.
//
// --idle-thread starts one thread that only waits, as an MPI rank has its
// library's threads. A process with more than one thread shares its
// descriptor table, and Linux then takes the slow path for every call on a
// descriptor (a reference on the file, and its position lock for read, write
// and lseek); with this option the bare loops pay that too.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "plan.h"  // counts and file names only; nothing of the program is linked

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::ios::openmode kWrite = std::ios::binary | std::ios::out;
constexpr std::ios::openmode kRead = std::ios::binary | std::ios::in;

// Process-lifetime streams, like the program's, so no loop creates one.
std::ofstream g_handling_out;
std::ifstream g_handling_in;
std::ofstream g_bytewise_out;
std::ifstream g_in;
std::ofstream g_block_out;
char g_byte = 0;
std::int64_t g_count = 0;
std::unique_ptr<char[]> g_buffer;

// The tests are kept out of line so that an instruction count per function
// (bench/instructions.sh) can find each of them.
double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[gnu::noinline]] double stream_handling(const char* name, int cycles) {
  const auto start = Clock::now();
  for (int i = 0; i < cycles; ++i) {
    g_handling_out.open(name, kWrite);
    g_handling_in.open(name, kRead);
    g_handling_in.close();
    g_handling_out.close();
    (void)std::remove(name);
  }
  return seconds_since(start);
}

[[gnu::noinline]] double descriptor_handling(const char* name, int cycles) {
  const auto start = Clock::now();
  for (int i = 0; i < cycles; ++i) {
    const int descriptor = ::open(name, O_RDWR | O_CREAT, 0777);
    (void)::close(descriptor);
    (void)std::remove(name);
  }
  return seconds_since(start);
}

[[gnu::noinline]] double bytewise_write(const char* name, std::int64_t length) {
  const std::int64_t second = length / 2;
  const auto start = Clock::now();
  g_bytewise_out.open(name, kWrite);
  for (std::int64_t i = 0; i < length; ++i) {
    g_bytewise_out.put(quenda::kFillByte);
    g_bytewise_out.flush();
  }
  g_bytewise_out.seekp(0, std::ios::beg);
  g_bytewise_out.seekp(static_cast<std::streamoff>(second), std::ios::beg);
  for (std::int64_t i = 0; i < second; ++i) {
    g_bytewise_out.put(quenda::kFillByte);
    g_bytewise_out.flush();
  }
  return seconds_since(start);
}

[[gnu::noinline]] double bytewise_read(const char* name, std::int64_t length) {
  const std::int64_t second = length / 2;
  const auto start = Clock::now();
  g_in.open(name, kRead);
  g_in.seekg(0, std::ios::beg);
  while (g_in.good()) {
    const auto c = g_in.get();
    if (c != std::ifstream::traits_type::eof()) g_byte = static_cast<char>(c);
    g_in.sync();
  }
  g_in.clear();
  g_in.seekg(0, std::ios::beg);
  g_in.seekg(static_cast<std::streamoff>(second), std::ios::beg);
  for (std::int64_t i = 0; i < second; ++i) {
    const auto c = g_in.get();
    if (c != std::ifstream::traits_type::eof()) g_byte = static_cast<char>(c);
    g_in.sync();
  }
  const double elapsed = seconds_since(start);
  g_in.close();
  return elapsed;
}

[[gnu::noinline]] double block_read(const char* name) {
  const auto start = Clock::now();
  g_in.open(name, kRead);
  g_in.seekg(0, std::ios::end);
  const std::int64_t position = static_cast<std::int64_t>(g_in.tellg());
  g_count = position < 0 ? 0 : position;
  g_in.seekg(0, std::ios::beg);
  g_buffer.reset(new char[static_cast<std::size_t>(g_count)]);
  g_in.read(g_buffer.get(), static_cast<std::streamsize>(g_count));
  g_in.sync();
  return seconds_since(start);
}

[[gnu::noinline]] double block_write(const char* name) {
  const auto start = Clock::now();
  g_block_out.open(name, kWrite);
  g_block_out.write(g_buffer.get(), static_cast<std::streamsize>(g_count));
  g_block_out.flush();
  return seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
  const bool idle_thread = argc > 1 && std::string(argv[argc - 1]) == "--idle-thread";
  if (idle_thread) --argc;
  const bool counts = argc == 3 || argc == 5;
  const int cycles = counts ? std::atoi(argv[1]) : quenda::kFullPlan.handling_cycles;
  const std::int64_t length = counts ? std::atoll(argv[2]) : quenda::kFullPlan.file_length;
  const char* file = argc == 5 ? argv[3] : quenda::kCollectorFile;
  const char* block_file = argc == 5 ? argv[4] : quenda::kCollectorBlockFile;
  std::promise<void> finished;
  std::thread waiter;
  if (idle_thread) waiter = std::thread([done = finished.get_future()] { done.wait(); });

  // Every figure is printed after all six loops, as the program's report
  // lines never fall inside a timed stretch either; stdout is not touched
  // before then. A braced list runs the loops in the order written.
  const std::pair<const char*, double> seconds[]{
      {"stream_handling", stream_handling(file, cycles)},
      {"descriptor_handling", descriptor_handling(file, cycles)},
      {"bytewise_write", bytewise_write(file, length)},
      {"bytewise_read", bytewise_read(file, length)},
      {"block_read", block_read(file)},
      {"block_write", block_write(block_file)},
  };
  g_in.close();
  g_block_out.close();
  g_bytewise_out.close();
  if (idle_thread) {
    finished.set_value();
    waiter.join();
  }

  for (const auto& [test, elapsed] : seconds) std::printf("%s %.9g\n", test, elapsed);
  return g_byte == quenda::kFillByte ? 0 : 1;
}
