#include "TestMachine.h"

#include <windows.h>
#include <zlib.h>

#include <cwctype>

#include "NvSysUtils.h"

namespace nvtest {

namespace {

// What Wine changes by itself while the tests run, found by taking snapshots
// around runs that change nothing (a program started and ended, the setup
// program stopped by its folder check). Each entry is as narrow as the
// change it stands for.
const wchar_t* const kChangesByThemselves[] = {
    L"",
};

// The parts of the machine a snapshot takes.
struct TRegArea {
  HKEY Root;
  const wchar_t* Name;  // the root's name in the snapshot
  const wchar_t* Path;  // the key taken, with everything below it
  REGSAM View;
};
const TRegArea kRegAreas[] = {
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software", KEY_WOW64_32KEY},
    {HKEY_CURRENT_USER, L"HKCU", L"", KEY_WOW64_32KEY},
};
const wchar_t kDrive[] = L"C:\\";
// Below this folder files are compared by size and last-write time only.
const wchar_t kSystemFolder[] = L"C:\\windows\\";

bool Matches(const std::wstring& text, const std::vector<std::wstring>& patterns) {
  for (const std::wstring& p : patterns)
    if (MatchesPattern(text, p)) return true;
  return false;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && MatchesPattern(a, b);
}

std::string Hex(uint32_t v, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s(digits, '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) s[i] = kDigits[v & 15];
  return s;
}

std::string FileContent(const std::wstring& path, uint64_t size) {
  std::string what = "file, " + std::to_string(size) + " bytes, ";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return what + "unreadable";
  static std::string buffer(1 << 20, '\0');
  uLong crc = crc32(0, nullptr, 0);
  DWORD n = 0;
  while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0)
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), n);
  CloseHandle(h);
  return what + "crc32 " + Hex(static_cast<uint32_t>(crc), 8);
}

class TScanner {
public:
  TScanner(TMachineSnapshot& snapshot, const std::vector<std::wstring>& skip) : FItems(snapshot.Items) {
    for (const wchar_t* p : kChangesByThemselves)
      if (*p) FSkip.push_back(p);
    FSkip.insert(FSkip.end(), skip.begin(), skip.end());
  }

  // dir ends in a backslash.
  void Folder(const std::wstring& dir, bool contents) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileExW((dir + L"*").c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        const std::wstring sub = path + L"\\";
        if (Matches(sub, FSkip)) continue;
        FItems[sub] = "folder";
        // A link to another folder is named, not followed.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          FItems[sub] = "folder link";
          continue;
        }
        Folder(sub, contents && !SameText(sub, kSystemFolder));
        continue;
      }
      if (Matches(path, FSkip)) continue;
      const uint64_t size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      if (contents) {
        FItems[path] = FileContent(path, size);
      } else {
        const uint64_t time =
            (static_cast<uint64_t>(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime;
        FItems[path] = "file, " + std::to_string(size) + " bytes, written " + std::to_string(time);
      }
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }

  void Key(HKEY root, const std::wstring& rootName, const std::wstring& path, REGSAM view) {
    const std::wstring name = rootName + (path.empty() ? L"" : path + L"\\");
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
      // A key the test cannot read (a denied one) still shows that it is there.
      FItems[name] = "key, unreadable";
      return;
    }
    FItems[name] = "key";
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values, &maxName, &maxData,
                     nullptr, nullptr);
    std::wstring valueName(maxName + 2, L'\0');
    std::string data(maxData + 2, '\0');
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = static_cast<DWORD>(valueName.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
      const LONG rc = RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &dataSize);
      if (rc == ERROR_MORE_DATA) {
        valueName.resize(valueName.size() * 2 + 256);
        data.resize(data.size() * 2 + 4096);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) break;
      const std::wstring item = name + L" \"" + valueName.substr(0, nameLength) + L"\"";
      if (!Matches(item, FSkip)) FItems[item] = ValueText(type, data.substr(0, dataSize));
    }
    std::vector<std::wstring> children;
    std::wstring child(maxSubKey + 2, L'\0');
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(child.size());
      const LONG rc = RegEnumKeyExW(key, i, child.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_MORE_DATA) {
        child.resize(child.size() * 2 + 256);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) break;
      children.push_back(child.substr(0, length));
    }
    RegCloseKey(key);
    for (const std::wstring& c : children) {
      const std::wstring sub = path.empty() ? c : path + L"\\" + c;
      if (!Matches(rootName + sub + L"\\", FSkip)) Key(root, rootName, sub, view);
    }
  }

  static std::string ValueText(DWORD type, const std::string& data) {
    switch (type) {
      case REG_SZ:
      case REG_EXPAND_SZ: {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        const bool terminated = !text.empty() && text.back() == L'\0';
        if (terminated) text.pop_back();
        return std::string(type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ") + " \"" + Utf8Encode(text) + "\"" +
               (terminated && data.size() % 2 == 0 ? "" : " (not terminated)");
      }
      case REG_DWORD:
        if (data.size() == 4) {
          const uint32_t v = static_cast<uint8_t>(data[0]) | static_cast<uint8_t>(data[1]) << 8 |
                             static_cast<uint8_t>(data[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(data[3])) << 24;
          return "REG_DWORD " + std::to_string(v);
        }
        break;
    }
    std::string text = "type " + std::to_string(type) + ",";
    for (unsigned char c : data) text += " " + Hex(c, 2);
    return text;
  }

private:
  std::map<std::wstring, std::string>& FItems;
  std::vector<std::wstring> FSkip;
};

}  // namespace

bool MatchesPattern(const std::wstring& text, const std::wstring& pattern) {
  // Iterative wildcard match: the last "*" seen takes one more character
  // whenever the rest fails.
  std::size_t t = 0, p = 0, star = std::wstring::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && std::towupper(pattern[p]) == std::towupper(text[t])) {
      ++p;
      ++t;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

TMachineSnapshot TakeSnapshot(const std::vector<std::wstring>& skip, const std::vector<std::wstring>& moreFolders) {
  TMachineSnapshot snapshot;
  TScanner scanner(snapshot, skip);
  scanner.Folder(kDrive, true);
  for (const std::wstring& folder : moreFolders) {
    snapshot.Items[folder] = "folder";
    scanner.Folder(folder, true);
  }
  for (const TRegArea& area : kRegAreas)
    scanner.Key(area.Root, std::wstring(area.Name) + L"\\", area.Path, area.View);
  return snapshot;
}

std::vector<std::string> Differences(const TMachineSnapshot& before, const TMachineSnapshot& after,
                                     const std::vector<std::wstring>& sameApartFromContent) {
  std::vector<std::string> lines;
  auto b = before.Items.begin(), a = after.Items.begin();
  while (b != before.Items.end() || a != after.Items.end()) {
    if (a == after.Items.end() || (b != before.Items.end() && b->first < a->first)) {
      lines.push_back("- " + Utf8Encode(b->first) + ": " + b->second);
      ++b;
    } else if (b == before.Items.end() || a->first < b->first) {
      lines.push_back("+ " + Utf8Encode(a->first) + ": " + a->second);
      ++a;
    } else {
      if (b->second != a->second && !Matches(a->first, sameApartFromContent))
        lines.push_back("~ " + Utf8Encode(a->first) + ": " + b->second + " -> " + a->second);
      ++a;
      ++b;
    }
  }
  return lines;
}

std::string DifferenceText(const std::vector<std::string>& differences) {
  if (differences.empty()) return "none";
  std::string text;
  for (const std::string& line : differences) text += "\n  " + line;
  return text;
}

}  // namespace nvtest
