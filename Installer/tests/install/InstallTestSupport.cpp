#include "InstallTestSupport.h"

#include <objbase.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PackageBuilder.h"
#include "PackageFormat.h"

namespace nvtest {

namespace {

std::wstring Widen(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

// A build path as the Wine process sees it: "/x/y" is "Z:\x\y".
std::wstring HostPathToWindows(const char* path) {
  std::wstring w = Widen(path);
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  if (!w.empty() && w[0] == L'\\') w = L"Z:" + w;
  return w;
}

const std::wstring kTestRoot = L"C:\\nvops-tests\\";

void PutBigEndian32(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

void PngChunk(std::string& png, const char* type, const std::string& data) {
  PutBigEndian32(png, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  PutBigEndian32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

std::string Deflate(const std::string& plain) {
  uLongf size = compressBound(plain.size());
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                plain.size(), 9) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

void Mask(std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ (i % 255));
}

}  // namespace

std::wstring SetupExe() { return HostPathToWindows(NV_SETUP_EXE); }
std::wstring ProbeExe() { return HostPathToWindows(NV_PROBE_EXE); }

void RemoveTree(const std::wstring& path) {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(path), ec);
}

std::wstring FreshDir(const std::wstring& name) {
  std::wstring dir = kTestRoot + name + L"\\";
  RemoveTree(dir);
  std::filesystem::create_directories(std::filesystem::path(dir));
  return dir;
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return "<unreadable>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file");
}

bool PathIsFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsDir(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string RandomBytes(std::size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return out;
}

std::string EncodePayload(const std::string& plain) {
  if (plain.empty()) return "";
  std::string out = Deflate(plain);
  Mask(out);
  return out;
}

std::string DecodePayload(const std::string& payload) {
  if (payload.empty()) return "";
  std::string in = payload;
  Mask(in);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit failed");
  std::string out;
  char buffer[65536];
  z.next_in = reinterpret_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof(buffer);
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&z);
      throw std::runtime_error("not a container payload");
    }
    out.append(buffer, sizeof(buffer) - z.avail_out);
  } while (rc != Z_STREAM_END);
  inflateEnd(&z);
  return out;
}

std::string MakePng(int width, int height, uint32_t rgb) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  PutBigEndian32(ihdr, width);
  PutBigEndian32(ihdr, height);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  PngChunk(png, "IHDR", ihdr);
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');
    for (int x = 0; x < width; ++x) {
      raw.push_back(static_cast<char>(rgb >> 16));
      raw.push_back(static_cast<char>(rgb >> 8));
      raw.push_back(static_cast<char>(rgb));
    }
  }
  PngChunk(png, "IDAT", Deflate(raw));
  PngChunk(png, "IEND", "");
  return png;
}

std::wstring NewGuid() {
  GUID g;
  CoCreateGuid(&g);
  wchar_t text[64];
  StringFromGUID2(g, text, 64);
  return text;
}

// ---- package ----

TTestPackage::TTestPackage(const std::wstring& workDir, const std::wstring& title, const std::wstring& installDir,
                           TPackMode mode)
    : FMode(mode), FSourceDir(workDir + L"src\\") {
  Info().AppTitle = title;
  Info().Version = L"1.0.0.0";
  Info().GUID = NewGuid();
  Info().DefInstallPath = installDir;
  Info().IconResID = NewGuid();
  FIconPng = MakePng(48, 48, 0x3366CC);
  if (mode == TPackMode::Builder) {
    Info().IconFile = FSourceDir + L"product.png";
    WriteBytes(Info().IconFile, FIconPng);
  } else {
    FResources.emplace_back(Info().IconResID, FIconPng);
  }
}

