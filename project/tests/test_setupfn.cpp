// The package container and the path constants.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
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

// A test-data path as this build's file functions take it: Wine maps the
// host's root to drive Z:.
std::wstring DataPath(const std::string& path) {
#ifdef _WIN32
  std::wstring w = Utf8Decode(path);
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  return w.size() && w[0] == L'\\' ? L"Z:" + w : w;
#else
  return Utf8Decode(path);
#endif
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

// ---- container -------------------------------------------------------------------

TEST(PackageContainer, MaskRunsModulo255) {
  std::string plain = RandomBytes(5000, 3);  // random data: the zlib stream is longer than 300 bytes
  std::string payload = Encode(plain);
  std::string zlib = Zlib(plain);
  ASSERT_EQ(payload.size(), zlib.size());
  ASSERT_GT(payload.size(), 600u);
  auto x = [&](std::size_t i) { return static_cast<unsigned char>(payload[i]) ^ static_cast<unsigned char>(zlib[i]); };
  EXPECT_EQ(x(0), 0);
  EXPECT_EQ(x(1), 1);
  EXPECT_EQ(x(254), 254);
  EXPECT_EQ(x(255), 0);
  EXPECT_EQ(x(256), 1);
  EXPECT_EQ(x(509), 254);
  EXPECT_EQ(x(510), 0);
  for (std::size_t i = 0; i < payload.size(); ++i) ASSERT_EQ(x(i), i % 255) << i;
}

TEST(PackageContainer, MaskIsItsOwnInverse) {
  std::string bytes = RandomBytes(1000, 9), copy = bytes;
  TSetupfn::MaskBytes(copy);
  EXPECT_NE(copy, bytes);
  EXPECT_EQ(copy[0], bytes[0]);
  EXPECT_EQ(copy[255], bytes[255]);
  TSetupfn::MaskBytes(copy);
  EXPECT_EQ(copy, bytes);
}

TEST(PackageContainer, PayloadUnmasksToAZlibStream) {
  std::string plain = "The quick brown fox jumps over the lazy dog. 敏捷的棕色狐狸";
  std::string payload = Encode(plain);
  TSetupfn::MaskBytes(payload);
  std::string out(plain.size(), '\0');
  uLongf len = static_cast<uLongf>(out.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(payload.data()),
                       static_cast<uLong>(payload.size())),
            Z_OK);
  EXPECT_EQ(out, plain);
}

class ContainerRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ContainerRoundTrip, ContentComesBackByteForByte) {
  std::string plain = RandomBytes(GetParam(), static_cast<unsigned>(GetParam()));
  EXPECT_EQ(Decode(Encode(plain)), plain);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ContainerRoundTrip,
                         ::testing::Values(std::size_t{1}, std::size_t{254}, std::size_t{255}, std::size_t{256},
                                           std::size_t{511}, std::size_t{100000}, std::size_t{2u << 20}));

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

// Payloads written by Python's zlib decode to their content, and the C++
// encoder's payload is left for Python to decode.
TEST(PackageContainer, IndependentEncoderAgrees) {
#ifndef NV_PAYLOAD_DIR
  GTEST_SKIP() << "no Python interpreter at build time";
#else
  const std::string dir = NV_PAYLOAD_DIR;
  std::string names = ReadFileBytes(DataPath(dir + "/names.txt"));
  int count = 0;
  std::size_t start = 0;
  while (start < names.size()) {
    std::size_t nl = names.find('\n', start);
    std::string name = names.substr(start, nl - start);
    start = nl == std::string::npos ? names.size() : nl + 1;
    if (name.empty()) continue;
    SCOPED_TRACE(name);
    std::string plain = ReadFileBytes(DataPath(dir + "/" + name + ".plain"));
    std::string payload = ReadFileBytes(DataPath(dir + "/" + name + ".payload"));
    EXPECT_EQ(Decode(payload), plain);
    EXPECT_EQ(Decode(Encode(plain)), plain);
    ++count;
  }
  EXPECT_GE(count, 5);

  std::string mine = RandomBytes(4000, 11) + std::string(70000, 'z') + "终";
  WriteFileBytes(DataPath(dir + "/cpp_written.plain"), mine);
  WriteFileBytes(DataPath(dir + "/cpp_written.payload"), Encode(mine));
#endif
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
