// Enumerations of the engine's type library, shared by the engine and its clients.
#pragma once

#include <cstdint>

namespace kestrelon {

enum KESTRELON_MARKER : int32_t { MARK_NONE = 0, MARK_HAM = 1, MARK_SPAM = 2 };

enum CONTENT_TYPE : int32_t {
  CONTENT_TYPE_PLAIN = 0,
  CONTENT_TYPE_HTML = 1,
  CONTENT_TYPE_RTF = 2,
  CONTENT_TYPE_IMG = 3,
};

}  // namespace kestrelon
