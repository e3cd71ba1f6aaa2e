#include "SourceScan.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cwctype>
#include <system_error>

#include "BuilderText.h"

namespace fs = std::filesystem;

namespace nvbuilder {

static wchar_t Fold(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }

static bool Match(std::wstring_view name, std::wstring_view mask) {
  // Iterative wildcard match with one backtracking point per star.
  std::size_t n = 0, m = 0, starM = std::wstring_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == L'?' || (mask[m] != L'*' && Fold(mask[m]) == Fold(name[n])))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == L'*') {
      starM = m++;
      starN = n;
    } else if (starM != std::wstring_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == L'*') ++m;
  return m == mask.size();
}

bool MatchesMask(std::wstring_view name, std::wstring_view mask) {
  if (Match(name, mask)) return true;
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == L".*" && name.find(L'.') == std::wstring_view::npos)
    return Match(name, mask.substr(0, mask.size() - 2));
  return false;
}

bool HasWildcards(std::wstring_view mask) { return mask.find_first_of(L"*?") != std::wstring_view::npos; }

static std::vector<std::wstring> Components(const std::wstring& rel) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t p = rel.find(L'\\', start);
    parts.push_back(rel.substr(start, p == std::wstring::npos ? std::wstring::npos : p - start));
    if (p == std::wstring::npos) break;
    start = p + 1;
  }
  return parts;
}

static bool PathLess(const std::wstring& a, const std::wstring& b) {
  // Folder by folder: a file of a folder sorts among its sibling names.
  auto pa = Components(a), pb = Components(b);
  for (std::size_t i = 0; i < pa.size() && i < pb.size(); ++i) {
    const std::wstring &x = pa[i], &y = pb[i];
    if (x == y) continue;
    std::wstring fx = x, fy = y;
    for (auto& c : fx) c = Fold(c);
    for (auto& c : fy) c = Fold(c);
    if (fx != fy) return fx < fy;
    return x < y;
  }
  return pa.size() < pb.size();
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  // Days from the civil date (proleptic Gregorian), relative to 1899-12-30.
  auto daysFromCivil = [](int y, int m, int d) -> long long {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days since 1970-01-01
  };
  long long days = daysFromCivil(year, month, day) - daysFromCivil(1899, 12, 30);
  double fraction = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  return static_cast<double>(days) + fraction;
}

static double LocalDateTime(long long secs, int millis) {
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return 0;
#else
  if (!localtime_r(&t, &local)) return 0;
#endif
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec, millis);
}

double FileTimeToDateTime(fs::file_time_type time) {
  auto sys = std::chrono::file_clock::to_sys(time);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sys.time_since_epoch()).count();
  long long secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  return LocalDateTime(secs, static_cast<int>(ms - secs * 1000));
}

double UnixTimeToDateTime(long long seconds) { return LocalDateTime(seconds, 0); }

std::vector<TSourceFile> ScanSource(const fs::path& folder, std::wstring_view mask, bool includeSubPath) {
  std::wstring m(mask);
  for (auto& c : m)
    if (c == L'/') c = L'\\';
  std::wstring prefix;  // relative folder part of the mask
  std::size_t cut = m.rfind(L'\\');
  if (cut != std::wstring::npos) {
    prefix = m.substr(0, cut + 1);
    m = m.substr(cut + 1);
  }
  while (!prefix.empty() && prefix.front() == L'\\') prefix.erase(0, 1);
  fs::path root = prefix.empty() ? folder.lexically_normal() : ResolvePath(folder, prefix);
  if (!root.has_filename() && root.has_relative_path()) root = root.parent_path();

  std::error_code ec;
  if (!fs::is_directory(root, ec))
    throw EBuildError(PathText(root) + ": the source folder does not exist");

  std::vector<TSourceFile> files;
  auto consider = [&](const fs::directory_entry& entry) {
    std::error_code e;
    if (!entry.is_regular_file(e)) return;
    std::wstring name = FromPath(entry.path().filename());
    if (!MatchesMask(name, m)) return;
    TSourceFile f;
    f.FullPath = entry.path();
    std::wstring rel = FromPath(entry.path().lexically_relative(root));
    for (auto& c : rel)
      if (c == L'/') c = L'\\';
    f.RelPath = prefix + rel;
    f.Size = entry.file_size(e);
    if (e) throw EBuildError(PathText(entry.path()) + ": cannot read the file size: " + e.message());
    f.LastWriteDate = FileTimeToDateTime(entry.last_write_time(e));
    if (e) throw EBuildError(PathText(entry.path()) + ": cannot read the file time: " + e.message());
    files.push_back(std::move(f));
  };
  try {
    if (includeSubPath) {
      for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none); it != fs::recursive_directory_iterator();
           ++it)
        consider(*it);
    } else {
      for (const auto& entry : fs::directory_iterator(root)) consider(entry);
    }
  } catch (const fs::filesystem_error& e) {
    throw EBuildError(PathText(e.path1().empty() ? root : e.path1()) + ": cannot list the folder: " +
                      e.code().message());
  }
  std::sort(files.begin(), files.end(),
            [](const TSourceFile& a, const TSourceFile& b) { return PathLess(a.RelPath, b.RelPath); });
  return files;
}

}  // namespace nvbuilder
