#include "platform/file_fault.h"

#include "platform/file_fault_control.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace platform::file_fault {
namespace {

constexpr uint32_t kMagic = 0x3146464B;  // "KFF1"
constexpr uint32_t kPersistent = 1;
constexpr size_t kNameSize = 100;
constexpr uint64_t kDiskBlock = 4096;

// The control file's layout. Every word is read and written atomically: other modules
// and processes use the same bytes at the same time.
struct Control {
  uint32_t magic;
  uint32_t kinds;
  uint32_t failAt;
  uint32_t flags;
  uint32_t error;
  uint32_t counted;
  uint32_t failed;
  char name[kNameSize];
};

uint32_t Load(uint32_t& word) { return std::atomic_ref<uint32_t>(word).load(std::memory_order_acquire); }
void Store(uint32_t& word, uint32_t value) { std::atomic_ref<uint32_t>(word).store(value, std::memory_order_release); }
uint32_t Increment(uint32_t& word) { return std::atomic_ref<uint32_t>(word).fetch_add(1) + 1; }

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

Control Initial(const Plan& plan) {
  Control c{};
  c.magic = kMagic;
  c.kinds = plan.kinds;
  c.failAt = plan.failAt;
  c.flags = plan.persistent ? kPersistent : 0;
  c.error = static_cast<uint32_t>(plan.error);
  std::strncpy(c.name, plan.name.c_str(), kNameSize - 1);
  return c;
}

Control* Map(const std::string& controlFile, const Plan& plan) {
  Control initial = Initial(plan);
  return static_cast<Control*>(MapControlFile(controlFile, &initial, sizeof initial));
}

Control* FromVariable() {
  Plan plan;
  std::string controlFile;
  std::string value = ReadVariable();
  if (value.empty() || !ParseVariable(value, plan, controlFile)) return nullptr;
  return Map(controlFile, plan);
}

// This module's view of the control file, taken from the variable at the first use.
std::atomic<Control*>& Current() {
  static std::atomic<Control*> current{FromVariable()};
  return current;
}

Control* Active() {
  Control* c = Current().load(std::memory_order_acquire);
  return c && Load(c->magic) == kMagic ? c : nullptr;
}

}  // namespace

bool ParseVariable(const std::string& value, Plan& plan, std::string& controlFile) {
  std::vector<std::string> fields = Split(value, ';');
  if (fields.size() != 4 && fields.size() != 5) return false;
  plan = Plan{};
  plan.kinds = 0;
  static const struct {
    const char* name;
    unsigned kinds;
  } kKinds[] = {{"write", kWrite}, {"flush", kFlush},   {"truncate", kTruncate},
                {"rename", kRename}, {"remove", kRemove}, {"all", kAllKinds}};
  for (const std::string& kind : Split(fields[0], ',')) {
    unsigned found = 0;
    for (const auto& k : kKinds)
      if (kind == k.name) found = k.kinds;
    if (!found) return false;
    plan.kinds |= found;
  }
  std::string at = fields[1];
  if (!at.empty() && at.back() == '+') {
    plan.persistent = true;
    at.pop_back();
  }
  if (at.empty() || at.size() > 9 || at.find_first_not_of("0123456789") != std::string::npos) return false;
  plan.failAt = static_cast<uint32_t>(std::stoul(at));
  if (fields[2] == "ENOSPC") plan.error = Error::NoSpace;
  else if (fields[2] == "EIO") plan.error = Error::Io;
  else if (fields[2] == "EDQUOT") plan.error = Error::Quota;
  else return false;
  controlFile = fields[3];
  if (fields.size() == 5) plan.name = fields[4];
  return !controlFile.empty() && plan.name.size() < kNameSize;
}

bool Attached() { return Active() != nullptr; }

bool Attach(const std::string& controlFile) {
  Current();  // the variable's file, if any, is taken first and then replaced
  WriteVariable("all;0;ENOSPC;" + controlFile);
  Plan nothing;
  Control* c = Map(controlFile, nothing);
  if (!c) {
    WriteVariable("");
    return false;
  }
  if (Control* old = Current().exchange(c)) UnmapControlFile(old, sizeof(Control));
  return true;
}

void Detach() {
  WriteVariable("");
  if (Control* old = Current().exchange(nullptr)) UnmapControlFile(old, sizeof(Control));
}

bool Arm(const Plan& plan) {
  Control* c = Active();
  if (!c || plan.name.size() >= kNameSize) return false;
  Store(c->kinds, 0);  // nothing is counted while the plan changes
  std::atomic_thread_fence(std::memory_order_seq_cst);
  std::memset(c->name, 0, kNameSize);
  std::memcpy(c->name, plan.name.data(), plan.name.size());
  Store(c->failAt, plan.failAt);
  Store(c->flags, plan.persistent ? kPersistent : 0);
  Store(c->error, static_cast<uint32_t>(plan.error));
  Store(c->counted, 0);
  Store(c->failed, 0);
  Store(c->kinds, plan.kinds);
  return true;
}

void Lift() {
  if (Control* c = Active()) Store(c->failAt, 0);
}

uint32_t Counted() {
  Control* c = Active();
  return c ? Load(c->counted) : 0;
}

uint32_t Failed() {
  Control* c = Active();
  return c ? Load(c->failed) : 0;
}

std::optional<Error> Hit(Kind kind, const std::string& path) {
  Control* c = Active();
  if (!c || !(Load(c->kinds) & kind)) return std::nullopt;
  char name[kNameSize];
  std::memcpy(name, c->name, kNameSize);
  name[kNameSize - 1] = '\0';
  if (name[0] && path.find(name) == std::string::npos) return std::nullopt;
  uint32_t n = Increment(c->counted);
  uint32_t at = Load(c->failAt);
  if (at == 0 || n < at || (n > at && !(Load(c->flags) & kPersistent))) return std::nullopt;
  Increment(c->failed);
  uint32_t error = Load(c->error);
  return error == static_cast<uint32_t>(Error::Io)      ? Error::Io
         : error == static_cast<uint32_t>(Error::Quota) ? Error::Quota
                                                        : Error::NoSpace;
}

size_t BytesWrittenBeforeFailing(Error error, uint64_t offset, size_t size) {
  if (error == Error::Io || size == 0) return 0;
  uint64_t boundary = (offset + size - 1) / kDiskBlock * kDiskBlock;
  return boundary > offset ? static_cast<size_t>(boundary - offset) : 0;
}

}  // namespace platform::file_fault
