// The install engine: the package (a resource-only module with its project),
// the folder check, the install operations in their order, the online
// download and hand-off, and the notification visit. It shows nothing
// itself: everything the user sees goes through its host (InstallHost.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "InstallHost.h"
#include "NvResourceModule.h"
#include "NvStream.h"

class TSetupScript;
class TSetupFile;
class TFileWriter;
class TPayloadPrefetch;
class TNvHttp;
class TNvHttpProxy;
enum TWorkMode : int;

// The outcome of the folder check.
struct TFolderCheck {
  bool Ok = false;
  bool Empty = false;     // the folder text was blank
  std::wstring Message;   // the user's message when not Ok
};

class TInstallEngine {
public:
  explicit TInstallEngine(TInstallHost& host);
  // Closes the package module and deletes a downloaded package file.
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
  // creates the folder with its parents and write-tests it.
  TFolderCheck CheckInstallFolder(const std::wstring& folderText);

  // ---- the install, after the folder check ----
  // The progress maximum, then the operations from RemovePreviousVersion to
  // RegisterUninstall with their stage lines. Failures raise.
  void RunInstallSteps();
  void RemovePreviousVersion();
  void StopRunningPrograms();
  void InstallFiles();
  // Writes the item's content to fileName, decoded from the package file in
  // pieces (a large file costs no more memory than a small one), asking the
  // host when the file cannot be written (retry, skip, or the end with
  // kExitUserAborted). A damaged or missing payload raises an error that
  // names fileName, and the part written is removed.
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
  // into a temporary file, opens it as the package and loads its project;
  // true when the full project is loaded. A failed fetch asks the host
  // (leaving ends the process with kExitDownloadFailed; under "/Silent" a
  // line and the same end); a file that is not a full package gives
  // "安装包错误。" (other errors their message), reported, then the end with
  // kExitDownloadFailed under "/Silent" and "/Auto". False otherwise: the
  // host then goes back to its idle look.
  bool DownloadFullPackage(const TNvHttpProxy& proxy);
  // The download's progress (maximum: the declared length, 0 when unknown).
  void HttpWorkBegin(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax);
  void HttpWork(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCount);
  void HttpWorkEnd(TNvHttp* Sender, TWorkMode AWorkMode);
  // After a finished install: the visit of the project's GotoUrl, its
  // outcome ignored.
  void VisitGotoUrl();
  // AppendRCode (SetupText.h) for this program: command-line argument 0.
  std::wstring AppendRCode(const std::wstring& address) const;

private:
  // Decodes the item's payload into file; a damaged or missing payload
  // raises EZlibError / EResNotFound naming the file.
  void DecodePayloadInto(const TSetupFile& item, TFileWriter& file);

  // While InstallFiles runs: the payloads decoded ahead, and the job of the
  // item being written (kNoJob: none, or taken already, so that a retry
  // decodes the payload again itself).
  static constexpr std::size_t kNoJob = static_cast<std::size_t>(-1);
  TPayloadPrefetch* FPrefetch = nullptr;
  std::size_t FPrefetchJob = kNoJob;

  TInstallHost& FHost;
  TNvResourceModule FPackage;
  std::wstring FPackagePath;
  std::unique_ptr<TSetupScript> FScript;
  std::string FIconPng;
  std::wstring FDownloadFile;
};
