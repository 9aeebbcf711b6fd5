// Thread message queue and events.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/event.h"
#include "platform/thread_queue.h"

using namespace rovik::platform;
using namespace std::chrono_literals;

namespace {

TEST(ThreadQueue, MessagePostedRightAfterCreationIsReceived) {
  for (int round = 0; round < 50; ++round) {
    ThreadQueue queue;
    std::atomic<uint32_t> got{0};
    std::thread worker([&] {
      auto m = queue.Get();
      if (m) got = m->message + static_cast<uint32_t>(m->wParam) + static_cast<uint32_t>(m->lParam);
    });
    ASSERT_TRUE(queue.Post(1000, 20, 3));  // possibly before the worker reached Get()
    worker.join();
    EXPECT_EQ(got.load(), 1023u);
  }
}

TEST(ThreadQueue, OrderTimeoutAndClose) {
  ThreadQueue queue;
  EXPECT_FALSE(queue.GetFor(30ms));
  EXPECT_FALSE(queue.TryGet());
  for (uint32_t i = 0; i < 5; ++i) queue.Post(i);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(queue.Get()->message, i);

  // Close wakes a waiting Get, refuses new posts and still hands out what was queued.
  ThreadQueue idle;
  std::thread waiter([&] { EXPECT_FALSE(idle.Get()); });
  std::this_thread::sleep_for(20ms);
  idle.Close();
  waiter.join();

  queue.Close();
  EXPECT_FALSE(queue.Post(99));
  EXPECT_EQ(queue.Get()->message, 3u);
  auto rest = queue.Drain();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].message, 4u);
  EXPECT_FALSE(queue.Get());
}

TEST(ThreadQueue, ManyPostersNothingLost) {
  ThreadQueue queue;
  constexpr int kPerThread = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) queue.Post(1, static_cast<uintptr_t>(t), i);
    });
  }
  long long sum = 0;
  for (int i = 0; i < 4 * kPerThread; ++i) sum += queue.Get()->lParam;
  for (auto& p : posters) p.join();
  EXPECT_EQ(sum, 4LL * kPerThread * (kPerThread - 1) / 2);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(Event, AutoResetLetsOneWaitThrough) {
  Event e;
  EXPECT_FALSE(e.Wait(10ms));
  e.Set();
  e.Set();  // signals do not add up
  EXPECT_TRUE(e.Wait(0ms));
  EXPECT_FALSE(e.Wait(0ms));

  Event manual(true, true);
  EXPECT_TRUE(manual.Wait(0ms));
  EXPECT_TRUE(manual.Wait(0ms));
  manual.Reset();
  EXPECT_FALSE(manual.Wait(0ms));
}

TEST(Event, WaitAnyReportsFirstInOrderAndConsumesOnlyIt) {
  Event stop, resubscribe, report;
  Event* events[] = {&stop, &resubscribe, &report};
  EXPECT_EQ(WaitAny(events, 20ms), kWaitTimeout);
  report.Set();
  resubscribe.Set();
  EXPECT_EQ(WaitAny(events, 0ms), 1);
  EXPECT_EQ(WaitAny(events, 0ms), 2);
  EXPECT_EQ(WaitAny(events, 0ms), kWaitTimeout);

  // Set from another thread while waiting.
  std::thread setter([&] {
    std::this_thread::sleep_for(30ms);
    stop.Set();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitAny(events, 5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  setter.join();
}

TEST(Event, EachSetWakesExactlyOneOfManyWaiters) {
  Event e;
  std::atomic<int> woke{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { woke += e.Wait(20s) ? 1 : 0; });
  std::this_thread::sleep_for(50ms);
  e.Set();
  e.Set();  // may coalesce only while nobody took the first
  for (int i = 0; i < 250 && woke.load() == 0; ++i) std::this_thread::sleep_for(20ms);
  std::this_thread::sleep_for(100ms);
  int afterTwo = woke.load();
  EXPECT_GE(afterTwo, 1);
  EXPECT_LE(afterTwo, 2);
  for (int expected = afterTwo + 1; expected <= 4; ++expected) {
    e.Set();
    for (int i = 0; i < 250 && woke.load() < expected; ++i) std::this_thread::sleep_for(20ms);
  }
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woke.load(), 4);
}

}  // namespace
