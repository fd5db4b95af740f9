// The address book over the stand-in library, loaded by name.
#include "plugin/host/address_book.h"

#include "client/store/contacts.h"
#include "client/store/store_test_support.h"

namespace kestrelon::testing {
namespace {

class AddressBookTest : public ClientStoreTest {
 protected:
  void SetUp() override {
    ClientStoreTest::SetUp();
    platform::RegistryKey::DeleteTree(platform::Hive::LocalMachine, "Software\\Microsoft\\WAB");
    MakeStore();
    contacts_ = client::PathInFolder(folder_, client::kContactsFile);
  }
  std::string contacts_;
};

TEST_F(AddressBookTest, WholeAddressMatchesIgnoringCase) {
  // A longer address that begins with the sender's comes first: the lookup goes past it.
  ASSERT_TRUE(client::AddContact(contacts_, {"ann.example@example.com.au", "Ann in Sydney"}));
  ASSERT_TRUE(client::AddContact(contacts_, {"Ann.Example@Example.COM", "Ann"}));
  ASSERT_TRUE(client::AddContact(contacts_, {"alice@northfield.example", "Alice"}));
  AddressBook book;  // no DLLPath value: found by its plain name
  ASSERT_TRUE(book.IsOpen());
  EXPECT_TRUE(book.IsSenderInAddressBook("ann.example@example.com"));
  EXPECT_TRUE(book.IsSenderInAddressBook("ANN.EXAMPLE@EXAMPLE.COM"));
  EXPECT_TRUE(book.IsSenderInAddressBook("ann.example@example.com.au"));
  // A sender whose address only begins a contact's is no contact.
  EXPECT_FALSE(book.IsSenderInAddressBook("a"));
  EXPECT_FALSE(book.IsSenderInAddressBook("ann"));
  EXPECT_FALSE(book.IsSenderInAddressBook("ann.example@example.co"));
  EXPECT_FALSE(book.IsSenderInAddressBook("ann.example@example.com.evil"));
  EXPECT_FALSE(book.IsSenderInAddressBook("bob@example.com"));
  EXPECT_FALSE(book.IsSenderInAddressBook(""));
  // Contacts added while the book is open are found by the next lookup.
  ASSERT_TRUE(client::AddContact(contacts_, {"bob@example.com", ""}));
  EXPECT_TRUE(book.IsSenderInAddressBook("Bob@example.com"));
}

TEST_F(AddressBookTest, DllPathValueNamesTheLibrary) {
  ASSERT_TRUE(client::AddContact(contacts_, {"ann@example.com", ""}));
  platform::RegistryKey key;
  ASSERT_TRUE(key.Create(platform::Hive::LocalMachine, "Software\\Microsoft\\WAB\\DLLPath"));
  ASSERT_TRUE(key.WriteString("", "C:\\Program Files\\Common Files\\System\\no-such-wab.dll"));
  {
    AddressBook missing;
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_FALSE(missing.IsSenderInAddressBook("ann@example.com"));
  }
  ASSERT_TRUE(key.WriteString("", ""));  // empty: the plain name again
  AddressBook book;
  EXPECT_TRUE(book.IsSenderInAddressBook("ann@example.com"));
}

TEST_F(AddressBookTest, NoContactsFileMeansNoContacts) {
  AddressBook book;
  ASSERT_TRUE(book.IsOpen());
  EXPECT_FALSE(book.IsSenderInAddressBook("ann@example.com"));
}

}  // namespace
}  // namespace kestrelon::testing
