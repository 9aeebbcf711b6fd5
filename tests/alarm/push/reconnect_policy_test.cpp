// The waits before trying again: full jitter under a doubling bound, a floor after a takeover,
// and a crowd that lost the service together spread over the first wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "alarm/push/reconnect_policy.h"

using namespace rovik::alarm;

namespace {

using namespace std::chrono_literals;
using Clock = Backoff::Clock;

int64_t WaitMs(const Backoff& b, Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(b.DueAt() - t0).count();
}

TEST(Backoff, WaitsLieUnderADoublingBoundUpToTheCapAndStartOverAfterReset) {
  // The source answers with its bound: the longest wait each step allows.
  Backoff longest({5s, 30s}, [](int64_t bound) { return bound; });
  const Clock::time_point t0{};
  const int64_t expected[] = {5000, 10000, 20000, 30000, 30000};
  for (int64_t bound : expected) {
    longest.Failed(t0);
    EXPECT_EQ(WaitMs(longest, t0), bound);
    EXPECT_FALSE(longest.Due(t0));
  }
  longest.Reset();
  EXPECT_TRUE(longest.Due(t0));
  longest.Failed(t0, 15s);  // a takeover: at least the floor
  EXPECT_EQ(WaitMs(longest, t0), 15000);

  Backoff shortest({5s, 30s}, [](int64_t) { return 0; });
  shortest.Failed(t0, 15s);
  EXPECT_EQ(WaitMs(shortest, t0), 15000);
}

TEST(Backoff, ACrowdIsSpreadOverTheFirstWait) {
  constexpr int kMonitors = 50;
  std::vector<int64_t> waits;
  for (int i = 0; i < kMonitors; ++i) {
    Backoff b({5s, 30s}, MakeJitterSource(1000 + static_cast<uint64_t>(i)));
    b.Failed({});
    waits.push_back(WaitMs(b, {}));
    EXPECT_GE(waits.back(), 0);
    EXPECT_LE(waits.back(), 5000);
  }
  std::sort(waits.begin(), waits.end());
  int peak = 0;  // the most first retries in any half second
  for (std::size_t i = 0; i < waits.size(); ++i) {
    const auto end = std::upper_bound(waits.begin(), waits.end(), waits[i] + 500);
    peak = std::max(peak, static_cast<int>(end - (waits.begin() + static_cast<long>(i))));
  }
  EXPECT_LE(peak, kMonitors / 4);
  // The same seed gives the same waits.
  Backoff a({5s, 30s}, MakeJitterSource(42)), b({5s, 30s}, MakeJitterSource(42));
  a.Failed({});
  b.Failed({});
  EXPECT_EQ(a.DueAt(), b.DueAt());
}

}  // namespace
