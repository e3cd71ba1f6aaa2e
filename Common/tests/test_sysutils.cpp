// Stream compression wrappers, GUID text and the console line of the system helpers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <set>
#include <string>

#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "NvTypInfo.h"

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Text-like content that compresses well, as package files usually do.
std::string TextBytes(std::size_t n) {
  std::string s;
  s.reserve(n);
  for (unsigned i = 0; s.size() < n; ++i) s += "<Item Name=\"file" + std::to_string(i % 977) + ".dll\"/>\r\n";
  s.resize(n);
  return s;
}

std::string Compress(const std::string& plain) {
  TMemoryStream src(plain), dst;
  TNvSysfn::CompressStream(&src, &dst);
  EXPECT_EQ(dst.Position(), dst.Size());
  return dst.Bytes();
}

std::string Decompress(const std::string& packed) {
  TMemoryStream src(packed), dst;
  TNvSysfn::DecompressStream(&src, &dst);
  EXPECT_EQ(dst.Position(), dst.Size());
  return dst.Bytes();
}

// Inflates with zlib directly: the stream must be a plain RFC 1950 stream.
std::string ReferenceInflate(const std::string& packed, std::size_t plainSize) {
  std::string out(plainSize + 1, '\0');
  uLongf outLen = static_cast<uLongf>(out.size());
  int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &outLen,
                      reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size()));
  EXPECT_EQ(rc, Z_OK);
  out.resize(outLen);
  return out;
}

}  // namespace

// The chunked zlib unit is tested with the package codec
// (project/tests/test_package_codec.cpp); here the stream wrappers' contract.
TEST(CompressStream, RoundTripThroughTheWrappers) {
  for (const std::string& plain : {RandomBytes(257, 264), TextBytes(3u << 20)}) {
    std::string packed = Compress(plain);
    EXPECT_EQ(Decompress(packed), plain);
    EXPECT_EQ(ReferenceInflate(packed, plain.size()), plain);
  }
}

TEST(CompressStream, EmptySourceGivesEmptyDestinationBothWays) {
  TMemoryStream src, dst("left over");
  TNvSysfn::CompressStream(&src, &dst);
  EXPECT_EQ(dst.Size(), 0u);
  EXPECT_EQ(dst.Position(), 0u);
  TMemoryStream dst2("left over");
  TNvSysfn::DecompressStream(&src, &dst2);
  EXPECT_EQ(dst2.Size(), 0u);
}

TEST(CompressStream, ProducesZlibStreamAtBestCompression) {
  std::string packed = Compress(TextBytes(100000));
  ASSERT_GE(packed.size(), 6u);
  unsigned char cmf = static_cast<unsigned char>(packed[0]), flg = static_cast<unsigned char>(packed[1]);
  EXPECT_EQ(cmf, 0x78);               // deflate, 32 KiB window
  EXPECT_EQ((cmf * 256 + flg) % 31, 0);
  EXPECT_EQ(flg >> 6, 3);             // level 9 announces "maximum compression"
  // Repetitive text shrinks to a small fraction.
  EXPECT_LT(packed.size(), 100000u / 10);
}

TEST(CompressStream, WholeSourceIsReadWhateverItsPosition) {
  std::string plain = TextBytes(5000);
  TMemoryStream src(plain), dst;
  src.SetPosition(1234);
  TNvSysfn::CompressStream(&src, &dst);
  EXPECT_EQ(Decompress(dst.Bytes()), plain);
}

TEST(CompressStream, ReplacesEarlierDestinationContent) {
  std::string plain = RandomBytes(100, 1);
  TMemoryStream src(plain), dst(std::string(100000, 'x'));
  dst.SetPosition(500);
  TNvSysfn::CompressStream(&src, &dst);
  EXPECT_EQ(dst.Bytes(), Compress(plain));
}

TEST(CompressStream, SameStreamAsSourceAndDestination) {
  std::string plain = TextBytes(4000);
  TMemoryStream s(plain);
  TNvSysfn::CompressStream(&s, &s);
  TNvSysfn::DecompressStream(&s, &s);
  EXPECT_EQ(s.Bytes(), plain);
}

