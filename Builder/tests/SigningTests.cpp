// "build --sign": the bundled uninstaller and both packages are signed with
// a test certificate made here (openssl) by osslsigncode, and the signatures
// verify against the test CA; a failed signing leaves nothing behind.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>

#include "BuilderCli.h"
#include "OnlinePin.h"
#include "NvStream.h"
#include "PackageFormat.h"
#include "PayloadCodec.h"
#include "PeResources.h"
#include "ProjectFixture.h"
#include "SetupProject.h"
#include "Sha256.h"
#include "Signing.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

std::string Quote(const fs::path& p) { return "'" + PathText(p) + "'"; }

int Shell(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Have(const char* tool) { return Shell(std::string("command -v ") + tool) == 0; }

struct TRun {
  int Code;
  std::string Out, Err;
};

TRun Cli(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int code = RunBuilder(args, out, err);
  TRun r{code, test::ReadBack(out), test::ReadBack(err)};
  std::fclose(out);
  std::fclose(err);
  return r;
}

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) out.push_back(e.path());
  return out;
}

class SigningTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!Have("openssl") || !Have("osslsigncode")) GTEST_SKIP() << "openssl and osslsigncode are needed";
    // A test CA and a code-signing certificate it issued.
    const fs::path ca = FDir / "ca";
    fs::create_directories(ca);
    test::WriteFile(ca / "leaf.ext",
                    "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n");
    const std::string d = Quote(ca) + "/";
    ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=NvSetup-Test-CA -days 2 -keyout " + d +
                    "ca.key -out " + d + "ca.pem -addext basicConstraints=critical,CA:TRUE"
                    " -addext keyUsage=critical,keyCertSign,cRLSign"), 0);
    ASSERT_EQ(Shell("openssl req -newkey rsa:2048 -nodes -subj /CN=NvSetup-Test-Publisher -keyout " + d +
                    "sign.key -out " + d + "sign.csr"), 0);
    ASSERT_EQ(Shell("openssl x509 -req -in " + d + "sign.csr -CA " + d + "ca.pem -CAkey " + d +
                    "ca.key -CAcreateserial -days 2 -extfile " + d + "leaf.ext -out " + d + "sign.pem"), 0);
    FSign = "osslsigncode sign -certs " + d + "sign.pem -key " + d +
            "sign.key -h sha256 -in {file} -out {file}.signed && mv {file}.signed {file}";
    FVerify = "osslsigncode verify -CAfile " + d + "ca.pem -in ";

    test::WriteFile(FDir / "proj/payload/readme.txt", "read me");
    test::TProjectText text;
    text.BaseInfo += " InstallFileDescription=\"安装\" UninstallFileDescription=\"卸载\"";
    text.Files.push_back("DestDir=\"{app}\" SourcePath=\"payload\" SourceMask=\"*.*\"");
    test::WriteFile(FDir / "proj/project.xml", text.Xml());
    test::WriteFile(FDir / "tools/Uninstall.exe", ReadWholeFile(fs::path(NV_PE_FIXTURE_DIR) / "fixture64.exe"));
  }
  TRun Build(const std::string& sign) {
    return Cli({"build", PathText(FDir / "proj/project.xml"), "--runtime", PathText(test::DemoRuntime()),
                "--uninstaller", PathText(FDir / "tools/Uninstall.exe"), "--sign", sign, "--quiet"});
  }
  bool Verifies(const fs::path& exe) { return Shell(FVerify + Quote(exe)) == 0; }

  test::TScratch FDir;
  std::string FSign, FVerify;
};

}  // namespace

TEST_F(SigningTest, AllThreeExecutablesVerifyAndAChangeBreaksTheSignature) {
  const std::string uninstaller = ReadWholeFile(FDir / "tools/Uninstall.exe");
  TRun r = Build(FSign);
  ASSERT_EQ(r.Code, 0) << r.Err;
  const fs::path full = FDir / "proj/out/Full.exe", stub = FDir / "proj/out/Mini.exe";
  EXPECT_TRUE(Verifies(full));
  EXPECT_TRUE(Verifies(stub));
  EXPECT_EQ(ReadWholeFile(FDir / "tools/Uninstall.exe"), uninstaller);  // the input stays unsigned

  // The uninstaller inside the full package carries its own signature.
  TSetupScript script;
  TMemoryStream stream(DecodePayload(TPeImage::Parse(ReadWholeFile(full))
                                         .FindResource(TPeResId(PE_RT_RCDATA), TPeResId(FullPackageMarker))
                                         ->Data));
  script.LoadFromStream(stream, 0);
  std::string packed;
  for (int i = 0; i < script.FileList()->Count(); ++i)
    if (script.FileList()->Items(i)->SourceMask == UninstallerFileName)
      packed = DecodePayload(TPeImage::Parse(ReadWholeFile(full)).FindResource(TPeResId(PE_RT_RCDATA),
                                                                              TPeResId(script.FileList()->Items(i)->ResID))->Data);
  ASSERT_FALSE(packed.empty());
  test::WriteFile(FDir / "check/Uninstall.exe", packed);
  EXPECT_TRUE(Verifies(FDir / "check/Uninstall.exe"));
  EXPECT_TRUE(TPeImage::Parse(packed).HasCertificate());

  TRun shown = Cli({"inspect", PathText(full)});
  EXPECT_NE(shown.Out.find("signature: present"), std::string::npos) << shown.Out;

  // One byte of the project payload changed after signing.
  std::string bytes = ReadWholeFile(full);
  const size_t at = bytes.size() / 2;
  bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  test::WriteFile(FDir / "check/Changed.exe", bytes);
  EXPECT_FALSE(Verifies(FDir / "check/Changed.exe"));
  // A signature from another CA is not accepted either.
  ASSERT_EQ(Shell("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Other -days 2 -keyout " + Quote(FDir / "o.key") +
                  " -out " + Quote(FDir / "other.pem")), 0);
  EXPECT_NE(Shell("osslsigncode verify -CAfile " + Quote(FDir / "other.pem") + " -in " + Quote(full)), 0);
}

