// The engine's package reader, the folder check and the order of the install
// operations (each operation is in its own Op*.cpp).
#include "InstallEngine.h"

#include <windows.h>

#include "DownloadCheck.h"
#include "ExitCodes.h"
#include "InstallChanges.h"
#include "InstallLocation.h"
#include "JournalFile.h"
#include "NvDownload.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "PackageFormat.h"
#include "ProtectedFolders.h"
#include "SetupProject.h"
#include "Sha256.h"
#include "Rollback.h"
#include "Setupfn.h"

namespace {

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

}  // namespace

TInstallEngine::TInstallEngine(TInstallHost& host) : FHost(host), FScript(std::make_unique<TSetupScript>()) {}

TInstallEngine::~TInstallEngine() {
  // An engine that ends inside an install (it should not) leaves the pending
  // journal for the next run to roll back.
  FChanges.reset();
  FJournal.reset();
  // The module maps the downloaded file: close it before deleting the file.
  FPackage.Close();
  RemoveDownload();
}

bool TInstallEngine::OpenPackage(const std::wstring& packagePath) {
  FPackagePath = packagePath;
  return FPackage.Open(packagePath);
}

bool TInstallEngine::ResourceExists(const std::wstring& name) const {
  return FPackage.Exists(name, PackageResourceType);
}

bool TInstallEngine::ReadResource(const std::wstring& name, TMemoryStream& stream) {
  std::string bytes;
  if (!FPackage.Read(name, PackageResourceType, bytes)) throw EResNotFound(Format(L"Resource %s not found", {name}));
  stream.Assign(bytes);
  stream.Rewind();
  try {
    TSetupfn::DecodeStream(stream);
  } catch (const Exception& e) {
    throw EZlibError(e.Message() + L" (" + name + L")");
  }
  stream.Rewind();
  return true;
}

bool TInstallEngine::IconIsPng() const {
  return FIconPng.size() >= 8 && FIconPng.compare(0, 8, kPngSignature, 8) == 0;
}

