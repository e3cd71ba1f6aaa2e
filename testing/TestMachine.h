// The machine as a test sees it, taken whole: every file and folder of
// drive C: and every key and value of HKLM\Software (32-bit view) and of
// HKEY_CURRENT_USER, so that a test can say "the machine after the run equals
// the machine before it" without naming what the run might have touched.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace nvtest {

// A snapshot: one entry per item, its name mapped to what it holds.
//   "C:\dir\"                "folder"
//   "C:\dir\file"            "file, N bytes, crc32 XXXXXXXX" (below C:\windows,
//                            which no install under test writes and which is
//                            too large to read each time: the last-write time
//                            instead of the content)
//   "HKLM\Software\Key\"     "key"          (HKLM\Software in the 32-bit view)
//   "HKCU\Key\" "Name"       "REG_SZ "text"", "REG_DWORD 42", "REG_BINARY 01 02..."
// What changes by itself under Wine is never taken (TestMachine.cpp lists it).
struct TMachineSnapshot {
  std::map<std::wstring, std::string> Items;
};

// Takes a snapshot of the machine now, with the folders of moreFolders
// (another drive the test maps, "T:\") beside drive C:, leaving out the
// items that match a pattern of skip (letter case ignored, "*" for any run
// of characters; a folder's name ends in a backslash, so "C:\x\*" leaves out
// everything in the folder x, and "C:\x\setup.exe*" the package with its
// output files).
TMachineSnapshot TakeSnapshot(const std::vector<std::wstring>& skip = {},
                              const std::vector<std::wstring>& moreFolders = {});

// What differs between two snapshots, one readable line (UTF-8) per item:
// "+ NAME: WHAT" added, "- NAME: WHAT" removed, "~ NAME: BEFORE -> AFTER"
// changed; empty when they are equal. The items that match a pattern of
// sameApartFromContent (as for TakeSnapshot) must be in both or in neither,
// but what they hold is not compared.
std::vector<std::string> Differences(const TMachineSnapshot& before, const TMachineSnapshot& after,
                                     const std::vector<std::wstring>& sameApartFromContent = {});

// The lines of differences joined for a failure message ("none" when empty).
std::string DifferenceText(const std::vector<std::string>& differences);

// True when text matches the pattern ("*" for any run, letter case ignored).
bool MatchesPattern(const std::wstring& text, const std::wstring& pattern);

}  // namespace nvtest
