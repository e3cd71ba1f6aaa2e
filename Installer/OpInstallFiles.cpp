// Installation of the project's files from the package resources.
#include <memory>
#include <vector>

#include "ExitCodes.h"
#include "InstallEngine.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvStream.h"
#include "PackageCodec.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "PackageFormat.h"
#include "PayloadPrefetch.h"
#include "SetupProject.h"
#include "SetupText.h"
#include "InstallChanges.h"
#include "InstallLocation.h"
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
  // Every payload that lies in the package file is decoded ahead, in list
  // order, while the files are written here.
  std::vector<TPayloadPrefetch::TJob> jobs;
  std::vector<std::size_t> jobOf(count, kNoJob);
  for (int i = 0; i < count; ++i) {
    const TSetupFile* item = files->Items(i);
    TPayloadPrefetch::TJob job;
    if (item->FileBytes > 0 && !item->ResID.empty() &&
        FPackage.Locate(item->ResID, PackageResourceType, job.Offset, job.Size)) {
      job.Limit = static_cast<uint64_t>(item->FileBytes);
      jobOf[i] = jobs.size();
      jobs.push_back(job);
    }
  }
  std::unique_ptr<TPayloadPrefetch> prefetch;
  if (!jobs.empty()) prefetch = std::make_unique<TPayloadPrefetch>(FPackage.FileName(), std::move(jobs));
  FPrefetch = prefetch && prefetch->Started() ? prefetch.get() : nullptr;
  struct TReset {
    TInstallEngine& E;
    ~TReset() {
      E.FPrefetch = nullptr;
      E.FPrefetchJob = kNoJob;
    }
  } reset{*this};

  // The earlier version's uninstaller has run since the install folder was
  // made sure of: it may have removed it.
  Changes().LookAgain();
  Changes().ExpectFiles(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const TSetupFile* item = files->Items(i);
    FHost.StepProgress();
    const std::wstring dest = FileTarget(*item);
    if (item->FileBytes > 0) {
      if (item->ResID.empty())
        throw EResNotFound(DamagedFileMessage(dest, L"the file item names no package resource"));
      if (jobOf[i] == kNoJob && !FPackage.Exists(item->ResID, PackageResourceType))
        throw EResNotFound(DamagedFileMessage(dest, Format(L"its resource %s is missing", {item->ResID})));
    }
    FHost.SetDetail(dest);
    FPrefetchJob = jobOf[i];
    WriteFileWithRetry(*item, dest);
  }
}

uint32_t TInstallEngine::DecodePayloadInto(const TSetupFile& item, TFileWriter& file) {
  // The content may not grow past the size the project gives it: a payload
  // that would is damaged (or made to fill the disk).
  const uint64_t limit = static_cast<uint64_t>(item.FileBytes);
  uint64_t written = 0;
  try {
    if (FPrefetch && FPrefetchJob != kNoJob) {
      const std::size_t job = FPrefetchJob;
      FPrefetchJob = kNoJob;
      return FPrefetch->Take(job, [&](const char* data, std::size_t size) { file.Write(data, size); });
    }
    TPackageDecoder decoder([&](const char* data, std::size_t size) {
      CheckContentLimit(written += size, limit);
      file.Write(data, size);
    });
    if (!FPackage.ReadInPieces(item.ResID, PackageResourceType,
                               [&](const char* data, std::size_t size) { decoder.Write(data, size); }))
      throw EDamagedPayload(DamagedFileMessage(file.FileName(), Format(L"its resource %s is missing", {item.ResID})));
    decoder.Finish();
    return decoder.ContentAdler32();
  } catch (const EZlibError& e) {
    throw EDamagedPayload(DamagedFileMessage(file.FileName(), e.Message()));
  }
}

void TInstallEngine::WriteFileWithRetry(const TSetupFile& item, const std::wstring& dest) {
  TInstallChanges& changes = Changes();
  for (;;) {
    try {
      changes.CreateFolders(ExtractFilePath(dest));
      // An earlier file is moved aside first (a file in use cannot be, and
      // fails here as creating it would). The record comes before the file:
      // a setup ended at any point leaves nothing its journal does not name.
      bool unlooked = false;
      const std::wstring backup = changes.PrepareFile(dest, TJournalRole::jrFile, &unlooked);
      uint32_t checksum = 1;  // the Adler-32 of no bytes
      try {
        // A name recorded as new without a look is created as new only:
        // what another program made there meanwhile is never truncated.
        TFileWriter file(dest, TFileShare::fsExclusive, unlooked ? TFileCreate::fcNew : TFileCreate::fcAlways);
        if (item.FileBytes > 0) {
          checksum = DecodePayloadInto(item, file);
          TFileTimes times;
          times.CreationTime = Now();
          times.LastAccessTime = times.CreationTime;
          times.LastWriteTime = item.LastWriteDate;
          TNvFilefn::SetFileTimes(static_cast<HANDLE>(file.Handle()), times);
        }
        changes.FileWritten(dest, TJournalRole::jrFile, checksum, file.Handle());
        file.Close();
      } catch (const EFCreateError&) {
        if (unlooked && changes.NameTaken(dest, TJournalRole::jrFile)) continue;
        changes.FileAbandoned(dest, backup);
        throw;
      } catch (const Exception&) {
        // A failed write (a full disk) or a damaged payload leaves no cut-off
        // file that would look installed, and the earlier file comes back.
        changes.FileAbandoned(dest, backup);
        throw;
      }
      return;
    } catch (const EDamagedPayload& e) {
      throw EZlibError(e.Message());
    } catch (const EInstallStopped&) {
      throw;
    } catch (const Exception& e) {
      changes.LookAgain();
      switch (FHost.AskCopyFailure(dest, e.Message())) {
        case TCopyFailureAnswer::cfRetry:
          continue;
        case TCopyFailureAnswer::cfSkip:
          return;
        default:
          throw EInstallStopped(kExitUserAborted, e.Message());
      }
    }
  }
}
