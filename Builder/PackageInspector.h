// The inspect command: what a package holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "PeProductInfo.h"

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
  bool Signed = false;                        // the file has a certificate table (a signature)
  std::vector<uint32_t> IconSizes;            // of the main icon group; empty without one
  bool HasVersion = false;
  TPeVersionInfo Version;                     // valid when HasVersion
  std::string VersionError;                   // why a version resource could not be read
  std::string OnlineCheck;                    // an online stub's check (DescribeOnlineCheck)
};

// Reads the package. Raises EBuildError naming the file when it cannot be
// read, is not a Windows executable, or its project resource is damaged.
TInspection InspectPackage(const std::filesystem::path& package);

// The report as printed by "inspect".
std::string FormatInspection(const TInspection& inspection);

const char* KindName(TPackageKind kind);

}  // namespace nvbuilder
