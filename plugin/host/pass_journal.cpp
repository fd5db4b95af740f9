#include "plugin/host/pass_journal.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kestrelon {

namespace {

// A journal this large is written anew at open when its state takes under a quarter.
constexpr uint64_t kCompactAbove = 64 * 1024;

std::string Encode(const std::string& field) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(field.size());
  for (unsigned char c : field) {
    if (c < 0x21 || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string Record(const std::vector<std::string>& fields) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) record += ' ';
    record += Encode(fields[i]);
  }
  return record + "\r\n";
}

bool ParseNumber(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || n < low || n > high) return false;
  value = n;
  return true;
}

bool IsOneOf(const std::string& field, const char* letters) {
  return field.size() == 1 && field[0] != '\0' && std::string(letters).find(field[0]) != std::string::npos;
}

std::vector<std::string> MailFields(const JournalMail& mail) {
  return {mail.key, mail.date, mail.address, mail.subject};
}

JournalMail MailOf(const std::string& id, const std::vector<std::string>& fields, size_t at) {
  return JournalMail{id, fields[at], fields[at + 1], fields[at + 2], fields[at + 3]};
}

std::vector<std::string> BeginFields(const LearnStep& step) {
  std::vector<std::string> fields = {"B",
                                     step.mail.id,
                                     std::string(1, static_cast<char>(step.op)),
                                     std::to_string(step.hamBefore),
                                     std::to_string(step.spamBefore),
                                     step.record ? "1" : "0",
                                     std::string(1, static_cast<char>(step.followUp))};
  for (std::string& f : MailFields(step.mail)) fields.push_back(std::move(f));
  return fields;
}

std::vector<std::string> CommitFields(const std::string& id, LearnedWay way) {
  return {"C", id, std::string(1, static_cast<char>(way))};
}

std::vector<std::string> OweFields(const OwedDeletion& deletion) {
  std::vector<std::string> fields = {"D", deletion.mail.id, std::string(1, static_cast<char>(deletion.kind))};
  for (std::string& f : MailFields(deletion.mail)) fields.push_back(std::move(f));
  return fields;
}

bool NumericId(const std::string& id, uint64_t& value) {
  if (id.empty() || id.size() > 19 || id.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::strtoull(id.c_str(), nullptr, 10);
  return true;
}

}  // namespace

LearnedWay OutcomeOf(LearnOp op, int32_t ham, int32_t spam, int32_t hamNow, int32_t spamNow) {
  // The store never lets a counter that a swap takes from go below 0.
  auto less = [](int32_t n) { return n > 1 ? n - 1 : 0; };
  switch (op) {
    case LearnOp::kProcess:
      if (hamNow == ham + 1 && spamNow == spam) return LearnedWay::kHam;
      if (hamNow == ham && spamNow == spam + 1) return LearnedWay::kSpam;
      break;
    case LearnOp::kAddHam:
      if (hamNow == ham + 1 && spamNow == spam) return LearnedWay::kHam;
      break;
    case LearnOp::kSwapToSpam:
      if (hamNow == less(ham) && spamNow == spam + 1) return LearnedWay::kSpam;
      break;
    case LearnOp::kSwapToHam:
      if (spamNow == less(spam) && hamNow == ham + 1) return LearnedWay::kHam;
      break;
  }
  return LearnedWay::kNotLearned;
}

PassJournal::PassJournal(const std::string& path, uint64_t highestRecordedId) : path_(path) {
  if (!file_.Open(path, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways))
    throw PassJournalError("cannot open " + path);
  uint64_t size = 0;
  if (!file_.Size(size)) throw PassJournalError("cannot size " + path);
  if (size == 0) {
    if (highestRecordedId != 0) Append(Record({"F", std::to_string(highestRecordedId)}));
    unknownUpTo_ = highestRecordedId;
    return;
  }
  if (size >= std::numeric_limits<size_t>::max() / 2) throw PassJournalError("too large: " + path);
  std::string text(static_cast<size_t>(size), '\0');
  size_t got = 0;
  if (!file_.ReadAt(0, text.data(), text.size(), got) || got != text.size())
    throw PassJournalError("cannot read " + path);
  Load(text);
  if (CompactionDue()) Compact();
}

