// The playback ring: whole blocks or nothing, wrap-around, and positions at the exact end.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "player/audio/pcm_ring.h"

using namespace rovik::player;

namespace {

std::vector<uint8_t> Pattern(int n, int seed = 0) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    v[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 7 + seed) & 0xff);
  return v;
}

TEST(PcmRing, ReadsOnlyWholeChunks) {
  PcmRing ring;
  auto block = Pattern(kPcmChunkBytes);
  uint8_t out[kPcmChunkBytes];
  EXPECT_EQ(ring.Write(block.data(), 639), 639);
  EXPECT_EQ(ring.ReadChunk(out), 0) << "639 bytes are not a chunk";
  EXPECT_EQ(ring.fill(), 639);
  EXPECT_EQ(ring.Write(block.data() + 639, 1), 1);
  ASSERT_EQ(ring.ReadChunk(out), kPcmChunkBytes);
  EXPECT_EQ(0, memcmp(out, block.data(), kPcmChunkBytes));
  EXPECT_EQ(ring.fill(), 0);
  EXPECT_EQ(ring.ReadChunk(out), 0);
}

TEST(PcmRing, FullRingRefusesWholeBlocks) {
  PcmRing ring;
  auto all = Pattern(PcmRing::kCapacity);
  EXPECT_EQ(ring.Write(all.data(), PcmRing::kCapacity), PcmRing::kCapacity);
  EXPECT_EQ(ring.fill(), PcmRing::kCapacity);
  EXPECT_EQ(ring.writePosition(), 0) << "a write ending at the exact end wraps to 0";
  uint8_t one = 1;
  EXPECT_EQ(ring.Write(&one, 1), 0);
  EXPECT_EQ(ring.fill(), PcmRing::kCapacity);

  // After one chunk is read, a block of 641 still does not fit; 640 does.
  uint8_t out[kPcmChunkBytes];
  ASSERT_EQ(ring.ReadChunk(out), kPcmChunkBytes);
  auto more = Pattern(kPcmChunkBytes + 1, 3);
  EXPECT_EQ(ring.Write(more.data(), kPcmChunkBytes + 1), 0);
  EXPECT_EQ(ring.fill(), PcmRing::kCapacity - kPcmChunkBytes);
  EXPECT_EQ(ring.Write(more.data(), kPcmChunkBytes), kPcmChunkBytes);
  EXPECT_EQ(ring.fill(), PcmRing::kCapacity);
}

TEST(PcmRing, RefusesNonsenseLengths) {
  PcmRing ring;
  uint8_t b[4] = {};
  EXPECT_EQ(ring.Write(b, -1), 0);
  EXPECT_EQ(ring.Write(nullptr, 4), 0);
  EXPECT_EQ(ring.Write(b, 0x7fffffff), 0);
  EXPECT_EQ(ring.fill(), 0);
  EXPECT_EQ(ring.Write(b, 0), 0);
}

TEST(PcmRing, WrapsAcrossTheEndKeepingTheBytes) {
  PcmRing ring;
  // Bring both positions close to the end: 1638 chunks leave 256 bytes before the end.
  const int chunks = PcmRing::kCapacity / kPcmChunkBytes;  // 1638
  auto filler = Pattern(chunks * kPcmChunkBytes);
  ASSERT_EQ(ring.Write(filler.data(), static_cast<int>(filler.size())), chunks * kPcmChunkBytes);
  uint8_t out[kPcmChunkBytes];
  for (int i = 0; i < chunks; ++i) ASSERT_EQ(ring.ReadChunk(out), kPcmChunkBytes);
  ASSERT_EQ(ring.readPosition(), chunks * kPcmChunkBytes);
  ASSERT_EQ(ring.fill(), 0);

  // A block crossing the end lands partly at the start; the chunk read across the end is whole.
  auto block = Pattern(1000, 11);
  ASSERT_EQ(ring.Write(block.data(), 1000), 1000);
  EXPECT_EQ(ring.writePosition(), 1000 - (PcmRing::kCapacity - chunks * kPcmChunkBytes));
  ASSERT_EQ(ring.ReadChunk(out), kPcmChunkBytes);
  EXPECT_EQ(0, memcmp(out, block.data(), kPcmChunkBytes));
  EXPECT_EQ(ring.readPosition(), kPcmChunkBytes - (PcmRing::kCapacity - chunks * kPcmChunkBytes));
}

TEST(PcmRing, ChunkStreamMeetsTheExactEnd) {
  // 640 does not divide 1 MiB: chunk 8192 is the first one whose write and read end exactly at
  // the end of the buffer.
  PcmRing ring;
  uint8_t out[kPcmChunkBytes];
  for (int i = 0; i < 8191; ++i) {
    auto chunk = Pattern(kPcmChunkBytes, i);
    ASSERT_EQ(ring.Write(chunk.data(), kPcmChunkBytes), kPcmChunkBytes);
    ASSERT_EQ(ring.ReadChunk(out), kPcmChunkBytes);
    ASSERT_EQ(0, memcmp(out, chunk.data(), kPcmChunkBytes)) << "chunk " << i;
  }
  ASSERT_EQ(ring.writePosition(), PcmRing::kCapacity - kPcmChunkBytes);
  ASSERT_EQ(ring.readPosition(), PcmRing::kCapacity - kPcmChunkBytes);
  auto last = Pattern(kPcmChunkBytes, 99);
  ASSERT_EQ(ring.Write(last.data(), kPcmChunkBytes), kPcmChunkBytes);
  EXPECT_EQ(ring.writePosition(), 0);
  ASSERT_EQ(ring.ReadChunk(out), kPcmChunkBytes);
  EXPECT_EQ(ring.readPosition(), 0);
  EXPECT_EQ(0, memcmp(out, last.data(), kPcmChunkBytes));
}

TEST(PcmRing, ResetAndReleaseEmptyIt) {
  PcmRing ring;
  auto block = Pattern(2000);
  ASSERT_EQ(ring.Write(block.data(), 2000), 2000);
  ring.Reset();
  EXPECT_EQ(ring.fill(), 0);
  EXPECT_EQ(ring.readPosition(), 0);
  EXPECT_EQ(ring.writePosition(), 0);
  ring.Release();
  EXPECT_EQ(ring.Write(block.data(), 640), 0) << "a released ring takes nothing";
  uint8_t out[kPcmChunkBytes];
  EXPECT_EQ(ring.ReadChunk(out), 0);
}

}  // namespace
