// HTTP over libcurl's multi interface, shaped like WinINet: OpenUrl returns once the
// final response's headers are in, and each Read then waits for the next piece of the body;
// the fetch's one deadline bounds them all, and libcurl's own time-out ends the transfer
// there too.
#include "platform/http.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <type_traits>

#include "platform/address_scope.h"
#include "platform/time.h"
#include "shared/ascii_text.h"

namespace platform {

namespace {

constexpr size_t kMaxKeptBody = 1 << 20;
constexpr long kMaxRedirects = 10;
// Longest single wait for socket activity, so that a finished transfer is seen soon.
constexpr int kPollSliceMs = 100;

// Whether the link scan may connect to `address`.
bool MayConnect(const sockaddr_storage& address, bool testLoopback) {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  if (address.ss_family == AF_INET) {
    bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in&>(address).sin_addr);
    size = 4;
  } else if (address.ss_family == AF_INET6) {
    bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    size = 16;
  }
  return bytes != nullptr && (IsPublicAddress(bytes, size) || (testLoopback && IsTestLoopback(bytes, size)));
}

// libcurl is loaded at the first session rather than with every program that links this
// layer: it and the libraries it needs would cost each start of a command-line tool many
// milliseconds of loading and relocation.
struct CurlApi {
  CURLcode (*globalInit)(long);
  CURL* (*easyInit)();
  CURLcode (*easySetopt)(CURL*, CURLoption, ...);
  CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
  void (*easyCleanup)(CURL*);
  CURLM* (*multiInit)();
  CURLMcode (*multiAddHandle)(CURLM*, CURL*);
  CURLMcode (*multiRemoveHandle)(CURLM*, CURL*);
  CURLMcode (*multiPerform)(CURLM*, int*);
  CURLMsg* (*multiInfoRead)(CURLM*, int*);
  CURLMcode (*multiPoll)(CURLM*, curl_waitfd*, unsigned int, int, int*);
  CURLMcode (*multiCleanup)(CURLM*);
};
CurlApi curl;

bool LoadCurl() {
  void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  auto get = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
    return function != nullptr;
  };
  return get(curl.globalInit, "curl_global_init") && get(curl.easyInit, "curl_easy_init") &&
         get(curl.easySetopt, "curl_easy_setopt") && get(curl.easyGetinfo, "curl_easy_getinfo") &&
         get(curl.easyCleanup, "curl_easy_cleanup") && get(curl.multiInit, "curl_multi_init") &&
         get(curl.multiAddHandle, "curl_multi_add_handle") && get(curl.multiRemoveHandle, "curl_multi_remove_handle") &&
         get(curl.multiPerform, "curl_multi_perform") && get(curl.multiInfoRead, "curl_multi_info_read") &&
         get(curl.multiPoll, "curl_multi_poll") && get(curl.multiCleanup, "curl_multi_cleanup");
}

