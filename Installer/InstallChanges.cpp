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

// FNV-1a of a path's upper-case UTF-16 units, without a trailing backslash.
uint64_t PathHash(const std::wstring& path) {
  uint64_t h = 14695981039346656037ull;
  for (wchar_t c : UpperCase(ExcludeTrailingBackslash(path))) {
    h ^= static_cast<uint16_t>(c);
    h *= 1099511628211ull;
  }
  return h ? h : 1;  // 0 marks a free slot
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
    FOwnFolders.Insert(PathHash(folder));
  }
}

bool TInstallChanges::CreateFolders(const std::wstring& folder) {
  const std::wstring target = ExcludeTrailingBackslash(folder);
  if (target.empty()) return false;
  const uint64_t key = PathHash(target);
  if (FKnownFolders.Contains(key)) return true;
  if (DirectoryExists(target)) {
    FKnownFolders.Insert(key);
    return true;
  }
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
  if (!DirectoryExists(target)) return false;
  FKnownFolders.Insert(key);
  return true;
}

std::wstring TInstallChanges::PrepareFile(const std::wstring& path, TJournalRole role, bool* unlooked) {
  TJournalEntry e;
  e.Role = role;
  e.Path = path;
  // Nothing is in a folder this run created but what it put there.
  const bool fresh = FPrepared.Insert(PathHash(path));
  const bool trusted = unlooked && fresh && FOwnFolders.Contains(PathHash(ExtractFilePath(path)));
  if (unlooked) *unlooked = trusted;
  if (trusted || NothingAt(path)) {
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

void TInstallChanges::THashSet::Reserve(std::size_t count) {
  std::size_t size = 64;
  while (size < 2 * (FCount + count)) size *= 2;
  if (size <= FSlots.size()) return;
  std::vector<uint64_t> old(size, 0);
  old.swap(FSlots);
  FCount = 0;
  for (uint64_t hash : old)
    if (hash) Insert(hash);
}

bool TInstallChanges::THashSet::Insert(uint64_t hash) {
  if (2 * (FCount + 1) > FSlots.size()) Reserve(FCount + 1);
  const std::size_t mask = FSlots.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    if (FSlots[i] == hash) return false;
    if (FSlots[i] == 0) {
      FSlots[i] = hash;
      ++FCount;
      return true;
    }
  }
}

bool TInstallChanges::THashSet::Contains(uint64_t hash) const {
  if (FSlots.empty()) return false;
  const std::size_t mask = FSlots.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask; FSlots[i] != 0; i = (i + 1) & mask)
    if (FSlots[i] == hash) return true;
  return false;
}

void TInstallChanges::THashSet::Clear() {
  std::fill(FSlots.begin(), FSlots.end(), 0);
  FCount = 0;
}

void TInstallChanges::ExpectFiles(std::size_t count) {
  FPrepared.Reserve(count);
  FKnownFolders.Reserve(count / 8 + 64);
  FOwnFolders.Reserve(count / 8 + 64);
}

bool TInstallChanges::NameTaken(const std::wstring& path, TJournalRole role) {
  if (NothingAt(path)) return false;
  TJournalEntry e;
  e.Kind = TJournalKind::jkFileCreated;
  e.Role = role;
  e.Path = path;
  FJournal.Retract(e);
  // Another program writes in the run's folders: each name is looked at.
  FOwnFolders.Clear();
  return true;
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
  FJournal.AppendLater(e);
}

void TInstallChanges::SetValue(TRegRootKey root, const std::wstring& key, const std::wstring& name,
                               const TRegData& data, TJournalRole role) {
  const HKEY hroot = RegRootKeyToHKey(root);
  // Each missing key of the path is recorded before it is created, outermost
  // first: a rollback removes them innermost first, when empty. Most values
  // go to a key that is there, which one look tells.
  if (KeyMissing(hroot, key)) {
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
