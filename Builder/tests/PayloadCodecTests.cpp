// The container form: zlib level 9 masked by XOR with (index mod 255).
#include <gtest/gtest.h>
#include <zlib.h>

#include "BuilderText.h"
#include "PayloadCodec.h"
#include "TestSupport.h"

using namespace nvbuilder;

static std::string ZlibLevel9(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                      static_cast<uLong>(plain.size()), 9),
            Z_OK);
  out.resize(size);
  return out;
}

TEST(PayloadCodec, RoundTripsContentOfManySizes) {
  for (std::size_t n : {1u, 2u, 254u, 255u, 256u, 257u, 511u, 70000u, 1u << 20}) {
    std::string plain = n % 2 ? test::RandomBytes(n, static_cast<uint32_t>(n)) : test::TextBytes(n, 7);
    EXPECT_EQ(DecodePayload(EncodePayload(plain)), plain) << n;
  }
}

TEST(PayloadCodec, EmptyContentIsAnEmptyPayloadAndBack) {
  EXPECT_EQ(EncodePayload(""), "");
  EXPECT_EQ(DecodePayload(""), "");
}

TEST(PayloadCodec, MaskRunsModulo255OverTheZlibStream) {
  std::string plain = test::RandomBytes(4000, 3);  // incompressible: a payload of well over 256 bytes
  std::string zlib = ZlibLevel9(plain);
  std::string payload = EncodePayload(plain);
  ASSERT_EQ(payload.size(), zlib.size());
  ASSERT_GT(payload.size(), 600u);
  EXPECT_EQ(payload[0], zlib[0]);
  EXPECT_EQ(static_cast<unsigned char>(payload[1]), static_cast<unsigned char>(zlib[1] ^ 1));
  EXPECT_EQ(static_cast<unsigned char>(payload[254]), static_cast<unsigned char>(zlib[254] ^ 254));
  EXPECT_EQ(payload[255], zlib[255]);
  EXPECT_EQ(static_cast<unsigned char>(payload[256]), static_cast<unsigned char>(zlib[256] ^ 1));
  EXPECT_EQ(payload[510], zlib[510]);
  // Header of a level-9 zlib stream: CMF 0x78, FLEVEL 3.
  EXPECT_EQ(static_cast<unsigned char>(payload[0]), 0x78);
  EXPECT_EQ(static_cast<unsigned char>(payload[1] ^ 1) >> 6, 3);
}

TEST(PayloadCodec, BytesAfterTheStreamAreIgnored) {
  std::string plain = test::TextBytes(5000, 11);
  std::string payload = EncodePayload(plain) + std::string("trailing garbage");
  EXPECT_EQ(DecodePayload(payload), plain);
}

TEST(PayloadCodec, CutOrDamagedPayloadsFail) {
  std::string payload = EncodePayload(test::TextBytes(20000, 5));
  EXPECT_THROW(DecodePayload(payload.substr(0, payload.size() / 2)), EBuildError);
  std::string damaged = payload;
  damaged[0] = static_cast<char>(damaged[0] ^ 0x55);
  EXPECT_THROW(DecodePayload(damaged), EBuildError);
  // Plain, unmasked zlib data is not a payload either.
  EXPECT_THROW(DecodePayload(ZlibLevel9("hello hello hello")), EBuildError);
}

TEST(PayloadCodec, XorMaskIsItsOwnInverse) {
  std::string bytes = test::RandomBytes(1000, 9), copy = bytes;
  XorMask(copy);
  EXPECT_NE(copy, bytes);
  XorMask(copy);
  EXPECT_EQ(copy, bytes);
}
