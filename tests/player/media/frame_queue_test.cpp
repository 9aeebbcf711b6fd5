// The input queue's rules: nothing before the first key frame, a key frame behind more than ten
// waiting frames flushes them, every frame is a private copy.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "player/media/frame_queue.h"

using rovik::player::FrameQueue;
using rovik::player::QueuedFrame;

namespace {

bool PushByte(FrameQueue& q, uint8_t value, int32_t key) {
  return q.Push(&value, 1, key, value, 0, 0);
}

std::vector<uint8_t> DrainValues(FrameQueue& q) {
  std::vector<uint8_t> values;
  QueuedFrame f;
  while (q.Pop(f)) {
    values.push_back(f.bytes.at(0));
  }
  return values;
}

}  // namespace

TEST(FrameQueue, DropsEverythingBeforeTheFirstKeyFrameThenAcceptsAll) {
  FrameQueue q;
  EXPECT_TRUE(q.WaitingForKey());
  EXPECT_FALSE(PushByte(q, 1, 0));
  EXPECT_FALSE(PushByte(q, 2, 0));
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_TRUE(PushByte(q, 3, 1));
  EXPECT_FALSE(q.WaitingForKey());
  EXPECT_TRUE(PushByte(q, 4, 0));
  q.Clear();
  // Clearing does not start the wait again.
  EXPECT_TRUE(PushByte(q, 5, 0));
  EXPECT_EQ(DrainValues(q), (std::vector<uint8_t>{5}));
}

TEST(FrameQueue, KeyFrameBehindMoreThanTenFlushesThem) {
  // 1 key + 11 others = 12 waiting: the next key frame discards all twelve.
  FrameQueue q;
  PushByte(q, 0, 1);
  for (uint8_t i = 1; i < 12; ++i) {
    PushByte(q, i, 0);
  }
  ASSERT_EQ(q.Count(), 12u);
  PushByte(q, 99, 1);
  EXPECT_EQ(DrainValues(q), (std::vector<uint8_t>{99}));
}

TEST(FrameQueue, KeyFrameBehindTenOrElevenKeepsOrFlushesAtTheBoundary) {
  FrameQueue ten;
  PushByte(ten, 0, 1);
  for (uint8_t i = 1; i < 10; ++i) {
    PushByte(ten, i, 0);
  }
  PushByte(ten, 99, 1);
  EXPECT_EQ(ten.Count(), 11u) << "ten waiting: nothing discarded";

  FrameQueue eleven;
  for (uint8_t i = 0; i < 11; ++i) {
    PushByte(eleven, i, 1);
  }
  PushByte(eleven, 99, 1);
  EXPECT_EQ(DrainValues(eleven), (std::vector<uint8_t>{99}));
}

TEST(FrameQueue, AllKeyFramesNeverHoldMoreThanEleven) {
  FrameQueue q;
  for (int i = 0; i < 100; ++i) {
    PushByte(q, static_cast<uint8_t>(i), 1);
    EXPECT_LE(q.Count(), 11u);
  }
}

TEST(FrameQueue, KeepsItsOwnCopyAndWhatTravelsWithIt) {
  FrameQueue q;
  std::vector<uint8_t> bytes = {1, 2, 3, 4};
  ASSERT_TRUE(q.Push(bytes.data(), 4, 1, 0xDEADBEEF, 640, 480));
  bytes.assign(4, 0);
  QueuedFrame f;
  ASSERT_TRUE(q.Pop(f));
  EXPECT_EQ(f.bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(f.length(), 4);
  EXPECT_EQ(f.keyFlag, 1);
  EXPECT_EQ(f.frameValue, 0xDEADBEEFu);
  EXPECT_EQ(f.width, 640);
  EXPECT_EQ(f.height, 480);
  EXPECT_FALSE(q.Pop(f));
}

TEST(FrameQueue, AConsumerKeepingItsFrameGetsTheCopiesInBuffersItHandedBack) {
  // Frames of a stream shrinking by a byte, each taken into the same QueuedFrame: from the third
  // on, every copy lands in a buffer of an earlier, larger frame (a fresh copy would be exactly
  // its frame's size). A buffer larger than kMostSpareBytes is freed rather than kept.
  FrameQueue q;
  std::vector<uint8_t> bytes(4000, 7);
  QueuedFrame f;
  for (int i = 0; i < 8; ++i) {
    bytes[0] = static_cast<uint8_t>(i);
    ASSERT_TRUE(q.Push(bytes.data(), static_cast<int32_t>(bytes.size()) - i, 1, 0, 0, 0));
    ASSERT_TRUE(q.Pop(f));
    ASSERT_EQ(f.bytes.size(), bytes.size() - i);
    ASSERT_EQ(f.bytes[0], i);
    if (i >= 2) {
      EXPECT_GT(f.bytes.capacity(), f.bytes.size()) << "frame " << i << " got a buffer of its own";
    }
  }
  std::vector<uint8_t> large(FrameQueue::kMostSpareBytes + 1, 1);
  ASSERT_TRUE(q.Push(large.data(), static_cast<int32_t>(large.size()), 1, 0, 0, 0));
  ASSERT_TRUE(q.Pop(f));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(q.Push(bytes.data(), 10, 1, 0, 0, 0));
    ASSERT_TRUE(q.Pop(f));
    EXPECT_LE(f.bytes.capacity(), FrameQueue::kMostSpareBytes);
  }
  EXPECT_EQ(f.bytes, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10));
}

