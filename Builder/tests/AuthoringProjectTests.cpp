// The authoring project: variables, mask expansion, picture and agreement,
// the uninstaller hook, the stub's project, and what it refuses to pack:
// DWORD data that is no number, damaged pictures, two different files for
// one destination.
#include <gtest/gtest.h>

#include <zlib.h>

#include <regex>

#include "AuthoringProject.h"
#include "DefaultPicture.h"
#include "NvStream.h"
#include "PeResources.h"
#include "ProjectFixture.h"
#include "SetupProject.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

std::u16string FromUtf16Text(const std::wstring& text) { return ToUtf16(text); }

bool IsGuid(const std::wstring& s) {
  return std::regex_match(ToUtf8(s), std::regex("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}"));
}

class AuthoringTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::WriteFile(FDir / "proj/src/app.exe", "MZ program");
    test::WriteFile(FDir / "proj/src/b.dll", std::string(3000, 'b'));
    test::WriteFile(FDir / "proj/src/a.dll", "a");
    test::WriteFile(FDir / "proj/src/plugins/p1.dll", "p1");
    test::WriteFile(FDir / "proj/src/plugins/more/p2.dll", "p2p2");
    test::WriteFile(FDir / "proj/src/notes.txt", "n");
  }
  std::unique_ptr<TAuthoringProject> Load(const test::TProjectText& text) {
    test::WriteFile(FDir / "proj/project.xml", text.Xml());
    return std::make_unique<TAuthoringProject>(FDir / "proj/project.xml");
  }
  // Every problem line, or "no error".
  std::string ErrorOf(const test::TProjectText& text, fs::path uninstaller = {}) {
    try {
      Load(text)->Prepare(uninstaller);
    } catch (const EProjectProblems& e) {
      std::string all;
      for (const auto& line : e.Lines) all += line + "\n";
      return all;
    } catch (const EBuildError& e) {
      return e.what();
    }
    return "no error";
  }
  // Names the payloads as the builder does after packing (digest i = i).
  static std::vector<TPackItem> Named(TAuthoringProject& p) {
    std::vector<TPackItem> items = p.PackItems();
    std::vector<TSha256Digest> digests(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) digests[i][0] = static_cast<uint8_t>(i);
    p.NameResources(items, digests);
    return items;
  }
  test::TScratch FDir;
};

}  // namespace

TEST_F(AuthoringTest, VariablesReachBaseInfoAndEveryList) {
  test::TProjectText t;
  t.BaseInfo += " ProductName=\"{appTITLE} {Version}\"";
  t.Regs.push_back("RootKey=\"rrkLocalMachine\" SubKey=\"Software\\{AppTitle}\" ValueName=\"Ver\" ValueData=\"{Version}\" ValueType=\"rvtString\"");
  t.Shortcuts.push_back("SaveDir=\"{group}\" Name=\"{AppTitle}\" DstFile=\"{app}\\{AppTitle}.exe\"");
  t.Runs.push_back("FileName=\"{app}\\{AppTitle}.exe\" Params=\"/v={Version}\"");
  auto p = Load(t);
  p->Prepare({});
  const TSetupScript& s = p->Script();
  EXPECT_EQ(s.BaseInfo()->AppTitle, L"测试产品");
  EXPECT_EQ(s.BaseInfo()->Version, L"2.1.0.7");
  EXPECT_EQ(s.BaseInfo()->DefInstallPath, L"{pf}\\测试产品");  // path constants stay for the target machine
  EXPECT_EQ(s.BaseInfo()->ProductName, L"测试产品 2.1.0.7");
  EXPECT_EQ(s.RegList()->Items(0)->SubKey, L"Software\\测试产品");
  EXPECT_EQ(s.RegList()->Items(0)->ValueData, L"2.1.0.7");
  EXPECT_EQ(s.ShortCutList()->Items(0)->Name, L"测试产品");
  EXPECT_EQ(s.ShortCutList()->Items(0)->SaveDir, L"{group}");
  EXPECT_EQ(s.RunList()->Items(0)->Params, L"/v=2.1.0.7");
  EXPECT_EQ(s.RunList()->Items(0)->FileName, L"{app}\\测试产品.exe");
}

