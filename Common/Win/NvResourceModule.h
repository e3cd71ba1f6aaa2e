// An executable opened for its resources only: its code is never mapped to
// run, so a downloaded or foreign program can be read safely.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

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

private:
  HRSRC Find(const std::wstring& name, uint16_t type) const;

  HMODULE FHandle = nullptr;
};
