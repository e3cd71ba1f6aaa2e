// The install journal: the one record of what an install changed on the
// machine, in the order it changed it. The installer appends to it as it
// works; a failed install is rolled back from it, an unfinished one (the
// setup process was killed) by the next run, and the uninstaller removes
// what it records. This unit is its form; writing it to disk and acting on
// it are the programs' own.
//
// Form, version 1 (all numbers little-endian):
//   header   8 bytes "NVJRNL\r\n", u16 version (1), u16 0
//   record   u32 size, u32 size XOR 0xFFFFFFFF, u32 CRC-32 of the body, body
//   body     u8 kind, then the kind's fields in the order listed at
//            TJournalKind; text is u32 byte count + UTF-8, a list of texts
//            u32 count + texts, a registry value's data u32 type + u32 byte
//            count + bytes, a flag one byte (0 or 1)
// Records are only ever appended. A journal cut anywhere (the process ended
// while appending) reads as the records before the cut; a record whose
// length words disagree or whose CRC does not match makes the journal
// damaged, as does anything after the records but a cut.
//
// Each change is recorded before it is made, in a form from which both
// states can be recovered: a rollback that finds the change made undoes it,
// one that finds it not made leaves the item alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NvExceptions.h"

inline constexpr uint16_t kJournalVersion = 1;

enum class TJournalKind : uint8_t {
  // Guid, AppDir, Title, Version, Roots: the product, the folder of this
  // install, and the folders its items may lie in (the install folder and
  // the folder constants as they stood on this machine).
  jkBegin = 1,
  // Path: a folder this install created (it did not exist).
  jkFolderCreated = 2,
  // Role, Path: a file this install is about to create (it did not exist).
  jkFileCreated = 3,
  // Role, Path, Backup: a file this install is about to replace; the earlier
  // file is first moved aside to Backup, on the same volume.
  jkFileReplaced = 4,
  // Role, Path, Size, WriteTime, Checksum: what the file holds now that the
  // install has written it.
  jkFileState = 5,
  // Role, Root, Path: a registry key this install is about to create.
  jkKeyCreated = 6,
  // Role, Root, Path, Name, New, HadOld, Old: a registry value this install
  // is about to write (Old: what it held before, when HadOld).
  jkValueWritten = 7,
  // The install has finished: the changes stay, the kept copies of replaced
  // files go.
  jkCommitted = 8,
};

// What an item is for the product; the uninstaller treats each in its way.
enum class TJournalRole : uint8_t {
  jrFile = 0,            // a file item
  jrShortcut = 1,        // a shortcut's ".lnk" file
  jrUninstallData = 2,   // "Uninstall.da1", "Uninstall.da2"
  jrRegistry = 3,        // a registry item's key or value
  jrUninstallEntry = 4,  // the product's uninstall entry, its key and values
  jrFolder = 5,          // a folder
};

// A registry value's type (REG_SZ, REG_DWORD, ...) and raw data.
struct TRegData {
  uint32_t Type = 0;
  std::string Bytes;
  bool operator==(const TRegData&) const = default;
};

// One record. Which fields a kind uses is listed at TJournalKind; the others
// stay at their defaults.
struct TJournalEntry {
  TJournalKind Kind = TJournalKind::jkBegin;
  TJournalRole Role = TJournalRole::jrFile;
  std::wstring Path;    // a folder or file, or a registry key below Root
  std::wstring Backup;  // jkFileReplaced: where the earlier file was moved
  std::wstring Name;    // jkValueWritten: the value's name
  int32_t Root = 0;     // registry root (TRegRootKey ordinal)
  uint64_t Size = 0;
  uint64_t WriteTime = 0;  // the file's last-write time (FILETIME, UTC)
  uint32_t Checksum = 0;   // Adler-32 of the file's content
  TRegData New, Old;
  bool HadOld = false;
  std::wstring Guid, AppDir, Title, Version;  // jkBegin
  std::vector<std::wstring> Roots;             // jkBegin

  bool operator==(const TJournalEntry&) const = default;
};

// Registry data of a string (REG_SZ: UTF-16LE with its terminating NUL) and
// of a 32-bit number (REG_DWORD, little-endian), as the installer writes them.
TRegData RegStringData(const std::wstring& text);
TRegData RegDWordData(uint32_t value);

// A journal that cannot be read: the message says where and why.
class EJournalError : public Exception {
public:
  using Exception::Exception;
};

// The header every journal starts with.
std::string JournalHeader();
// The bytes that append entry to a journal.
std::string EncodeJournalRecord(const TJournalEntry& entry);

struct TJournalContents {
  std::vector<TJournalEntry> Entries;
  // The last record was cut short (the writer ended while appending it).
  bool Cut = false;
  // The install finished (a jkCommitted record is present).
  bool Committed() const;
  // The jkBegin record (the first one), or nullptr when there is none.
  const TJournalEntry* Begin() const;
};

// Reads a whole journal. A cut one gives the records before the cut; a
// damaged one, one of another version or anything that is not a journal
// raises EJournalError ("the install journal is damaged: ...").
TJournalContents DecodeJournal(const std::string& bytes);

// One line describing an entry (the builder's decode, messages, tests).
std::wstring JournalEntryText(const TJournalEntry& entry);
