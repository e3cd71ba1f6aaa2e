// Installation of the project's files from the package resources.
#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "SetupText.h"
#include "Setupfn.h"


void TInstallEngine::InstallFiles() {
  TSetupFileList* files = FScript->FileList();
  const int count = files->Count();
  for (int i = 0; i < count; ++i) {
    const TSetupFile* item = files->Items(i);
    FHost.StepProgress();
    const std::wstring dest = IncludeTrailingBackslash(TSetupfn::ExpandConstants(item->DestDir)) + item->SourceMask;
    TMemoryStream payload;
    if (item->FileBytes > 0) ReadPayload(*item, dest, payload);
    FHost.SetDetail(dest);
    WriteFileWithRetry(*item, payload, dest);
  }
}

void TInstallEngine::ReadPayload(const TSetupFile& item, const std::wstring& destFile, TMemoryStream& payload) {
  if (item.ResID.empty()) throw EResNotFound(DamagedFileMessage(destFile, L"the file item names no package resource"));
  std::string bytes;
  if (!FPackage.Read(item.ResID, PackageResourceType, bytes))
    throw EResNotFound(DamagedFileMessage(destFile, Format(L"its resource %s is missing", {item.ResID})));
  payload.Assign(bytes);
  payload.Rewind();
  try {
    TSetupfn::DecodeStream(payload);
  } catch (const Exception& e) {
    throw EZlibError(DamagedFileMessage(destFile, e.Message()));
  }
  payload.Rewind();
}

void TInstallEngine::WriteFileWithRetry(const TSetupFile& item, TMemoryStream& payload, const std::wstring& dest) {
  for (;;) {
    try {
      TNvFilefn::ForceFileDir(dest);
      WriteFileBytes(dest, payload.Bytes(), TFileShare::fsExclusive);
      if (payload.Size() > 0) {
        TFileTimes times;
        times.CreationTime = Now();
        times.LastAccessTime = times.CreationTime;
        times.LastWriteTime = item.LastWriteDate;
        TNvFilefn::SetFileTimes(dest, times);
      }
      return;
    } catch (const Exception& e) {
      switch (FHost.AskCopyFailure(dest, e.Message())) {
        case TCopyFailureAnswer::cfRetry:
          continue;
        case TCopyFailureAnswer::cfSkip:
          return;
        default:
          FHost.ExitSetup(kExitUserAborted);
      }
    }
  }
}
