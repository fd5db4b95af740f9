// lexisift process | learn | score | process-dir: the filter object from the command line.
//
//   process --store PATH [--shared] [--type plain|html|rtf|img] [--http-timeout SECONDS] FILE...
//   learn --store PATH [--shared] (--ham|--spam) [--delete|--swap] FILE...
//   score --store PATH [--header FILE] [--body FILE]
//   process-dir --store PATH DIR
//   marker --store PATH ID [none|ham|spam]
// With --shared the store is the shared, locked one, opened afresh for each mail.
// A failure of the engine ends the command with kEngineFailure, a store that another
// program kept too long with kStoreBusy.
#include "Lexisift/store/locked_mail_items_map.h"
#include "platform/file.h"
#include "shared/interesting_tokens.h"
#include "shared/mail_filter_interface.h"
#include "tools/lexisift/cli.h"
#include "tools/lexisift/server_access.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace lexisift {

namespace {

using kestrelon::ILockedMailFilter;
using kestrelon::IMailFilter;

using Bstr = platform::ScopedBstr;

// Options with a value, flags, and the remaining operands of one command line.
struct Parsed {
  std::map<std::string, std::string> values;
  std::map<std::string, bool> flags;
  Args operands;
};

bool Parse(const Args& args, const std::vector<std::string>& valueOptions, const std::vector<std::string>& flagOptions,
           Parsed& parsed, std::string& error) {
  auto known = [](const std::vector<std::string>& list, const std::string& arg) {
    for (const auto& option : list)
      if (option == arg) return true;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (known(valueOptions, arg)) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      parsed.values[arg] = args[++i];
    } else if (known(flagOptions, arg)) {
      parsed.flags[arg] = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option: " + arg;
      return false;
    } else {
      parsed.operands.push_back(arg);
    }
  }
  if (!parsed.values.count("--store")) {
    error = "--store PATH is required";
    return false;
  }
  return true;
}

// A filter with the store open, released when it goes.
class Filter {
 public:
  // What Init answers for a store that another program kept open.
  static constexpr HRESULT kInitBusy = static_cast<HRESULT>(0x80070020);
  ~Filter() {
    if (filter_) filter_->Release();
  }
  // 0 when the store is open, else the exit status after saying why on stderr.
  int Open(const std::string& store) {
    void* object = nullptr;
    if (FAILED(CreateServerObject("Lexisift.MailFilter", kestrelon::IID_IMailFilter, &object))) return kNoServer;
    filter_ = static_cast<IMailFilter*>(object);
    Bstr path(store);
    HRESULT hr = filter_->Init(path.value);
    if (hr == S_OK) return 0;
    return EngineFailure("cannot open the store " + store, hr == kInitBusy);
  }
  IMailFilter* operator->() { return filter_; }

 private:
  IMailFilter* filter_ = nullptr;
};

// Checked before the store is opened, so a wrong name changes nothing; each mail itself
// is read only when its turn comes. 0, or the usage error for the first name not readable.
int CheckReadable(const Args& files) {
  for (const auto& file : files)
    if (!platform::FileIsReadable(file)) return UsageError("cannot read " + file);
  return 0;
}

// Whether another program is keeping the shared store at `store` (a single-writer store
// has it open, or an operation holds its lock): asked after a member failed.
bool SharedStoreBusy(const std::string& store) {
  platform::File file;
  if (!file.Open(kestrelon::CLockedMailItemsMap::ResolveSurrogate(store), platform::Access::ReadWrite,
                 platform::kShareRead | platform::kShareWrite, platform::Disposition::OpenExisting))
    return file.LastOpenError() == platform::OpenError::InUse;
  platform::LockResult lock = file.TryLock(kestrelon::CLockedMailItemsMap::kLockOffset,
                                           kestrelon::CLockedMailItemsMap::kLockLength);
  if (lock == platform::LockResult::Locked)
    file.Unlock(kestrelon::CLockedMailItemsMap::kLockOffset, kestrelon::CLockedMailItemsMap::kLockLength);
  return lock == platform::LockResult::Busy;
}

ILockedMailFilter* CreateLockedFilter() {
  void* object = nullptr;
  if (FAILED(CreateServerObject("Lexisift.LockedMailFilter", kestrelon::IID_ILockedMailFilter, &object))) return nullptr;
  return static_cast<ILockedMailFilter*>(object);
}

