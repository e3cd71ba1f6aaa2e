// The support of the Windows test programs that run under Wine (the setup
// program's install, window and online tests, the uninstaller's tests): one
// header for all parts, all in namespace nvtest.
//   TestFiles.h     the programs under test, test folders, file contents and times
//   TestMachine.h   snapshots of the whole machine (drive C:, registry) and their differences
//   TestRegistry.h  registry values read, written and removed in either view
//   TestProcess.h   programs started, waited for and their output read
//   TestWindows.h   windows found by class, caption, text or control ID; input
//   TestPackage.h   packages made by the package builder or the resource writer
//   TestScreen.h    screenshots of the test display
#pragma once

#include "TestFiles.h"
#include "TestMachine.h"
#include "TestPackage.h"
#include "TestProcess.h"
#include "TestRegistry.h"
#include "TestScreen.h"
#include "TestWindows.h"
