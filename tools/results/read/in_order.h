// Many results files read on a few threads, their results taken in order:
// a folder of a thousand runs is read and converted on every core, while
// messages, outputs and judgements come out as they would one file at a
// time.
#ifndef QUENDA_TOOLS_RESULTS_READ_IN_ORDER_H_
#define QUENDA_TOOLS_RESULTS_READ_IN_ORDER_H_

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace quenda::results {

// Calls `work(i)` for every i below `count` on a few threads, and
// `use(i, result)` on the calling thread in the order of i. The calling
// thread works too while the result it needs next is being made, rather than
// be woken for every result. At most two results a thread wait to be used,
// so that memory stays that of a few files. `work` must not throw and must
// touch nothing that `use` or other calls of `work` change.
template <typename Work, typename Use>
void in_order(std::size_t count, Work work, Use use) {
  using Result = std::invoke_result_t<Work&, std::size_t>;
  const std::size_t threads =
      std::min<std::size_t>({std::max(std::thread::hardware_concurrency(), 1u), 8, count});
  const std::size_t window = 2 * threads;
  std::vector<std::optional<Result>> waiting(window);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t taken = 0;  // the next i for a thread to work on
  std::size_t used = 0;   // results taken to be used
  bool stop = false;      // `use` threw: the threads end

  // Works on the next i under `lock`, unlocked while working.
  const auto work_next = [&](std::unique_lock<std::mutex>& lock) {
    const std::size_t i = taken++;
    lock.unlock();
    Result result = work(i);
    lock.lock();
    waiting[i % window].emplace(std::move(result));
    changed.notify_all();
  };
  const auto thread = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || taken == count || taken < used + window; });
      if (stop || taken == count) return;
      work_next(lock);
    }
  };
  std::vector<std::jthread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(thread);
  try {
    for (std::size_t i = 0; i < count; ++i) {
      std::optional<Result>& slot = waiting[i % window];
      std::unique_lock lock(mutex);
      while (!slot.has_value()) {
        if (taken < count && taken < used + window) {
          work_next(lock);
        } else {
          changed.wait(lock);
        }
      }
      Result result = std::move(*slot);
      slot.reset();
      ++used;
      lock.unlock();
      changed.notify_all();
      use(i, std::move(result));
    }
  } catch (...) {
    // The threads end rather than wait for room that `use` no longer makes.
    const std::lock_guard lock(mutex);
    stop = true;
    changed.notify_all();
    throw;
  }
}

}  // namespace quenda::results

#endif  // QUENDA_TOOLS_RESULTS_READ_IN_ORDER_H_