TEST_F(AuthoringTest, MasksExpandIntoOneSortedItemPerFile) {
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\\bin\" SourcePath=\"src\" SourceMask=\"*.dll\" IncludeSubPath=\"True\" Condition=\"c1\"");
  t.Files.push_back("DestDir=\"{app}\" SourceMask=\"empty.log\"");  // no SourcePath: kept as written
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\" SourceMask=\"APP.EXE\"");
  auto p = Load(t);
  p->Prepare({});
  const TSetupFileList& files = *p->Script().FileList();
  ASSERT_EQ(files.Count(), 6);
  std::vector<std::wstring> masks;
  for (int i = 0; i < files.Count(); ++i) masks.push_back(files.Items(i)->SourceMask);
  EXPECT_EQ(masks, (std::vector<std::wstring>{L"a.dll", L"b.dll", L"plugins\\more\\p2.dll", L"plugins\\p1.dll",
                                              L"empty.log", L"app.exe"}));
  const TSetupFile& b = *files.Items(1);
  EXPECT_EQ(b.DestDir, L"{app}\\bin");
  EXPECT_EQ(b.FileBytes, 3000);
  EXPECT_EQ(b.Condition, L"c1");
  EXPECT_FALSE(b.IncludeSubPath);
  EXPECT_EQ(b.SourcePath, L"");  // no path of the build machine goes into the package
  EXPECT_GT(b.LastWriteDate, 40000.0);  // after the year 2009
  EXPECT_EQ(files.Items(2)->FileBytes, 4);
  // Only the expanded files are packed, plus picture (and no agreement);
  // each payload gets a name of its own.
  auto items = Named(*p);
  std::set<std::wstring> ids;
  for (int i = 0; i < files.Count(); ++i)
    if (i != 4) ids.insert(files.Items(i)->ResID);
  EXPECT_EQ(ids.size(), 5u);
  EXPECT_TRUE(IsGuid(b.ResID)) << ToUtf8(b.ResID);
  const TSetupFile& kept = *files.Items(4);
  EXPECT_EQ(kept.ResID, L"");
  EXPECT_EQ(kept.FileBytes, 0);
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].FileIndex, 0);
  EXPECT_EQ(items[4].FileIndex, 5);
  EXPECT_EQ(items[5].FileIndex, -1);
  EXPECT_EQ(items[5].ResID, p->Script().BaseInfo()->IconResID);
}

TEST_F(AuthoringTest, VariablesApplyBeforeMasks) {
  test::TProjectText t;
  t.Vars.push_back("VarName=\"{Src}\" VarValue=\"src\"");
  t.Vars.push_back("VarName=\"{Ext}\" VarValue=\"txt\"");
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"{Src}\" SourceMask=\"*.{Ext}\"");
  auto p = Load(t);
  p->Prepare({});
  ASSERT_EQ(p->Script().FileList()->Count(), 1);
  EXPECT_EQ(p->Script().FileList()->Items(0)->SourceMask, L"notes.txt");
  EXPECT_EQ(p->Script().FileList()->Items(0)->SourcePath, L"");
}

TEST_F(AuthoringTest, MaskErrorsNameTheProjectAndTheMask) {
  test::TProjectText none;
  none.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\" SourceMask=\"*.ocx\" IncludeSubPath=\"True\"");
  std::string e = ErrorOf(none);
  EXPECT_NE(e.find("project.xml"), std::string::npos) << e;
  EXPECT_NE(e.find("*.ocx"), std::string::npos) << e;
  EXPECT_NE(e.find("matches no file"), std::string::npos) << e;

  test::TProjectText missing;
  missing.Files.push_back("DestDir=\"{app}\" SourcePath=\"nothere\" SourceMask=\"*.*\"");
  e = ErrorOf(missing);
  EXPECT_NE(e.find("nothere"), std::string::npos) << e;
  EXPECT_NE(e.find("does not exist"), std::string::npos) << e;

  test::TProjectText noContent;
  noContent.Files.push_back("DestDir=\"{app}\" SourceMask=\"x.dll\" FileBytes=\"10\" ResID=\"{00000000-0000-0000-0000-000000000001}\"");
  e = ErrorOf(noContent);
  EXPECT_NE(e.find("no SourcePath"), std::string::npos) << e;

  test::TProjectText noMask;
  noMask.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\"");
  e = ErrorOf(noMask);
  EXPECT_NE(e.find("SourceMask"), std::string::npos) << e;
}

