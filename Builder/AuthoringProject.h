// The authoring project: a setup project as the publisher writes it, turned
// into the project a package carries. Variables are applied, file items with
// a source folder are expanded into one item per file, and the picture and
// the agreement are given their resource names.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "NvXmlUtils.h"
#include "PayloadCompressor.h"
#include "ProjectProblems.h"
#include "ProjectRules.h"
#include "SetupProject.h"

namespace nvbuilder {

// What a payload is: the content of a file item, the picture or the agreement.
enum class TPackRole { File, Picture, Agreement };

// One payload the package will carry under ResID.
struct TPackItem {
  std::wstring ResID;  // empty until NameResources
  TPackJob Job;
  TPackRole Role = TPackRole::File;
  int FileIndex = -1;  // the file item whose FileBytes the read size fills; -1: none
};

class TAuthoringProject {
public:
  // Reads the project file (UTF-8, with or without byte-order mark, or
  // UTF-16 with one) and checks its form (CheckProjectForm). Raises
  // EBuildError when the file cannot be read, and EProjectProblems when it is
  // not XML or not a setup project; other problems are collected.
  explicit TAuthoringProject(const std::filesystem::path& projectFile);

  // Applies the project variables to every item and to the text fields of the
  // base information.
  void ApplyVariables();
  // The checks of CheckProjectRules.
  void CheckRules();
  // Expands every file item that names a SourcePath into one item per
  // matching file (sorted), each with its size and last-write time (no later
  // than SOURCE_DATE_EPOCH when that is set). A mask that matches nothing is
  // an error. The expanded items keep no SourcePath: the package carries no
  // path of the build machine.
  void ExpandFileMasks();
  // Adds the uninstaller as "{app}\Uninstall.exe" unless a file item already
  // installs that path. An empty path does nothing.
  void AddUninstaller(const std::filesystem::path& uninstaller);
  // Refuses a DWORD registry item whose data the installer cannot read as a
  // number (its StrToInt rules; a path constant never is one).
  void CheckRegistryItems();
  // Two file items that install the same file (DestDir and SourceMask
  // compared as the target machine resolves them): differing content is
  // refused; identical content is kept once, in the earlier item.
  void MergeSameDestinations();
  // Picture (IconFile, else the builder's own) and agreement (LicenseFile).
  // An IconFile must be a PNG picture that decodes (see PngProblem). An
  // agreement in UTF-8 without byte-order mark gets one (the runtime would
  // read it in the ANSI code page), with a note; text the runtime would
  // show garbled otherwise is a warning. IconFile and LicenseFile keep only
  // their file names.
  void AssignPictureAndLicense();
  // All of the above, in the order: variables, rules, registry, masks,
  // uninstaller, merge, run and shortcut targets, picture and agreement.
  // Raises EProjectProblems with every problem when there are errors (or,
  // with warningsAsErrors, warnings).
  void Prepare(const std::filesystem::path& uninstaller, bool warningsAsErrors = false);

  // Every payload to pack: the files with content, the picture, the agreement.
  std::vector<TPackItem> PackItems() const;
  // After packing: names every payload (items[i] packed into digests[i]) by
  // its role, its item's destination and its content, unless the project
  // names the picture or agreement resource itself; the same project and
  // files give the same names. Fills items[i].ResID.
  void NameResources(std::vector<TPackItem>& items, const std::vector<TSha256Digest>& digests);
  // Puts the size read by the packer into the file item's FileBytes.
  void SetFileBytes(int fileIndex, uint64_t size);

  // The output paths after Prepare (empty when not made): relative names
  // against the project's folder, or every output into outDir when given.
  // The packages' project keeps FullSetupFile and MiniSetupFile as file names.
  std::filesystem::path FullSetupPath(const std::filesystem::path& outDir) const;
  std::filesystem::path MiniSetupPath(const std::filesystem::path& outDir) const;

  TSetupScript& Script() { return *FScript; }
  const TSetupScript& Script() const { return *FScript; }
  const std::filesystem::path& ProjectFile() const { return FProjectFile; }
  const std::filesystem::path& ProjectDir() const { return FProjectDir; }
  const std::string& Picture() const { return FPicture; }
  const std::string& License() const { return FLicense; }
  // The IconFile as the project names it (before it is cut to its file name).
  const std::filesystem::path& IconPath() const { return FIconPath; }

  // The problems found so far, and the same formatted as
  // "FILE:LINE:COLUMN: error: message".
  const TProblemList& Problems() const { return FProblems; }
  std::vector<std::string> ProblemLines() const;
  // What the builder changed on its own and says so ("the agreement ...").
  const std::vector<std::string>& Notes() const { return FNotes; }

  // The project as stored in the full package (XML text).
  std::string FullProjectXml() const;
  // The online stub's project: the same base information and variables, no items.
  std::string StubProjectXml() const;

private:
  std::string Where() const;  // the project file, for messages
  std::filesystem::path OutputPath(const std::wstring& name, const std::filesystem::path& outDir) const;
  // Raises EProjectProblems when there are errors (or warnings, when asked).
  void ThrowIfProblems(bool warningsAsErrors) const;
  std::size_t FileAt(int fileIndex, const char* attribute) const;

  std::filesystem::path FProjectFile, FProjectDir;
  std::string FText;  // the project as UTF-8, the text of every position
  TXmlDocument FDocument;
  TProjectPlaces FPlaces;
  std::unique_ptr<TSetupScript> FScript;
  std::vector<std::filesystem::path> FFileSources;  // per file item: its source, empty when none
  std::vector<const TXmlNode*> FFileNodes;          // per file item: its element, null for the uninstaller
  std::string FPicture, FLicense;
  std::filesystem::path FIconPath;
  std::wstring FFullSetupName, FMiniSetupName;
  TProblemList FProblems;
  std::vector<std::string> FNotes;
};

// Why a PNG file would not decode, or empty when it would: the signature,
// the chunk structure and CRCs of the critical chunks, a sane IHDR, PLTE
// where needed, and IDAT holding one complete zlib stream with exactly the
// rows the header announces, each with a known filter type.
std::string PngProblem(const std::string& bytes);

// The folder of the running setup-builder program (empty when unknown).
std::filesystem::path SelfDirectory();

}  // namespace nvbuilder
