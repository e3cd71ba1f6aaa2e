// The build command: an authoring project and its files to a full package
// and an online stub.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace nvbuilder {

struct TBuildOptions {
  std::filesystem::path Project;
  std::filesystem::path Runtime;      // the setup runtime executable
  std::filesystem::path OutDir;       // empty: outputs as the project names them
  std::filesystem::path Uninstaller;  // empty: none is added
  // Run on the bundled uninstaller before it is packed and on each package
  // before it is written, "{file}" standing for the file (see Signing.h);
  // empty: nothing is signed.
  std::string SignCommand;
  unsigned Jobs = 0;                  // 0: every core
  bool Quiet = false;
  std::FILE* Out = stdout;            // progress and summary
};

struct TBuildReport {
  std::filesystem::path FullPackage, OnlineStub;  // empty when not made
  uint64_t Files = 0, PlainBytes = 0, StoredBytes = 0;
  double Seconds = 0;
  // Every resource written to the full package: name -> stored bytes; the
  // stub carries the subset it names.
  std::map<std::wstring, std::string> Resources;
  std::string FullProjectXml, StubProjectXml;
};

// Builds both outputs. The packages and the bundled uninstaller (a copy: the
// given file is not changed) carry the project's icon (from IconFile, when
// set) and version information. Raises EBuildError (message naming the file
// and the cause) and then leaves no output file.
TBuildReport BuildPackages(const TBuildOptions& options);

// The uninstaller to add by default: "Uninstall.exe" beside setup-builder
// when it exists, else empty.
std::filesystem::path DefaultUninstaller();
// The runtime by default: "Setup.exe" beside setup-builder.
std::filesystem::path DefaultRuntime();

}  // namespace nvbuilder
