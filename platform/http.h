// HTTP GET as the link scan needs it: open a URL, read the status and content type,
// read the body in chunks. WinINet on Windows, libcurl elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class HttpResponse {
 public:
  // Header values are read into fixed buffers of these sizes (terminator included); a
  // longer value cannot be read.
  static constexpr size_t kStatusBufferSize = 10;
  static constexpr size_t kContentTypeBufferSize = 50;

  virtual ~HttpResponse() = default;

  // Bounds each later Read.
  virtual void SetReceiveTimeout(uint32_t milliseconds) = 0;

  // The status code as the server sent it, read as a decimal number; false if unreadable.
  virtual bool StatusCode(int& code) = 0;

  // The Content-Type header value as sent; false if missing or too long.
  virtual bool ContentType(std::string& type) = 0;

  // Reads up to `size` bytes of the body: the count read, 0 at its end, -1 on failure.
  virtual long Read(char* buffer, size_t size) = 0;
};

class HttpSession {
 public:
  // A session that sends `agent` as its agent string; nullptr when none can be opened.
  static std::shared_ptr<HttpSession> Open(const std::string& agent);

  virtual ~HttpSession() = default;

  // Sends a GET for `url` (redirects followed) and waits for the response; nullptr when
  // no response comes. Blocks: callers run it on a worker with a time-out.
  virtual std::unique_ptr<HttpResponse> OpenUrl(const std::string& url) = 0;
};

}  // namespace platform
