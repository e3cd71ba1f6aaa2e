// Putting the machine back from an install journal: the rollback of an
// install that failed, and the settling of one whose setup process was
// killed (found by the next setup of the product or by its uninstaller).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "InstallJournal.h"

// Called before each journal entry is undone, with the item it names.
using TRollbackStep = std::function<void(const std::wstring& item)>;

// The number of entries RollBackJournal steps through.
int RollbackStepCount(const TJournalContents& journal);

// Undoes an unfinished install's changes, last first: files it created are
// deleted, files it replaced get their earlier content back from the kept
// copies, registry values their earlier type and data (or they go, when the
// install made them), and keys and folders it created go when empty. Every
// step checks what it finds, so a rollback that was itself interrupted can
// run again. Never raises for one item: what could not be undone is
// returned, one line per item ("未能撤销：ITEM").
std::vector<std::wstring> RollBackJournal(const TJournalContents& journal, const TRollbackStep& onStep = {});

// A finished install's kept copies of replaced files that are still there
// (its process ended before deleting them) are deleted.
void DeleteKeptCopies(const TJournalContents& journal);

// What settling a pending journal did.
enum class TSettled {
  stNone,        // no pending journal of the product
  stInUse,       // another setup of the product is running and holds it
  stRolledBack,  // an unfinished install was rolled back
  stFinished,    // a finished install was tidied (kept copies deleted)
};

struct TSettleResult {
  TSettled What = TSettled::stNone;
  std::vector<std::wstring> NotUndone;  // of a rollback
};

// Settles the pending journal of the product guid, if any: an unfinished
// install is rolled back (onBegin is called first with its entry count, and
// onStep for each entry), a finished one tidied; the journal is deleted
// unless something could not be undone (it stays for the next try). A
// damaged journal raises EJournalError naming its file.
TSettleResult SettlePendingJournal(const std::wstring& guid, const std::function<void(int steps)>& onBegin = {},
                                   const TRollbackStep& onStep = {});
