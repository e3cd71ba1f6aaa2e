// The programs the project starts once the installation is complete.
#include <windows.h>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "SetupProject.h"
#include "Setupfn.h"

bool TInstallEngine::RunPrograms() {
  bool allStarted = true;
  TSetupRunList* runs = FScript->RunList();
  for (int i = 0; i < runs->Count(); ++i) {
    const TSetupRun* run = runs->Items(i);
    const std::wstring fileName = TSetupfn::ExpandConstants(run->FileName);
    const std::wstring params = TSetupfn::ExpandConstants(run->Params);
    const std::wstring workDir = TSetupfn::ExpandConstants(run->WorkDir);
    if (run->Wait) {
      // The started program inherits the working folder; a folder that cannot
      // be entered leaves the current one.
      SetCurrentDirectoryW(workDir.c_str());
      bool started = false;
      TNvWinfn::RunAndWait(Format(L"\"%s\" %s", {fileName, params}), &started);
      if (started) continue;
    } else if (TNvWinfn::ShellExec(nullptr, L"", fileName, params, workDir, SW_SHOW, true) > 32) {
      continue;
    }
    allStarted = false;
    FHost.ReportMessage(Format(L"无法启动：%s", {fileName}));
  }
  return allStarted;
}
