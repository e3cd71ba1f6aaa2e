// Whole builds on a real Windows executable: both packages, their resources
// and projects, thread-count independence, the example product, and the
// error paths that must leave no output behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "BuilderCli.h"
#include "NvStream.h"
#include "PackageBuilder.h"
#include "PackageFormat.h"
#include "PackageInspector.h"
#include "PayloadCodec.h"
#include "PeResources.h"
#include "ProjectFixture.h"
#include "SetupProject.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

std::map<std::wstring, std::string> RcData(const fs::path& exe) {
  TPeImage image = TPeImage::Parse(ReadWholeFile(exe));
  std::map<std::wstring, std::string> out;
  for (const auto& e : image.Resources())
    if (!e.Type.IsName() && e.Type.Id() == 10) out[e.Name.ToString()] = e.Data;
  return out;
}

std::unique_ptr<TSetupScript> ProjectOf(const std::string& payload) {
  auto s = std::make_unique<TSetupScript>();
  TMemoryStream stream(DecodePayload(payload));
  s->LoadFromStream(stream, 0);
  return s;
}

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(e.path());
  return out;
}

class PackageBuildTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::WriteFile(FDir / "proj/payload/app.exe", test::RandomBytes(70000, 1));
    test::WriteFile(FDir / "proj/payload/readme.txt", test::TextBytes(5000, 2));
    test::WriteFile(FDir / "proj/payload/data/d1.bin", test::TextBytes(300000, 3));
    test::WriteFile(FDir / "proj/payload/data/empty.dat", "");
    test::WriteFile(FDir / "proj/license.txt", "\xEF\xBB\xBF用户协议\r\n第二行\r\n");
    FText.BaseInfo += " LicenseFile=\"license.txt\"";
    FText.Files.push_back("DestDir=\"{app}\" SourcePath=\"payload\" SourceMask=\"*.*\" IncludeSubPath=\"True\"");
    FText.Regs.push_back("RootKey=\"rrkCurrentUser\" SubKey=\"Software\\{AppTitle}\" ValueName=\"n\" ValueData=\"5\" ValueType=\"rvtDWord\"");
  }
  TBuildOptions Options(unsigned jobs = 2) {
    test::WriteFile(FDir / "proj/project.xml", FText.Xml());
    TBuildOptions o;
    o.Project = FDir / "proj/project.xml";
    o.Runtime = test::DemoRuntime();
    o.Jobs = jobs;
    o.Quiet = true;
    return o;
  }
  // The build fails with a message containing `what`, and the output folder
  // holds no file afterwards.
  void ExpectFailureWithoutOutput(const TBuildOptions& o, const std::string& what) {
    try {
      BuildPackages(o);
      ADD_FAILURE() << "no error";
    } catch (const EBuildError& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_TRUE(FilesUnder(FDir / "proj/out").empty());
  }
  test::TScratch FDir;
  test::TProjectText FText;
};

}  // namespace

