// The command line: exit codes, help, one-line errors naming the file,
// decode and encode.
#include <gtest/gtest.h>

#include <cstdio>

#include "BuilderCli.h"
#include "InstallJournal.h"
#include "PayloadCodec.h"
#include "ProjectFixture.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

struct TRun {
  int Code;
  std::string Out, Err;
};

// What the builder wrote to one of its streams; the file is closed.
std::string Drain(std::FILE* f) {
  std::string s = nvbuilder::test::ReadBack(f);
  std::fclose(f);
  return s;
}

TRun Cli(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int code = RunBuilder(args, out, err);
  return {code, Drain(out), Drain(err)};
}

int Lines(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

}  // namespace

TEST(Cli, HelpForEveryCommand) {
  for (const char* cmd : {"build", "inspect", "decode", "encode"}) {
    TRun r = Cli({cmd, "--help"});
    EXPECT_EQ(r.Code, 0) << cmd;
    EXPECT_NE(r.Out.find(std::string("setup-builder ") + cmd), std::string::npos) << r.Out;
  }
  TRun r = Cli({"--help"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find("inspect PACKAGE.exe"), std::string::npos);
  EXPECT_NE(Cli({"build", "--help"}).Out.find("--jobs"), std::string::npos);
}

TEST(Cli, UsageErrorsAreOneLineAndNonZero) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"bogus"}, {"build"}, {"build", "a.xml", "--frob"}, {"build", "a.xml", "--jobs", "0"},
           {"build", "a.xml", "--jobs"}, {"inspect"}, {"decode"}, {"encode", "a", "b"}}) {
    TRun r = Cli(args);
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(Lines(r.Err), 1) << r.Err;
    EXPECT_EQ(r.Err.rfind("setup-builder: ", 0), 0u) << r.Err;
  }
}

