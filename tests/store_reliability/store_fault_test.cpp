// The token store under failing file operations. A batch of real mails is learnt and
// judged through the filter objects, as the plug-in and the command line call them, with
// the store closed, reopened after damage and used as a shared store on the way. Each
// call of the batch is run again for N = 1, 2, 3, ... with the file layer failing the Nth
// of the call's writes, flushes, truncations, renames and removals (a full disk for odd
// N, an I/O error for even N), until N passes the call's last one. After every failure:
// the store passes its check and holds, byte for byte, what it held before the call (a
// failure was reported) or what the call leaves when nothing fails (the call said it
// succeeded), never anything between; once the fault is lifted, the same call succeeds
// and leaves just that.
#include "Lexisift/engine/locked_mail_filter.h"
#include "Lexisift/engine/mail_filter.h"
#include "Lexisift/store/store_recovery.h"
#include "Lexisift/store/store_test_util.h"
#include "platform/file.h"
#include "platform/file_fault.h"
#include "platform/folder_listing.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace kestrelon;
using kestrelon::testing::ReadAll;
using kestrelon::testing::ScratchDir;
using kestrelon::testing::WriteAll;
namespace fault = platform::file_fault;

namespace {

struct SampleMail {
  std::string header, body;
};

// The sample mails of one folder in name order, split at their first empty line.
std::vector<SampleMail> Samples(const std::string& kind) {
  std::string folder = platform::JoinPath(KESTRELON_SAMPLES, kind);
  std::vector<platform::FolderEntry> entries;
  EXPECT_TRUE(platform::ListFolder(folder, entries)) << folder;
  std::vector<std::string> names;
  for (const auto& entry : entries)
    if (!entry.isFolder) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  std::vector<SampleMail> mails;
  for (const auto& name : names) {
    std::string text = ReadAll(platform::JoinPath(folder, name));
    size_t cut = std::min(text.find("\r\n\r\n"), text.size());
    mails.push_back({text.substr(0, cut), text.substr(cut)});
  }
  return mails;
}

// The store's files: content, or nothing for an absent file.
struct Files {
  std::optional<std::string> store, backup, corrupt;
};

// One call of the batch. `opening` calls create the filter and initialise it; `prepare`
// changes the files first (as damage would), and is not one of the counted operations.
struct Step {
  std::string name;
  bool needsFilter;
  bool opening;
  std::function<void()> prepare;
  std::function<HRESULT(VARIANT_BOOL*)> run;
};

class StoreFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    kestrelon::testing::UseScratchRegistry(dir_.File("registry"));
    ASSERT_TRUE(fault::Attach(dir_.File("fault.ctl")));
    ham_ = Samples("ham");
    spam_ = Samples("spam");
    ASSERT_GE(ham_.size(), 10u);
    ASSERT_GE(spam_.size(), 7u);
  }
  void TearDown() override {
    CloseFilter();
    fault::Detach();
  }

  Files Read() const {
    auto read = [](const std::string& path) -> std::optional<std::string> {
      if (!platform::FileExists(path)) return std::nullopt;
      return ReadAll(path);
    };
    return {read(store_), read(store_ + ".bak"), read(store_ + ".corrupt")};
  }
  void Restore(const Files& files) {
    CloseFilter();
    auto put = [](const std::string& path, const std::optional<std::string>& bytes) {
      if (bytes) WriteAll(path, *bytes);
      else platform::RemoveFile(path);
    };
    put(store_, files.store);
    put(store_ + ".bak", files.backup);
    put(store_ + ".corrupt", files.corrupt);
  }

  HRESULT OpenFilter() {
    CloseFilter();
    void* object = nullptr;
    EXPECT_EQ(ComObject::Create<CMailFilter>(nullptr, IID_IMailFilter, &object), S_OK);
    filter_ = static_cast<IMailFilter*>(object);
    platform::ScopedBstr path(store_);
    HRESULT hr = filter_->Init(path.value);
    if (hr != S_OK) CloseFilter();
    return hr;
  }
  void CloseFilter() {
    if (filter_) filter_->Release();
    filter_ = nullptr;
  }

  // The filter members consume their texts: each call gets copies.
  enum class Call { Add, Swap, Delete, Process };
  HRESULT Single(Call call, const SampleMail& mail, VARIANT_BOOL flag, VARIANT_BOOL* verdict) {
    std::string header = mail.header, body = mail.body;
    switch (call) {
      case Call::Add: return filter_->AddMailStream(header.data(), body.data(), flag);
      case Call::Swap: return filter_->SwapMailStream(header.data(), body.data(), flag);
      case Call::Delete: return filter_->DeleteMailStream(header.data(), body.data(), flag);
      case Call::Process: return filter_->ProcessMailStream(header.data(), body.data(), verdict);
    }
    return E_FAIL;
  }
  HRESULT Shared(Call call, const SampleMail& mail, VARIANT_BOOL flag, VARIANT_BOOL* verdict) {
    void* object = nullptr;
    EXPECT_EQ(ComObject::Create<CLockedMailFilter>(nullptr, IID_ILockedMailFilter, &object), S_OK);
    auto* locked = static_cast<ILockedMailFilter*>(object);
    platform::ScopedBstr path(store_), header(mail.header), body(mail.body);
    HRESULT hr = call == Call::Process ? locked->ProcessMailStream(path.value, header.value, body.value, verdict)
                                       : locked->AddMailStream(path.value, header.value, body.value, flag);
    locked->Release();
    return hr;
  }

  static void Damage(const std::string& path) {
    std::string bytes = ReadAll(path);
    kestrelon::testing::PutI32At(bytes, 8 + 13, 0x7FFFFFF0);  // bucket 1's chain leads past the end
    WriteAll(path, bytes);
  }

  std::vector<Step> Batch() {
    std::vector<Step> steps;
    auto open = [&](std::string name, std::function<void()> prepare) {
      steps.push_back({std::move(name), false, true, std::move(prepare), [&](VARIANT_BOOL*) { return OpenFilter(); }});
    };
    auto single = [&](std::string name, Call call, const SampleMail* mail, VARIANT_BOOL flag) {
      steps.push_back({std::move(name), true, false, nullptr,
                       [=, this](VARIANT_BOOL* verdict) { return Single(call, *mail, flag, verdict); }});
    };
    auto close = [&] {
      steps.push_back({"close", true, false, nullptr, [&](VARIANT_BOOL*) {
                         CloseFilter();
                         return S_OK;
                       }});
    };
    open("open a new store", nullptr);
    for (int i = 0; i < 5; ++i) single("learn ham " + std::to_string(i), Call::Add, &ham_[i], VARIANT_FALSE);
    for (int i = 0; i < 3; ++i) single("learn spam " + std::to_string(i), Call::Add, &spam_[i], VARIANT_TRUE);
    single("process ham 5", Call::Process, &ham_[5], VARIANT_FALSE);
    single("process spam 3", Call::Process, &spam_[3], VARIANT_FALSE);
    single("swap spam 3 to spam", Call::Swap, &spam_[3], VARIANT_TRUE);
    single("delete ham 5", Call::Delete, &ham_[5], VARIANT_FALSE);
    close();
    open("open a store ending in an unfinished record", [&] {
      WriteAll(store_, ReadAll(store_) + std::string("\x02\0\0\0\0\0\0\0\0", 9));
    });
    single("learn ham 6", Call::Add, &ham_[6], VARIANT_FALSE);
    close();
    open("open a damaged store with a sound backup", [&] { Damage(store_); });
    single("process spam 4", Call::Process, &spam_[4], VARIANT_FALSE);
    close();
    open("open a damaged store with a damaged backup", [&] {
      Damage(store_);
      Damage(store_ + ".bak");
    });
    single("learn ham 7", Call::Add, &ham_[7], VARIANT_FALSE);
    close();
    steps.push_back({"learn ham 8 in the shared store", false, false, nullptr,
                     [&](VARIANT_BOOL* verdict) { return Shared(Call::Add, ham_[8], VARIANT_FALSE, verdict); }});
    steps.push_back({"process spam 5 in the shared store", false, false, nullptr,
                     [&](VARIANT_BOOL* verdict) { return Shared(Call::Process, spam_[5], VARIANT_FALSE, verdict); }});
    return steps;
  }

  // The store as compared: an empty file counts as none, and byte 12 is left out (the
  // shared store keeps its open mark after a failure, so that the next opener checks).
  static std::optional<std::string> Comparable(const std::optional<std::string>& store) {
    if (!store || store->empty()) return std::nullopt;
    std::string bytes = *store;
    if (bytes.size() > 12) bytes[12] = 0;
    return bytes;
  }

  // "" for equal contents, else where they part (the files are too long to print).
  static std::string Difference(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a == b) return "";
    if (!a || !b) return a ? "the file is gone" : "a file appeared";
    size_t at = std::mismatch(a->begin(), a->begin() + static_cast<std::ptrdiff_t>(std::min(a->size(), b->size())),
                              b->begin())
                    .first -
                a->begin();
    return std::to_string(a->size()) + " bytes against " + std::to_string(b->size()) + ", first difference at " +
           std::to_string(at);
  }

  void ExpectSound(const std::string& path, const std::string& where) {
    if (platform::FileExists(path) && !ReadAll(path).empty()) {
      EXPECT_TRUE(IsSoundMapFile(path)) << where << ": " << path << " fails its check";
    }
  }

  ScratchDir dir_;
  std::string store_ = dir_.File("Kestrelon.dat");
  std::vector<SampleMail> ham_, spam_;
  IMailFilter* filter_ = nullptr;
};

}  // namespace

