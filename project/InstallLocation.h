// Where a project item lands on the machine: the folder constants a location
// starts with, the one normal form of a location, and the targets of file
// items, shortcuts, registry items and the uninstall entry.
//
// The builder compares locations in their symbolic form (LocationKey); the
// installer and the uninstaller expand them with the folder values of
// TSetupfn (ExpandLocation and the item targets). All three go through the
// rules of this unit, so they cannot disagree on where an item lands, and a
// location that would land outside its constant's folder, or relative to
// whatever the current folder is, is refused by all three.
#pragma once

#include <string>
#include <vector>

#include "NvExceptions.h"
#include "SetupProject.h"

// The folder a location starts from.
enum class TLocationRoot {
  lrAbsolute,  // an absolute path: "X:\..." or "\\server\share\..."
  lrApp,       // "{app}": the installation folder
  lrPf,        // "{pf}": Program Files (of the 32-bit product: "Program Files (x86)" on 64-bit Windows)
  lrGroup,     // "{group}": the all-users Start-menu programs folder + the product title
  lrDesktop,   // "{desktop}": the desktop of the user who runs the setup
};

// A location that cannot be used: the message says which value and why.
class ELocationError : public Exception {
public:
  using Exception::Exception;
};

// What is wrong with a location value.
enum class TLocationFault {
  lfNone,
  lfEmpty,
  lfRelative,          // no constant, no drive or share
  lfUnknownConstant,   // "{name}" at the start that is no folder constant
  lfSrcExe,            // "{srcexe}": a file, not a folder
  lfInnerConstant,     // a path constant after the start
  lfClimbsOut,         // ".." above the constant's folder, the drive or the share
  lfBadNetworkPath,    // "\\" without a server and a share
};

// A location value taken apart. Problem is empty when the value is usable.
struct TLocation {
  TLocationRoot Root = TLocationRoot::lrAbsolute;
  // lrAbsolute: the drive or share it starts with ("C:", "\\server\share").
  std::wstring Base;
  // Below the root, in normal form: parts joined by "\", no "." or "..", no
  // leading or trailing backslash; empty for the root itself.
  std::wstring Rest;
  std::wstring Problem;
  TLocationFault Fault = TLocationFault::lfNone;  // the kind of Problem
};

// The folder constants a location may start with, in the form they are
// written ("{app}", "{pf}", "{group}", "{desktop}").
const std::vector<std::wstring>& LocationConstants();
// Whether text (braces included, any case) is a path constant of the runtime:
// a folder constant above, or "{srcexe}" (the running setup program).
bool IsPathConstant(const std::wstring& text);
// The constant of a root ("{app}", ...), "" for lrAbsolute.
std::wstring RootConstant(TLocationRoot root);

// Takes a location value apart. The value is a folder constant followed by a
// path below it ("{app}\bin", "{app}bin", "{group}"), or an absolute path.
// "/" counts as "\", repeated backslashes as one, "." parts are dropped and
// ".." removes the part before it. Problems: an empty value; a relative path
// (no constant, no drive or share; "\x" and "C:x" count as relative); an
// unknown constant at the start; "{srcexe}" (a file, not a folder); a path
// constant after the start; ".." climbing above the constant's folder (or the
// drive or share).
TLocation ParseLocation(const std::wstring& value);

// The builder's comparison key of a location: the constant (or base) and the
// normal form of the rest, lower case. Two values land on the same file of the
// target machine exactly when their keys are equal (letter case ignored, as
// the file system does). A value with a problem keys as its trimmed text.
std::wstring LocationKey(const std::wstring& value);

// The absolute path of a location on this machine, through the folder values
// of TSetupfn: root folder + "\" + rest (the root itself keeps its trailing
// backslash). Raises ELocationError (naming value) when the value has a
// problem, when its constant has no folder on this machine (a desktop or
// programs folder the system does not give, an "{app}" not yet set) or when
// that folder is not an absolute path.
std::wstring ExpandLocation(const std::wstring& value);

// The normal form of an absolute path ("C:\a\b", "\\srv\share\a"; "C:\" for
// a drive's root), or "" when path is not absolute or climbs above its drive
// or share. Paths the programs compare are compared in this form.
std::wstring NormalPath(const std::wstring& path);
// Whether path is folder or lies below it, compared in the normal form,
// letter case ignored (text only: another spelling of the same folder, such
// as a mapped drive, does not count).
bool PathWithin(const std::wstring& path, const std::wstring& folder);
// Whether path lies strictly below folder, in the same way.
bool PathBelow(const std::wstring& path, const std::wstring& folder);

// ---- the targets of project items ---------------------------------------------

// The value a file item's target is parsed from: DestDir + "\" + SourceMask.
std::wstring FileLocationValue(const TSetupFile& item);
// The absolute path a file item is written to (ExpandLocation of its value).
std::wstring FileTarget(const TSetupFile& item);

// Whether name may be a shortcut's file name (without ".lnk"): not empty, no
// character of \ / : * ? " < > | or below code 32, not "." or "..", and not
// ending in a blank or a dot (the system would drop them).
bool IsValidShortcutName(const std::wstring& name);
// The ".lnk" file of a shortcut: ExpandLocation(SaveDir) + "\" + Name +
// ".lnk". Name goes through the path constants first; a name that is not a
// valid file name raises ELocationError.
std::wstring ShortcutTarget(const TSetupShortCut& item);

// Where a registry item's value lands: the item's root, the key below it
// (path constants expanded, backslashes at its ends removed and repeated ones
// collapsed) and the value name ("" is the key's default value).
struct TRegistryTarget {
  TRegRootKey Root = rrkClassesRoot;
  std::wstring Key;
  std::wstring ValueName;
};
// Raises ELocationError for a key that is empty after trimming (a value
// directly under a root key belongs to no product).
TRegistryTarget RegistryTarget(const TSetupReg& item);
// "HKEY_LOCAL_MACHINE" and so on; "HKEY_CURRENT_USER" for an unknown ordinal,
// as the runtime maps it.
std::wstring RegistryRootName(TRegRootKey root);

// The product's uninstall entry below HKEY_LOCAL_MACHINE:
// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<guid>_lm".
std::wstring UninstallKeyPath(const std::wstring& guid);
// The key of an earlier installation by another setup program ("..._is1").
std::wstring PreviousUninstallKeyPath(const std::wstring& guid);
