// The shortcut step: links with target and working folder, in the
// product's programs-menu folder, on the desktop and in a folder that does
// not exist yet. The links are also listed for the lnkinfo check.
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "ExitCodes.h"
#include "WineTestSupport.h"

using namespace nvtest;

namespace {

struct TLinkRead {
  bool Loaded = false;
  std::wstring Target;
  std::wstring WorkDir;
  std::wstring IconFile;
  int IconIndex = -1;
};

TLinkRead ReadLink(const std::wstring& path) {
  TLinkRead r;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return r;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
      wchar_t buffer[MAX_PATH] = {};
      r.Loaded = true;
      link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
      r.Target = buffer;
      buffer[0] = 0;
      link->GetWorkingDirectory(buffer, MAX_PATH);
      r.WorkDir = buffer;
      buffer[0] = 0;
      link->GetIconLocation(buffer, MAX_PATH, &r.IconIndex);
      r.IconFile = buffer;
    }
    file->Release();
  }
  link->Release();
  return r;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return std::wstring(path) + L"\\";
}

}  // namespace

TEST(InstallShortcuts, LinksCarryTargetAndWorkingFolderAndTheirFolderIsCreated) {
  const std::wstring root = FreshDir(L"shortcuts");
  const std::wstring app = root + L"app\\";
  const std::wstring id = NewGuid().substr(1, 8);
  const std::wstring title = L"NvOps Links " + id;
  TTestPackage pkg(root, title, app);
  pkg.AddFile(L"{app}", L"Tool.exe", ReadBytes(ProbeExe()));
  pkg.AddFile(L"{app}work", L"keep.txt", "keep");
  pkg.AddShortCut(L"{group}", L"Tool", L"{app}Tool.exe", L"{app}work");
  pkg.AddShortCut(L"{app}links\\deeper", L"Deep", L"{app}\\Tool.exe", L"{app}")->IconFile = L"{app}Tool.exe";
  pkg.AddShortCut(L"{desktop}", L"NvOps Desktop " + id, L"{app}Tool.exe", L"{app}work");
  const std::wstring exe = root + L"NvOpsShortcuts.exe";
  pkg.Build(exe);

  ASSERT_EQ(RunSetup(exe, L"/Silent"), kExitOk);

  struct TExpect {
    std::wstring Link, Target, WorkDir, IconFile;
  };
  // Only the link with an IconFile names an icon (the first of that file).
  const std::vector<TExpect> expected = {
      {ShellFolder(CSIDL_COMMON_PROGRAMS) + title + L"\\Tool.lnk", app + L"Tool.exe", app + L"work", L""},
      {app + L"links\\deeper\\Deep.lnk", app + L"Tool.exe", app, app + L"Tool.exe"},
      {ShellFolder(CSIDL_DESKTOP) + L"NvOps Desktop " + id + L".lnk", app + L"Tool.exe", app + L"work", L""},
  };
  std::wstring list;
  for (const auto& e : expected) {
    SCOPED_TRACE(std::string(e.Link.begin(), e.Link.end()));
    ASSERT_TRUE(PathIsFile(e.Link));
    TLinkRead r = ReadLink(e.Link);
    ASSERT_TRUE(r.Loaded);
    EXPECT_TRUE(_wcsicmp(r.Target.c_str(), e.Target.c_str()) == 0)
        << std::string(r.Target.begin(), r.Target.end());
    EXPECT_EQ(r.WorkDir, e.WorkDir);
    EXPECT_EQ(r.IconFile, e.IconFile);
    if (!e.IconFile.empty()) {
      EXPECT_EQ(r.IconIndex, 0);
    }
    list += e.Link + L"|" + e.Target + L"|" + e.WorkDir + L"\n";
  }
  // For the check with an independent reader of the link format.
  std::string utf8;
  for (wchar_t c : list) utf8 += static_cast<char>(c < 0x80 ? c : '?');
  WriteBytes(root + L"links.txt", utf8);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKey(pkg.Info().GUID));
}
