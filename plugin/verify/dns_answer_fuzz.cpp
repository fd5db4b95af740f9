// Feeds arbitrary DNS response messages to the answer parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string host;
  platform::ParseFirstHost(data, size, platform::DnsRecordType::MX, host);
  platform::ParseFirstHost(data, size, platform::DnsRecordType::NS, host);
  return 0;
}
