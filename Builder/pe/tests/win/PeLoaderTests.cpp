// The editor's output as the Windows loader sees it: resources found by name
// through the resource functions, the edited program still runs, and the
// result matches the same edit made with UpdateResourceW.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "PeResources.h"
#include "../PeTestSupport.h"

using namespace pe_test;

namespace {

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::mt19937 gen(seed);
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

std::wstring Guid(unsigned i) {
  wchar_t text[64];
  swprintf(text, 64, L"{%08X-1234-4ABC-8DEF-%012X}", 0x5A000000u + i * 7919u, i * 104729u);
  return text;
}

LPCWSTR AsResource(const TPeResId& id) { return id.IsName() ? id.Name().c_str() : MAKEINTRESOURCEW(id.Id()); }

struct TModule {
  HMODULE Handle;
  explicit TModule(const std::wstring& path)
      : Handle(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~TModule() {
    if (Handle) FreeLibrary(Handle);
  }
};

// Bytes of one resource; false when FindResourceExW does not find it.
bool LoadBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, std::string& bytes) {
  HRSRC res = FindResourceExW(module, type, name, language);
  if (!res) return false;
  DWORD size = SizeofResource(module, res);
  HGLOBAL global = LoadResource(module, res);
  const void* data = global ? LockResource(global) : nullptr;
  if (size != 0 && !data) return false;
  bytes.assign(static_cast<const char*>(data), size);
  return true;
}

// Type, name (upper case), language, size and a hash of the bytes.
using TListed = std::tuple<std::wstring, std::wstring, WORD, size_t, uint64_t>;

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::wstring ResText(LPCWSTR id) {
  if (IS_INTRESOURCE(id)) return L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id));
  std::wstring s = id;
  for (auto& c : s) c = static_cast<wchar_t>(towupper(c));
  return s;
}

struct TEnumState {
  std::vector<TListed>* Out;
  LPCWSTR Type;
  LPCWSTR Name;
};

BOOL CALLBACK OnLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  auto* out = reinterpret_cast<std::vector<TListed>*>(param);
  std::string bytes;
  LoadBytes(module, type, name, language, bytes);
  out->emplace_back(ResText(type), ResText(name), language, bytes.size(), Fnv1a(bytes));
  return TRUE;
}
BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  EnumResourceLanguagesW(module, type, name, OnLanguage, param);
  return TRUE;
}
BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, OnName, param);
  return TRUE;
}

// Every resource of a module as the resource functions enumerate it.
std::vector<TListed> Enumerate(HMODULE module) {
  std::vector<TListed> out;
  EnumResourceTypesW(module, OnType, reinterpret_cast<LONG_PTR>(&out));
  std::sort(out.begin(), out.end());
  return out;
}

DWORD RunProgram(const std::wstring& commandLine) {
  std::wstring line = commandLine;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = 0xFFFFFFFE;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

struct TPackageItem {
  std::wstring Name;
  std::string Data;
};

// Package-like content: GUID names of assorted sizes, one given in lower case.
std::vector<TPackageItem> PackageItems() {
  std::vector<TPackageItem> items;
  const size_t sizes[] = {1, 2, 3, 7, 8, 9, 255, 256, 4096, 65537, 300000, 17};
  for (unsigned i = 0; i < std::size(sizes); ++i) items.push_back({Guid(i), Pattern(sizes[i], 100 + i)});
  for (auto& c : items.back().Name) c = static_cast<wchar_t>(towlower(c));
  items.push_back({L"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}", "<TSetupScript/>"});
  return items;
}

const char kReplaced[] = "replaced in every language";

std::string Edited(const std::string& fixture, const std::vector<TPackageItem>& items) {
  // "crowded-" + name: that fixture with no room left for another section header.
  std::string bytes = fixture.rfind("crowded-", 0) == 0 ? CrowdHeaders(ReadAll(FixturePath(fixture.substr(8))))
                                                        : ReadAll(FixturePath(fixture));
  TPeImage image = TPeImage::Parse(bytes);
  for (const auto& item : items) image.SetRcData(item.Name, item.Data);
  image.SetRcData(L"existingdata", kReplaced);
  return image.Save();
}

}  // namespace

