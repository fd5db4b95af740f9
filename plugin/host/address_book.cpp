#include "plugin/host/address_book.h"

#include "platform/library.h"
#include "platform/library_names.h"
#include "platform/registry.h"
#include "shared/ascii_text.h"

#include <vector>

namespace kestrelon {

namespace {

// The library named in the registry, as at most 260 bytes of text.
std::string AddressBookLibrary() {
  platform::RegistryKey key;
  std::string path;
  if (key.Open(platform::Hive::LocalMachine, "Software\\Microsoft\\WAB\\DLLPath") && key.ReadString("", path)) {
    if (path.size() > 259) path.resize(259);
    if (!path.empty()) return path;
  }
  return "WAB32.DLL";
}

// Rows whose address begins with the sender's, looked at before giving up: contacts
// that long past the sender's address are rare, and a table that does not move on
// must not hold the pass.
constexpr int kMaxCandidates = 1000;

bool IsAddress(const SRow& row, const std::string& address) {
  if (row.cValues < 1 || !row.lpProps) return false;
  const SPropValue& value = row.lpProps[0];
  return value.ulPropTag == PR_EMAIL_ADDRESS && value.Value.lpszA && EqualsNoCase(value.Value.lpszA, address);
}

void FreeRows(IWABObject* wab, LPSRowSet rows) {
  for (ULONG i = 0; i < rows->cRows; ++i)
    if (rows->aRow[i].lpProps) wab->FreeBuffer(rows->aRow[i].lpProps);
  wab->FreeBuffer(rows);
}

}  // namespace

AddressBook::AddressBook() {
  library_ = platform::LoadLibraryByName(AddressBookLibrary());
  if (!library_) return;
  wabOpen_ = reinterpret_cast<LPWABOPEN>(platform::LibraryExport(library_, "WABOpen"));
  if (!wabOpen_) return;
  WAB_PARAM parameters{};
  parameters.cbSize = sizeof parameters;
  char emptyName[1] = "";
  parameters.szFileName = emptyName;  // the default address book
  if (FAILED(wabOpen_(&addrBook_, &wabObject_, &parameters, 0)) || !addrBook_ || !wabObject_) {
    if (addrBook_) addrBook_->Release();
    if (wabObject_) wabObject_->Release();
    addrBook_ = nullptr;
    wabObject_ = nullptr;
  }
}

AddressBook::~AddressBook() {
  if (addrBook_) addrBook_->Release();
  if (wabObject_) wabObject_->Release();
  // The library stays loaded: an address book library may keep threads or objects that
  // outlive the release of its interfaces.
}

bool AddressBook::IsSenderInAddressBook(const std::string& address) {
  if (address.empty() || !addrBook_ || !wabObject_) return false;
  ULONG cbEntryId = 0;
  LPENTRYID entryId = nullptr;
  addrBook_->GetPAB(&cbEntryId, &entryId);
  ULONG objectType = 0;
  IUnknown* unknown = nullptr;
  HRESULT opened = addrBook_->OpenEntry(cbEntryId, entryId, nullptr, 0, &objectType, &unknown);
  if (entryId) wabObject_->FreeBuffer(entryId);
  if (FAILED(opened) || !unknown) return false;
  auto* container = static_cast<IMAPIContainer*>(unknown);
  bool found = false;
  IMAPITable* table = nullptr;
  if (SUCCEEDED(container->GetContentsTable(0, &table)) && table) {
    SPropTagArray columns{1, {PR_EMAIL_ADDRESS}};
    table->SetColumns(&columns, 0);
    std::vector<char> text(address.begin(), address.end());
    text.push_back('\0');
    SPropValue value{};
    value.ulPropTag = PR_EMAIL_ADDRESS;
    value.Value.lpszA = text.data();
    SRestriction restriction{};
    restriction.rt = RES_CONTENT;
    restriction.res.resContent.ulFuzzyLevel = FL_IGNORECASE | FL_PREFIX;
    restriction.res.resContent.ulPropTag = PR_EMAIL_ADDRESS;
    restriction.res.resContent.lpProp = &value;
    // The address book's search matches a prefix ("a" finds alice@...): each row found
    // is only a candidate, a contact when its whole address is the sender's.
    BOOKMARK origin = BOOKMARK_BEGINNING;
    for (int n = 0; !found && n < kMaxCandidates && table->FindRow(&restriction, origin, 0) == S_OK; ++n) {
      origin = BOOKMARK_CURRENT;
      LPSRowSet rows = nullptr;
      if (FAILED(table->QueryRows(1, 0, &rows)) || !rows) break;
      bool moved = rows->cRows > 0;
      if (moved) found = IsAddress(rows->aRow[0], address);
      FreeRows(wabObject_, rows);
      if (!moved) break;
    }
    table->Release();
  }
  container->Release();
  return found;
}

}  // namespace kestrelon
