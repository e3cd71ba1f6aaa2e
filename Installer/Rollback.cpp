// The rollback of an install from its journal.
#include "Rollback.h"

#include <windows.h>

#include "JournalFile.h"
#include "NvExceptions.h"
#include "NvRegKey.h"
#include "NvSysUtils.h"
#include "SetupProject.h"
#include "Win/RegRootKey.h"
#include "InstallLocation.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Deletes a file (never a folder); true when no file is left at path.
bool DeleteIfThere(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return true;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return false;
  if (attrs & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
  return DeleteFileW(path.c_str()) != FALSE;
}

std::wstring KeyText(const TJournalEntry& e) {
  return RegistryRootName(static_cast<TRegRootKey>(e.Root)) + L"\\" + e.Path;
}

// Undoes one entry; false when it could not be undone.
bool Undo(const TJournalEntry& e) {
  switch (e.Kind) {
    case TJournalKind::jkFileCreated:
      return DeleteIfThere(e.Path);
    case TJournalKind::jkFileReplaced:
      // No kept copy: the earlier file was never moved aside, or has been
      // put back already.
      if (!Exists(e.Backup)) return true;
      SetFileAttributesW(e.Path.c_str(), FILE_ATTRIBUTE_NORMAL);
      return MoveFileExW(e.Backup.c_str(), e.Path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    case TJournalKind::jkFolderCreated: {
      // Only when empty: whatever is left inside is not the install's to take.
      const std::wstring folder = ExcludeTrailingBackslash(e.Path);
      if (Exists(folder)) RemoveDirectoryW(folder.c_str());
      return true;
    }
    case TJournalKind::jkKeyCreated:
      TNvRegKey::DeleteEmptyKey(RegRootKeyToHKey(static_cast<TRegRootKey>(e.Root)), e.Path);
      return true;
    case TJournalKind::jkValueWritten: {
      const HKEY root = RegRootKeyToHKey(static_cast<TRegRootKey>(e.Root));
      TNvRegKey key;
      if (!e.HadOld) return !key.Open(root, e.Path) || key.DeleteValue(e.Name);
      if (!key.OpenOrCreate(root, e.Path)) return false;
      try {
        key.WriteRaw(e.Name, e.Old.Type, e.Old.Bytes);
      } catch (const Exception&) {
        return false;
      }
      return true;
    }
    case TJournalKind::jkBegin:
    case TJournalKind::jkFileState:
    case TJournalKind::jkCommitted:
      break;
  }
  return true;
}

std::wstring ItemText(const TJournalEntry& e) {
  switch (e.Kind) {
    case TJournalKind::jkKeyCreated:
      return KeyText(e);
    case TJournalKind::jkValueWritten:
      return KeyText(e) + L"\\" + e.Name;
    default:
      return e.Path;
  }
}

bool Undoable(const TJournalEntry& e) {
  return e.Kind != TJournalKind::jkBegin && e.Kind != TJournalKind::jkFileState && e.Kind != TJournalKind::jkCommitted;
}

}  // namespace

int RollbackStepCount(const TJournalContents& journal) {
  int n = 0;
  for (const TJournalEntry& e : journal.Entries) n += Undoable(e) ? 1 : 0;
  return n;
}

std::vector<std::wstring> RollBackJournal(const TJournalContents& journal, const TRollbackStep& onStep) {
  std::vector<std::wstring> notUndone;
  for (auto it = journal.Entries.rbegin(); it != journal.Entries.rend(); ++it) {
    if (!Undoable(*it)) continue;
    const std::wstring item = ItemText(*it);
    if (onStep) onStep(item);
    bool done = false;
    try {
      done = Undo(*it);
    } catch (const std::exception&) {
      done = false;
    }
    if (!done) notUndone.push_back(L"未能撤销：" + item);
  }
  return notUndone;
}

void DeleteKeptCopies(const TJournalContents& journal) {
  for (const TJournalEntry& e : journal.Entries)
    if (e.Kind == TJournalKind::jkFileReplaced && !DeleteIfThere(e.Backup))
      MoveFileExW(e.Backup.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

TSettleResult SettlePendingJournal(const std::wstring& guid, const std::function<void(int steps)>& onBegin,
                                   const TRollbackStep& onStep) {
  TSettleResult result;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string bytes;
  switch (OpenPendingJournal(guid, handle, bytes)) {
    case TPendingJournal::pjNone:
      return result;
    case TPendingJournal::pjInUse:
      result.What = TSettled::stInUse;
      return result;
    case TPendingJournal::pjFound:
      break;
  }
  const std::wstring path = PendingJournalPath(guid);
  struct TClose {
    HANDLE& H;
    ~TClose() {
      if (H != INVALID_HANDLE_VALUE) CloseHandle(H);
    }
  } close{handle};
  TJournalContents journal;
  try {
    journal = DecodeJournal(bytes);
  } catch (const EJournalError& e) {
    throw EJournalError(path + L": " + e.Message());
  }
  if (journal.Committed()) {
    DeleteKeptCopies(journal);
    result.What = TSettled::stFinished;
  } else {
    if (onBegin) onBegin(RollbackStepCount(journal));
    result.NotUndone = RollBackJournal(journal, onStep);
    result.What = TSettled::stRolledBack;
  }
  if (result.NotUndone.empty()) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    DeleteFileW(path.c_str());
    RemoveDirectoryW(ExcludeTrailingBackslash(ExtractFilePath(path)).c_str());
  }
  return result;
}