TEST_F(SigningTest, StubPinsTheSignedFullPackageOrCarriesTheSignerRule) {
  TRun r = Build(FSign);
  ASSERT_EQ(r.Code, 0) << r.Err;
  const std::string full = ReadWholeFile(FDir / "proj/out/Full.exe");
  auto check = [&] {
    TOnlineCheck c;
    const TPeImage stub = TPeImage::Parse(ReadWholeFile(FDir / "proj/out/Mini.exe"));
    const TPeResourceEntry* res = stub.FindResource(TPeResId(PE_RT_RCDATA), TPeResId(OnlineCheckResource));
    EXPECT_TRUE(res && DecodeOnlineCheck(res->Data, c));
    return c;
  };
  // The pin covers the file as shipped: signature included.
  TOnlineCheck pin = check();
  EXPECT_EQ(pin.Rule, TOnlineRule::orPin);
  EXPECT_EQ(pin.Size, full.size());
  EXPECT_EQ(pin.Sha256, Sha256(full));

  r = Cli({"build", PathText(FDir / "proj/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--uninstaller",
           PathText(FDir / "tools/Uninstall.exe"), "--sign", FSign, "--online-trust", "signer", "--quiet"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(check().Rule, TOnlineRule::orSigner);
  EXPECT_TRUE(Verifies(FDir / "proj/out/Mini.exe"));
  TRun shown = Cli({"inspect", PathText(FDir / "proj/out/Mini.exe")});
  EXPECT_NE(shown.Out.find("online check: signer:"), std::string::npos) << shown.Out;
}

TEST_F(SigningTest, AFailedSigningFailsTheBuildAndLeavesNothingBehind) {
  const fs::path tmp = FDir / "tmp";
  fs::create_directories(tmp);
  const char* saved = std::getenv("TMPDIR");
  const std::string savedValue = saved ? saved : "";
  setenv("TMPDIR", PathText(tmp).c_str(), 1);
  struct TRestore {
    const char* Saved;
    std::string Value;
    ~TRestore() { Saved ? setenv("TMPDIR", Value.c_str(), 1) : unsetenv("TMPDIR"); }
  } restore{saved, savedValue};

  // The command fails: its exit code and output are in the message.
  TRun r = Build("echo the key is locked >&2; exit 3; {file}");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("Uninstall.exe"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("the signing command failed (exit code 3): the key is locked"), std::string::npos) << r.Err;
  EXPECT_TRUE(FilesUnder(FDir / "proj/out").empty());
  EXPECT_TRUE(FilesUnder(tmp).empty());

  // The uninstaller and the full package are signed, the stub fails.
  r = Build("case {file} in *Mini.exe) echo no more; exit 4;; esac; " + FSign);
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find(PathText(FDir / "proj/out/Mini.exe") + ": the signing command failed (exit code 4): no more"),
            std::string::npos) << r.Err;
  EXPECT_TRUE(FilesUnder(FDir / "proj/out").empty());
  EXPECT_TRUE(FilesUnder(tmp).empty());

  // A command that succeeds without signing is a failure too.
  r = Build("true {file}");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("without a signature"), std::string::npos) << r.Err;
  EXPECT_TRUE(FilesUnder(FDir / "proj/out").empty());

  // And a command without the file is a usage error.
  EXPECT_EQ(Build("osslsigncode sign").Code, 2);
}

TEST(SignCommand, FileIsQuotedForTheShell) {
  EXPECT_EQ(SignCommandLine("sign -in {file} -out {file}.x", "/a b/it's.exe"),
            "sign -in '/a b/it'\\''s.exe' -out '/a b/it'\\''s.exe'.x");
}
