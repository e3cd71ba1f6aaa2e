// A setup process ended in the middle of its install (TerminateProcess: a
// crash, the task manager, a power cut of the process) leaves its journal
// pending; the next run of the product's setup rolls the leftovers back
// first, then installs, and the machine ends as after a clean install.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>

#include "ExitCodes.h"
#include "InstallJournal.h"
#include "JournalFile.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

const wchar_t kSettling[] = L"上次安装未完成，正在撤销其所做的更改。";

std::wstring CommonPrograms() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path);
  return IncludeTrailingBackslash(path);
}

// Polls when every millisecond while the process runs; ends the process as
// soon as it holds. False when the process ended first.
bool KillWhen(TProcess& setup, const std::function<bool()>& when) {
  while (!setup.WaitFor(0)) {
    if (when()) {
      setup.Kill();
      return true;
    }
    Sleep(1);
  }
  return false;
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The records of an install's journal, apart from the sizes, write times and
// check sums of the files the install makes itself (shortcuts, uninstall
// data): they differ from run to run, and the snapshots compare those files.
std::vector<TJournalEntry> Records(const std::wstring& journal) {
  std::vector<TJournalEntry> entries = ReadJournalFile(journal).Entries;
  for (TJournalEntry& e : entries)
    if (e.Role == TJournalRole::jrUninstallData || e.Role == TJournalRole::jrShortcut) {
      e.Size = 0;
      e.WriteTime = 0;
      e.Checksum = 0;
    }
  return entries;
}

// A product of three files (the middle one large and of incompressible
// data), many registry values and a shortcut, made by the builder.
class TKilledProduct {
public:
  static constexpr int kValues = 3000;
  static constexpr std::size_t kBigSize = 300u << 20;

  TKilledProduct()
      : Root(FreshDir(L"killed")), App(Root + L"app\\"), Exe(Root + L"setup.exe"),
        Pkg(Root, L"NvKilled Product", App) {
    Pkg.AddFile(L"{app}", L"first.txt", "first");
    Pkg.AddFile(L"{app}", L"big.bin", RandomBytes(kBigSize, 11));
    Pkg.AddFile(L"{app}", L"last.txt", "last");
    RegKey = L"Software\\NvKilledTests\\" + Pkg.Info().GUID;
    for (int i = 0; i < kValues; ++i) Pkg.AddReg(rrkCurrentUser, RegKey, L"V" + std::to_wstring(i), L"value");
    Pkg.AddReg(rrkLocalMachine, RegKey, L"Machine", L"7", rvtDWord);
    Pkg.AddShortCut(L"{group}", L"Product", L"{app}last.txt", L"{app}");
    Pkg.Build(Exe);
    Group = CommonPrograms() + Pkg.Info().AppTitle + L"\\";
    // The keys above the product's are there before it: removing an install
    // then gives the machine as it was.
    EnsureKey(HKEY_CURRENT_USER, L"Software\\NvKilledTests");
    EnsureKey(HKEY_LOCAL_MACHINE, L"Software\\NvKilledTests");
    EnsureKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  }
  ~TKilledProduct() {
    Remove();
    DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\NvKilledTests");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\NvKilledTests");
  }

  // The package, its sources and its output are the test's own.
  TMachineSnapshot Take() const { return TakeSnapshot({Root + L"setup.exe*", Root + L"src\\*"}); }
  // Removes an install (no uninstaller comes with the test package).
  void Remove() {
    RemoveTree(App);
    RemoveTree(Group);
    DeleteKeyTree(HKEY_CURRENT_USER, RegKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, RegKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(Pkg.Info().GUID));
  }
  std::wstring PendingJournal() { return PendingJournalPath(Pkg.Info().GUID); }

  std::wstring Root, App, Exe, RegKey, Group;
  TTestPackage Pkg;
};

}  // namespace

