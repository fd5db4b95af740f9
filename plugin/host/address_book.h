// The plug-in's binding to the Windows Address Book: is a sender one of the user's
// contacts.
#pragma once

#include "platform/wab.h"

#include <string>

namespace kestrelon {

class AddressBook {
 public:
  // Loads the library named by HKEY_LOCAL_MACHINE "Software\\Microsoft\\WAB\\DLLPath"
  // (default value), else "WAB32.DLL", and opens the default address book. Never
  // fails: without an address book every lookup answers false.
  AddressBook();
  ~AddressBook();
  AddressBook(const AddressBook&) = delete;
  AddressBook& operator=(const AddressBook&) = delete;

  // Whether a contact's e-mail address is `address`, in full, ignoring the case of ASCII
  // letters. An empty address is never a contact.
  bool IsSenderInAddressBook(const std::string& address);

  bool IsOpen() const { return addrBook_ != nullptr; }

 private:
  void* library_ = nullptr;
  LPWABOPEN wabOpen_ = nullptr;
  IAddrBook* addrBook_ = nullptr;
  IWABObject* wabObject_ = nullptr;
};

}  // namespace kestrelon
