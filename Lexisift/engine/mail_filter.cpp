#include "Lexisift/engine/mail_filter.h"

#include "Lexisift/server/log.h"
#include "Lexisift/store/item_counter.h"
#include "Lexisift/store/mail_items_map.h"
#include "platform/file.h"
#include "platform/folder_listing.h"
#include "platform/library.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace kestrelon {

namespace {

bool IsTrue(VARIANT_BOOL value) { return value == VARIANT_TRUE; }

char* TextOrEmpty(char* text) {
  static char empty[1];
  empty[0] = '\0';
  return text ? text : empty;
}

// Only one folder walk runs at a time in the whole process.
std::mutex& FolderWalk() {
  static std::mutex walk;
  return walk;
}

// A damaged store that was replaced when it was opened: the user learns of it from the
// event log beside the store, or, where no log is open (a command line), on stderr.
void ReportRecovery(const std::string& path, Recovery recovery) {
  std::string notice = RecoveryNotice(path, recovery);
  try {
    if (CLog::LogErrorInFolder(platform::FolderOf(path), "CPersistMap", notice)) return;
  } catch (...) {
  }
  std::fprintf(stderr, "Lexisift: %s\n", notice.c_str());
}

}  // namespace

bool ReadMailFileText(const std::string& path, std::string& text) {
  text.clear();
  platform::File file;
  if (!file.Open(path, platform::Access::Read, platform::kShareRead, platform::Disposition::OpenExisting)) return false;
  file.SkipLockChecks();  // it denies writing to others, so no writer can hold a lock
  // Sized to the file, so that a short mail is not read into a limit's worth of zeros.
  uint64_t size = 0;
  text.resize(file.Size(size) ? static_cast<size_t>(std::min<uint64_t>(size, kMailFileLimit)) : kMailFileLimit);
  size_t got = 0;
  if (!file.ReadAt(0, text.data(), text.size(), got)) {
    text.clear();
    return false;
  }
  // The mail ends at its first NUL for every pass: link detection and the short-mail
  // limit as much as the tokenizer.
  text.resize(std::min(got, text.find('\0')));
  return true;
}

CMailFilter::CMailFilter(IUnknown* outer) : ComObject(outer) {}
CMailFilter::~CMailFilter() = default;

void* CMailFilter::FindInterface(REFIID riid) {
  if (IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_IMailFilter)) return static_cast<IMailFilter*>(this);
  if (IsEqualGUID(riid, IID_IProvideClassInfo)) return static_cast<IProvideClassInfo*>(this);
  return nullptr;
}

bool CMailFilter::TokenizeFile(const std::string& path, TokenTable& table) {
  std::string text;
  if (!ReadMailFileText(path, text)) return false;
  MailTokenizer& tokenizer = classifier_.Tokenizer();
  tokenizer.SetReadingFile(true);
  tokenizer.DetectLink(text);
  tokenizer.SetReadingFile(false);
  tokenizer.TokenizeHeader(text.data(), table);
  return true;
}

void CMailFilter::Apply(TokenTable& table, bool flag, Learn how) {
  switch (how) {
    case Learn::Add: store_->AddItems(table, flag); break;
    case Learn::Delete: store_->DeleteItems(table, flag); break;
    case Learn::Swap: store_->SwapItems(table, flag); break;
  }
}

HRESULT CMailFilter::Init(BSTR FilePath) {
  if (store_) return kNoStore;  // a filter keeps the store it was first given
  std::string path;
  try {
    path = platform::BstrToAnsi(FilePath);
    store_ = std::make_unique<CMailItemsMap>(path);
  } catch (const StoreBusy&) {
    store_.reset();
    return kStoreBusy;
  } catch (...) {
    store_.reset();
    return E_FAIL;
  }
  if (store_->RecoveryDone() != Recovery::None) ReportRecovery(path, store_->RecoveryDone());
  return S_OK;
}

