// Progress output: the bar text, plain lines, quiet.
#include <gtest/gtest.h>

#include <cstdio>

#include "Progress.h"
#include "TestSupport.h"

using namespace nvbuilder;

using nvbuilder::test::ReadBack;

TEST(Progress, BarShowsFilesBytesAndRate) {
  std::string bar = TProgress::BarText(5, 10, 50 * 1024 * 1024, 100 * 1024 * 1024, 2.0, 20);
  EXPECT_EQ(bar, "[##########----------]  50% 5/10 files, 50.0 MB/100.0 MB, 25.0 MB/s");
  EXPECT_EQ(TProgress::BarText(0, 0, 0, 0, 0, 4), "[####] 100% 0/0 files, 0 B/0 B, 0 B/s");
  EXPECT_EQ(TProgress::SizeText(1536), "1.5 KB");
}

TEST(Progress, LinesModeWritesOneLinePerTenthAndASummary) {
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  {
    TProgress p(TProgressMode::Lines, f, 100, 100000);
    for (int i = 0; i < 100; ++i) p.FileDone(1000);
    p.Finish(5000);
  }
  std::string text = ReadBack(f);
  std::fclose(f);
  int lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 11) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find("packing: 100% 100/100 files"), std::string::npos) << text;
  EXPECT_NE(text.find("packed 100 files, 97.7 KB into 4.9 KB"), std::string::npos) << text;
}

TEST(Progress, QuietWritesNothing) {
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  TProgress p(TProgressMode::Quiet, f, 3, 30);
  p.FileDone(10);
  p.Finish(3);
  EXPECT_EQ(ReadBack(f), "");
  std::fclose(f);
  EXPECT_EQ(DetectProgressMode(stdout, true), TProgressMode::Quiet);
}

TEST(Progress, BarModeRedrawsInPlace) {
  std::FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  TProgress p(TProgressMode::Bar, f, 2, 20);
  p.FileDone(10);
  p.FileDone(10);
  p.Finish(4);
  std::string text = ReadBack(f);
  std::fclose(f);
  EXPECT_EQ(text.front(), '\r');
  EXPECT_NE(text.find("100% 2/2 files"), std::string::npos) << text;
}