TEST_F(PackageBuildTest, FullPackageCarriesProjectPictureAgreementAndEveryFile) {
  TBuildReport report = BuildPackages(Options());
  fs::path full = FDir / "proj/out/Full.exe";
  ASSERT_EQ(report.FullPackage, full.lexically_normal());
  auto res = RcData(full);
  ASSERT_TRUE(res.count(FullPackageMarker));
  EXPECT_FALSE(res.count(OnlineStubMarker));
  auto script = ProjectOf(res[FullPackageMarker]);
  const TSetupFileList& files = *script->FileList();
  ASSERT_EQ(files.Count(), 4);
  std::map<std::wstring, std::string> expected = {
      {L"app.exe", ReadWholeFile(FDir / "proj/payload/app.exe")},
      {L"data\\d1.bin", ReadWholeFile(FDir / "proj/payload/data/d1.bin")},
      {L"data\\empty.dat", ""},
      {L"readme.txt", ReadWholeFile(FDir / "proj/payload/readme.txt")}};
  for (int i = 0; i < files.Count(); ++i) {
    const TSetupFile& f = *files.Items(i);
    ASSERT_TRUE(expected.count(f.SourceMask)) << ToUtf8(f.SourceMask);
    const std::string& content = expected[f.SourceMask];
    EXPECT_EQ(f.FileBytes, static_cast<int32_t>(content.size()));
    ASSERT_TRUE(res.count(f.ResID)) << ToUtf8(f.ResID);
    EXPECT_EQ(DecodePayload(res[f.ResID]), content);
    EXPECT_EQ(res[f.ResID], report.Resources[f.ResID]);
  }
  EXPECT_EQ(DecodePayload(res[script->BaseInfo()->IconResID]).substr(1, 3), "PNG");
  EXPECT_EQ(DecodePayload(res[script->BaseInfo()->LicenseResID]), ReadWholeFile(FDir / "proj/license.txt"));
  EXPECT_EQ(script->BaseInfo()->AppTitle, L"测试产品");
  EXPECT_EQ(script->RegList()->Items(0)->SubKey, L"Software\\测试产品");
  // The runtime's own resources survive.
  TPeImage runtime = TPeImage::Parse(ReadWholeFile(test::DemoRuntime()));
  TPeImage package = TPeImage::Parse(ReadWholeFile(full));
  for (const auto& e : runtime.Resources()) EXPECT_NE(package.FindResource(e.Type, e.Name, e.Language), nullptr);
}

TEST_F(PackageBuildTest, OnlineStubCarriesBaseInfoVariablesPictureAndAgreementOnly) {
  BuildPackages(Options());
  auto full = RcData(FDir / "proj/out/Full.exe");
  auto stub = RcData(FDir / "proj/out/Mini.exe");
  ASSERT_TRUE(stub.count(OnlineStubMarker));
  EXPECT_FALSE(stub.count(FullPackageMarker));
  EXPECT_EQ(stub.size(), 4u);  // with the check of the download
  auto script = ProjectOf(stub[OnlineStubMarker]);
  auto fullScript = ProjectOf(full[FullPackageMarker]);
  EXPECT_EQ(script->FileList()->Count(), 0);
  EXPECT_EQ(script->RegList()->Count(), 0);
  EXPECT_EQ(script->BaseInfo()->FullDownloadUrl, L"http://127.0.0.1/Full.exe");
  EXPECT_EQ(script->BaseInfo()->GUID, fullScript->BaseInfo()->GUID);
  EXPECT_EQ(script->VarList()->Count(), fullScript->VarList()->Count());
  EXPECT_EQ(stub[script->BaseInfo()->IconResID], full[fullScript->BaseInfo()->IconResID]);
  EXPECT_EQ(stub[script->BaseInfo()->LicenseResID], full[fullScript->BaseInfo()->LicenseResID]);
}

TEST_F(PackageBuildTest, InspectShowsKindResourcesAndProject) {
  BuildPackages(Options());
  TInspection full = InspectPackage(FDir / "proj/out/Full.exe");
  EXPECT_EQ(full.Kind, TPackageKind::Full);
  EXPECT_EQ(full.Resources.size(), 7u);  // project, four files, picture, agreement
  EXPECT_TRUE(full.Missing.empty());
  for (const auto& r : full.Resources) EXPECT_TRUE(r.Decoded) << ToUtf8(r.Name);
  EXPECT_NE(full.ProjectXml.find("<TSetupScript"), std::string::npos);
  std::string text = FormatInspection(full);
  EXPECT_NE(text.find("kind: full"), std::string::npos);
  EXPECT_NE(text.find("300000"), std::string::npos) << text;  // decoded size of d1.bin

  TInspection stub = InspectPackage(FDir / "proj/out/Mini.exe");
  EXPECT_EQ(stub.Kind, TPackageKind::OnlineStub);
  EXPECT_NE(FormatInspection(stub).find("kind: online stub"), std::string::npos);

  TInspection none = InspectPackage(test::DemoRuntime());
  EXPECT_EQ(none.Kind, TPackageKind::None);
  EXPECT_EQ(FormatInspection(none).find("project:"), std::string::npos);
}

