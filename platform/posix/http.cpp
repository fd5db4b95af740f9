// HTTP over libcurl. OpenUrl performs the whole transfer (it runs on a worker whose wait
// bounds it) and keeps the body, up to a cap, for Read to hand out.
#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr size_t kMaxKeptBody = 1 << 20;
constexpr long kMaxRedirects = 10;
// An abandoned transfer still ends by itself after this long.
constexpr long kTransferLimitSeconds = 120;

class CurlResponse : public HttpResponse {
 public:
  CurlResponse(long status, std::string contentType, bool hasContentType, std::string body)
      : status_(status), contentType_(std::move(contentType)), hasContentType_(hasContentType), body_(std::move(body)) {}

  void SetReceiveTimeout(uint32_t) override {}  // the body is already here

  bool StatusCode(int& code) override {
    if (status_ <= 0 || std::to_string(status_).size() >= kStatusBufferSize) return false;
    code = static_cast<int>(status_);
    return true;
  }

  bool ContentType(std::string& type) override {
    if (!hasContentType_ || contentType_.size() >= kContentTypeBufferSize) return false;
    type = contentType_;
    return true;
  }

  long Read(char* buffer, size_t size) override {
    size_t n = std::min(size, body_.size() - offset_);
    std::memcpy(buffer, body_.data() + offset_, n);
    offset_ += n;
    return static_cast<long>(n);
  }

 private:
  long status_;
  std::string contentType_;
  bool hasContentType_;
  std::string body_;
  size_t offset_ = 0;
};

size_t KeepBody(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  size_t n = size * count;
  size_t room = kMaxKeptBody - std::min(kMaxKeptBody, body->size());
  body->append(data, std::min(n, room));
  return n <= room ? n : 0;  // past the cap: stop the transfer, keep what came
}

class CurlSession : public HttpSession {
 public:
  explicit CurlSession(std::string agent) : agent_(std::move(agent)) {}

  std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
    CURL* curl = curl_easy_init();
    if (!curl) return nullptr;
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent_.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTransferLimitSeconds);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* type = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    std::string contentType = type ? type : "";
    bool hasType = type != nullptr;
    curl_easy_cleanup(curl);
    // No response at all (refused, unresolved, cut off before the headers): no request.
    if (status == 0 && result != CURLE_OK) return nullptr;
    return std::make_unique<CurlResponse>(status, std::move(contentType), hasType, std::move(body));
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
