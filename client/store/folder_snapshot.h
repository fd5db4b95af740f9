// What the client shows of one message file, kept between calls: the messages with
// their envelopes in ascending id, shared read-only with every caller. Before each use
// a quick look (the header block, the size and the last write time) tells whether the
// file changed; only then are the index and the records read again, under the file's
// edit lock.
#pragma once

#include "client/store/stored_message.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrelon::client {

using MessageList = std::vector<StoredMessage>;

// The messages of the message file at `path` in ascending id, as of now. An absent file
// lists nothing. Raises StoreError for a file that cannot be read. Safe to call from
// several threads.
std::shared_ptr<const MessageList> FolderSnapshot(const std::string& path);

// The message `id` of the message file at `path`, as of now; false when it holds none.
// Reads only the index and a few records while the file has changed since its last
// snapshot. Raises StoreError as FolderSnapshot does.
bool FindInFolder(const std::string& path, uint32_t id, StoredMessage& message);

}  // namespace kestrelon::client