TEST_F(AuthoringTest, DefaultPictureWhenNoIconFile) {
  test::TProjectText t;
  auto p = Load(t);
  p->Prepare({});
  Named(*p);
  EXPECT_EQ(p->Picture(), DefaultPicture());
  EXPECT_TRUE(IsGuid(p->Script().BaseInfo()->IconResID));
  EXPECT_EQ(p->Script().BaseInfo()->LicenseResID, L"");
  EXPECT_EQ(p->License(), "");

  test::TProjectText given;
  given.BaseInfo += " IconResID=\"{11111111-2222-3333-4444-555555555555}\"";
  auto q = Load(given);
  q->Prepare({});
  Named(*q);
  EXPECT_EQ(q->Script().BaseInfo()->IconResID, L"{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(q->Picture(), DefaultPicture());
}

TEST_F(AuthoringTest, IconAndLicenseFilesAreStored) {
  std::string png = EncodePng(3, 2, std::vector<uint8_t>(3 * 2 * 4, 0x80));
  test::WriteFile(FDir / "proj/art/logo.png", png);
  std::string license = std::string("\xFF\xFE", 2) + std::string("A\0g\0r\0e\0e\0", 10);  // UTF-16 LE
  test::WriteFile(FDir / "proj/license.txt", license);
  test::TProjectText t;
  t.BaseInfo += " IconFile=\"art\\logo.png\" LicenseFile=\"license.txt\" LicenseResID=\"{AAAAAAAA-0000-0000-0000-000000000000}\"";
  auto p = Load(t);
  p->Prepare({});
  EXPECT_EQ(p->Picture(), png);
  EXPECT_EQ(p->License(), license);
  EXPECT_EQ(p->Script().BaseInfo()->LicenseResID, L"{AAAAAAAA-0000-0000-0000-000000000000}");
  auto items = p->PackItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1].Job.Content, license);

  test::TProjectText stale;  // a resource name without a file names nothing
  stale.BaseInfo += " LicenseResID=\"{AAAAAAAA-0000-0000-0000-000000000000}\"";
  auto q = Load(stale);
  q->Prepare({});
  EXPECT_EQ(q->Script().BaseInfo()->LicenseResID, L"");

  test::WriteFile(FDir / "proj/art/logo.bmp", "BM not a png");
  test::TProjectText bad;
  bad.BaseInfo += " IconFile=\"art\\logo.bmp\"";
  std::string e = ErrorOf(bad);
  EXPECT_NE(e.find("logo.bmp"), std::string::npos) << e;
  EXPECT_NE(e.find("PNG"), std::string::npos) << e;

  test::TProjectText absent;
  absent.BaseInfo += " LicenseFile=\"nolicense.txt\"";
  e = ErrorOf(absent);
  EXPECT_NE(e.find("nolicense.txt"), std::string::npos) << e;
}

TEST_F(AuthoringTest, UninstallerIsAddedUnlessTheProjectInstallsOne) {
  test::WriteFile(FDir / "tools/Uninstall.exe", "MZ uninstaller");
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\" SourceMask=\"app.exe\"");
  auto p = Load(t);
  p->Prepare(FDir / "tools/Uninstall.exe");
  const TSetupFileList& files = *p->Script().FileList();
  ASSERT_EQ(files.Count(), 2);
  EXPECT_EQ(files.Items(1)->DestDir, L"{app}");
  EXPECT_EQ(files.Items(1)->SourceMask, L"Uninstall.exe");
  EXPECT_EQ(files.Items(1)->FileBytes, 14);
  auto items = p->PackItems();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].Job.Source, FDir / "tools/Uninstall.exe");

  test::WriteFile(FDir / "proj/own/uninstall.exe", "own");
  test::TProjectText own;
  own.Files.push_back("DestDir=\"{APP}\\\" SourcePath=\"own\" SourceMask=\"UNINSTALL.EXE\"");
  auto q = Load(own);
  q->Prepare(FDir / "tools/Uninstall.exe");
  ASSERT_EQ(q->Script().FileList()->Count(), 1);
  EXPECT_EQ(q->Script().FileList()->Items(0)->SourceMask, L"uninstall.exe");
}

