// The setup program's one main window: start-up (package module, mode,
// project, window contents, command line), the install driver and its three
// looks, and the install operations (implemented in Op*.cpp).
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
#include "NvStream.h"

class TSetupScript;
class TSetupFile;
class TNvHttp;
class TNvHttpProxy;
enum TWorkMode : int;

// Posted by the run button: start the run entries and end the process.
constexpr UINT WM_RUNAPP = WM_USER + 1;  // 1025

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
  // order, the done look. A failing operation shows its message and returns
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
  // WM_RUNAPP: RunPrograms, then ends the process with kExitOk.
  void WMRunApp();

  // ---- start-up steps ----
  // True when the package holds an RCDATA resource of that name (ANSI).
  bool ResourceExists(const std::wstring& name) const;
  // Clears stream, copies the RCDATA resource name into it and decodes it in
  // place with the package container decoder; the stream ends at position 0.
  // A missing resource raises EResNotFound; a damaged one the decoder's error.
  bool ReadResource(const std::wstring& name, TMemoryStream& stream);
  // Reads the picture named by IconResID, keeps its PNG bytes (FIconPng) and
  // shows it in imgIcon.
  void LoadIconImage();
  // Reads the agreement named by LicenseResID into FLicenseText (hides the
  // check box and link when the name is empty).
  void LoadLicenseText();
  // btnInstall enabled exactly when cbLicense is checked.
  void UpdateInstallButton();

  // ---- the driver ----
  // Trims the folder text, stores it as "{app}" at once, checks it, appends a
  // backslash, creates it with its parents and write-tests it. Each failure
  // is reported with its message and gives false.
  bool CheckDestDir();
  // The installing look (title "正在安装", progress bar, wait and detail lines).
  void ShowInstallingLayout();
  // The done look (title "安装完成", the run button with the focus).
  void ShowDoneLayout();
  // Back to the idle look and state 0.
  void RestoreIdleLayout();
  // Online stub: fetch the full package (through FProxy, copied into
  // GlobalHttpProxy) into a temporary file, open it for its resources as the
  // package and load its project; true when the full project is loaded. A
  // failed fetch shows the online-failure dialog ("退出安装" ends the process
  // with kExitDownloadFailed, "重试" returns false with the idle look back,
  // also under "/Auto"); under "/Silent" it is a line on standard output and
  // the end with kExitDownloadFailed. A file that is not a full package gives
  // "安装包错误。" (and any other error its message): false with the idle look,
  // or the end with kExitDownloadFailed under "/Silent" and "/Auto".
  bool DownloadFullPackage();
  // The download's progress on pbProgress (its maximum is the declared
  // length, 0 when unknown); both let pending window messages through.
  void HttpWorkBegin(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax);
  void HttpWork(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCount);
  void HttpWorkEnd(TNvHttp* Sender, TWorkMode AWorkMode);
  // After a finished install: the visit of the project's GotoUrl.
  void VisitGotoUrl();
  // The address with "rcode=%s" from the digits after the first "_" of the
  // program's file name (command-line argument 0, without folder and
  // extension), after "?" or "&"; unchanged when there are none.
  std::wstring AppendRCode(const std::wstring& address) const;

  // ---- install operations (Op*.cpp), in calling order ----
  void RemovePreviousVersion();
  void StopRunningPrograms();
  void InstallFiles();
  // Writes one payload to fileName, asking the copy-failure dialog on a
  // failure (retry, skip, or end the process with kExitUserAborted).
  void WriteFileWithRetry(const TSetupFile& item, TMemoryStream& payload, const std::wstring& fileName);
  void WriteRegistryEntries();
  void CreateShortcuts();
  void WriteUninstallData();
  void RegisterUninstall();
  void RunPrograms();

  // ---- services for the operations ----
  TSetupScript& Script() { return *FScript; }
  // The product picture in PNG form (empty when none was loaded), for
  // "Uninstall.da2".
  const std::string& IconPng() const { return FIconPng; }
  bool IconIsPng() const;
  bool SilentInstall() const { return FSilentInstall; }
  bool AutoInstall() const { return FAutoInstall; }
  bool FullPackage() const { return FFullPackage; }
  int InstallState() const { return FInstallState; }
  // Progress: Position + 1 / a detail text shown at once; both let pending
  // window messages through.
  void StepProgress();
  void SetDetail(const std::wstring& text);
  void ProcessMessages();
  // A message for the user: ShowInfo owned by this window, or under
  // "/Silent" a line on standard output (no window may block).
  void ReportMessage(const std::wstring& text);
  // The copy-failure question: the dialog (mrRetry, mrIgnore, mrAbort), or
  // under "/Silent" the failure on standard output and mrAbort.
  int AskCopyFailure(const std::wstring& fileName, const std::wstring& reason);
  // Ends the process at once with code (the window is not destroyed).
  [[noreturn]] void ExitSetup(unsigned code);

  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool CloseQuery() override;
  // The exit code of the message loop's end: kExitOk after a finished
  // install, kExitNotInstalled otherwise.
  unsigned ExitCode() const;

  // The command line split the program's own way: characters 1..32 separate
  // arguments, double quotes group and are dropped. Element 0 is the program.
  static std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);
  // Agreement text: BOM selects UTF-16 LE/BE or UTF-8, else the ANSI code
  // page; lines split at CR, LF, CR LF and U+2028, each ended with CR LF.
  static std::wstring DecodeLicenseText(const std::string& bytes);

private:
  void BuildControls();
  void StartUp();
  // The damaged-package end: message (or a line under "/Silent"), exit 1.
  [[noreturn]] void FailDamaged(const std::wstring& cause);
  // A failed operation: message, idle look (or exit under "/Silent"/"/Auto").
  void FailInstall(const std::wstring& message);

  std::unique_ptr<TNvHttpProxy> FProxy;  // the proxy settings edited through lblProxy
  HMODULE FPackageHandle = nullptr;
  uint8_t FInstallState = 0;  // 0 idle, 1 installing, 2 done
  bool FAutoInstall = false;
  bool FFullPackage = false;
  bool FSilentInstall = false;
  std::wstring FLicenseText;
  std::unique_ptr<TSetupScript> FScript;
  std::wstring FDownloadFile;
  std::string FIconPng;  // the picture's bytes as stored (PNG)
  std::wstring FPackagePath;
};

// The one main window (set while it exists).
extern TMainForm* MainForm;
