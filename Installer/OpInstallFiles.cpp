// Installation of the project's files from the package resources.
#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvStream.h"
#include "PackageCodec.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "SetupProject.h"
#include "SetupText.h"
#include "Setupfn.h"


namespace {

// A payload that cannot be decoded: not a failure to write the file, so it
// does not go to the copy-failure question.
class EDamagedPayload : public Exception {
public:
  using Exception::Exception;
};

}  // namespace

void TInstallEngine::InstallFiles() {
  TSetupFileList* files = FScript->FileList();
  const int count = files->Count();
  for (int i = 0; i < count; ++i) {
    const TSetupFile* item = files->Items(i);
    FHost.StepProgress();
    const std::wstring dest = IncludeTrailingBackslash(TSetupfn::ExpandConstants(item->DestDir)) + item->SourceMask;
    if (item->FileBytes > 0) {
      if (item->ResID.empty())
        throw EResNotFound(DamagedFileMessage(dest, L"the file item names no package resource"));
      if (!FPackage.Exists(item->ResID, PackageResourceType))
        throw EResNotFound(DamagedFileMessage(dest, Format(L"its resource %s is missing", {item->ResID})));
    }
    FHost.SetDetail(dest);
    WriteFileWithRetry(*item, dest);
  }
}

void TInstallEngine::DecodePayloadInto(const TSetupFile& item, TFileWriter& file) {
  // The content may not grow past the size the project gives it: a payload
  // that would is damaged (or made to fill the disk).
  const uint64_t limit = static_cast<uint64_t>(item.FileBytes);
  uint64_t written = 0;
  try {
    TPackageDecoder decoder([&](const char* data, std::size_t size) {
      written += size;
      if (written > limit) throw EZlibError(L"Decompression error: the content is larger than the file item says");
      file.Write(data, size);
    });
    if (!FPackage.ReadInPieces(item.ResID, PackageResourceType,
                               [&](const char* data, std::size_t size) { decoder.Write(data, size); }))
      throw EDamagedPayload(DamagedFileMessage(file.FileName(), Format(L"its resource %s is missing", {item.ResID})));
    decoder.Finish();
  } catch (const EZlibError& e) {
    throw EDamagedPayload(DamagedFileMessage(file.FileName(), e.Message()));
  }
}

void TInstallEngine::WriteFileWithRetry(const TSetupFile& item, const std::wstring& dest) {
  for (;;) {
    try {
      TNvFilefn::ForceFileDir(dest);
      {
        TFileWriter file(dest, TFileShare::fsExclusive);
        // Once the file is created, a failed write (a full disk) or a damaged
        // payload leaves no cut-off file that would look installed; the old
        // content is gone with the creation already.
        try {
          if (item.FileBytes > 0) {
            DecodePayloadInto(item, file);
            TFileTimes times;
            times.CreationTime = Now();
            times.LastAccessTime = times.CreationTime;
            times.LastWriteTime = item.LastWriteDate;
            TNvFilefn::SetFileTimes(static_cast<HANDLE>(file.Handle()), times);
          }
          file.Close();
        } catch (const Exception&) {
          try {
            file.Close();
          } catch (const Exception&) {
          }
          RemoveFile(dest);
          throw;
        }
      }
      return;
    } catch (const EDamagedPayload& e) {
      throw EZlibError(e.Message());
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
