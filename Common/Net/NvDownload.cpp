#include "NvDownload.h"

#include "NvExceptions.h"
#include "NvSysError.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

namespace {

constexpr unsigned kPartialContent = 206;

// A 206 answer for another part of the resource than the one asked for.
struct TWrongRange {
  std::wstring Message;
};

bool IsWeakETag(const std::wstring& etag) { return etag.size() >= 2 && (etag[0] == L'W' || etag[0] == L'w') && etag[1] == L'/'; }

}  // namespace

bool DeleteFileNowOrAtRestart(const std::wstring& fileName) {
  if (DeleteFileW(fileName.c_str())) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
  return MoveFileExW(fileName.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

TNvDownload::TNvDownload(std::wstring url, std::wstring fileName) : FUrl(std::move(url)), FFileName(std::move(fileName)) {}

TNvDownload::~TNvDownload() {
  if (!FKept) Discard();
  else if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
}

void TNvDownload::OpenFile() {
  if (FFile != INVALID_HANDLE_VALUE) return;
  TNvFilefn::ForceFileDir(FFileName);
  // Others may read it, but neither write nor delete it while it is ours.
  FFile = CreateFileW(FFileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FFile == INVALID_HANDLE_VALUE)
    throw EFCreateError(L"Cannot create file \"" + FFileName + L"\". " + SysErrorMessage(GetLastError()));
  FKept = false;
  FReceived = 0;
}

void TNvDownload::StartOver() {
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(FFile, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(FFile))
    throw EInOutError(L"Cannot write file \"" + FFileName + L"\". " + SysErrorMessage(GetLastError()));
  FReceived = 0;
  FTotal = -1;
  if (OnRestart) OnRestart();
}

void TNvDownload::Write(const char* data, std::size_t size) {
  DWORD written = 0;
  if (!WriteFile(FFile, data, static_cast<DWORD>(size), &written, nullptr) || written != size)
    throw EInOutError(L"Cannot write file \"" + FFileName + L"\". " + SysErrorMessage(GetLastError()));
  FReceived += static_cast<int64_t>(size);
  if (OnData) OnData(data, size);
  if (OnWork) OnWork(&Http, wmRead, FReceived);
}

bool TNvDownload::Run() {
  if (FComplete) return true;
  OpenFile();
  std::size_t pauses = 0;  // automatic tries since the last one that moved the file on
  for (int attempt = 1;; ++attempt) {
    const int64_t before = FReceived;
    // Without a validator the server could send the rest of another file.
    if (FReceived > 0 && FValidator.empty()) StartOver();
    const TNvHttp::TRange range{FReceived, FValidator};
    const bool resuming = FReceived > 0;
    bool whole = false, wrongRange = false;
    try {
      whole = Http.Get(
          FUrl, resuming ? &range : nullptr,
          [&](const TNvHttp::TAnswer& answer) {
            if (answer.Status == kPartialContent) {
              if (!resuming || answer.Offset != FReceived)
                throw TWrongRange{L"The server sent bytes from " + IntToStr(answer.Offset) + L" on, not from " +
                                  IntToStr(FReceived)};
            } else if (FReceived > 0) {
              // The whole body again (the server ignores ranges, or its copy changed).
              StartOver();
            }
            if (answer.Status != kPartialContent || FValidator.empty()) {
              FValidator = !answer.ETag.empty() && !IsWeakETag(answer.ETag) ? answer.ETag : answer.LastModified;
            }
            FTotal = answer.Total;
            if (OnWorkBegin) OnWorkBegin(&Http, wmRead, FTotal > 0 ? FTotal : 0);
            if (OnWork) OnWork(&Http, wmRead, FReceived);
          },
          [&](const char* data, std::size_t size) { Write(data, size); });
      ErrorMessage = Http.ErrorMessage;
    } catch (const TWrongRange& wrong) {
      ErrorMessage = wrong.Message;
      wrongRange = true;
    }
    bool again = Http.BodyBroken;
    if (whole) {
      if (FTotal < 0 || FReceived >= FTotal) {
        FTotal = FReceived;
        FComplete = true;
        return true;
      }
      // A range answer that stopped short of the end: the rest is asked for again.
      ErrorMessage = L"The server sent " + IntToStr(FReceived) + L" of " + IntToStr(FTotal) + L" bytes";
      again = true;
    }
    if (wrongRange || (resuming && Http.StatusCode == 416)) {
      // The server cannot give the part asked for: the next try takes the whole body.
      FValidator.clear();
      again = true;
    }
    if (!again) return false;
    if (FReceived - before >= ProgressReset) pauses = 0;
    if (pauses >= RetryPauses.size()) return false;
    const int pause = RetryPauses[pauses++];
    if (OnRetry)
      OnRetry(pause, attempt + 1, ErrorMessage);
    else
      Sleep(static_cast<DWORD>(pause));
  }
}

void TNvDownload::Keep() {
  if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
  // What was checked stays what is read: readers only, no writer, no
  // deletion or renaming, until Discard or the end of this object.
  FFile = CreateFileW(FFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  FKept = true;
}

void TNvDownload::Discard() {
  const bool opened = FFile != INVALID_HANDLE_VALUE;
  if (opened) CloseHandle(FFile);
  FFile = INVALID_HANDLE_VALUE;
  if (opened || FKept) DeleteFileNowOrAtRestart(FFileName);
  FKept = false;
  FComplete = false;
  FReceived = 0;
  FTotal = -1;
}
