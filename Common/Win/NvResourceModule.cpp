#include "NvResourceModule.h"

#include "NvSysUtilsWin.h"

bool TNvResourceModule::Open(const std::wstring& fileName) {
  Close();
  FHandle = LoadLibraryExW(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!FHandle) FHandle = LoadLibraryExW(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return FHandle != nullptr;
}

void TNvResourceModule::Close() {
  if (FHandle) FreeLibrary(FHandle);
  FHandle = nullptr;
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