HRESULT CMailFilter::ProcessMailDirectory(BSTR szPath) {
  if (!store_) return kNoStore;
  try {
    std::lock_guard<std::mutex> walk(FolderWalk());
    std::string folder = platform::BstrToAnsi(szPath);
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(folder, entries)) return S_FALSE;
    for (const platform::FolderEntry& entry : entries) {
      if (entry.isFolder) continue;
      TokenTable table;
      if (!TokenizeFile(platform::JoinPath(folder, entry.name), table)) continue;
      classifier_.Process(*store_, table, false);
    }
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CMailFilter::ProcessMailFile(BSTR szFileName, VARIANT_BOOL* bBad) {
  if (!bBad) return E_POINTER;
  *bBad = VARIANT_FALSE;
  if (!store_) return kNoStore;
  try {
    TokenTable table;
    if (!TokenizeFile(platform::BstrToAnsi(szFileName), table)) return S_FALSE;
    if (classifier_.Process(*store_, table, true)) *bBad = VARIANT_TRUE;
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CMailFilter::ProcessMailStream(char* szHeader, char* szStream, VARIANT_BOOL* bBad) {
  if (!bBad) return E_POINTER;
  *bBad = VARIANT_FALSE;
  if (!store_) return kNoStore;
  try {
    TokenTable table;
    classifier_.Tokenizer().TokenizeHeader(TextOrEmpty(szHeader), table);
    classifier_.Tokenizer().TokenizeBody(TextOrEmpty(szStream), table);
    if (classifier_.Process(*store_, table, true)) *bBad = VARIANT_TRUE;
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CMailFilter::LearnStream(char* header, char* body, bool flag, Learn how) {
  if (!store_) return kNoStore;
  try {
    TokenTable table;
    classifier_.Tokenizer().TokenizeHeader(TextOrEmpty(header), table);
    classifier_.Tokenizer().TokenizeBody(TextOrEmpty(body), table);
    Apply(table, flag, how);
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CMailFilter::LearnFile(BSTR fileName, bool flag, Learn how) {
  if (!store_) return kNoStore;
  try {
    TokenTable table;
    if (!TokenizeFile(platform::BstrToAnsi(fileName), table)) return S_FALSE;  // nothing to learn
    Apply(table, flag, how);
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CMailFilter::AddMailStream(char* szHeader, char* szStream, VARIANT_BOOL bBad) {
  return LearnStream(szHeader, szStream, IsTrue(bBad), Learn::Add);
}
HRESULT CMailFilter::DeleteMailStream(char* szHeader, char* szStream, VARIANT_BOOL bBad) {
  return LearnStream(szHeader, szStream, IsTrue(bBad), Learn::Delete);
}
HRESULT CMailFilter::SwapMailStream(char* szHeader, char* szStream, VARIANT_BOOL bToBad) {
  return LearnStream(szHeader, szStream, IsTrue(bToBad), Learn::Swap);
}
HRESULT CMailFilter::AddMailFile(BSTR szFileName, VARIANT_BOOL bBad) {
  return LearnFile(szFileName, IsTrue(bBad), Learn::Add);
}
HRESULT CMailFilter::DeleteMailFile(BSTR szFileName, VARIANT_BOOL bBad) {
  return LearnFile(szFileName, IsTrue(bBad), Learn::Delete);
}
HRESULT CMailFilter::SwapMailFile(BSTR szFileName, VARIANT_BOOL bToBad) {
  return LearnFile(szFileName, IsTrue(bToBad), Learn::Swap);
}

HRESULT CMailFilter::get_ItemsCount(VARIANT_BOOL bBad, LONG* pVal) {
  if (!pVal) return E_POINTER;
  if (!store_) return kNoStore;
  *pVal = IsTrue(bBad) ? store_->SpamMails() : store_->HamMails();
  return S_OK;
}

HRESULT CMailFilter::Dump(BSTR FileName) {
  if (!store_) return kNoStore;
  try {
    store_->EnumerateItems(true, platform::BstrToAnsi(FileName));
  } catch (...) {
    // A damaged store or an unwritable listing writes no file.
  }
  return S_OK;
}

HRESULT CMailFilter::get_HTTPScanTimeout(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = classifier_.Tokenizer().Scanner().TimeoutSeconds();
  return S_OK;
}

HRESULT CMailFilter::put_HTTPScanTimeout(LONG newVal) {
  classifier_.Tokenizer().Scanner().SetTimeoutSeconds(newVal);
  return S_OK;
}

HRESULT CMailFilter::get_NumOfToken(LONG* pVal) {
  if (!pVal) return E_POINTER;
  if (!store_) return kNoStore;
  try {
    *pVal = store_->EnumerateItems(false, "");
  } catch (...) {
    *pVal = -1;
  }
  return S_OK;
}

HRESULT CMailFilter::get_SizeOnRam(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = kSizeOnRam;
  return S_OK;
}

HRESULT CMailFilter::get_SizeOnDisk(LONG* pVal) {
  if (!pVal) return E_POINTER;
  if (!store_) return kNoStore;
  uint64_t size = 0;
  *pVal = store_->FileSize(size) ? static_cast<LONG>(static_cast<uint32_t>(size)) : -1;
  return S_OK;
}

HRESULT CMailFilter::get_ContentType(CONTENT_TYPE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = classifier_.Tokenizer().ContentType();
  return S_OK;
}

HRESULT CMailFilter::put_ContentType(CONTENT_TYPE newVal) {
  classifier_.Tokenizer().SetContentType(newVal);
  return S_OK;
}

HRESULT CMailFilter::TokensMap(BSTR Header, BSTR Body, float* Prob, LONG* pVal) {
  if (!Prob || !pVal) return E_POINTER;
  if (!store_) return kNoStore;
  try {
    std::string header = platform::BstrToAnsi(Header);
    std::string body = platform::BstrToAnsi(Body);
    TokenTable table;
    classifier_.Tokenizer().TokenizeHeader(header.data(), table);
    classifier_.Tokenizer().TokenizeBody(body.data(), table);
    *Prob = classifier_.Score(*store_, table);
    // The table's address is handed over as a 32-bit integer; it was placed low enough.
    auto address = reinterpret_cast<uintptr_t>(classifier_.Interesting());
    if (address > UINT32_MAX) return S_FALSE;
    *pVal = static_cast<LONG>(static_cast<uint32_t>(address));
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CMailFilter::ReadItemCounter(BSTR FilePath, LONGLONG* pVal) {
  if (!pVal) return E_POINTER;
  try {
    *pVal = kestrelon::ReadItemCounter(platform::BstrToAnsi(FilePath));
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

}  // namespace kestrelon
