#include "Lexisift/server/object_map.h"

#include "Lexisift/engine/locked_mail_filter.h"
#include "Lexisift/engine/mail_filter.h"
#include "Lexisift/server/class_factory.h"
#include "Lexisift/server/log.h"

namespace kestrelon {

const ServedClass* ServedClasses(size_t& count) {
  static ClassFactory<CLockedMailFilter> lockedMailFilter;
  static ClassFactory<CLog> log;
  static ClassFactory<CMailFilter> mailFilter;
  static const ServedClass classes[] = {
      {&CLSID_LockedMailFilter, "Lexisift.LockedMailFilter", "CLockedMailFilter Object", &lockedMailFilter},
      {&CLSID_Log, "Lexisift.Log", "CLog Object", &log},
      {&CLSID_MailFilter, "Lexisift.MailFilter", "CMailFilter Object", &mailFilter},
  };
  count = sizeof classes / sizeof classes[0];
  return classes;
}

}  // namespace kestrelon
