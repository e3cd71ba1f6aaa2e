// The package container and the path constants.
#include "Setupfn.h"

#include "NvSysUtils.h"
#include "PackageCodec.h"

namespace nvsetupfn {
// The system's folders: Program Files (no trailing backslash), desktop and
// all-users programs folder (trailing backslash, or empty when unknown).
void QuerySystemFolders(std::wstring& programFiles, std::wstring& desktop, std::wstring& programs);
// The running program's full path.
std::wstring QueryModulePath();
}  // namespace nvsetupfn

#ifndef _WIN32
namespace nvsetupfn {
void QuerySystemFolders(std::wstring& programFiles, std::wstring& desktop, std::wstring& programs) {
  programFiles.clear();
  desktop.clear();
  programs.clear();
}
std::wstring QueryModulePath() { return {}; }
}  // namespace nvsetupfn
#endif

namespace {

struct TConstants {
  bool FoldersReady = false;
  std::wstring ProgramFiles, Desktop, Programs;
  std::wstring App, Title, SrcExe;
};

TConstants& State() {
  static TConstants state;
  return state;
}

TConstants& Folders() {
  TConstants& s = State();
  if (!s.FoldersReady) {
    nvsetupfn::QuerySystemFolders(s.ProgramFiles, s.Desktop, s.Programs);
    s.ProgramFiles = ExcludeTrailingBackslash(s.ProgramFiles);
    s.FoldersReady = true;
  }
  return s;
}

}  // namespace

void TSetupfn::MaskBytes(std::string& bytes) { MaskPayloadBytes(bytes.data(), bytes.size(), 0); }

void TSetupfn::DecodeStream(TMemoryStream* stream) {
  // Unmasked in place first: a damaged payload leaves the unmasked bytes.
  std::string& bytes = stream->Bytes();
  MaskPayloadBytes(bytes.data(), bytes.size(), 0);
  stream->Rewind();
  std::string plain = ZlibDecompress(bytes.data(), bytes.size());
  stream->Assign(std::move(plain));
}

std::wstring TSetupfn::ExpandConstants(const std::wstring& text) {
  std::wstring s = StringReplaceAll(text, L"{pf}", ProgramFilesPath(), true);
  s = StringReplaceAll(s, L"{group}", GroupPath(), true);
  s = StringReplaceAll(s, L"{desktop}", DesktopPath(), true);
  s = StringReplaceAll(s, L"{app}", AppPath(), true);
  s = StringReplaceAll(s, L"{srcexe}", SrcExePath(), true);
  // A constant followed by "\" yields a doubled backslash, collapsed here.
  // The leading pair of a network path ("\\server\share") is kept.
  if (s.size() >= 2 && s[0] == L'\\' && s[1] == L'\\')
    return L"\\\\" + StringReplaceAll(s.substr(2), L"\\\\", L"\\", false);
  return StringReplaceAll(s, L"\\\\", L"\\", false);
}

void TSetupfn::SetAppPath(const std::wstring& path) { State().App = path; }
std::wstring TSetupfn::AppPath() { return State().App; }
void TSetupfn::SetProductTitle(const std::wstring& title) { State().Title = title; }
std::wstring TSetupfn::ProductTitle() { return State().Title; }

std::wstring TSetupfn::ProgramFilesPath() { return Folders().ProgramFiles; }
std::wstring TSetupfn::DesktopPath() { return Folders().Desktop; }
std::wstring TSetupfn::ProgramsPath() { return Folders().Programs; }

std::wstring TSetupfn::GroupPath() {
  TConstants& s = Folders();
  std::wstring group = s.Programs + s.Title;
  if (group.empty() || group.back() != L'\\') group += L'\\';
  return group;
}

void TSetupfn::SetProgramFilesPath(const std::wstring& path) { Folders().ProgramFiles = ExcludeTrailingBackslash(path); }
void TSetupfn::SetDesktopPath(const std::wstring& path) { Folders().Desktop = path; }
void TSetupfn::SetProgramsPath(const std::wstring& path) { Folders().Programs = path; }

std::wstring TSetupfn::SrcExePath() {
  const TConstants& s = State();
  return s.SrcExe.empty() ? nvsetupfn::QueryModulePath() : s.SrcExe;
}
void TSetupfn::SetSrcExePath(const std::wstring& path) { State().SrcExe = path; }

void TSetupfn::InitFolders() { Folders(); }