TEST(CompressStream, NullStreamsAreAssertionFailures) {
  TMemoryStream s;
  auto message = [](auto&& call) -> std::string {
    try {
      call();
    } catch (const EAssertionFailed& e) {
      return e.what();
    }
    return "no assertion";
  };
  EXPECT_EQ(message([&] { TNvSysfn::CompressStream(nullptr, &s); }),
            "Assertion failure (Common\\NvSysUtils, line 3090)");
  EXPECT_EQ(message([&] { TNvSysfn::CompressStream(&s, nullptr); }),
            "Assertion failure (Common\\NvSysUtils, line 3091)");
  EXPECT_EQ(message([&] { TNvSysfn::DecompressStream(nullptr, &s); }),
            "Assertion failure (Common\\NvSysUtils, line 3174)");
  EXPECT_EQ(message([&] { TNvSysfn::DecompressStream(&s, nullptr); }),
            "Assertion failure (Common\\NvSysUtils, line 3175)");
}

TEST(DecompressStream, BytesAfterTheStreamAreIgnored) {
  std::string plain = TextBytes(3000);
  EXPECT_EQ(Decompress(Compress(plain) + "trailing garbage"), plain);
}

TEST(DecompressStream, DamagedDataRaisesAndLeavesDestinationEmpty) {
  std::string packed = Compress(TextBytes(20000));
  struct Case {
    const char* what;
    std::string data;
  };
  std::string badHeader = packed;
  badHeader[0] = 0x12;
  std::string badBody = packed;
  for (std::size_t i = 10; i < 40; ++i) badBody[i] = static_cast<char>(~badBody[i]);
  std::string badChecksum = packed;
  badChecksum.back() = static_cast<char>(badChecksum.back() ^ 0x55);
  std::string cut = packed.substr(0, packed.size() / 2);
  std::string cutTrailer = packed.substr(0, packed.size() - 2);
  for (const Case& c : {Case{"header", badHeader}, Case{"body", badBody}, Case{"checksum", badChecksum},
                        Case{"cut", cut}, Case{"cut trailer", cutTrailer}, Case{"not zlib", "hello world"}}) {
    SCOPED_TRACE(c.what);
    TMemoryStream src(c.data), dst("old");
    try {
      TNvSysfn::DecompressStream(&src, &dst);
      ADD_FAILURE() << "no error";
    } catch (const EZlibError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Decompression error: ", 0), 0u) << e.what();
      EXPECT_GT(std::string(e.what()).size(), std::string("Decompression error: ").size());
    }
    EXPECT_EQ(dst.Size(), 0u);
    EXPECT_EQ(dst.Position(), 0u);
  }
}

TEST(NewGuidString, RegistryFormUpperCaseHex) {
  std::wstring g = TNvStrfn::NewGuidString();
  ASSERT_EQ(g.size(), 38u);
  EXPECT_EQ(g.front(), L'{');
  EXPECT_EQ(g.back(), L'}');
  for (std::size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      EXPECT_EQ(g[i], L'-') << i;
    } else {
      EXPECT_TRUE((g[i] >= L'0' && g[i] <= L'9') || (g[i] >= L'A' && g[i] <= L'F')) << i;
    }
  }
}

TEST(NewGuidString, EveryCallGivesANewValue) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 2000; ++i) seen.insert(TNvStrfn::NewGuidString());
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(IsDebugging, FalseInAPlainTestRun) { EXPECT_FALSE(TNvSysfn::IsDebugging()); }

#ifndef _WIN32
// (The Windows build writes to the Win32 standard handle: tested there.)
TEST(WriteStdOut, AppendsCrLfOnStandardOutput) {
  testing::internal::CaptureStdout();
  TNvSysfn::WriteStdOut(L"line one");
  TNvSysfn::WriteStdOut(L"");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "line one\r\n\r\n");
}
#endif

TEST(EnumName, NamesByOrdinal) {
  const TEnumInfo info{"THttpMethod", {"hmGet", "hmPost", "hmHead"}};
  EXPECT_EQ(TNvSysfn::EnumName(info, 0), L"hmGet");
  EXPECT_EQ(TNvSysfn::EnumName(info, 2), L"hmHead");
  EXPECT_EQ(TNvSysfn::EnumName(info, 3), L"");
  EXPECT_EQ(TNvSysfn::EnumName(info, -1), L"");
}
