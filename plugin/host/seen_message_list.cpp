#include "plugin/host/seen_message_list.h"

#include "platform/system_error.h"
#include "shared/ascii_text.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace kestrelon {

namespace {

// Reads a length field at `pos`: at least three characters of spaces then digits,
// continued by further digits, ending at a space. Returns false for anything else.
bool ReadLength(const std::string& line, size_t& pos, size_t& value) {
  if (pos + 3 > line.size()) return false;
  size_t i = pos;
  while (i < pos + 2 && line[i] == ' ') ++i;  // right-aligned in three characters
  size_t digitsStart = i;
  value = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    if (value > (std::numeric_limits<size_t>::max() - 9) / 10) return false;
    value = value * 10 + size_t(line[i] - '0');
    ++i;
  }
  if (i == digitsStart || i < pos + 3 || i >= line.size() || line[i] != ' ') return false;
  pos = i + 1;
  return true;
}

std::string LengthField(size_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%3zu", n);
  return text;
}

std::string BookmarkLine(const std::string& bookmark) {
  std::string line = bookmark;
  line.resize(SeenMessageList::kBookmarkWidth, ' ');
  return line + "\r\n";
}

unsigned long LastError() { return static_cast<unsigned long>(platform::LastSystemError()); }

}  // namespace

bool SeenMessageList::KeyCursor::Next(std::string& id) {
  if (at_ == end_) return false;
  id = at_->second.id;
  ++at_;
  return true;
}

SeenMessageList::SeenMessageList(const std::string& path) : path_(path) {
  if (!file_.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways))
    throw SeenListError("cannot open " + path, LastError());
  uint64_t size = 0;
  if (!file_.Size(size)) throw SeenListError("cannot size " + path, LastError());
  if (size == 0) {
    Rewrite();
    return;
  }
  if (size >= std::numeric_limits<size_t>::max()) throw SeenListError("too large: " + path, 0);
  std::string text(size_t(size) + 1, '\0');
  size_t got = 0;
  if (!file_.ReadAt(0, text.data(), size_t(size), got) || got != size)
    throw SeenListError("cannot read " + path, LastError());
  text.resize(got);
  // The bookmark is rewritten in place at close, so line 1 must have its fixed width;
  // a file whose first line does not is written anew from what was loaded, rather
  // than having later lines overwritten.
  bool fixedFirstLine = text.size() >= kBookmarkWidth + 2 && text.compare(kBookmarkWidth, 2, "\r\n") == 0 &&
                        text.find_first_of("\r\n") == kBookmarkWidth;
  // A last line without its line end is a write that did not finish: its record was
  // never taken as written (a cut id would name another message), and the next record
  // is written over it.
  size_t whole = text.find_last_of("\r\n");
  bool cutShort = whole != std::string::npos && whole != text.size() - 1;
  if (cutShort) text.resize(whole + 1);
  Load(text, fixedFirstLine);
  if (fixedFirstLine) {
    end_ = text.size();
    if (cutShort) file_.Truncate(end_);  // else the next record overwrites it
  } else {
    Rewrite();
  }
}

SeenMessageList::~SeenMessageList() {
  try {
    Close();
  } catch (...) {
  }
}

bool SeenMessageList::ParseRecord(const std::string& line) {
  size_t at = 0, keyLength = 0, dateLength = 0;
  if (!ReadLength(line, at, keyLength) || keyLength > line.size() - at) return false;
  // Files written before every control character was stored as a space may hold a tab
  // or another control character: loaded as they are looked up.
  std::string key = ControlsAsSpaces(line.substr(at, keyLength));
  at += keyLength;
  if (at >= line.size() || line[at] != ' ') return false;
  ++at;
  if (!ReadLength(line, at, dateLength) || dateLength > line.size() - at) return false;
  std::string date = ControlsAsSpaces(line.substr(at, dateLength));
  at += dateLength;
  if (at >= line.size() || line[at] != ' ' || at + 1 >= line.size()) return false;
  std::string id = line.substr(at + 1);
  seenIds_.insert(id);
  byKey_.emplace(std::move(key), Entry{std::move(date), std::move(id)});
  return true;
}

void SeenMessageList::Load(const std::string& text, bool fixedFirstLine) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) pieces.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  if (pieces.empty()) return;
  // A damaged file whose first line is a record keeps that record.
  if (fixedFirstLine || !ParseRecord(pieces[0])) {
    std::string bookmark = pieces[0];
    size_t last = bookmark.find_last_not_of(" \t\v\f");
    bookmark.resize(last == std::string::npos ? 0 : last + 1);
    if (bookmark.size() <= kBookmarkWidth) bookmark_ = bookmark;
  }
  for (size_t i = 1; i < pieces.size(); ++i) ParseRecord(pieces[i]);
}

std::string SeenMessageList::Line(const std::string& key, const Entry& entry) {
  return LengthField(key.size()) + " " + key + " " + LengthField(entry.date.size()) + " " + entry.date + " " +
         entry.id + "\r\n";
}

void SeenMessageList::Rewrite() {
  std::string all = BookmarkLine(bookmark_);
  for (const auto& [key, entry] : byKey_) all += Line(key, entry);
  if (!file_.WriteAt(0, all.data(), all.size()) || !file_.Truncate(all.size()))
    throw SeenListError("cannot write " + path_, LastError());
  end_ = all.size();
}

void SeenMessageList::Append(const std::string& line) {
  if (!file_.IsOpen() || !file_.WriteAt(end_, line.data(), line.size()))
    throw SeenListError("cannot write " + path_, LastError());
  end_ += line.size();
}

bool SeenMessageList::IsReturned(const std::string& key, const std::string& date) const {
  auto range = byKey_.equal_range(ControlsAsSpaces(key));
  std::string wanted = ControlsAsSpaces(date);
  for (auto it = range.first; it != range.second; ++it)
    if (it->second.date == wanted) return true;
  return false;
}

void SeenMessageList::Record(const std::string& key, const std::string& date, const std::string& id) {
  std::string storedKey = ControlsAsSpaces(key);
  Entry entry{ControlsAsSpaces(date), ControlsAsSpaces(id)};
  // A record line without an id would not load back.
  if (entry.id.empty()) entry.id = "0";
  // Written first: a message the file does not hold must not count as recorded.
  Append(Line(storedKey, entry));
  seenIds_.insert(entry.id);
  byKey_.emplace(std::move(storedKey), std::move(entry));
}

std::vector<std::string> SeenMessageList::IdsRecordedWith(const std::string& key, const std::string& date) const {
  std::vector<std::string> ids;
  auto range = byKey_.equal_range(ControlsAsSpaces(key));
  std::string wanted = ControlsAsSpaces(date);
  for (auto it = range.first; it != range.second; ++it)
    if (it->second.date == wanted) ids.push_back(it->second.id);
  return ids;
}

SeenMessageList::KeyCursor SeenMessageList::CursorFor(const std::string& key) const {
  auto range = byKey_.equal_range(ControlsAsSpaces(key));
  return KeyCursor(range.first, range.second);
}

void SeenMessageList::SetBookmark(const std::string& id) {
  bookmark_ = id.size() <= kBookmarkWidth && id.find_first_of("\r\n") == std::string::npos ? id : std::string();
}

void SeenMessageList::Close() {
  if (!file_.IsOpen()) return;
  std::string line = BookmarkLine(bookmark_);
  bool ok = file_.WriteAt(0, line.data(), line.size()) && file_.Flush();
  unsigned long code = ok ? 0 : LastError();
  file_.Close();
  if (!ok) throw SeenListError("cannot write the bookmark of " + path_, code);
}

}  // namespace kestrelon