TEST_F(AuthoringTest, StubProjectKeepsBaseInfoAndVariablesOnly) {
  test::TProjectText t;
  t.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\" SourceMask=\"*.*\"");
  t.Regs.push_back("SubKey=\"Software\\X\" ValueName=\"a\" ValueData=\"1\"");
  t.Vars.push_back("VarName=\"{Extra}\" VarValue=\"e\" Checked=\"False\"");
  auto p = Load(t);
  p->Prepare({});
  TSetupScript stub;
  TMemoryStream stream(p->StubProjectXml());
  stub.LoadFromStream(stream, 0);
  EXPECT_EQ(stub.FileList()->Count(), 0);
  EXPECT_EQ(stub.RegList()->Count(), 0);
  EXPECT_EQ(stub.BaseInfo()->AppTitle, L"测试产品");
  EXPECT_EQ(stub.BaseInfo()->GUID, p->Script().BaseInfo()->GUID);
  EXPECT_EQ(stub.BaseInfo()->IconResID, p->Script().BaseInfo()->IconResID);
  EXPECT_EQ(stub.BaseInfo()->FullDownloadUrl, L"http://127.0.0.1/Full.exe");
  ASSERT_EQ(stub.VarList()->Count(), 3);
  EXPECT_EQ(stub.VarList()->Items(2)->VarName, L"{Extra}");
  EXPECT_FALSE(stub.VarList()->Items(2)->Checked);

  TSetupScript full;
  TMemoryStream fullStream(p->FullProjectXml());
  full.LoadFromStream(fullStream, 0);
  EXPECT_EQ(full.FileList()->Count(), 4);
  EXPECT_EQ(full.RegList()->Count(), 1);
}

TEST_F(AuthoringTest, OutputsRelativeToTheProjectOrIntoOutDir) {
  auto p = Load(test::TProjectText());
  p->Prepare({});
  EXPECT_EQ(p->FullSetupPath({}), (FDir / "proj/out/Full.exe").lexically_normal());
  EXPECT_EQ(p->MiniSetupPath(FDir / "dist"), (FDir / "dist/Mini.exe").lexically_normal());
}

TEST_F(AuthoringTest, MalformedProjectNamesTheFileAndThePlace) {
  test::WriteFile(FDir / "proj/broken.xml", "<TSetupScript><BaseInfo AppTitle=\"x");
  test::WriteFile(FDir / "proj/other.xml", "<Something>\n  <BaseInfo AppTitle=\"x\"/>\n</Something>");
  test::WriteFile(FDir / "proj/nesting.xml", "<TSetupScript>\n  <RegList>\n  </FooList>\n</TSetupScript>");
  test::WriteFile(FDir / "proj/latin1.xml", "<TSetupScript>\n<BaseInfo AppTitle=\"caf\xE9\"/></TSetupScript>");
  test::WriteFile(FDir / "proj/unquoted.xml", "<TSetupScript>\n  <BaseInfo AppTitle=x GUID=\"{1}\"/>\n</TSetupScript>");
  const std::pair<const char*, const char*> cases[] = {
      {"broken.xml", "broken.xml:1:15: error: not XML: a \"<\" without its \">\""},
      {"other.xml", "other.xml:1:1: error: not a setup project: the root element must be <TSetupScript>, not <Something>"},
      {"nesting.xml", "nesting.xml:3:3: error: not XML: the end tag </FooList> does not close the open element <RegList>"},
      {"latin1.xml", "latin1.xml:2:24: error: the project is not UTF-8 text"},
      {"unquoted.xml", "unquoted.xml:2:22: error: not XML: the value of the attribute AppTitle of <BaseInfo> is not in quotes"},
  };
  for (const auto& [name, expected] : cases) {
    try {
      TAuthoringProject p(FDir / "proj" / name);
      ADD_FAILURE() << name << ": no error";
    } catch (const EProjectProblems& e) {
      ASSERT_EQ(e.Lines.size(), 1u) << name;
      EXPECT_NE(e.Lines[0].find(expected), std::string::npos) << e.Lines[0];
    }
  }
  // UTF-16 with a byte-order mark reads as the same project.
  test::TProjectText t;
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : FromUtf16Text(FromUtf8(t.Xml()))) utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  test::WriteFile(FDir / "proj/utf16.xml", utf16);
  TAuthoringProject wide(FDir / "proj/utf16.xml");
  wide.Prepare({});
  EXPECT_EQ(wide.Script().BaseInfo()->AppTitle, L"测试产品");
  try {
    TAuthoringProject p(FDir / "proj/absent.xml");
    FAIL() << "no error";
  } catch (const EBuildError& e) {
    EXPECT_NE(std::string(e.what()).find("absent.xml"), std::string::npos) << e.what();
  }
}