TEST(Cli, FailuresNameTheFile) {
  test::TScratch dir;
  TRun r = Cli({"inspect", PathText(dir / "missing.exe")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(Lines(r.Err), 1);
  EXPECT_NE(r.Err.find("missing.exe"), std::string::npos) << r.Err;

  test::WriteFile(dir / "text.exe", "just text");
  r = Cli({"inspect", PathText(dir / "text.exe")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("text.exe: not a Windows executable"), std::string::npos) << r.Err;

  r = Cli({"build", PathText(dir / "none.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("none.xml"), std::string::npos) << r.Err;

  // A malformed project: where and what on one line, then the count.
  test::WriteFile(dir / "bad.xml", "<TSetupScript>\n<BaseInfo\n");
  r = Cli({"build", PathText(dir / "bad.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller"});
  EXPECT_EQ(r.Code, 1);
  const std::string bad = PathText(fs::absolute(dir / "bad.xml").lexically_normal());
  EXPECT_EQ(r.Err, bad + ":2:1: error: not XML: a \"<\" without its \">\"\n" + "setup-builder: " + bad +
                       ": 1 error; nothing was built\n");
}

TEST(Cli, RuntimeAndUninstallerComeAsAPairOfOneMachine) {
  test::TScratch dir;
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"files\" SourceMask=\"*.txt\"");
  test::WriteFile(dir / "p/files/a.txt", "alpha");
  test::WriteFile(dir / "p/project.xml", t.Xml());
  const std::string project = PathText(dir / "p/project.xml"), runtime = PathText(test::DemoRuntime());
  // --runtime alone would build a package that cannot be uninstalled: asked for explicitly.
  TRun r = Cli({"build", project, "--runtime", runtime});
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("--no-uninstaller"), std::string::npos) << r.Err;
  EXPECT_EQ(Cli({"build", project, "--runtime", runtime, "--uninstaller", runtime, "--no-uninstaller"}).Code, 2);
  // A 32-bit uninstaller with a 64-bit runtime.
  r = Cli({"build", project, "--runtime", runtime, "--uninstaller", PathText(fs::path(NV_PE_FIXTURE_DIR) / "fixture32.exe")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("the uninstaller is a 32-bit program and the runtime"), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dir / "p/out/Full.exe"));
  // Uninstall.exe beside the runtime goes with it.
  test::WriteFile(dir / "rt/Setup.exe", ReadWholeFile(test::DemoRuntime()));
  test::WriteFile(dir / "rt/Uninstall.exe", ReadWholeFile(fs::path(NV_PE_FIXTURE_DIR) / "fixture64.exe"));
  r = Cli({"build", project, "--runtime", PathText(dir / "rt/Setup.exe"), "--quiet"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(Cli({"list", PathText(dir / "p/out/Full.exe")}).Out.find("{app}\\Uninstall.exe"), std::string::npos);
}

// The mistakes a newcomer made, each with its place and message, all in one
// run; warnings fail the build only when asked.
TEST(Cli, EveryMistakeOfAProjectIsReportedWithItsPlace) {
  test::TScratch dir;
  test::WriteFile(dir / "p/files/a.txt", "alpha");
  test::WriteFile(dir / "p/project.xml",
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"                                                     // 1
                  "<TSetupScript>\n"                                                                                 // 2
                  "  <BaseInfo AppTitle=\"\" GUID=\"mynotes-product\" DefInstalPath=\"{pf}\\X\" Version=\"{Versoin}\"\n"  // 3
                  "    LicenceFile=\"l.txt\" FullSetupFile=\"out\\s.exe\" MiniSetupFile=\"out\\m.exe\"\n"            // 4
                  "    FullDownloadUrl=\"www.example.com/s.exe\"/>\n"                                                  // 5
                  "  <FileList><Items>\n"                                                                           // 6
                  "    <TSetupFile DestDir=\"{app}\" SoucePath=\"files\" SourceMask=\"a.txt\"/>\n"                   // 7
                  "    <TSetupFile DestDir=\"bin\" SourcePath=\"files\" SourceMask=\"*.txt\" IncludeSubPath=\"yes\"/>\n"  // 8
                  "    <TSetupFile DestDir=\"{app}\\..\\..\\x\" SourcePath=\"files\" SourceMask=\"a.txt\"/>\n"      // 9
                  "  </Items></FileList>\n"                                                                         // 10
                  "  <RegList><Items>\n"                                                                            // 11
                  "    <TSetupReg RootKey=\"HKLM\" SubKey=\"S\\X\" ValueName=\"a\" ValueData=\"1\" ValueType=\"REG_DWORD\"/>\n"  // 12
                  "    <TSetupRegg RootKey=\"rrkLocalMachine\" SubKey=\"S\\X\" ValueName=\"b\" ValueData=\"x & y\"/>\n"     // 13
                  "  </Items></RegList>\n"                                                                          // 14
                  "  <ShortCutList><Items>\n"                                                                       // 15
                  "    <TSetupShortCut Name=\"a/b:c\" SaveDir=\"{commondesktop}\" DstFile=\"{app}\\x.exe\" Checked=\"False\"/>\n"  // 16
                  "  </Items></ShortCutList>\n"                                                                     // 17
                  "</TSetupScript>\n");
  TRun r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller"});
  EXPECT_EQ(r.Code, 1);
  const std::string at = PathText(fs::absolute(dir / "p/project.xml").lexically_normal()) + ":";
  for (const char* expected : {
           "3:3: error: BaseInfo: DefInstallPath is missing",
           "3:13: error: BaseInfo: AppTitle is empty",
           "3:25: error: BaseInfo: GUID: \"mynotes-product\" is not a GUID in registry form",
           "3:48: error: BaseInfo: DefInstalPath is not a property of TSetupBaseInfo (did you mean DefInstallPath?)",
           "3:71: error: BaseInfo: Version: {Versoin} is neither a variable of VarList nor a path constant (did you mean {Version}?)",
           "4:5: error: BaseInfo: LicenceFile is not a property of TSetupBaseInfo (did you mean LicenseFile?)",
           "5:5: error: BaseInfo: FullDownloadUrl: \"www.example.com/s.exe\" is not an http:// or https:// address",
           "7:33: error: file item 1: SoucePath is not a property of TSetupFile (did you mean SourcePath?)",
           "8:17: error: file item 2: DestDir: \"bin\" is relative",
           "8:69: error: file item 2: IncludeSubPath: \"yes\" is not a Boolean (True or False)",
           "9:17: error: file item 3: DestDir: \"{app}\\..\\..\\x\" climbs out of {app}",
           "12:16: error: registry item 1: RootKey: \"HKLM\" is not one of TRegRootKey's values",
           "(did you mean rrkLocalMachine?)",
           "12:72: error: registry item 1: ValueType: \"REG_DWORD\" is not one of TRegValueType's values (rvtString, rvtDWord) (did you mean rvtDWord?)",
           "13:5: error: registry item 2: <TSetupRegg> is not an item of RegList, whose items are <TSetupReg> elements (did you mean TSetupReg?)",
           "13:70: error: registry item 2: ValueData: the value has an \"&\" that starts no known character reference",
           "16:21: error: shortcut 1: Name: \"a/b:c\" is not a valid file name",
           "16:34: error: shortcut 1: SaveDir: {commondesktop} is neither a variable of VarList nor a path constant",
           "16:60: warning: shortcut 1: DstFile: \"{app}\\x.exe\" is not a file the package installs",
           "16:82: warning: shortcut 1: Checked=\"False\" does not leave the item out",
       })
    EXPECT_NE(r.Err.find(std::string(expected).find(':') < 4 ? at + expected : expected), std::string::npos)
        << expected << "\n" << r.Err;
  EXPECT_FALSE(fs::exists(dir / "p/out"));

  // Warnings alone build, unless --warnings-as-errors.
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"files\" SourceMask=\"a.txt\" Condition=\"x\"");
  test::WriteFile(dir / "p/project.xml", t.Xml());
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller", "--quiet"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Err.find(at + "6:73: warning: file item 1: Condition has no effect"), std::string::npos) << r.Err;
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller",
           "--quiet", "--warnings-as-errors", "--out", PathText(dir / "strict")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("0 errors and 1 warning (treated as errors); nothing was built"), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dir / "strict"));
}

TEST(Cli, TheStarterProjectBuildsWithoutAWord) {
  test::TScratch dir;
  TRun r = Cli({"new", PathText(dir / "mine")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  r = Cli({"build", PathText(dir / "mine/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller",
           "--warnings-as-errors"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_TRUE(fs::is_regular_file(dir / "mine/out/MyProductSetup.exe"));
  EXPECT_EQ(Cli({"new", PathText(dir / "mine")}).Code, 1);  // nothing is overwritten
}

TEST(Cli, DecodeAndEncodeRoundTrip) {
  test::TScratch dir;
  std::string plain = "<?xml version=\"1.0\"?><TSetupScript/>\n" + test::TextBytes(3000, 4);
  test::WriteFile(dir / "plain.xml", plain);
  TRun r = Cli({"encode", PathText(dir / "plain.xml"), "-o", PathText(dir / "Uninstall.da1")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(DecodePayload(ReadWholeFile(dir / "Uninstall.da1")), plain);
  r = Cli({"decode", PathText(dir / "Uninstall.da1"), "-o", PathText(dir / "back.xml")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadWholeFile(dir / "back.xml"), plain);
  r = Cli({"decode", PathText(dir / "Uninstall.da1")});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out, plain);
}

TEST(Cli, DecodeListsAnInstallJournal) {
  test::TScratch dir;
  TJournalEntry begin;
  begin.Guid = L"{0D9C3B8E-5A43-4C1B-9B7E-2F0A6C1D3E41}";
  begin.Title = L"演示";
  begin.Version = L"1.0";
  begin.AppDir = L"C:\\Apps\\Demo\\";
  TJournalEntry folder;
  folder.Kind = TJournalKind::jkFolderCreated;
  folder.Path = L"C:\\Apps\\Demo";
  TJournalEntry done;
  done.Kind = TJournalKind::jkCommitted;
  const std::string whole =
      JournalHeader() + EncodeJournalRecord(begin) + EncodeJournalRecord(folder) + EncodeJournalRecord(done);
  test::WriteFile(dir / "Uninstall.jnl", whole);
  TRun r = Cli({"decode", PathText(dir / "Uninstall.jnl")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "begin: 演示 1.0 ({0D9C3B8E-5A43-4C1B-9B7E-2F0A6C1D3E41}) in C:\\Apps\\Demo\\\n"
                   "folder created: C:\\Apps\\Demo\ncommitted\n");
  // Cut inside its last record: the records before it, and what is missing.
  test::WriteFile(dir / "cut.jnl", whole.substr(0, whole.size() - 3));
  r = Cli({"decode", PathText(dir / "cut.jnl")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("folder created"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("(the last record is cut short)\n(unfinished"), std::string::npos) << r.Out;
  // Damaged: an error naming the file, no output.
  std::string damaged = whole;
  damaged[JournalHeader().size() + 14] ^= 1;
  test::WriteFile(dir / "bad.jnl", damaged);
  r = Cli({"decode", PathText(dir / "bad.jnl")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("bad.jnl"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
}

TEST(Cli, DecodingSomethingElseFailsWithoutOutput) {
  test::TScratch dir;
  test::WriteFile(dir / "junk.da2", "this is not a payload at all");
  TRun r = Cli({"decode", PathText(dir / "junk.da2"), "-o", PathText(dir / "out.png")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("junk.da2"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("not a payload"), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dir / "out.png"));
  EXPECT_FALSE(fs::exists(dir / "out.png.part"));
}

TEST(Cli, BuildAndInspectThroughTheCommandLine) {
  test::TScratch dir;
  test::WriteFile(dir / "p/files/a.txt", "alpha");
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"files\" SourceMask=\"*.txt\"");
  test::WriteFile(dir / "p/project.xml", t.Xml());
  TRun r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller", "--jobs", "2"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("packed 2 files"), std::string::npos) << r.Out;  // a.txt and the picture
  EXPECT_NE(r.Out.find("full package: "), std::string::npos) << r.Out;
  r = Cli({"inspect", PathText(dir / "p/out/Full.exe")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("kind: full"), std::string::npos);
  EXPECT_NE(r.Out.find("SourceMask=\"a.txt\""), std::string::npos) << r.Out;
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller", "--quiet",
           "--out", PathText(dir / "q")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_TRUE(fs::is_regular_file(dir / "q/Mini.exe"));
}
