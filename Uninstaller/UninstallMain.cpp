#include "UninstallMain.h"

#include <windows.h>

#include <memory>

#include "InstallLocation.h"
#include "JournalFile.h"
#include "MachineView.h"
#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "NvVclUtils.h"
#include "RemovalPlan.h"
#include "Rollback.h"
#include "RemovalSteps.h"
#include "Setupfn.h"
#include "UninstallData.h"
#include "UninstallExitCodes.h"
#include "UninstallFrm.h"
#include "PackageFormat.h"

namespace {

// Says a line: on standard output under "/SILENT", in a message box otherwise.
void Tell(bool silent, const std::wstring& text) {
  if (silent) TNvSysfn::WriteStdOut(text);
  else TNvWinfn::ShowInfo(nullptr, text, L"卸载");
}

// The lines a removal ends with under "/SILENT".
void TellOutcome(const TRemovalPlan& plan, const TRemovalRun& run) {
  for (const TKeptItem& kept : plan.Kept) TNvSysfn::WriteStdOut(kept.Text());
  for (const std::wstring& item : run.Scheduled()) TNvSysfn::WriteStdOut(Format(L"重新启动后删除：%s", {item}));
  for (const std::wstring& item : run.Remaining()) TNvSysfn::WriteStdOut(Format(L"未能删除：%s", {item}));
  if (run.KeptForAnotherRun()) TNvSysfn::WriteStdOut(L"卸载程序和卸载数据已保留，再次运行卸载程序可完成卸载。");
  else if (!run.Scheduled().empty()) TNvSysfn::WriteStdOut(L"重新启动计算机后完成卸载。");
}

unsigned RunSilent(const TRemovalPlan& plan) {
  TRemovalRun run(plan);
  run.Run();
  TellOutcome(plan, run);
  return RemovalExitCode(run);
}

unsigned RunWindow(const TUninstallData& data, const TRemovalPlan& plan) {
  return RunMainForm([&] { return std::make_unique<TUninstallForm>(data.Info().AppTitle, data.IconPng(), plan); });
}

// Why this program may not remove anything here ("" when it may): the
// product's uninstall entry must exist and name this very folder.
std::wstring CheckInstallation(const TSetupBaseInfo& info, const std::wstring& appDir, std::wstring& location) {
  const std::wstring keyPath = UninstallKeyPath(info.GUID);
  if (!TNvStrfn::IsGuidString(info.GUID))
    return Format(L"卸载数据中没有产品标识（GUID），无法确认 %s 的安装。", {info.AppTitle});
  TNvRegKey entry;
  if (!entry.Open(HKEY_LOCAL_MACHINE, keyPath, KEY_READ))
    return Format(L"找不到 %s 的安装记录（HKEY_LOCAL_MACHINE\\%s）。", {info.AppTitle, keyPath});
  try {
    location = entry.ReadString(L"InstallLocation");
  } catch (const std::exception&) {
    location.clear();
  }
  if (location.empty() || !TNvFilefn::SameFileObject(location, appDir))
    return Format(L"%s 安装在 %s，不在此卸载程序所在的文件夹 %s。", {info.AppTitle, location, appDir});
  return {};
}

}  // namespace

unsigned RemovalExitCode(const TRemovalRun& run) {
  if (!run.Remaining().empty()) return kUninstallPartly;
  if (!run.Scheduled().empty()) return kUninstallRestartNeeded;
  return kUninstallOk;
}

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
    Tell(silent, ExceptionMessage(e) + L"\r\n未删除任何内容。");
    return kUninstallDataDamaged;
  }
  const TSetupBaseInfo& info = data.Info();

  // An install of this product whose setup was killed is rolled back first
  // (unless its setup is still running: an upgrade waiting for this run).
  try {
    const TSettleResult settled = SettlePendingJournal(info.GUID);
    if (settled.What == TSettled::stRolledBack && settled.NotUndone.empty())
      Tell(silent, L"上次安装未完成，已撤销其所做的更改。");
    for (const std::wstring& line : settled.NotUndone) Tell(silent, line);
  } catch (const std::exception& e) {
    Tell(silent, ExceptionMessage(e));
  }

  std::wstring location;
  const std::wstring refusal = CheckInstallation(info, appDir, location);
  if (!refusal.empty()) {
    Tell(silent, refusal + L"\r\n未删除任何内容。");
    return kUninstallDataDamaged;
  }

  const std::wstring journalPath = appDir + JournalFileName;
  TWinMachineView machine;
  TRemovalContext context;
  context.Guid = info.GUID;
  TRemovalPlan plan;
  if (GetFileAttributesW(journalPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    TJournalContents journal;
    try {
      journal = ReadJournalFile(journalPath);
    } catch (const std::exception& e) {
      Tell(silent, Format(L"卸载数据文件已损坏：%s：%s", {journalPath, ExceptionMessage(e)}) + L"\r\n未删除任何内容。");
      return kUninstallDataDamaged;
    }
    const TJournalEntry* begin = journal.Begin();
    if (!journal.Committed() || !begin || !SameText(begin->Guid, info.GUID) ||
        !TNvFilefn::SameFileObject(begin->AppDir, appDir)) {
      Tell(silent, Format(L"卸载数据文件不属于此安装：%s", {journalPath}) + L"\r\n未删除任何内容。");
      return kUninstallDataDamaged;
    }
    context.AppDir = IncludeTrailingBackslash(begin->AppDir);
    context.SelfPath = context.AppDir + ExtractFileName(self);
    plan = MakeJournalRemovalPlan(journal, context, machine, OtherProductsJournals(info.GUID));
  } else {
    // An installation made before journals: from its project, under the
    // same rules where they apply.
    context.AppDir = IncludeTrailingBackslash(location);
    context.SelfPath = context.AppDir + ExtractFileName(self);
    TSetupfn::SetAppPath(context.AppDir);
    TSetupfn::SetProductTitle(info.AppTitle);
    plan = MakeProjectRemovalPlan(data.Script(), context, machine);
  }
  return silent ? RunSilent(plan) : RunWindow(data, plan);
}
