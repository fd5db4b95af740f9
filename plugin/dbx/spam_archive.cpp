#include "plugin/dbx/spam_archive.h"

#include "plugin/dbx/dbx_message_text.h"
#include "plugin/dbx/dbx_reader.h"
#include "platform/file.h"
#include "platform/system_error.h"
#include "platform/time.h"
#include "shared/ascii_text.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace kestrelon {

namespace {

constexpr size_t kWorkBuffer = 512;
// The folder separator of archive paths: a backslash on Windows.
#ifdef _WIN32
constexpr const char* kSeparator = "\\";
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparator = "/";
constexpr const char* kSeparators = "/";
#endif
constexpr char kNameReserved[] = "/\\:*?\"<>|[]+";
constexpr const char* kExtension = ".eml";
// Numbered names tried after the first one is taken: " (2)" up to " (9999)".
constexpr int kLastNumber = 9999;
// Temporary names tried before giving up on a folder where all are taken.
constexpr int kTemporaryTries = 64;

std::string Bounded(const char* text) { return std::string(text, strnlen(text, kWorkBuffer)); }

std::string NowText() {
  std::tm now = platform::LocalTimeNow();
  char stamp[128];
  if (std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &now) == 0) stamp[0] = '\0';
  return stamp;
}

// How much of `path` is its folder, the separator included (0 for a bare name).
size_t FolderLength(const std::string& path) {
  size_t at = path.find_last_of(kSeparators);
  return at == std::string::npos ? 0 : at + 1;
}

// `path` with " (n)" before its extension. A name that was within the archive's length
// limit stays within it: its file name is shortened, never its folder; empty when the
// folder leaves no room.
std::string NumberedName(const std::string& path, int n) {
  size_t folder = FolderLength(path);
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < folder) dot = path.size();
  std::string suffix = " (" + std::to_string(n) + ")" + path.substr(dot);
  std::string stem = path.substr(0, dot);
  if (path.size() <= kMaxArchivePath && stem.size() + suffix.size() > kMaxArchivePath) {
    if (kMaxArchivePath < folder + 1 + suffix.size()) return {};
    stem.resize(kMaxArchivePath - suffix.size());
  }
  return stem + suffix;
}

// The last failure was a name already taken (a file, a folder or a link of that name).
bool NameWasTaken() {
  HRESULT error = platform::LastSystemError();
  return error == static_cast<HRESULT>(0x80070050u)      // ERROR_FILE_EXISTS
         || error == static_cast<HRESULT>(0x800700B7u);  // ERROR_ALREADY_EXISTS
}

// A new file of a fresh temporary name in the folder of `path`, created exclusively, so
// it is never an existing file nor reached through a link. False when none can be made.
bool CreateTemporary(const std::string& path, platform::File& file, std::string& name) {
  static uint32_t next = platform::TickCount();
  for (int i = 0; i < kTemporaryTries; ++i) {
    char base[16];
    std::snprintf(base, sizeof base, "~%06x.tmp", unsigned(next++ & 0xFFFFFF));
    name = path.substr(0, FolderLength(path)) + base;
    // Others may read the file while it is written.
    if (file.Open(name, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::CreateNew))
      return true;
    if (file.LastOpenError() != platform::OpenError::Exists) return false;
  }
  return false;
}

// Moves the written temporary file to `path` without replacing anything there; with
// `numbered`, a taken name gives way to the first free numbered one.
bool MoveIntoPlace(const std::string& temporary, const std::string& path, bool numbered) {
  for (int n = 1; n <= (numbered ? kLastNumber : 1); ++n) {
    std::string name = n == 1 ? path : NumberedName(path, n);
    if (name.empty()) return false;
    if (platform::RenameFile(temporary, name)) return true;
    if (!NameWasTaken()) return false;
  }
  return false;
}

}  // namespace

void CleanFileName(std::string& text, char replacement) {
  for (char& c : text)
    if (IsAsciiControl(c) || std::strchr(kNameReserved, c)) c = replacement;
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
    name += subject + kExtension;
    if (name.size() >= kMaxArchivePath) {
      // The cut shortens the file name only: a folder that leaves no room for one
      // character of it before ".eml" gets no file.
      if (folder.size() + 1 + 1 + std::strlen(kExtension) > kMaxArchivePath) return {};
      name.resize(kMaxArchivePath - std::strlen(kExtension));
      name += kExtension;
    }
  } else {
    std::string date = message.lpszDateReceived ? Bounded(message.lpszDateReceived) : nowText;
    CleanFileName(date, '-');
    name += kSeparator + date + " - " + std::to_string(tickCount) + kExtension;
  }
  return name;
}

bool SaveMessageAsEML(DbxReader* reader, const MapiMessage* message, const std::string& folder) {
  uint32_t id = message ? uint32_t(message->ulReserved) : 0;
  try {
    if (!message || !reader) return false;
    std::string name = ArchiveFileName(true, *message, folder, int32_t(platform::TickCount()), NowText());
    if (name.empty()) throw std::length_error("archive folder too long");
    return reader->SaveMessage(id, name, true);
  } catch (...) {
    if (reader) reader->LogError("SaveMessageAsEML() error - ID: ", std::to_string(id));
    return false;
  }
}

bool DbxReader::SaveMessage(uint32_t id, const std::string& path, bool numberTakenNames) {
  std::string temporary;
  try {
    if (LoadIndex() == 0) return false;
    bool recordFound = false;
    uint32_t address = FindMessageAddress(id, false, recordFound);
    if (!recordFound) return false;
    DbxMessageText message(file_, address);  // address 0: "No text found !"
    if (message.Length() == 0) return false;
    platform::File out;
    if (!CreateTemporary(path, out, temporary)) return false;
    // The whole text, NUL bytes included; the file gets its name only once it is all
    // on disk, so a failed write (a full disk) leaves no part of a copy behind.
    bool written = out.WriteAt(0, message.Text(), message.Length()) && out.Flush();
    out.Close();
    if (!written) throw std::runtime_error("archive file not written");
    if (MoveIntoPlace(temporary, path, numberTakenNames)) return true;
    platform::RemoveFile(temporary);
    return false;
  } catch (const DbxException& e) {
    LogError("DbxException in SaveMessage(): ", e.message);
  } catch (...) {
    LogError("Exception: ", "Unknown error in SaveMessage()");
  }
  if (!temporary.empty()) platform::RemoveFile(temporary);
  return false;
}

}  // namespace kestrelon
