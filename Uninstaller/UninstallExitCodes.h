// Exit codes of Uninstall.exe.
#pragma once

// Everything the install made is gone (the uninstaller's own file is gone or
// scheduled for removal at the next restart).
constexpr unsigned kUninstallOk = 0;
// "Uninstall.da1" is missing or cannot be decoded or read; nothing was removed.
constexpr unsigned kUninstallDataDamaged = 1;
// The removal ran, but some items could not be removed (listed in the window,
// or on standard output under "/SILENT"); everything else is gone.
constexpr unsigned kUninstallPartly = 2;
// The user answered the confirmation with "取消" or closed the window before
// the removal started; nothing was removed.
constexpr unsigned kUninstallCancelled = 3;
