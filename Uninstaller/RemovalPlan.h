// What an uninstall removes, worked out before anything is touched.
//
// From the install journal ("Uninstall.jnl"), the record of what the install
// made: the files and shortcuts it wrote that still hold what it wrote, the
// registry values that still hold its data, the keys and folders it created
// (removed only when empty), the uninstall entry and the data files. Items
// the user has changed since, items another installed product of this setup
// program also recorded, and items outside the folders the journal names are
// left, each with its reason.
//
// An installation made before journals existed has only its project
// ("Uninstall.da1"): the plan is then worked out from the project, under the
// same rules where they apply (its files only inside the installation
// folder, its shortcuts only in the shortcut folders, values only while they
// hold the project's data, folders only inside the installation folder or the
// product's Start-menu group, never a folder no product owns).
//
// Portable: what the machine holds now comes through TMachineView.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "InstallJournal.h"
#include "SetupProject.h"

struct TRegValueRef {
  TRegRootKey Root = rrkCurrentUser;
  std::wstring Key;   // below Root, no leading backslash
  std::wstring Name;  // "" is the key's default value
};

struct TRegKeyRef {
  TRegRootKey Root = rrkCurrentUser;
  std::wstring Key;
};

// An item the uninstall leaves, and why.
struct TKeptItem {
  enum TWhy {
    kwChanged,  // the user changed it after the install ("已保留修改过的文件：%s", a value: "已保留修改过的项目：%s")
    kwShared,   // another installed product recorded it too ("已保留其他产品共用的项目：%s")
    kwOutside,  // outside the folders the install may touch ("已跳过产品文件夹以外的项目：%s")
  };
  TWhy Why = kwChanged;
  std::wstring Item;
  // The line the uninstaller shows for it.
  std::wstring Text() const;
};

struct TRemovalPlan {
  std::wstring AppDir;    // the installation folder, trailing backslash
  std::wstring SelfPath;  // the running uninstaller; never in Files
  std::vector<std::wstring> Files;       // installed files, in install order
  std::vector<std::wstring> Programs;    // the ".exe" files among them: running copies are ended first
  std::vector<std::wstring> Shortcuts;   // ".lnk" files
  std::vector<TRegValueRef> Values;
  std::vector<TRegKeyRef> Keys;          // removed when empty, deepest first
  std::wstring UninstallKey;             // below HKEY_LOCAL_MACHINE
  std::vector<std::wstring> DataFiles;   // "Uninstall.da1", "Uninstall.da2", "Uninstall.jnl"
  std::vector<std::wstring> Folders;     // removed when empty, deepest first
  std::vector<TKeptItem> Kept;

  // One progress step per file, shortcut, value and data file.
  int StepCount() const;
};

// What the plan needs to know of the machine as it is now.
class TMachineView {
public:
  virtual ~TMachineView() = default;
  // The file's size and last-write time (FILETIME, UTC); false when there is
  // no file at path.
  virtual bool FileState(const std::wstring& path, uint64_t& size, uint64_t& writeTime) const = 0;
  // The Adler-32 of the file's content; false when it cannot be read.
  virtual bool FileChecksum(const std::wstring& path, uint32_t& checksum) const = 0;
  // The value's type and data; false when it is not there.
  virtual bool ValueData(TRegRootKey root, const std::wstring& key, const std::wstring& name,
                         TRegData& data) const = 0;
  // Whether no product may own the folder (ProtectedFolders.h).
  virtual bool IsProtectedFolder(const std::wstring& folder) const = 0;
};

struct TRemovalContext {
  std::wstring AppDir;    // the installation folder as the journal names it (trailing backslash)
  std::wstring SelfPath;  // the running uninstaller, in AppDir's spelling
  std::wstring Guid;      // the product's
};

// The plan from a finished install's journal. others: the journals of the
// other products of this setup program installed on the machine.
TRemovalPlan MakeJournalRemovalPlan(const TJournalContents& journal, const TRemovalContext& context,
                                    const TMachineView& machine, const std::vector<TJournalContents>& others);

// The plan from the project of an installation made before journals. The
// path constants must be set already: "{app}" to the installation folder and
// the product title (for "{group}").
TRemovalPlan MakeProjectRemovalPlan(const TSetupScript& script, const TRemovalContext& context,
                                    const TMachineView& machine);

// Whether an empty registry key may be deleted for this product: keyPath has
// a segment equal to the title or containing the GUID (ignoring case) that is
// not its first segment; the keys from that segment down qualify. Returns the
// number of trailing segments that may go (0: none).
int OwnedKeyDepth(const std::wstring& keyPath, const std::wstring& title, const std::wstring& guid);

// Whether key (below HKEY_LOCAL_MACHINE) is, or lies in, the uninstall entry
// of a product other than guid's.
bool IsAnotherProductsEntry(const std::wstring& key, const std::wstring& guid);
