// Folders that no product owns: a drive's or share's root, the Windows and
// system folders, Program Files itself, ProgramData, the Users folder, every
// user's profile, and the shell's known folders (desktops, documents,
// downloads, the Start menu and its programs, ...). The setup program never
// installs into one, and the uninstaller never removes one.
#pragma once

#include <string>

// Whether path (an absolute folder path, any spelling of its form) is one of
// them. The system's folders are asked for once and kept.
bool IsProtectedFolder(const std::wstring& path);