// ---- what every install would fail on is refused at build time ----------------

TEST_F(AuthoringTest, DwordDataMustBeANumberAfterTheVariables) {
  test::TProjectText good;
  good.Vars.push_back("VarName=\"{AppID}\" VarValue=\"10033\"");
  for (const char* data : {"{AppID}", "0", "-5", "$FF", "0x7fffffff", " 12"})
    good.Regs.push_back(std::string("SubKey=\"Software\\X\" ValueName=\"v\" ValueType=\"rvtDWord\" ValueData=\"") + data + "\"");
  good.Regs.push_back("SubKey=\"Software\\X\" ValueName=\"path\" ValueType=\"rvtString\" ValueData=\"{app}\"");
  EXPECT_EQ(ErrorOf(good), "no error");

  struct TCase {
    const char* Data;
    const char* Cause;
  } cases[] = {{"abc", "\"abc\" is not a 32-bit number"},
               {"{Mode}", "\"fast\" is not a 32-bit number"},  // through a variable
               {"", "\"\" is not a 32-bit number"},
               {"12abc", "\"12abc\" is not a 32-bit number"},
               {"4294967295", "\"4294967295\" is not a 32-bit number"},
               {"{app}", "holds a path constant"},
               {"1{PF}", "holds a path constant"}};
  for (const TCase& c : cases) {
    test::TProjectText bad;
    bad.Vars.push_back("VarName=\"{Mode}\" VarValue=\"fast\"");
    bad.Regs.push_back("SubKey=\"Software\\X\" ValueName=\"ok\" ValueType=\"rvtDWord\" ValueData=\"1\"");
    bad.Regs.push_back(std::string("SubKey=\"Software\\{Mode}\" ValueName=\"Speed\" ValueType=\"rvtDWord\" ValueData=\"") +
                       c.Data + "\"");
    const std::string e = ErrorOf(bad);
    SCOPED_TRACE(c.Data);
    EXPECT_NE(e.find(": error: registry item 2 (\"Software\\fast\", value \"Speed\"): ValueData: "), std::string::npos) << e;
    EXPECT_NE(e.find(c.Cause), std::string::npos) << e;
  }
}

namespace {

uint32_t Be32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
         uint8_t(b[at + 3]);
}
std::string Be32Text(uint32_t v) {
  return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A PNG taken apart into its chunks, changed and put together with fresh CRCs.
struct TPngChunks {
  std::vector<std::pair<std::string, std::string>> Chunks;  // type, data
  explicit TPngChunks(const std::string& png) {
    for (size_t pos = 8; pos + 12 <= png.size();) {
      uint32_t length = Be32(png, pos);
      Chunks.emplace_back(png.substr(pos + 4, 4), png.substr(pos + 8, length));
      pos += 12 + length;
    }
  }
  std::string& Data(const std::string& type) {
    for (auto& c : Chunks)
      if (c.first == type) return c.second;
    throw std::runtime_error("no " + type);
  }
  std::string Bytes() const {
    std::string out = DefaultPicture().substr(0, 8);
    for (const auto& [type, data] : Chunks) {
      std::string body = type + data;
      out += Be32Text(uint32_t(data.size())) + body +
             Be32Text(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    }
    return out;
  }
};

std::string Zlib(const std::string& plain) {
  uLongf n = compressBound(uLong(plain.size()));
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size()));
  out.resize(n);
  return out;
}

}  // namespace

