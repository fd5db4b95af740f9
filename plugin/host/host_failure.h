// Failures raised inside the plug-in host and caught at its boundaries (start-up, a
// new-mail pass, a command): every failing HRESULT of the filter or log object, and a
// missing object, becomes a HostFailure that carries a text.
#pragma once

#include "platform/com.h"

#include <stdexcept>
#include <string>

namespace kestrelon {

class HostFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raises HostFailure "<call> failed (0x%08X)" for a failing result; S_FALSE passes.
void CheckResult(HRESULT result, const char* call);
// The same, and also for S_FALSE, with which the filter's members report a failure
// inside them: whatever they were to learn may not be learnt.
void CheckDone(HRESULT result, const char* call);

}  // namespace kestrelon