TFolderCheck TInstallEngine::CheckInstallFolder(const std::wstring& folderText) {
  TFolderCheck check;
  std::wstring dir = Trim(folderText);
  TSetupfn::SetAppPath(dir);
  if (dir.empty()) {
    check.Empty = true;
    check.Message = L"安装目录不能为空，请重新输入。";
    return check;
  }
  dir = IncludeTrailingBackslash(dir);
  TSetupfn::SetAppPath(dir);
  RemoveCheckedFolders();
  if (IsProtectedFolder(dir)) {
    check.Message = Format(L"不能安装到此文件夹：%s，请重新输入。", {dir});
    return check;
  }
  if (!AllowAnotherProductsFolder) {
    const std::wstring other = OtherProductIn(dir);
    if (!other.empty()) {
      check.Message = Format(L"此文件夹中已安装了另一个产品（%s）：%s，请重新输入。", {other, dir});
      return check;
    }
  }
  if (!DirectoryExists(dir)) {
    // The levels that are missing, outermost first: the journal records them
    // as the install's own.
    for (std::wstring f = ExcludeTrailingBackslash(dir); !f.empty() && !DirectoryExists(f);) {
      FCheckedFolders.insert(FCheckedFolders.begin(), f);
      const std::wstring parent = ExcludeTrailingBackslash(ExtractFilePath(f));
      if (parent.size() >= f.size()) break;
      f = parent;
    }
    // A creation error is not reported itself: the test below is.
    try {
      ForceDirectories(dir);
    } catch (const std::exception&) {
    }
    if (!DirectoryExists(dir)) {
      RemoveCheckedFolders();
      check.Message = Format(L"创建安装目录失败：%s，请重新输入。", {dir});
      return check;
    }
  }
  // The write test: an empty file of a new name, created exclusively.
  const std::wstring testFile = dir + TNvStrfn::NewGuidString();
  HANDLE file = CreateFileW(testFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  check.Ok = file != INVALID_HANDLE_VALUE;
  if (check.Ok) CloseHandle(file);
  else check.Message = Format(L"尝试在安装目录写入文件失败：%s，请重新输入。", {dir});
  DeleteFileW(testFile.c_str());
  if (!check.Ok) RemoveCheckedFolders();
  return check;
}

std::wstring TInstallEngine::OtherProductIn(const std::wstring& folder) const {
  const std::wstring guid = FScript->BaseInfo()->GUID;
  const std::wstring journal = IncludeTrailingBackslash(folder) + JournalFileName;
  const std::wstring project = IncludeTrailingBackslash(folder) + UninstallProjectFileName;
  if (FileExists(journal)) {
    try {
      const TJournalContents contents = ReadJournalFile(journal);
      if (const TJournalEntry* begin = contents.Begin())
        return SameText(begin->Guid, guid) ? std::wstring() : (begin->Title.empty() ? begin->Guid : begin->Title);
    } catch (const std::exception&) {
    }
    return journal;  // unreadable: whose it is cannot be known
  }
  if (FileExists(project)) {
    try {
      TMemoryStream stream(ReadFileBytes(project));
      if (!stream.Bytes().empty() && stream.Bytes()[0] != '<') TSetupfn::DecodeStream(stream);
      TSetupScript other;
      other.LoadFromStream(stream, 0);
      const TSetupBaseInfo& info = *other.BaseInfo();
      return SameText(info.GUID, guid) ? std::wstring() : (info.AppTitle.empty() ? info.GUID : info.AppTitle);
    } catch (const std::exception&) {
    }
    return project;
  }
  return {};
}

void TInstallEngine::RemoveCheckedFolders() {
  for (auto it = FCheckedFolders.rbegin(); it != FCheckedFolders.rend(); ++it) RemoveDirectoryW(it->c_str());
  FCheckedFolders.clear();
}

TInstallChanges& TInstallEngine::Changes() {
  if (!FChanges) throw Exception(L"The install changes the machine without its journal");
  return *FChanges;
}

void TInstallEngine::SettleUnfinishedInstall() {
  const std::wstring guid = FScript->BaseInfo()->GUID;
  const TSettleResult settled = SettlePendingJournal(
      guid,
      [&](int steps) {
        FHost.ReportMessage(L"上次安装未完成，正在撤销其所做的更改。");
        FHost.SetStage(L"正在撤销更改");
        FHost.SetProgressMax(steps);
      },
      [&](const std::wstring& item) {
        FHost.StepProgress();
        FHost.SetDetail(item);
      });
  if (settled.What == TSettled::stInUse)
    throw Exception(Format(L"%s 的另一个安装程序正在运行。", {FScript->BaseInfo()->AppTitle}));
  if (!settled.NotUndone.empty()) {
    std::wstring list;
    for (const std::wstring& line : settled.NotUndone) list += L"\r\n" + line;
    throw Exception(L"上次未完成的安装无法完全撤销：" + list);
  }
}

void TInstallEngine::BeginChanges() {
  const TSetupBaseInfo& info = *FScript->BaseInfo();
  FJournal = std::make_unique<TJournalWriter>(PendingJournalPath(info.GUID));
  FChanges = std::make_unique<TInstallChanges>(*FJournal);
  TJournalEntry begin;
  begin.Kind = TJournalKind::jkBegin;
  begin.Guid = info.GUID;
  begin.AppDir = TSetupfn::AppPath();
  begin.Title = info.AppTitle;
  begin.Version = info.Version;
  // The folders the install's items may lie in: its own and those of the
  // folder constants as they stand now. The uninstaller touches nothing
  // outside them.
  for (const std::wstring& constant : LocationConstants()) {
    try {
      begin.Roots.push_back(IncludeTrailingBackslash(ExpandLocation(constant)));
    } catch (const ELocationError&) {
      // A constant without a folder here: nothing can lie in it.
    }
  }
  FJournal->Append(begin);
  // The folders of the check are the install's from now on.
  FChanges->FoldersCreated(FCheckedFolders);
  FCheckedFolders.clear();
  // Settling an unfinished install removes the folders it made, the folder
  // that the check found among them: it is made again, as this install's.
  // One that cannot be made lets the first write fail with its own message.
  FChanges->CreateFolders(TSetupfn::AppPath());
  FJournal->Flush();
}

void TInstallEngine::CommitChanges() {
  // The uninstaller's copy holds the whole record, its end included.
  const std::wstring copy = TSetupfn::AppPath() + JournalFileName;
  Changes().PrepareFile(copy, TJournalRole::jrUninstallData);
  TJournalEntry committed;
  committed.Kind = TJournalKind::jkCommitted;
  WriteFileBytes(copy, FJournal->Bytes() + EncodeJournalRecord(committed));
  FChanges->Commit();
  FChanges.reset();
  FJournal->Delete();
  FJournal.reset();
}

std::vector<std::wstring> TInstallEngine::RollBackChanges() {
  std::vector<std::wstring> notUndone;
  if (!FJournal) {
    RemoveCheckedFolders();
    return notUndone;
  }
  const TJournalContents journal = DecodeJournal(FJournal->Bytes());
  FHost.SetStage(L"正在撤销更改");
  FHost.SetProgressMax(RollbackStepCount(journal));
  notUndone = RollBackJournal(journal, [&](const std::wstring& item) {
    FHost.StepProgress();
    FHost.SetDetail(item);
  });
  FHost.CompleteProgress();
  FChanges.reset();
  // What could not be undone keeps its journal: the next run tries again.
  if (notUndone.empty()) FJournal->Delete();
  FJournal.reset();
  return notUndone;
}

void TInstallEngine::EndFailedRun(TInstallOutcome& outcome) {
  const bool anything = FJournal != nullptr;
  std::vector<std::wstring> notUndone;
  try {
    notUndone = RollBackChanges();
  } catch (const std::exception& e) {
    notUndone.push_back(ExceptionMessage(e));
  }
  if (!notUndone.empty()) {
    std::wstring list;
    for (const std::wstring& line : notUndone) list += L"\r\n" + line;
    FHost.ReportMessage(L"安装未完成，以下更改未能撤销：" + list);
    outcome.ExitCode = kExitRollbackIncomplete;
    return;
  }
  if (anything) FHost.ReportMessage(L"安装未完成，已撤销所做的更改。");
}

TInstallOutcome TInstallEngine::RunInstallSteps() {
  TInstallOutcome outcome;
  try {
    SettleUnfinishedInstall();
    BeginChanges();
    RunInstallOperations();
    CommitChanges();
    return outcome;
  } catch (const EInstallStopped& e) {
    outcome = {e.ExitCode, e.Message(), true};
  } catch (const std::exception& e) {
    outcome = {kExitInstallFailed, ExceptionMessage(e)};
    FHost.ReportMessage(outcome.Reason);
  }
  EndFailedRun(outcome);
  return outcome;
}

void TInstallEngine::RunInstallOperations() {
  TSetupScript& script = *FScript;
  FHost.SetProgressMax(script.FileList()->Count() + script.RegList()->Count() + script.ShortCutList()->Count());
  FHost.SetStage(L"正在检查旧版本");
  FHost.ProcessMessages();
  RemovePreviousVersion();
  StopRunningPrograms();
  FHost.SetStage(L"正在安装");
  FHost.ProcessMessages();
  // The journal reaches the disk at the end of each step: a record per
  // file is written at once, but not flushed one by one.
  InstallFiles();
  Changes().Flush();
  WriteRegistryEntries();
  Changes().Flush();
  CreateShortcuts();
  Changes().Flush();
  WriteUninstallData();
  RegisterUninstall();
}
