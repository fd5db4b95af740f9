// CMailItemsMap: the token store as the engine sees it. The user's own single-writer map
// with an optional read-only profile map laid over it: while the own map has learned
// fewer mails than the thresholds, lookups add the profile's counts. Updates only ever
// touch the own counts.
#pragma once

#include "Lexisift/store/persist_map.h"
#include "Lexisift/store/read_only_persist_map.h"

#include <memory>

namespace kestrelon {

class CMailItemsMap : public CPersistMap {
 public:
  static constexpr int32_t kDefaultSpamThreshold = 250;

  // Opens the single-writer store at `path` (3 to 259 characters) and attaches the
  // profile beside it: the same path with its last three characters replaced by "def".
  explicit CMailItemsMap(const std::string& path);
  ~CMailItemsMap() override;

  // The own item plus, while the profile is active, the profile's counts for the key.
  MapItem GetItem(std::string_view key) override;

  bool HasProfile() const { return profile_ != nullptr; }
  // A profile is attached and the own hamMails or spamMails is below its threshold.
  bool ProfileActive() const;
  // The mail counters the score uses: own plus profile while it is active.
  int32_t EffectiveHamMails() const;
  int32_t EffectiveSpamMails() const;

  int32_t HamThreshold() const { return hamThreshold_; }
  int32_t SpamThreshold() const { return spamThreshold_; }

  // The profile path of a store path: last three characters replaced by "def".
  static std::string ProfilePathFor(const std::string& storePath);

 protected:
  explicit CMailItemsMap(Unopened);

  int32_t hamThreshold_ = 0;
  int32_t spamThreshold_ = 0;
  std::unique_ptr<CReadOnlyPersistMap> profile_;
};

}  // namespace kestrelon
