#include "tools/dbxtool/commands.h"

#include "client/dbx_writer.h"
#include "plugin/dbx/dbx_message_info.h"
#include "plugin/dbx/dbx_reader.h"
#include "client/envelope.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

namespace dbxtool {

namespace {

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  bytes = all.str();
  return !in.bad();
}

// A message index given on the command line: decimal, 1 to 2^32 - 1.
bool ParseId(const std::string& text, uint32_t& id) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  id = uint32_t(v);
  return true;
}

int Failure(const std::string& message) {
  std::cerr << "dbxtool: " << message << "\n";
  return kFailure;
}

void WriteOut(const std::string& bytes) { std::cout.write(bytes.data(), std::streamsize(bytes.size())); }

}  // namespace

int UsageError(const std::string& message) {
  std::cerr << "dbxtool: " << message << "\n";
  return kUsageError;
}

int RunCreate(const Args& args) {
  if (args.size() != 1) return UsageError("usage: dbxtool create FILE");
  try {
    kestrelon::client::DbxWriter::Create(args[0]);
  } catch (const std::exception& e) {
    return Failure(e.what());
  }
  return 0;
}

int RunAppend(const Args& args) {
  if (args.size() < 2) return UsageError("usage: dbxtool append FILE MAIL...");
  std::vector<kestrelon::client::DbxNewMessage> mails;
  uint64_t now = kestrelon::client::FileTimeFromUnix(int64_t(std::time(nullptr)));
  for (size_t i = 1; i < args.size(); ++i) {
    std::string raw;
    if (!ReadFileBytes(args[i], raw)) return UsageError("cannot read " + args[i]);
    mails.push_back({kestrelon::client::EnvelopeFromMail(raw, now), std::move(raw)});
  }
  try {
    kestrelon::client::DbxWriter writer(args[0]);
    for (uint32_t index : writer.AppendMany(mails)) std::cout << index << "\n";
  } catch (const std::exception& e) {
    return Failure(e.what());
  }
  return 0;
}

int RunDelete(const Args& args) {
  uint32_t id = 0;
  if (args.size() != 2 || !ParseId(args[1], id)) return UsageError("usage: dbxtool delete FILE ID");
  try {
    kestrelon::client::DbxWriter writer(args[0]);
    if (!writer.Delete(id)) {
      std::cerr << "dbxtool: no message " << id << "\n";
      return kNotFound;
    }
  } catch (const std::exception& e) {
    return Failure(e.what());
  }
  return 0;
}

int RunList(const Args& args) {
  if (args.size() != 1) return UsageError("usage: dbxtool list FILE");
  kestrelon::DbxReader reader(args[0]);
  try {
    uint32_t count = reader.LoadIndex();
    std::string out;
    for (uint32_t i = 0; i < count; ++i) {
      kestrelon::DbxMessageInfo info(reader.Stream(), reader.IndexAt(i));
      out += std::to_string(info.IndexValue(kestrelon::DbxMessageInfo::kIndexMessageIndex)) + "\t" +
             std::to_string(info.IndexValue(kestrelon::DbxMessageInfo::kIndexMessageAddress)) + "\n";
    }
    WriteOut(out);
  } catch (const kestrelon::DbxException& e) {
    return Failure(e.message);
  }
  return 0;
}

int RunRead(const Args& args) {
  uint32_t id = 0;
  bool cut = args.size() == 3 && args[2] == "--cut";
  if ((args.size() != 2 && !cut) || !ParseId(args[1], id)) return UsageError("usage: dbxtool read FILE ID [--cut]");
  kestrelon::DbxReader reader(args[0]);
  std::string header, body;
  if (!reader.ReadMessage(id, header, body, cut)) return kNotFound;
  std::string out = "html " + std::string(reader.HtmlFlag() ? "1" : "0") + "\n";
  out += "header " + std::to_string(header.size()) + "\n" + header + "\n";
  out += "body " + std::to_string(body.size()) + "\n" + body + "\n";
  WriteOut(out);
  return 0;
}

int RunSave(const Args& args) {
  uint32_t id = 0;
  if (args.size() != 3 || !ParseId(args[1], id)) return UsageError("usage: dbxtool save FILE ID OUT");
  kestrelon::DbxReader reader(args[0]);
  return reader.SaveMessage(id, args[2]) ? 0 : kNotFound;
}

}  // namespace dbxtool
