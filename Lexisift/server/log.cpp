#include "Lexisift/server/log.h"

#include "platform/library.h"
#include "platform/system_error.h"
#include "platform/time.h"
#include "shared/ascii_text.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <vector>

namespace kestrelon {

namespace {

constexpr size_t kMaxStamp = 127;

// The texts hold outside text (a sender, a subject, a failure's text). Each call writes at
// most one line: control characters become spaces, except the line end that closes an
// info text, since LogInfo's callers end their lines themselves.
std::string OneEntry(const char* text) { return ControlsAsSpaces(text ? text : ""); }

std::string OneInfoEntry(const char* text) {
  std::string info = text ? text : "";
  size_t end = info.size();
  if (end >= 2 && info.compare(end - 2, 2, "\r\n") == 0)
    end -= 2;
  else if (end >= 1 && info[end - 1] == '\n')
    end -= 1;
  return ControlsAsSpaces(info.substr(0, end)) + info.substr(end);
}

// The logs of this server that have a file open.
std::mutex& OpenLogsLock() {
  static std::mutex lock;
  return lock;
}
std::vector<CLog*>& OpenLogs() {
  static std::vector<CLog*> logs;
  return logs;
}

void Forget(CLog* log) {
  std::lock_guard<std::mutex> hold(OpenLogsLock());
  auto& logs = OpenLogs();
  logs.erase(std::remove(logs.begin(), logs.end(), log), logs.end());
}

}  // namespace

CLog::CLog(IUnknown* outer) : ComObject(outer) {}

CLog::~CLog() {
  Forget(this);
  if (file_.IsOpen()) file_.Flush();
}

bool CLog::LogErrorInFolder(const std::string& folder, const char* function, const std::string& text) {
  std::vector<CLog*> logs;
  {
    std::lock_guard<std::mutex> hold(OpenLogsLock());
    for (CLog* log : OpenLogs())
      if (log->folder_ == folder) logs.push_back(log);
  }
  std::string error = text;
  for (CLog* log : logs) log->LogError(const_cast<char*>(function), error.data());
  return !logs.empty();
}

void* CLog::FindInterface(REFIID riid) {
  if (IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_ILog)) return static_cast<ILog*>(this);
  if (IsEqualGUID(riid, IID_IProvideClassInfo)) return static_cast<IProvideClassInfo*>(this);
  return nullptr;
}

std::string CLog::TimeStamp(const std::tm& local) {
  // The "C" locale's %c, spelled out so that every system writes the same bytes.
  char stamp[kMaxStamp + 1];
  size_t n = std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S ", &local);
  return std::string(stamp, n);
}

void CLog::Append(const std::string& text) {
  if (text.empty() || !file_.WriteAt(end_, text.data(), text.size())) return;
  end_ += text.size();
}

HRESULT CLog::Init(BSTR FilePath) {
  // A second Init closes the first file before it opens the new one.
  if (file_.IsOpen()) {
    Forget(this);
    file_.Flush();
    file_.Close();
  }
  std::string path = platform::BstrToAnsi(FilePath);
  platform::File file;
  if (!file.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways))
    return platform::LastSystemError();
  uint64_t size = 0;
  if (!file.Size(size)) return platform::LastSystemError();
  file_ = std::move(file);
  end_ = size;
  folder_ = platform::FolderOf(path);
  std::lock_guard<std::mutex> hold(OpenLogsLock());
  OpenLogs().push_back(this);
  return S_OK;
}

HRESULT CLog::LogError(char* Function, char* Error) {
  if (!file_.IsOpen()) return S_OK;
  try {
    Append(TimeStamp(platform::LocalTimeNow()));
    std::string line = "Error in function: ";
    line += OneEntry(Function);
    line += " - Error: ";
    line += OneEntry(Error);
    line += "\r\n";
    Append(line);
  } catch (...) {
    // A line that cannot be built is simply missing.
  }
  return S_OK;
}

HRESULT CLog::LogInfo(char* Info) {
  if (!file_.IsOpen()) return S_OK;
  try {
    Append(TimeStamp(platform::LocalTimeNow()));
    Append(OneInfoEntry(Info));
  } catch (...) {
  }
  return S_OK;
}

}  // namespace kestrelon
