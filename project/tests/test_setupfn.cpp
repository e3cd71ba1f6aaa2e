// The package container and the path constants.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "PackageCodec.h"
#include "Setupfn.h"

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

std::string Encode(const std::string& plain) {
  TMemoryStream s(plain);
  TSetupfn::EncodeStream(&s);
  EXPECT_EQ(s.Position(), 0u);
  return s.Bytes();
}

std::string Decode(const std::string& payload) {
  TMemoryStream s(payload);
  TSetupfn::DecodeStream(&s);
  EXPECT_EQ(s.Position(), 0u);
  return s.Bytes();
}

std::string Zlib(const std::string& plain) {
  TMemoryStream src(plain), dst;
  TNvSysfn::CompressStream(&src, &dst);
  return dst.Bytes();
}

// Restores every path constant after a test.
class PathConstants : public ::testing::Test {
protected:
  void SetUp() override {
    FPf = TSetupfn::ProgramFilesPath();
    FDesktop = TSetupfn::DesktopPath();
    FPrograms = TSetupfn::ProgramsPath();
    FApp = TSetupfn::AppPath();
    FTitle = TSetupfn::ProductTitle();
    FSrcExe = TSetupfn::SrcExePath();
    TSetupfn::SetProgramFilesPath(L"C:\\Program Files (x86)");
    TSetupfn::SetDesktopPath(L"C:\\Users\\u\\Desktop\\");
    TSetupfn::SetProgramsPath(L"C:\\ProgramData\\Start Menu\\Programs\\");
    TSetupfn::SetProductTitle(L"示例产品");
    TSetupfn::SetAppPath(L"");
    TSetupfn::SetSrcExePath(L"C:\\Downloads\\setup.exe");
  }
  void TearDown() override {
    TSetupfn::SetProgramFilesPath(FPf);
    TSetupfn::SetDesktopPath(FDesktop);
    TSetupfn::SetProgramsPath(FPrograms);
    TSetupfn::SetAppPath(FApp);
    TSetupfn::SetProductTitle(FTitle);
    TSetupfn::SetSrcExePath(L"");
  }
  std::wstring FPf, FDesktop, FPrograms, FApp, FTitle, FSrcExe;
};

}  // namespace

// ---- container (the codec itself is tested in test_package_codec.cpp) ---------------

TEST(PackageContainer, WrappersCodeInPlaceFromPositionZero) {
  for (std::size_t n : {std::size_t{1}, std::size_t{256}, std::size_t{100000}}) {
    std::string plain = RandomBytes(n, static_cast<unsigned>(n));
    std::string payload = Encode(plain);
    EXPECT_EQ(payload, EncodePackagePayload(plain)) << n;
    EXPECT_EQ(Decode(payload), plain) << n;
  }
}

TEST(PackageContainer, MaskIsItsOwnInverse) {
  std::string bytes = RandomBytes(1000, 9), copy = bytes;
  TSetupfn::MaskBytes(copy);
  EXPECT_NE(copy, bytes);
  EXPECT_EQ(copy[0], bytes[0]);
  EXPECT_EQ(copy[255], bytes[255]);
  EXPECT_EQ(static_cast<unsigned char>(copy[256] ^ bytes[256]), 1);
  TSetupfn::MaskBytes(copy);
  EXPECT_EQ(copy, bytes);
}

TEST(PackageContainer, EmptyContentIsAnEmptyPayload) {
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Decode(""), "");
}

TEST(PackageContainer, EncodeTakesWholeContentWhateverThePosition) {
  TMemoryStream s(std::string("abcdefghij"));
  s.SetPosition(7);
  TSetupfn::EncodeStream(&s);
  EXPECT_EQ(Decode(s.Bytes()), "abcdefghij");
}

TEST(PackageContainer, BytesAfterTheStreamAreIgnored) {
  EXPECT_EQ(Decode(Encode("content") + "more bytes that are not part of the stream"), "content");
}

TEST(PackageContainer, CorruptPayloadRaisesAndKeepsUnmaskedBytes) {
  std::string plain = RandomBytes(3000, 5);
  std::string payload = Encode(plain);
  for (const std::string& bad : {payload.substr(0, payload.size() - 10), std::string("\x01\x02\x03\x04", 4),
                                 std::string(payload.size(), '\x55')}) {
    TMemoryStream s(bad);
    EXPECT_THROW(TSetupfn::DecodeStream(&s), EZlibError);
    std::string unmasked = bad;
    TSetupfn::MaskBytes(unmasked);
    EXPECT_EQ(s.Bytes(), unmasked);
  }
  // An unmasked (plain zlib) payload is damaged data for the decoder.
  TMemoryStream raw(Zlib(plain));
  EXPECT_THROW(TSetupfn::DecodeStream(&raw), EZlibError);
}

