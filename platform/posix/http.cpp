// HTTP over libcurl's multi interface, shaped like WinINet: OpenUrl returns once the
// final response's headers are in (its worker's wait bounds only that), and each Read
// then waits at most the receive time-out for the next piece of the body.
#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/time.h"
#include "shared/ascii_text.h"

namespace platform {

namespace {

constexpr size_t kMaxKeptBody = 1 << 20;
constexpr long kMaxRedirects = 10;
// An abandoned transfer still ends by itself after this long.
constexpr long kTransferLimitSeconds = 120;
// Reads wait this long when the caller set no receive time-out.
constexpr uint32_t kDefaultReceiveTimeoutMs = 30000;
// Longest single wait for socket activity, so that a finished transfer is seen soon.
constexpr int kPollSliceMs = 100;

// One transfer with its handles; the body is kept, up to a cap, until Read takes it.
class Transfer {
 public:
  Transfer(const std::string& url, const std::string& agent) {
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_) return;
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT, kTransferLimitSeconds);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  }

  ~Transfer() {
    if (added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
  }

  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool Started() const { return added_; }
  bool HeadersDone() const { return headersDone_ || done_; }
  bool Done() const { return done_; }
  bool Failed() const { return done_ && result_ != CURLE_OK; }
  bool HasUnreadBody() const { return offset_ < body_.size(); }

  // Drives the transfer until `ready` holds, it ends, or `timeoutMs` passes; false when
  // the time ran out first.
  template <class Ready>
  bool RunUntil(Ready ready, uint32_t timeoutMs) {
    uint32_t start = TickCount();
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi_, &running) != CURLM_OK) {
        Finish(CURLE_FAILED_INIT);
        return true;
      }
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE) Finish(message->data.result);
      }
      if (ready() || done_) return true;
      uint32_t spent = TicksBetween(start, TickCount());
      if (spent >= timeoutMs) return false;
      int slice = static_cast<int>(std::min<uint32_t>(timeoutMs - spent, kPollSliceMs));
      curl_multi_poll(multi_, nullptr, 0, slice, nullptr);
    }
  }

  long Status() {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }

  // The Content-Type of the response; false when it sent none.
  bool ContentType(std::string& type) {
    char* text = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &text) != CURLE_OK || !text) return false;
    type = text;
    return true;
  }

  size_t TakeBody(char* buffer, size_t size) {
    size_t n = std::min(size, body_.size() - offset_);
    std::memcpy(buffer, body_.data() + offset_, n);
    offset_ += n;
    if (offset_ == body_.size()) {
      body_.clear();
      offset_ = 0;
    }
    return n;
  }

 private:
  void Finish(CURLcode result) {
    if (done_) return;
    done_ = true;
    result_ = result;
  }

  // Header lines of every response on the way: interim (1xx) and followed redirects
  // (3xx with a Location) are passed over; the blank line after any other response's
  // headers ends the open.
  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    std::string_view line(data, size * count);
    if (kestrelon::StartsWithNoCase(line, "http/")) {
      size_t space = line.find(' ');
      long code = 0;
      for (size_t i = space == std::string_view::npos ? line.size() : space + 1;
           i < line.size() && line[i] >= '0' && line[i] <= '9' && code < 1000; ++i)
        code = code * 10 + (line[i] - '0');
      self->blockStatus_ = code;
      self->blockHasLocation_ = false;
    } else if (kestrelon::StartsWithNoCase(line, "location:")) {
      self->blockHasLocation_ = true;
    } else if (line == "\r\n" || line == "\n") {
      bool interim = self->blockStatus_ >= 100 && self->blockStatus_ < 200;
      bool followed = self->blockStatus_ >= 300 && self->blockStatus_ < 400 && self->blockHasLocation_ &&
                      self->redirects_ < kMaxRedirects;
      if (followed) ++self->redirects_;
      if (!interim && !followed) self->headersDone_ = true;
    }
    return size * count;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    size_t n = size * count;
    self->headersDone_ = true;  // a body always follows its headers
    size_t room = kMaxKeptBody - std::min(kMaxKeptBody, self->body_.size());
    self->body_.append(data, std::min(n, room));
    return n <= room ? n : 0;  // past the cap: stop the transfer, keep what came
  }

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  bool added_ = false;
  bool headersDone_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  long blockStatus_ = 0;
  bool blockHasLocation_ = false;
  long redirects_ = 0;
  std::string body_;
  size_t offset_ = 0;
};

class CurlResponse : public HttpResponse {
 public:
  explicit CurlResponse(std::unique_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}

  void SetReceiveTimeout(uint32_t milliseconds) override { receiveTimeoutMs_ = milliseconds; }

  bool StatusCode(int& code) override {
    long status = transfer_->Status();
    if (status <= 0 || std::to_string(status).size() >= kStatusBufferSize) return false;
    code = static_cast<int>(status);
    return true;
  }

  bool ContentType(std::string& type) override {
    std::string value;
    if (!transfer_->ContentType(value) || value.size() >= kContentTypeBufferSize) return false;
    type = value;
    return true;
  }

  long Read(char* buffer, size_t size) override {
    if (size == 0) return 0;
    Transfer& t = *transfer_;
    bool ready = t.RunUntil([&t] { return t.HasUnreadBody(); }, receiveTimeoutMs_);
    if (t.HasUnreadBody()) return static_cast<long>(t.TakeBody(buffer, size));
    if (!ready || t.Failed()) return -1;  // nothing came in time, or the transfer broke off
    return 0;
  }

 private:
  std::unique_ptr<Transfer> transfer_;
  uint32_t receiveTimeoutMs_ = kDefaultReceiveTimeoutMs;
};

class CurlSession : public HttpSession {
 public:
  explicit CurlSession(std::string agent) : agent_(std::move(agent)) {}

  std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
    auto transfer = std::make_unique<Transfer>(url, agent_);
    if (!transfer->Started()) return nullptr;
    Transfer& t = *transfer;
    t.RunUntil([&t] { return t.HeadersDone(); }, kTransferLimitSeconds * 1000);
    // No response at all (refused, unresolved, cut off before the headers): no request.
    if (!t.HeadersDone() || (t.Failed() && t.Status() == 0)) return nullptr;
    return std::make_unique<CurlResponse>(std::move(transfer));
  }

 private:
  std::string agent_;
};

}  // namespace

std::shared_ptr<HttpSession> HttpSession::Open(const std::string& agent) {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  if (!ready) return nullptr;
  return std::make_shared<CurlSession>(agent);
}

}  // namespace platform