// A mail file as header text (before its first empty line) and body text (from there on).
struct SplitMail {
  explicit SplitMail(const std::string& path) {
    std::string bytes;
    ReadFileBytes(path, bytes);
    bytes = UpToFirstNul(std::move(bytes));
    size_t cut = bytes.find("\r\n\r\n");
    if (cut == std::string::npos) cut = bytes.size();
    header = platform::AnsiToBstr(std::string_view(bytes).substr(0, cut));
    body = platform::AnsiToBstr(std::string_view(bytes).substr(cut));
  }
  ~SplitMail() {
    SysFreeString(header);
    SysFreeString(body);
  }
  BSTR header;
  BSTR body;
};

int ProcessShared(const std::string& store, const Args& files) {
  ILockedMailFilter* filter = CreateLockedFilter();
  if (!filter) return kNoServer;
  Bstr path(store);
  int status = 0;
  for (const auto& file : files) {
    SplitMail mail(file);
    VARIANT_BOOL bad = VARIANT_FALSE;
    if (filter->ProcessMailStream(path.value, mail.header, mail.body, &bad) != S_OK) {
      status = EngineFailure("cannot process " + file + " in the store " + store, SharedStoreBusy(store));
      break;
    }
    std::printf("%s\t%s\n", bad == VARIANT_TRUE ? "spam" : "ham", file.c_str());
  }
  filter->Release();
  return status;
}

int LearnShared(const std::string& store, const Args& files, VARIANT_BOOL spam, bool remove, bool swap) {
  ILockedMailFilter* filter = CreateLockedFilter();
  if (!filter) return kNoServer;
  Bstr path(store);
  int status = 0;
  for (const auto& file : files) {
    SplitMail mail(file);
    HRESULT hr = remove ? filter->DeleteMailStream(path.value, mail.header, mail.body, spam)
                 : swap ? filter->SwapMailStream(path.value, mail.header, mail.body, spam)
                        : filter->AddMailStream(path.value, mail.header, mail.body, spam);
    if (hr != S_OK) {
      status = EngineFailure("cannot learn " + file + " in the store " + store, SharedStoreBusy(store));
      break;
    }
  }
  filter->Release();
  return status;
}

}  // namespace

int RunProcess(const Args& args) {
  Parsed p;
  std::string error;
  if (!Parse(args, {"--store", "--type", "--http-timeout"}, {"--shared"}, p, error))
    return UsageError("process: " + error);
  static const std::map<std::string, kestrelon::CONTENT_TYPE> types = {
      {"plain", kestrelon::CONTENT_TYPE_PLAIN}, {"html", kestrelon::CONTENT_TYPE_HTML},
      {"rtf", kestrelon::CONTENT_TYPE_RTF}, {"img", kestrelon::CONTENT_TYPE_IMG}};
  kestrelon::CONTENT_TYPE type = kestrelon::CONTENT_TYPE_PLAIN;
  if (p.values.count("--type")) {
    auto it = types.find(p.values["--type"]);
    if (it == types.end()) return UsageError("process: unknown --type " + p.values["--type"]);
    type = it->second;
  }
  long timeout = 0;
  if (p.values.count("--http-timeout")) {
    char* end = nullptr;
    timeout = std::strtol(p.values["--http-timeout"].c_str(), &end, 10);
    if (!end || *end || p.values["--http-timeout"].empty()) return UsageError("process: --http-timeout needs seconds");
  }
  if (int status = CheckReadable(p.operands)) return status;
  if (p.flags["--shared"]) return ProcessShared(p.values["--store"], p.operands);

  Filter filter;
  if (int status = filter.Open(p.values["--store"])) return status;
  filter->put_ContentType(type);
  filter->put_HTTPScanTimeout(static_cast<LONG>(timeout));
  for (const auto& file : p.operands) {
    Bstr path(file);
    VARIANT_BOOL bad = VARIANT_FALSE;
    if (filter->ProcessMailFile(path.value, &bad) != S_OK) return EngineFailure("cannot process " + file);
    std::printf("%s\t%s\n", bad == VARIANT_TRUE ? "spam" : "ham", file.c_str());
  }
  return 0;
}

