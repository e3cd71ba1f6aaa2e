// Machine snapshots: equal around runs that change nothing (what Wine
// changes by itself is left out), and every kind of change is seen.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "NvSysUtils.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

bool HasLine(const std::vector<std::string>& lines, const std::string& start, const std::string& part) {
  for (const std::string& line : lines)
    if (line.rfind(start, 0) == 0 && line.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(Machine, SnapshotsAroundRunsThatChangeNothingAreEqual) {
  const std::wstring root = FreshDir(L"machine-still");
  const TMachineSnapshot first = TakeSnapshot();
  EXPECT_GT(first.Items.size(), 100u);
  const TMachineSnapshot second = TakeSnapshot();
  EXPECT_TRUE(Differences(first, second).empty()) << DifferenceText(Differences(first, second));

  EXPECT_EQ(RunSetup(ProbeExe(), L"sleep 200"), 0u);
  const TMachineSnapshot afterProbe = TakeSnapshot();
  EXPECT_TRUE(Differences(second, afterProbe).empty()) << DifferenceText(Differences(second, afterProbe));

  // The setup program stopped by its folder check (a folder below a file).
  WriteBytes(root + L"file.txt", "a file");
  TTestPackage pkg(root, L"NvMachine Still", root + L"file.txt\\app\\", TPackMode::ResourceWriter);
  pkg.AddFile(L"{app}", L"a.txt", "a");
  pkg.Build(root + L"setup.exe");
  const TMachineSnapshot beforeSetup = TakeSnapshot({root + L"setup.exe*"});
  EXPECT_EQ(RunSetup(root + L"setup.exe", L"/Silent"), kExitBadFolder);
  const TMachineSnapshot afterSetup = TakeSnapshot({root + L"setup.exe*"});
  EXPECT_TRUE(Differences(beforeSetup, afterSetup).empty()) << DifferenceText(Differences(beforeSetup, afterSetup));
}

TEST(Machine, EveryKindOfChangeIsSeen) {
  const std::wstring root = FreshDir(L"machine-changes");
  const std::wstring key = L"Software\\NvMachineTests";
  WriteBytes(root + L"same-size.txt", "abc");
  WriteBytes(root + L"gone.txt", "gone");
  CreateDirectoryW((root + L"gone-folder").c_str(), nullptr);
  SetRegString(HKEY_CURRENT_USER, key, L"Changed", L"before");
  const TMachineSnapshot before = TakeSnapshot();

  WriteBytes(root + L"same-size.txt", "abd");  // same size, other content
  DeleteFileW((root + L"gone.txt").c_str());
  RemoveDirectoryW((root + L"gone-folder").c_str());
  WriteBytes(root + L"new\\added.txt", "added");
  SetRegString(HKEY_CURRENT_USER, key, L"Changed", L"after");
  SetRegDword(HKEY_CURRENT_USER, key + L"\\Sub", L"Added", 7);
  const std::vector<std::string> changes = Differences(before, TakeSnapshot());
  const std::string text = DifferenceText(changes);
  EXPECT_TRUE(HasLine(changes, "~ ", "same-size.txt")) << text;
  EXPECT_TRUE(HasLine(changes, "- ", "gone.txt")) << text;
  EXPECT_TRUE(HasLine(changes, "- ", "gone-folder")) << text;
  EXPECT_TRUE(HasLine(changes, "+ ", "new\\added.txt")) << text;
  EXPECT_TRUE(HasLine(changes, "~ ", "Changed")) << text;
  EXPECT_TRUE(HasLine(changes, "+ ", "Sub\\")) << text;
  EXPECT_TRUE(HasLine(changes, "+ ", "REG_DWORD 7")) << text;
  // Content not compared where asked: the file is in both, so no change.
  const std::vector<std::string> apart = Differences(before, TakeSnapshot(), {root + L"same-size.txt"});
  EXPECT_FALSE(HasLine(apart, "~ ", "same-size.txt")) << DifferenceText(apart);
  EXPECT_EQ(apart.size(), changes.size() - 1);
  DeleteKeyTree(HKEY_CURRENT_USER, key);
}
