// Ending the running copies of installed programs, matched by the full path
// of their image file (a program of the same name elsewhere is left alone).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The full image path of a running process (empty when it cannot be read).
std::wstring ProcessImagePath(DWORD pid);

// Ends every process whose image is one of paths (the same file, whatever
// the spelling), except the calling process, and waits up to waitMs for each
// to end. A program of the same name elsewhere is never touched. Returns the
// number of processes ended.
int EndProcessesByPath(const std::vector<std::wstring>& paths, DWORD waitMs = 5000);
