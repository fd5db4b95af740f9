#include "plugin/dbx/spam_archive.h"

#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"
#include "platform/file.h"
#include "platform/time.h"

#include <cstring>
#include <ctime>
#include <stdexcept>

namespace kestrelon {

namespace {

constexpr size_t kWorkBuffer = 512;
// The folder separator of archive paths: a backslash on Windows.
#ifdef _WIN32
constexpr const char* kSeparator = "\\";
#else
constexpr const char* kSeparator = "/";
#endif
constexpr char kNameReserved[] = "/\\:*?\"<>|[]+";

std::string Bounded(const char* text) { return std::string(text, strnlen(text, kWorkBuffer)); }

// `path` when no file has that name, else the first free "<stem> (n).eml", kept within
// the length limit when the name had one.
std::string FreeName(const std::string& path, bool limited) {
  if (!platform::FileExists(path)) return path;
  std::string stem = path.substr(0, path.size() - 4);  // without ".eml"
  for (int n = 2; n < 10000; ++n) {
    std::string suffix = " (" + std::to_string(n) + ").eml";
    std::string base = stem;
    if (limited && base.size() + suffix.size() > kMaxArchivePath) base.resize(kMaxArchivePath - suffix.size());
    std::string candidate = base + suffix;
    if (!platform::FileExists(candidate)) return candidate;
  }
  return {};
}

std::string NowText() {
  std::tm now = platform::LocalTimeNow();
  char stamp[128];
  if (std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &now) == 0) stamp[0] = '\0';
  return stamp;
}

}  // namespace

void CleanFileName(std::string& text, char replacement) {
  for (size_t at = text.find_first_of(kNameReserved); at != std::string::npos;
       at = text.find_first_of(kNameReserved, at + 1))
    text[at] = replacement;
}

std::string ArchiveFileName(bool haveReader, const MapiMessage& message, const std::string& folder,
                            int32_t tickCount, const std::string& nowText) {
  std::string name = folder;
  if (haveReader && message.ulReserved != 0 && message.lpszDateReceived && message.lpszSubject) {
    std::string date = Bounded(message.lpszDateReceived);
    CleanFileName(date, '-');
    name += kSeparator + date + " - ";
    std::string subject = Bounded(message.lpszSubject);
    CleanFileName(subject, '_');
    name += subject + ".eml";
    if (name.size() >= kMaxArchivePath) {
      name.insert(kMaxArchivePath - 4, ".eml");
      name.resize(kMaxArchivePath);
    }
  } else {
    std::string date = message.lpszDateReceived ? Bounded(message.lpszDateReceived) : nowText;
    CleanFileName(date, '-');
    name += kSeparator + date + " - " + std::to_string(tickCount) + ".eml";
  }
  return name;
}

bool SaveMessageAsEML(DbxReader* reader, const MapiMessage* message, const std::string& folder) {
  uint32_t id = message ? uint32_t(message->ulReserved) : 0;
  try {
    if (!message || !reader) return false;
    bool limited = id != 0 && message->lpszDateReceived && message->lpszSubject;
    std::string name = ArchiveFileName(true, *message, folder, int32_t(platform::TickCount()), NowText());
    name = FreeName(name, limited);
    if (name.empty()) return false;
    return reader->SaveMessage(id, name);
  } catch (...) {
    if (reader) reader->LogError("SaveMessageAsEML() error - ID: ", std::to_string(id));
    return false;
  }
}

bool DbxReader::SaveMessage(uint32_t id, const std::string& path) {
  try {
    if (LoadIndex() == 0) return false;
    bool recordFound = false;
    uint32_t address = FindMessageAddress(id, false, recordFound);
    if (!recordFound) return false;
    DbxMessageText message(file_, address);  // address 0: "No text found !"
    size_t length = strlen(message.Text());
    if (length == 0) return false;
    // Others may read the archive file while it is written.
    platform::File out;
    if (!out.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways))
      return false;
    // Replaces the file's content as a whole, so an archive file never holds the end of
    // an earlier, longer message behind this one.
    if (!out.WriteAt(0, message.Text(), length) || !out.Truncate(length) || !out.Flush())
      throw std::runtime_error("archive file not written");
    return true;
  } catch (const DbxException& e) {
    LogError("DbxException in SaveMessage(): ", e.message);
    return false;
  } catch (...) {
    LogError("Exception: ", "Unknown error in SaveMessage()");
    return false;
  }
}

}  // namespace kestrelon
