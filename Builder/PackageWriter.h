// Writing packages: a copy of the runtime executable with the package
// resources added, written through a temporary file so that a failed build
// leaves no output behind.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "PeResources.h"

namespace nvbuilder {

// One RCDATA resource to add: name and stored (encoded) bytes.
struct TPackageResource {
  std::wstring Name;
  const std::string* Payload = nullptr;
};

// Reads and parses the runtime executable; EBuildError naming it when it is
// missing or not a Windows executable.
TPeImage LoadRuntime(const std::filesystem::path& runtime);

// The package bytes: the runtime with both marker resources removed, then
// every given resource set (replacing one of the same name), then `finish`
// (when given) applied to the image before it is saved.
std::string MakePackage(const TPeImage& runtime, const std::vector<TPackageResource>& resources,
                        const std::function<void(TPeImage&)>& finish = {});

// Writes every (path, bytes) pair: all to temporary files beside their
// targets first, then renamed into place. On any failure every temporary and
// every target written by this call is removed and EBuildError names the file.
void WriteOutputs(const std::vector<std::pair<std::filesystem::path, const std::string*>>& outputs);

// One file written the same way.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes);

}  // namespace nvbuilder
