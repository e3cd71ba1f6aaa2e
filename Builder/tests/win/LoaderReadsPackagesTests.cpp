// The Windows loader reads every resource of both packages byte for byte,
// and the package container decoder of the runtime restores the content.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include "NvStream.h"
#include "PackageBuilder.h"
#include "PackageFormat.h"
#include "ProjectFixture.h"
#include "SetupProject.h"
#include "Setupfn.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

// A package loaded the way the runtime loads it: resources only.
class TModule {
public:
  explicit TModule(const fs::path& file)
      : FHandle(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~TModule() {
    if (FHandle) FreeLibrary(FHandle);
  }
  HMODULE Handle() const { return FHandle; }
  bool Has(const std::wstring& name) const { return FindResourceW(FHandle, name.c_str(), RT_RCDATA) != nullptr; }
  std::string Read(const std::wstring& name) const {
    HRSRC res = FindResourceW(FHandle, name.c_str(), RT_RCDATA);
    EXPECT_NE(res, nullptr) << ToUtf8(name);
    if (!res) return {};
    HGLOBAL data = LoadResource(FHandle, res);
    const char* bytes = static_cast<const char*>(LockResource(data));
    return std::string(bytes ? bytes : "", SizeofResource(FHandle, res));
  }

private:
  HMODULE FHandle;
};

std::string Decode(const std::string& payload) {
  TMemoryStream stream(payload);
  TSetupfn::DecodeStream(stream);
  return stream.Bytes();
}

class LoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::WriteFile(FDir / "proj/bin/app.exe", test::RandomBytes(120000, 1));
    test::WriteFile(FDir / "proj/bin/sub/lib.dll", test::TextBytes(800000, 2));
    test::WriteFile(FDir / "proj/bin/sub/small.txt", "s");
    test::WriteFile(FDir / "proj/license.txt", std::string("\xFF\xFE\x7F\x75\x37\x62", 6));  // UTF-16 LE
    test::TProjectText t;
    t.BaseInfo += " LicenseFile=\"license.txt\"";
    t.Files.push_back("DestDir=\"{app}\" SourcePath=\"bin\" SourceMask=\"*.*\" IncludeSubPath=\"True\"");
    test::WriteFile(FDir / "proj/project.xml", t.Xml());
    TBuildOptions o;
    o.Project = FDir / "proj/project.xml";
    o.Runtime = test::DemoRuntime();
    o.Quiet = true;
    FReport = BuildPackages(o);
  }
  test::TScratch FDir;
  TBuildReport FReport;
};

}  // namespace

TEST_F(LoaderTest, FullPackageResourcesReadBackExactly) {
  TModule full(FReport.FullPackage);
  ASSERT_NE(full.Handle(), nullptr) << GetLastError();
  ASSERT_TRUE(full.Has(FullPackageMarker));
  EXPECT_FALSE(full.Has(OnlineStubMarker));
  int checked = 0;
  for (const auto& [name, payload] : FReport.Resources) {
    if (name == OnlineStubMarker) continue;
    EXPECT_EQ(full.Read(name), payload) << ToUtf8(name);
    ++checked;
  }
  EXPECT_EQ(checked, 6);  // project, three files, picture, agreement

  TSetupScript script;
  TMemoryStream stream(Decode(full.Read(FullPackageMarker)));
  script.LoadFromStream(stream, 0);
  ASSERT_EQ(script.FileList()->Count(), 3);
  for (int i = 0; i < script.FileList()->Count(); ++i) {
    const TSetupFile& f = *script.FileList()->Items(i);
    std::wstring rel = f.SourceMask;
    for (auto& c : rel)
      if (c == L'\\') c = L'/';
    std::string content = ReadWholeFile(FDir / "proj/bin" / fs::path(rel));
    EXPECT_EQ(Decode(full.Read(f.ResID)), content) << ToUtf8(f.SourceMask);
    EXPECT_EQ(f.FileBytes, static_cast<int32_t>(content.size()));
  }
  EXPECT_EQ(Decode(full.Read(script.BaseInfo()->LicenseResID)), ReadWholeFile(FDir / "proj/license.txt"));
  EXPECT_EQ(Decode(full.Read(script.BaseInfo()->IconResID)).substr(1, 3), "PNG");
  // The loader matches names without regard to case.
  std::wstring lower = script.BaseInfo()->IconResID;
  for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_TRUE(full.Has(lower));
}

TEST_F(LoaderTest, OnlineStubResourcesReadBackExactly) {
  TModule stub(FReport.OnlineStub);
  ASSERT_NE(stub.Handle(), nullptr) << GetLastError();
  ASSERT_TRUE(stub.Has(OnlineStubMarker));
  EXPECT_FALSE(stub.Has(FullPackageMarker));
  EXPECT_EQ(stub.Read(OnlineStubMarker), FReport.Resources.at(OnlineStubMarker));
  TSetupScript script;
  TMemoryStream stream(Decode(stub.Read(OnlineStubMarker)));
  script.LoadFromStream(stream, 0);
  EXPECT_EQ(script.FileList()->Count(), 0);
  EXPECT_EQ(script.BaseInfo()->FullDownloadUrl, L"http://127.0.0.1/Full.exe");
  EXPECT_EQ(stub.Read(script.BaseInfo()->IconResID), FReport.Resources.at(script.BaseInfo()->IconResID));
  EXPECT_EQ(stub.Read(script.BaseInfo()->LicenseResID), FReport.Resources.at(script.BaseInfo()->LicenseResID));
}

TEST_F(LoaderTest, PackagesStillRunAsPrograms) {
  // The runtime's code is untouched: a package still loads as an executable image.
  HMODULE image = LoadLibraryExW(FReport.FullPackage.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(image, nullptr) << GetLastError();
  FreeLibrary(image);
}
