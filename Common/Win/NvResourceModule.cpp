#include "NvResourceModule.h"

#include <algorithm>
#include <cstring>

#include "NvExceptions.h"
#include "NvSysError.h"
#include "NvSysUtils.h"
#include "NvSysUtilsWin.h"

HANDLE OpenForPieces(const std::wstring& fileName) {
  HANDLE file = CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw EFOpenError(Format(L"Cannot open file \"%s\". %s", {fileName, SysErrorMessage(GetLastError())}));
  return file;
}

void ReadFileRange(HANDLE file, const std::wstring& fileName, uint64_t offset, uint32_t size, std::string& buffer,
                   const std::function<void(const char*, std::size_t)>& sink) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
    throw EInOutError(Format(L"Cannot read file \"%s\". %s", {fileName, SysErrorMessage(GetLastError())}));
  uint32_t left = size;
  while (left > 0) {
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), left));
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), want, &got, nullptr))
      throw EInOutError(Format(L"Cannot read file \"%s\". %s", {fileName, SysErrorMessage(GetLastError())}));
    if (got == 0) throw EInOutError(Format(L"Cannot read file \"%s\". The file ends early", {fileName}));
    sink(buffer.data(), got);
    left -= got;
  }
}

bool TNvResourceModule::Open(const std::wstring& fileName) {
  Close();
  FHandle = LoadLibraryExW(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!FHandle) FHandle = LoadLibraryExW(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (FHandle) FFileName = fileName;
  return FHandle != nullptr;
}

void TNvResourceModule::Close() {
  if (FHandle) FreeLibrary(FHandle);
  FHandle = nullptr;
  FFileName.clear();
  if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
  FFile = INVALID_HANDLE_VALUE;
}

HRSRC TNvResourceModule::Find(const std::wstring& name, uint16_t type) const {
  const std::string ansi = WideToAnsi(name);
  return FindResourceA(FHandle, ansi.c_str(), MAKEINTRESOURCEA(type));
}

bool TNvResourceModule::Exists(const std::wstring& name, uint16_t type) const { return Find(name, type) != nullptr; }

bool TNvResourceModule::Read(const std::wstring& name, uint16_t type, std::string& bytes) const {
  HRSRC res = Find(name, type);
  if (!res) return false;
  HGLOBAL global = LoadResource(FHandle, res);
  const void* data = global ? LockResource(global) : nullptr;
  const DWORD size = SizeofResource(FHandle, res);
  if (!data && size) return false;
  bytes.assign(static_cast<const char*>(data), data ? size : 0);
  return true;
}

bool TNvResourceModule::FileRange(HRSRC res, uint64_t& offset, uint32_t& size) const {
  HGLOBAL global = LoadResource(FHandle, res);
  const BYTE* data = global ? static_cast<const BYTE*>(LockResource(global)) : nullptr;
  size = SizeofResource(FHandle, res);
  if (!data || FFileName.empty()) return false;
  // A module opened for its resources has flag bits in its handle: 2 for an
  // image laid out by sections, 1 for the file mapped as it is.
  const ULONG_PTR handle = reinterpret_cast<ULONG_PTR>(FHandle);
  const BYTE* base = reinterpret_cast<const BYTE*>(handle & ~static_cast<ULONG_PTR>(3));
  if (data < base) return false;
  const uint64_t at = static_cast<uint64_t>(data - base);
  if (!(handle & 2) && (handle & 1)) {
    offset = at;
    return true;
  }
  // Image layout: the address is relative to the image; find its section.
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, base, sizeof dos);
  const BYTE* nt = base + dos.e_lfanew;
  IMAGE_FILE_HEADER file;
  std::memcpy(&file, nt + 4, sizeof file);
  const BYTE* sections = nt + 4 + sizeof(IMAGE_FILE_HEADER) + file.SizeOfOptionalHeader;
  for (WORD i = 0; i < file.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER s;
    std::memcpy(&s, sections + i * sizeof s, sizeof s);
    if (at >= s.VirtualAddress && at + size <= uint64_t(s.VirtualAddress) + s.SizeOfRawData) {
      offset = at - s.VirtualAddress + s.PointerToRawData;
      return true;
    }
  }
  return false;
}

bool TNvResourceModule::Locate(const std::wstring& name, uint16_t type, uint64_t& offset, uint32_t& size) const {
  HRSRC res = Find(name, type);
  return res && FileRange(res, offset, size);
}

bool TNvResourceModule::ReadInPieces(const std::wstring& name, uint16_t type,
                                     const std::function<void(const char*, std::size_t)>& sink,
                                     std::size_t chunkSize) const {
  HRSRC res = Find(name, type);
  if (!res) return false;
  uint64_t offset = 0;
  uint32_t size = 0;
  if (!FileRange(res, offset, size)) {
    std::string bytes;
    if (!Read(name, type, bytes)) return false;
    for (std::size_t at = 0; at < bytes.size(); at += chunkSize)
      sink(bytes.data() + at, std::min(chunkSize, bytes.size() - at));
    return true;
  }
  if (FFile == INVALID_HANDLE_VALUE) FFile = OpenForPieces(FFileName);
  std::string buffer(std::min<std::size_t>(chunkSize, size), '\0');
  ReadFileRange(FFile, FFileName, offset, size, buffer, sink);
  return true;
}
