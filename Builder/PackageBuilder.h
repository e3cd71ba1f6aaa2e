// The build command: an authoring project and its files to a full package
// and an online stub.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "OnlinePin.h"

namespace nvbuilder {

// The largest full package a 32-bit setup program can open: it maps the whole
// package twice (as the running program, and again for its resources), each
// time in one free range of its 2 GB address space, which the system's
// libraries, heaps and stacks also use. 768 MB leaves both mappings room.
constexpr uint64_t kMaxPackageBytes = uint64_t{768} << 20;

struct TBuildOptions {
  std::filesystem::path Project;
  std::filesystem::path Runtime;      // the setup runtime executable
  std::filesystem::path OutDir;       // empty: outputs as the project names them
  std::filesystem::path Uninstaller;  // empty: none is added
  // Run on the bundled uninstaller before it is packed and on each package
  // before it is written, "{file}" standing for the file (see Signing.h);
  // empty: nothing is signed.
  std::string SignCommand;
  // How the online stub checks the full package it downloads (OnlinePin.h).
  TOnlineTrust OnlineTrust = TOnlineTrust::Default;
  unsigned Jobs = 0;                  // 0: every core
  uint64_t MaxPackageBytes = kMaxPackageBytes;  // larger full packages are refused
  bool Quiet = false;
  bool WarningsAsErrors = false;      // a project with warnings is refused too
  std::FILE* Out = stdout;            // progress, notes and summary
  std::FILE* Err = stderr;            // the project's warnings
};

struct TBuildReport {
  std::filesystem::path FullPackage, OnlineStub;  // empty when not made
  uint64_t Files = 0, PlainBytes = 0, StoredBytes = 0;
  double Seconds = 0;
  // Every resource written to the full package: name -> stored bytes; the
  // stub carries the subset it names.
  std::map<std::wstring, std::string> Resources;
  std::string FullProjectXml, StubProjectXml;
  // The stub's check resource (empty: none) and what the build warned of.
  std::string OnlineCheck;
  std::vector<std::string> Warnings;
};

// Builds both outputs. The packages and the bundled uninstaller (a copy: the
// given file is not changed) carry the project's icon (from IconFile, when
// set) and version information. The project's warnings are written to Err
// as "FILE:LINE:COLUMN: warning: ..." lines. Raises EProjectProblems with
// every problem when the project has errors, EBuildError (message naming the
// file and the cause) for other failures, and then leaves no output file. A
// runtime and an uninstaller for different machines are refused. The same
// project, files, runtime and uninstaller give the same bytes (signing
// aside).
TBuildReport BuildPackages(const TBuildOptions& options);

// The runtime and uninstaller used when none is given, the first pair found
// of: "Setup.exe" and "Uninstall.exe" beside setup-builder (a Windows
// builder); "../share/nvsetup/runtime/" from setup-builder's folder (the
// installed builder: the 32-bit runtime); the win32 build tree configured
// when the builder was built (NV_RUNTIME_BUILD_DIR: Installer/Setup.exe,
// Uninstaller/Uninstall.exe). Empty paths when none is found.
struct TRuntimePair {
  std::filesystem::path Runtime, Uninstaller;
  std::string Searched;  // where it looked, for the message when none is found
};
TRuntimePair DefaultRuntimePair();

}  // namespace nvbuilder
