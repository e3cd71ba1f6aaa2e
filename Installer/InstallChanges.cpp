// Journaled changes: each is recorded before it is made.
#include "InstallChanges.h"

#include <windows.h>

#include <zlib.h>

#include <algorithm>

#include "InstallLocation.h"
#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvPlatform.h"
#include "NvRegKey.h"
#include "NvSysError.h"
#include "NvSysUtils.h"
#include "Win/RegRootKey.h"

namespace {

// The parts of a registry key path.
std::vector<std::wstring> KeyParts(const std::wstring& key) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start <= key.size()) {
    std::size_t end = key.find(L'\\', start);
    if (end == std::wstring::npos) end = key.size();
    if (end > start) parts.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Whether nothing is at path: only "not found" counts, never a refusal, so
// that an item which exists but cannot be looked at is never taken for one
// the install made.
bool NothingAt(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool KeyMissing(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  const LONG rc = RegOpenKeyExW(root, path.c_str(), 0, NvRegAccess(KEY_QUERY_VALUE), &key);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace

uint32_t BytesAdler32(const std::string& bytes) {
  return static_cast<uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

uint32_t FileAdler32(const std::wstring& path) { return BytesAdler32(ReadFileBytes(path)); }

void TInstallChanges::FoldersCreated(const std::vector<std::wstring>& folders) {
  for (const std::wstring& folder : folders) {
    TJournalEntry e;
    e.Kind = TJournalKind::jkFolderCreated;
    e.Role = TJournalRole::jrFolder;
    e.Path = IncludeTrailingBackslash(folder);
    FJournal.Append(e);
  }
}

bool TInstallChanges::CreateFolders(const std::wstring& folder) {
  const std::wstring target = ExcludeTrailingBackslash(folder);
  if (target.empty() || DirectoryExists(target)) return !target.empty();
  // The missing levels, outermost first.
  std::vector<std::wstring> missing;
  for (std::wstring f = target; !f.empty() && NothingAt(f);) {
    missing.insert(missing.begin(), f);
    const std::wstring parent = ExcludeTrailingBackslash(ExtractFilePath(f));
    if (parent.size() >= f.size()) break;  // a root that does not exist
    f = parent;
  }
  for (const std::wstring& f : missing) {
    FoldersCreated({f});
    if (!CreateDirectoryW(f.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return DirectoryExists(target);
}

std::wstring TInstallChanges::PrepareFile(const std::wstring& path, TJournalRole role) {
  TJournalEntry e;
  e.Role = role;
  e.Path = path;
  if (NothingAt(path)) {
    e.Kind = TJournalKind::jkFileCreated;
    FJournal.Append(e);
    return {};
  }
  // A folder of that name is never moved: the file cannot be created, and
  // says so as creating it would.
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
    throw EFCreateError(Format(L"Cannot create file \"%s\". %s", {path, SysErrorMessage(ERROR_ACCESS_DENIED)}));
  // The earlier file stays whole, under another name beside it, until the
  // install has finished: a rollback puts it back.
  e.Kind = TJournalKind::jkFileReplaced;
  e.Backup = ExtractFilePath(path) + L"~nvkeep-" + TNvStrfn::NewGuidString() + L".tmp";
  FJournal.Append(e);
  if (!MoveFileExW(path.c_str(), e.Backup.c_str(), 0))
    throw EFCreateError(Format(L"Cannot create file \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
  FKept.push_back(e.Backup);
  return e.Backup;
}

void TInstallChanges::FileAbandoned(const std::wstring& path, const std::wstring& backup) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
  if (backup.empty()) return;
  // The journal still names the kept copy; with it gone, a rollback leaves
  // the earlier file where it is now.
  if (MoveFileExW(backup.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    FKept.erase(std::remove(FKept.begin(), FKept.end(), backup), FKept.end());
}

void TInstallChanges::FileWritten(const std::wstring& path, TJournalRole role, uint32_t checksum, void* handle) {
  DWORD sizeHigh = 0, sizeLow = 0;
  FILETIME written{};
  LARGE_INTEGER size{};
  WIN32_FILE_ATTRIBUTE_DATA data{};
  // Size and time alone: the whole information of a handle costs Wine
  // several server calls per file.
  if (handle && GetFileSizeEx(static_cast<HANDLE>(handle), &size) &&
      GetFileTime(static_cast<HANDLE>(handle), nullptr, nullptr, &written)) {
    sizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
    sizeLow = static_cast<DWORD>(size.QuadPart & 0xFFFFFFFF);
  } else if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    sizeHigh = data.nFileSizeHigh;
    sizeLow = data.nFileSizeLow;
    written = data.ftLastWriteTime;
  } else {
    throw EOSError(Format(L"Cannot read the attributes of \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
  }
  TJournalEntry e;
  e.Kind = TJournalKind::jkFileState;
  e.Role = role;
  e.Path = path;
  e.Size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  e.WriteTime = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  e.Checksum = checksum;
  FJournal.Append(e);
}

void TInstallChanges::SetValue(TRegRootKey root, const std::wstring& key, const std::wstring& name,
                               const TRegData& data, TJournalRole role) {
  const HKEY hroot = RegRootKeyToHKey(root);
  // Each missing key of the path is recorded before it is created, outermost
  // first: a rollback removes them innermost first, when empty.
  std::wstring path;
  bool missing = false;
  for (const std::wstring& part : KeyParts(key)) {
    path += (path.empty() ? L"" : L"\\") + part;
    if (!missing && !KeyMissing(hroot, path)) continue;
    missing = true;
    TJournalEntry created;
    created.Kind = TJournalKind::jkKeyCreated;
    created.Role = role;
    created.Root = root;
    created.Path = path;
    FJournal.Append(created);
  }
  TNvRegKey regKey;
  if (!regKey.OpenOrCreate(hroot, key))
    throw ERegistryException(Format(L"Failed to open the key '%s\\%s'", {RegistryRootName(root), key}));
  TJournalEntry e;
  e.Kind = TJournalKind::jkValueWritten;
  e.Role = role;
  e.Root = root;
  e.Path = key;
  e.Name = name;
  e.New = data;
  e.HadOld = regKey.ReadRaw(name, e.Old.Type, e.Old.Bytes);
  if (!e.HadOld) e.Old = {};
  FJournal.Append(e);
  regKey.WriteRaw(name, data.Type, data.Bytes);
}

void TInstallChanges::Commit() {
  TJournalEntry e;
  e.Kind = TJournalKind::jkCommitted;
  FJournal.Append(e);
  FJournal.Flush();
  for (const std::wstring& kept : FKept) {
    SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A kept copy still in use goes at the next restart.
    if (!DeleteFileW(kept.c_str())) MoveFileExW(kept.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  FKept.clear();
}
