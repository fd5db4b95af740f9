// The list of Inbox messages the plug-in has judged ("Kestrelon.msg" in the store
// folder), kept across sessions of the mail client.
//
// File layout (8-bit text, CRLF line ends):
//   line 1: the bookmark, padded with spaces to exactly 512 characters ("%-512s\r\n"),
//           rewritten in place at close;
//   then one line a recorded message, appended as recorded ("%3s %s %3s %s %s\r\n"):
//           key length, key, date length, date received text, message id.
// A length of 1000 or more is written with all its digits (a field wider than three
// characters); the loader reads a length field up to the space that ends it, so such
// records come back whole. Control characters inside a key or date (carriage returns,
// line feeds, tabs, ...) are stored, loaded and looked up as spaces, so that every record
// stays one line.
#pragma once

#include "platform/file.h"

#include <map>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kestrelon {

// A failure to open, write or flush the list file; `code` is the system error.
class SeenListError : public std::runtime_error {
 public:
  SeenListError(const std::string& what, unsigned long code) : std::runtime_error(what), code(code) {}
  unsigned long code;
};

class SeenMessageList {
 public:
  static constexpr size_t kBookmarkWidth = 512;

  struct Entry {
    std::string date;
    std::string id;
  };
  using EntryMap = std::multimap<std::string, Entry>;

  // The entries recorded under one key, in the order they were recorded.
  class KeyCursor {
   public:
    KeyCursor() = default;
    // The next id under the key; false after the last.
    bool Next(std::string& id);

   private:
    friend class SeenMessageList;
    KeyCursor(EntryMap::const_iterator at, EntryMap::const_iterator end) : at_(at), end_(end) {}
    EntryMap::const_iterator at_{}, end_{};
  };

  // Opens (creating when missing) and loads the list file. Raises SeenListError.
  explicit SeenMessageList(const std::string& path);
  // Closes the file as Close does, but never raises.
  ~SeenMessageList();
  SeenMessageList(const SeenMessageList&) = delete;
  SeenMessageList& operator=(const SeenMessageList&) = delete;

  // Whether a message with this key and exactly this date-received text was recorded.
  bool IsReturned(const std::string& key, const std::string& date) const;
  // The ids recorded with this key and date, in the order they were recorded.
  std::vector<std::string> IdsRecordedWith(const std::string& key, const std::string& date) const;
  // Records a message and appends its line. Raises SeenListError on a write failure,
  // and the message then does not count as recorded.
  void Record(const std::string& key, const std::string& date, const std::string& id);
  bool IsSeen(const std::string& id) const { return seenIds_.count(id) != 0; }
  KeyCursor CursorFor(const std::string& key) const;

  const std::string& Bookmark() const { return bookmark_; }
  // Ids longer than the bookmark line are not kept (the bookmark becomes empty).
  void SetBookmark(const std::string& id);

  // Writes the bookmark, flushes and closes. Raises SeenListError; later calls do nothing.
  void Close();

  const std::string& Path() const { return path_; }
  const EntryMap& Entries() const { return byKey_; }
  size_t SeenCount() const { return seenIds_.size(); }

 private:
  void Load(const std::string& text, bool fixedFirstLine);
  bool ParseRecord(const std::string& line);
  void Rewrite();
  void Append(const std::string& line);
  static std::string Line(const std::string& key, const Entry& entry);

  std::string path_;
  platform::File file_;
  uint64_t end_ = 0;  // where the next record line goes
  std::unordered_set<std::string> seenIds_;
  EntryMap byKey_;
  std::string bookmark_;
};

}  // namespace kestrelon
