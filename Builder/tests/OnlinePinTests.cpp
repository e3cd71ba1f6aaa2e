// The online stub's check of its download: the check resource's form, the
// rule a build gives the stub, and a build whose stub pins the full package
// exactly as it was written.
#include <gtest/gtest.h>

#include "BuilderCli.h"
#include "OnlinePin.h"
#include "PackageBuilder.h"
#include "PeResources.h"
#include "ProjectFixture.h"
#include "Sha256.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

std::string Hex(const TSha256Digest& d) { return HexText(d); }

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

}  // namespace

TEST(OnlinePin, CheckResourceReadsBackAndRefusesAnythingElse) {
  TOnlineCheck pin;
  pin.Size = 0x0102030405060708ull;
  for (std::size_t i = 0; i < pin.Sha256.size(); ++i) pin.Sha256[i] = static_cast<uint8_t>(i * 7);
  const std::string bytes = EncodeOnlineCheck(pin);
  ASSERT_EQ(bytes.size(), OnlineCheckBytes);
  EXPECT_EQ(bytes.substr(0, 6), std::string("NVOC\x01\x01", 6));
  EXPECT_EQ(bytes.substr(8, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));  // little-endian
  TOnlineCheck back;
  ASSERT_TRUE(DecodeOnlineCheck(bytes, back));
  EXPECT_EQ(back.Rule, TOnlineRule::orPin);
  EXPECT_EQ(back.Size, pin.Size);
  EXPECT_EQ(back.Sha256, pin.Sha256);

  TOnlineCheck signer;
  signer.Rule = TOnlineRule::orSigner;
  ASSERT_TRUE(DecodeOnlineCheck(EncodeOnlineCheck(signer), back));
  EXPECT_EQ(back.Rule, TOnlineRule::orSigner);

  auto changed = [&](std::size_t at, char value) {
    std::string b = bytes;
    b[at] = value;
    return b;
  };
  TOnlineCheck zero = pin;
  zero.Size = 0;
  const std::string refused[] = {
      "", bytes.substr(0, 47), bytes + "x", changed(0, 'X'), changed(4, 2), changed(5, 3), changed(5, 0), changed(6, 1),
      EncodeOnlineCheck(zero),  // no full package is empty
  };
  for (const std::string& b : refused) EXPECT_FALSE(DecodeOnlineCheck(b, back)) << b.size();
}

TEST(OnlinePin, RuleOfTheBuildAndWhatItNeeds) {
  struct TCase {
    TOnlineTrust Trust;
    bool MakesFull, Signs;
    bool Check;
    TOnlineRule Rule;
    bool Warned;
    const char* Error;  // nullptr: accepted
  };
  const TCase cases[] = {
      {TOnlineTrust::Default, true, false, true, TOnlineRule::orPin, false, nullptr},
      {TOnlineTrust::Default, false, false, false, TOnlineRule::orPin, true, nullptr},
      {TOnlineTrust::Pin, true, true, true, TOnlineRule::orPin, false, nullptr},
      {TOnlineTrust::Pin, false, false, false, TOnlineRule::orPin, false, "needs the full package"},
      {TOnlineTrust::Signer, false, true, true, TOnlineRule::orSigner, false, nullptr},
      {TOnlineTrust::Signer, true, false, false, TOnlineRule::orPin, false, "needs --sign"},
      {TOnlineTrust::None, true, true, false, TOnlineRule::orPin, true, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    std::vector<std::string> warnings;
    if (c.Error) {
      try {
        PlanOnlineCheck(c.Trust, c.MakesFull, c.Signs, "stub.exe", warnings);
        ADD_FAILURE() << "accepted";
      } catch (const EBuildError& e) {
        EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind("stub.exe: ", 0), 0u) << e.what();
      }
      continue;
    }
    const TOnlinePlan plan = PlanOnlineCheck(c.Trust, c.MakesFull, c.Signs, "stub.exe", warnings);
    EXPECT_EQ(plan.Check, c.Check);
    if (plan.Check) {
      EXPECT_EQ(plan.Rule, c.Rule);
    }
    EXPECT_EQ(warnings.size(), c.Warned ? 1u : 0u);
  }
  TOnlineTrust t;
  EXPECT_TRUE(ParseOnlineTrust("signer", t));
  EXPECT_EQ(t, TOnlineTrust::Signer);
  EXPECT_FALSE(ParseOnlineTrust("Signer", t));
}

TEST(OnlinePin, StubPinsTheFullPackageAsWrittenAndInspectShowsIt) {
  test::TScratch dir;
  test::WriteFile(dir / "p/files/a.txt", "alpha");
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"files\" SourceMask=\"*.txt\"");
  test::WriteFile(dir / "p/project.xml", t.Xml());
  TRun r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller", "--quiet"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Err, "");  // a pinned stub is nothing to warn of
  const std::string full = ReadWholeFile(dir / "p/out/Full.exe");
  const TPeImage stub = TPeImage::Parse(ReadWholeFile(dir / "p/out/Mini.exe"));
  const TPeResourceEntry* resource = stub.FindResource(TPeResId(PackageResourceType), TPeResId(OnlineCheckResource));
  ASSERT_NE(resource, nullptr);
  TOnlineCheck pin;
  ASSERT_TRUE(DecodeOnlineCheck(resource->Data, pin));
  EXPECT_EQ(pin.Rule, TOnlineRule::orPin);
  EXPECT_EQ(pin.Size, full.size());
  EXPECT_EQ(pin.Sha256, Sha256(full));
  // The full package carries no check of its own.
  EXPECT_EQ(TPeImage::Parse(std::string(full)).FindResource(TPeResId(PackageResourceType), TPeResId(OnlineCheckResource)),
            nullptr);

  r = Cli({"inspect", PathText(dir / "p/out/Mini.exe")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("online check: pin: " + std::to_string(full.size()) + " bytes, SHA-256 " + Hex(Sha256(full)) + "\n"),
            std::string::npos)
      << r.Out;

  // A stub with no check is built, and warned of even under --quiet.
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller",
           "--quiet", "--online-trust", "none", "--out", PathText(dir / "none")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Err.find("warning: "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("checks nothing"), std::string::npos) << r.Err;
  r = Cli({"inspect", PathText(dir / "none/Mini.exe")});
  EXPECT_NE(r.Out.find("online check: none"), std::string::npos) << r.Out;
  // ...and refused under --warnings-as-errors.
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller",
           "--quiet", "--online-trust", "none", "--warnings-as-errors", "--out", PathText(dir / "strict")});
  EXPECT_EQ(r.Code, 1) << r.Err;
  EXPECT_FALSE(fs::exists(dir / "strict/Mini.exe"));

  // The signer rule needs a signing command; nothing is written without it.
  r = Cli({"build", PathText(dir / "p/project.xml"), "--runtime", PathText(test::DemoRuntime()), "--no-uninstaller",
           "--quiet", "--online-trust", "signer", "--out", PathText(dir / "signer")});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("needs --sign"), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dir / "signer/Mini.exe"));
  r = Cli({"build", PathText(dir / "p/project.xml"), "--online-trust", "pinned"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("--online-trust takes pin, signer or none"), std::string::npos) << r.Err;
}
