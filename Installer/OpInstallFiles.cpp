// Installation of the project's files from the package resources.
#include <windows.h>

#include "MainFrm.h"
#include "NvExceptions.h"
#include "NvStream.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"
#include "SetupProject.h"
#include "Setupfn.h"

namespace {

std::wstring SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : L"System error " + IntToStr(code);
  if (buffer) LocalFree(buffer);
  return TrimRight(text);
}

// Creates (or replaces) fileName, exclusive while open, and writes bytes in
// one piece. Raises EFCreateError / EInOutError naming the file and the cause.
void WriteWholeFile(const std::wstring& fileName, const std::string& bytes) {
  HANDLE h = CreateFileW(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw EFCreateError(Format(L"Cannot create file \"%s\". %s", {fileName, SystemErrorText(GetLastError())}));
  DWORD done = 0;
  std::size_t offset = 0;
  DWORD error = ERROR_SUCCESS;
  while (offset < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, 1u << 30));
    if (!WriteFile(h, bytes.data() + offset, chunk, &done, nullptr) || done == 0) {
      error = GetLastError();
      break;
    }
    offset += done;
  }
  CloseHandle(h);
  if (offset < bytes.size())
    throw EInOutError(Format(L"Cannot write file \"%s\". %s", {fileName, SystemErrorText(error)}));
}

}  // namespace

void TMainForm::InstallFiles() {
  TSetupFileList* files = FScript->FileList();
  const int count = files->Count();
  for (int i = 0; i < count; ++i) {
    const TSetupFile* item = files->Items(i);
    StepProgress();
    TMemoryStream payload;
    if (item->FileBytes > 0) ReadResource(item->ResID, payload);
    const std::wstring dest = IncludeTrailingBackslash(TSetupfn::ExpandConstants(item->DestDir)) + item->SourceMask;
    SetDetail(dest);
    WriteFileWithRetry(*item, payload, dest);
  }
}

void TMainForm::WriteFileWithRetry(const TSetupFile& item, TMemoryStream& payload, const std::wstring& dest) {
  for (;;) {
    try {
      TNvFilefn::ForceFileDir(dest);
      WriteWholeFile(dest, payload.Bytes());
      if (payload.Size() > 0) {
        TFileTimes times;
        times.CreationTime = Now();
        times.LastAccessTime = times.CreationTime;
        times.LastWriteTime = item.LastWriteDate;
        TNvFilefn::SetFileTimes(dest, times);
      }
      return;
    } catch (const Exception& e) {
      switch (AskCopyFailure(dest, e.Message())) {
        case mrRetry:
          continue;
        case mrIgnore:
          return;
        default:
          ExitSetup(kExitUserAborted);
      }
    }
  }
}
