// Icon groups and version resources written into executables and read back,
// checked against the resource compiler's own output and a separate reading
// of the structures.
#include <gtest/gtest.h>

#include <cstdlib>

#include "PeProductInfo.h"
#include "PeResources.h"
#include "PeTestSupport.h"

using namespace pe_test;

namespace {

std::string Fixture(const char* name) { return ReadAll(FixturePath(name)); }

std::vector<const TPeResourceEntry*> OfType(const TPeImage& image, uint16_t type) {
  std::vector<const TPeResourceEntry*> out;
  for (const auto& e : image.Resources())
    if (!e.Type.IsName() && e.Type.Id() == type) out.push_back(&e);
  return out;
}

// UTF-16 LE bytes of an ASCII text.
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::vector<TPeIconImage> Pictures() {
  std::vector<TPeIconImage> images(3);
  images[0].Size = 16;
  images[0].Data = MakeIconDib(16, std::vector<uint8_t>(16 * 16 * 4, 0x40));
  images[1].Size = 32;
  images[1].Data = MakeIconDib(32, std::vector<uint8_t>(32 * 32 * 4, 0x80));
  images[2].Size = 256;
  images[2].Data = std::string("\x89PNG\r\n\x1a\n", 8) + "stands for a 256 picture";
  return images;
}

}  // namespace

