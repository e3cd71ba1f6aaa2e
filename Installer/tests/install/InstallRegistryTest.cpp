// The registry step: both value types, the default value, every root and
// the 32-bit view; a DWORD that is not a number ends the sequence.
#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"

using namespace nvtest;

TEST(InstallRegistry, WritesBothTypesUnderEveryRootInTheThirtyTwoBitView) {
  const std::wstring root = FreshDir(L"registry");
  const std::wstring app = root + L"app\\";
  TTestPackage pkg(root, L"NvOps Registry", app);
  const std::wstring guid = pkg.Info().GUID;
  const std::wstring base = L"Software\\NvOpsTests\\" + guid;
  pkg.AddReg(rrkCurrentUser, base, L"Text", L"文本 {app}readme.txt");
  pkg.AddReg(rrkCurrentUser, base, L"", L"the default value");
  pkg.AddReg(rrkCurrentUser, base, L"Answer", L"42", rvtDWord);
  pkg.AddReg(rrkCurrentUser, base, L"Minus", L"-1", rvtDWord);
  pkg.AddReg(rrkCurrentUser, L"\\" + base + L"\\Lead", L"Slash", L"leading backslash dropped");
  pkg.AddReg(rrkCurrentUser, base + L"\\\\Doubled", L"Path", L"C:\\\\One\\\\Two");
  TSetupReg* unchecked = pkg.AddReg(rrkCurrentUser, base, L"Unchecked", L"written all the same");
  unchecked->Checked = false;
  pkg.AddReg(rrkLocalMachine, base, L"Machine", L"hklm");
  pkg.AddReg(rrkLocalMachine, base, L"MachineNumber", L"7", rvtDWord);
  pkg.AddReg(rrkClassesRoot, L"NvOpsTests." + guid, L"", L"hkcr");
  pkg.AddReg(rrkUsers, L".DEFAULT\\" + base, L"Users", L"hku");
  pkg.AddReg(rrkCurrentConfig, base, L"Config", L"hkcc");
  const std::wstring exe = root + L"NvOpsRegistry.exe";
  pkg.Build(exe);

  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);

  EXPECT_EQ(RegString(HKEY_CURRENT_USER, base, L"Text"), L"文本 " + app + L"readme.txt");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, base, L""), L"the default value");
  EXPECT_EQ(RegDword(HKEY_CURRENT_USER, base, L"Answer"), 42);
  EXPECT_EQ(RegDword(HKEY_CURRENT_USER, base, L"Minus"), 0xFFFFFFFFll);
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, base + L"\\Lead", L"Slash"), L"leading backslash dropped");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, base + L"\\Doubled", L"Path"), L"C:\\One\\Two");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, base, L"Unchecked"), L"written all the same");

  // HKLM\Software as a 32-bit program sees it: Wow6432Node of the 64-bit view.
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, base, L"Machine"), L"hklm");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\NvOpsTests\\" + guid, L"Machine", KEY_WOW64_64KEY),
            L"hklm");
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\NvOpsTests\\" + guid, L"MachineNumber",
                     KEY_WOW64_64KEY),
            7);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, base, KEY_WOW64_64KEY));

  EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, L"NvOpsTests." + guid, L""), L"hkcr");
  EXPECT_EQ(RegString(HKEY_USERS, L".DEFAULT\\" + base, L"Users"), L"hku");
  EXPECT_EQ(RegString(HKEY_CURRENT_CONFIG, base, L"Config"), L"hkcc");

  DeleteKeyTree(HKEY_CURRENT_USER, base);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, base);
  DeleteKeyTree(HKEY_CLASSES_ROOT, L"NvOpsTests." + guid);
  DeleteKeyTree(HKEY_USERS, L".DEFAULT\\" + base);
  DeleteKeyTree(HKEY_CURRENT_CONFIG, base);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(guid));
}

TEST(InstallRegistry, DwordThatIsNotANumberEndsTheSequence) {
  const std::wstring root = FreshDir(L"badnumber");
  const std::wstring app = root + L"app\\";
  // The builder refuses such data: the package is written directly, as an
  // older or foreign builder could have made it.
  TTestPackage pkg(root, L"NvOps Bad Number", app, TPackMode::ResourceWriter);
  const std::wstring base = L"Software\\NvOpsTests\\" + pkg.Info().GUID;
  pkg.AddFile(L"{app}", L"file.txt", "content");
  pkg.AddReg(rrkCurrentUser, base, L"Before", L"1", rvtDWord);
  pkg.AddReg(rrkCurrentUser, base, L"Bad", L"4x", rvtDWord);
  pkg.AddReg(rrkCurrentUser, base, L"After", L"2", rvtDWord);
  pkg.AddShortCut(L"{app}", L"Never", L"{app}file.txt", L"{app}");
  const std::wstring exe = root + L"NvOpsBadNumber.exe";
  pkg.Build(exe);

  // The failed install is rolled back: the file and the value before the
  // bad one go, with the key and the folder the install made.
  EXPECT_EQ(RunSetup(exe, L"/Silent"), kExitInstallFailed);
  EXPECT_FALSE(PathIsDir(app));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base, 0));
  EXPECT_FALSE(PathIsFile(app + L"Never.lnk"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID), KEY_WOW64_32KEY));
  DeleteKeyTree(HKEY_CURRENT_USER, base);
}
