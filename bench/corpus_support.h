// What the corpus harness needs besides the filters: the synthetic mails that grow a
// store, digests of result files kept in the repository, and the process's peak memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

// The regular files of `folder` whose names do not start with a dot, sorted by name.
std::vector<std::string> MailFiles(const std::filesystem::path& folder);

// Writes `count` mails of `words` random lower-case words (4 to 12 letters) each into
// `folder` as syn-NNNNN.eml and returns their paths in order. The same seed gives the
// same bytes on every machine.
std::vector<std::string> WriteSyntheticMails(const std::filesystem::path& folder, int count, int words,
                                             uint64_t seed);

// FNV-1a (64 bits) of a file's bytes, or of a text, as 16 hexadecimal digits; "absent"
// for a file that cannot be read.
std::string FileDigest(const std::filesystem::path& path);
std::string TextDigest(const std::string& text);

// Named digests: "name digest" lines, '#' starts a comment.
class DigestBook {
 public:
  bool Load(const std::filesystem::path& path);
  bool Save(const std::filesystem::path& path) const;
  void Put(const std::string& name, const std::string& digest) { entries_[name] = digest; }
  // The stored digest, or "" when there is none.
  std::string Get(const std::string& name) const;
  const std::map<std::string, std::string>& Entries() const { return entries_; }

 private:
  std::map<std::string, std::string> entries_;
};

// Peak resident memory of this process in KiB since the last reset (Linux).
long PeakRssKb();
void ResetPeakRss();

}  // namespace bench
