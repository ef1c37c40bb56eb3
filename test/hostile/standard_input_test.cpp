// Standard input that is open but silent: the collector waits at "Press
// Enter to Exit." and the job ends as soon as one line arrives, although the
// input stays open. (Standard input at its end is what every other run of
// the suites gets, under a time limit: a collector that waited there would
// fail them all.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include "hostile_support.h"

namespace quenda::hostile {
namespace {

TEST(SilentInputTest, JobEndsAfterOneLineWhileInputStaysOpen) {
  TemporaryFolder directory;
  TemporaryFolder pipes;
  const std::filesystem::path input = pipes.path() / "input";
  ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
  constexpr auto kLineAfter = std::chrono::seconds(6);

  // The writer opens the pipe (as soon as the job's shell opens it to read),
  // writes one line after a while, and keeps it open until the job is over.
  std::promise<void> job_over;
  std::thread writer([&input, &kLineAfter, over = job_over.get_future()] {
    // A job that ended early leaves the line without a reader; that must
    // fail the write, not end the test program.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    const int out = ::open(input.c_str(), O_WRONLY);
    if (out < 0) return;
    std::this_thread::sleep_for(kLineAfter);
    (void)::write(out, "\n", 1);
    over.wait();
    ::close(out);
  });

  // A program that waited for the end of input would be stopped at the time limit.
  const JobOptions options{.processes = 2,
                           .directory = directory.path(),
                           .stdin_from = input.string(),
                           .timeout_seconds = 90};
  const JobResult result = e2e::run_job(options);
  // Should the job never have opened the pipe, this releases the writer.
  const int release = ::open(input.c_str(), O_RDONLY | O_NONBLOCK);
  job_over.set_value();
  writer.join();
  if (release >= 0) ::close(release);

  EXPECT_EQ(result.exit_code, 0) << result.errors;
  EXPECT_EQ(result.errors, "") << "a clean run says nothing on standard error";
  const Lines console = e2e::split_lines(result.console);
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(console.back(), "Press Enter to Exit.");
  // It waited for the line, and ended of its own accord after it.
  EXPECT_GE(result.seconds, std::chrono::duration<double>(kLineAfter).count());
  EXPECT_LT(result.seconds, options.timeout_seconds);
}

}  // namespace
}  // namespace quenda::hostile
