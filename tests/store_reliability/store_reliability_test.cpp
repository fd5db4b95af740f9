#include "Lexisift/store/locked_mail_items_map.h"
#include "Lexisift/store/mail_items_map.h"
#include "Lexisift/store/shared_index_cache.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/store_reliability/mails.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace kestrelon;
using kestrelon::reliability::Mail;
using kestrelon::reliability::MailToken;

namespace {

std::string WorkerPath() {
  std::string self = platform::CurrentExecutablePath();
  std::string folder = self.substr(0, self.find_last_of("/\\") + 1);
#ifdef _WIN32
  return folder + "store_worker.exe";
#else
  return folder + "store_worker";
#endif
}

class StoreReliability : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (std::filesystem::temp_directory_path() /
            ("kestrelon-rel-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
               .generic_string();
    std::filesystem::create_directories(dir_);
#ifndef _WIN32
    setenv("KESTRELON_REGISTRY", (dir_ + "/registry").c_str(), 1);  // no profile for the workers
#endif
    store_ = dir_ + "/Kestrelon.dat";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  int32_t Check() {
    platform::File f;
    if (!f.Open(store_, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
                platform::Disposition::OpenExisting))
      return -100;
    return CPersistMap::CheckMapFile(f);
  }

  // How many of `worker`'s mails 0.. are fully in the store, and that no later mail
  // but the one after them left more than a part.
  static void ExpectWholeMails(CPersistMap& map, const std::string& worker, int whole, int tried) {
    for (int m = 0; m < tried; ++m) {
      TokenTable mail = Mail(worker, m);
      int present = 0;
      for (int t = 0; t < reliability::kTokensPerMail; ++t) {
        MapItem item = map.GetKeyPos(MailToken(worker, m, t), false);
        uint32_t expected = mail.Find(MailToken(worker, m, t))->count;
        if (item.ham != 0) {
          EXPECT_EQ(static_cast<uint32_t>(item.ham), expected) << worker << " mail " << m;
          ++present;
        }
      }
      if (m < whole) {
        EXPECT_EQ(present, reliability::kTokensPerMail) << worker << " mail " << m;
      } else if (m > whole) {
        EXPECT_EQ(present, 0) << worker << " mail " << m;
      }
    }
  }

  std::string dir_;
  std::string store_;
};

int KillRounds() { return platform::RunningUnderWine() ? 12 : 40; }

// Milliseconds to let a worker run before it is killed.
int KillDelay(std::mt19937& rng) {
  return platform::RunningUnderWine() ? std::uniform_int_distribution<int>(100, 1500)(rng)
                                      : std::uniform_int_distribution<int>(5, 120)(rng);
}

}  // namespace

TEST_F(StoreReliability, ProcessesLearningIntoOneSharedStoreCountEveryMail) {
  const int workers = 4, mails = platform::RunningUnderWine() ? 10 : 25;
  std::vector<std::unique_ptr<platform::ChildProcess>> children;
  for (int w = 0; w < workers; ++w) {
    children.push_back(std::make_unique<platform::ChildProcess>());
    ASSERT_TRUE(children.back()->Start(WorkerPath(), {"shared", store_, "w" + std::to_string(w), std::to_string(mails)}))
        << WorkerPath();
  }
  for (auto& child : children) {
    int code = -2;
    ASSERT_TRUE(child->Wait(code));
    EXPECT_EQ(code, 0);
  }
  EXPECT_GE(Check(), 0);
  CLockedMailItemsMap map(store_);
  EXPECT_EQ(map.HamMails(), workers * mails);
  EXPECT_EQ(map.GetItem("common").ham, workers * mails);
  EXPECT_EQ(map.EnumerateItems(false, ""), 1 + workers * mails * reliability::kTokensPerMail);
  for (int w = 0; w < workers; ++w) ExpectWholeMails(map, "w" + std::to_string(w), mails, mails);
}

TEST_F(StoreReliability, AnOpenSingleWriterKeepsOtherProcessesFromWriting) {
  CMailItemsMap map(store_);
  map.AddItems(Mail("parent", 0), false);
  // Both wait for the store a while, side by side, and then give up.
  platform::ChildProcess single, shared;
  ASSERT_TRUE(single.Start(WorkerPath(), {"single", store_, "child", "1"}));
  ASSERT_TRUE(shared.Start(WorkerPath(), {"shared", store_, "child", "1"}));
  for (auto* child : {&single, &shared}) {
    int code = -2;
    ASSERT_TRUE(child->Wait(code));
    EXPECT_EQ(code, 4);  // busy
  }
  EXPECT_EQ(map.GetItem("common").ham, 1);
  EXPECT_EQ(map.HamMails(), 1);
  EXPECT_FALSE(platform::FileExists(store_ + ".corrupt"));  // a store in use is not damaged
}

// A store that another process keeps for a moment is waited for: the single-writer
// opening (the plug-in's start) and a shared operation both succeed once it is free.
TEST_F(StoreReliability, AStoreKeptForAMomentIsWaitedFor) {
  for (const char* mode : {"shared", "single"}) {
    platform::RemoveFile(store_ + ".held");
    platform::ChildProcess holder;
    ASSERT_TRUE(holder.Start(WorkerPath(), {"hold", mode, store_, "1000"}));
    while (!platform::FileExists(store_ + ".held") && holder.Running())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    { CMailItemsMap map(store_); }
    { CLockedMailItemsMap map(store_); }
    int code = -2;
    ASSERT_TRUE(holder.Wait(code));
    EXPECT_EQ(code, 0) << mode;
  }
}

TEST_F(StoreReliability, KilledSharedStoreUsersLeaveASoundStore) {
  std::mt19937 rng(12345);
  int32_t before = 0;
  for (int round = 0; round < KillRounds(); ++round) {
    std::string worker = "k" + std::to_string(round);
    platform::ChildProcess child;
    ASSERT_TRUE(child.Start(WorkerPath(), {"shared", store_, worker, "100000"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(KillDelay(rng)));
    child.Kill();
    int code = 0;
    child.Wait(code);

    // The next opener checks a file left open, finds it sound and keeps it.
    CLockedMailItemsMap map(store_);
    int32_t learned = map.HamMails() - before;
    ASSERT_GE(learned, 0) << "round " << round << ": the store lost mails";
    int32_t common = map.GetItem("common").ham;
    EXPECT_GE(common, map.HamMails());
    EXPECT_LE(common, map.HamMails() + round + 1);
    ExpectWholeMails(map, worker, learned, learned + 2);
    before = map.HamMails();
  }
  std::printf("killed shared-store workers learned %d mails in %d rounds\n", before, KillRounds());
  EXPECT_GE(Check(), 0);
  EXPECT_EQ(static_cast<unsigned char>(0xFF), [&] {
    platform::File f;
    unsigned char mark = 0;
    size_t got = 0;
    f.Open(store_, platform::Access::Read, platform::kShareRead | platform::kShareWrite,
           platform::Disposition::OpenExisting);
    f.ReadAt(12, &mark, 1, got);
    return mark;
  }());

  // A worker left alone finishes its mails on the same store.
  platform::ChildProcess last;
  ASSERT_TRUE(last.Start(WorkerPath(), {"shared", store_, "final", "5"}));
  int code = -2;
  last.Wait(code);
  EXPECT_EQ(code, 0);
  CLockedMailItemsMap map(store_);
  EXPECT_EQ(map.HamMails(), before + 5);
}

TEST_F(StoreReliability, KilledSingleWriterLeavesAStoreTheNextOpenerCanUse) {
  std::mt19937 rng(54321);
  int32_t before = 0;
  for (int round = 0; round < KillRounds(); ++round) {
    std::string worker = "s" + std::to_string(round);
    platform::ChildProcess child;
    ASSERT_TRUE(child.Start(WorkerPath(), {"single", store_, worker, "100000"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(KillDelay(rng)));
    child.Kill();
    int code = 0;
    child.Wait(code);

    bool corruptBefore = platform::FileExists(store_ + ".corrupt");
    CMailItemsMap map(store_);
    // Only a store killed while its empty table was being written may be moved aside.
    if (!corruptBefore && platform::FileExists(store_ + ".corrupt")) {
      EXPECT_EQ(before, 0) << "round " << round << ": a store with learned mails was moved aside";
    }
    int32_t learned = map.HamMails() - before;
    ASSERT_GE(learned, 0) << "round " << round << ": the store lost mails";
    ExpectWholeMails(map, worker, learned, learned + 2);
    EXPECT_GE(map.EnumerateItems(false, ""), 0);
    before = map.HamMails();
  }
  std::printf("killed single-writer workers learned %d mails in %d rounds\n", before, KillRounds());
  EXPECT_GE(Check(), 0);
}

// The worker ends itself after each write of its updates in turn, from the first to past
// the last: the next opener always finds a sound store holding the mails that were
// counted, whole, and no part of a later one but the mail that was being learned.
TEST_F(StoreReliability, EndingAfterEachWriteOfAnUpdateLeavesWholeMails) {
  const int mails = 2;
  for (const char* mode : {"shared", "single"}) {
    int points = 0;
    for (int at = 1;; ++at) {
      platform::RemoveFile(store_);
      platform::RemoveFile(store_ + ".bak");
      ForgetSharedIndexes();  // a store made anew by hand, which this process cannot see
      platform::ChildProcess child;
      ASSERT_TRUE(child.Start(WorkerPath(), {mode, store_, "p", std::to_string(mails), std::to_string(at)}));
      int code = -2;
      ASSERT_TRUE(child.Wait(code));
      if (code == 0) break;
      ASSERT_EQ(code, 3) << mode << " kill point " << at;
      ++points;
      int32_t learned = 0;
      if (std::string(mode) == "shared") {
        CLockedMailItemsMap map(store_);
        learned = map.HamMails();
        ExpectWholeMails(map, "p", learned, mails);
        EXPECT_GE(map.GetItem("common").ham, learned);
      } else {
        CMailItemsMap map(store_);
        learned = map.HamMails();
        ExpectWholeMails(map, "p", learned, mails);
        EXPECT_FALSE(platform::FileExists(store_ + ".corrupt")) << mode << " kill point " << at;
      }
      EXPECT_LE(learned, mails);
      EXPECT_GE(Check(), 0) << mode << " kill point " << at;
    }
    // Each mail appends its new records, links and counts them, and counts the mail.
    EXPECT_GE(points, 3 * mails) << mode;
  }
}