TEST(FrameQueue, RefusesInputThatMustNotReachACopy) {
  FrameQueue q;
  uint8_t b = 7;
  EXPECT_FALSE(q.Push(&b, -1, 1, 0, 0, 0));
  EXPECT_FALSE(q.Push(nullptr, 10, 1, 0, 0, 0));
  EXPECT_FALSE(q.Push(&b, 1, 2, 0, 0, 0));
  EXPECT_TRUE(q.WaitingForKey()) << "a refused key frame does not end the wait";
  EXPECT_TRUE(q.Push(nullptr, 0, 1, 0, 0, 0)) << "an empty frame is a frame";
}

TEST(FrameQueue, PopWaitReturnsOnArrivalAndOnWake) {
  FrameQueue q;
  QueuedFrame f;
  const auto start = std::chrono::steady_clock::now();
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PushByte(q, 42, 1);
  });
  EXPECT_TRUE(q.PopWait(f, std::chrono::seconds(10)));
  producer.join();
  EXPECT_EQ(f.bytes.at(0), 42);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  std::atomic<bool> woken{false};
  std::thread waker([&] {
    while (!woken.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      q.Wake();
    }
  });
  EXPECT_FALSE(q.PopWait(f, std::chrono::seconds(10)));
  woken.store(true);
  waker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(FrameQueue, HardLimitSkipsToTheNextKeyFrameAndCountsWhatItDrops) {
  // One key frame in 250 and a consumer that has stalled: the key-frame rule never fires.
  FrameQueue q;
  int pushed = 0;
  ASSERT_TRUE(PushByte(q, 0, 1));
  ++pushed;
  for (int i = 1; i < 249; ++i, ++pushed) {
    PushByte(q, static_cast<uint8_t>(i), 0);
    ASSERT_LE(q.Count(), FrameQueue::kMaxFrames);
  }
  EXPECT_TRUE(q.WaitingForKey()) << "what follows needs the frames that were dropped";
  EXPECT_FALSE(PushByte(q, 249, 0));
  ++pushed;
  EXPECT_EQ(q.Dropped() + q.Count(), static_cast<uint64_t>(pushed)) << "every lost frame counted";
  ASSERT_TRUE(PushByte(q, 250, 1));
  ASSERT_TRUE(PushByte(q, 251, 0));
  EXPECT_EQ(DrainValues(q), (std::vector<uint8_t>{250, 251}));
  EXPECT_EQ(q.Dropped(), static_cast<uint64_t>(pushed));
}

TEST(FrameQueue, HardLimitHoldsForBytesToo) {
  FrameQueue q;
  const std::vector<uint8_t> big(FrameQueue::kMaxBytes / 4, 0x55);
  for (int i = 0; i < 10; ++i) {
    q.Push(big.data(), static_cast<int32_t>(big.size()), i == 0 ? 1 : 0, 0, 0, 0);
    ASSERT_LE(q.Bytes(), FrameQueue::kMaxBytes);
  }
  EXPECT_GT(q.Dropped(), 0u);
  // A key frame that would pass the limit is kept; what waited before it goes.
  ASSERT_TRUE(q.Push(big.data(), static_cast<int32_t>(big.size()), 1, 7, 0, 0));
  ASSERT_TRUE(q.Push(big.data(), static_cast<int32_t>(big.size()), 0, 8, 0, 0));
  ASSERT_TRUE(q.Push(big.data(), static_cast<int32_t>(big.size()), 0, 9, 0, 0));
  ASSERT_TRUE(q.Push(big.data(), static_cast<int32_t>(big.size()), 0, 10, 0, 0));
  EXPECT_EQ(q.Bytes(), FrameQueue::kMaxBytes) << "the limit itself is reached, not passed";
  ASSERT_TRUE(q.Push(big.data(), static_cast<int32_t>(big.size()), 1, 11, 0, 0));
  EXPECT_EQ(q.Count(), 1u);
  QueuedFrame f;
  ASSERT_TRUE(q.Pop(f));
  EXPECT_EQ(f.frameValue, 11u);
  EXPECT_EQ(q.Bytes(), 0u);
}
