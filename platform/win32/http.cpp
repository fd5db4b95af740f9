// HTTP over WinINet: one Internet handle per session, one request handle per response.
#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

namespace platform {

namespace {

class WinInetResponse : public HttpResponse {
 public:
  explicit WinInetResponse(HINTERNET request) : request_(request) {}
  ~WinInetResponse() override { InternetCloseHandle(request_); }

  void SetReceiveTimeout(uint32_t milliseconds) override {
    DWORD value = milliseconds;
    InternetSetOptionA(request_, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
  }

  bool StatusCode(int& code) override {
    char text[kStatusBufferSize] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request_, HTTP_QUERY_STATUS_CODE, text, &size, nullptr)) return false;
    code = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) code = code * 10 + (*p - '0');
    return true;
  }

  bool ContentType(std::string& type) override {
    char text[kContentTypeBufferSize] = {};
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_TYPE, text, &size, nullptr)) return false;
    type.assign(text, size < sizeof text ? size : sizeof text - 1);
    return true;
  }

  long Read(char* buffer, size_t size) override {
    DWORD read = 0;
    if (!InternetReadFile(request_, buffer, static_cast<DWORD>(size), &read)) return -1;
    return static_cast<long>(read);
  }

 private:
  HINTERNET request_;
};

class WinInetSession : public HttpSession {
 public:
  explicit WinInetSession(HINTERNET internet) : internet_(internet) {}
  ~WinInetSession() override { InternetCloseHandle(internet_); }

  std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) override {
    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP |
                  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
    HINTERNET request = InternetOpenUrlA(internet_, url.c_str(), nullptr, 0, flags, reinterpret_cast<DWORD_PTR>(this));
    if (!request) return nullptr;
    return std::make_unique<WinInetResponse>(request);
  }

 private:
  HINTERNET internet_;
};

}  // namespace

std::shared_ptr<HttpSession> HttpSession::Open(const std::string& agent) {
  HINTERNET internet = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!internet) return nullptr;
  return std::make_shared<WinInetSession>(internet);
}

}  // namespace platform
