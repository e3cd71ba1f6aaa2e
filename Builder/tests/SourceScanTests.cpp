// File masks, source folders, sorted expansion and file times.
#include <gtest/gtest.h>

#include <ctime>

#include "BuilderText.h"
#include "SourceScan.h"
#include "TestSupport.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

TEST(MatchesMask, WildcardsAndCase) {
  EXPECT_TRUE(MatchesMask(L"App.DLL", L"*.dll"));
  EXPECT_TRUE(MatchesMask(L"a.dll", L"*.DLL"));
  EXPECT_FALSE(MatchesMask(L"a.dll.bak", L"*.dll"));
  EXPECT_TRUE(MatchesMask(L"readme", L"*.*"));
  EXPECT_TRUE(MatchesMask(L"a.b.c", L"*.*"));
  EXPECT_TRUE(MatchesMask(L"data1.bin", L"data?.bin"));
  EXPECT_FALSE(MatchesMask(L"data12.bin", L"data?.bin"));
  EXPECT_TRUE(MatchesMask(L"Setup.exe", L"setup.exe"));
  EXPECT_FALSE(MatchesMask(L"Setup.exe", L"setup.ex"));
  EXPECT_TRUE(MatchesMask(L"abcabd", L"*ab?"));
  EXPECT_TRUE(MatchesMask(L"x", L"*"));
  EXPECT_TRUE(MatchesMask(L"说明.txt", L"*.txt"));
  EXPECT_TRUE(MatchesMask(L"Makefile", L"Makefile.*"));
  EXPECT_FALSE(MatchesMask(L"", L"?"));
}

class SourceScanTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::WriteFile(FDir / "src/b.dll", "bb");
    test::WriteFile(FDir / "src/A.dll", "a");
    test::WriteFile(FDir / "src/readme", "r");
    test::WriteFile(FDir / "src/app.exe", "exe!");
    test::WriteFile(FDir / "src/plugins/z.dll", "zzz");
    test::WriteFile(FDir / "src/plugins/deep/c.dll", "c");
    test::WriteFile(FDir / "src/Lib/x.txt", "x");
    fs::create_directories(FDir / "src/empty");
  }
  std::vector<std::wstring> Rel(const std::vector<TSourceFile>& files) {
    std::vector<std::wstring> out;
    for (const auto& f : files) out.push_back(f.RelPath);
    return out;
  }
  test::TScratch FDir;
};

TEST_F(SourceScanTest, MaskInOneFolder) {
  auto files = ScanSource(FDir / "src", L"*.dll", false);
  EXPECT_EQ(Rel(files), (std::vector<std::wstring>{L"A.dll", L"b.dll"}));
  EXPECT_EQ(files[1].Size, 2u);
  EXPECT_EQ(files[0].FullPath, FDir / "src/A.dll");
}

TEST_F(SourceScanTest, SubFoldersSortedFolderByFolder) {
  auto files = ScanSource(FDir / "src", L"*.*", true);
  EXPECT_EQ(Rel(files), (std::vector<std::wstring>{L"A.dll", L"app.exe", L"b.dll", L"Lib\\x.txt",
                                                   L"plugins\\deep\\c.dll", L"plugins\\z.dll", L"readme"}));
  auto dlls = ScanSource(FDir / "src", L"*.dll", true);
  EXPECT_EQ(Rel(dlls), (std::vector<std::wstring>{L"A.dll", L"b.dll", L"plugins\\deep\\c.dll", L"plugins\\z.dll"}));
}

TEST_F(SourceScanTest, PlainFileNameAndFolderInTheMask) {
  EXPECT_EQ(Rel(ScanSource(FDir / "src", L"APP.EXE", false)), (std::vector<std::wstring>{L"app.exe"}));
  EXPECT_EQ(Rel(ScanSource(FDir / "src", L"plugins\\*.dll", true)),
            (std::vector<std::wstring>{L"plugins\\deep\\c.dll", L"plugins\\z.dll"}));
  EXPECT_EQ(Rel(ScanSource(FDir.Path(), L"src\\plugins\\z.dll", false)),
            (std::vector<std::wstring>{L"src\\plugins\\z.dll"}));
}

TEST_F(SourceScanTest, NoMatchIsAnEmptyResultAndAMissingFolderAnError) {
  EXPECT_TRUE(ScanSource(FDir / "src", L"*.ocx", true).empty());
  EXPECT_TRUE(ScanSource(FDir / "src/empty", L"*.*", false).empty());
  try {
    ScanSource(FDir / "nothere", L"*.*", false);
    FAIL() << "no error";
  } catch (const EBuildError& e) {
    EXPECT_NE(std::string(e.what()).find("nothere"), std::string::npos) << e.what();
  }
}

TEST(DateTime, CivilDatesAsDayCounts) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12, 0, 0, 0), 36526.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 2, 29, 18, 0, 0, 0), 45351.75);
}

TEST_F(SourceScanTest, LastWriteTimeIsLocalTime) {
  // 17 May 2020 10:30:15 local time, whatever the time zone.
  std::tm local{};
  local.tm_year = 120;
  local.tm_mon = 4;
  local.tm_mday = 17;
  local.tm_hour = 10;
  local.tm_min = 30;
  local.tm_sec = 15;
  local.tm_isdst = -1;
  std::time_t t = std::mktime(&local);
  auto sys = std::chrono::system_clock::from_time_t(t);
  fs::last_write_time(FDir / "src/app.exe", std::chrono::file_clock::from_sys(sys));
  auto files = ScanSource(FDir / "src", L"app.exe", false);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NEAR(files[0].LastWriteDate, EncodeDateTime(2020, 5, 17, 10, 30, 15, 0), 1e-8);
}