TEST_F(StoreFaults, EveryFailedFileOperationLeavesTheStoreBeforeOrAfterTheCall) {
  std::vector<Step> steps = Batch();

  // Without faults: the files before and after each call, its verdict, and how many
  // operations it counts.
  struct Reference {
    Files before, after;
    VARIANT_BOOL verdict;
    uint32_t operations;
  };
  std::vector<Reference> reference;
  for (const Step& step : steps) {
    if (step.prepare) step.prepare();
    Reference r{Read(), {}, VARIANT_FALSE, 0};
    fault::Plan counting;
    ASSERT_TRUE(fault::Arm(counting));
    ASSERT_EQ(step.run(&r.verdict), S_OK) << step.name;
    r.operations = fault::Counted();
    std::printf("%-45s %u\n", step.name.c_str(), r.operations);
    r.after = Read();
    reference.push_back(r);
  }
  CloseFilter();

  // Wine runs the loop slowly: there every third N is enough.
  const uint32_t stride = platform::RunningUnderWine() ? 3 : 1;
  uint32_t failures = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    const Reference& r = reference[i];
    for (uint32_t n = 1; n <= r.operations; n += stride) {
      const std::string where = step.name + ", operation " + std::to_string(n);
      Restore(r.before);
      if (step.needsFilter) {
        ASSERT_EQ(OpenFilter(), S_OK) << where;
      }
      fault::Plan plan;
      plan.failAt = n;
      plan.error = n % 2 ? fault::Error::NoSpace : fault::Error::Io;
      ASSERT_TRUE(fault::Arm(plan));
      VARIANT_BOOL verdict = VARIANT_FALSE;
      HRESULT hr = step.run(&verdict);
      fault::Lift();
      ASSERT_EQ(fault::Failed(), 1u) << where;
      ++failures;

      // Sound, unless as it was before the call (which found it damaged).
      Files now = Read();
      if (Comparable(now.store) != Comparable(r.before.store)) ExpectSound(store_, where);
      if (now.backup != r.before.backup) ExpectSound(store_ + ".bak", where);
      if (hr == S_OK) {
        // Nothing reported: the call did all it does, only a backup may be the older one.
        EXPECT_EQ(Difference(Comparable(now.store), Comparable(r.after.store)), "") << where;
        EXPECT_EQ(verdict, r.verdict) << where;
        EXPECT_TRUE(now.backup == r.before.backup || now.backup == r.after.backup) << where;
        EXPECT_EQ(Difference(now.corrupt, r.after.corrupt), "") << where;
        continue;
      }
      // A reported failure changed nothing, except that an opening may have moved the
      // damaged file aside before the new store could be written.
      const bool movedAside = step.opening && !Comparable(now.store) && now.corrupt == r.after.corrupt;
      if (!movedAside) {
        EXPECT_EQ(Difference(Comparable(now.store), Comparable(r.before.store)), "") << where;
      }
      EXPECT_EQ(Difference(now.backup, r.before.backup), "") << where;
      if (!movedAside) {
        EXPECT_EQ(Difference(now.corrupt, r.before.corrupt), "") << where;
      }

      // The same call once the fault is lifted.
      verdict = VARIANT_FALSE;
      EXPECT_EQ(step.run(&verdict), S_OK) << where;
      EXPECT_EQ(verdict, r.verdict) << where;
      now = Read();
      EXPECT_EQ(Difference(Comparable(now.store), Comparable(r.after.store)), "") << where;
      EXPECT_EQ(Difference(now.corrupt, r.after.corrupt), "") << where;
      if (::testing::Test::HasFailure()) return;  // one broken case says enough
    }
    CloseFilter();
  }
  std::printf("%u failed operations over %zu calls\n", failures, steps.size());
  EXPECT_GT(failures, steps.size());
}
