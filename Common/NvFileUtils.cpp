// Whole-file reading and writing and folder tests on wide paths.
#include "NvFileUtils.h"

#include <system_error>
#ifndef _WIN32
#include <filesystem>
#endif

#include "NvExceptions.h"
#include "NvSysError.h"
#include "NvSysUtils.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
namespace fs = std::filesystem;

std::filesystem::path ToPath(const std::wstring& path) { return fs::path(Utf8Encode(path)); }
#endif

#ifdef _WIN32
struct THandle {
  HANDLE H;
  ~THandle() {
    if (H != INVALID_HANDLE_VALUE) CloseHandle(H);
  }
};
#else
struct THandle {
  int H;
  ~THandle() {
    if (H >= 0) ::close(H);
  }
};
#endif

std::wstring OpenMessage(const std::wstring& name, const std::wstring& reason) {
  return L"Cannot open file \"" + name + L"\". " + reason;
}
std::wstring CreateMessage(const std::wstring& name, const std::wstring& reason) {
  return L"Cannot create file \"" + name + L"\". " + reason;
}
std::wstring WriteMessage(const std::wstring& name, const std::wstring& reason) {
  return L"Cannot write file \"" + name + L"\". " + reason;
}

}  // namespace

std::string ReadFileBytes(const std::wstring& fileName) {
  std::string bytes;
#ifdef _WIN32
  THandle f{CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (f.H == INVALID_HANDLE_VALUE) throw EFOpenError(OpenMessage(fileName, SysErrorMessage(GetLastError())));
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.H, &size)) throw EFOpenError(OpenMessage(fileName, SysErrorMessage(GetLastError())));
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD want = static_cast<DWORD>(bytes.size() - done > 0x40000000 ? 0x40000000 : bytes.size() - done);
    DWORD got = 0;
    if (!ReadFile(f.H, bytes.data() + done, want, &got, nullptr))
      throw EInOutError(OpenMessage(fileName, SysErrorMessage(GetLastError())));
    if (got == 0) break;
    done += got;
  }
  bytes.resize(done);
#else
  THandle f{::open(Utf8Encode(fileName).c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.H < 0) throw EFOpenError(OpenMessage(fileName, SysErrorMessage(errno)));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(f.H, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(OpenMessage(fileName, SysErrorMessage(errno)));
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
#endif
  return bytes;
}

TFileWriter::TFileWriter(const std::wstring& fileName, TFileShare share, TFileCreate create) : FFileName(fileName) {
#ifdef _WIN32
  const DWORD shareMode = share == TFileShare::fsExclusive ? 0 : FILE_SHARE_READ;
  // Its attributes may be read through the handle too (size, times).
  FHandle = CreateFileW(fileName.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, shareMode, nullptr,
                        create == TFileCreate::fcNew ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FHandle == INVALID_HANDLE_VALUE) throw EFCreateError(CreateMessage(fileName, SysErrorMessage(GetLastError())));
#else
  (void)share;
  FHandle = ::open(Utf8Encode(fileName).c_str(),
                   O_WRONLY | O_CREAT | O_CLOEXEC | (create == TFileCreate::fcNew ? O_EXCL : O_TRUNC), 0666);
  if (FHandle < 0) throw EFCreateError(CreateMessage(fileName, SysErrorMessage(errno)));
#endif
}

TFileWriter::~TFileWriter() {
#ifdef _WIN32
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
#else
  if (FHandle >= 0) ::close(FHandle);
#endif
}

void TFileWriter::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
#ifdef _WIN32
    DWORD want = static_cast<DWORD>(size - done > 0x40000000 ? 0x40000000 : size - done);
    DWORD put = 0;
    if (!WriteFile(FHandle, bytes + done, want, &put, nullptr) || put == 0)
      throw EInOutError(WriteMessage(FFileName, SysErrorMessage(GetLastError())));
#else
    ssize_t put = ::write(FHandle, bytes + done, size - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(WriteMessage(FFileName, SysErrorMessage(errno)));
    }
#endif
    done += static_cast<std::size_t>(put);
  }
}

void TFileWriter::Close() {
#ifdef _WIN32
  if (FHandle == INVALID_HANDLE_VALUE) return;
  BOOL ok = CloseHandle(FHandle);
  FHandle = INVALID_HANDLE_VALUE;
  if (!ok) throw EInOutError(WriteMessage(FFileName, SysErrorMessage(GetLastError())));
#else
  if (FHandle < 0) return;
  int rc = ::close(FHandle);
  FHandle = -1;
  if (rc != 0) throw EInOutError(WriteMessage(FFileName, SysErrorMessage(errno)));
#endif
}

void WriteFileBytes(const std::wstring& fileName, const std::string& bytes, TFileShare share) {
  TFileWriter file(fileName, share);
  file.Write(bytes.data(), bytes.size());
  file.Close();
}

// The Windows build asks the file system directly: std::filesystem would link
// the whole iostream and locale library into every program (about 800 KB).
#ifdef _WIN32
bool FileExists(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::wstring& path) {
  if (path.empty()) throw EInOutError(L"Unable to create directory");
  if (DirectoryExists(path)) return true;
  // Each missing folder from the top down; a drive ("C:\") or a share
  // ("\\server\share\") at the start is not created.
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == L':') {
    start = 2;
  } else if (path.rfind(L"\\\\", 0) == 0) {
    std::size_t server = path.find_first_of(L"\\/", 2);
    std::size_t share = server == std::wstring::npos ? server : path.find_first_of(L"\\/", server + 1);
    start = share == std::wstring::npos ? path.size() : share;
  }
  for (std::size_t i = start + 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
    const std::wstring part = path.substr(0, i);
    if (!DirectoryExists(part)) CreateDirectoryW(part.c_str(), nullptr);
  }
  return DirectoryExists(path);
}

bool RemoveFile(const std::wstring& path) {
  if (!FileExists(path)) return false;
  return DeleteFileW(path.c_str()) != FALSE;
}
#else
bool FileExists(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code ec;
  auto st = fs::status(ToPath(path), ec);
  return !ec && fs::exists(st) && !fs::is_directory(st);
}

bool DirectoryExists(const std::wstring& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_directory(ToPath(path), ec);
}

bool ForceDirectories(const std::wstring& path) {
  if (path.empty()) throw EInOutError(L"Unable to create directory");
  if (DirectoryExists(path)) return true;
  std::error_code ec;
  fs::create_directories(ToPath(path), ec);
  return DirectoryExists(path);
}

bool RemoveFile(const std::wstring& path) {
  if (!FileExists(path)) return false;
  std::error_code ec;
  return fs::remove(ToPath(path), ec) && !ec;
}
#endif
