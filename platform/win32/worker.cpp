#include "platform/worker.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

CRITICAL_SECTION* LiveLock() {
  static CRITICAL_SECTION* lock = [] {
    auto* cs = new CRITICAL_SECTION;
    InitializeCriticalSection(cs);
    return cs;
  }();
  return lock;
}

// Signalled whenever no worker is alive.
HANDLE IdleEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  return event;
}

size_t g_live = 0;

void AddLive(int delta) {
  EnterCriticalSection(LiveLock());
  g_live = static_cast<size_t>(static_cast<long long>(g_live) + delta);
  if (g_live == 0) {
    SetEvent(IdleEvent());
  } else {
    ResetEvent(IdleEvent());
  }
  LeaveCriticalSection(LiveLock());
}

// The library (or program) this code was loaded from, with one reference more. A worker
// holds it while it runs and gives it back as it exits, so that a library unloaded
// meanwhile (COM freeing an unused server, the plug-in's tear-down) stays in memory
// until its last worker has left its code. Null when no reference could be taken.
HMODULE ReferenceOwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<const void*>(&ReferenceOwnModule)), &module))
    return nullptr;
  return module;
}

// What the caller and the worker share; freed by whichever lets go last.
struct WorkerBlock {
  std::function<void()> work;
  HANDLE done = nullptr;
  HMODULE module = nullptr;  // the worker's reference to its own code
  std::atomic<int> refs{2};

  void Release() {
    if (refs.fetch_sub(1) == 1) {
      CloseHandle(done);
      delete this;
    }
  }
};

DWORD WINAPI WorkerMain(void* param) {
  auto* block = static_cast<WorkerBlock*>(param);
  try {
    block->work();
  } catch (...) {
    // Nothing escapes a worker; the caller sees a finished worker without a result.
  }
  block->work = nullptr;
  HMODULE module = block->module;
  SetEvent(block->done);
  block->Release();
  AddLive(-1);
  // Giving the reference back may unload this code: leave without returning into it.
  if (module != nullptr) FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

WorkerWait RunOnWorker(std::function<void()> work, uint32_t timeoutMs) {
  auto* block = new WorkerBlock;
  block->work = std::move(work);
  block->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (block->done == nullptr) {
    delete block;
    return WorkerWait::NotStarted;
  }
  block->module = ReferenceOwnModule();
  AddLive(1);
  HANDLE thread = CreateThread(nullptr, 0, WorkerMain, block, 0, nullptr);
  if (thread == nullptr) {
    if (block->module != nullptr) FreeLibrary(block->module);
    AddLive(-1);
    block->refs = 1;
    block->Release();
    return WorkerWait::NotStarted;
  }
  CloseHandle(thread);
  DWORD wait = WaitForSingleObject(block->done, timeoutMs);
  block->Release();
  return wait == WAIT_OBJECT_0 ? WorkerWait::Finished : WorkerWait::TimedOut;
}

size_t LiveWorkers() {
  EnterCriticalSection(LiveLock());
  size_t live = g_live;
  LeaveCriticalSection(LiveLock());
  return live;
}

bool WaitForWorkers(uint32_t timeoutMs) {
  return WaitForSingleObject(IdleEvent(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace platform
