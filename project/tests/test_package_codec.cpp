// The package codec and the chunked zlib unit under it: round trips, the
// position mask, streaming in pieces of any size, damaged input, and the
// cross-check with an independent encoder (Python's zlib).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "NvExceptions.h"
#include "NvFileUtils.h"
#include "NvSysUtils.h"
#include "NvZlibStream.h"
#include "PackageCodec.h"
#include "Setupfn.h"

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Random stretches, text and runs of zeros: what package files look like.
std::string MixedBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s;
  s.reserve(n + 70000);
  for (unsigned part = 0; s.size() < n; ++part) {
    if (part % 3 == 0) {
      s += RandomBytes(gen() % 60000 + 1, gen());
    } else if (part % 3 == 1) {
      for (unsigned k = gen() % 2000; k > 0; --k) s += "<Item Name=\"file" + std::to_string(gen() % 977) + ".dll\"/>\r\n";
    } else {
      s.append(gen() % 70000, '\0');
    }
  }
  s.resize(n);
  return s;
}

// The mask as written in the format's definition, one byte at a time.
std::string ReferenceMask(std::string bytes, uint64_t position) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(bytes[i] ^ ((position + i) % 255));
  return bytes;
}

// zlib's own one-call compressor at level 9 (same window and memory level).
std::string Compress2(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                      static_cast<uLong>(plain.size()), 9),
            Z_OK);
  out.resize(size);
  return out;
}

// Splits [0, size) into random pieces of 1 .. maxPiece bytes.
std::vector<std::size_t> RandomPieces(std::size_t size, std::size_t maxPiece, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::size_t> pieces;
  while (size > 0) {
    std::size_t n = std::min<std::size_t>(size, gen() % maxPiece + 1);
    pieces.push_back(n);
    size -= n;
  }
  return pieces;
}

struct TDecoded {
  std::string Plain;
  std::size_t LargestPiece = 0;
};

// Feeds the payload to a streaming decoder in random pieces.
TDecoded StreamDecode(const std::string& payload, std::size_t maxPiece, unsigned seed,
                      std::size_t chunkSize = kZlibChunkSize) {
  TDecoded out;
  TPackageDecoder decoder(
      [&](const char* data, std::size_t size) {
        out.Plain.append(data, size);
        out.LargestPiece = std::max(out.LargestPiece, size);
      },
      chunkSize);
  std::size_t at = 0;
  for (std::size_t n : RandomPieces(payload.size(), maxPiece, seed)) {
    decoder.Write(payload.data() + at, n);
    at += n;
  }
  decoder.Finish();
  EXPECT_EQ(decoder.PlainBytes(), out.Plain.size());
  return out;
}

std::string StreamEncode(const std::string& plain, std::size_t maxPiece, unsigned seed, std::size_t chunkSize) {
  std::string payload;
  TPackageEncoder encoder(StringSink(payload), kPackageLevel, chunkSize);
  std::size_t at = 0;
  for (std::size_t n : RandomPieces(plain.size(), maxPiece, seed)) {
    encoder.Write(plain.data() + at, n);
    at += n;
  }
  encoder.Finish();
  EXPECT_EQ(encoder.PayloadBytes(), payload.size());
  return payload;
}

// The message of the EZlibError that decoding raises, or "" when none.
std::string DecodeError(const std::string& payload) {
  try {
    DecodePackagePayload(payload);
  } catch (const EZlibError& e) {
    return e.what();
  }
  return "";
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

}  // namespace

// ---- round trips ------------------------------------------------------------------

class CodecRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CodecRoundTrip, EveryFormGivesTheContentBack) {
  const std::size_t n = GetParam();
  for (const std::string& plain : {RandomBytes(n, static_cast<unsigned>(n)), MixedBytes(n, static_cast<unsigned>(n))}) {
    std::string payload = EncodePackagePayload(plain);
    EXPECT_EQ(payload.empty(), plain.empty());
    EXPECT_EQ(DecodePackagePayload(payload), plain);
    EXPECT_EQ(StreamDecode(payload, 70000, 1).Plain, plain);
    // The streaming encoder writes the same bytes as the whole-buffer one.
    EXPECT_EQ(StreamEncode(plain, 50000, 2, 4096), payload);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CodecRoundTrip,
                         ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{254}, std::size_t{255},
                                           std::size_t{256}, std::size_t{511}, std::size_t{100000},
                                           std::size_t{5u << 20}));

