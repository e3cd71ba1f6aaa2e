// The authoring project: a setup project as the publisher writes it, turned
// into the project a package carries. Variables are applied, file items with
// a source folder are expanded into one item per file, and the picture and
// the agreement are given their resource names.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PayloadCompressor.h"
#include "SetupProject.h"

namespace nvbuilder {

// One payload the package will carry under ResID.
struct TPackItem {
  std::wstring ResID;
  TPackJob Job;
  int FileIndex = -1;  // the file item whose FileBytes the read size fills; -1: none
};

class TAuthoringProject {
public:
  // Reads the project file. Raises EBuildError naming the file and the cause.
  explicit TAuthoringProject(const std::filesystem::path& projectFile);

  // Applies the project variables to every item and to the text fields of the
  // base information.
  void ApplyVariables();
  // Expands every file item that names a SourcePath into one item per
  // matching file (sorted), each with a new ResID, its size and local
  // last-write time. A mask that matches nothing is an error.
  void ExpandFileMasks();
  // Adds the uninstaller as "{app}\Uninstall.exe" unless a file item already
  // installs that path. An empty path does nothing.
  void AddUninstaller(const std::filesystem::path& uninstaller);
  // Refuses a DWORD registry item whose data the installer cannot read as a
  // number (its StrToInt rules; a path constant never is one).
  void CheckRegistryItems() const;
  // Two file items that install the same file (DestDir and SourceMask
  // compared as the target machine resolves them): differing content is
  // refused; identical content is kept once, in the earlier item.
  void MergeSameDestinations();
  // Picture (IconFile, else the builder's own) under IconResID and agreement
  // (LicenseFile) under LicenseResID; names are new GUIDs unless given, and
  // LicenseResID is emptied without an agreement file. An IconFile must be a
  // PNG picture that decodes (see PngProblem).
  void AssignPictureAndLicense();
  // All of the above, in that order.
  void Prepare(const std::filesystem::path& uninstaller);

  // Every payload to pack: the files with content, the picture, the agreement.
  std::vector<TPackItem> PackItems() const;
  // Puts the size read by the packer into the file item's FileBytes.
  void SetFileBytes(int fileIndex, uint64_t size);

  // The output paths (empty when not made): relative names against the
  // project's folder, or every output into outDir when it is given.
  std::filesystem::path FullSetupPath(const std::filesystem::path& outDir) const;
  std::filesystem::path MiniSetupPath(const std::filesystem::path& outDir) const;

  TSetupScript& Script() { return *FScript; }
  const TSetupScript& Script() const { return *FScript; }
  const std::filesystem::path& ProjectFile() const { return FProjectFile; }
  const std::filesystem::path& ProjectDir() const { return FProjectDir; }
  const std::string& Picture() const { return FPicture; }
  const std::string& License() const { return FLicense; }

  // The project as stored in the full package (XML text).
  std::string FullProjectXml() const;
  // The online stub's project: the same base information and variables, no items.
  std::string StubProjectXml() const;

private:
  std::string Where() const;  // the project file, for messages
  std::filesystem::path OutputPath(const std::wstring& name, const std::filesystem::path& outDir) const;

  std::filesystem::path FProjectFile, FProjectDir;
  std::unique_ptr<TSetupScript> FScript;
  std::vector<std::filesystem::path> FFileSources;  // per file item: its source, empty when none
  std::string FPicture, FLicense;
};

// Why a PNG file would not decode, or empty when it would: the signature,
// the chunk structure and CRCs of the critical chunks, a sane IHDR, PLTE
// where needed, and IDAT holding one complete zlib stream with exactly the
// rows the header announces, each with a known filter type.
std::string PngProblem(const std::string& bytes);

// The folder of the running setup-builder program (empty when unknown).
std::filesystem::path SelfDirectory();

}  // namespace nvbuilder
