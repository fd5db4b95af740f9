#include "platform/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

TEST(Worker, ResultOfAWorkerThatFinishesInTime) {
  std::optional<int> result = platform::RunWithTimeout<int>([] { return 42; }, 5000);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 42);
  EXPECT_TRUE(platform::WaitForWorkers(5000));
  EXPECT_EQ(platform::LiveWorkers(), 0u);
}

TEST(Worker, AbandonedWorkerHandsNothingBackAndStillEnds) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto ran = std::make_shared<std::atomic<int>>(0);
  std::optional<int> result = platform::RunWithTimeout<int>(
      [release, ran] {
        while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ++*ran;
        return 7;
      },
      50);
  EXPECT_FALSE(result.has_value());
  EXPECT_EQ(platform::LiveWorkers(), 1u);
  *release = true;
  EXPECT_TRUE(platform::WaitForWorkers(5000));
  EXPECT_EQ(*ran, 1);
}

TEST(Worker, RaisingWorkerCountsAsFinishedWithoutResult) {
  EXPECT_EQ(platform::RunOnWorker([] { throw std::runtime_error("boom"); }, 5000),
            platform::WorkerWait::Finished);
  EXPECT_FALSE(platform::RunWithTimeout<int>([]() -> int { throw 1; }, 5000).has_value());
  EXPECT_TRUE(platform::WaitForWorkers(5000));
}

TEST(Worker, ZeroTimeoutStillRunsTheWorkToItsEnd) {
  auto ran = std::make_shared<std::atomic<bool>>(false);
  platform::RunOnWorker([ran] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    *ran = true;
  }, 0);
  EXPECT_TRUE(platform::WaitForWorkers(5000));
  EXPECT_TRUE(*ran);
}

TEST(Worker, ALimitBoundsLiveWorkersAbandonedOnesIncluded) {
  platform::WorkerLimit limit(2);
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto started = std::make_shared<std::atomic<int>>(0);
  auto hang = [release, started] {
    ++*started;
    while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  EXPECT_EQ(platform::RunOnWorker(hang, 10, limit), platform::WorkerWait::TimedOut);
  EXPECT_EQ(platform::RunOnWorker(hang, 10, limit), platform::WorkerWait::TimedOut);
  EXPECT_EQ(platform::RunOnWorker(hang, 10, limit), platform::WorkerWait::NotStarted);
  EXPECT_EQ(limit.Live(), 2u);
  *release = true;
  EXPECT_TRUE(platform::WaitForWorkers(5000));
  EXPECT_EQ(limit.Live(), 0u);
  EXPECT_EQ(platform::RunOnWorker(hang, 5000, limit), platform::WorkerWait::Finished);
  EXPECT_EQ(*started, 3);
  EXPECT_TRUE(platform::WaitForWorkers(5000));
}

}  // namespace
