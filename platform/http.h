// HTTP GET as the link scan needs it: open a URL, read the status and content type, read the
// body in chunks, all within one time-out. WinINet on Windows, libcurl elsewhere.
//
// A link in a mail is chosen by its sender, so a fetch connects only to public addresses
// (platform/address_scope.h): the link's host, every redirect's host and every address such a
// name resolves to are checked, on the address that is actually connected to. On Linux every
// connection is direct (no proxy) and checked as it is opened. On Windows each hop's name is
// resolved here and checked; a plain HTTP hop then connects to that checked address (the name
// goes in the Host header), and an HTTPS hop connects by name and sends its request only
// after the server proved that name with its certificate, so a name that resolves elsewhere
// a moment later still gets no request. A preconfigured proxy is used as it is configured.
//
// The environment variable KESTRELON_LINK_SCAN_LOOPBACK=1, read when a session is opened, lets
// the session reach 127.0.0.1 too. It is for tests only, whose servers listen there.
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

  // The status code as the server sent it, read as a decimal number; false if unreadable.
  virtual bool StatusCode(int& code) = 0;

  // The Content-Type header value as sent; false if missing or too long.
  virtual bool ContentType(std::string& type) = 0;

  // Reads up to `size` bytes of the body: the count read, 0 at its end, -1 on failure or once
  // the fetch's time-out has run out.
  virtual long Read(char* buffer, size_t size) = 0;
};

class HttpSession {
 public:
  // A session that sends `agent` as its agent string; nullptr when none can be opened.
  static std::shared_ptr<HttpSession> Open(const std::string& agent);

  virtual ~HttpSession() = default;

  // Sends a GET for `url` (http or https; redirects followed, at most 10) and waits for the
  // final response's headers. `timeoutMs`, counted from this call, bounds the whole fetch:
  // the connections, the redirects and every later Read of the response. nullptr when no
  // response comes in time or at all; `refused` then tells whether that was because the link
  // or a redirect led to an address that is not public. Blocks: callers run it on a worker.
  virtual std::unique_ptr<HttpResponse> OpenUrl(const std::string& url, uint32_t timeoutMs, bool& refused) = 0;
};

}  // namespace platform
