// Splitting a program's command line the setup programs' own way.
#pragma once

#include <string>
#include <vector>

// Characters with codes 1 to 32 separate arguments; double quotes group
// characters (blanks included) and are dropped; a NUL ends the line. Element
// 0 is the program as written on the line.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);