TSetupFile* TTestPackage::AddFile(const std::wstring& destDir, const std::wstring& sourceMask,
                                  const std::string& content, double lastWriteDate) {
  TSetupFile* f = FScript.FileList()->AddNew();
  f->DestDir = destDir;
  f->SourceMask = sourceMask;
  if (FMode == TPackMode::Builder) {
    // One source folder per item, so that the mask matches this file only.
    f->SourcePath = FSourceDir + std::to_wstring(FScript.FileList()->Count());
    const std::wstring source = f->SourcePath + L"\\" + sourceMask;
    WriteBytes(source, content);
    if (lastWriteDate != 0) {
      int64_t ticks = DateTimeToUtcTicks(lastWriteDate);
      FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
      HANDLE h = CreateFileW(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      SetFileTime(h, nullptr, nullptr, &ft);
      CloseHandle(h);
    }
    return f;
  }
  f->FileBytes = static_cast<int32_t>(content.size());
  f->LastWriteDate = lastWriteDate;
  if (!content.empty()) {
    f->ResID = NewGuid();
    FResources.emplace_back(f->ResID, content);
  }
  return f;
}

TSetupReg* TTestPackage::AddReg(TRegRootKey root, const std::wstring& subKey, const std::wstring& name,
                                const std::wstring& data, TRegValueType type) {
  TSetupReg* r = FScript.RegList()->AddNew();
  r->RootKey = root;
  r->SubKey = subKey;
  r->ValueName = name;
  r->ValueData = data;
  r->ValueType = type;
  return r;
}

TSetupShortCut* TTestPackage::AddShortCut(const std::wstring& saveDir, const std::wstring& name,
                                          const std::wstring& dstFile, const std::wstring& workDir) {
  TSetupShortCut* s = FScript.ShortCutList()->AddNew();
  s->SaveDir = saveDir;
  s->Name = name;
  s->DstFile = dstFile;
  s->WorkDir = workDir;
  return s;
}

TSetupRun* TTestPackage::AddRun(const std::wstring& fileName, const std::wstring& params, const std::wstring& workDir,
                                bool wait) {
  TSetupRun* r = FScript.RunList()->AddNew();
  r->FileName = fileName;
  r->Params = params;
  r->WorkDir = workDir;
  r->Wait = wait;
  return r;
}

void TTestPackage::Build(const std::wstring& exePath) {
  std::filesystem::create_directories(std::filesystem::path(exePath).parent_path());
  if (FMode == TPackMode::Builder)
    BuildWithBuilder(exePath);
  else
    BuildWithResourceWriter(exePath);
}

void TTestPackage::BuildWithBuilder(const std::wstring& exePath) {
  Info().FullSetupFile = exePath;
  const std::wstring projectFile = FSourceDir + L"project.xml";
  FScript.SaveToFile(projectFile, 0);
  nvbuilder::TBuildOptions options;
  options.Project = std::filesystem::path(projectFile);
  options.Runtime = std::filesystem::path(SetupExe());
  options.Quiet = true;
  options.Jobs = 1;
  nvbuilder::TBuildReport report = nvbuilder::BuildPackages(options);
  FBuiltXml = report.FullProjectXml;
}

void TTestPackage::BuildWithResourceWriter(const std::wstring& exePath) {
  if (!CopyFileW(SetupExe().c_str(), exePath.c_str(), FALSE)) throw std::runtime_error("cannot copy Setup.exe");
  HANDLE update = BeginUpdateResourceW(exePath.c_str(), FALSE);
  if (!update) throw std::runtime_error("BeginUpdateResourceW failed");
  auto put = [&](const std::wstring& name, const std::string& plain) {
    std::string payload = EncodePayload(plain);
    if (!UpdateResourceW(update, RT_RCDATA, name.c_str(), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         payload.empty() ? nullptr : payload.data(), static_cast<DWORD>(payload.size())))
      throw std::runtime_error("UpdateResourceW failed");
  };
  TMemoryStream project;
  FScript.SaveToStream(project, 0);
  FBuiltXml = project.Bytes();
  put(FullPackageMarker, FBuiltXml);
  for (const auto& [name, content] : FResources) put(name, content);
  if (!EndUpdateResourceW(update, FALSE)) throw std::runtime_error("EndUpdateResourceW failed");
}

// ---- processes ----

TProcess::TProcess(const std::wstring& commandLine, const std::wstring& currentDir) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      currentDir.empty() ? nullptr : currentDir.c_str(), &si, &FInfo))
    FInfo = {};
}

TProcess::~TProcess() {
  if (FInfo.hProcess) CloseHandle(FInfo.hProcess);
  if (FInfo.hThread) CloseHandle(FInfo.hThread);
}

bool TProcess::WaitFor(DWORD ms) const { return FInfo.hProcess && WaitForSingleObject(FInfo.hProcess, ms) == WAIT_OBJECT_0; }

DWORD TProcess::ExitCode() const {
  DWORD code = 0xFFFFFFFF;
  if (FInfo.hProcess) GetExitCodeProcess(FInfo.hProcess, &code);
  return code;
}

void TProcess::Kill() {
  if (FInfo.hProcess && !WaitFor(0)) {
    TerminateProcess(FInfo.hProcess, 99);
    WaitFor(5000);
  }
}

