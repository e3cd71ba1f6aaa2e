// The install driver: the install button's handler, from the folder check to
// the done look.
#include "MainFrm.h"

#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "SetupProject.h"

bool TMainForm::CheckDestDir() {
  const TFolderCheck check = FEngine->CheckInstallFolder(edtDestDir->Text());
  if (check.Ok) return true;
  ReportMessage(check.Message);
  if (check.Empty) edtDestDir->SetFocus();
  return false;
}

void TMainForm::EndFailedInstall(const TInstallOutcome& outcome) {
  // A run that ends before the install (a failed download) takes back the
  // folder the check made; the install's own rollback has run already.
  FEngine->RemoveCheckedFolders();
  if (outcome.Leave || (!outcome.TryAgain && (FSilentInstall || FAutoInstall))) ExitSetup(outcome.ExitCode);
  RestoreIdleLayout();
}

void TMainForm::btnInstallClick() {
  if (FInstallState == 1) return;  // re-entered through message processing
  if (!CheckDestDir()) {
    if (FSilentInstall) ExitSetup(kExitBadFolder);
    if (FAutoInstall) {
      // "/Auto" showed the installing look from the start: back to the idle
      // look, so that the user can correct the folder and install.
      RestoreIdleLayout();
      if (Trim(edtDestDir->Text()).empty()) edtDestDir->SetFocus();
    }
    return;
  }
  FInstallState = 1;
  ShowInstallingLayout();
  // An online stub first fetches the full package.
  TInstallOutcome outcome;
  if (!FFullPackage) outcome = FEngine->DownloadFullPackage(*FProxy);
  if (outcome.Succeeded()) outcome = FEngine->RunInstallSteps();
  // The install has its files: a downloaded package is not needed any more.
  if (outcome.Succeeded()) FEngine->RemoveDownload();
  if (!outcome.Succeeded()) {
    EndFailedInstall(outcome);
    return;
  }
  FInstallState = 2;
  ShowDoneLayout();
  try {
    VisitGotoUrl();
  } catch (const std::exception&) {
    // The visit is a notification only; the install has finished.
  }
  // Unattended runs start the product and end, as the run button does.
  if (FSilentInstall || FAutoInstall) btnRunAppClick();
}
