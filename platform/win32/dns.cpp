#include "platform/dns.h"

#include <windows.h>
#include <windns.h>

namespace platform {

namespace {
using DnsQueryFn = DNS_STATUS(WINAPI*)(PCSTR, WORD, DWORD, PIP4_ARRAY, PDNS_RECORDA*, PVOID*);
using DnsFreeFn = VOID(WINAPI*)(PDNS_RECORDA, DNS_FREE_TYPE);
}  // namespace

struct DnsResolver::Impl {
  HMODULE library = nullptr;
  DnsQueryFn query = nullptr;
  DnsFreeFn free = nullptr;
  ~Impl() {
    if (library != nullptr) FreeLibrary(library);
  }
};

DnsResolver::DnsResolver(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
DnsResolver::~DnsResolver() = default;

std::shared_ptr<DnsResolver> DnsResolver::Open() {
  auto impl = std::make_unique<Impl>();
  impl->library = LoadLibraryA("dnsapi");
  if (impl->library != nullptr) {
    impl->query = reinterpret_cast<DnsQueryFn>(
        reinterpret_cast<void*>(GetProcAddress(impl->library, "DnsQuery_A")));
    impl->free = reinterpret_cast<DnsFreeFn>(
        reinterpret_cast<void*>(GetProcAddress(impl->library, "DnsRecordListFree")));
  }
  return std::shared_ptr<DnsResolver>(new DnsResolver(std::move(impl)));
}

bool DnsResolver::Available() const { return m_impl->query != nullptr && m_impl->free != nullptr; }

DnsAnswer DnsResolver::QueryFirstHost(const std::string& name, DnsRecordType type, uint32_t,
                                      std::string& host) const {
  host.clear();
  if (!IsDnsName(name)) return DnsAnswer::NoSuchName;
  if (!Available()) return DnsAnswer::Failed;
  PDNS_RECORDA records = nullptr;
  DNS_STATUS status = m_impl->query(name.c_str(), static_cast<WORD>(type), DNS_QUERY_STANDARD,
                                    nullptr, &records, nullptr);
  DnsAnswer answer = DnsAnswer::Failed;
  if (status == DNS_ERROR_RCODE_NAME_ERROR) {
    answer = DnsAnswer::NoSuchName;
  } else if (status == DNS_INFO_NO_RECORDS || (status == 0 && records == nullptr)) {
    answer = DnsAnswer::NoRecords;
  } else if (status == 0) {
    answer = DnsAnswer::Records;
    // The first record of the asked type; other records (an alias, say) are passed over,
    // since their data is laid out differently.
    for (PDNS_RECORDA record = records; record != nullptr; record = record->pNext) {
      if (record->wType != static_cast<WORD>(type)) continue;
      const char* text = type == DnsRecordType::MX ? record->Data.MX.pNameExchange
                                                   : record->Data.NS.pNameHost;
      if (text != nullptr) host = text;
      break;
    }
  }
  if (records != nullptr) m_impl->free(records, DnsFreeRecordList);
  return answer;
}

DnsAnswer ParseFirstHost(const unsigned char*, size_t, DnsRecordType, std::string& host) {
  // Windows hands over parsed records; there is no message to parse here.
  host.clear();
  return DnsAnswer::Failed;
}

}  // namespace platform