// ---- path constants ---------------------------------------------------------------

TEST_F(PathConstants, EachConstantExpandsIgnoringCase) {
  TSetupfn::SetAppPath(L"D:\\Prog\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{pf}"), L"C:\\Program Files (x86)");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{PF}"), L"C:\\Program Files (x86)");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{App}"), L"D:\\Prog\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{APP}x"), L"D:\\Prog\\x");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{Desktop}"), L"C:\\Users\\u\\Desktop\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{GROUP}"), L"C:\\ProgramData\\Start Menu\\Programs\\示例产品\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"\"{SrcExe}\" /x"), L"\"C:\\Downloads\\setup.exe\" /x");
}

TEST_F(PathConstants, ConstantFollowedByBackslashGivesOneBackslash) {
  TSetupfn::SetAppPath(L"D:\\Prog\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{app}\\Bin"), L"D:\\Prog\\Bin");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{pf}\\Vendor\\{app}"), L"C:\\Program Files (x86)\\Vendor\\D:\\Prog\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{desktop}\\示例.lnk"), L"C:\\Users\\u\\Desktop\\示例.lnk");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{group}\\卸载.lnk"),
            L"C:\\ProgramData\\Start Menu\\Programs\\示例产品\\卸载.lnk");
}

TEST_F(PathConstants, AppIsEmptyBeforeTheFolderCheck) {
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{app}"), L"");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{app}\\a.exe"), L"\\a.exe");
}

TEST_F(PathConstants, DoubledBackslashesCollapseWithoutRescan) {
  EXPECT_EQ(TSetupfn::ExpandConstants(L"a\\\\b"), L"a\\b");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"a\\\\\\b"), L"a\\\\b");      // three become two
  EXPECT_EQ(TSetupfn::ExpandConstants(L"a\\\\\\\\b"), L"a\\\\b");    // four become two
  EXPECT_EQ(TSetupfn::ExpandConstants(L"x\\\\"), L"x\\");
}

TEST_F(PathConstants, NetworkPathKeepsItsLeadingPair) {
  EXPECT_EQ(TSetupfn::ExpandConstants(L"\\\\server\\share\\a"), L"\\\\server\\share\\a");
  TSetupfn::SetAppPath(L"\\\\server\\share\\Prog\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{app}\\Bin\\a.exe"), L"\\\\server\\share\\Prog\\Bin\\a.exe");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"\\\\server\\\\share"), L"\\\\server\\share");
}

TEST_F(PathConstants, TextWithoutConstantsIsUnchanged) {
  for (const wchar_t* t : {L"", L"C:\\Windows\\notepad.exe", L"{unknown} {pf", L"pf} {ap p}", L"纯文本"})
    EXPECT_EQ(TSetupfn::ExpandConstants(t), t);
}

TEST_F(PathConstants, ExpansionOrderAndValuesAreNotRescanned) {
  // A value that itself looks like a later constant is expanded by the later
  // step; one that looks like an earlier constant stays.
  TSetupfn::SetProgramFilesPath(L"{app}");
  TSetupfn::SetAppPath(L"{pf}\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{pf}"), L"{pf}\\");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{app}"), L"{pf}\\");
}

TEST_F(PathConstants, FolderValuesNormalised) {
  TSetupfn::SetProgramFilesPath(L"E:\\Apps\\");
  EXPECT_EQ(TSetupfn::ProgramFilesPath(), L"E:\\Apps");
  TSetupfn::SetProgramsPath(L"");
  TSetupfn::SetProductTitle(L"Tool");
  EXPECT_EQ(TSetupfn::GroupPath(), L"Tool\\");
  TSetupfn::SetProductTitle(L"Tool\\");
  EXPECT_EQ(TSetupfn::GroupPath(), L"Tool\\");
  TSetupfn::SetProductTitle(L"");
  EXPECT_EQ(TSetupfn::GroupPath(), L"\\");
}

TEST_F(PathConstants, SrcExeFollowsItsSetting) {
  TSetupfn::SetSrcExePath(L"C:\\a\\b.exe");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{srcexe}"), L"C:\\a\\b.exe");
  TSetupfn::SetSrcExePath(L"C:\\c.exe");
  EXPECT_EQ(TSetupfn::ExpandConstants(L"{srcexe}"), L"C:\\c.exe");
}
