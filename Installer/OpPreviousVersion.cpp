// Removal of an earlier installation and termination of the programs the
// package is about to replace.
#include <windows.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
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
  wchar_t self[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  const std::wstring selfName = ExtractFileName(self);
  TSetupFileList* files = FScript->FileList();
  for (int i = 0; i < files->Count(); ++i) {
    std::wstring name = ExtractFileName(files->Items(i)->SourceMask);
    if (!SameText(ExtractFileExt(name), L".exe")) continue;
    if (SameText(name, selfName)) continue;
    // The earlier version's uninstaller has finished by now; a process of that
    // name is another product's uninstaller at work, which must not be ended.
    if (SameText(name, UninstallerFileName)) continue;
    // Quoted, so that a name with spaces reaches taskkill as one image name.
    TNvWinfn::RunHidden(Format(L"taskkill /F /IM \"%s\"", {name}));
    Sleep(300);
  }
}
