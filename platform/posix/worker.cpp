#include "platform/worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {
namespace {

std::mutex g_liveMutex;
std::condition_variable g_liveChanged;
size_t g_live = 0;

// What the caller and the worker share; it lives until both have let go of it.
struct WorkerBlock {
  std::function<void()> work;
  std::mutex mutex;
  std::condition_variable doneChanged;
  bool done = false;
};

void WorkerMain(std::shared_ptr<WorkerBlock> block) {
  try {
    block->work();
  } catch (...) {
    // Nothing escapes a worker; the caller sees a finished worker without a result.
  }
  // Release what the work captured before the worker counts as ended.
  block->work = nullptr;
  {
    std::lock_guard<std::mutex> lock(block->mutex);
    block->done = true;
  }
  block->doneChanged.notify_all();
  block.reset();
  {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    --g_live;
  }
  g_liveChanged.notify_all();
}

}  // namespace

WorkerWait RunOnWorker(std::function<void()> work, uint32_t timeoutMs) {
  auto block = std::make_shared<WorkerBlock>();
  block->work = std::move(work);
  {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    ++g_live;
  }
  try {
    std::thread(WorkerMain, block).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(g_liveMutex);
    --g_live;
    return WorkerWait::NotStarted;
  }
  std::unique_lock<std::mutex> lock(block->mutex);
  bool done = block->doneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [&] { return block->done; });
  return done ? WorkerWait::Finished : WorkerWait::TimedOut;
}

size_t LiveWorkers() {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  return g_live;
}

bool WaitForWorkers(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(g_liveMutex);
  return g_liveChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [] { return g_live == 0; });
}

}  // namespace platform
