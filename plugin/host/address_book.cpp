#include "plugin/host/address_book.h"

#include "platform/library.h"
#include "platform/library_names.h"
#include "platform/registry.h"

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
    found = table->FindRow(&restriction, BOOKMARK_BEGINNING, 0) == S_OK;
    table->Release();
  }
  container->Release();
  return found;
}

}  // namespace kestrelon
