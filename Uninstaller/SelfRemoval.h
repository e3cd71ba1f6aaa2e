// Removal of the running uninstaller's own file. A running program's file
// cannot be deleted; it is moved out of the installation folder to a unique
// temporary name on the same volume, and that name (and only that name) is
// scheduled for deletion at the next restart. Nothing is left running and
// nothing can later delete a file another program writes.
#pragma once

#include <string>

struct TSelfRemoval {
  bool Gone = false;       // the file is deleted or moved out of its folder
  std::wstring MovedTo;    // the temporary name (empty when deleted at once)
  bool Scheduled = false;  // MovedTo is scheduled for deletion at restart
};

// Removes selfPath: deleted when the system allows it, otherwise moved to a
// new name in the temporary folder (or, on another volume, beside the
// installation folder: in appDir's parent) and scheduled for deletion.
TSelfRemoval RemoveSelf(const std::wstring& selfPath, const std::wstring& appDir);
