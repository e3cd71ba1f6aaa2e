// Removal of an earlier installation and termination of the programs the
// package is about to replace.
#include <windows.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "NvProcessEnd.h"
#include "NvRegKey.h"
#include "InstallLocation.h"
#include "PackageFormat.h"
#include "SetupProject.h"

namespace {

// The host's hourglass while an uninstaller runs; the default cursor again
// when the wait ends, also on errors.
class TBusy {
public:
  explicit TBusy(TInstallHost& host) : FHost(host) { FHost.SetBusy(true); }
  ~TBusy() { FHost.SetBusy(false); }

private:
  TInstallHost& FHost;
};

}  // namespace

void TInstallEngine::RemovePreviousVersion() {
  const std::wstring guid = FScript->BaseInfo()->GUID;
  for (const std::wstring& keyPath : {PreviousUninstallKeyPath(guid), UninstallKeyPath(guid)}) {
    std::wstring command;
    {
      TNvRegKey key;
      if (!key.Open(HKEY_LOCAL_MACHINE, keyPath)) continue;
      command = key.ReadString(L"QuietUninstallString");
    }
    if (command.empty()) continue;
    TBusy busy(FHost);
    TNvWinfn::RunAndWait(command);
    Sleep(2000);
  }
}

void TInstallEngine::StopRunningPrograms() {
  // Only copies of the programs this package installs, matched by the file
  // they run from: a program of the same name elsewhere is another's.
  std::vector<std::wstring> programs;
  TSetupFileList* files = FScript->FileList();
  for (int i = 0; i < files->Count(); ++i) {
    const TSetupFile* item = files->Items(i);
    if (!SameText(ExtractFileExt(item->SourceMask), L".exe")) continue;
    // The earlier version's uninstaller has finished by now.
    if (SameText(ExtractFileName(item->SourceMask), UninstallerFileName)) continue;
    try {
      programs.push_back(FileTarget(*item));
    } catch (const ELocationError&) {
      // Not a place this package can install to: InstallFiles reports it.
    }
  }
  EndProcessesByPath(programs);
}
