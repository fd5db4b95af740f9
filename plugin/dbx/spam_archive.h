// The spam archive: a copy of each mail deleted as spam, as an ".eml" file in the
// archive folder, named from its date received and subject.
#pragma once

#include "platform/mapi.h"

#include <string>

namespace kestrelon {

class DbxReader;

// Longest archive path of the dated-subject form, ".eml" included.
constexpr size_t kMaxArchivePath = 255;

// Replaces every character that Windows refuses in a file name (control characters
// included), and "[", "]" and "+", by `replacement`, one for one.
void CleanFileName(std::string& text, char replacement);

// The archive file name for `message` in `folder` as the rules give it (before any
// clash with an existing file is resolved). `tickCount` and `now` are used only by
// the form without subject. A dated-subject name longer than the limit is cut in its
// file name, never in the folder: empty when the folder leaves no room for one.
std::string ArchiveFileName(bool haveReader, const MapiMessage& message, const std::string& folder,
                            int32_t tickCount, const std::string& nowText);

// Copies the whole raw text of `message` from the Inbox file into a new file of the
// archive folder (DbxReader::SaveMessage). An existing file of the same name is kept:
// the copy gets " (2)", " (3)", ... before ".eml". True only when the copy is complete
// on disk; a copy that fails leaves no file. Never raises.
bool SaveMessageAsEML(DbxReader* reader, const MapiMessage* message, const std::string& folder);

}  // namespace kestrelon
