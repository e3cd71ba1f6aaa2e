// The uninstaller's run: read the uninstall data beside the program, make
// sure they are this installation's, work out the removal (from the install
// journal), then either ask in the window or, with "/SILENT", remove at
// once without any window or question. The whole removal happens in this
// process before it returns, so a setup that waits for it (an upgrade) finds
// everything removed when the wait ends.
#pragma once

#include <string>
#include <vector>

// True when one of the arguments (after the program) is "/SILENT", any case.
bool IsSilentCommandLine(const std::vector<std::wstring>& args);

// The whole run for the command-line arguments (element 0 the program);
// returns the exit code (UninstallExitCodes.h). Nothing is removed unless the
// product's uninstall entry exists and names this program's folder (the same
// folder, whatever its spelling), and the journal beside it is this
// installation's.
unsigned RunUninstaller(const std::vector<std::wstring>& args);

class TRemovalRun;
// The exit code after a removal: partly removed when something remains,
// restart needed when something goes only at the restart, removed otherwise.
unsigned RemovalExitCode(const TRemovalRun& run);
