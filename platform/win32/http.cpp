// HTTP over WinINet: one Internet handle per session. A fetch follows its redirects itself,
// hop by hop, so that each hop's host is resolved and checked before anything is sent to it;
// every blocking call is bounded by what is left of the fetch's time-out.
#include "platform/http.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/address_scope.h"
#include "platform/net.h"
#include "platform/time.h"

namespace platform {

namespace {

constexpr int kMaxRedirects = 10;

uint32_t Left(uint32_t start, uint32_t timeoutMs) {
  uint32_t spent = TicksBetween(start, TickCount());
  return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// Bounds the connect, send and receive of `handle` by `ms`.
void SetTimeouts(HINTERNET handle, uint32_t ms) {
  DWORD value = std::max<uint32_t>(ms, 1);
  InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value);
  InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof value);
  InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
}

struct Hop {
  bool secure = false;
  std::string host;
  INTERNET_PORT port = 0;
  std::string path;  // with its query, without a fragment
};

bool CrackUrl(const std::string& url, Hop& hop) {
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  // Non-zero lengths without buffers: the parts are returned as places in `url`.
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) return false;
  hop.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  hop.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  hop.port = parts.nPort;
  if (parts.lpszUrlPath != nullptr) hop.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) hop.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  hop.path = hop.path.substr(0, hop.path.find('#'));
  if (hop.path.empty() || hop.path[0] != '/') hop.path.insert(0, "/");
  return true;
}

// The first IPv4 address of `host` as text, when every address it resolves to (IPv6 ones
// included) may be connected to; `refused` tells when one may not.
bool ResolveChecked(std::string host, bool testLoopback, std::string& address, bool& refused) {
  if (!NetStartup()) return false;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.find(':') != std::string::npos) {
    // An IPv6 address as such: judged, but never connected to (IPv4 only here).
    sockaddr_in6 literal{};
    INT size = sizeof literal;
    if (WSAStringToAddressA(host.data(), AF_INET6, nullptr, reinterpret_cast<sockaddr*>(&literal), &size) == 0) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(&literal.sin6_addr);
      refused = !IsPublicAddress(bytes, 16);
    }
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
  address.clear();
  for (addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
      size = 4;
    } else if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6)) {
      bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr);
      size = 16;
    } else {
      continue;
    }
    if (!IsPublicAddress(bytes, size) && !(testLoopback && IsTestLoopback(bytes, size))) {
      refused = true;
      break;
    }
    if (size == 4 && address.empty()) {
      address = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) +
                "." + std::to_string(bytes[3]);
    }
  }
  freeaddrinfo(list);
  return !refused && !address.empty();
}

// A header's value, as long as it is; false when the response has none.
bool QueryHeader(HINTERNET request, DWORD which, std::string& value) {
  DWORD size = 0;
  HttpQueryInfoA(request, which, nullptr, &size, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
  std::vector<char> buffer(size + 1);
  if (!HttpQueryInfoA(request, which, buffer.data(), &size, nullptr)) return false;
  value.assign(buffer.data(), std::min<size_t>(size, buffer.size() - 1));
  return true;
}

bool IsFollowedRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class WinInetResponse : public HttpResponse {
 public:
  WinInetResponse(HINTERNET connection, HINTERNET request, uint32_t start, uint32_t timeoutMs)
      : connection_(connection), request_(request), start_(start), timeoutMs_(timeoutMs) {}
  ~WinInetResponse() override {
    InternetCloseHandle(request_);
    InternetCloseHandle(connection_);
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

  // Waits for data at most what is left of the time-out, then reads only what is there, so
  // that a server sending a byte now and then cannot hold a read for long.
  long Read(char* buffer, size_t size) override {
    uint32_t left = Left(start_, timeoutMs_);
    if (left == 0) return -1;
    SetTimeouts(request_, left);
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request_, &available, 0, 0)) return -1;
    if (available == 0) return 0;
    if (Left(start_, timeoutMs_) == 0) return -1;
    DWORD read = 0;
    DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, available));
    if (!InternetReadFile(request_, buffer, wanted, &read)) return -1;
    return static_cast<long>(read);
  }

 private:
  HINTERNET connection_;
  HINTERNET request_;
  uint32_t start_;
  uint32_t timeoutMs_;
};

class WinInetSession : public HttpSession {
 public:
  WinInetSession(HINTERNET internet, bool testLoopback) : internet_(internet), testLoopback_(testLoopback) {}
  ~WinInetSession() override { InternetCloseHandle(internet_); }

  std::unique_ptr<HttpResponse> OpenUrl(const std::string& url, uint32_t timeoutMs, bool& refused) override {
    refused = false;
    uint32_t start = TickCount();
    std::string current = url;
    for (int redirects = 0;; ++redirects) {
      Hop hop;
      std::string address;
      if (!CrackUrl(current, hop) || !ResolveChecked(hop.host, testLoopback_, address, refused)) return nullptr;
      uint32_t left = Left(start, timeoutMs);
      if (left == 0) return nullptr;
      // Plain HTTP goes to the very address checked; HTTPS by name, its certificate
      // standing for the name (see http.h).
      HINTERNET connection = InternetConnectA(internet_, hop.secure ? hop.host.c_str() : address.c_str(), hop.port,
                                              nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
      if (connection == nullptr) return nullptr;
      DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT |
                    (hop.secure ? INTERNET_FLAG_SECURE : 0);
      HINTERNET request = HttpOpenRequestA(connection, "GET", hop.path.c_str(), nullptr, nullptr, nullptr, flags, 0);
      if (request == nullptr) {
        InternetCloseHandle(connection);
        return nullptr;
      }
      SetTimeouts(request, left);
      bool sent = true;
      if (!hop.secure) {
        bool defaultPort = hop.port == INTERNET_DEFAULT_HTTP_PORT;
        std::string host = "Host: " + hop.host + (defaultPort ? "" : ":" + std::to_string(hop.port)) + "\r\n";
        sent = HttpAddRequestHeadersA(request, host.c_str(), static_cast<DWORD>(host.size()),
                                      HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) != FALSE;
      }
      sent = sent && HttpSendRequestA(request, nullptr, 0, nullptr, 0) != FALSE;
      DWORD status = 0;
      DWORD size = sizeof status;
      std::string location;
      bool redirected = sent && redirects < kMaxRedirects &&
                        HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
                        IsFollowedRedirect(status) && QueryHeader(request, HTTP_QUERY_LOCATION, location);
      if (sent && !redirected) return std::make_unique<WinInetResponse>(connection, request, start, timeoutMs);
      InternetCloseHandle(request);
      InternetCloseHandle(connection);
      if (!sent) return nullptr;
      // The next hop, relative to this one (room for every character escaped).
      std::vector<char> next((current.size() + location.size()) * 3 + 16);
      DWORD length = static_cast<DWORD>(next.size());
      if (!InternetCombineUrlA(current.c_str(), location.c_str(), next.data(), &length, 0)) return nullptr;
      current.assign(next.data(), std::min<size_t>(length, next.size() - 1));
    }
  }

 private:
  HINTERNET internet_;
  bool testLoopback_;
};

}  // namespace

std::shared_ptr<HttpSession> HttpSession::Open(const std::string& agent) {
  HINTERNET internet = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!internet) return nullptr;
  const char* loopback = std::getenv("KESTRELON_LINK_SCAN_LOOPBACK");
  return std::make_shared<WinInetSession>(internet, loopback != nullptr && std::string_view(loopback) == "1");
}

}  // namespace platform