TEST(PackageCodec, PayloadIsZlibLevel9Masked) {
  std::string plain = MixedBytes(300000, 4);
  std::string payload = EncodePackagePayload(plain);
  // The same bytes as zlib's own compressor, masked: packages built from the
  // same content are byte for byte the same.
  EXPECT_EQ(payload, ReferenceMask(Compress2(plain), 0));
  std::string zlib = ReferenceMask(payload, 0);
  unsigned char cmf = static_cast<unsigned char>(zlib[0]), flg = static_cast<unsigned char>(zlib[1]);
  EXPECT_EQ(cmf, 0x78);  // deflate, 32 KiB window
  EXPECT_EQ(flg >> 6, 3);  // maximum compression
  std::string out(plain.size() + 1, '\0');
  uLongf len = static_cast<uLongf>(out.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(zlib.data()),
                       static_cast<uLong>(zlib.size())),
            Z_OK);
  out.resize(len);
  EXPECT_EQ(out, plain);
}

// ---- the mask ---------------------------------------------------------------------

TEST(PackageCodec, MaskRunsModulo255FromTheFirstPayloadByte) {
  std::string plain = RandomBytes(5000, 3);  // incompressible: a payload well over 510 bytes
  std::string payload = EncodePackagePayload(plain);
  std::string zlib = ZlibCompress(plain.data(), plain.size());
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

TEST(PackageCodec, MaskDependsOnlyOnThePosition) {
  std::string bytes = RandomBytes(70000, 9);
  std::mt19937 gen(5);
  for (int round = 0; round < 200; ++round) {
    std::size_t start = gen() % bytes.size();
    std::size_t n = std::min<std::size_t>(bytes.size() - start, gen() % 40000);
    uint64_t position = round % 2 ? gen() : (uint64_t{gen()} << 32) + gen();  // beyond 4 GiB too
    std::string piece = bytes.substr(start, n), copy(n, '\0');
    MaskPayloadCopy(copy.data(), piece.data(), n, position);
    ASSERT_EQ(copy, ReferenceMask(piece, position)) << start << "+" << n << " at " << position;
    MaskPayloadBytes(piece.data(), n, position);
    ASSERT_EQ(piece, copy);
  }
  // Masking in pieces at their positions is masking the whole; and undoes itself.
  std::string whole = bytes, pieces = bytes;
  MaskPayloadBytes(whole.data(), whole.size(), 0);
  std::size_t at = 0;
  for (std::size_t n : RandomPieces(pieces.size(), 3000, 6)) {
    MaskPayloadBytes(pieces.data() + at, n, at);
    at += n;
  }
  EXPECT_EQ(pieces, whole);
  EXPECT_NE(whole, bytes);
  MaskPayloadBytes(whole.data(), whole.size(), 0);
  EXPECT_EQ(whole, bytes);
}

// ---- streaming --------------------------------------------------------------------

TEST(PackageCodec, DecoderGivesTheSameContentWhateverThePieces) {
  std::string plain = MixedBytes(3u << 20, 8);
  std::string payload = EncodePackagePayload(plain);
  for (std::size_t maxPiece : {std::size_t{1}, std::size_t{7}, std::size_t{255}, std::size_t{256},
                               std::size_t{65536}, std::size_t{1} << 22}) {
    SCOPED_TRACE(maxPiece);
    if (maxPiece == 1) {
      // Byte by byte through a smaller payload: every mask offset is crossed.
      std::string small = plain.substr(0, 200000);
      EXPECT_EQ(StreamDecode(EncodePackagePayload(small), 1, 3).Plain, small);
      continue;
    }
    TDecoded out = StreamDecode(payload, maxPiece, static_cast<unsigned>(maxPiece));
    EXPECT_EQ(out.Plain, plain);
    EXPECT_LE(out.LargestPiece, kZlibChunkSize);
  }
}

TEST(PackageCodec, DecoderOutputStaysInBoundedPieces) {
  // 48 MiB of zeros in a payload of a few dozen KiB: the sink never sees more
  // than one chunk at a time.
  const std::size_t n = 48u << 20;
  std::string payload;
  {
    TPackageEncoder encoder(StringSink(payload));
    std::string zeros(1u << 20, '\0');
    for (std::size_t done = 0; done < n; done += zeros.size()) encoder.Write(zeros.data(), zeros.size());
    encoder.Finish();
  }
  ASSERT_LT(payload.size(), n / 500);
  std::size_t total = 0, largest = 0, pieces = 0;
  bool allZero = true;
  DecodePackagePayload(
      payload.data(), payload.size(),
      [&](const char* data, std::size_t size) {
        total += size;
        largest = std::max(largest, size);
        ++pieces;
        allZero = allZero && std::all_of(data, data + size, [](char c) { return c == 0; });
      },
      16384);
  EXPECT_EQ(total, n);
  EXPECT_LE(largest, 16384u);
  EXPECT_GE(pieces, n / 16384);
  EXPECT_TRUE(allZero);
}

TEST(PackageCodec, EncoderOfNoBytesWritesNothing) {
  std::string payload = "untouched";
  TPackageEncoder encoder([&](const char*, std::size_t) { payload = "written"; });
  encoder.Write("", 0);
  encoder.Finish();
  EXPECT_EQ(payload, "untouched");
  EXPECT_EQ(encoder.PayloadBytes(), 0u);
  EXPECT_EQ(DecodePackagePayload(""), "");
  TPackageDecoder decoder([](const char*, std::size_t) { FAIL() << "output from no input"; });
  decoder.Write("", 0);
  EXPECT_NO_THROW(decoder.Finish());
}

TEST(PackageCodec, BytesAfterTheStreamAreIgnored) {
  std::string plain = MixedBytes(30000, 12);
  std::string payload = EncodePackagePayload(plain) + "more bytes that are not part of the stream";
  EXPECT_EQ(DecodePackagePayload(payload), plain);
  TDecoded out = StreamDecode(payload, 100, 4);
  EXPECT_EQ(out.Plain, plain);
}

TEST(PackageCodec, SinkFailureStopsTheDecoder) {
  std::string payload = EncodePackagePayload(MixedBytes(500000, 2));
  int calls = 0;
  TPackageDecoder decoder([&](const char*, std::size_t) {
    if (++calls == 3) throw EInOutError(L"disk full");
  });
  EXPECT_THROW(decoder.Write(payload.data(), payload.size()), EInOutError);
  EXPECT_EQ(calls, 3);
  EXPECT_THROW(decoder.Write(payload.data(), 10), EZlibError);
  EXPECT_THROW(decoder.Finish(), EZlibError);
}

// ---- damaged input ------------------------------------------------------------------

TEST(PackageCodec, EveryCutPayloadRaises) {
  std::string payload = EncodePackagePayload(MixedBytes(6000, 21));
  ASSERT_GT(payload.size(), 300u);
  for (std::size_t n = 1; n < payload.size(); ++n) {
    std::string message = DecodeError(payload.substr(0, n));
    ASSERT_FALSE(message.empty()) << "cut at " << n;
    ASSERT_EQ(message.rfind("Decompression error: ", 0), 0u) << message;
  }
  EXPECT_EQ(DecodeError(payload.substr(0, payload.size() - 2)),
            "Decompression error: the compressed data ends before the end of its stream");
}

TEST(PackageCodec, EveryFlippedByteRaises) {
  std::string payload = EncodePackagePayload(MixedBytes(6000, 22));
  for (std::size_t i = 0; i < payload.size(); ++i) {
    for (unsigned char flip : {0x01, 0xFF}) {
      std::string bad = payload;
      bad[i] = static_cast<char>(bad[i] ^ flip);
      std::string message = DecodeError(bad);
      ASSERT_FALSE(message.empty()) << "byte " << i << " ^ " << int(flip);
      ASSERT_GT(message.size(), std::string("Decompression error: ").size()) << message;
    }
  }
}

TEST(PackageCodec, NonPayloadsRaise) {
  std::string plain = MixedBytes(20000, 1);
  // Plain, unmasked zlib data is not a payload.
  EXPECT_NE(DecodeError(ZlibCompress(plain.data(), plain.size())), "");
  EXPECT_NE(DecodeError("hello world"), "");
  EXPECT_NE(DecodeError(std::string(5000, '\x55')), "");
  EXPECT_NE(DecodeError(RandomBytes(100000, 77)), "");
  // A stream that asks for a preset dictionary.
  std::string dict = ReferenceMask(std::string("\x78\xBB\x00\x00\x00\x01", 6), 0);
  EXPECT_EQ(DecodeError(dict), "Decompression error: the data needs a preset dictionary");
}

TEST(PackageCodec, DecoderStaysFailedAfterAnError) {
  std::string payload = EncodePackagePayload(MixedBytes(20000, 2));
  std::string bad = payload;
  for (std::size_t i = 40; i < 80; ++i) bad[i] = static_cast<char>(~bad[i]);
  TPackageDecoder decoder([](const char*, std::size_t) {});
  EXPECT_THROW(decoder.Write(bad.data(), bad.size()), EZlibError);
  // The rest of a good payload does not revive it.
  EXPECT_THROW(decoder.Write(payload.data() + 100, payload.size() - 100), EZlibError);
  EXPECT_THROW(decoder.Finish(), EZlibError);
}

// ---- the zlib unit ------------------------------------------------------------------

TEST(ZlibStream, ChunkedCompressionEqualsOneCall) {
  std::string plain = MixedBytes(1u << 20, 30);
  std::string whole = ZlibCompress(plain.data(), plain.size());
  EXPECT_EQ(whole, Compress2(plain));
  for (std::size_t chunk : {std::size_t{1}, std::size_t{100}, std::size_t{1} << 20}) {
    std::string pieces;
    TZlibDeflater deflater(StringSink(pieces), 9, chunk);
    std::size_t at = 0;
    for (std::size_t n : RandomPieces(plain.size(), 9000, static_cast<unsigned>(chunk))) {
      deflater.Write(plain.data() + at, n);
      at += n;
    }
    deflater.Finish();
    EXPECT_EQ(deflater.BytesIn(), plain.size());
    EXPECT_EQ(pieces, whole) << chunk;
  }
  EXPECT_EQ(ZlibDecompress(whole.data(), whole.size()), plain);
  EXPECT_EQ(ZlibCompress("", 0), "");
  EXPECT_EQ(ZlibDecompress("", 0), "");
}

TEST(ZlibStream, InflaterCountsAndStopsAtTheStreamEnd) {
  std::string plain = MixedBytes(200000, 31);
  std::string packed = ZlibCompress(plain.data(), plain.size()) + "tail";
  std::string out;
  TZlibInflater inflater(StringSink(out), 1000);
  inflater.Write(packed.data(), packed.size() - 10);
  EXPECT_FALSE(inflater.StreamEnded());
  inflater.Write(packed.data() + packed.size() - 10, 10);
  EXPECT_TRUE(inflater.StreamEnded());
  inflater.Finish();
  EXPECT_EQ(out, plain);
  EXPECT_EQ(inflater.BytesIn(), packed.size());
  EXPECT_EQ(inflater.BytesOut(), plain.size());
}

// ---- the independent encoder --------------------------------------------------------

// Payloads written by Python's zlib decode to their content, and this
// encoder's payload is left for Python to decode.
TEST(PackageCodec, IndependentEncoderAgrees) {
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
    EXPECT_EQ(DecodePackagePayload(payload), plain);
    EXPECT_EQ(StreamDecode(payload, 997, 5).Plain, plain);
    TMemoryStream stream(payload);
    TSetupfn::DecodeStream(stream);
    EXPECT_EQ(stream.Bytes(), plain);
    EXPECT_EQ(DecodePackagePayload(EncodePackagePayload(plain)), plain);
    ++count;
  }
  EXPECT_GE(count, 5);

  std::string mine = RandomBytes(4000, 11) + std::string(70000, 'z') + "终";
  WriteFileBytes(DataPath(dir + "/cpp_written.plain"), mine);
  WriteFileBytes(DataPath(dir + "/cpp_written.payload"), StreamEncode(mine, 3000, 8, 1000));
#endif
}
