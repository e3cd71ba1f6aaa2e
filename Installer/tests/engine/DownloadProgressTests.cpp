// The detail line of the online download: sizes, the line for a known and an
// unknown size, the retry wait, and a rate that is measured over the recent
// past and shown a few times a second.
#include <gtest/gtest.h>

#include "DownloadProgress.h"

TEST(DownloadProgress, SizesAreShownInTheirUnit) {
  const struct {
    int64_t Bytes;
    const wchar_t* Text;
  } cases[] = {{0, L"0 B"},
               {1023, L"1023 B"},
               {1024, L"1.0 KB"},
               {1536, L"1.5 KB"},
               {1024 * 1024 - 1, L"1024.0 KB"},
               {1024 * 1024, L"1.0 MB"},
               {int64_t{126353408}, L"120.5 MB"},
               {int64_t{768} << 20, L"768.0 MB"},
               {int64_t{1} << 30, L"1.00 GB"},
               {-5, L"0 B"}};
  for (const auto& c : cases) EXPECT_EQ(DownloadSizeText(c.Bytes), c.Text) << c.Bytes;
}

TEST(DownloadProgress, DetailLineForAKnownAndAnUnknownSize) {
  const int64_t mb = 1 << 20;
  EXPECT_EQ(DownloadDetailText(int64_t{126353408}, 300 * mb, 2.4 * mb), L"已下载 120.5 MB / 300.0 MB（2.4 MB/s）");
  // Before a rate is measured, and without a declared length.
  EXPECT_EQ(DownloadDetailText(512 * 1024, 300 * mb, -1), L"已下载 512.0 KB / 300.0 MB");
  EXPECT_EQ(DownloadDetailText(5 * mb, -1, 800 * 1024), L"已下载 5.0 MB（800.0 KB/s）");
  EXPECT_EQ(DownloadDetailText(0, -1, -1), L"已下载 0 B");
  EXPECT_EQ(DownloadRetryText(2000), L"连接中断，2 秒后继续下载……");
  EXPECT_EQ(DownloadRetryText(7001), L"连接中断，8 秒后继续下载……");
}

TEST(DownloadProgress, LineIsDueAFewTimesASecondAndTheRateFollowsTheRecentPast) {
  TDownloadMeter meter;
  meter.Begin(1000, 0);
  EXPECT_TRUE(meter.Sample(1001, 10));   // the first sample shows at once
  EXPECT_FALSE(meter.Sample(1100, 20));  // network reads in between do not
  EXPECT_FALSE(meter.Sample(1250, 30));
  EXPECT_LT(meter.Rate(), 0) << "no rate before half a second";
  EXPECT_TRUE(meter.Sample(1251, 40));
  // 1 MB/s for four seconds, then 4 MB/s: the rate follows within the window.
  int64_t bytes = 40;
  uint64_t now = 1251;
  for (int i = 0; i < 16; ++i) {
    now += 250;
    bytes += 250 * 1000;
    EXPECT_TRUE(meter.Sample(now, bytes));
  }
  EXPECT_NEAR(meter.Rate(), 1e6, 1e4);
  for (int i = 0; i < 16; ++i) {
    now += 250;
    bytes += 1000 * 1000;
    meter.Sample(now, bytes);
  }
  EXPECT_NEAR(meter.Rate(), 4e6, 4e4);
  // A resumption measures afresh from the bytes already in the file.
  meter.Begin(now, bytes);
  EXPECT_LT(meter.Rate(), 0);
  EXPECT_TRUE(meter.Sample(now + 1, bytes + 1));
}