DWORD RunSetup(const std::wstring& exePath, const std::wstring& args, DWORD timeoutMs) {
  TProcess p(L"\"" + exePath + L"\" " + args);
  if (!p.Started()) {
    ADD_FAILURE() << "setup program did not start";
    return 0xFFFFFFFF;
  }
  if (!p.WaitFor(timeoutMs)) {
    p.Kill();
    ADD_FAILURE() << "setup program did not end in time";
    return 0xFFFFFFFF;
  }
  return p.ExitCode();
}

// ---- registry ----

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool ReadValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view, DWORD& type,
               std::string& data) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data.assign(size, '\0');
    rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size);
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::wstring RegString(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
  DWORD type = 0;
  std::string data;
  if (!ReadValue(root, path, name, view, type, data)) return L"<missing>";
  if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  if (text.empty() || text.back() != L'\0') return L"<not terminated>" + text;
  text.pop_back();
  return text;
}

int64_t RegDword(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
  DWORD type = 0;
  std::string data;
  if (!ReadValue(root, path, name, view, type, data) || type != REG_DWORD || data.size() != 4) return -1;
  DWORD v;
  memcpy(&v, data.data(), 4);
  return v;
}

void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
  for (;;) {
    wchar_t name[256];
    DWORD n = 256;
    if (RegEnumKeyExW(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    DeleteKeyTree(root, path + L"\\" + name, view);
  }
  RegCloseKey(key);
  RegDeleteKeyExW(root, path.c_str(), view, 0);
}

static HKEY CreateKey(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error("cannot create test key");
  return key;
}

void SetRegString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                  REGSAM view) {
  HKEY key = CreateKey(root, path, view);
  RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void SetRegDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value, REGSAM view) {
  HKEY key = CreateKey(root, path, view);
  RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

std::wstring UninstallKey(const std::wstring& guid, const wchar_t* suffix) {
  return std::wstring(UninstallKeyRoot) + L"\\" + guid + suffix;
}

// ---- times ----

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // FILETIME counts from 1601-01-01, TDateTime from 1899-12-30: 109205 days.
  return static_cast<double>(ticks) / (86400.0 * TicksPerSecond) - 109205.0;
}

int64_t DateTimeToUtcTicks(double dateTime) {
  int64_t local = static_cast<int64_t>((dateTime + 109205.0) * 86400.0 * 1000.0 + 0.5) * 10000;
  FILETIME lft{static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)}, utc;
  LocalFileTimeToFileTime(&lft, &utc);
  return (static_cast<int64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
}

int64_t NowUtcTicks() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TFileTimesRead ReadFileTimes(const std::wstring& path) {
  TFileTimesRead t;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return t;
  FILETIME c, a, w;
  if (GetFileTime(h, &c, &a, &w)) {
    auto ticks = [](const FILETIME& f) { return (static_cast<int64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    t.Creation = ticks(c);
    t.LastAccess = ticks(a);
    t.LastWrite = ticks(w);
  }
  CloseHandle(h);
  return t;
}

// ---- windows ----

namespace {

struct TFindTop {
  DWORD Pid;
  const std::wstring* Caption;
  HWND Found;
};

BOOL CALLBACK FindTopProc(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<TFindTop*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid != f->Pid || !IsWindowVisible(wnd)) return TRUE;
  wchar_t text[512];
  GetWindowTextW(wnd, text, 512);
  if (*f->Caption == text) {
    f->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

struct TFindChild {
  const std::wstring* Text;
  HWND Found;
  std::wstring All;
};

BOOL CALLBACK FindChildProc(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<TFindChild*>(param);
  wchar_t text[2048];
  GetWindowTextW(wnd, text, 2048);
  f->All += text;
  f->All += L"\n";
  if (f->Text && !f->Found && *f->Text == text) f->Found = wnd;
  return TRUE;
}

}  // namespace

HWND WaitForWindow(DWORD pid, const std::wstring& caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    TFindTop f{pid, &caption, nullptr};
    EnumWindows(FindTopProc, reinterpret_cast<LPARAM>(&f));
    if (f.Found) return f.Found;
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(100);
  }
}

HWND FindChildByText(HWND parent, const std::wstring& text) {
  TFindChild f{&text, nullptr, L""};
  EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&f));
  return f.Found;
}

std::wstring AllChildTexts(HWND parent) {
  TFindChild f{nullptr, nullptr, L""};
  EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&f));
  return f.All;
}

std::vector<std::wstring> ReadLines(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  std::vector<std::wstring> lines;
  if (bytes == "<unreadable>") return lines;
  std::wstring text = Widen(bytes);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool WaitForLine(const std::wstring& path, const std::wstring& prefix, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    for (const auto& line : ReadLines(path))
      if (line.compare(0, prefix.size(), prefix) == 0) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
}

}  // namespace nvtest
