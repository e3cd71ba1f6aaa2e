// The uninstaller's run: read the uninstall data beside the program, work out
// the removal, then either ask in the window or, with "/SILENT", remove at
// once without any window or question. The whole removal happens in this
// process before it returns, so a setup that waits for it (an upgrade) finds
// everything removed when the wait ends.
#pragma once

#include <string>
#include <vector>

// True when one of the arguments (after the program) is "/SILENT", any case.
bool IsSilentCommandLine(const std::vector<std::wstring>& args);

// The whole run for the command-line arguments (element 0 the program);
// returns the exit code (UninstallExitCodes.h).
unsigned RunUninstaller(const std::vector<std::wstring>& args);