// Milliseconds left until `timeoutMs` after `start`.
uint32_t Left(uint32_t start, uint32_t timeoutMs) {
  uint32_t spent = TicksBetween(start, TickCount());
  return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// One transfer with its handles; the body is kept, up to a cap, until Read takes it.
class Transfer {
 public:
  Transfer(const std::string& url, const std::string& agent, uint32_t timeoutMs, bool testLoopback)
      : testLoopback_(testLoopback) {
    easy_ = curl.easyInit();
    multi_ = curl.multiInit();
    if (!easy_ || !multi_) return;
    curl.easySetopt(easy_, CURLOPT_URL, url.c_str());
    curl.easySetopt(easy_, CURLOPT_USERAGENT, agent.c_str());
    curl.easySetopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easySetopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl.easySetopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl.easySetopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<uint32_t>(timeoutMs, 1)));
    // Direct connections only, each checked as it is opened (a proxy would connect for us
    // to addresses nobody checked).
    curl.easySetopt(easy_, CURLOPT_PROXY, "");
    curl.easySetopt(easy_, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    curl.easySetopt(easy_, CURLOPT_OPENSOCKETDATA, this);
    curl.easySetopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easySetopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl.easySetopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl.easySetopt(easy_, CURLOPT_HEADERFUNCTION, OnHeader);
    curl.easySetopt(easy_, CURLOPT_HEADERDATA, this);
    curl.easySetopt(easy_, CURLOPT_WRITEFUNCTION, OnBody);
    curl.easySetopt(easy_, CURLOPT_WRITEDATA, this);
    added_ = curl.multiAddHandle(multi_, easy_) == CURLM_OK;
  }

  ~Transfer() {
    if (added_) curl.multiRemoveHandle(multi_, easy_);
    if (easy_) curl.easyCleanup(easy_);
    if (multi_) curl.multiCleanup(multi_);
  }

  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool Started() const { return added_; }
  bool Refused() const { return refused_; }
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
      if (curl.multiPerform(multi_, &running) != CURLM_OK) {
        Finish(CURLE_FAILED_INIT);
        return true;
      }
      int queued = 0;
      while (CURLMsg* message = curl.multiInfoRead(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE) Finish(message->data.result);
      }
      if (ready() || done_) return true;
      uint32_t spent = TicksBetween(start, TickCount());
      if (spent >= timeoutMs) return false;
      int slice = static_cast<int>(std::min<uint32_t>(timeoutMs - spent, kPollSliceMs));
      curl.multiPoll(multi_, nullptr, 0, slice, nullptr);
    }
  }

  long Status() {
    long status = 0;
    curl.easyGetinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }

  // The Content-Type of the response; false when it sent none.
  bool ContentType(std::string& type) {
    char* text = nullptr;
    if (curl.easyGetinfo(easy_, CURLINFO_CONTENT_TYPE, &text) != CURLE_OK || !text) return false;
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

  // Every connection of the transfer, the redirects' included, to the address it will use.
  static curl_socket_t OnOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address) {
    auto* self = static_cast<Transfer*>(user);
    sockaddr_storage target{};
    if (purpose != CURLSOCKTYPE_IPCXN || address->addrlen > sizeof target) return CURL_SOCKET_BAD;
    std::memcpy(&target, &address->addr, address->addrlen);
    if (!MayConnect(target, self->testLoopback_)) {
      self->refused_ = true;
      return CURL_SOCKET_BAD;
    }
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
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
  bool testLoopback_ = false;
  bool refused_ = false;
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
  CurlResponse(std::unique_ptr<Transfer> transfer, uint32_t start, uint32_t timeoutMs)
      : transfer_(std::move(transfer)), start_(start), timeoutMs_(timeoutMs) {}

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
    bool ready = t.RunUntil([&t] { return t.HasUnreadBody(); }, Left(start_, timeoutMs_));
    if (t.HasUnreadBody()) return static_cast<long>(t.TakeBody(buffer, size));
    if (!ready || t.Failed()) return -1;  // nothing came in time, or the transfer broke off
    return 0;
  }

 private:
  std::unique_ptr<Transfer> transfer_;
  uint32_t start_;
  uint32_t timeoutMs_;
};

class CurlSession : public HttpSession {
 public:
  CurlSession(std::string agent, bool testLoopback) : agent_(std::move(agent)), testLoopback_(testLoopback) {}

  std::unique_ptr<HttpResponse> OpenUrl(const std::string& url, uint32_t timeoutMs, bool& refused) override {
    refused = false;
    uint32_t start = TickCount();
    auto transfer = std::make_unique<Transfer>(url, agent_, timeoutMs, testLoopback_);
    if (!transfer->Started()) return nullptr;
    Transfer& t = *transfer;
    t.RunUntil([&t] { return t.HeadersDone(); }, Left(start, timeoutMs));
    // No response at all (unresolved, cut off before the headers), or a hop that was
    // refused: no request.
    refused = t.Failed() && t.Refused();
    if (!t.HeadersDone() || (t.Failed() && t.Status() == 0) || refused) return nullptr;
    return std::make_unique<CurlResponse>(std::move(transfer), start, timeoutMs);
  }

 private:
  std::string agent_;
  bool testLoopback_;
};

}  // namespace

std::shared_ptr<HttpSession> HttpSession::Open(const std::string& agent) {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = LoadCurl() && curl.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  if (!ready) return nullptr;
  const char* loopback = std::getenv("KESTRELON_LINK_SCAN_LOOPBACK");
  return std::make_shared<CurlSession>(agent, loopback != nullptr && std::string_view(loopback) == "1");
}

}  // namespace platform
