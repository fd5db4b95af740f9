// Per-message marks kept in the shared store under the key "M*" + the message's
// identifier (at most 20 bytes): ham 1 for a ham mark, spam 1 for a spam mark.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrelon {

// The mark values (the type library's KESTRELON_MARKER).
enum : int32_t { kMarkNone = 0, kMarkHam = 1, kMarkSpam = 2 };

constexpr size_t kMaxMarkerIdLength = 20;

// "M*" + identifier; the identifier may be empty and must not exceed 20 bytes.
std::string MarkerKey(std::string_view identifier);

// Opens the shared store at `storePath`, stores the mark (values other than 0, 1, 2 store
// as none) and closes it. Raises StoreError on failure.
void WriteMark(const std::string& storePath, std::string_view identifier, int32_t mark);

// The mark of `identifier` read through the profile overlay; kMarkNone when never set.
int32_t ReadMark(const std::string& storePath, std::string_view identifier);

}  // namespace kestrelon
