#include "Lexisift/store/mail_items_map.h"

namespace kestrelon {
namespace {

const std::string& CheckedStorePath(const std::string& path) {
  if (path.size() < 3 || path.size() >= kMaxStorePath) throw StoreError(kErrOpen);
  return path;
}

int32_t Sum(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

}  // namespace

std::string CMailItemsMap::ProfilePathFor(const std::string& storePath) {
  std::string profile = storePath;
  if (profile.size() >= 3) profile.replace(profile.size() - 3, 3, "def");
  return profile;
}

CMailItemsMap::CMailItemsMap(Unopened) : CPersistMap(Unopened{}) {}

CMailItemsMap::CMailItemsMap(const std::string& path) : CPersistMap(CheckedStorePath(path)) {
  hamThreshold_ = 0;
  spamThreshold_ = kDefaultSpamThreshold;
  std::string profile = ProfilePathFor(path);
  // A store whose own name ends in "def" would be its own profile; it has none.
  if (profile != path && platform::FileExists(profile)) profile_ = std::make_unique<CReadOnlyPersistMap>(profile);
}

CMailItemsMap::~CMailItemsMap() { profile_.reset(); }

bool CMailItemsMap::ProfileActive() const {
  return profile_ && (hamMails_ < hamThreshold_ || spamMails_ < spamThreshold_);
}

int32_t CMailItemsMap::EffectiveHamMails() const {
  return ProfileActive() ? Sum(hamMails_, profile_->HamMails()) : hamMails_;
}

int32_t CMailItemsMap::EffectiveSpamMails() const {
  return ProfileActive() ? Sum(spamMails_, profile_->SpamMails()) : spamMails_;
}

MapItem CMailItemsMap::GetItem(std::string_view key) {
  MapItem own = GetKeyPos(key, false);
  if (!ProfileActive()) return own;
  MapItem theirs = profile_->GetItem(key);
  own.ham = Sum(own.ham, theirs.ham);
  own.spam = Sum(own.spam, theirs.spam);
  return own;
}

}  // namespace kestrelon
