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
