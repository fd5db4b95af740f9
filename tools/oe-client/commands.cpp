#include "tools/oe-client/commands.h"

#include "client/store/contacts.h"
#include "client/store/mail_store.h"
#include "client/store/store_location.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace oeclient {

using kestrelon::client::Folder;
using kestrelon::client::MailStore;
using kestrelon::client::StoredMessage;

const char* const kUsage =
    "usage: oe-client COMMAND STOREDIR [ARGS...]\n"
    "  init STOREDIR [--language en|de]\n"
    "                              create the store folder (folder files named in the language,\n"
    "                              English by default) and make it the current identity's\n"
    "  deliver STOREDIR MAIL...    receive mail files into the Inbox at once; prints the new ids\n"
    "  list STOREDIR [Inbox|Deleted]\n"
    "                              id, flags (1 = unread), date received, sender, subject\n"
    "  delete STOREDIR ID          move an Inbox message into Deleted Items\n"
    "  move-back STOREDIR ID       move a Deleted Items message into the Inbox; prints the new id\n"
    "  read STOREDIR ID [Inbox|Deleted]\n"
    "                              mark a message read (in the Inbox unless told)\n"
    "  contact STOREDIR ADDRESS [NAME]\n"
    "                              add a contact to the address book\n";

namespace {

bool ParseId(const std::string& text, uint32_t& id) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long long v = std::stoull(text);
  if (v == 0 || v > 0xFFFFFFFFull) return false;
  id = static_cast<uint32_t>(v);
  return true;
}

int Usage(std::ostream& err, const std::string& message) {
  err << "oe-client: " << message << "\n" << kUsage;
  return kUsageError;
}

int Init(const Args& args, std::ostream&, std::ostream& err) {
  kestrelon::UiLanguage language = kestrelon::UiLanguage::kEnglish;
  if (args.size() == 3 && args[1] == "--language") {
    if (!kestrelon::ParseUiLanguage(args[2], language)) return Usage(err, "unknown language " + args[2]);
  } else if (args.size() != 1) {
    return Usage(err, "init takes STOREDIR and an optional --language en|de");
  }
  std::string folder = std::filesystem::absolute(args[0]).lexically_normal().string();
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  MailStore store(folder);
  if (!store.HasInbox()) store = MailStore(folder, language);
  if (store.Language() != language) {
    err << "oe-client: " << folder << " already holds folders in another language\n";
    return kFailure;
  }
  store.Create();
  if (!kestrelon::client::RegisterStoreFolder(folder)) {
    err << "oe-client: cannot register the store folder in the registry\n";
    return kFailure;
  }
  return 0;
}

int Deliver(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) return Usage(err, "deliver takes STOREDIR and at least one MAIL");
  MailStore store(args[0]);
  if (!store.HasInbox()) {
    err << "oe-client: no Inbox in " << args[0] << "\n";
    return kFailure;
  }
  // Every file is read before the first is delivered: a missing one delivers nothing.
  std::vector<std::string> mails;
  for (size_t i = 1; i < args.size(); ++i) {
    std::ifstream in(args[i], std::ios::binary);
    std::ostringstream mail;
    if (!in || !(mail << in.rdbuf())) {
      err << "oe-client: cannot read " << args[i] << "\n";
      return kFailure;
    }
    mails.push_back(mail.str());
  }
  for (uint32_t id : store.DeliverMany(mails, kestrelon::client::FileTimeNow())) out << id << "\n";
  return 0;
}

int List(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args.size() > 2) return Usage(err, "list takes STOREDIR [Inbox|Deleted]");
  Folder folder = Folder::Inbox;
  if (args.size() == 2) {
    if (args[1] == "Deleted") folder = Folder::Deleted;
    else if (args[1] != "Inbox") return Usage(err, "unknown folder " + args[1]);
  }
  for (const StoredMessage& m : MailStore(args[0]).List(folder)) {
    out << m.id << '\t' << (m.Unread() ? 1 : 0) << '\t' << kestrelon::client::DateReceivedText(m.envelope.receivedTime)
        << '\t' << m.envelope.senderAddress << '\t' << m.envelope.subject << '\n';
  }
  return 0;
}

int WithId(const Args& args, std::ostream& err, const char* name, uint32_t& id) {
  if (args.size() != 2) return Usage(err, std::string(name) + " takes STOREDIR and ID");
  if (!ParseId(args[1], id)) return Usage(err, "not a message id: " + args[1]);
  return 0;
}

int Delete(const Args& args, std::ostream&, std::ostream& err) {
  uint32_t id = 0;
  if (int rc = WithId(args, err, "delete", id)) return rc;
  if (MailStore(args[0]).Delete(id)) return 0;
  err << "oe-client: no message " << id << " in the Inbox\n";
  return kNotFound;
}

int MoveBack(const Args& args, std::ostream& out, std::ostream& err) {
  uint32_t id = 0;
  if (int rc = WithId(args, err, "move-back", id)) return rc;
  uint32_t newId = MailStore(args[0]).MoveBack(id);
  if (newId == 0) {
    err << "oe-client: no message " << id << " in Deleted Items\n";
    return kNotFound;
  }
  out << newId << "\n";
  return 0;
}

int Read(const Args& args, std::ostream&, std::ostream& err) {
  Folder folder = Folder::Inbox;
  Args idArgs = args;
  if (args.size() == 3) {
    if (args[2] == "Deleted") folder = Folder::Deleted;
    else if (args[2] != "Inbox") return Usage(err, "unknown folder " + args[2]);
    idArgs.pop_back();
  }
  uint32_t id = 0;
  if (int rc = WithId(idArgs, err, "read", id)) return rc;
  if (MailStore(args[0]).SetRead(folder, id, true)) return 0;
  err << "oe-client: no message " << id << (folder == Folder::Inbox ? " in the Inbox\n" : " in Deleted Items\n");
  return kNotFound;
}

int Contact(const Args& args, std::ostream&, std::ostream& err) {
  if (args.size() < 2 || args.size() > 3) return Usage(err, "contact takes STOREDIR, ADDRESS and an optional NAME");
  std::string path = kestrelon::client::PathInFolder(args[0], kestrelon::client::kContactsFile);
  if (kestrelon::client::AddContact(path, {args[1], args.size() == 3 ? args[2] : ""})) return 0;
  err << "oe-client: cannot add the contact " << args[1] << " to " << path << "\n";
  return kFailure;
}

}  // namespace

int Run(const std::string& command, const Args& args, std::ostream& out, std::ostream& err) {
  using Command = std::function<int(const Args&, std::ostream&, std::ostream&)>;
  static const std::map<std::string, Command> commands = {
      {"init", Init},     {"deliver", Deliver},    {"list", List},         {"delete", Delete},
      {"move-back", MoveBack}, {"read", Read},     {"contact", Contact},
  };
  auto it = commands.find(command);
  if (it == commands.end()) return Usage(err, "unknown command: " + command);
  try {
    return it->second(args, out, err);
  } catch (const std::exception& e) {
    err << "oe-client: " << e.what() << "\n";
    return kFailure;
  }
}

}  // namespace oeclient
