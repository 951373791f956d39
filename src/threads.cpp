// The pool of kept threads behind Fork and Join. One queue under one lock: the tasks are coarse
// (a subtree of thousands of nodes, a batch of steps, a piece of a pass), so the lock is taken a
// few thousand times a second at most and is never what a core waits on.
#include "threads.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

std::atomic<int> cores{[] {
  cpu_set_t set;
  return sched_getaffinity(0, sizeof set, &set) == 0 ? std::max(1, CPU_COUNT(&set)) : 1;
}()};

struct Task {
  std::function<void()> f;
  std::atomic<int> state{0};  // 0 queued, 1 taken, 2 done
  std::exception_ptr error;
};

namespace {

std::mutex mu;               // guards queue, quit and the thread list
std::condition_variable cv;  // a task was queued or finished, or the pool ends
std::deque<TaskRef> queue;   // forked tasks, oldest first; some may be taken already (by Join)
std::atomic<int> queued{0};  // queue.size(), read without the lock while spinning
bool quit = false;
std::vector<std::thread> threads;
bool stopping = false;  // Stop is registered

// Runs a task this thread has taken (state 1) and marks it done.
void Run(Task& task) {
  try {
    task.f();
  } catch (...) {
    task.error = std::current_exception();
  }
  task.f = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu);
    task.state.store(2, std::memory_order_release);
  }
  cv.notify_all();
}

// Under the lock: the oldest (or newest) queued task not yet taken, now taken; null if none.
TaskRef Take(bool oldest) {
  while (!queue.empty()) {
    TaskRef task = oldest ? queue.front() : queue.back();
    oldest ? queue.pop_front() : queue.pop_back();
    queued.store(int(queue.size()), std::memory_order_relaxed);
    int expect = 0;
    if (task->state.compare_exchange_strong(expect, 1)) return task;
  }
  return nullptr;
}

// Thread `id` of the pool: takes the oldest task (the largest, forked first), while the pool
// is meant to have at least id + 1 threads (the tests lower cores between runs).
void Serve(int id) {
  for (;;) {
    const auto t0 = std::chrono::steady_clock::now();
    while (!queued.load(std::memory_order_relaxed) &&
           std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(1))
      std::this_thread::yield();
    TaskRef task;
    {
      std::unique_lock<std::mutex> lock(mu);
      cv.wait(lock, [&] { return quit || (!queue.empty() && id < cores - 1); });
      if (quit) return;
      task = Take(true);
    }
    if (task) Run(*task);
  }
}

// Ends the pool's threads before the objects they use are destroyed (registered after those
// were made, so it runs before their destructors).
void Stop() {
  {
    std::lock_guard<std::mutex> lock(mu);
    quit = true;
  }
  cv.notify_all();
  for (auto& th : threads) th.join();
}

}  // namespace

TaskRef Fork(std::function<void()> f) {
  auto task = std::make_shared<Task>();
  task->f = std::move(f);
  if (cores < 2) return task;
  {
    std::lock_guard<std::mutex> lock(mu);
    while (int(threads.size()) < cores - 1) {
      std::thread th = Spawn([id = int(threads.size())] { Serve(id); });
      if (!th.joinable()) break;  // no more threads: the tasks left wait for Join
      threads.push_back(std::move(th));
    }
    if (!stopping && !threads.empty()) stopping = true, std::atexit(Stop);
    if (!threads.empty()) queue.push_back(task), queued.store(int(queue.size()));
  }
  cv.notify_all();
  return task;
}

void Join(const TaskRef& task) {
  int expect = 0;
  if (task->state.compare_exchange_strong(expect, 1)) {
    Run(*task);
  } else {
    auto t0 = std::chrono::steady_clock::now();
    while (task->state.load(std::memory_order_acquire) != 2) {
      TaskRef other;
      if (queued.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> lock(mu);
        other = Take(false);
      }
      if (other) {
        Run(*other), t0 = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(1)) {
        std::this_thread::yield();
      } else {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return task->state.load() == 2 || !queue.empty(); });
      }
    }
  }
  if (task->error) std::rethrow_exception(task->error);
}

bool Taken(const TaskRef& task) { return task->state.load(std::memory_order_acquire) != 0; }
