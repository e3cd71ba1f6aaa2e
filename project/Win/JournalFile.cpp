// Install journals on disk: the pending journal of an install in progress,
// written record by record, and journals read back.
#include "JournalFile.h"

#include <shlobj.h>

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysError.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

namespace {

[[noreturn]] void RaiseFileError(const wchar_t* what, const std::wstring& path, DWORD error) {
  throw EOSError(Format(L"%s \"%s\". %s", {std::wstring(what), path, SysErrorMessage(error)}));
}

}  // namespace

std::wstring PendingJournalFolder() {
  const std::wstring data = TNvRegfn::GetSpecialFolderPath(CSIDL_COMMON_APPDATA);
  if (data.empty()) throw EOSError(L"The system names no folder for common application data");
  return IncludeTrailingBackslash(data) + L"NvSetup\\";
}

std::wstring PendingJournalPath(const std::wstring& guid) { return PendingJournalFolder() + guid + L".jnl"; }

TJournalWriter::TJournalWriter(const std::wstring& path) : FPath(path) {
  ForceDirectories(ExtractFilePath(path));
  FHandle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
  if (FHandle == INVALID_HANDLE_VALUE) RaiseFileError(L"Cannot create the install journal", path, GetLastError());
  FBytes = JournalHeader();
  WriteOut();
}

TJournalWriter::~TJournalWriter() {
  if (FHandle == INVALID_HANDLE_VALUE) return;
  // A journal kept for the next run (its rollback was not finished) gets
  // its waiting records too.
  try {
    WriteOut();
  } catch (const Exception&) {
  }
  CloseHandle(FHandle);
}

bool TJournalWriter::CutTo(std::size_t size) {
  return SetFilePointer(FHandle, static_cast<LONG>(size), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
         SetEndOfFile(FHandle);
}

void TJournalWriter::WriteOut() {
  if (FOnDisk == FBytes.size()) return;
  const DWORD size = static_cast<DWORD>(FBytes.size() - FOnDisk);
  DWORD written = 0;
  if (!WriteFile(FHandle, FBytes.data() + FOnDisk, size, &written, nullptr) || written != size) {
    const DWORD error = GetLastError();
    // The file ends where it ended: a part written is cut off again.
    CutTo(FOnDisk);
    RaiseFileError(L"Cannot write the install journal", FPath, error);
  }
  FOnDisk = FBytes.size();
}

void TJournalWriter::Append(const TJournalEntry& entry) {
  AppendLater(entry);
  WriteOut();
}

void TJournalWriter::AppendLater(const TJournalEntry& entry) {
  FLastRecord = FBytes.size();
  FBytes += EncodeJournalRecord(entry);
}

void TJournalWriter::Retract(const TJournalEntry& entry) {
  if (FBytes.compare(FLastRecord, std::string::npos, EncodeJournalRecord(entry)) != 0)
    throw EOSError(Format(L"The install journal \"%s\" does not end with the record to take back", {FPath}));
  // Taken out of the record first: a rollback of this run reads it.
  FBytes.resize(FLastRecord);
  if (FOnDisk > FBytes.size()) {
    FOnDisk = FBytes.size();
    if (!CutTo(FOnDisk)) RaiseFileError(L"Cannot write the install journal", FPath, GetLastError());
  }
}

void TJournalWriter::Flush() {
  WriteOut();
  if (!FlushFileBuffers(FHandle)) RaiseFileError(L"Cannot write the install journal", FPath, GetLastError());
}

void TJournalWriter::Delete() {
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  FHandle = INVALID_HANDLE_VALUE;
  DeleteFileW(FPath.c_str());
  // The setup program's folder goes with its last journal.
  RemoveDirectoryW(ExcludeTrailingBackslash(ExtractFilePath(FPath)).c_str());
}

TPendingJournal OpenPendingJournal(const std::wstring& guid, HANDLE& handle, std::string& bytes) {
  const std::wstring path = PendingJournalPath(guid);
  handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return TPendingJournal::pjNone;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return TPendingJournal::pjInUse;
    RaiseFileError(L"Cannot open the install journal", path, error);
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(handle, &size);
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    RaiseFileError(L"Cannot read the install journal", path, error);
  }
  return TPendingJournal::pjFound;
}

TJournalContents ReadJournalFile(const std::wstring& path) {
  try {
    return DecodeJournal(ReadFileBytes(path));
  } catch (const EJournalError& e) {
    throw EJournalError(path + L": " + e.Message());
  }
}
