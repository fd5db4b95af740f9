// dbx_append_worker FILE TAG COUNT
// Appends COUNT mails tagged TAG to the message file FILE, one edit each, through one
// writer that stays open the whole time: what a client delivering mail does while other
// processes edit the same file. Exits 0 when all were appended, 1 on a write failure,
// 2 on bad arguments.
#include "client/dbx_writer.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::string path = argv[1], tag = argv[2];
  int count = std::atoi(argv[3]);
  try {
    kestrelon::client::DbxWriter writer(path);
    for (int i = 0; i < count; ++i) {
      kestrelon::client::DbxEnvelope envelope;
      envelope.subject = tag + " " + std::to_string(i);
      writer.Append(envelope, "Subject: " + envelope.subject + "\r\n\r\nmail " + std::to_string(i) + " of " + tag);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dbx_append_worker: %s\n", e.what());
    return 1;
  }
  return 0;
}
