// The command line: exit codes, help, one-line errors naming the file,
// decode and encode.
#include <gtest/gtest.h>

#include <cstdio>

#include "BuilderCli.h"
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

  r = Cli({"build", PathText(dir / "none.xml"), "--runtime", PathText(test::DemoRuntime())});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("none.xml"), std::string::npos) << r.Err;

  // A malformed project: the message stays on one line.
  test::WriteFile(dir / "bad.xml", "<TSetupScript>\n<BaseInfo\n");
  r = Cli({"build", PathText(dir / "bad.xml"), "--runtime", PathText(test::DemoRuntime())});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(Lines(r.Err), 1) << r.Err;
  EXPECT_NE(r.Err.find("bad.xml"), std::string::npos) << r.Err;
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
  TRun r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--jobs", "2"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("packed 2 files"), std::string::npos) << r.Out;  // a.txt and the picture
  EXPECT_NE(r.Out.find("full package: "), std::string::npos) << r.Out;
  r = Cli({"inspect", PathText(dir / "p/out/Full.exe")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("kind: full"), std::string::npos);
  EXPECT_NE(r.Out.find("SourceMask=\"a.txt\""), std::string::npos) << r.Out;
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--quiet",
           "--out", PathText(dir / "q")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_TRUE(fs::is_regular_file(dir / "q/Mini.exe"));
}