TEST(KilledSetup, NextRunRollsTheLeftoversBackThenInstallsAsOnACleanMachine) {
  TKilledProduct p;
  const TMachineSnapshot empty = p.Take();
  ASSERT_EQ(RunWithOutput(p.Exe, L"/Silent").Code, kExitOk);
  const TMachineSnapshot clean = p.Take();
  const std::vector<TJournalEntry> cleanRecords = Records(p.App + L"Uninstall.jnl");
  p.Remove();
  ASSERT_TRUE(Differences(empty, p.Take()).empty()) << "the test could not remove the clean install";

  const std::wstring firstValue = L"V0";
  const struct {
    const char* Point;
    std::function<bool()> When;
    bool Rebuild;  // the next run is a package rebuilt from the same project
  } points[] = {
      {"after the first file", [&] { return PathIsFile(p.App + L"first.txt"); }, false},
      {"in the middle of the large file", [&] { return FileSize(p.App + L"big.bin") > TKilledProduct::kBigSize / 3; },
       false},
      {"in the registry step",
       [&] { return RegString(HKEY_CURRENT_USER, p.RegKey, firstValue) != L"<missing>"; }, true},
  };
  for (const auto& point : points) {
    SCOPED_TRACE(point.Point);
    {
      TProcess setup(L"\"" + p.Exe + L"\" /Silent", L"", p.Exe + L".out.txt");
      ASSERT_TRUE(setup.Started());
      ASSERT_TRUE(KillWhen(setup, point.When)) << "the install ended before the point: " << setup.Output();
    }
    ASSERT_TRUE(PathIsFile(p.PendingJournal())) << "no pending journal after the setup was killed";
    EXPECT_FALSE(ReadJournalFile(p.PendingJournal()).Committed());
    EXPECT_FALSE(Differences(empty, p.Take()).empty()) << "the killed setup left nothing to roll back";
    if (point.Rebuild) p.Pkg.Build(p.Exe);

    const TRunOutput next = RunWithOutput(p.Exe, L"/Silent");
    EXPECT_EQ(next.Code, kExitOk) << next.Output;
    EXPECT_TRUE(Contains(next.Output, WideToAnsi(kSettling))) << "no line says the leftovers are rolled back: "
                                                             << next.Output;
    EXPECT_FALSE(PathIsFile(p.PendingJournal()));
    // The journal beside the uninstaller records the times of the files the
    // install writes itself (its records are compared below); the install
    // date is the day of the run; a shell link holds the times of the
    // folders on its target's path, which a rollback and an install change.
    std::vector<std::wstring> contentMayDiffer = {
        p.App + L"Uninstall.jnl", L"HKLM\\" + UninstallKey(p.Pkg.Info().GUID) + L"\\ \"InstallDate\"",
        p.Group + L"Product.lnk"};
    // A rebuilt package names its payloads anew, and "Uninstall.da1" holds
    // its project.
    if (point.Rebuild) contentMayDiffer.push_back(p.App + L"Uninstall.da1");
    const std::vector<std::string> changes = Differences(clean, p.Take(), contentMayDiffer);
    EXPECT_TRUE(changes.empty()) << "the machine differs from a clean install:" << DifferenceText(changes);
    EXPECT_TRUE(Records(p.App + L"Uninstall.jnl") == cleanRecords)
        << "the journal records other changes than a clean install's";
    p.Remove();
    ASSERT_TRUE(Differences(empty, p.Take()).empty()) << "the test could not remove the install";
  }
}

// A product without files: the leftovers' rollback removes the installation
// folder that the run's folder check found, and the install makes it again.
TEST(KilledSetup, ProductWithoutFilesKilledInTheRegistryStepInstallsOnTheNextRun) {
  const std::wstring root = FreshDir(L"killed-nofiles");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvKilled No Files", app);
  const std::wstring key = L"Software\\NvKilledTests\\" + pkg.Info().GUID;
  for (int i = 0; i < TKilledProduct::kValues; ++i) pkg.AddReg(rrkCurrentUser, key, L"V" + std::to_wstring(i), L"v");
  const std::wstring exe = root + L"setup.exe";
  pkg.Build(exe);
  {
    TProcess setup(L"\"" + exe + L"\" /Silent", L"", exe + L".out.txt");
    ASSERT_TRUE(setup.Started());
    ASSERT_TRUE(KillWhen(setup, [&] { return RegString(HKEY_CURRENT_USER, key, L"V0") != L"<missing>"; }));
  }
  const TRunOutput next = RunWithOutput(exe, L"/Silent");
  EXPECT_EQ(next.Code, kExitOk) << next.Output;
  EXPECT_TRUE(PathIsFile(app + L"Uninstall.da1"));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, key, L"V" + std::to_wstring(TKilledProduct::kValues - 1)), L"v");
  DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\NvKilledTests");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}