// Two builds of the same project and files, on 1 and on 4 threads, from a
// copy of the project in another folder, give the same bytes; the packages
// carry no path of the build machine.
TEST_F(PackageBuildTest, BuildsAreByteIdenticalAndCarryNoBuildMachinePath) {
  BuildPackages(Options(1));
  fs::copy(FDir / "proj", FDir / "copy", fs::copy_options::recursive);
  for (const fs::path& file : FilesUnder(FDir / "proj"))  // the same sources: content and times
    fs::last_write_time(FDir / "copy" / file.lexically_relative(FDir / "proj"), fs::last_write_time(file));
  for (const char* name : {"Full.exe", "Mini.exe"}) fs::remove(FDir / "copy/out" / name);
  TBuildOptions o = Options(4);
  o.Project = FDir / "copy/project.xml";
  TBuildReport again = BuildPackages(o);
  for (const char* name : {"Full.exe", "Mini.exe"}) {
    const std::string first = ReadWholeFile(FDir / "proj/out" / name), second = ReadWholeFile(FDir / "copy/out" / name);
    EXPECT_EQ(first.size(), second.size()) << name;
    EXPECT_TRUE(first == second) << name << " differs between two builds";
  }
  const std::string project = DecodePayload(again.Resources[FullPackageMarker]);
  EXPECT_EQ(project.find(PathText(FDir.Path())), std::string::npos) << project;
  EXPECT_EQ(project.find("payload"), std::string::npos) << project;  // the SourcePath
  EXPECT_NE(project.find("FullSetupFile=\"Full.exe\""), std::string::npos) << project;
}

// SOURCE_DATE_EPOCH is the latest time a package records.
TEST_F(PackageBuildTest, SourceDateEpochLimitsTheFileTimes) {
  SetEnvironment("SOURCE_DATE_EPOCH", "946684800");  // 2000-01-01 00:00 UTC
  TBuildReport report = BuildPackages(Options());
  SetEnvironment("SOURCE_DATE_EPOCH", nullptr);
  auto script = ProjectOf(report.Resources[FullPackageMarker]);
  ASSERT_GT(script->FileList()->Count(), 0);
  for (int i = 0; i < script->FileList()->Count(); ++i) {
    EXPECT_LE(script->FileList()->Items(i)->LastWriteDate, 36526.5);  // 2000-01-01 plus the time zone
    EXPECT_GE(script->FileList()->Items(i)->LastWriteDate, 36525.5);
  }
}

// What list and extract show is what the package installs: the files of the
// project at their destinations, with their sizes and content.
TEST_F(PackageBuildTest, ListAndExtractShowWhatThePackageInstalls) {
  FText.Shortcuts.push_back("Name=\"Read me\" SaveDir=\"{group}\" DstFile=\"{app}\\readme.txt\" WorkDir=\"{app}\"");
  FText.Runs.push_back("FileName=\"{app}\\app.exe\" Params=\"/first\"");
  BuildPackages(Options());
  std::FILE* out = std::tmpfile();
  EXPECT_EQ(RunBuilder({"list", PathText(FDir / "proj/out/Full.exe")}, out, stderr), 0);
  const std::string listed = test::ReadBack(out);
  std::fclose(out);
  for (const std::string line : {"package: full\n", "files: 4 (", "  {app}\\data\\d1.bin", " 300000\n",
                                  "  {app}\\data\\empty.dat", "registry values: 1\n",
                                  "  HKEY_CURRENT_USER\\Software\\测试产品 : \"n\" = 5 (DWORD)\n", "shortcuts: 1\n",
                                  "  {group}\\Read me.lnk -> {app}\\readme.txt (in {app})\n", "run entries: 1\n",
                                  "  {app}\\app.exe /first\n"})
    EXPECT_NE(listed.find(line), std::string::npos) << line << "\n" << listed;

  out = std::tmpfile();
  EXPECT_EQ(RunBuilder({"extract", PathText(FDir / "proj/out/Full.exe"), "-o", PathText(FDir / "x")}, out, stderr), 0);
  std::fclose(out);
  std::vector<fs::path> extracted = FilesUnder(FDir / "x");
  EXPECT_EQ(extracted.size(), 4u);
  for (const char* rel : {"app.exe", "readme.txt", "data/d1.bin", "data/empty.dat"})
    EXPECT_EQ(ReadWholeFile(FDir / "x/{app}" / rel), ReadWholeFile(FDir / "proj/payload" / rel)) << rel;
  out = std::tmpfile();
  EXPECT_EQ(RunBuilder({"extract", PathText(FDir / "proj/out/Mini.exe"), "-o", PathText(FDir / "y")}, out, out), 1);
  std::fclose(out);
  EXPECT_FALSE(fs::exists(FDir / "y"));
}

