// The shell links that the project lists.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvComPtr.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "SetupProject.h"
#include "InstallChanges.h"
#include "InstallLocation.h"
#include "Setupfn.h"

namespace {

[[noreturn]] void RaiseComError(const wchar_t* what, HRESULT hr) {
  throw EOSError(Format(L"%s failed (HRESULT 0x%s)", {std::wstring(what), IntToHex(static_cast<uint32_t>(hr), 8)}));
}

}  // namespace

void TInstallEngine::CreateShortcuts() {
  FHost.SetDetail(L"正在创建快捷方式......");
  TSetupShortCutList* links = FScript->ShortCutList();
  for (int i = 0; i < links->Count(); ++i) {
    const TSetupShortCut* item = links->Items(i);
    FHost.StepProgress();
    const std::wstring dstFile = TSetupfn::ExpandConstants(item->DstFile);
    const std::wstring workDir = TSetupfn::ExpandConstants(item->WorkDir);
    const std::wstring iconFile = TSetupfn::ExpandConstants(item->IconFile);
    const std::wstring linkPath = ShortcutTarget(*item);

    TComPtr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.OutVoid());
    if (FAILED(hr)) RaiseComError(L"Creating the shell link object", hr);
    TComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, file.OutVoid());
    if (FAILED(hr)) RaiseComError(L"Querying IPersistFile of the shell link", hr);
    link->SetPath(dstFile.c_str());
    link->SetWorkingDirectory(workDir.c_str());
    // The first icon of IconFile; without one the link shows its target's icon.
    if (!iconFile.empty()) link->SetIconLocation(iconFile.c_str(), 0);

    // The link's folder ({group} above all) is the product's own when the
    // install makes it. A folder that cannot be made leaves the save to fail.
    TInstallChanges& changes = Changes();
    changes.CreateFolders(ExtractFilePath(linkPath));
    // A link that cannot be saved fails the install: a skipped one would
    // leave an install reported whole without it.
    const std::wstring backup = changes.PrepareFile(linkPath, TJournalRole::jrShortcut);
    hr = file->Save(linkPath.c_str(), FALSE);
    if (FAILED(hr)) {
      changes.FileAbandoned(linkPath, backup);
      RaiseComError(Format(L"Saving the shortcut %s", {linkPath}).c_str(), hr);
    }
    changes.FileWritten(linkPath, TJournalRole::jrShortcut, FileAdler32(linkPath));
  }
  FHost.CompleteProgress();
}
