// The builder's own PNG picture and its encoder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "DefaultPicture.h"
#include "TestSupport.h"

using namespace nvbuilder;

namespace {

uint32_t U32(const std::string& s, std::size_t at) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

struct TChunk {
  std::string Type, Data;
};

// Splits a PNG into chunks, checking every length and CRC.
std::vector<TChunk> Chunks(const std::string& png) {
  std::vector<TChunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    uint32_t len = U32(png, at);
    EXPECT_LE(at + 12 + len, png.size());
    std::string typeAndData = png.substr(at + 4, 4 + len);
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()), static_cast<uInt>(typeAndData.size())));
    EXPECT_EQ(crc, U32(png, at + 8 + len)) << typeAndData.substr(0, 4);
    chunks.push_back({typeAndData.substr(0, 4), typeAndData.substr(4)});
    at += 12 + len;
  }
  EXPECT_EQ(at, png.size());
  return chunks;
}

std::string Inflate(const std::string& data, std::size_t expected) {
  std::string out(expected + 16, '\0');
  uLongf size = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                       static_cast<uLong>(data.size())),
            Z_OK);
  out.resize(size);
  return out;
}

}  // namespace

TEST(DefaultPicture, IsAValid96x96RgbaPng) {
  const std::string& png = DefaultPicture();
  ASSERT_TRUE(IsPng(png));
  auto chunks = Chunks(png);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].Type, "IHDR");
  EXPECT_EQ(chunks[1].Type, "IDAT");
  EXPECT_EQ(chunks[2].Type, "IEND");
  ASSERT_EQ(chunks[0].Data.size(), 13u);
  EXPECT_EQ(U32(chunks[0].Data, 0), 96u);
  EXPECT_EQ(U32(chunks[0].Data, 4), 96u);
  EXPECT_EQ(chunks[0].Data.substr(8), std::string("\x08\x06\x00\x00\x00", 5));
  std::string raw = Inflate(chunks[1].Data, 96 * (1 + 96 * 4));
  ASSERT_EQ(raw.size(), 96u * (1 + 96 * 4));
  for (int y = 0; y < 96; ++y) EXPECT_EQ(raw[y * (1 + 96 * 4)], '\0') << "filter byte of row " << y;
  auto alpha = [&](int x, int y) { return static_cast<unsigned char>(raw[y * (1 + 96 * 4) + 1 + x * 4 + 3]); };
  EXPECT_EQ(alpha(0, 0), 0);      // a transparent corner
  EXPECT_EQ(alpha(48, 48), 255);  // an opaque middle
  EXPECT_EQ(alpha(95, 95), 0);
}

TEST(DefaultPicture, EncoderKeepsThePixels) {
  std::vector<uint8_t> rgba(3 * 2 * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 11);
  std::string png = EncodePng(3, 2, rgba);
  auto chunks = Chunks(png);
  ASSERT_EQ(chunks.size(), 3u);
  std::string raw = Inflate(chunks[1].Data, 2 * (1 + 12));
  ASSERT_EQ(raw.size(), 26u);
  EXPECT_EQ(raw.substr(1, 12), std::string(reinterpret_cast<const char*>(rgba.data()), 12));
  EXPECT_EQ(raw.substr(14, 12), std::string(reinterpret_cast<const char*>(rgba.data()) + 12, 12));
  EXPECT_THROW(EncodePng(3, 3, rgba), EBuildError);
}

#ifndef _WIN32
TEST(DefaultPicture, AnImageToolReadsIt) {
  if (std::system("command -v identify >/dev/null 2>&1") != 0) GTEST_SKIP() << "imagemagick not installed";
  test::TScratch dir;
  test::WriteFile(dir / "p.png", DefaultPicture());
  std::string cmd = "identify -format '%w %h %m' '" + PathText(dir / "p.png") + "' > '" + PathText(dir / "out.txt") + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(ReadWholeFile(dir / "out.txt"), "96 96 PNG");
}
#endif
