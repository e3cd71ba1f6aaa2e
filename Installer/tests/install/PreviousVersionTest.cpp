// Before installing: the quiet uninstallers of an earlier installation run
// ("_is1" first, then "_lm"), and running copies of the package's programs
// are ended, never the setup program itself.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"

using namespace nvtest;

TEST(PreviousVersion, QuietUninstallersOfBothKeysRunInOrderBeforeTheFiles) {
  const std::wstring root = FreshDir(L"previous");
  const std::wstring app = root + L"app\\";
  const std::wstring log = root + L"uninstall.log";
  const std::wstring oldUninstaller = root + L"old\\unins000.exe";
  WriteBytes(oldUninstaller, ReadBytes(ProbeExe()));
  TTestPackage pkg(root, L"NvOps Previous", app);
  const std::wstring guid = pkg.Info().GUID;
  SetRegString(HKEY_LOCAL_MACHINE, UninstallKey(guid, L"_is1"), L"QuietUninstallString",
               L"\"" + oldUninstaller + L"\" log " + log + L" is1 500");
  SetRegString(HKEY_LOCAL_MACHINE, UninstallKey(guid, L"_lm"), L"QuietUninstallString",
               L"\"" + oldUninstaller + L"\" log " + log + L" lm");
  SetRegString(HKEY_LOCAL_MACHINE, UninstallKey(guid, L"_lm"), L"InstallLocation", app);
  pkg.AddFile(L"{app}", L"new.txt", "new");
  const std::wstring exe = root + L"NvOpsPrevious.exe";
  pkg.Build(exe);

  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  std::vector<std::wstring> lines = ReadLines(log);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].substr(0, 10), L"is1 begin|");
  EXPECT_EQ(lines[1], L"is1 end");
  EXPECT_EQ(lines[2].substr(0, 9), L"lm begin|");
  EXPECT_EQ(lines[3], L"lm end");
  EXPECT_EQ(ReadBytes(app + L"new.txt"), "new");
  // The "_lm" entry now describes the new installation.
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, UninstallKey(guid), L"QuietUninstallString"),
            L"\"" + app.substr(0, app.size() - 1) + L"\\Uninstall.exe\" /SILENT");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(guid, L"_is1"));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(guid));
}

TEST(PreviousVersion, QuietUninstallStringOfAnotherTypeEndsTheSequence) {
  const std::wstring root = FreshDir(L"previousbad");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Previous Bad", app);
  const std::wstring guid = pkg.Info().GUID;
  SetRegDword(HKEY_LOCAL_MACHINE, UninstallKey(guid, L"_is1"), L"QuietUninstallString", 5);
  pkg.AddFile(L"{app}", L"new.txt", "new");
  const std::wstring exe = root + L"NvOpsPreviousBad.exe";
  pkg.Build(exe);

  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitInstallFailed);
  EXPECT_FALSE(PathIsFile(app + L"new.txt"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(guid), KEY_WOW64_32KEY));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(guid, L"_is1"));
}

TEST(StopRunningPrograms, EndsOnlyTheRunningProgramsItsFilesReplace) {
  const std::wstring root = FreshDir(L"running");
  const std::wstring app = root + L"app\\";
  const std::string probe = ReadBytes(ProbeExe());
  // Running from the files the install replaces: ended. The same names run
  // from another folder, the setup program itself and a program the package
  // does not carry: left alone.
  const std::wstring elsewhere = root + L"elsewhere\\";
  for (const wchar_t* name : {L"NvOpsVictim.exe", L"NvOpsBystander.exe"}) WriteBytes(elsewhere + name, probe);
  WriteBytes(app + L"bin\\NvOpsVictim.EXE", probe);
  WriteBytes(app + L"Nv Ops Spaced.exe", probe);
  TProcess victim(L"\"" + app + L"bin\\nvopsvictim.exe\" sleep 120000");
  TProcess spaced(L"\"" + app + L"Nv Ops Spaced.exe\" sleep 120000");
  TProcess sameName(L"\"" + elsewhere + L"NvOpsVictim.exe\" sleep 120000");
  TProcess bystander(L"\"" + elsewhere + L"NvOpsBystander.exe\" sleep 120000");
  ASSERT_TRUE(victim.Started() && spaced.Started() && sameName.Started() && bystander.Started());

  TTestPackage pkg(root, L"NvOps Running", app);
  pkg.AddFile(L"{app}", L"bin\\NvOpsVictim.EXE", probe);
  pkg.AddFile(L"{app}", L"Nv Ops Spaced.exe", probe);
  pkg.AddFile(L"{app}", L"nvopsself.exe", probe);
  pkg.AddFile(L"{app}", L"NvOpsBystander.txt", "not a program");
  const std::wstring exe = root + L"NvOpsSelf.exe";
  pkg.Build(exe);

  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitOk);
  EXPECT_TRUE(victim.WaitFor(10000)) << "NvOpsVictim.exe still runs";
  EXPECT_TRUE(spaced.WaitFor(10000)) << "Nv Ops Spaced.exe still runs";
  EXPECT_FALSE(sameName.WaitFor(0)) << "a program of the same name in another folder was ended";
  EXPECT_FALSE(bystander.WaitFor(0)) << "a program the package does not carry was ended";
  EXPECT_EQ(ReadBytes(app + L"bin\\NvOpsVictim.EXE").size(), probe.size());
  sameName.Kill();
  bystander.Kill();
  victim.Kill();
  spaced.Kill();
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}
