// An executable opened for its resources only: its code is never mapped to
// run, so a downloaded or foreign program can be read safely.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// Opens fileName to read ranges of it in pieces (sequential, shared with
// writers and deleters); EFOpenError naming the file when it cannot.
HANDLE OpenForPieces(const std::wstring& fileName);
// Reads size bytes from offset of the open file through buffer (pieces of at
// most its size; not empty unless size is 0), handed to sink in order. A failed read
// or a file that ends early raises EInOutError naming fileName; an exception
// of the sink comes out as it is.
void ReadFileRange(HANDLE file, const std::wstring& fileName, uint64_t offset, uint32_t size, std::string& buffer,
                   const std::function<void(const char*, std::size_t)>& sink);

class TNvResourceModule {
public:
  TNvResourceModule() = default;
  ~TNvResourceModule() { Close(); }
  TNvResourceModule(const TNvResourceModule&) = delete;
  TNvResourceModule& operator=(const TNvResourceModule&) = delete;

  // Closes the module held, then opens fileName as an image resource, or as
  // a plain data file where the system refuses that; false when neither works.
  bool Open(const std::wstring& fileName);
  void Close();
  bool IsOpen() const { return FHandle != nullptr; }
  HMODULE Handle() const { return FHandle; }

  // Resource names are compared as ANSI text, type is numeric (10: RCDATA).
  // A module that is not open searches the running program itself, as the
  // system does for a null module.
  bool Exists(const std::wstring& name, uint16_t type) const;
  // The resource's bytes; false when the resource does not exist or cannot
  // be loaded.
  bool Read(const std::wstring& name, uint16_t type, std::string& bytes) const;
  // The resource's bytes read from the module's file in pieces of at most
  // chunkSize bytes, handed to sink in order; false when the resource does
  // not exist. The mapped module's pages are never touched, so a large
  // resource costs no more memory than one piece. A read failure raises
  // EInOutError naming the file; an exception of the sink comes out as it is.
  bool ReadInPieces(const std::wstring& name, uint16_t type,
                    const std::function<void(const char*, std::size_t)>& sink,
                    std::size_t chunkSize = 1 << 20) const;

  // Where the resource's bytes lie in the module's file; false when it does
  // not exist or its bytes cannot be placed in the file.
  bool Locate(const std::wstring& name, uint16_t type, uint64_t& offset, uint32_t& size) const;
  // The file the module was opened from (empty when none is open).
  const std::wstring& FileName() const { return FFileName; }

private:
  HRSRC Find(const std::wstring& name, uint16_t type) const;
  // Where the resource's bytes lie in the module's file; false when that
  // cannot be told (the bytes are then read through the mapping).
  bool FileRange(HRSRC res, uint64_t& offset, uint32_t& size) const;

  HMODULE FHandle = nullptr;
  std::wstring FFileName;
  // The module's file, opened by the first ReadInPieces and kept open until
  // Close: a package's payloads are read one after the other.
  mutable HANDLE FFile = INVALID_HANDLE_VALUE;
};
