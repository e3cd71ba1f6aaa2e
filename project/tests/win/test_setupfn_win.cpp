// The path constants take their folders from the running system.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "NvFileUtils.h"
#include "NvPlatform.h"
#include "NvSysUtils.h"
#include "Setupfn.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 2] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
  return std::wstring(buffer, n);
}

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  return buffer;
}

}  // namespace

TEST(SystemPathConstants, ProgramFilesOfA32BitProcess) {
  std::wstring pf = TSetupfn::ExpandConstants(L"{pf}");
  ASSERT_FALSE(pf.empty());
  EXPECT_NE(pf.back(), L'\\');
  EXPECT_TRUE(SameText(pf, ExcludeTrailingBackslash(Env(NvProgramFilesVar()))));
  // On 64-bit Windows that is the "(x86)" folder.
  if (!Env(L"ProgramFiles(x86)").empty()) {
    EXPECT_NE(pf.find(L"(x86)"), std::wstring::npos);
  }
  EXPECT_TRUE(DirectoryExists(pf));
}

TEST(SystemPathConstants, DesktopAndGroupFromTheShell) {
  std::wstring desktop = TSetupfn::ExpandConstants(L"{desktop}");
  EXPECT_TRUE(SameText(desktop, IncludeTrailingBackslash(ShellFolder(CSIDL_DESKTOP))));
  EXPECT_TRUE(DirectoryExists(desktop));

  std::wstring oldTitle = TSetupfn::ProductTitle();
  TSetupfn::SetProductTitle(L"示例产品");
  std::wstring group = TSetupfn::ExpandConstants(L"{group}\\卸载.lnk");
  TSetupfn::SetProductTitle(oldTitle);
  EXPECT_TRUE(SameText(group, IncludeTrailingBackslash(ShellFolder(CSIDL_COMMON_PROGRAMS)) + L"示例产品\\卸载.lnk"));
}

TEST(SystemPathConstants, SrcExeIsThisProgram) {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(TSetupfn::ExpandConstants(L"\"{srcexe}\""), L"\"" + std::wstring(self, n) + L"\"");
  EXPECT_TRUE(FileExists(TSetupfn::SrcExePath()));
}