PassJournal::~PassJournal() {
  try {
    if (file_.IsOpen() && CompactionDue()) Compact();
  } catch (...) {
  }
}

bool PassJournal::CompactionDue() const { return end_ > kCompactAbove && StateRecords().size() * 4 < end_; }

void PassJournal::Load(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) break;  // cut short: written over by the next record
    std::vector<std::string> fields;
    bool sound = true;
    size_t at = pos;
    while (sound && at <= end) {
      size_t space = text.find(' ', at);
      if (space == std::string::npos || space > end) space = end;
      std::string field;
      sound = Decode(text.substr(at, space - at), field);
      fields.push_back(std::move(field));
      at = space + 1;
    }
    // A damaged record is passed over.
    if (sound) Apply(fields);
    ++records_;
    pos = end + 2;
  }
  end_ = pos;
  if (end_ < text.size()) file_.Truncate(end_);  // else the next record writes over it
}

bool PassJournal::Apply(const std::vector<std::string>& f) {
  if (f.empty() || f[0].size() != 1) return false;
  int64_t a = 0, b = 0;
  switch (f[0][0]) {
    case 'F':
      if (f.size() != 2 || !ParseNumber(f[1], 0, std::numeric_limits<int64_t>::max(), a)) return false;
      unknownUpTo_ = static_cast<uint64_t>(a);
      return true;
    case 'S':
      if (f.size() != 2 || !IsOneOf(f[1], "01")) return false;
      scanOpen_ = f[1] == "1";
      return true;
    case 'B': {
      if (f.size() != 11 || f[1].empty() || !IsOneOf(f[2], "PASH") || !IsOneOf(f[5], "01") ||
          !IsOneOf(f[6], "-avmbf") || !ParseNumber(f[3], INT32_MIN, INT32_MAX, a) ||
          !ParseNumber(f[4], INT32_MIN, INT32_MAX, b))
        return false;
      LearnStep step;
      step.mail = MailOf(f[1], f, 7);
      step.op = static_cast<LearnOp>(f[2][0]);
      step.hamBefore = static_cast<int32_t>(a);
      step.spamBefore = static_cast<int32_t>(b);
      step.record = f[5] == "1";
      step.followUp = static_cast<StepFollowUp>(f[6][0]);
      lastStep_ = std::move(step);
      return true;
    }
    case 'C': {
      if (f.size() != 3 || f[1].empty() || !IsOneOf(f[2], "hsn?")) return false;
      LearnedWay way = static_cast<LearnedWay>(f[2][0]);
      // A step that never took effect leaves the mail as it was.
      if (way != LearnedWay::kNotLearned) ways_[f[1]] = way;
      if (lastStep_ && !lastStep_->committed && lastStep_->mail.id == f[1]) {
        lastStep_->committed = true;
        lastStep_->way = way;
      }
      return true;
    }
    case 'D': {
      if (f.size() != 7 || f[1].empty() || !IsOneOf(f[2], "avm")) return false;
      OwedDeletion deletion{MailOf(f[1], f, 3), static_cast<DeletionKind>(f[2][0]), false};
      auto it = std::find_if(owed_.begin(), owed_.end(), [&](const OwedDeletion& d) { return d.mail.id == f[1]; });
      if (it != owed_.end())
        *it = std::move(deletion);
      else
        owed_.push_back(std::move(deletion));
      return true;
    }
    case 'X':
    case 'E': {
      if (f.size() != 2) return false;
      auto it = std::find_if(owed_.begin(), owed_.end(), [&](const OwedDeletion& d) { return d.mail.id == f[1]; });
      if (it == owed_.end()) return true;
      if (f[0][0] == 'X')
        it->deleting = true;
      else
        owed_.erase(it);
      return true;
    }
  }
  return false;
}

