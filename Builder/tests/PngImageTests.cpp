// Reading PNG pictures of every colour type the icon source may have, and
// scaling them into icon squares.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <random>

#include "BuilderText.h"
#include "DefaultPicture.h"
#include "PngImage.h"

using namespace nvbuilder;

namespace {

void PutBe32(std::string& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(v >> s);
}

void Chunk(std::string& png, const std::string& type, const std::string& data) {
  PutBe32(png, static_cast<uint32_t>(data.size()));
  std::string body = type + data;
  png += body;
  PutBe32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// A PNG of the given header whose rows (unfiltered scanline bytes) are
// stored with the filters 0, 1, 2, 3, 4 in turn.
std::string MakePng(uint32_t w, uint32_t h, int colourType, int depth, const std::vector<std::string>& rows,
                    const std::string& plte = {}, const std::string& trns = {}, int interlace = 0) {
  const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
  const size_t bpp = std::max(1, channels * depth / 8);
  std::string raw, prior(rows.empty() ? 0 : rows[0].size(), '\0');
  for (size_t y = 0; y < rows.size(); ++y) {
    const std::string& r = rows[y];
    int filter = static_cast<int>(y % 5);
    raw += static_cast<char>(filter);
    for (size_t i = 0; i < r.size(); ++i) {
      int x = static_cast<uint8_t>(r[i]), a = i >= bpp ? static_cast<uint8_t>(r[i - bpp]) : 0,
          b = static_cast<uint8_t>(prior[i]), c = i >= bpp ? static_cast<uint8_t>(prior[i - bpp]) : 0;
      int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      int predictor[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : (pb <= pc ? b : c)};
      raw += static_cast<char>(x - predictor[filter]);
    }
    prior = r;
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string idat(size, '\0');
  compress2(reinterpret_cast<Bytef*>(idat.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  idat.resize(size);
  std::string ihdr;
  PutBe32(ihdr, w);
  PutBe32(ihdr, h);
  ihdr += static_cast<char>(depth);
  ihdr += static_cast<char>(colourType);
  ihdr += std::string(2, '\0');
  ihdr += static_cast<char>(interlace);
  std::string png("\x89PNG\r\n\x1a\n", 8);
  Chunk(png, "IHDR", ihdr);
  if (!plte.empty()) Chunk(png, "PLTE", plte);
  if (!trns.empty()) Chunk(png, "tRNS", trns);
  Chunk(png, "IDAT", idat);
  Chunk(png, "IEND", "");
  return png;
}

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

std::vector<uint8_t> Px(const TRgbaImage& image, uint32_t x, uint32_t y) {
  auto at = image.Pixels.begin() + (static_cast<size_t>(y) * image.Width + x) * 4;
  return {at, at + 4};
}

std::string ErrorOf(const std::string& png) {
  try {
    DecodePng(png, "pics/icon.png");
  } catch (const EBuildError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(PngDecode, RgbaRoundTripsThroughEveryRowFilter) {
  std::vector<uint8_t> rgba(7 * 6 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
  std::vector<std::string> rows;
  for (int y = 0; y < 6; ++y) rows.emplace_back(reinterpret_cast<const char*>(rgba.data()) + y * 28, 28);
  TRgbaImage image = DecodePng(MakePng(7, 6, 6, 8, rows), "a.png");
  EXPECT_EQ(image.Width, 7u);
  EXPECT_EQ(image.Height, 6u);
  EXPECT_EQ(image.Pixels, rgba);
  // And the builder's own encoder's output.
  EXPECT_EQ(DecodePng(EncodePng(7, 6, rgba), "b.png").Pixels, rgba);
}

TEST(PngDecode, RgbGreyPaletteAndSixteenBitTypes) {
  // RGB with a transparent colour.
  TRgbaImage rgb = DecodePng(MakePng(2, 1, 2, 8, {Bytes({10, 20, 30, 1, 2, 3})}, {}, Bytes({0, 1, 0, 2, 0, 3})), "rgb.png");
  EXPECT_EQ(Px(rgb, 0, 0), (std::vector<uint8_t>{10, 20, 30, 255}));
  EXPECT_EQ(Px(rgb, 1, 0), (std::vector<uint8_t>{1, 2, 3, 0}));
  // Palette at 4 bits with alpha for entry 1 only; three pixels in one byte and a half.
  TRgbaImage pal = DecodePng(MakePng(3, 1, 3, 4, {Bytes({0x12, 0x00})}, Bytes({9, 9, 9, 200, 100, 50, 7, 7, 7}), Bytes({255, 128})),
                             "pal.png");
  EXPECT_EQ(Px(pal, 0, 0), (std::vector<uint8_t>{200, 100, 50, 128}));
  EXPECT_EQ(Px(pal, 1, 0), (std::vector<uint8_t>{7, 7, 7, 255}));
  EXPECT_EQ(Px(pal, 2, 0), (std::vector<uint8_t>{9, 9, 9, 255}));
  // Grey at 1 bit: 0 and 1 become black and white.
  TRgbaImage grey1 = DecodePng(MakePng(9, 1, 0, 1, {Bytes({0x80, 0x80})}), "g1.png");
  EXPECT_EQ(Px(grey1, 0, 0), (std::vector<uint8_t>{255, 255, 255, 255}));
  EXPECT_EQ(Px(grey1, 1, 0), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(Px(grey1, 8, 0), (std::vector<uint8_t>{255, 255, 255, 255}));
  // Grey at 8 bits, grey with alpha, RGBA at 16 bits (the high byte counts).
  EXPECT_EQ(Px(DecodePng(MakePng(1, 1, 0, 8, {Bytes({77})}), "g8.png"), 0, 0), (std::vector<uint8_t>{77, 77, 77, 255}));
  EXPECT_EQ(Px(DecodePng(MakePng(1, 1, 4, 8, {Bytes({77, 5})}), "ga.png"), 0, 0), (std::vector<uint8_t>{77, 77, 77, 5}));
  EXPECT_EQ(Px(DecodePng(MakePng(1, 1, 6, 16, {Bytes({1, 2, 3, 4, 5, 6, 7, 8})}), "r16.png"), 0, 0),
            (std::vector<uint8_t>{1, 3, 5, 7}));
}

TEST(PngDecode, RefusesWhatItCannotReadNamingTheFile) {
  std::string good = MakePng(1, 1, 6, 8, {Bytes({1, 2, 3, 4})});
  EXPECT_NE(ErrorOf("GIF89a").find("pics/icon.png: not a PNG picture"), std::string::npos);
  EXPECT_NE(ErrorOf(MakePng(1, 1, 6, 8, {Bytes({1, 2, 3, 4})}, {}, {}, 1)).find("pics/icon.png: interlaced"), std::string::npos);
  EXPECT_NE(ErrorOf(MakePng(1, 1, 2, 4, {Bytes({0, 0})})).find("pics/icon.png: unsupported PNG colour type 2 (RGB) at bit depth 4"),
            std::string::npos);
  EXPECT_NE(ErrorOf(MakePng(1, 1, 5, 8, {Bytes({0})})).find("colour type 5"), std::string::npos);
  EXPECT_NE(ErrorOf(MakePng(1, 1, 3, 8, {Bytes({0})})).find("no palette"), std::string::npos);
  EXPECT_NE(ErrorOf(MakePng(1, 1, 3, 8, {Bytes({5})}, Bytes({1, 2, 3}))).find("beyond the palette"), std::string::npos);
  EXPECT_NE(ErrorOf(MakePng(9000, 1, 6, 8, {})).find("at most 8192"), std::string::npos);
  std::string crc = good;
  crc[20] ^= 1;
  EXPECT_NE(ErrorOf(crc).find("IHDR fails its checksum"), std::string::npos);
  // Image data for two rows where the header says one, and cut short.
  std::string tooLong = MakePng(1, 2, 6, 8, {Bytes({1, 2, 3, 4}), Bytes({1, 2, 3, 4})});
  tooLong[23] = 1;  // height 1
  uint32_t c = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(tooLong.data() + 12), 17));
  for (int i = 0; i < 4; ++i) tooLong[29 + i] = static_cast<char>(c >> (24 - 8 * i));
  EXPECT_NE(ErrorOf(tooLong).find("longer than the picture"), std::string::npos) << ErrorOf(tooLong);
  // Every truncation is an error, never a crash.
  for (size_t n = 0; n < good.size(); ++n) EXPECT_NE(ErrorOf(good.substr(0, n)), "no error") << n;
}

TEST(PngScale, ShrinkingAveragesTheCoveredAreaWeightedByAlpha) {
  // 96 x 96 in 3 x 3 blocks of distinct opaque colours: 32 pixels average each block.
  TRgbaImage src;
  src.Width = src.Height = 96;
  src.Pixels.resize(96 * 96 * 4);
  for (uint32_t y = 0; y < 96; ++y)
    for (uint32_t x = 0; x < 96; ++x) {
      uint8_t* p = &src.Pixels[(y * 96 + x) * 4];
      p[0] = static_cast<uint8_t>(x * 2);
      p[1] = static_cast<uint8_t>(y * 2);
      p[2] = static_cast<uint8_t>((x + y) % 7 * 30);
      p[3] = 255;
    }
  TRgbaImage s32 = ScaleToSquare(src, 32);
  for (uint32_t by : {0u, 13u, 31u})
    for (uint32_t bx : {0u, 7u, 31u}) {
      int sum[3] = {0, 0, 0};
      for (uint32_t y = by * 3; y < by * 3 + 3; ++y)
        for (uint32_t x = bx * 3; x < bx * 3 + 3; ++x)
          for (int c = 0; c < 3; ++c) sum[c] += src.Pixels[(y * 96 + x) * 4 + c];
      auto got = Px(s32, bx, by);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], sum[c] / 9.0, 0.51) << bx << "," << by;
      EXPECT_EQ(got[3], 255);
    }
  // A transparent black pixel lends no colour: a 2 x 1 picture of opaque red
  // and transparent black gives half-transparent pure red.
  TRgbaImage edge;
  edge.Width = 2;
  edge.Height = 2;
  edge.Pixels = {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0};
  EXPECT_EQ(Px(ScaleToSquare(edge, 1), 0, 0), (std::vector<uint8_t>{255, 0, 0, 128}));
}

TEST(PngScale, KeepsTheAspectCentredAndEnlargesSmoothly) {
  TRgbaImage wide;
  wide.Width = 4;
  wide.Height = 2;
  wide.Pixels.assign(4 * 2 * 4, 200);
  TRgbaImage s = ScaleToSquare(wide, 16);  // 16 x 8 in rows 4 to 11
  EXPECT_EQ(Px(s, 8, 3)[3], 0);
  EXPECT_EQ(Px(s, 8, 4), (std::vector<uint8_t>{200, 200, 200, 200}));
  EXPECT_EQ(Px(s, 0, 11), (std::vector<uint8_t>{200, 200, 200, 200}));
  EXPECT_EQ(Px(s, 8, 12)[3], 0);
  // Black to white over two pixels, enlarged: values rise monotonically.
  TRgbaImage ramp;
  ramp.Width = 2;
  ramp.Height = 1;
  ramp.Pixels = {0, 0, 0, 255, 255, 255, 255, 255};
  TRgbaImage big = ScaleToSquare(ramp, 8);
  for (uint32_t x = 1; x < 8; ++x) EXPECT_GE(Px(big, x, 4)[0], Px(big, x - 1, 4)[0]);
  EXPECT_EQ(Px(big, 0, 4)[0], 0);
  EXPECT_EQ(Px(big, 7, 4)[0], 255);
  EXPECT_GT(Px(big, 4, 4)[0], 100);
  EXPECT_LT(Px(big, 3, 4)[0], 155);
}

TEST(PngDecode, DamagedImageDataIsAnErrorNeverACrash) {
  std::vector<uint8_t> rgba(24 * 24 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 7 + i / 96);
  const std::string png = EncodePng(24, 24, rgba);
  const size_t idat = png.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  const uint32_t length = static_cast<uint8_t>(png[idat - 2]) << 8 | static_cast<uint8_t>(png[idat - 1]);
  std::mt19937 rng(5);
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    // Bytes of the compressed data changed, the chunk's checksum made right again.
    std::string bad = png;
    for (int k = 0; k < 1 + round % 4; ++k) bad[idat + 4 + rng() % length] = static_cast<char>(rng());
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bad.data() + idat), length + 4));
    for (int i = 0; i < 4; ++i) bad[idat + 4 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
    try {
      TRgbaImage image = DecodePng(bad, "x.png");
      EXPECT_EQ(image.Pixels.size(), rgba.size());
    } catch (const EBuildError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("x.png: ", 0), 0u) << e.what();
      ++refused;
    }
  }
  EXPECT_GT(refused, 100);
}
