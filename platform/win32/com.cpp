// BSTR text in the calling thread's ANSI code page.
#include "platform/com.h"

namespace platform {

std::string BstrToAnsi(BSTR text) {
  int length = static_cast<int>(SysStringLen(text));
  if (length == 0) return {};
  int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

BSTR AnsiToBstr(std::string_view text) {
  int length = static_cast<int>(text.size());
  int chars = length ? MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0) : 0;
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
  if (out && chars) MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, out, chars);
  return out;
}

}  // namespace platform
