// The folders no product owns, as this machine names them.
#include "ProtectedFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "InstallLocation.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

namespace {

std::vector<std::wstring> MakeList() {
  std::vector<std::wstring> list;
  auto add = [&](const std::wstring& folder) {
    const std::wstring normal = NormalPath(folder);
    if (!normal.empty()) list.push_back(normal);
  };
  static const int kFolders[] = {
      CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
      CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
      CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA,
      CSIDL_LOCAL_APPDATA, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS,
      CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_FONTS, CSIDL_TEMPLATES, CSIDL_COMMON_TEMPLATES, CSIDL_MYMUSIC,
      CSIDL_MYPICTURES, CSIDL_MYVIDEO, CSIDL_COMMON_MUSIC, CSIDL_COMMON_PICTURES, CSIDL_COMMON_VIDEO,
      CSIDL_FAVORITES, CSIDL_SENDTO, CSIDL_RECENT, CSIDL_INTERNET_CACHE, CSIDL_COOKIES, CSIDL_HISTORY,
      CSIDL_ADMINTOOLS, CSIDL_COMMON_ADMINTOOLS, CSIDL_NETHOOD, CSIDL_PRINTHOOD, CSIDL_RESOURCES};
  for (int csidl : kFolders) add(TNvRegfn::GetSpecialFolderPath(csidl));
  // The Users folder is the parent of the profiles (the public one among
  // them), and every folder in it is somebody's profile.
  const std::wstring profile = NormalPath(TNvRegfn::GetSpecialFolderPath(CSIDL_PROFILE));
  if (!profile.empty()) {
    const std::wstring users = ExcludeTrailingBackslash(ExtractFilePath(profile));
    add(users);
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((users + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
          add(users + L"\\" + name);
          // Each profile's own known folders, whoever runs the setup.
          for (const wchar_t* sub : {L"Desktop", L"Documents", L"Downloads", L"Music", L"Pictures", L"Videos",
                                     L"Favorites", L"AppData", L"AppData\\Roaming", L"AppData\\Local"})
            add(users + L"\\" + name + L"\\" + sub);
        }
      } while (FindNextFileW(h, &found));
      FindClose(h);
    }
  }
  wchar_t buffer[MAX_PATH + 1] = {};
  if (GetTempPathW(MAX_PATH + 1, buffer)) add(buffer);
  return list;
}

}  // namespace

bool IsProtectedFolder(const std::wstring& path) {
  const std::wstring normal = NormalPath(path);
  if (normal.empty()) return true;  // not even a full path: never a product's own
  // A drive's root ("C:\") or a share's ("\\server\share").
  if (normal.size() <= 3 && normal.back() == L'\\') return true;
  const TLocation loc = ParseLocation(normal);
  if (loc.Rest.empty()) return true;
  static const std::vector<std::wstring> list = MakeList();
  for (const std::wstring& folder : list)
    if (SameText(folder, normal)) return true;
  return false;
}