void PassJournal::Append(const std::string& records) {
  if (!file_.IsOpen() || !file_.WriteAt(end_, records.data(), records.size()))
    throw PassJournalError("cannot write " + path_);
  end_ += records.size();
}

void PassJournal::Begin(const LearnStep& step) {
  std::vector<std::string> fields = BeginFields(step);
  Append(Record(fields));
  Apply(fields);
  ++records_;
}

void PassJournal::Commit(const std::string& id, LearnedWay way, const OwedDeletion* deletion) {
  std::vector<std::string> commit = CommitFields(id, way);
  std::string records = Record(commit);
  std::vector<std::string> owe;
  if (deletion) {
    owe = OweFields(*deletion);
    records += Record(owe);
  }
  Append(records);
  Apply(commit);
  if (deletion) Apply(owe);
  records_ += deletion ? 2 : 1;
}

void PassJournal::Owe(const OwedDeletion& deletion) {
  std::vector<std::string> fields = OweFields(deletion);
  Append(Record(fields));
  Apply(fields);
  ++records_;
}

void PassJournal::MarkDeleting(const std::string& id) {
  std::vector<std::string> fields = {"X", id};
  Append(Record(fields));
  Apply(fields);
  ++records_;
}

void PassJournal::Settle(const std::string& id) {
  std::vector<std::string> fields = {"E", id};
  Append(Record(fields));
  Apply(fields);
  ++records_;
}

void PassJournal::SetScanOpen(bool open) {
  std::vector<std::string> fields = {"S", open ? "1" : "0"};
  Append(Record(fields));
  Apply(fields);
  ++records_;
}

LearnedWay PassJournal::WayOf(const std::string& id) const {
  auto it = ways_.find(id);
  return it != ways_.end() ? it->second : DefaultWayOf(id);
}

LearnedWay PassJournal::DefaultWayOf(const std::string& id) const {
  uint64_t n = 0;
  if (unknownUpTo_ != 0 && NumericId(id, n) && n <= unknownUpTo_) return LearnedWay::kUnknown;
  return LearnedWay::kHam;
}

// What the file must keep: the ways that differ from what WayOf tells without them, the
// open scan, the last step with its commit, the owed deletions.
std::string PassJournal::StateRecords() const {
  std::string state;
  if (unknownUpTo_ != 0) state += Record({"F", std::to_string(unknownUpTo_)});
  if (scanOpen_) state += Record({"S", "1"});
  for (const auto& [id, way] : ways_)
    if (way != DefaultWayOf(id)) state += Record(CommitFields(id, way));
  if (lastStep_) {
    state += Record(BeginFields(*lastStep_));
    if (lastStep_->committed) state += Record(CommitFields(lastStep_->mail.id, lastStep_->way));
  }
  for (const OwedDeletion& deletion : owed_) {
    state += Record(OweFields(deletion));
    if (deletion.deleting) state += Record({"X", deletion.mail.id});
  }
  return state;
}

// Writes the state into a new file that then takes the journal's place whole; on any
// failure the journal stays as it is.
void PassJournal::Compact() {
  std::string state = StateRecords();
  std::string fresh = path_ + ".new";
  {
    platform::File file;
    bool written = file.Open(fresh, platform::Access::ReadWrite, platform::kShareNone,
                             platform::Disposition::CreateAlways) &&
                   file.WriteAt(0, state.data(), state.size()) && file.Flush();
    file.Close();
    if (!written) {
      platform::RemoveFile(fresh);
      return;
    }
  }
  file_.Close();
  bool replaced = platform::CopyFileReplace(fresh, path_);
  platform::RemoveFile(fresh);
  if (!file_.Open(path_, platform::Access::ReadWrite, platform::kShareRead, platform::Disposition::OpenAlways))
    throw PassJournalError("cannot open " + path_);
  if (replaced) {
    end_ = state.size();
    records_ = 0;
  }
}

}  // namespace kestrelon