TEST(PeVersion, ReadsTheResourceCompilersVersionInformation) {
  TPeVersionInfo info;
  ASSERT_TRUE(FindVersionResource(TPeImage::Parse(Fixture("fixture64.exe")), info));
  EXPECT_EQ(info.FileVersion, (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(info.ProductVersion, (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(info.Language, 0x409);
  EXPECT_EQ(info.CodePage, 1200);
  EXPECT_EQ(info.Get(L"FileDescription"), L"PE editor fixture");
  EXPECT_EQ(info.Get(L"FileVersion"), L"1.2.3.4");
  EXPECT_EQ(info.Get(L"ProductName"), L"NvSetup test");
  EXPECT_EQ(info.Strings.size(), 3u);
}

TEST(PeVersion, WrittenResourceParsesBackAndHasTheStandardLayout) {
  TPeVersionInfo info;
  info.FileVersion = {2, 10, 0, 65535};
  info.ProductVersion = {2, 10, 0, 7};
  info.Strings = {{L"CompanyName", L"示例公司"},
                  {L"FileDescription", L"产品 安装程序 \U0001F600"},
                  {L"FileVersion", L"2.10.0.65535"},
                  {L"LegalCopyright", L""},
                  {L"OriginalFilename", L"Setup.exe"}};
  std::string bytes = BuildVersionResource(info);
  TPeVersionInfo back = ParseVersionResource(bytes);
  EXPECT_EQ(back.FileVersion, info.FileVersion);
  EXPECT_EQ(back.ProductVersion, info.ProductVersion);
  EXPECT_EQ(back.Language, 0x0804);
  EXPECT_EQ(back.CodePage, 1200);
  EXPECT_EQ(back.Strings, info.Strings);

  // The layout read directly: total length, key, the fixed part at offset 40.
  EXPECT_EQ(U16(bytes, 0), bytes.size());
  EXPECT_EQ(U16(bytes, 2), 52u);
  EXPECT_EQ(bytes.substr(6, 32), Utf16(std::string("VS_VERSION_INFO", 16)));
  EXPECT_EQ(U32(bytes, 40), 0xFEEF04BDu);
  EXPECT_EQ(U32(bytes, 48), 0x0002000Au);  // file version, most significant half
  EXPECT_EQ(U32(bytes, 52), 0x0000FFFFu);
  EXPECT_EQ(U32(bytes, 72), 0x00040004u);  // Windows NT, 32-bit
  EXPECT_EQ(U32(bytes, 76), 1u);           // an application
  EXPECT_NE(bytes.find(Utf16(std::string("080404b0", 9))), std::string::npos);
  size_t translation = bytes.find(Utf16(std::string("Translation", 12)));
  ASSERT_NE(translation, std::string::npos);
  EXPECT_EQ(U32(bytes, translation + 26), 0x04B00804u);  // after the key and its padding: language, code page
}

TEST(PeVersion, DamagedResourcesAreErrorsNotCrashes) {
  std::string bytes = BuildVersionResource(TPeVersionInfo{});
  for (size_t n = 0; n < 100 && n < bytes.size(); ++n)
    EXPECT_THROW(ParseVersionResource(bytes.substr(0, n)), EPeFormatError) << n;
  std::string wrongLength = bytes;
  wrongLength[0] = static_cast<char>(0xFF);
  wrongLength[1] = 0x7F;
  EXPECT_THROW(ParseVersionResource(wrongLength), EPeFormatError);
}

TEST(PeVersion, SetReplacesTheExistingResourceInsteadOfAddingOne) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  TPeVersionInfo info;
  info.FileVersion = {9, 8, 7, 6};
  info.Strings = {{L"ProductName", L"新产品"}};
  SetVersionResource(image, info);
  TPeImage saved = TPeImage::Parse(image.Save());
  auto versions = OfType(saved, PE_RT_VERSION);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]->Name, TPeResId(1));
  EXPECT_EQ(versions[0]->Language, 0x0804);
  TPeVersionInfo back;
  ASSERT_TRUE(FindVersionResource(saved, back));
  EXPECT_EQ(back.FileVersion, info.FileVersion);
  EXPECT_EQ(back.Get(L"ProductName"), L"新产品");
  EXPECT_EQ(back.Get(L"FileDescription"), L"");
}

TEST(PeIcon, DibHasTheIconLayout) {
  // 2 x 2: top row red (opaque), transparent; bottom row green, blue half-transparent.
  std::vector<uint8_t> rgba = {255, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 255, 128};
  std::string dib = MakeIconDib(2, rgba);
  ASSERT_EQ(dib.size(), 40u + 16u + 2 * 4u);
  EXPECT_EQ(U32(dib, 0), 40u);
  EXPECT_EQ(U32(dib, 4), 2u);
  EXPECT_EQ(U32(dib, 8), 4u);  // colour and mask
  EXPECT_EQ(U16(dib, 12), 1u);
  EXPECT_EQ(U16(dib, 14), 32u);
  EXPECT_EQ(U32(dib, 16), 0u);
  // Bottom row first, blue-green-red-alpha.
  EXPECT_EQ(dib.substr(40, 8), std::string("\0\xFF\0\xFF\xFF\0\0\x80", 8));
  EXPECT_EQ(dib.substr(48, 8), std::string("\0\0\xFF\xFF\0\0\0\0", 8));
  // Mask rows of 4 bytes, bottom first: only the transparent top-right pixel is set.
  EXPECT_EQ(U32(dib, 56), 0u);
  EXPECT_EQ(U32(dib, 60), 0x40u);
}

TEST(PeIcon, MainGroupAndItsImagesAreReplaced) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  const std::string oldIcon = image.FindResource(PE_RT_ICON, TPeResId(1))->Data;
  auto pictures = Pictures();
  SetMainIcon(image, pictures);
  TPeImage saved = TPeImage::Parse(image.Save());
  auto groups = OfType(saved, PE_RT_GROUP_ICON);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0]->Name, TPeResId(1));
  EXPECT_EQ(groups[0]->Language, 1033);  // the group's own language is kept
  auto icons = OfType(saved, PE_RT_ICON);
  ASSERT_EQ(icons.size(), 3u);
  for (auto* icon : icons) EXPECT_NE(icon->Data, oldIcon);

  // The directory read directly: header, then 14-byte entries naming the images.
  const std::string& dir = groups[0]->Data;
  ASSERT_EQ(dir.size(), 6u + 3 * 14);
  EXPECT_EQ(U16(dir, 0), 0u);
  EXPECT_EQ(U16(dir, 2), 1u);
  EXPECT_EQ(U16(dir, 4), 3u);
  for (size_t i = 0; i < 3; ++i) {
    size_t e = 6 + 14 * i;
    uint32_t side = static_cast<uint8_t>(dir[e]);
    EXPECT_EQ(side ? side : 256u, pictures[i].Size);
    EXPECT_EQ(dir[e + 1], dir[e]);
    EXPECT_EQ(U16(dir, e + 4), 1u);
    EXPECT_EQ(U16(dir, e + 6), 32u);
    EXPECT_EQ(U32(dir, e + 8), pictures[i].Data.size());
    const TPeResourceEntry* icon = saved.FindResource(PE_RT_ICON, TPeResId(static_cast<uint16_t>(U16(dir, e + 12))));
    ASSERT_NE(icon, nullptr) << i;
    EXPECT_EQ(icon->Data, pictures[i].Data);
    EXPECT_EQ(icon->Language, 1033);
  }
  EXPECT_EQ(MainIconSizes(saved), (std::vector<uint32_t>{16, 32, 256}));
}

