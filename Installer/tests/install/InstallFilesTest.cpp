// The file step: every item written byte for byte with its times, folders
// created, existing files replaced; a missing payload ends the sequence.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

// Near: within tolerance ticks.
::testing::AssertionResult TicksNear(int64_t actual, int64_t expected, int64_t tolerance) {
  if (actual >= expected - tolerance && actual <= expected + tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "time " << actual << " is " << (actual - expected) / TicksPerSecond
                                       << " s away from " << expected;
}

}  // namespace

TEST(InstallFiles, WritesEveryFileWithItsTimesFoldersAndReplacements) {
  const std::wstring root = FreshDir(L"files");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Files", app);
  const double stamp = EncodeDateTime(2021, 3, 4, 5, 6, 7);
  const std::string big = RandomBytes(300000, 7);
  const std::string deep = "deep content\r\n";
  pkg.AddFile(L"{app}", L"big.bin", big, stamp);
  pkg.AddFile(L"{app}", L"empty.txt", "", stamp);
  pkg.AddFile(L"{app}\\new\\level1", L"level2\\deep.txt", deep, stamp);
  pkg.AddFile(L"{app}", L"replaced.txt", "short", stamp);
  TSetupFile* unchecked = pkg.AddFile(L"{app}", L"unchecked.txt", "installed all the same", stamp);
  unchecked->Checked = false;
  unchecked->Condition = L"never";
  WriteBytes(app + L"replaced.txt", std::string(5000, 'x'));
  const std::wstring exe = root + L"NvOpsFiles.exe";
  pkg.Build(exe);

  const int64_t before = NowUtcTicks();
  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  const int64_t after = NowUtcTicks();
  const int64_t slack = 3 * TicksPerSecond;

  const std::string bigRead = ReadBytes(app + L"big.bin");
  EXPECT_EQ(bigRead.size(), big.size());
  EXPECT_TRUE(bigRead == big) << "big.bin differs from its payload";
  TFileTimesRead bigTimes = ReadFileTimes(app + L"big.bin");
  EXPECT_TRUE(TicksNear(bigTimes.LastWrite, DateTimeToUtcTicks(stamp), TicksPerSecond));
  EXPECT_TRUE(TicksNear(bigTimes.LastAccess, (before + after) / 2, (after - before) / 2 + slack));

  ASSERT_TRUE(PathIsFile(app + L"empty.txt"));
  EXPECT_EQ(ReadBytes(app + L"empty.txt"), "");
  // An empty file keeps the time the system gave it, not the item's stamp.
  EXPECT_TRUE(TicksNear(ReadFileTimes(app + L"empty.txt").LastWrite, (before + after) / 2,
                        (after - before) / 2 + slack));

  EXPECT_EQ(ReadBytes(app + L"new\\level1\\level2\\deep.txt"), deep);
  EXPECT_TRUE(TicksNear(ReadFileTimes(app + L"new\\level1\\level2\\deep.txt").LastWrite, DateTimeToUtcTicks(stamp),
                        TicksPerSecond));

  EXPECT_EQ(ReadBytes(app + L"replaced.txt"), "short");

  EXPECT_EQ(ReadBytes(app + L"unchecked.txt"), "installed all the same");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}

TEST(InstallFiles, ZeroLastWriteDateKeepsTheTimeOfWriting) {
  const std::wstring root = FreshDir(L"files0");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Files Zero", app, TPackMode::ResourceWriter);
  pkg.AddFile(L"{app}", L"now.txt", "written now", 0);
  const std::wstring exe = root + L"NvOpsFilesZero.exe";
  pkg.Build(exe);

  const int64_t before = NowUtcTicks();
  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  const int64_t after = NowUtcTicks();
  EXPECT_EQ(ReadBytes(app + L"now.txt"), "written now");
  EXPECT_TRUE(TicksNear(ReadFileTimes(app + L"now.txt").LastWrite, (before + after) / 2,
                        (after - before) / 2 + 3 * TicksPerSecond));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}

TEST(InstallFiles, MissingPayloadEndsTheSequenceBeforeRegistryAndRegistration) {
  const std::wstring root = FreshDir(L"nopayload");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps No Payload", app, TPackMode::ResourceWriter);
  pkg.AddFile(L"{app}", L"first.txt", "first");
  pkg.AddFile(L"{app}", L"ghost.bin", "ghost")->ResID = NewGuid();  // names no resource
  pkg.AddFile(L"{app}", L"last.txt", "last");
  const std::wstring regKey = L"Software\\NvOpsTests\\" + pkg.Info().GUID;
  pkg.AddReg(rrkCurrentUser, regKey, L"After", L"written too early");
  const std::wstring exe = root + L"NvOpsNoPayload.exe";
  pkg.Build(exe);

  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitInstallFailed);
  EXPECT_FALSE(PathIsFile(app + L"first.txt")) << "the failed install was not rolled back";
  EXPECT_FALSE(PathIsFile(app + L"ghost.bin"));
  EXPECT_FALSE(PathIsFile(app + L"last.txt"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, regKey, KEY_WOW64_32KEY));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID), KEY_WOW64_32KEY));
  EXPECT_FALSE(PathIsFile(app + L"Uninstall.da1"));
}
