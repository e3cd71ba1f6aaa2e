// The inspect command: what a package holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace nvbuilder {

enum class TPackageKind { None, Full, OnlineStub };

struct TInspectedResource {
  std::wstring Name;
  uint64_t StoredSize = 0;
  bool Decoded = false;      // the bytes are a valid payload
  uint64_t DecodedSize = 0;
};

struct TInspection {
  TPackageKind Kind = TPackageKind::None;
  std::vector<TInspectedResource> Resources;  // every RCDATA resource, in the file's order
  std::string ProjectXml;                     // the decoded project of the marker (empty for None)
  std::vector<std::wstring> Missing;          // resources the project names that the package lacks
};

// Reads the package. Raises EBuildError naming the file when it cannot be
// read, is not a Windows executable, or its project resource is damaged.
TInspection InspectPackage(const std::filesystem::path& package);

// The report as printed by "inspect".
std::string FormatInspection(const TInspection& inspection);

const char* KindName(TPackageKind kind);

}  // namespace nvbuilder
