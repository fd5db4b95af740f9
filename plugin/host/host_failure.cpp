#include "plugin/host/host_failure.h"

#include <cstdio>

namespace kestrelon {

void CheckResult(HRESULT result, const char* call) {
  if (SUCCEEDED(result)) return;
  char text[160];
  std::snprintf(text, sizeof text, "%s failed (0x%08X)", call, static_cast<unsigned>(result));
  throw HostFailure(text);
}

void CheckDone(HRESULT result, const char* call) {
  CheckResult(result, call);
  if (result != S_OK) throw HostFailure(std::string(call) + " reported a failure (S_FALSE)");
}

}  // namespace kestrelon
