// Exit codes of Setup.exe.
#pragma once

// The install finished (the product was started through the run button or
// the automatic run), or the program carries no package marker.
constexpr unsigned kExitOk = 0;
// The package's project, picture or agreement cannot be read or parsed;
// nothing was installed.
constexpr unsigned kExitDamagedPackage = 1;
// An install step failed in the middle of the sequence under "/Silent" or
// "/Auto" (interactive runs return to the idle window instead).
constexpr unsigned kExitInstallFailed = 2;
// The installation folder failed its check under "/Silent" (empty, cannot be
// created, or not writable).
constexpr unsigned kExitBadFolder = 3;
// The user chose "退出安装" in the copy-failure dialog or closed it (or a file
// could not be written under "/Silent").
constexpr unsigned kExitUserAborted = 4;
// The window was closed before an install had finished.
constexpr unsigned kExitNotInstalled = 5;
// The online stub could not fetch the full package (the user chose "退出安装"
// in the online-failure dialog, or the run was under "/Silent"), or could not
// switch to it under "/Silent" or "/Auto".
constexpr unsigned kExitDownloadFailed = 6;
// The install finished and is whole, but a program of the project's run
// entries could not be started ("无法启动：%s").
constexpr unsigned kExitRunFailed = 7;
// The install failed and its rollback could not undo every change: what is
// left is listed ("未能撤销：%s"); the journal stays, and the next run of the
// product's setup or its uninstaller tries again.
constexpr unsigned kExitRollbackIncomplete = 8;

// The exit code when the message loop ends (the window was closed): kExitOk
// after a finished install (state 2), kExitNotInstalled in any other state.
constexpr unsigned ExitCodeAfterClose(int installState) {
  return installState == 2 ? kExitOk : kExitNotInstalled;
}
