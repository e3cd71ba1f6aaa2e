// The changes an install makes to the machine, each recorded in the install
// journal before it is made (InstallJournal.h), so that a failed or killed
// install can be rolled back and the uninstaller knows what is the product's.
// Every operation that changes the machine goes through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "InstallJournal.h"
#include "JournalFile.h"
#include "SetupProject.h"

class TInstallChanges {
public:
  // Records into journal, which must outlive this object.
  explicit TInstallChanges(TJournalWriter& journal) : FJournal(journal) {}

  // Records folders that another step created (the folder check), outermost
  // first, before anything else is changed.
  void FoldersCreated(const std::vector<std::wstring>& folders);
  // Creates folder with its missing parents, recording each before it is
  // created; false when a level cannot be created. A folder this run has
  // already made or found is not looked at again.
  bool CreateFolders(const std::wstring& folder);
  // The folders known to exist are looked at again: a write failed, or
  // another program (an earlier version's uninstaller) may have removed some.
  void LookAgain() { FKnownFolders.Clear(); }

  // Before path is written: records that the install creates it, or, when it
  // exists, that it replaces it, and moves the earlier file aside to a kept
  // copy in the same folder. A file that cannot be moved aside (in use)
  // raises EFCreateError "Cannot create file "%s". %s", as creating it would.
  // Returns the kept copy's path ("" for a new file).
  //
  // With unlooked (a caller that creates the file with TFileCreate::fcNew):
  // a name this run has not prepared yet, in a folder it created, is
  // recorded as created without a look (looking up a missing name costs
  // Wine a scan of the folder), and *unlooked tells so. Should the create
  // then find the name taken, NameTaken puts the record right.
  std::wstring PrepareFile(const std::wstring& path, TJournalRole role, bool* unlooked = nullptr);
  // After an unlooked PrepareFile whose create failed: when something is at
  // path (another program made it meanwhile), the record is taken back and
  // every name is looked at from now on; true when so.
  bool NameTaken(const std::wstring& path, TJournalRole role);
  // A write after PrepareFile failed and the item is given up (or tried
  // again): the part written is deleted and the earlier file (backup, when
  // not empty) put back whole.
  void FileAbandoned(const std::wstring& path, const std::wstring& backup);
  // After path has been written (and its times set): records its size, last-write
  // time and the Adler-32 of its content. With the file's open handle (all
  // written, times set) they are read from it rather than by its path. The
  // record goes to the journal with the next one (TJournalWriter::AppendLater).
  void FileWritten(const std::wstring& path, TJournalRole role, uint32_t checksum, void* handle = nullptr);

  // Writes a registry value in the 32-bit view, recording first each key of
  // the path that does not exist yet and the value's earlier data. A key
  // that cannot be opened or created raises ERegistryException "Failed to
  // open the key 'ROOT\KEY'", a refused write "Failed to set data for 'NAME'".
  void SetValue(TRegRootKey root, const std::wstring& key, const std::wstring& name, const TRegData& data,
                TJournalRole role);

  // Room for count more files to be prepared, made at once: a table that
  // grew file by file would leave the heap in pieces.
  void ExpectFiles(std::size_t count);

  // Makes the records written so far durable on the disk (a step's end).
  void Flush() { FJournal.Flush(); }
  // The install has finished: records it, then deletes the kept copies of
  // replaced files.
  void Commit();

  const TJournalWriter& Journal() const { return FJournal; }

private:
  TJournalWriter& FJournal;
  std::vector<std::wstring> FKept;
  // A set of path hashes (FNV-1a of the upper-case path, no trailing
  // backslash) in one open-addressing table: entering one allocates nothing
  // until the table grows, so that no small blocks are left among the large
  // ones of the payloads, which makes Wine's heap grow. Two paths of one hash
  // only cost a look (a folder taken to exist that does not fails the write,
  // which asks and looks again).
  class THashSet {
  public:
    void Reserve(std::size_t count);
    bool Insert(uint64_t hash);  // false when it was there
    bool Contains(uint64_t hash) const;
    void Clear();

  private:
    std::vector<uint64_t> FSlots;  // 0: free
    std::size_t FCount = 0;
  };
  // The folders known to exist, those this run created, the files prepared.
  THashSet FKnownFolders, FOwnFolders, FPrepared;
};

// The Adler-32 of a file's content (read whole: for small files).
uint32_t FileAdler32(const std::wstring& path);
// The Adler-32 of bytes.
uint32_t BytesAdler32(const std::string& bytes);

