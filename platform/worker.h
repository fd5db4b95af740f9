// Worker threads that carry one blocking call while the caller waits at most a time-out.
//
// A worker that is still busy when the wait runs out is abandoned: it runs to its end on its
// own, but nothing it produces reaches the caller any more. The work must therefore own (or
// share through reference-counted pointers) everything it touches; RunWithTimeout hands the
// result back through a slot that only the worker writes and that the caller reads only when
// the worker finished in time.
//
// A library whose code a worker runs must not be unloaded under it: on Windows each worker
// holds a reference to the module it was started from until it has left that module's
// code, and a library that decides about its own unloading (an in-process server) also
// asks LiveWorkers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace platform {

enum class WorkerWait {
  Finished,   // the work returned (or raised; nothing escapes a worker) within the time-out
  TimedOut,   // the wait ran out; the worker is abandoned
  NotStarted  // no thread could be created; the work did not run
};

// Runs `work` on a new thread and waits for it at most `timeoutMs` milliseconds.
WorkerWait RunOnWorker(std::function<void()> work, uint32_t timeoutMs);

// A bound on the live workers of one kind, abandoned ones included, so that calls that keep
// hanging past their time-out cannot pile up threads without end.
class WorkerLimit {
 public:
  explicit WorkerLimit(size_t maximum) : m_maximum(maximum) {}
  WorkerLimit(const WorkerLimit&) = delete;
  WorkerLimit& operator=(const WorkerLimit&) = delete;

  size_t Live() const { return m_live.load(); }

  // One place more taken, unless all are; and given back.
  bool TryTake() {
    size_t live = m_live.load();
    while (live < m_maximum)
      if (m_live.compare_exchange_weak(live, live + 1)) return true;
    return false;
  }
  void Give() { m_live.fetch_sub(1); }

 private:
  const size_t m_maximum;
  std::atomic<size_t> m_live{0};
};

// As above, counted against `limit` (which must outlive every worker it counts): NotStarted,
// without running the work, while the limit's workers are all still alive. A worker counts
// until the work and everything it holds are gone.
inline WorkerWait RunOnWorker(std::function<void()> work, uint32_t timeoutMs, WorkerLimit& limit) {
  if (!limit.TryTake()) return WorkerWait::NotStarted;
  // Given back when the last copy of the work is destroyed: by the worker once it is done,
  // or at once when no thread could be started.
  auto slot = std::shared_ptr<WorkerLimit>(&limit, [](WorkerLimit* counted) { counted->Give(); });
  return RunOnWorker([slot, work = std::move(work)] { work(); }, timeoutMs);
}

// Workers started by RunOnWorker that have not yet ended (abandoned ones included).
size_t LiveWorkers();

// Waits until no worker is alive any more, at most `timeoutMs`; true when none is left.
bool WaitForWorkers(uint32_t timeoutMs);

// Runs `work` (a callable returning T) on a worker. The result, when the worker finished in
// time and did not raise; nothing otherwise.
template <class T, class F>
std::optional<T> RunWithTimeout(F work, uint32_t timeoutMs) {
  auto slot = std::make_shared<std::optional<T>>();
  WorkerWait wait = RunOnWorker(
      [slot, work = std::move(work)]() mutable { slot->emplace(work()); }, timeoutMs);
  if (wait != WorkerWait::Finished) return std::nullopt;
  return std::move(*slot);
}

}  // namespace platform