TEST(PeLoader, FindsEveryResourceOfTheEditedImage) {
  for (const char* fixture : {"fixture64.exe", "fixture32.exe", "crowded-fixture64.exe", "crowded-fixture32.exe"}) {
    SCOPED_TRACE(fixture);
    auto items = PackageItems();
    std::string path = FixturePath(std::string("loader-") + fixture);
    WriteAll(path, Edited(fixture, items));
    TPeImage saved = TPeImage::Parse(ReadAll(path));
    TModule module(Wide(path));
    ASSERT_NE(module.Handle, nullptr) << GetLastError();
    for (const auto& e : saved.Resources()) {
      std::string bytes;
      ASSERT_TRUE(LoadBytes(module.Handle, AsResource(e.Type), AsResource(e.Name), e.Language, bytes))
          << std::string(e.Name.ToString().begin(), e.Name.ToString().end());
      EXPECT_EQ(bytes, e.Data);
    }
    for (const auto& item : items) {
      // By name in either case and without a language, as the installer looks them up.
      for (std::wstring name : {item.Name, ResText(item.Name.c_str())}) {
        HRSRC res = FindResourceW(module.Handle, name.c_str(), MAKEINTRESOURCEW(10));
        ASSERT_NE(res, nullptr);
        EXPECT_EQ(SizeofResource(module.Handle, res), item.Data.size());
        const char* data = static_cast<const char*>(LockResource(LoadResource(module.Handle, res)));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(data, item.Data.size()), item.Data);
      }
    }
    EXPECT_EQ(FindResourceW(module.Handle, L"{00000000-0000-0000-0000-000000000000}", MAKEINTRESOURCEW(10)), nullptr);
    // Named entries sort before IDs: the numbered RCDATA is still found.
    std::string numbered;
    EXPECT_TRUE(LoadBytes(module.Handle, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(7), 1033, numbered));
    EXPECT_EQ(numbered, "numbered");
  }
}

TEST(PeLoader, ChecksumAgreesWithImageHelp) {
  std::string path = FixturePath("checksum-fixture64.exe");
  WriteAll(path, Edited("fixture64.exe", PackageItems()));
  DWORD stored = 0, computed = 0;
  ASSERT_EQ(MapFileAndCheckSumW(Wide(path).c_str(), &stored, &computed), static_cast<DWORD>(CHECKSUM_SUCCESS));
  EXPECT_EQ(stored, computed);
  EXPECT_NE(stored, 0u);
}

TEST(PeLoader, EditedExecutableStillRuns) {
  for (const char* fixture : {"fixture64.exe", "fixture64-signed.exe", "crowded-fixture64.exe"}) {
    SCOPED_TRACE(fixture);
    auto items = PackageItems();
    std::string path = FixturePath(std::string("run-") + fixture);
    WriteAll(path, Edited(fixture, items));
    std::wstring exe = L"\"" + Wide(path) + L"\"";
    EXPECT_EQ(RunProgram(exe), 7u);
    // The running program finds its own new resources, in either case.
    for (const auto& item : {items.front(), items[10], items.back()}) {
      std::wstring size = std::to_wstring(item.Data.size());
      EXPECT_EQ(RunProgram(exe + L" check " + item.Name + L" " + size), 0u);
      EXPECT_EQ(RunProgram(exe + L" check " + ResText(item.Name.c_str()) + L" " + size), 0u);
    }
    EXPECT_EQ(RunProgram(exe + L" check EXISTINGDATA " + std::to_wstring(sizeof kReplaced - 1)), 0u);
    EXPECT_EQ(RunProgram(exe + L" check {00000000-0000-0000-0000-000000000000} 1"), 1u);
  }
}

TEST(PeLoader, SameResourcesAsUpdateResource) {
  auto items = PackageItems();
  std::string editorPath = FixturePath("compare-editor.exe");
  std::string apiPath = FixturePath("compare-api.exe");
  const std::string replaced = "replaced English variant";
  TPeImage image = TPeImage::Parse(ReadAll(FixturePath("fixture64.exe")));
  for (const auto& item : items) image.SetRcData(item.Name, item.Data);
  image.SetResource(PE_RT_RCDATA, L"existingdata", 1033, replaced);
  WriteAll(editorPath, image.Save());

  WriteAll(apiPath, ReadAll(FixturePath("fixture64.exe")));
  HANDLE update = BeginUpdateResourceW(Wide(apiPath).c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  for (const auto& item : items)
    ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), item.Name.c_str(), 0,
                                const_cast<char*>(item.Data.data()), static_cast<DWORD>(item.Data.size())));
  ASSERT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), L"EXISTINGDATA", 1033,
                              const_cast<char*>(replaced.data()), static_cast<DWORD>(replaced.size())));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));

  TModule viaEditor(Wide(editorPath)), viaApi(Wide(apiPath));
  ASSERT_NE(viaEditor.Handle, nullptr);
  ASSERT_NE(viaApi.Handle, nullptr);
  auto editorList = Enumerate(viaEditor.Handle);
  auto apiList = Enumerate(viaApi.Handle);
  EXPECT_EQ(editorList.size(), items.size() + 8);
  EXPECT_EQ(editorList, apiList);
}
