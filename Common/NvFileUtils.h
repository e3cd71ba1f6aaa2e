// Portable file-system helpers on wide paths (UTF-16 on Windows, converted
// to UTF-8 on the host). Failures raise EInOutError subclasses with the
// messages "Cannot open file \"%s\". %s", "Cannot create file \"%s\". %s" and
// "Cannot write file \"%s\". %s", the cause in the system's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What other programs may do with a file while it is being written (Windows;
// the host has no share modes).
enum class TFileShare { fsShareRead, fsExclusive };
// Whether a file of that name may be there already (and is truncated) or
// must not be (the create fails).
enum class TFileCreate { fcAlways, fcNew };

// A file written in pieces: created (or truncated) by the constructor, which
// raises EFCreateError (with fcNew also when the name is taken); Write raises
// EInOutError "Cannot write file ...". The file is closed by Close or on
// destruction.
class TFileWriter {
public:
  TFileWriter(const std::wstring& fileName, TFileShare share = TFileShare::fsShareRead,
              TFileCreate create = TFileCreate::fcAlways);
  ~TFileWriter();
  TFileWriter(const TFileWriter&) = delete;
  TFileWriter& operator=(const TFileWriter&) = delete;

  void Write(const void* data, std::size_t size);
  // Closes the file; EInOutError when the system reports a failed write then.
  void Close();
  const std::wstring& FileName() const { return FFileName; }
#ifdef _WIN32
  // The open file (a HANDLE), for settings made before it is closed.
  void* Handle() const { return FHandle; }
#endif

private:
  std::wstring FFileName;
#ifdef _WIN32
  void* FHandle;
#else
  int FHandle;
#endif
};

// Whole-file reading and writing.
std::string ReadFileBytes(const std::wstring& fileName);  // EFOpenError
// Creates or truncates the file and writes bytes in one piece: EFCreateError
// when it cannot be created, EInOutError when a write fails.
void WriteFileBytes(const std::wstring& fileName, const std::string& bytes,
                    TFileShare share = TFileShare::fsShareRead);

bool FileExists(const std::wstring& path);       // a file (not a folder) of that name
bool DirectoryExists(const std::wstring& path);  // a folder of that name
// Creates the folder and every missing parent; false when a level cannot be
// created. An empty path raises EInOutError "Unable to create directory".
bool ForceDirectories(const std::wstring& path);
bool RemoveFile(const std::wstring& path);