TEST_F(AuthoringTest, PngThatDoesNotDecodeIsRefusedWithItsCause) {
  const std::string good = EncodePng(5, 4, std::vector<uint8_t>(5 * 4 * 4, 0x33));
  EXPECT_EQ(PngProblem(good), "");
  EXPECT_EQ(PngProblem(DefaultPicture()), "");

  std::vector<std::pair<std::string, std::string>> bad;  // bytes, expected cause
  {
    TPngChunks c(good);
    std::string& idat = c.Data("IDAT");
    idat[idat.size() - 2] ^= 0x55;  // the Adler-32 check of the zlib stream, CRC made right
    bad.emplace_back(c.Bytes(), "the image data is damaged (zlib: incorrect data check)");
  }
  {
    std::string b = good;
    b[8 + 8 + 3] ^= 1;  // IHDR width, CRC left as it was
    bad.emplace_back(b, "the CRC of the IHDR chunk is wrong");
  }
  {
    TPngChunks c(good);
    c.Data("IHDR").replace(4, 4, Be32Text(8));  // 8 rows announced, 4 stored
    bad.emplace_back(c.Bytes(), "the image data holds fewer rows than the 5 x 8 pixels the header announces");
  }
  {
    TPngChunks c(good);
    c.Data("IHDR").replace(0, 4, Be32Text(0));
    bad.emplace_back(c.Bytes(), "the picture has no pixels (0 x 4)");
  }
  {
    TPngChunks c(good);
    c.Data("IHDR")[8] = 5;  // bit depth 5
    bad.emplace_back(c.Bytes(), "bit depth 5 is not allowed with colour type 6");
  }
  {
    TPngChunks c(good);
    c.Data("IDAT") = Zlib(std::string(1, '\x07') + std::string(20 * 4 + 3, '\0'));
    bad.emplace_back(c.Bytes(), "a row of the image has the unknown filter type 7");
  }
  {
    TPngChunks c(good);
    c.Data("IHDR")[9] = 3;  // palette colours without a PLTE chunk
    c.Data("IHDR")[8] = 8;
    bad.emplace_back(c.Bytes(), "no PLTE chunk before the image data");
  }
  bad.emplace_back(good.substr(0, good.size() - 20), "the IDAT chunk is cut short");
  bad.emplace_back(good.substr(0, good.size() - 12), "no IEND chunk");
  for (const auto& [bytes, cause] : bad) EXPECT_EQ(PngProblem(bytes), cause);

  // Through the project: the message names the file.
  test::WriteFile(FDir / "proj/art/broken.png", bad[0].first);
  test::TProjectText t;
  t.BaseInfo += " IconFile=\"art\\broken.png\"";
  const std::string e = ErrorOf(t);
  EXPECT_NE(e.find("broken.png: the IconFile is a damaged PNG picture that cannot be shown: the image data is damaged"),
            std::string::npos)
      << e;
}

TEST_F(AuthoringTest, InterlacedPngWithAllSevenPassesDecodes) {
  // 3 x 3 pixels, grey, 8 bits: passes 1, 2 (none: x0 = 4), 3 (none: y0 = 4),
  // 4 (x 2), 5 (y 2), 6 (x 1, 3 ... only x = 1), 7 (y = 1).
  TPngChunks c(EncodePng(1, 1, std::vector<uint8_t>(4, 0)));
  std::string& ihdr = c.Data("IHDR");
  ihdr.replace(0, 8, Be32Text(3) + Be32Text(3));
  ihdr[8] = 8;
  ihdr[9] = 0;
  ihdr[12] = 1;
  // Pass rows: p1 1x1, p4 1x1, p5 2x1, p6 1x2, p7 3x1: 1 filter byte each row.
  const std::string rows = std::string(2, '\0') + std::string(2, '\0') + std::string(3, '\0') +
                           std::string(2, '\0') + std::string(2, '\0') + std::string(4, '\0');
  c.Data("IDAT") = Zlib(rows);
  EXPECT_EQ(PngProblem(c.Bytes()), "");
  c.Data("IDAT") = Zlib(rows.substr(0, rows.size() - 4));  // the last pass missing
  EXPECT_EQ(PngProblem(c.Bytes()), "the image data holds fewer rows than the 3 x 3 pixels the header announces");
}

