#include "MainFrm.h"

#include "CopyFileFailureFrm.h"
#include "DownloadFailureFrm.h"
#include "IndyProxySettingsFrm.h"
#include "LicenseFrm.h"
#include "NvCallbackBarrier.h"
#include "NvCommandLine.h"
#include "NvExceptions.h"
#include "NvIndyUtils.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "SetupProject.h"
#include "SetupText.h"

TMainForm* MainForm = nullptr;

TMainForm::TMainForm()
    : TBaseForm(nullptr, L"TMainForm", kMainFormWidth, kMainFormHeight, WS_POPUP | WS_MINIMIZEBOX | WS_SYSMENU, WS_EX_APPWINDOW),
      FEngine(std::make_unique<TInstallEngine>(FHost)) {
  MainForm = this;
  if (Application && Application->Title.empty()) Application->Title = L"Setup";
  BuildControls();
  StartUp();
}

TMainForm::~TMainForm() {
  FEngine.reset();
  if (MainForm == this) MainForm = nullptr;
}

std::vector<std::wstring> TMainForm::SplitCommandLine(const std::wstring& commandLine) {
  return ::SplitCommandLine(commandLine);
}

std::wstring TMainForm::DecodeLicenseText(const std::string& bytes) { return ::DecodeLicenseText(bytes, AnsiToWide); }

std::wstring TMainForm::AppendRCode(const std::wstring& address) const { return FEngine->AppendRCode(address); }

void TMainForm::VisitGotoUrl() { FEngine->VisitGotoUrl(); }

// ---- handlers ----------------------------------------------------------------------
void TMainForm::btnDestDirClick() {
  std::wstring path = Trim(edtDestDir->Text());
  if (TNvVclfn::SelectDirectory(Handle(), L"选择安装目录", path)) edtDestDir->SetText(path);
}

void TMainForm::btnRunAppClick() { PostMessageW(Handle(), WM_RUNAPP, 0, 0); }

void TMainForm::cbLicenseClick() { UpdateInstallButton(); }

void TMainForm::lblLicenseClick() { TLicenseForm::Execute(this, FLicenseText); }

void TMainForm::lblProxyClick() { TIndyProxySettingsForm::Execute(this, FProxy.get()); }

void TMainForm::imgMinimizeClick() {
  if (Application) Application->Minimize();
}

void TMainForm::imgCloseClick() {
  if (FInstallState != 1) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TMainForm::DragMouseDown(int) {
  ReleaseCapture();
  // The move loop dispatches this program's messages itself.
  NvSendMessage(Handle(), WM_SYSCOMMAND, 0xF012, 0);
}

void TMainForm::TntFormShow() {
  if (btnInstall->Handle() && IsWindowVisible(btnInstall->Handle())) ::SetFocus(btnInstall->Handle());
}

void TMainForm::WMRunApp() {
  bool allStarted = false;
  try {
    allStarted = RunPrograms();
  } catch (const std::exception& e) {
    if (FSilentInstall) TNvSysfn::WriteStdOut(ExceptionMessage(e));
  }
  ExitSetup(allStarted ? kExitOk : kExitRunFailed);
}

LRESULT TMainForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_RUNAPP) {
    WMRunApp();
    return 0;
  }
  return TBaseForm::WndProc(msg, wParam, lParam);
}

bool TMainForm::CloseQuery() { return FInstallState != 1; }

unsigned TMainForm::ExitCode() const { return ExitCodeAfterClose(FInstallState); }

// ---- the engine's host -------------------------------------------------------------
void TMainForm::RefreshProgress(bool processMessages) {
  if (FPendingSteps == 0 && !FDetailPending && !processMessages) return;
  FLastRefresh = GetTickCount64();
  if (FPendingSteps) pbProgress->StepBy(FPendingSteps);
  FPendingSteps = 0;
  if (FDetailPending) {
    lblDetail->SetCaption(FPendingDetail);
    lblDetail->Repaint();
  }
  FDetailPending = false;
  if (Application) Application->ProcessMessages();
}

void TMainForm::RefreshProgressWhenDue() {
  if (FLastRefresh == 0 || GetTickCount64() - FLastRefresh >= kProgressRefreshMs) RefreshProgress(true);
}

void TMainForm::ProcessMessages() { RefreshProgress(true); }

void TMainForm::SetProgressMax(int max) {
  RefreshProgress();
  pbProgress->SetMax(max);
  pbProgress->SetPosition(0);
}

void TMainForm::SetProgressPosition(int position) {
  RefreshProgress();
  pbProgress->SetPosition(position);
}

void TMainForm::CompleteProgress() {
  RefreshProgress();
  pbProgress->SetPosition(pbProgress->Max());
}

void TMainForm::SetStage(const std::wstring& text) {
  RefreshProgress();
  lblWait->SetCaption(text);
}

void TMainForm::ShowDetail(bool visible) {
  RefreshProgress();
  lblDetail->SetVisible(visible);
}

void TMainForm::SetBusy(bool busy) {
  RefreshProgress();
  if (Application) Application->SetCursor(busy ? TCursor::crHourGlass : TCursor::crDefault);
}

void TMainForm::StepProgress() {
  ++FPendingSteps;
  RefreshProgressWhenDue();
}

void TMainForm::SetDetail(const std::wstring& text) {
  FPendingDetail = text;
  FDetailPending = true;
  RefreshProgressWhenDue();
}

void TMainForm::ReportMessage(const std::wstring& text) {
  RefreshProgress();
  if (FSilentInstall) {
    TNvSysfn::WriteStdOut(text);
    return;
  }
  TNvVclfn::ShowInfo(Handle(), text);
}

TCopyFailureAnswer TMainForm::AskCopyFailure(const std::wstring& fileName, const std::wstring& reason) {
  RefreshProgress();
  if (FSilentInstall) {
    TNvSysfn::WriteStdOut(Format(L"复制文件失败：%s：%s", {fileName, reason}));
    return TCopyFailureAnswer::cfAbort;
  }
  switch (TCopyFileFailureForm::Execute(this, fileName, reason)) {
    case mrRetry:
      return TCopyFailureAnswer::cfRetry;
    case mrIgnore:
      return TCopyFailureAnswer::cfSkip;
    default:
      return TCopyFailureAnswer::cfAbort;
  }
}

bool TMainForm::AskDownloadFailure(const std::wstring& url) {
  RefreshProgress();
  return TDownloadFailureForm::Execute(this, Script().BaseInfo()->AppTitle, url);
}

void TMainForm::ExitSetup(unsigned code) {
  // The process ends without destroying the window: a downloaded package,
  // or the part kept for resuming, is deleted first.
  if (FEngine) FEngine->RemoveDownload();
  ExitProcess(code);
}
