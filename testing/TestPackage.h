// Setup packages of the Wine tests, made from the real setup program: by the
// package builder from sources on disk, or with the system's resource writer
// for packages the builder would refuse (damaged, missing or lying parts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SetupProject.h"

namespace nvtest {

// The package container as the setup program reads it (the project's own
// codec): encoded content and back. DecodePayload throws on damaged data.
std::string EncodePayload(const std::string& plain);
std::string DecodePayload(const std::string& payload);

// A width x height truecolour PNG of one colour with a white square in the
// middle; RGBA (opaque) with alpha, else RGB.
std::string MakePng(int width, int height, uint32_t rgb, bool alpha = false);

// A new GUID in registry form.
std::wstring NewGuid();

// How a test package is made.
enum class TPackMode {
  // By the package builder from an authoring project and source files on
  // disk: file sizes and times come from the sources.
  Builder,
  // Directly with the system's resource writer (UpdateResourceW): for
  // packages the builder would refuse (a missing payload, sizes that lie).
  ResourceWriter,
};

// A setup package under construction; Build writes it.
class TTestPackage {
public:
  // A project titled title with a fresh GUID, version 1.0.0.0, the given
  // default installation folder and a product picture. Builder: sources are
  // kept in workDir\src (the resource writer needs no workDir).
  TTestPackage(const std::wstring& workDir, const std::wstring& title, const std::wstring& installDir,
               TPackMode mode = TPackMode::Builder);

  TSetupScript& Script() { return FScript; }
  TSetupBaseInfo& Info() { return *FScript.BaseInfo(); }
  const std::string& IconPng() const { return FIconPng; }
  // The project text the built package carries.
  const std::string& BuiltProjectXml() const { return FBuiltXml; }

  // A file item DestDir\SourceMask with this content. Builder: the source
  // file, its last-write time set to lastWriteDate unless 0. ResourceWriter:
  // FileBytes = size, LastWriteDate as given, the content under a new
  // resource (none for an empty content).
  TSetupFile* AddFile(const std::wstring& destDir, const std::wstring& sourceMask, const std::string& content,
                      double lastWriteDate = 0);
  TSetupReg* AddReg(TRegRootKey root, const std::wstring& subKey, const std::wstring& name, const std::wstring& data,
                    TRegValueType type = rvtString);
  TSetupShortCut* AddShortCut(const std::wstring& saveDir, const std::wstring& name, const std::wstring& dstFile,
                              const std::wstring& workDir);
  TSetupRun* AddRun(const std::wstring& fileName, const std::wstring& params, const std::wstring& workDir, bool wait);

  // Replaces the product picture.
  void SetIconPng(const std::string& png);
  // The agreement text (bytes as stored).
  void SetLicense(const std::string& bytes);

  // ResourceWriter only: a resource, encoded on Build unless raw; its removal.
  void SetResource(const std::wstring& name, const std::string& bytes, bool raw = false);
  void RemoveResource(const std::wstring& name);
  // ResourceWriter only: the project under the online stub's marker instead
  // of the full package's; no project at all; these bytes in place of the
  // project's XML (stored without encoding when raw).
  bool OnlineStub = false;
  bool NoMarker = false;
  std::string ProjectOverride;
  bool ProjectOverrideRaw = false;

  // Builder only: the uninstaller the builder adds (none when empty).
  std::wstring Uninstaller;
  // Builder only: its --sign command and --online-trust rule (empty: none,
  // and the builder's default).
  std::string SignCommand;
  std::string OnlineTrust;

  // Writes the package as exePath (creating its folder).
  void Build(const std::wstring& exePath);

private:
  struct TResource {
    std::wstring Name;
    std::string Bytes;
    bool Raw;
  };
  std::wstring SourceFile(const std::wstring& name, const std::string& content);
  void BuildWithBuilder(const std::wstring& exePath);
  void BuildWithResourceWriter(const std::wstring& exePath);

  TPackMode FMode;
  std::wstring FSourceDir;
  TSetupScript FScript;
  std::string FIconPng;
  std::string FBuiltXml;
  std::vector<TResource> FResources;
};

}  // namespace nvtest
