// Expansion of a file item's source folder and mask into concrete files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace nvbuilder {

// One file found under a source folder.
struct TSourceFile {
  std::filesystem::path FullPath;
  std::wstring RelPath;      // relative to the source folder, backslash separated
  uint64_t Size = 0;         // at scan time; the packer uses the size it reads
  double LastWriteDate = 0;  // local TDateTime
};

// Windows-style wildcard match of a file name ('*' any run, '?' one
// character), ignoring letter case. A mask ending in ".*" also matches a name
// without a dot ("*.*" matches every name).
bool MatchesMask(std::wstring_view name, std::wstring_view mask);
// True when the mask holds a wildcard character.
bool HasWildcards(std::wstring_view mask);

// The files under folder that match mask. The mask may start with a relative
// folder ("bin\*.dll"), which is part of every RelPath. With includeSubPath
// the name part is matched in every sub-folder as well. The result is sorted
// by path, folder by folder, ignoring case (then by exact text), so the order
// is the same on every machine. Raises EBuildError when the folder does not
// exist or cannot be read; an empty result is returned as such.
std::vector<TSourceFile> ScanSource(const std::filesystem::path& folder, std::wstring_view mask,
                                    bool includeSubPath);

// A file time as a local TDateTime (days since 30 December 1899).
double FileTimeToDateTime(std::filesystem::file_time_type time);
// Seconds since 1970-01-01 00:00 UTC as a local TDateTime.
double UnixTimeToDateTime(long long seconds);
// Days since 30 December 1899 of a civil date and time of day.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);

}  // namespace nvbuilder