// An agreement in UTF-8 without byte-order mark is packed with one (setup
// would read it in the ANSI code page); text of another code page is a warning.
TEST_F(PackageBuildTest, AgreementInUtf8GetsAByteOrderMark) {
  test::WriteFile(FDir / "proj/license.txt", "用户协议\r\n");
  std::FILE* out = std::tmpfile();
  TBuildOptions o = Options();
  o.Quiet = false;
  o.Out = out;
  TBuildReport report = BuildPackages(o);
  const std::string said = test::ReadBack(out);
  std::fclose(out);
  EXPECT_NE(said.find("license.txt: the agreement is UTF-8 without a byte-order mark; it is packed with one"),
            std::string::npos) << said;
  auto script = ProjectOf(report.Resources[FullPackageMarker]);
  EXPECT_EQ(DecodePayload(report.Resources[script->BaseInfo()->LicenseResID]), "\xEF\xBB\xBF用户协议\r\n");

  test::WriteFile(FDir / "proj/license.txt", "\xD3\xC3\xBB\xA7\xD0\xAD\xD2\xE9\r\n");  // the same in GBK
  std::FILE* err = std::tmpfile();
  o = Options();
  o.Err = err;
  BuildPackages(o);
  const std::string warned = test::ReadBack(err);
  std::fclose(err);
  EXPECT_NE(warned.find("warning: BaseInfo: LicenseFile: "), std::string::npos) << warned;
  EXPECT_NE(warned.find("the agreement is neither UTF-8 nor UTF-16 with a byte-order mark"), std::string::npos) << warned;
}

TEST_F(PackageBuildTest, AMarkerInTheRuntimeIsReplaced) {
  BuildPackages(Options());
  fs::copy_file(FDir / "proj/out/Full.exe", FDir / "oldfull.exe");
  TBuildOptions o = Options();
  o.Runtime = FDir / "oldfull.exe";
  BuildPackages(o);
  auto stub = RcData(FDir / "proj/out/Mini.exe");
  EXPECT_FALSE(stub.count(FullPackageMarker));  // else the stub would start as a full package
  EXPECT_TRUE(stub.count(OnlineStubMarker));
}

TEST_F(PackageBuildTest, OnlyTheNamedOutputsAreMade) {
  FText.BaseInfo = "AppTitle=\"x\" FullSetupFile=\"out\\OnlyFull.exe\"";
  BuildPackages(Options());
  EXPECT_EQ(FilesUnder(FDir / "proj/out"), (std::vector<fs::path>{FDir / "proj/out/OnlyFull.exe"}));
  TBuildOptions o = Options();
  o.OutDir = FDir / "elsewhere";
  BuildPackages(o);
  EXPECT_TRUE(fs::is_regular_file(FDir / "elsewhere/OnlyFull.exe"));
}

