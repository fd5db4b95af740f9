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
  std::string page;
  if (!sessionTried_) {
    sessionTried_ = true;
    session_ = platform::HttpSession::Open(kAgent);
  }
  if (proxyRefused_ || !session_ || timeoutMs_ == 0) return page;

  // The worker owns what it touches (the session is shared, the link copied) and writes
  // only its own slot, which is read here only when it finished in time.
  std::shared_ptr<platform::HttpSession> session = session_;
  auto slot = std::make_shared<std::unique_ptr<platform::HttpResponse>>();
  platform::WorkerWait wait =
      platform::RunOnWorker([session, link, slot] { *slot = session->OpenUrl(link); }, timeoutMs_);
  if (wait == platform::WorkerWait::TimedOut) {
    status_ = kTimedOut;
    return page;
  }
  std::unique_ptr<platform::HttpResponse> response =
      wait == platform::WorkerWait::Finished ? std::move(*slot) : nullptr;
  if (!response) return page;  // the open failed: no page, status stays 200
  response->SetReceiveTimeout(timeoutMs_);

  int code = 0;
  status_ = response->StatusCode(code) ? code : 0;
  if (status_ == 407) proxyRefused_ = true;
  std::string type;
  if (status_ != 200 || !response->ContentType(type) || !IsContentTypeHtml(type)) return page;

  char chunk[kChunkSize];
  for (int chunks = 0; chunks < kMaxChunks; ++chunks) {
    long got = response->Read(chunk, sizeof chunk);
    if (got <= 0) break;
    page.append(chunk, static_cast<size_t>(got));
  }
  return page;
}

}  // namespace kestrelon
