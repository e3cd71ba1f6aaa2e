// The list and extract commands: what a package will install, read from the
// package itself.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "PackageInspector.h"
#include "PeResources.h"
#include "SetupProject.h"

namespace nvbuilder {

// A package opened for its project and payloads.
class TPackageReader {
public:
  // Raises EBuildError naming the file when it cannot be read, is not a
  // Windows executable, carries no package project, or its project is damaged.
  explicit TPackageReader(const std::filesystem::path& package);

  TPackageKind Kind() const { return FKind; }
  const TSetupScript& Script() const { return *FScript; }
  const std::string& ProjectXml() const { return FProjectXml; }
  // The decoded content of a file item: its payload, or nothing when
  // FileBytes is not positive. EBuildError when the resource is missing or
  // damaged.
  std::string FileContent(const TSetupFile& item) const;

private:
  std::filesystem::path FPath;
  TPeImage FImage;
  TPackageKind FKind = TPackageKind::None;
  std::string FProjectXml;
  std::unique_ptr<TSetupScript> FScript;
};

// A file item's destination in normal form ("{app}\docs\guide.txt"), or
// empty when the package's value is unusable.
std::wstring FileDestination(const TSetupFile& item);

// The "list" report: product, every file with its destination and size,
// registry values, shortcuts and run entries.
std::string FormatContents(const TPackageReader& package);

// Where a destination is extracted below dir: the constant becomes a folder
// of its own name ("{app}\docs\a.txt" -> dir/{app}/docs/a.txt), an absolute
// path its drive letter or server and share ("C:\x" -> dir/C/x).
std::filesystem::path ExtractPath(const std::filesystem::path& dir, const std::wstring& destination);

// Writes every file of a full package below dir as it will be installed
// (content and relative place); one line per file to out unless null.
// Returns the number of files. EBuildError for an online stub, a file whose
// destination is unusable, or a payload that does not decode.
std::size_t ExtractFiles(const TPackageReader& package, const std::filesystem::path& dir, std::FILE* out);

}  // namespace nvbuilder