TEST_F(PackageBuildTest, ErrorsLeaveNoOutput) {
  {
    TBuildOptions o = Options();
    o.Runtime = FDir / "nosuch.exe";
    ExpectFailureWithoutOutput(o, "nosuch.exe");
  }
  {
    test::WriteFile(FDir / "fake.exe", "MZ but not really an executable");
    TBuildOptions o = Options();
    o.Runtime = FDir / "fake.exe";
    ExpectFailureWithoutOutput(o, "fake.exe: not a Windows executable");
  }
  {
    test::TProjectText saved = FText;
    FText.BaseInfo = "AppTitle=\"x\" FullSetupFile=\"out\\Full.exe\" MiniSetupFile=\"out\\Mini.exe\"";
    ExpectFailureWithoutOutput(Options(), "FullDownloadUrl");
    FText.BaseInfo = "AppTitle=\"x\"";
    ExpectFailureWithoutOutput(Options(), "nothing to build");
    FText = saved;
  }
  {
    FText.Files.push_back("DestDir=\"{app}\" SourcePath=\"payload\" SourceMask=\"*.ocx\"");
    ExpectFailureWithoutOutput(Options(), "matches no file");
    FText.Files.pop_back();
  }
  {
    // Over what a 32-bit setup program can open (the limit lowered for the test).
    TBuildOptions o = Options();
    o.MaxPackageBytes = 4096;
    ExpectFailureWithoutOutput(o, "a 32-bit setup program can open");
  }
  {
    // The second output cannot be written: the first must not stay either.
    FText.BaseInfo = "AppTitle=\"x\" FullSetupFile=\"out\\Full.exe\" MiniSetupFile=\"out\\blocked\\Mini.exe\" "
                     "FullDownloadUrl=\"http://h/f.exe\"";
    test::WriteFile(FDir / "proj/out/blocked", "a file where a folder should be");
    TBuildOptions o = Options();
    try {
      BuildPackages(o);
      ADD_FAILURE() << "no error";
    } catch (const EBuildError& e) {
      EXPECT_NE(std::string(e.what()).find("Mini.exe"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FilesUnder(FDir / "proj/out"), (std::vector<fs::path>{FDir / "proj/out/blocked"}));
  }
}

#ifdef NV_DEMO_STAGE
TEST(ExampleProduct, BuildsBothPackages) {
  fs::path stage = NV_DEMO_STAGE;
  ASSERT_TRUE(fs::is_regular_file(stage / "project.xml")) << PathText(stage);
  test::TScratch out;
  TBuildOptions o;
  o.Project = stage / "project.xml";
  o.Runtime = test::DemoRuntime();
  o.OutDir = out.Path();
  o.Quiet = true;
  TBuildReport report = BuildPackages(o);
  TInspection full = InspectPackage(out / "DemoAppSetup.exe");
  TInspection stub = InspectPackage(out / "DemoAppSetupOnline.exe");
  EXPECT_EQ(full.Kind, TPackageKind::Full);
  EXPECT_EQ(stub.Kind, TPackageKind::OnlineStub);
  EXPECT_TRUE(full.Missing.empty());
  auto script = ProjectOf(report.Resources[FullPackageMarker]);
  std::vector<std::wstring> masks;
  for (int i = 0; i < script->FileList()->Count(); ++i) masks.push_back(script->FileList()->Items(i)->SourceMask);
  EXPECT_EQ(masks, (std::vector<std::wstring>{L"DemoApp.exe", L"data\\config.ini", L"data\\levels\\level1.dat",
                                              L"data\\levels\\level2.dat", L"docs\\guide.txt", L"readme.txt"}));
  EXPECT_EQ(script->BaseInfo()->AppTitle, L"演示程序");
  EXPECT_EQ(script->BaseInfo()->DefInstallPath, L"{pf}\\NvDemo\\演示程序");
  EXPECT_EQ(script->ShortCutList()->Items(2)->SaveDir, L"{desktop}");
  EXPECT_EQ(script->RegList()->Items(2)->ValueType, rvtDWord);
  EXPECT_EQ(script->RegList()->Items(2)->ValueData, L"10033");
  EXPECT_EQ(DecodePayload(report.Resources[script->BaseInfo()->LicenseResID]), ReadWholeFile(stage / "license.txt"));
  EXPECT_EQ(DecodePayload(report.Resources[script->BaseInfo()->IconResID]), ReadWholeFile(stage / "icon.png"));
}
#endif
