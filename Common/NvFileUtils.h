// Portable file-system helpers on wide paths (UTF-16 on Windows, converted
// to UTF-8 on the host). Failures raise EInOutError subclasses with the
// messages "Cannot open file \"%s\". %s" and "Cannot create file \"%s\". %s".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-file reading and writing.
std::string ReadFileBytes(const std::wstring& fileName);                     // EFOpenError
void WriteFileBytes(const std::wstring& fileName, const std::string& bytes);  // EFCreateError; create or truncate

bool FileExists(const std::wstring& path);       // a file (not a folder) of that name
bool DirectoryExists(const std::wstring& path);  // a folder of that name
// Creates the folder and every missing parent; false when a level cannot be
// created. An empty path raises EInOutError "Unable to create directory".
bool ForceDirectories(const std::wstring& path);
bool RemoveFile(const std::wstring& path);