int RunLearn(const Args& args) {
  Parsed p;
  std::string error;
  if (!Parse(args, {"--store"}, {"--ham", "--spam", "--delete", "--swap", "--shared"}, p, error))
    return UsageError("learn: " + error);
  if (p.flags["--ham"] == p.flags["--spam"]) return UsageError("learn: give one of --ham and --spam");
  if (p.flags["--delete"] && p.flags["--swap"]) return UsageError("learn: give at most one of --delete and --swap");
  if (int status = CheckReadable(p.operands)) return status;
  VARIANT_BOOL spam = p.flags["--spam"] ? VARIANT_TRUE : VARIANT_FALSE;
  if (p.flags["--shared"]) return LearnShared(p.values["--store"], p.operands, spam, p.flags["--delete"], p.flags["--swap"]);

  Filter filter;
  if (int status = filter.Open(p.values["--store"])) return status;
  for (const auto& file : p.operands) {
    Bstr path(file);
    HRESULT hr = p.flags["--delete"] ? filter->DeleteMailFile(path.value, spam)
                 : p.flags["--swap"] ? filter->SwapMailFile(path.value, spam)
                                     : filter->AddMailFile(path.value, spam);
    if (hr != S_OK) return EngineFailure("cannot learn " + file);
  }
  return 0;
}

int RunScore(const Args& args) {
  Parsed p;
  std::string error;
  if (!Parse(args, {"--store", "--header", "--body"}, {}, p, error)) return UsageError("score: " + error);
  if (!p.operands.empty()) return UsageError("score: unexpected argument: " + p.operands[0]);
  std::string header, body;
  if (p.values.count("--header") && !ReadFileBytes(p.values["--header"], header))
    return UsageError("cannot read " + p.values["--header"]);
  if (p.values.count("--body") && !ReadFileBytes(p.values["--body"], body))
    return UsageError("cannot read " + p.values["--body"]);

  Filter filter;
  if (int status = filter.Open(p.values["--store"])) return status;
  Bstr headerText(UpToFirstNul(header)), bodyText(UpToFirstNul(body));
  float score = 0;
  LONG address = 0;
  if (filter->TokensMap(headerText.value, bodyText.value, &score, &address) != S_OK)
    return EngineFailure("cannot score the mail");
  auto* tokens = reinterpret_cast<const kestrelon::InterestingTokens*>(static_cast<uintptr_t>(static_cast<uint32_t>(address)));
  std::printf("score %.6f\n", score);
  for (const auto& entry : *tokens) std::printf("%.6f\t%s\n", entry.second.probability, entry.second.token.c_str());
  return 0;
}

int RunProcessDir(const Args& args) {
  Parsed p;
  std::string error;
  if (!Parse(args, {"--store"}, {}, p, error)) return UsageError("process-dir: " + error);
  if (p.operands.size() != 1) return UsageError("usage: lexisift process-dir --store PATH DIR");
  if (!platform::FileExists(p.operands[0])) return UsageError("cannot read the folder " + p.operands[0]);
  Filter filter;
  if (int status = filter.Open(p.values["--store"])) return status;
  Bstr folder(p.operands[0]);
  if (filter->ProcessMailDirectory(folder.value) != S_OK)
    return EngineFailure("cannot process the folder " + p.operands[0]);
  return 0;
}

int RunMarker(const Args& args) {
  Parsed p;
  std::string error;
  if (!Parse(args, {"--store"}, {}, p, error)) return UsageError("marker: " + error);
  if (p.operands.empty() || p.operands.size() > 2) return UsageError("usage: lexisift marker --store PATH ID [none|ham|spam]");
  static const char* const kNames[] = {"none", "ham", "spam"};
  ILockedMailFilter* filter = CreateLockedFilter();
  if (!filter) return kNoServer;
  Bstr path(p.values["--store"]), id(p.operands[0]);
  int status = 0;
  if (p.operands.size() == 2) {
    int mark = -1;
    for (int m = 0; m < 3; ++m)
      if (p.operands[1] == kNames[m]) mark = m;
    if (mark < 0)
      status = UsageError("marker: the mark is none, ham or spam");
    else if (filter->put_Marker(path.value, id.value, static_cast<kestrelon::KESTRELON_MARKER>(mark)) != S_OK)
      status = EngineFailure("cannot set the mark in the store " + p.values["--store"], SharedStoreBusy(p.values["--store"]));
  } else {
    kestrelon::KESTRELON_MARKER mark = kestrelon::MARK_NONE;
    if (filter->get_Marker(path.value, id.value, &mark) != S_OK || mark < 0 || mark > 2)
      status = EngineFailure("cannot read the mark in the store " + p.values["--store"], SharedStoreBusy(p.values["--store"]));
    else
      std::printf("%s\n", kNames[mark]);
  }
  filter->Release();
  return status;
}

}  // namespace lexisift
