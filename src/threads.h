// The cores the program works on: a pool of kept threads that run forked tasks (fork-join: a
// task not yet taken when its result is wanted runs in the thread that wants it, and a thread
// waiting for a task taken elsewhere runs others meanwhile), and passes split among them.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// The threads that reading, renumbering and counting may use at once: the processors this
// process may run on (its affinity mask, which taskset sets). The answer does not depend on it:
// the tests set it to other values and compare.
extern std::atomic<int> cores;

// Starts f on a thread of its own; where the system has no thread to give, returns none (not
// joinable) and f is left to the caller.
template <class F>
std::thread Spawn(F&& f) {
  try {
    return std::thread(std::forward<F>(f));
  } catch (const std::system_error&) {
    return std::thread();
  }
}

// A forked task: its function, who runs it (0 none yet, 1 taken, 2 done), and what it threw.
struct Task;
using TaskRef = std::shared_ptr<Task>;

// Queues f for the pool's cores - 1 threads (started as first needed, kept, each waiting a
// millisecond for the next task before it sleeps) and returns at once. With one core, or no
// thread to be had, f waits for Join. Cost: a few microseconds.
TaskRef Fork(std::function<void()> f);

// Returns once task is done, having run it here if no thread took it, and rethrows what it threw.
// While it runs elsewhere this thread runs the tasks forked last (its own, most likely).
void Join(const TaskRef& task);

// Whether a thread has taken task (it is running or done), so that it will be done without
// Join.
bool Taken(const TaskRef& task);

// A point that threads wait at until a condition holds: they spin a little (a wait here is
// usually short), then sleep until Wake. Whoever makes the condition true calls Wake after.
class Signal {
 public:
  template <class F>
  void Wait(F ready) {
    for (int i = 0; i < 100 && !ready(); i++) std::this_thread::yield();
    if (ready()) return;
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, ready);
  }
  void Wake() {
    { std::lock_guard<std::mutex> lock(mu); }  // a waiter is either asleep or sees the change
    cv.notify_all();
  }

 private:
  std::mutex mu;
  std::condition_variable cv;
};

// Runs f(lo_j, hi_j) over pieces that tile [lo, hi), one per core (at least `least` each), and
// waits for all (what one throws is thrown once all are done). For passes of random accesses
// to distinct places: each core keeps its own cache misses in flight.
template <class F>
void Split(size_t lo, size_t hi, F f, size_t least = size_t(1) << 16) {
  const size_t pieces = std::min<size_t>(size_t(cores.load()), (hi - lo) / least);
  if (pieces < 2) return f(lo, hi);
  std::vector<TaskRef> rest;
  std::exception_ptr error;
  try {
    for (size_t j = 1; j < pieces; j++) {
      const size_t a = lo + (hi - lo) * j / pieces, b = lo + (hi - lo) * (j + 1) / pieces;
      rest.push_back(Fork([&f, a, b] { f(a, b); }));
    }
    f(lo, lo + (hi - lo) / pieces);
  } catch (...) {
    error = std::current_exception();
  }
  for (const auto& task : rest) {
    try {
      Join(task);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) std::rethrow_exception(error);
}
