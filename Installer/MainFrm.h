// The setup program's one main window: start-up (package, mode, project,
// window contents, command line; MainStartUp.cpp), its three looks
// (MainLayout.cpp), the install driver (InstallDriver.cpp), and the host of
// the install engine (InstallEngine.h), whose operations it calls by name.
//
// Finding the window from another program: top-level window class
// "TMainForm"; every control is a child window with the control ID listed in
// TMainFormId below (see NvVclUtils.h for the control window classes).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BaseFrm.h"
#include "ExitCodes.h"
#include "InstallEngine.h"
#include "InstallHost.h"
#include "NvStream.h"

class TSetupScript;
class TNvHttpProxy;

// Posted by the run button: start the run entries and end the process.
constexpr UINT WM_RUNAPP = WM_USER + 1;  // 1025

// The window's design size (borderless, centred on the screen).
constexpr int kMainFormWidth = 750;
constexpr int kMainFormHeight = 480;

// Control IDs of the main window.
enum TMainFormId : int {
  idTntPanel2 = 100,
  idImgBackground = 101,
  idLblAppTitle = 102,
  idLblVersion = 103,
  idImgMinimize = 104,
  idImgClose = 105,
  idImgIcon = 106,
  idBtnInstall = 107,
  idPnlBottom = 108,
  idLblDestDir = 109,
  idEdtDestDir = 110,
  idBtnDestDir = 111,
  idCbLicense = 112,
  idLblLicense = 113,
  idLblProxy = 114,
  idLblWait = 115,
  idPbProgress = 116,
  idLblDetail = 117,
  idBtnRunApp = 118,
};

class TMainForm : public TBaseForm {
public:
  // The start-up sequence. May end the process: with kExitOk when the package
  // carries no marker resource, with kExitDamagedPackage when its project,
  // picture or agreement cannot be read (after a message, or a line on
  // standard output under "/Silent"). Under "/Silent" the whole install runs
  // here, under "/Auto" it runs here with the window shown.
  TMainForm();
  // Unloads the package module, deletes a downloaded package file.
  ~TMainForm() override;

  // ---- controls, in design order (owned by the form) ----
  TPanel* TntPanel2 = nullptr;        // fills the window, product colour, single-line border
  TImage* imgBackground = nullptr;    // the area above pnlBottom; mouse-down drags the window
  TLabel* lblAppTitle = nullptr;      // 8, 168, 737 x 57; product title; white "微软雅黑" 37 px, centred
  TLabel* lblVersion = nullptr;       // 8, 232, 737 x 33; "版本：%s"; white "微软雅黑" 21 px, centred
  TImage* imgMinimize = nullptr;      // 682, 2, 32 x 32
  TImage* imgClose = nullptr;         // 714, 2, 32 x 32
  TImage* imgIcon = nullptr;          // 320, 48, 96 x 96; the product picture
  TButton* btnInstall = nullptr;      // 264, 280, 200 x 50; "立即安装"
  TPanel* pnlBottom = nullptr;        // bottom strip, 100 high, white
  TLabel* lblDestDir = nullptr;       // 12, 26; "安装目录："
  TEdit* edtDestDir = nullptr;        // 108, 25, 112 x 25 (stretched at start-up)
  TButton* btnDestDir = nullptr;      // 224, 23, 89 x 29; "浏览..."
  TCheckBox* cbLicense = nullptr;     // 108, 62, 42 x 16; "同意", checked
  TLinkLabel* lblLicense = nullptr;   // 151, 63; "用户许可协议"
  TLinkLabel* lblProxy = nullptr;     // 239, 63; "代理服务器设置", shown for an online stub
  TLabel* lblWait = nullptr;          // 364, 11, 149 x 25; "请等待", hidden
  TProgressBar* pbProgress = nullptr; // 360, 42, 150 x 17; hidden
  TLabel* lblDetail = nullptr;        // 361, 63, 36 x 14; hidden
  TButton* btnRunApp = nullptr;       // 536, 23, 200 x 50; "立即体验", hidden

