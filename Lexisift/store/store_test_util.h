// Helpers for the store tests: a scratch folder, whole-file access, token tables.
#pragma once

#include "Lexisift/engine/token_table.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace kestrelon::testing {

// A fresh folder removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);

// A table with each key counted `count` times.
TokenTable Tokens(std::initializer_list<std::pair<const char*, int>> entries);

int32_t I32At(const std::string& bytes, size_t offset);
void PutI32At(std::string& bytes, size_t offset, int32_t value);

// 64-bit FNV-1a of a byte string.
uint64_t Fnv1a(const std::string& bytes);

}  // namespace kestrelon::testing

namespace kestrelon::testing {

// Points the registry at a folder of its own on systems where it is file-backed (on
// Windows each test run already has a registry of its own).
void UseScratchRegistry(const std::string& folder);

}  // namespace kestrelon::testing
