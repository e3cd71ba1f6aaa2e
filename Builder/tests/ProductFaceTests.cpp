// Whole builds give the full package, the online stub and the bundled
// uninstaller the product's icon and version information, replacing the
// runtime's own; the publisher's uninstaller file is left as it was.
#include <gtest/gtest.h>

#include "BuilderCli.h"
#include "NvStream.h"
#include "PackageBuilder.h"
#include "PackageFormat.h"
#include "PackageInspector.h"
#include "PayloadCodec.h"
#include "PeProductInfo.h"
#include "PngImage.h"
#include "ProjectFixture.h"
#include "SetupProject.h"

using namespace nvbuilder;
namespace fs = std::filesystem;

namespace {

std::vector<const TPeResourceEntry*> OfType(const TPeImage& image, uint16_t type) {
  std::vector<const TPeResourceEntry*> out;
  for (const auto& e : image.Resources())
    if (!e.Type.IsName() && e.Type.Id() == type) out.push_back(&e);
  return out;
}

class ProductFaceTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::WriteFile(FDir / "proj/payload/readme.txt", "read me");
    test::WriteFile(FDir / "proj/art/product.png", ReadWholeFile(fs::path(NV_DEMO_STAGE) / "icon.png"));
    test::WriteFile(FDir / "tools/Uninstall.exe", ReadWholeFile(fs::path(NV_PE_FIXTURE_DIR) / "fixture64.exe"));
    FText.BaseInfo +=
        " ProductName=\"{AppTitle} 专业版\" CompanyName=\"示例公司\""
        " LegalCopyright=\"Copyright (C) 2026 示例公司\" InstallFileDescription=\"{AppTitle} 安装程序\""
        " UninstallFileDescription=\"{AppTitle} 卸载程序\"";
    FText.Files.push_back("DestDir=\"{app}\" SourcePath=\"payload\" SourceMask=\"*.*\"");
  }
  TBuildOptions Options() {
    test::TProjectText text = FText;
    text.BaseInfo += FIcon;
    test::WriteFile(FDir / "proj/project.xml", text.Xml());
    TBuildOptions o;
    o.Project = FDir / "proj/project.xml";
    o.Runtime = fs::path(NV_PE_FIXTURE_DIR) / "fixture64.exe";  // has an icon group and a version resource
    o.Uninstaller = FDir / "tools/Uninstall.exe";
    o.Quiet = true;
    return o;
  }
  // The Uninstall.exe a package carries.
  std::string PackedUninstaller(const TBuildReport& report) {
    TSetupScript script;
    TMemoryStream stream(DecodePayload(report.Resources.at(FullPackageMarker)));
    script.LoadFromStream(stream, 0);
    for (int i = 0; i < script.FileList()->Count(); ++i)
      if (script.FileList()->Items(i)->SourceMask == UninstallerFileName)
        return DecodePayload(report.Resources.at(script.FileList()->Items(i)->ResID));
    ADD_FAILURE() << "no Uninstall.exe in the package";
    return {};
  }
  void ExpectFace(const std::string& exe, const std::wstring& description, const std::wstring& fileName) {
    SCOPED_TRACE(ToUtf8(fileName));
    TPeImage image = TPeImage::Parse(exe);
    ASSERT_EQ(OfType(image, PE_RT_VERSION).size(), 1u);
    TPeVersionInfo v;
    ASSERT_TRUE(FindVersionResource(image, v));
    EXPECT_EQ(v.FileVersion, (std::array<uint16_t, 4>{2, 1, 0, 7}));
    EXPECT_EQ(v.ProductVersion, (std::array<uint16_t, 4>{2, 1, 0, 7}));
    EXPECT_EQ(v.Language, 0x0804);
    EXPECT_EQ(v.CodePage, 1200);
    std::vector<std::pair<std::wstring, std::wstring>> strings = {
        {L"CompanyName", L"示例公司"},
        {L"FileDescription", description},
        {L"FileVersion", L"2.1.0.7"},
        {L"LegalCopyright", L"Copyright (C) 2026 示例公司"},
        {L"OriginalFilename", fileName},
        {L"ProductName", L"测试产品 专业版"},
        {L"ProductVersion", L"2.1.0.7"}};
    EXPECT_EQ(v.Strings, strings);

    EXPECT_EQ(OfType(image, PE_RT_GROUP_ICON).size(), 1u);
    EXPECT_EQ(MainIconSizes(image), (std::vector<uint32_t>{16, 32, 48, 256}));
    EXPECT_EQ(OfType(image, PE_RT_ICON).size(), 4u);  // the runtime's own image is gone
    TRgbaImage picture = DecodePng(ReadWholeFile(FDir / "proj/art/product.png"), "product.png");
    const std::string& group = OfType(image, PE_RT_GROUP_ICON)[0]->Data;
    auto imageOf = [&](size_t index) {
      uint16_t id = static_cast<uint16_t>(static_cast<uint8_t>(group[6 + 14 * index + 12]) |
                                          static_cast<uint8_t>(group[6 + 14 * index + 13]) << 8);
      const TPeResourceEntry* e = image.FindResource(PE_RT_ICON, TPeResId(id));
      return e ? e->Data : std::string();
    };
    EXPECT_EQ(imageOf(0), MakeIconDib(16, ScaleToSquare(picture, 16).Pixels));
    EXPECT_EQ(imageOf(2), MakeIconDib(48, ScaleToSquare(picture, 48).Pixels));
    TRgbaImage big = DecodePng(imageOf(3), "256");
    EXPECT_EQ(big.Width, 256u);
    EXPECT_EQ(big.Pixels, ScaleToSquare(picture, 256).Pixels);
  }
  test::TScratch FDir;
  test::TProjectText FText;
  std::string FIcon = " IconFile=\"art\\product.png\"";
};

}  // namespace