  // ---- event handlers ----
  void btnDestDirClick();
  // The install driver: folder check, online download, the operations in
  // order, the done look. A folder that fails its check leaves (or, under
  // "/Auto", brings back) the idle look; under "/Silent" it ends the process
  // with kExitBadFolder. A failing operation shows its message and returns
  // to the idle look (state 0); under "/Silent" or "/Auto" it ends the
  // process with kExitInstallFailed.
  void btnInstallClick();
  // Posts WM_RUNAPP (both parameters 0).
  void btnRunAppClick();
  void cbLicenseClick();
  void lblLicenseClick();
  void lblProxyClick();
  void imgMinimizeClick();
  // Posts WM_CLOSE unless installing (state 1).
  void imgCloseClick();
  // Drags the window (any button): releases the capture and sends
  // WM_SYSCOMMAND 0xF012.
  void DragMouseDown(int button);
  void TntFormShow();
  // WM_RUNAPP: RunPrograms, then ends the process with kExitOk, or
  // kExitRunFailed when a run entry could not be started.
  void WMRunApp();

  // ---- start-up steps ----
  // The package's resources (TInstallEngine::ResourceExists, ReadResource).
  bool ResourceExists(const std::wstring& name) const;
  bool ReadResource(const std::wstring& name, TMemoryStream& stream);
  // Reads the picture named by IconResID, keeps its PNG bytes for the
  // uninstall data and shows it in imgIcon.
  void LoadIconImage();
  // Reads the agreement named by LicenseResID into FLicenseText (hides the
  // check box and link when the name is empty).
  void LoadLicenseText();
  // btnInstall enabled exactly when cbLicense is checked.
  void UpdateInstallButton();

  // ---- the driver and the looks ----
  // The folder check of the engine on the folder box; each failure is
  // reported with its message (an empty folder also puts the focus in the
  // box) and gives false.
  bool CheckDestDir();
  // The installing look (title "正在安装", progress bar, wait and detail
  // lines). The wait line spans the progress bar, or keeps its width and is
  // centred in the bottom strip (the look "/Auto" starts with).
  void ShowInstallingLayout(bool centreWaitLine = false);
  // The done look (title "安装完成", the run button with the focus).
  void ShowDoneLayout();
  // Back to the idle look and state 0.
  void RestoreIdleLayout();
  // After a finished install: the visit of the project's GotoUrl.
  void VisitGotoUrl();
  // See AppendRCode in SetupText.h; the program is command-line argument 0.
  std::wstring AppendRCode(const std::wstring& address) const;

  // ---- install operations of the engine, in calling order ----
  void RemovePreviousVersion() { FEngine->RemovePreviousVersion(); }
  void StopRunningPrograms() { FEngine->StopRunningPrograms(); }
  void InstallFiles() { FEngine->InstallFiles(); }
  void WriteRegistryEntries() { FEngine->WriteRegistryEntries(); }
  void CreateShortcuts() { FEngine->CreateShortcuts(); }
  void WriteUninstallData() { FEngine->WriteUninstallData(); }
  void RegisterUninstall() { FEngine->RegisterUninstall(); }
  bool RunPrograms() { return FEngine->RunPrograms(); }

  TSetupScript& Script() { return FEngine->Script(); }
  bool FullPackage() const { return FFullPackage; }
  int InstallState() const { return FInstallState; }