TEST_F(AuthoringTest, TwoItemsForOneDestinationPackIdenticalContentOnceAndRefuseDifferentContent) {
  test::WriteFile(FDir / "proj/copy/a.dll", "a");  // the same bytes as src/a.dll
  test::WriteFile(FDir / "proj/other/a.dll", "A");
  test::TProjectText same;
  same.Files.push_back("DestDir=\"{app}\\bin\" SourcePath=\"src\" SourceMask=\"*.dll\"");
  same.Files.push_back("DestDir=\"{APP}bin\" SourcePath=\"copy\" SourceMask=\"A.DLL\"");
  same.Files.push_back("DestDir=\"{app}\\bin\" SourcePath=\"src\" SourceMask=\"b.dll\"");  // the very same file again
  same.Files.push_back("DestDir=\"{app}\" SourceMask=\"empty.log\"");
  same.Files.push_back("DestDir=\"{app}\" SourceMask=\"EMPTY.LOG\"");
  auto p = Load(same);
  p->Prepare({});
  const TSetupFileList& files = *p->Script().FileList();
  std::vector<std::wstring> kept;
  for (int i = 0; i < files.Count(); ++i) kept.push_back(files.Items(i)->DestDir + L"|" + files.Items(i)->SourceMask);
  EXPECT_EQ(kept, (std::vector<std::wstring>{L"{app}\\bin|a.dll", L"{app}\\bin|b.dll", L"{app}|empty.log"}));
  auto items = p->PackItems();
  ASSERT_EQ(items.size(), 3u);  // a.dll and b.dll once each, and the picture
  EXPECT_EQ(items[0].Job.Source, FDir / "proj/src/a.dll");
  EXPECT_EQ(items[1].Job.Source, FDir / "proj/src/b.dll");
  EXPECT_EQ(items[1].FileIndex, 1);

  test::TProjectText different;
  different.Files.push_back("DestDir=\"{app}\\bin\" SourcePath=\"src\" SourceMask=\"a.dll\"");
  different.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\" SourceMask=\"notes.txt\"");
  different.Files.push_back("DestDir=\"{app}\\bin\\\" SourcePath=\"other\" SourceMask=\"a.dll\"");
  std::string e = ErrorOf(different);
  EXPECT_NE(e.find("project.xml:8:7: error: this file item ("), std::string::npos) << e;  // the later one
  const std::string later = (fs::path("other") / "a.dll").string() + ") and the one at line 6 (";
  EXPECT_NE(e.find(later), std::string::npos) << e;
  EXPECT_NE(e.find("a.dll) both install \"{app}\\bin\\a.dll\" with different content"), std::string::npos) << e;

  test::TProjectText emptyAndFull;  // an empty file and one with content
  emptyAndFull.Files.push_back("DestDir=\"{app}\" SourceMask=\"notes.txt\"");
  emptyAndFull.Files.push_back("DestDir=\"{app}\" SourcePath=\"src\" SourceMask=\"notes.txt\"");
  e = ErrorOf(emptyAndFull);
  EXPECT_NE(e.find("notes.txt) and the one at line 6 (no content) both install"), std::string::npos) << e;
}

// The reference describes every element and attribute of the project and
// every value of its enumerations.
TEST(ProjectReference, NamesEveryPropertyAndValue) {
  const std::string text = ReadWholeFile(fs::path(NV_PROJECT_REFERENCE));
  TSetupScript script;
  std::vector<const TPersistent*> objects = {&script, script.BaseInfo()};
  std::vector<std::unique_ptr<TXmlPersistent>> items;
  for (TXmlObjectList* list : std::initializer_list<TXmlObjectList*>{script.FileList(), script.RegList(), script.RunList(),
                                                                     script.ShortCutList(), script.SwiperList(), script.VarList()}) {
    items.emplace_back(list->CreateItem(L""));
    objects.push_back(items.back().get());
    EXPECT_NE(text.find("(`" + items.back()->ClassName() + "`)"), std::string::npos) << items.back()->ClassName();
  }
  for (const TPersistent* object : objects)
    for (const TPropInfo& p : object->Props()) {
      const std::string name = p.Kind == TTypeKind::tkClass ? "<" + p.Name + ">" : "`" + p.Name + "`";
      EXPECT_NE(text.find(name), std::string::npos) << object->ClassName() << "." << p.Name;
      if (p.Enum && p.Enum != &BooleanInfo)
        for (const char* value : p.Enum->Names) EXPECT_NE(text.find(std::string("`") + value + "`"), std::string::npos) << value;
    }
  for (const char* constant : {"`{app}`", "`{pf}`", "`{group}`", "`{desktop}`", "`{srcexe}`"})
    EXPECT_NE(text.find(constant), std::string::npos) << constant;
}
