#include "Lexisift/engine/link_scanner.h"

#include "platform/online.h"
#include "platform/time.h"
#include "platform/worker.h"

#include <mutex>

namespace kestrelon {

namespace {

// Whether the computer is online is asked at most every 20 seconds, for all filters of
// the process together.
constexpr uint32_t kOnlineCheckInterval = 20000;
constexpr uint32_t kMaxTimeoutSeconds = 4'000'000;  // keeps seconds * 1000 within 32 bits
constexpr uint32_t kWorkerGraceMs = 1000;

struct OnlineCheck {
  std::mutex mutex;
  bool checked = false;
  bool online = false;
  uint32_t previous = 0;
};

OnlineCheck& SharedOnlineCheck() {
  static OnlineCheck check;
  return check;
}

bool IsContentTypeHtml(const std::string& type) {
  static constexpr char kHtml[] = "text/html";
  if (type.size() != sizeof kHtml - 1) return false;
  for (size_t i = 0; i < type.size(); ++i) {
    char c = type[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != kHtml[i]) return false;
  }
  return true;
}

// What a fetch worker has got so far, shared with the filter's thread, which takes it once
// its wait is over; from then on the worker writes nothing more.
struct FetchProgress {
  std::mutex mutex;
  bool taken = false;
  bool answered = false;  // the response's headers are in
  bool refused = false;
  int32_t status = 0;
  std::string page;
};

// Never destroyed: abandoned workers may still give their place back at process exit.
platform::WorkerLimit& FetchWorkers() {
  static platform::WorkerLimit* limit = new platform::WorkerLimit(LinkScanner::kMaxLiveFetches);
  return *limit;
}

// The whole fetch, on a worker: the status, and the page of a 200 "text/html" response in
// chunks until it ends, fails, reaches its size or runs out of time.
void FetchOnWorker(platform::HttpSession& session, const std::string& link, uint32_t timeoutMs,
                   FetchProgress& progress) {
  bool refused = false;
  // The worker's own deadline comes a little after the wait's, so that a server too slow
  // always shows as a wait that ran out, never as a failure racing it; a worker given up on
  // still ends soon after.
  std::unique_ptr<platform::HttpResponse> response = session.OpenUrl(link, timeoutMs + kWorkerGraceMs, refused);
  if (!response) {
    std::lock_guard<std::mutex> lock(progress.mutex);
    progress.refused = refused;
    return;
  }
  int code = 0;
  int32_t status = response->StatusCode(code) ? code : 0;
  std::string type;
  bool html = status == 200 && response->ContentType(type) && IsContentTypeHtml(type);
  {
    std::lock_guard<std::mutex> lock(progress.mutex);
    if (progress.taken) return;
    progress.answered = true;
    progress.status = status;
  }
  if (!html) return;
  char chunk[LinkScanner::kChunkSize];
  for (int chunks = 0; chunks < LinkScanner::kMaxChunks; ++chunks) {
    long got = response->Read(chunk, sizeof chunk);
    if (got <= 0) break;
    std::lock_guard<std::mutex> lock(progress.mutex);
    if (progress.taken) return;
    progress.page.append(chunk, static_cast<size_t>(got));
  }
}

}  // namespace

void LinkScanner::ResetOnlineCheck() {
  OnlineCheck& check = SharedOnlineCheck();
  std::lock_guard<std::mutex> lock(check.mutex);
  check.checked = false;
  check.online = false;
}

void LinkScanner::SetTimeoutSeconds(int32_t seconds) {
  if (seconds <= 0) {
    timeoutMs_ = 0;
    return;
  }
  bool online;
  {
    OnlineCheck& check = SharedOnlineCheck();
    std::lock_guard<std::mutex> lock(check.mutex);
    uint32_t now = platform::TickCount();
    if (!check.checked || platform::TicksBetween(check.previous, now) > kOnlineCheckInterval) {
      check.online = platform::IsConnected();
      check.checked = true;
    }
    check.previous = now;
    online = check.online;
  }
  uint32_t capped = static_cast<uint32_t>(seconds) < kMaxTimeoutSeconds ? static_cast<uint32_t>(seconds) : kMaxTimeoutSeconds;
  timeoutMs_ = online ? capped * 1000u : 0;
}

std::string LinkScanner::Fetch(const std::string& link) {
  status_ = 200;
  refused_ = false;
  std::string page;
  if (!sessionTried_) {
    sessionTried_ = true;
    session_ = platform::HttpSession::Open(kAgent);
  }
  if (proxyRefused_ || !session_ || timeoutMs_ == 0) return page;

  // The worker owns what it touches (the session and the progress are shared, the link
  // copied); the progress is taken here under its lock, after which the worker adds nothing.
  std::shared_ptr<platform::HttpSession> session = session_;
  auto progress = std::make_shared<FetchProgress>();
  uint32_t timeoutMs = timeoutMs_;
  platform::WorkerWait wait = platform::RunOnWorker(
      [session, link, timeoutMs, progress] { FetchOnWorker(*session, link, timeoutMs, *progress); },
      timeoutMs, FetchWorkers());
  std::lock_guard<std::mutex> lock(progress->mutex);
  progress->taken = true;
  if (wait == platform::WorkerWait::NotStarted) return page;  // as an open that failed
  refused_ = progress->refused;
  if (!progress->answered) {
    if (wait == platform::WorkerWait::TimedOut) status_ = kTimedOut;
    return page;  // no response: no page, status 200 unless time ran out
  }
  status_ = progress->status;
  if (status_ == 407) proxyRefused_ = true;
  page = std::move(progress->page);
  return page;
}

}  // namespace kestrelon
