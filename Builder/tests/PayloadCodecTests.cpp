// The builder's adapter of the package codec (which is tested in
// project/tests/test_package_codec.cpp): the same payload bytes as zlib's own
// level-9 compressor masked, and failures as EBuildError.
#include <gtest/gtest.h>
#include <zlib.h>

#include "BuilderText.h"
#include "PayloadCodec.h"
#include "Sha256.h"
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

static std::string Masked(std::string bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ (i % 255));
  return bytes;
}

TEST(PayloadCodec, PackagesKeepTheirBytes) {
  for (const std::string& plain : {test::RandomBytes(4000, 3), test::TextBytes(300000, 7)}) {
    std::string payload = EncodePayload(plain);
    EXPECT_EQ(payload, Masked(ZlibLevel9(plain)));
    EXPECT_EQ(DecodePayload(payload), plain);
  }
  EXPECT_EQ(EncodePayload(""), "");
  EXPECT_EQ(DecodePayload(""), "");
}

TEST(PayloadCodec, CutOrDamagedPayloadsAreBuildErrors) {
  std::string payload = EncodePayload(test::TextBytes(20000, 5));
  std::string damaged = payload;
  damaged[0] = static_cast<char>(damaged[0] ^ 0x55);
  for (const std::string& bad : {payload.substr(0, payload.size() / 2), damaged, ZlibLevel9("hello hello hello")}) {
    try {
      DecodePayload(bad);
      ADD_FAILURE() << "no error";
    } catch (const EBuildError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("not a payload: ", 0), 0u) << e.what();
      EXPECT_GT(std::string(e.what()).size(), std::string("not a payload: ").size());
    }
  }
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(HexText(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexText(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Across the block boundary, fed in uneven pieces.
  const std::string text(1000, 'a');
  TSha256 pieces;
  for (std::size_t at = 0; at < text.size(); at += 37) pieces.Update(std::string_view(text).substr(at, 37));
  EXPECT_EQ(HexText(pieces.Final()), HexText(Sha256(text)));
  EXPECT_EQ(HexText(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
