// The stand-in address book ("WAB32.DLL"): WABOpen hands out an address book whose
// personal address book container lists the contacts of "Contacts.txt" in the current
// identity's store folder (or of the file named in WAB_PARAM). A contents table takes
// its rows when it is made, answers FindRow for content restrictions on the e-mail
// address (a prefix match, as the system's address book makes it when asked to) and
// QueryRows with that address. Everything not needed for that answers MAPI_E_NO_SUPPORT.
#include "client/store/contacts.h"
#include "client/store/store_location.h"
#include "platform/wab.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#define WAB_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define WAB_EXPORT extern "C"
#endif

namespace {

using kestrelon::client::Contact;

constexpr unsigned char kPabEntryId[] = {0, 0, 0, 0, 'K', 'P', 'A', 'B'};

// Buffers handed to the caller, freed through IWABObject::FreeBuffer.
std::mutex bufferMutex;
std::set<void*> buffers;

void* Allocate(size_t size) {
  void* p = std::calloc(1, size ? size : 1);
  if (p) {
    std::lock_guard<std::mutex> lock(bufferMutex);
    buffers.insert(p);
  }
  return p;
}

bool Free(void* p) {
  {
    std::lock_guard<std::mutex> lock(bufferMutex);
    if (!buffers.erase(p)) return false;
  }
  std::free(p);
  return true;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool Matches(const std::string& value, const char* wanted, ULONG fuzzy) {
  std::string a = value, b = wanted;
  if (fuzzy & FL_IGNORECASE) {
    for (char& c : a) c = Lower(c);
    for (char& c : b) c = Lower(c);
  }
  switch (fuzzy & 0xFFFF) {
    case FL_FULLSTRING: return a == b;
    case FL_SUBSTRING: return a.find(b) != std::string::npos;
    case FL_PREFIX: return a.compare(0, b.size(), b) == 0;
    default: return false;
  }
}

template <class Interface>
class RefCounted : public Interface {
 public:
  ULONG WAB_CALL AddRef() override { return ++refs_; }
  ULONG WAB_CALL Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT WAB_CALL QueryInterface(REFIID iid, void** object) override {
    if (!object) return MAPI_E_INVALID_PARAMETER;
    *object = nullptr;
    if (iid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  virtual ~RefCounted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

template <class Interface>
class Prop : public RefCounted<Interface> {
 public:
  HRESULT WAB_CALL GetLastError(HRESULT, ULONG, void** error) override {
    if (error) *error = nullptr;
    return S_OK;
  }
  HRESULT WAB_CALL SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetProps(void*, ULONG, ULONG*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetPropList(ULONG, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL OpenProperty(ULONG, const IID*, ULONG, ULONG, IUnknown**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL SetProps(ULONG, void*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL DeleteProps(void*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL CopyTo(ULONG, const IID*, void*, ULONG_PTR, void*, const IID*, void*, ULONG, void**) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT WAB_CALL CopyProps(void*, ULONG_PTR, void*, const IID*, void*, ULONG, void**) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT WAB_CALL GetNamesFromIDs(void**, GUID*, ULONG, ULONG*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetIDsFromNames(ULONG, void**, ULONG, void**) override { return MAPI_E_NO_SUPPORT; }
};

class ContentsTable final : public RefCounted<IMAPITable> {
 public:
  explicit ContentsTable(std::vector<Contact> rows) : rows_(std::move(rows)) {}

  HRESULT WAB_CALL GetLastError(HRESULT, ULONG, void** error) override {
    if (error) *error = nullptr;
    return S_OK;
  }
  HRESULT WAB_CALL Advise(ULONG, void*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetStatus(ULONG* status, ULONG* type) override {
    if (status) *status = 0;  // TBLSTAT_COMPLETE
    if (type) *type = 1;      // TBLTYPE_SNAPSHOT
    return S_OK;
  }
  HRESULT WAB_CALL SetColumns(LPSPropTagArray columns, ULONG) override {
    return columns ? S_OK : MAPI_E_INVALID_PARAMETER;
  }
  HRESULT WAB_CALL QueryColumns(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetRowCount(ULONG, ULONG* count) override {
    if (!count) return MAPI_E_INVALID_PARAMETER;
    *count = static_cast<ULONG>(rows_.size());
    return S_OK;
  }
  HRESULT WAB_CALL SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
    long long base = origin == BOOKMARK_BEGINNING ? 0 : origin == BOOKMARK_CURRENT ? cursor_ : (long long)rows_.size();
    if (origin > BOOKMARK_END) return MAPI_E_INVALID_PARAMETER;
    long long target = base + rows;
    if (target < 0) target = 0;
    if (target > (long long)rows_.size()) target = (long long)rows_.size();
    if (sought) *sought = static_cast<LONG>(target - base);
    cursor_ = static_cast<size_t>(target);
    return S_OK;
  }
  HRESULT WAB_CALL SeekRowApprox(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) override {
    if (row) *row = static_cast<ULONG>(cursor_);
    if (numerator) *numerator = static_cast<ULONG>(cursor_);
    if (denominator) *denominator = static_cast<ULONG>(rows_.size());
    return S_OK;
  }
  HRESULT WAB_CALL FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG) override {
    if (!restriction || origin > BOOKMARK_END) return MAPI_E_INVALID_PARAMETER;
    if (restriction->rt != RES_CONTENT) return MAPI_E_TOO_COMPLEX;
    const SContentRestriction& content = restriction->res.resContent;
    if (content.ulPropTag != PR_EMAIL_ADDRESS) return MAPI_E_TOO_COMPLEX;
    if (!content.lpProp || !content.lpProp->Value.lpszA) return MAPI_E_INVALID_PARAMETER;
    size_t start = origin == BOOKMARK_BEGINNING ? 0 : origin == BOOKMARK_CURRENT ? cursor_ : rows_.size();
    for (size_t i = start; i < rows_.size(); ++i) {
      if (Matches(rows_[i].address, content.lpProp->Value.lpszA, content.ulFuzzyLevel)) {
        cursor_ = i;
        return S_OK;
      }
    }
    return MAPI_E_NOT_FOUND;
  }
  HRESULT WAB_CALL Restrict(LPSRestriction, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL SortTable(void*, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL QuerySortOrder(void**) override { return MAPI_E_NO_SUPPORT; }
  // The e-mail address of the rows from the cursor on, each row's properties in a buffer
  // of their own; the cursor moves past them.
  HRESULT WAB_CALL QueryRows(LONG count, ULONG, LPSRowSet* rows) override {
    if (!rows || count < 0) return MAPI_E_INVALID_PARAMETER;
    *rows = nullptr;
    size_t n = std::min(static_cast<size_t>(count), rows_.size() - std::min(cursor_, rows_.size()));
    auto* set = static_cast<LPSRowSet>(Allocate(sizeof(SRowSet) + n * sizeof(SRow)));
    if (!set) return MAPI_E_NOT_ENOUGH_MEMORY;
    for (size_t i = 0; i < n; ++i) {
      const std::string& address = rows_[cursor_ + i].address;
      auto* value = static_cast<LPSPropValue>(Allocate(sizeof(SPropValue) + address.size() + 1));
      if (!value) {
        for (size_t j = 0; j < i; ++j) Free(set->aRow[j].lpProps);
        Free(set);
        return MAPI_E_NOT_ENOUGH_MEMORY;
      }
      char* text = reinterpret_cast<char*>(value + 1);
      std::memcpy(text, address.c_str(), address.size() + 1);
      value->ulPropTag = PR_EMAIL_ADDRESS;
      value->Value.lpszA = text;
      set->aRow[i].cValues = 1;
      set->aRow[i].lpProps = value;
    }
    set->cRows = static_cast<ULONG>(n);
    cursor_ += n;
    *rows = set;
    return S_OK;
  }
  HRESULT WAB_CALL Abort() override { return S_OK; }
  HRESULT WAB_CALL ExpandRow(ULONG, void*, ULONG, ULONG, void**, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL CollapseRow(ULONG, void*, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL WaitForCompletion(ULONG, ULONG, ULONG* status) override {
    if (status) *status = 0;
    return S_OK;
  }
  HRESULT WAB_CALL GetCollapseState(ULONG, ULONG, void*, ULONG*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL SetCollapseState(ULONG, ULONG, void*, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

 private:
  std::vector<Contact> rows_;
  size_t cursor_ = 0;
};

class Container final : public Prop<IMAPIContainer> {
 public:
  explicit Container(std::string file) : file_(std::move(file)) {}

  HRESULT WAB_CALL GetContentsTable(ULONG, IMAPITable** table) override {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = new (std::nothrow) ContentsTable(file_.empty() ? std::vector<Contact>() : kestrelon::client::ReadContacts(file_));
    return *table ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }
  HRESULT WAB_CALL GetHierarchyTable(ULONG, IMAPITable**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL OpenEntry(ULONG, LPENTRYID, const IID*, ULONG, ULONG*, IUnknown**) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT WAB_CALL SetSearchCriteria(LPSRestriction, void*, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetSearchCriteria(ULONG, LPSRestriction*, void**, ULONG*) override { return MAPI_E_NO_SUPPORT; }

 private:
  std::string file_;
};

class AddrBook final : public Prop<IAddrBook> {
 public:
  explicit AddrBook(std::string file) : file_(std::move(file)) {}

  HRESULT WAB_CALL OpenEntry(ULONG cbEntryId, LPENTRYID entryId, const IID*, ULONG, ULONG* objectType,
                             IUnknown** unk) override {
    if (!unk) return MAPI_E_INVALID_PARAMETER;
    *unk = nullptr;
    // The personal address book, or the root container (no entry id), which holds the
    // same contacts here.
    bool pab = cbEntryId == sizeof kPabEntryId && entryId && std::memcmp(entryId, kPabEntryId, cbEntryId) == 0;
    if (!pab && cbEntryId != 0) return MAPI_E_NOT_FOUND;
    Container* container = new (std::nothrow) Container(file_);
    if (!container) return MAPI_E_NOT_ENOUGH_MEMORY;
    if (objectType) *objectType = MAPI_ABCONT;
    *unk = container;
    return S_OK;
  }
  HRESULT WAB_CALL CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT WAB_CALL Advise(ULONG, LPENTRYID, ULONG, void*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL CreateOneOff(LPSTR, LPSTR, LPSTR, ULONG, ULONG*, LPENTRYID*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL NewEntry(ULONG, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT WAB_CALL ResolveName(ULONG_PTR, ULONG, LPSTR, void*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL Address(ULONG*, void*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL Details(ULONG*, void*, void*, ULONG, LPENTRYID, void*, void*, LPSTR, ULONG) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT WAB_CALL RecipOptions(ULONG, ULONG, void*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL QueryDefaultRecipOpt(LPSTR, ULONG, ULONG*, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetPAB(ULONG* cbEntryId, LPENTRYID* entryId) override {
    if (!cbEntryId || !entryId) return MAPI_E_INVALID_PARAMETER;
    void* id = Allocate(sizeof kPabEntryId);
    if (!id) return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memcpy(id, kPabEntryId, sizeof kPabEntryId);
    *cbEntryId = sizeof kPabEntryId;
    *entryId = static_cast<LPENTRYID>(id);
    return S_OK;
  }
  HRESULT WAB_CALL SetPAB(ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetDefaultDir(ULONG* cb, LPENTRYID* id) override { return GetPAB(cb, id); }
  HRESULT WAB_CALL SetDefaultDir(ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetSearchPath(ULONG, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL SetSearchPath(ULONG, void*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL PrepareRecips(ULONG, LPSPropTagArray, void*) override { return MAPI_E_NO_SUPPORT; }

 private:
  std::string file_;
};

class WabObject final : public RefCounted<IWABObject> {
 public:
  HRESULT WAB_CALL GetLastError(HRESULT, ULONG, void** error) override {
    if (error) *error = nullptr;
    return S_OK;
  }
  HRESULT WAB_CALL AllocateBuffer(ULONG size, LPVOID* buffer) override {
    if (!buffer) return MAPI_E_INVALID_PARAMETER;
    *buffer = Allocate(size);
    return *buffer ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
  }
  HRESULT WAB_CALL AllocateMore(ULONG size, LPVOID, LPVOID* buffer) override { return AllocateBuffer(size, buffer); }
  HRESULT WAB_CALL FreeBuffer(LPVOID buffer) override {
    if (!buffer) return S_OK;
    return Free(buffer) ? S_OK : MAPI_E_INVALID_PARAMETER;
  }
  HRESULT WAB_CALL Backup(LPSTR) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL Import(LPSTR) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL Find(IAddrBook*, WabWindow) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL VCardDisplay(IAddrBook*, WabWindow, LPSTR) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL LDAPUrl(IAddrBook*, WabWindow, ULONG, LPSTR, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL VCardCreate(IAddrBook*, ULONG, LPSTR, void*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL VCardRetrieve(IAddrBook*, ULONG, LPSTR, void**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL GetMe(IAddrBook*, ULONG, DWORD*, void*, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WAB_CALL SetMe(IAddrBook*, ULONG, void*, ULONG) override { return MAPI_E_NO_SUPPORT; }
};

}  // namespace

WAB_EXPORT HRESULT WAB_CALL WABOpen(IAddrBook** book, IWABObject** object, LPWAB_PARAM parameters, DWORD) {
  if (!book || !object) return MAPI_E_INVALID_PARAMETER;
  *book = nullptr;
  *object = nullptr;
  try {
    // An address book file named by the caller, else the contacts of the current
    // identity's store folder; without a store folder the address book is empty.
    std::string file;
    if (parameters && parameters->cbSize >= offsetof(WAB_PARAM, szFileName) + sizeof(LPSTR) &&
        parameters->szFileName && parameters->szFileName[0])
      file = parameters->szFileName;
    std::string folder;
    if (file.empty() && kestrelon::client::StoreFolderOfCurrentIdentity(folder))
      file = kestrelon::client::PathInFolder(folder, kestrelon::client::kContactsFile);
    *book = new AddrBook(file);
    *object = new WabObject();
    return S_OK;
  } catch (...) {
    if (*book) (*book)->Release();
    *book = nullptr;
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
}
