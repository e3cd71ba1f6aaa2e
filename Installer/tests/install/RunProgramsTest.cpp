// The run entries after a silent install: started in order, the waiting
// one with its command line and working folder, then the setup ends with 0.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"

using namespace nvtest;

TEST(RunPrograms, StartInOrderAndTheWaitingEntryEndsFirst) {
  const std::wstring root = FreshDir(L"run");
  const std::wstring app = root + L"app\\";
  const std::wstring log = root + L"run.log";
  TTestPackage pkg(root, L"NvOps Run", app);
  pkg.AddFile(L"{app}", L"probe.exe", ReadBytes(ProbeExe()));
  pkg.AddFile(L"{app}wd", L"keep.txt", "keep");
  pkg.AddRun(L"{app}probe.exe", L"log " + log + L" first 1500", L"{app}wd", true);
  TSetupRun* second = pkg.AddRun(L"{app}probe.exe", L"log " + log + L" second", L"{app}", false);
  second->Checked = false;  // every entry starts all the same
  const std::wstring exe = root + L"NvOpsRun.exe";
  pkg.Build(exe);

  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  ASSERT_TRUE(WaitForLine(log, L"second end", 20000));
  std::vector<std::wstring> lines = ReadLines(log);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], L"first begin|" + app + L"wd|\"" + app + L"probe.exe\" log " + log + L" first 1500");
  EXPECT_EQ(lines[1], L"first end");
  EXPECT_EQ(lines[2].substr(0, 13), L"second begin|");
  EXPECT_NE(lines[2].find(L"log " + log + L" second"), std::wstring::npos);
  EXPECT_EQ(lines[3], L"second end");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}