  // ---- services for the engine (its host, TEngineHost below) ----
  bool SilentInstall() const { return FSilentInstall; }
  bool AutoInstall() const { return FAutoInstall; }
  void ProcessMessages();
  void SetProgressMax(int max);
  void SetProgressPosition(int position);
  void StepProgress();
  void CompleteProgress();
  void SetStage(const std::wstring& text);
  void SetDetail(const std::wstring& text);
  void ShowDetail(bool visible);
  void SetBusy(bool busy);
  // ShowInfo owned by this window, or under "/Silent" a line on standard
  // output (no window may block).
  void ReportMessage(const std::wstring& text);
  // The copy-failure dialog ("重试", "忽略", "退出安装" or its close box), or
  // under "/Silent" the failure on standard output and the end.
  TCopyFailureAnswer AskCopyFailure(const std::wstring& fileName, const std::wstring& reason);
  // The online-failure dialog: true for "退出安装".
  bool AskDownloadFailure(const std::wstring& url);
  // Ends the process at once with code (the window is not destroyed), after
  // deleting a downloaded package. Only this program's own code ends it,
  // never the engine.
  [[noreturn]] void ExitSetup(unsigned code);

  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool CloseQuery() override;
  // A silent install has run by the time the loop starts and left the
  // message that ends the process: its window is never shown.
  bool ShowOnRun() const override { return !FSilentInstall; }
  // The exit code of the message loop's end (ExitCodeAfterClose).
  unsigned ExitCode() const;

  // The command line split the program's own way (NvCommandLine.h).
  static std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);
  // The agreement text (SetupText.h) with the system's ANSI code page.
  static std::wstring DecodeLicenseText(const std::string& bytes);

private:
  // The engine's view of this window: every call goes to the member of the
  // same name.
  class TEngineHost final : public TInstallHost {
  public:
    explicit TEngineHost(TMainForm& form) : F(form) {}
    bool SilentInstall() const override { return F.SilentInstall(); }
    bool AutoInstall() const override { return F.AutoInstall(); }
    void ProcessMessages() override { F.ProcessMessages(); }
    void SetProgressMax(int max) override { F.SetProgressMax(max); }
    void SetProgressPosition(int position) override { F.SetProgressPosition(position); }
    void StepProgress() override { F.StepProgress(); }
    void CompleteProgress() override { F.CompleteProgress(); }
    void SetStage(const std::wstring& text) override { F.SetStage(text); }
    void SetDetail(const std::wstring& text) override { F.SetDetail(text); }
    void ShowDetail(bool visible) override { F.ShowDetail(visible); }
    void SetBusy(bool busy) override { F.SetBusy(busy); }
    void ReportMessage(const std::wstring& text) override { F.ReportMessage(text); }
    TCopyFailureAnswer AskCopyFailure(const std::wstring& fileName, const std::wstring& reason) override {
      return F.AskCopyFailure(fileName, reason);
    }
    bool AskDownloadFailure(const std::wstring& url) override { return F.AskDownloadFailure(url); }

  private:
    TMainForm& F;
  };

  void BuildControls();
  void StartUp();
  // The damaged-package end: message (or a line under "/Silent"), exit 1.
  [[noreturn]] void FailDamaged(const std::wstring& cause);
  // A failed download or install (its message shown already): the end with
  // its exit code under "/Silent" and "/Auto" or when the user chose to
  // leave, otherwise the idle look.
  void EndFailedInstall(const TInstallOutcome& outcome);

  // Per-item progress (a step, a detail line) reaches the window at most once
  // every kProgressRefreshMs: a repaint and a message pass for each of
  // thousands of small files cost more than writing them. Every other call
  // of the host shows what is pending first, so the window is never behind
  // what it is asked to show next.
  static constexpr unsigned kProgressRefreshMs = 40;
  // Shows what is pending and lets messages through (with nothing pending
  // only when processMessages is set).
  void RefreshProgress(bool processMessages = false);
  void RefreshProgressWhenDue();

  std::unique_ptr<TNvHttpProxy> FProxy;  // the proxy settings edited through lblProxy
  TEngineHost FHost{*this};
  int FPendingSteps = 0;
  bool FDetailPending = false;
  std::wstring FPendingDetail;
  unsigned long long FLastRefresh = 0;  // GetTickCount64 of the last refresh; 0: none yet
  std::unique_ptr<TInstallEngine> FEngine;  // the package, its project and the operations
  uint8_t FInstallState = 0;  // 0 idle, 1 installing, 2 done
  bool FAutoInstall = false;
  bool FFullPackage = false;
  bool FSilentInstall = false;
  std::wstring FLicenseText;
};

// The one main window (set while it exists).
extern TMainForm* MainForm;
