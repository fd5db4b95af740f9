// Test helpers: hand-built message files and scratch folders.
#pragma once

#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kestrelon::testing {

// A scratch folder removed at the end of the test.
class TempDir {
 public:
  // A folder of its own: test programs of several builds or checkouts may run at once,
  // so the name takes a per-process random part and an existing folder is never reused.
  TempDir() {
    static const unsigned processPart = std::random_device{}();
    static std::atomic<int> counter{0};
    auto base = std::filesystem::temp_directory_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    for (;;) {
      std::string name = std::string("kestrelon-") + (info ? info->name() : "test") + "-" +
                         std::to_string(processPart) + "-" + std::to_string(counter++);
      path_ = base / name;
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The lines of a reader error log with their time stamps cut off ("<time>: " first).
inline std::vector<std::string> LogMessages(const std::string& logPath) {
  std::vector<std::string> out;
  std::string all = ReadAll(logPath);
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find("\r\n", pos);
    if (end == std::string::npos) {
      out.push_back("UNTERMINATED " + all.substr(pos));
      break;
    }
    std::string line = all.substr(pos, end - pos);
    // "mm/dd/yy hh:mm:ss: " is 19 bytes.
    out.push_back(line.size() >= 19 && line.compare(17, 2, ": ") == 0 ? line.substr(19) : "BADSTAMP " + line);
    pos = end + 2;
  }
  return out;
}

// A message file assembled byte by byte, for files the client would never write.
class DbxImage {
 public:
  static constexpr uint32_t kHeaderSize = 0x24BC;
  static constexpr uint32_t kNodeSize = 0x27C;

  DbxImage() : bytes_(kHeaderSize, '\0') {}

  void Put32(uint32_t offset, uint32_t value) {
    Grow(offset + 4);
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = char((value >> (8 * i)) & 0xFF);
  }
  void Put8(uint32_t offset, uint8_t value) {
    Grow(offset + 1);
    bytes_[offset] = char(value);
  }
  void PutBytes(uint32_t offset, const std::string& data) {
    Grow(offset + uint32_t(data.size()));
    bytes_.replace(offset, data.size(), data);
  }
  void Grow(uint32_t size) {
    if (bytes_.size() < size) bytes_.resize(size, '\0');
  }

  void SetTree(uint32_t count, uint32_t root) {
    Put32(0xC4, count);
    Put32(0xE4, root);
  }

  struct Entry {
    uint32_t value, child, childCount;
  };
  // A tree node; `entries` may claim more than it lists through `entryCount`.
  void Node(uint32_t offset, uint32_t parent, uint32_t firstChild, uint32_t firstCount, const std::vector<Entry>& entries,
            int entryCount = -1) {
    Grow(offset + kNodeSize);
    Put32(offset, offset);
    Put32(offset + 0x08, firstChild);
    Put32(offset + 0x0C, parent);
    Put8(offset + 0x11, uint8_t(entryCount < 0 ? entries.size() : unsigned(entryCount)));
    Put32(offset + 0x14, firstCount);
    for (size_t k = 0; k < entries.size(); ++k) {
      Put32(offset + 0x18 + 12 * uint32_t(k), entries[k].value);
      Put32(offset + 0x1C + 12 * uint32_t(k), entries[k].child);
      Put32(offset + 0x20 + 12 * uint32_t(k), entries[k].childCount);
    }
  }

  // A record from its index words and data area.
  void Record(uint32_t offset, const std::vector<uint32_t>& words, const std::string& data) {
    Put32(offset, offset);
    Put32(offset + 4, uint32_t(4 * words.size() + data.size()));
    Put8(offset + 10, uint8_t(words.size()));
    for (size_t i = 0; i < words.size(); ++i) Put32(offset + 12 + 4 * uint32_t(i), words[i]);
    PutBytes(offset + 12 + 4 * uint32_t(words.size()), data);
  }
  // A record with a direct message index and message address.
  void SimpleRecord(uint32_t offset, uint32_t messageIndex, uint32_t address) {
    Record(offset, {0x80u | messageIndex << 8, 0x84u | address << 8}, "");
  }

  void Segment(uint32_t offset, const std::string& text, uint32_t next) {
    Put32(offset, offset);
    Put32(offset + 4, 0x200);
    Put32(offset + 8, uint32_t(text.size()));
    Put32(offset + 12, next);
    PutBytes(offset + 16, text);
  }

  const std::string& Bytes() const { return bytes_; }
  std::string& Bytes() { return bytes_; }
  void Save(const std::string& path) const { WriteAll(path, bytes_); }

 private:
  std::string bytes_;
};

// An image saved to a scratch file and opened as the reader opens the Inbox file; it
// stands in for the open file wherever one is asked for.
class ImageFile {
 public:
  explicit ImageFile(const DbxImage& image) {
    image.Save(dir_.File("image.dbx"));
    file_.Open(dir_.File("image.dbx"), platform::Access::Read, platform::kShareRead | platform::kShareWrite,
               platform::Disposition::OpenExisting);
  }
  operator platform::File&() { return file_; }

 private:
  TempDir dir_;
  platform::File file_;
};

}  // namespace kestrelon::testing
