// The install driver and the window's three looks.
#include "MainFrm.h"

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "SetupProject.h"
#include "Setupfn.h"

bool TMainForm::CheckDestDir() {
  std::wstring dir = Trim(edtDestDir->Text());
  TSetupfn::SetAppPath(dir);
  if (dir.empty()) {
    ReportMessage(L"安装目录不能为空，请重新输入。");
    edtDestDir->SetFocus();
    return false;
  }
  dir = IncludeTrailingBackslash(dir);
  TSetupfn::SetAppPath(dir);
  if (!DirectoryExists(dir)) {
    try {
      ForceDirectories(dir);
    } catch (const std::exception&) {
    }
    if (!DirectoryExists(dir)) {
      ReportMessage(Format(L"创建安装目录失败：%s，请重新输入。", {dir}));
      return false;
    }
  }
  std::wstring testFile = dir + TNvStrfn::NewGuidString();
  HANDLE file = CreateFileW(testFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE;
  if (ok) CloseHandle(file);
  else ReportMessage(Format(L"尝试在安装目录写入文件失败：%s，请重新输入。", {dir}));
  DeleteFileW(testFile.c_str());
  return ok;
}

void TMainForm::ShowInstallingLayout() {
  lblAppTitle->SetCaption(L"正在安装");
  for (TControl* c : std::initializer_list<TControl*>{lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir,
                                                       cbLicense, lblLicense, lblProxy})
    c->Hide();
  pbProgress->SetBounds(16, pbProgress->Top(), pnlBottom->Width() - 32, pbProgress->Height());
  pbProgress->Show();
  lblWait->SetBounds(pbProgress->Left(), lblWait->Top(), pbProgress->Width(), lblWait->Height());
  lblWait->Show();
  lblDetail->SetBounds(pbProgress->Left(), lblDetail->Top(), pbProgress->Width(), lblDetail->Height());
  lblDetail->SetCaption(L"");
  lblDetail->Show();
}

void TMainForm::ShowDoneLayout() {
  lblAppTitle->SetCaption(L"安装完成");
  pbProgress->Hide();
  lblWait->Hide();
  lblDetail->Hide();
  btnRunApp->SetLeft((pnlBottom->Width() - btnRunApp->Width()) / 2);
  btnRunApp->Show();
  btnRunApp->SetFocus();
}

void TMainForm::RestoreIdleLayout() {
  FInstallState = 0;
  lblWait->Hide();
  pbProgress->Hide();
  lblDetail->Hide();
  lblWait->SetCaption(L"请等待");
  lblAppTitle->SetCaption(FScript->BaseInfo()->AppTitle);
  for (TControl* c : std::initializer_list<TControl*>{lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir})
    c->Show();
  bool license = !FScript->BaseInfo()->LicenseResID.empty();
  cbLicense->SetVisible(license);
  lblLicense->SetVisible(license);
  lblProxy->SetVisible(!FFullPackage);
  UpdateInstallButton();
}

void TMainForm::FailInstall(const std::wstring& message) {
  ReportMessage(message);
  if (FSilentInstall || FAutoInstall) ExitSetup(kExitInstallFailed);
  RestoreIdleLayout();
}

void TMainForm::btnInstallClick() {
  if (FInstallState == 1) return;  // re-entered through message processing
  if (!CheckDestDir()) {
    if (FSilentInstall) ExitSetup(kExitBadFolder);
    return;
  }
  FInstallState = 1;
  ShowInstallingLayout();
  try {
    if (!FFullPackage && !DownloadFullPackage()) return;
    TSetupScript& script = *FScript;
    pbProgress->SetMax(script.FileList()->Count() + script.RegList()->Count() + script.ShortCutList()->Count());
    pbProgress->SetPosition(0);
    lblWait->SetCaption(L"正在检查旧版本");
    ProcessMessages();
    RemovePreviousVersion();
    StopRunningPrograms();
    lblWait->SetCaption(L"正在安装");
    ProcessMessages();
    InstallFiles();
    WriteRegistryEntries();
    CreateShortcuts();
    WriteUninstallData();
    RegisterUninstall();
  } catch (const std::exception& e) {
    FailInstall(ExceptionMessage(e));
    return;
  }
  FInstallState = 2;
  ShowDoneLayout();
  try {
    VisitGotoUrl();
  } catch (const std::exception&) {
    // The visit is a notification only; the install has finished.
  }
  if (FSilentInstall || FAutoInstall) btnRunAppClick();
}