TEST(PeIcon, AGroupOfAnyNameIsTheMainOneAndOtherGroupsKeepTheirImages) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  // A named group (named entries come first) using image 5, beside the compiled group #1 using image 1.
  std::string group = image.FindResource(PE_RT_GROUP_ICON, TPeResId(1))->Data;
  const std::string icon1 = image.FindResource(PE_RT_ICON, TPeResId(1))->Data;
  group[6 + 12] = 5;
  image.SetResource(PE_RT_ICON, TPeResId(5), 0x0804, icon1);
  image.SetResource(PE_RT_GROUP_ICON, TPeResId(L"MAINICON"), 0x0804, group);
  SetMainIcon(image, Pictures());
  EXPECT_EQ(image.FindResource(PE_RT_ICON, TPeResId(5)), nullptr);
  ASSERT_NE(image.FindResource(PE_RT_ICON, TPeResId(1)), nullptr);
  EXPECT_EQ(image.FindResource(PE_RT_ICON, TPeResId(1))->Data, icon1);
  EXPECT_EQ(OfType(image, PE_RT_GROUP_ICON).size(), 2u);
  EXPECT_EQ(MainIconSizes(image), (std::vector<uint32_t>{16, 32, 256}));
  const TPeResourceEntry* main = image.FindResource(PE_RT_GROUP_ICON, TPeResId(L"MAINICON"));
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Language, 0x0804);
  // The new images take free IDs: 1 stays with the other group.
  for (size_t i = 0; i < 3; ++i) EXPECT_NE(U16(main->Data, 6 + 14 * i + 12), 1u);
}

TEST(PeIcon, AnImageWithoutIconGetsGroupOneInChinese) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  image.RemoveResource(PE_RT_GROUP_ICON, TPeResId(1));
  image.RemoveResource(PE_RT_ICON, TPeResId(1));
  EXPECT_TRUE(MainIconSizes(image).empty());
  SetMainIcon(image, Pictures());
  TPeImage saved = TPeImage::Parse(image.Save());
  const TPeResourceEntry* group = saved.FindResource(PE_RT_GROUP_ICON, TPeResId(1));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->Language, 0x0804);
  EXPECT_EQ(MainIconSizes(saved), (std::vector<uint32_t>{16, 32, 256}));
}

#ifdef NV_PE_WRESTOOL
TEST(PeIcon, WrestoolExtractsTheGroupAsAnIconFile) {
  std::string tool = NV_PE_WRESTOOL;
  if (tool.empty() || tool.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "wrestool not installed";
  TPeImage image = TPeImage::Parse(Fixture("fixture32.exe"));
  auto pictures = Pictures();
  SetMainIcon(image, pictures);
  std::string exe = FixturePath("icon-test.exe"), ico = FixturePath("icon-test.ico");
  WriteAll(exe, image.Save());
  std::string command = tool + " -x --type=14 -o " + ico + " " + exe;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string file = ReadAll(ico);
  // An .ico file: the same directory with file offsets instead of IDs, then the images.
  ASSERT_GE(file.size(), 6u + 3 * 16);
  EXPECT_EQ(U16(file, 4), 3u);
  for (size_t i = 0; i < 3; ++i) {
    size_t e = 6 + 16 * i;
    EXPECT_EQ(U32(file, e + 8), pictures[i].Data.size());
    EXPECT_EQ(file.substr(U32(file, e + 12), pictures[i].Data.size()), pictures[i].Data) << i;
  }
  std::remove(exe.c_str());
  std::remove(ico.c_str());
}
#endif
