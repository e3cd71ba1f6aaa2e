// Install journals on disk (the form is InstallJournal.h).
//
// While an install runs, its journal is "<GUID>.jnl" in the setup program's
// folder of the machine's common application data ("C:\ProgramData\NvSetup\"),
// held open without sharing: the next run of any package of the product finds
// it there when the process was killed, and cannot take it while the install
// is alive. Once the install has finished, the journal is copied beside the
// uninstaller as "Uninstall.jnl" and the pending one is deleted.
#pragma once

#include <windows.h>

#include <string>

#include "InstallJournal.h"

// "<common application data>\NvSetup\"; raises EOSError when the system
// names no such folder.
std::wstring PendingJournalFolder();
// PendingJournalFolder() + guid + ".jnl".
std::wstring PendingJournalPath(const std::wstring& guid);

// A journal being written. Every record goes to the file at once (WriteFile),
// so that a killed process loses at most the change it was making, except a
// record appended with AppendLater (the end state of an item just made),
// which goes with the next record or Flush: losing it loses no change, only
// what the item held. Flush makes the records written so far durable on the
// disk as well.
class TJournalWriter {
public:
  // Creates path (its folder too), which must not exist yet, held without
  // sharing, and writes the header. Raises EOSError naming the file.
  explicit TJournalWriter(const std::wstring& path);
  ~TJournalWriter();
  TJournalWriter(const TJournalWriter&) = delete;
  TJournalWriter& operator=(const TJournalWriter&) = delete;

  // Appends one record; raises EOSError when the file cannot take it.
  void Append(const TJournalEntry& entry);
  // Appends one record that reaches the file with the next Append or Flush.
  void AppendLater(const TJournalEntry& entry);
  // Takes back the last record appended, which must have been entry (a
  // change recorded and then found not to be made): it is cut off the file.
  void Retract(const TJournalEntry& entry);
  void Flush();
  // Everything appended, header included.
  const std::string& Bytes() const { return FBytes; }
  const std::wstring& Path() const { return FPath; }
  // Closes and deletes the file (the install it records is settled).
  void Delete();

private:
  // Writes what the file lacks of FBytes.
  void WriteOut();
  // Ends the file after its first size bytes; false when the system refused.
  bool CutTo(std::size_t size);
  std::wstring FPath;
  HANDLE FHandle = INVALID_HANDLE_VALUE;
  std::string FBytes;
  std::size_t FOnDisk = 0;      // how much of FBytes the file holds
  std::size_t FLastRecord = 0;  // where the last record starts in FBytes
};

// A pending journal found on disk.
enum class TPendingJournal {
  pjNone,     // there is none
  pjInUse,    // another process holds it: its install is running
  pjFound,    // opened (held without sharing) and read
};

// Looks for the pending journal of guid. On pjFound, handle holds the file
// open without sharing (the caller closes it) and bytes its content. A file
// that cannot be opened for another reason raises EOSError.
TPendingJournal OpenPendingJournal(const std::wstring& guid, HANDLE& handle, std::string& bytes);

// Reads a finished journal ("Uninstall.jnl"); raises EOSError or EJournalError.
TJournalContents ReadJournalFile(const std::wstring& path);