TEST_F(ProductFaceTest, PackagesAndUninstallerCarryIconAndVersionInformation) {
  const std::string uninstaller = ReadWholeFile(FDir / "tools/Uninstall.exe");
  TBuildReport report = BuildPackages(Options());
  ExpectFace(ReadWholeFile(FDir / "proj/out/Full.exe"), L"测试产品 安装程序", L"Full.exe");
  ExpectFace(ReadWholeFile(FDir / "proj/out/Mini.exe"), L"测试产品 安装程序", L"Mini.exe");
  ExpectFace(PackedUninstaller(report), L"测试产品 卸载程序", L"Uninstall.exe");
  EXPECT_EQ(ReadWholeFile(FDir / "tools/Uninstall.exe"), uninstaller);

  // The runtime's other resources stay; the packages still are what they were.
  TPeImage full = TPeImage::Parse(ReadWholeFile(FDir / "proj/out/Full.exe"));
  EXPECT_NE(full.FindResource(PE_RT_MANIFEST, TPeResId(1)), nullptr);
  EXPECT_NE(full.FindResource(TPeResId(6), TPeResId(1)), nullptr);  // string table
  EXPECT_EQ(InspectPackage(FDir / "proj/out/Full.exe").Kind, TPackageKind::Full);

  std::string shown = FormatInspection(InspectPackage(FDir / "proj/out/Mini.exe"));
  for (const char* line : {"signature: none\n", "icon sizes: 16, 32, 48, 256\n",
                           "version information (080404b0): file 2.1.0.7, product 2.1.0.7\n",
                           "  OriginalFilename: Mini.exe\n", "  ProductName: 测试产品 专业版\n"})
    EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
}

TEST_F(ProductFaceTest, WithoutIconFileTheRuntimesIconStays) {
  FIcon.clear();
  BuildPackages(Options());
  TPeImage runtime = TPeImage::Parse(ReadWholeFile(fs::path(NV_PE_FIXTURE_DIR) / "fixture64.exe"));
  TPeImage full = TPeImage::Parse(ReadWholeFile(FDir / "proj/out/Full.exe"));
  EXPECT_EQ(full.FindResource(PE_RT_GROUP_ICON, TPeResId(1))->Data, runtime.FindResource(PE_RT_GROUP_ICON, TPeResId(1))->Data);
  EXPECT_EQ(full.FindResource(PE_RT_ICON, TPeResId(1))->Data, runtime.FindResource(PE_RT_ICON, TPeResId(1))->Data);
  TPeVersionInfo v;
  ASSERT_TRUE(FindVersionResource(full, v));
  EXPECT_EQ(v.Get(L"ProductName"), L"测试产品 专业版");
  EXPECT_EQ(OfType(full, PE_RT_VERSION).size(), 1u);
}

TEST_F(ProductFaceTest, UnreadablePictureOrUninstallerFailsTheBuildWithoutOutput) {
  auto expectFailure = [&](const std::string& what) {
    try {
      BuildPackages(Options());
      ADD_FAILURE() << "no error";
    } catch (const EBuildError& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    std::error_code ec;
    EXPECT_FALSE(fs::exists(FDir / "proj/out", ec) && !fs::is_empty(FDir / "proj/out", ec));
  };
  std::string png = ReadWholeFile(FDir / "proj/art/product.png");
  std::string bad = png;
  bad[25] = 5;  // the colour type in the header
  test::WriteFile(FDir / "proj/art/product.png", bad);
  // The project check refuses the damaged picture before the icon is made.
  expectFailure("product.png: the IconFile is a damaged PNG picture");
  test::WriteFile(FDir / "proj/art/product.png", png);
  test::WriteFile(FDir / "tools/Uninstall.exe", "MZ not a program");
  expectFailure(PathText(FDir / "tools/Uninstall.exe") + ": the uninstaller is not a Windows executable");
}
