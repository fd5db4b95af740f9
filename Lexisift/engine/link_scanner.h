// Fetches the web page behind the first link of a short mail, so that spam made of
// little more than a link still gives the classifier words to judge.
//
// The whole fetch (connections, redirects, headers and body) runs on a worker thread and
// ends at one deadline, the time-out, which is also the longest the filter's thread waits:
// what came in time is used, nothing later. Only public addresses are connected to
// (platform/http.h). A server that answers 407 ends all fetching of this scanner. Fetches
// that outlive their time-out are bounded in number for the whole process; while that many
// are still alive, a new fetch is not made and counts as one that failed.
#pragma once

#include "platform/http.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrelon {

class LinkScanner {
 public:
  static constexpr const char* kAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
  static constexpr size_t kChunkSize = 1024;
  static constexpr int kMaxChunks = 51;
  static constexpr int32_t kTimedOut = -1;
  // Fetch workers alive at once in the process, abandoned ones included.
  static constexpr size_t kMaxLiveFetches = 4;

  // The page of `link` (empty when there is none to read) and the status of the fetch:
  // the server's status, or kTimedOut when no response came within the time-out.
  std::string Fetch(const std::string& link);

  int32_t Status() const { return status_; }
  bool ProxyRefused() const { return proxyRefused_; }
  // Whether the last fetch got no response because its link or a redirect led to an address
  // that is not public. Such a fetch counts as one that failed.
  bool Refused() const { return refused_; }

  // Seconds > 0 switch scanning on while the computer is online; anything else off.
  void SetTimeoutSeconds(int32_t seconds);
  int32_t TimeoutSeconds() const { return static_cast<int32_t>(timeoutMs_ / 1000); }
  uint32_t TimeoutMilliseconds() const { return timeoutMs_; }

  // Forgets the remembered online state (tests).
  static void ResetOnlineCheck();

 private:
  int32_t status_ = 200;
  uint32_t timeoutMs_ = 0;
  bool proxyRefused_ = false;
  bool refused_ = false;
  bool sessionTried_ = false;
  std::shared_ptr<platform::HttpSession> session_;
};

}  // namespace kestrelon
