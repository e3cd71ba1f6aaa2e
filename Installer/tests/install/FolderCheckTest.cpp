// The folder check refuses folders no product may own and a folder that holds
// another product's installation: the message, exit code 3 under "/Silent",
// and nothing written.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

std::wstring Known(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return IncludeTrailingBackslash(path);
}

// A one-file product whose installation folder is app (of the product
// sameAs when given); its package.
std::wstring Package(const std::wstring& root, const std::wstring& title, const std::wstring& app,
                     std::wstring* guid = nullptr, const std::wstring& sameAs = L"") {
  TTestPackage pkg(root, title, app, TPackMode::ResourceWriter);
  if (!sameAs.empty()) pkg.Info().GUID = sameAs;
  pkg.AddFile(L"{app}", L"nvfoldercheck.txt", "a file of " + Utf8Encode(title));
  if (guid) *guid = pkg.Info().GUID;
  const std::wstring exe = root + title + L".exe";
  pkg.Build(exe);
  return exe;
}

}  // namespace

TEST(FolderCheck, RefusesFoldersNoProductMayOwn) {
  const std::wstring root = FreshDir(L"foldercheck");
  const std::wstring folders[] = {L"C:\\",
                                  Known(CSIDL_WINDOWS),
                                  Known(CSIDL_SYSTEM),
                                  Known(CSIDL_PROGRAM_FILESX86),
                                  Known(CSIDL_PROFILE),
                                  Known(CSIDL_DESKTOPDIRECTORY),
                                  Known(CSIDL_PERSONAL),
                                  Known(CSIDL_COMMON_PROGRAMS),
                                  L"\\\\server\\share\\"};
  for (const std::wstring& folder : folders) {
    SCOPED_TRACE(Utf8Encode(folder));
    ASSERT_FALSE(folder.empty());
    const TRunOutput run = RunWithOutput(Package(root, L"NvCheck Protected", folder), L"/Silent");
    EXPECT_EQ(run.Code, kExitBadFolder) << run.Output;
    EXPECT_TRUE(Contains(run.Output, WideToAnsi(L"不能安装到此文件夹：" + folder))) << run.Output;
    EXPECT_FALSE(PathIsFile(folder + L"nvfoldercheck.txt"));
  }
}

TEST(FolderCheck, RefusesAFolderHoldingAnotherProductsInstallation) {
  const std::wstring root = FreshDir(L"foldertaken");
  const std::wstring app = root + L"shared\\";
  std::wstring first, second;
  ASSERT_EQ(RunSetup(Package(root, L"NvCheck First", app, &first), L"/Silent"), kExitOk);
  const std::string before = ReadBytes(app + L"Uninstall.da1");
  const TRunOutput run = RunWithOutput(Package(root, L"NvCheck Second", app, &second), L"/Silent");
  EXPECT_EQ(run.Code, kExitBadFolder) << run.Output;
  EXPECT_TRUE(Contains(run.Output, WideToAnsi(L"此文件夹中已安装了另一个产品（NvCheck First）：" + app))) << run.Output;
  EXPECT_EQ(ReadBytes(app + L"Uninstall.da1"), before) << "the first product's uninstall data was overwritten";
  EXPECT_EQ(ReadBytes(app + L"nvfoldercheck.txt"), "a file of NvCheck First");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallKey(second), KEY_WOW64_32KEY));
  // The same product again is an upgrade in place, not another product.
  EXPECT_EQ(RunSetup(Package(root, L"NvCheck First", app, nullptr, first), L"/Silent"), kExitOk);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(first));
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(second));
}
