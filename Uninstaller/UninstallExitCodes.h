// Exit codes of Uninstall.exe.
#pragma once

// Everything the install made is gone (the uninstaller's own file is gone or
// scheduled for removal at the next restart).
constexpr unsigned kUninstallOk = 0;
// Nothing was removed: "Uninstall.da1" or "Uninstall.jnl" is missing, damaged
// or not this installation's, or the product's uninstall entry is missing or
// names another folder.
constexpr unsigned kUninstallDataDamaged = 1;
// The removal ran, but some items could be neither removed nor scheduled for
// removal at the next restart (listed in the window, or on standard output
// under "/SILENT"); the uninstall entry, the uninstaller and its data stay,
// so that running it again finishes the job.
constexpr unsigned kUninstallPartly = 2;
// The user answered the confirmation with "取消" or closed the window before
// the removal started; nothing was removed.
constexpr unsigned kUninstallCancelled = 3;
// Everything is removed but files that were in use, which go at the next
// restart (listed: "重新启动后删除：%s").
constexpr unsigned kUninstallRestartNeeded = 4;
