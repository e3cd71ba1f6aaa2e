#include "UninstallMain.h"

#include <windows.h>

#include <memory>

#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "NvVclUtils.h"
#include "RemovalPlan.h"
#include "RemovalSteps.h"
#include "Setupfn.h"
#include "UninstallData.h"
#include "UninstallExitCodes.h"
#include "UninstallFrm.h"
#include "PackageFormat.h"

namespace {

unsigned RunSilent(const TRemovalPlan& plan) {
  TRemovalRun run(plan);
  run.Run();
  for (const std::wstring& item : run.Remaining()) TNvSysfn::WriteStdOut(Format(L"未能删除：%s", {item}));
  return run.Remaining().empty() ? kUninstallOk : kUninstallPartly;
}

unsigned RunWindow(const TUninstallData& data, const TRemovalPlan& plan) {
  return RunMainForm([&] { return std::make_unique<TUninstallForm>(data.Info().AppTitle, data.IconPng(), plan); });
}

}  // namespace

bool IsSilentCommandLine(const std::vector<std::wstring>& args) {
  for (size_t i = 1; i < args.size(); ++i)
    if (SameText(args[i], UninstallerSilentSwitch)) return true;
  return false;
}

unsigned RunUninstaller(const std::vector<std::wstring>& args) {
  const bool silent = IsSilentCommandLine(args);
  const std::wstring self = TNvWinfn::GetModulePath();
  const std::wstring appDir = ExtractFilePath(self);

  TUninstallData data;
  try {
    data.Load(appDir);
  } catch (const std::exception& e) {
    const std::wstring message = ExceptionMessage(e) + L"\r\n未删除任何内容。";
    if (silent)
      TNvSysfn::WriteStdOut(message);
    else
      TNvWinfn::ShowInfo(nullptr, message, L"卸载");
    return kUninstallDataDamaged;
  }

  TSetupfn::SetAppPath(appDir);
  TSetupfn::SetProductTitle(data.Info().AppTitle);
  const TRemovalPlan plan = MakeRemovalPlan(data.Script(), appDir, self);
  return silent ? RunSilent(plan) : RunWindow(data, plan);
}
