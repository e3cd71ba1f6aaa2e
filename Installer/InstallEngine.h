// The install engine: the package (a resource-only module with its project),
// the folder check, the install operations in their order, the online
// download and hand-off, and the notification visit. It shows nothing
// itself: everything the user sees goes through its host (InstallHost.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DownloadProgress.h"
#include "ExitCodes.h"
#include "InstallHost.h"
#include "NvExceptions.h"
#include "NvResourceModule.h"
#include "NvStream.h"

class TSetupScript;
class TSetupFile;
class TInstallChanges;
class TJournalWriter;
class TFileWriter;
class TPayloadPrefetch;
class TNvHttp;
class TNvHttpProxy;
class TNvDownload;
namespace nvbuilder {
class TSha256;
}
enum TWorkMode : int;

// How a run of the engine ended. ExitCode is kExitOk when it succeeded,
// otherwise the program's exit code for the failure (ExitCodes.h), with the
// reason; what the user must see has been shown through the host already.
// Leave: the user chose to leave the setup, so the program ends even in an
// interactive run; TryAgain: the user chose to try again, so even an
// unattended run goes back to the idle window. Other failures end unattended
// runs and return interactive ones to the idle window.
struct TInstallOutcome {
  unsigned ExitCode = kExitOk;
  std::wstring Reason;
  bool Leave = false;
  bool TryAgain = false;
  bool Succeeded() const { return ExitCode == kExitOk; }
};

// Raised inside the engine when a run must stop with ExitCode (the user chose
// "退出安装"); the engine's entry points turn it into their outcome.
class EInstallStopped : public Exception {
public:
  EInstallStopped(unsigned exitCode, const std::wstring& reason) : Exception(reason), ExitCode(exitCode) {}
  unsigned ExitCode;
};

// The outcome of the folder check.
struct TFolderCheck {
  bool Ok = false;
  bool Empty = false;     // the folder text was blank
  std::wstring Message;   // the user's message when not Ok
};

class TInstallEngine {
public:
  explicit TInstallEngine(TInstallHost& host);
  // Closes the package module and deletes a downloaded package file (see
  // RemoveDownload).
  ~TInstallEngine();

  // ---- the package ----
  // Opens packagePath for its resources only (see TNvResourceModule).
  bool OpenPackage(const std::wstring& packagePath);
  const std::wstring& PackagePath() const { return FPackagePath; }
  // True when the package holds an RCDATA resource of that name (ANSI).
  bool ResourceExists(const std::wstring& name) const;
  // Clears stream, copies the RCDATA resource name into it and decodes it in
  // place with the package container decoder; the stream ends at position 0.
  // A missing resource raises EResNotFound "Resource %s not found"; a damaged
  // one EZlibError with the decoder's words and the name.
  bool ReadResource(const std::wstring& name, TMemoryStream& stream);
  TSetupScript& Script() { return *FScript; }
  // The product picture as stored (PNG), kept for "Uninstall.da2".
  void SetIconPng(const std::string& png) { FIconPng = png; }
  const std::string& IconPng() const { return FIconPng; }
  bool IconIsPng() const;

  // ---- the folder check ----
  // Trims folderText, stores it as "{app}" at once, appends a backslash,
  // refuses a folder no product owns (a drive's root, the system's folders,
  // Program Files itself, profiles, known folders: "不能安装到此文件夹：%s，
  // 请重新输入。") and one that holds another product's uninstall data
  // ("此文件夹中已安装了另一个产品（%s）：%s，请重新输入。"), then creates the
  // folder with its parents and write-tests it. The folders it
  // creates are remembered: the install's journal starts with them, and a
  // run that ends before the install removes them again (when empty).
  TFolderCheck CheckInstallFolder(const std::wstring& folderText);
  // Removes the folders the last folder check created, when still empty.
  void RemoveCheckedFolders();
  // The title (or GUID) of another product whose uninstall data lies in
  // folder; empty when there is none, or it is this product's.
  std::wstring OtherProductIn(const std::wstring& folder) const;
  // Set only by test programs, to show what the refusal of another
  // product's folder prevents.
  static inline bool AllowAnotherProductsFolder = false;

  // ---- the install, after the folder check ----
  // An unfinished install of the product (its setup was killed) is settled
  // first; then the progress maximum, and the operations from
  // RemovePreviousVersion to RegisterUninstall with their stage lines, every
  // change recorded in the journal; then the journal is committed. A failing
  // operation's message is reported (kExitInstallFailed); a run the user
  // ends at a copy failure gives kExitUserAborted with Leave. After either,
  // the run's changes are rolled back, with progress, and the result is
  // reported: "安装未完成，已撤销所做的更改。", or what could not be undone
  // (kExitRollbackIncomplete). Never raises.
  TInstallOutcome RunInstallSteps();

