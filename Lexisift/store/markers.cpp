#include "Lexisift/store/markers.h"

#include "Lexisift/store/locked_mail_items_map.h"

namespace kestrelon {

std::string MarkerKey(std::string_view identifier) {
  if (identifier.size() > kMaxMarkerIdLength) throw StoreError(kErrKeyLength);
  return "M*" + std::string(identifier);
}

void WriteMark(const std::string& storePath, std::string_view identifier, int32_t mark) {
  MapItem item = MapItem::FromKey(MarkerKey(identifier));
  item.ham = mark == kMarkHam ? 1 : 0;
  item.spam = mark == kMarkSpam ? 1 : 0;
  CLockedMailItemsMap store(storePath);
  store.SetItem(item);
}

int32_t ReadMark(const std::string& storePath, std::string_view identifier) {
  std::string key = MarkerKey(identifier);
  MapItem item;
  {
    CLockedMailItemsMap store(storePath);
    item = store.GetItem(key);
  }
  if (item.ham == 0 && item.spam > 0) return kMarkSpam;
  if (item.ham > 0 && item.spam == 0) return kMarkHam;
  return kMarkNone;
}

}  // namespace kestrelon
