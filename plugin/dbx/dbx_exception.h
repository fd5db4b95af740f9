// The failure every consistency check of the Inbox file reader raises.
#pragma once

#include <string>
#include <utility>

namespace kestrelon {

// Thrown by value, caught by reference by ReadMessage and SaveMessage, which write the
// text to the reader error log.
class DbxException {
 public:
  explicit DbxException(std::string text) : message(std::move(text)) {}
  std::string message;
};

}  // namespace kestrelon