  // ---- the journal (RunInstallSteps calls these; tests may call them) ----
  // Settles a pending journal of the product: an unfinished install is
  // rolled back after telling the user ("上次安装未完成，正在撤销其所做的更改。"),
  // a finished one tidied. Raises when another setup of the product is
  // running, or when what the rollback could not undo is left.
  void SettleUnfinishedInstall();
  // Starts this run's journal (pending, held without sharing), with the
  // folders the folder check created; an installation folder that settling
  // an unfinished install removed is made again and recorded.
  void BeginChanges();
  // The install has finished: "Uninstall.jnl" is written into the install
  // folder, the journal committed, the kept copies deleted, the pending
  // journal removed.
  void CommitChanges();
  // Undoes this run's changes with progress through the host and ends the
  // journal; returns what could not be undone (the pending journal then
  // stays, for the next run to try again).
  std::vector<std::wstring> RollBackChanges();
  // The changes of the running install; raises when none has begun.
  TInstallChanges& Changes();
  void RemovePreviousVersion();
  void StopRunningPrograms();
  void InstallFiles();
  // Writes the item's content to fileName, decoded from the package file in
  // pieces (a large file costs no more memory than a small one), asking the
  // host when the file cannot be written (retry, skip, or leave: then
  // EInstallStopped with kExitUserAborted). A damaged or missing payload
  // raises an error that names fileName, and the part written is removed.
  void WriteFileWithRetry(const TSetupFile& item, const std::wstring& fileName);
  void WriteRegistryEntries();
  void CreateShortcuts();
  void WriteUninstallData();
  void RegisterUninstall();
  // The project's run entries (after the done look), in order. An entry that
  // cannot be started is reported ("无法启动：%s") and the next one follows;
  // false when any could not be started.
  bool RunPrograms();

  // ---- online ----
  // Fetches the full package through proxy (copied into GlobalHttpProxy)
  // into a temporary file "{GUID}.exe", checks it and opens it as the
  // package with its project; succeeds when the full project is loaded (at
  // once when a checked download is the package already).
  // The body goes to the file as it arrives; a transfer that breaks is
  // resumed automatically (TNvDownload), the detail line showing how much
  // has arrived. When it cannot be fetched the host is asked (under
  // "/Silent" "在线安装失败：URL：REASON" is reported instead):
  // kExitDownloadFailed, with Leave when the user chose to leave, else
  // TryAgain; the part that arrived is kept, and the next call resumes it.
  // Before the file is opened it must pass the stub's check (DownloadCheck.h):
  // the pinned size and SHA-256 (taken as the bytes arrived), or the
  // signer rule. A download that fails it ("在线安装失败：URL：REASON"), is
  // not a full package ("安装包错误。") or cannot be written or read (its
  // message) is reported, deleted, and gives kExitDownloadFailed. Never raises.
  TInstallOutcome DownloadFullPackage(const TNvHttpProxy& proxy);
  // Deletes the downloaded package, or the part kept for resuming, after
  // putting the package back to this program's own file; a file that cannot
  // be deleted is scheduled for deletion at the next restart. Setup calls it
  // once the install has finished and before it ends the process.
  void RemoveDownload();
  // The download's progress: the bar's maximum is the package's size (0
  // when unknown), its position and the detail line follow the bytes in the
  // file.
  void HttpWorkBegin(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax);
  void HttpWork(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCount);
  void HttpWorkEnd(TNvHttp* Sender, TWorkMode AWorkMode);
  // After a finished install: the visit of the project's GotoUrl, its
  // outcome ignored.
  void VisitGotoUrl();
  // AppendRCode (SetupText.h) for this program: command-line argument 0.
  std::wstring AppendRCode(const std::wstring& address) const;

private:
  // The operations of RunInstallSteps in their order; failures raise.
  void RunInstallOperations();
  // A failed run: rolled back, the result reported; outcome's exit code
  // becomes kExitRollbackIncomplete when something could not be undone.
  void EndFailedRun(TInstallOutcome& outcome);
  // Decodes the item's payload into file and returns the content's Adler-32;
  // a damaged or missing payload raises EZlibError / EResNotFound naming the
  // file.
  uint32_t DecodePayloadInto(const TSetupFile& item, TFileWriter& file);
  // The check of a whole download against the stub's rule (none, pin or
  // signer); raises with the reason when it fails.
  void CheckDownload();
  // Lets the window live through a pause before an automatic try, the
  // detail line counting down.
  void WaitBeforeRetry(int milliseconds);

  // While InstallFiles runs: the payloads decoded ahead, and the job of the
  // item being written (kNoJob: none, or taken already, so that a retry
  // decodes the payload again itself).
  static constexpr std::size_t kNoJob = static_cast<std::size_t>(-1);
  TPayloadPrefetch* FPrefetch = nullptr;
  std::size_t FPrefetchJob = kNoJob;

  TInstallHost& FHost;
  // The folders the last folder check created, outermost first.
  std::vector<std::wstring> FCheckedFolders;
  std::unique_ptr<TJournalWriter> FJournal;
  std::unique_ptr<TInstallChanges> FChanges;
  TNvResourceModule FPackage;
  std::wstring FPackagePath;
  std::unique_ptr<TSetupScript> FScript;
  std::string FIconPng;
  // The full package's download (whole, or the part kept for resuming) and
  // the SHA-256 of the bytes in its file.
  std::unique_ptr<TNvDownload> FDownload;
  std::unique_ptr<nvbuilder::TSha256> FDownloadHash;
  TDownloadMeter FDownloadMeter;
  int64_t FDownloadTotal = -1;
};
