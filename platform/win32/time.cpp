#include "platform/time.h"

#include <windows.h>

namespace platform {

uint32_t TickCount() { return GetTickCount(); }

std::tm LocalTimeNow() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  std::tm out{};
  out.tm_year = st.wYear - 1900;
  out.tm_mon = st.wMonth - 1;
  out.tm_mday = st.wDay;
  out.tm_hour = st.wHour;
  out.tm_min = st.wMinute;
  out.tm_sec = st.wSecond;
  out.tm_wday = st.wDayOfWeek;
  return out;
}

}  // namespace platform
