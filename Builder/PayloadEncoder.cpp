#include "PayloadEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "NvExceptions.h"
#include "PackageCodec.h"

#ifdef NV_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace nvbuilder {

namespace {

// Bytes of each region compressed to class it, from the region's middle.
constexpr std::size_t kSampleBytes = 64 * 1024;
// Content this small is coded thoroughly without a look first.
constexpr std::size_t kNoLookBytes = 1024;
// A sample that the fast look leaves at this fraction or more is stored; one
// it shrinks below kFastBelow is redundant enough for the fast level.
constexpr double kStoreFrom = 0.97;
constexpr double kFastBelow = 0.125;

// zlib levels (the coder without libdeflate, and large content): its best
// level costs little more than a fast one on redundant data.
constexpr int kZlibLook = 1, kZlibFast = 9, kZlibLazy = 9, kZlibThorough = 9;
// zlib counts in 32-bit units: larger inputs are handed over in pieces.
constexpr std::size_t kMaxFeed = UINT_MAX / 2;

[[noreturn]] void Fail(const char* what) {
  std::string text = std::string("Compression error: ") + what;
  throw EZlibError(std::wstring(text.begin(), text.end()));
}

#ifdef NV_HAVE_LIBDEFLATE
constexpr int kLook = 1, kFast = 6, kLazy = 7, kThorough = 10;

// One compressor per level and thread, made on first use.
class TCompressors {
public:
  ~TCompressors() {
    for (auto* c : FByLevel)
      if (c) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* Get(int level) {
    auto*& c = FByLevel[static_cast<std::size_t>(level)];
    if (!c) c = libdeflate_alloc_compressor(level);
    if (!c) Fail("insufficient memory");
    return c;
  }

private:
  libdeflate_compressor* FByLevel[13] = {};
};

TCompressors& Compressors() {
  thread_local TCompressors compressors;
  return compressors;
}

// Raw deflate of `size` bytes at `level`; the last block is final.
std::string RawDeflate(const char* data, std::size_t size, int level) {
  libdeflate_compressor* c = Compressors().Get(level);
  std::string out(libdeflate_deflate_compress_bound(c, size), '\0');
  std::size_t n = libdeflate_deflate_compress(c, data, size, out.data(), out.size());
  if (n == 0) Fail("the output did not fit its bound");
  out.resize(n);
  return out;
}

std::size_t LookedSize(const char* data, std::size_t size) {
  libdeflate_compressor* c = Compressors().Get(kLook);
  thread_local std::string buffer;
  buffer.resize(libdeflate_deflate_compress_bound(c, kSampleBytes));
  std::size_t n = libdeflate_deflate_compress(c, data, size, buffer.data(), buffer.size());
  return n ? n : size;
}
#else
std::size_t LookedSize(const char* data, std::size_t size) {
  thread_local std::string buffer;
  buffer.resize(compressBound(static_cast<uLong>(kSampleBytes)));
  uLongf n = static_cast<uLongf>(buffer.size());
  if (compress2(reinterpret_cast<Bytef*>(buffer.data()), &n, reinterpret_cast<const Bytef*>(data),
                static_cast<uLong>(size), kZlibLook) != Z_OK)
    return size;
  return n;
}
#endif

TRegionCoding ClassOf(std::string_view region) {
  const std::size_t n = std::min(region.size(), kSampleBytes);
  const char* sample = region.data() + (region.size() - n) / 2;
  const double ratio = static_cast<double>(LookedSize(sample, n)) / static_cast<double>(n);
  if (ratio >= kStoreFrom) return TRegionCoding::Store;
  if (ratio < kFastBelow) return TRegionCoding::Fast;
  return TRegionCoding::Thorough;
}

#ifdef NV_HAVE_LIBDEFLATE
void Put16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void PutAdler(std::string& out, std::string_view plain) {
  const uint32_t adler = libdeflate_adler32(1, plain.data(), plain.size());
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((adler >> shift) & 0xFF);
}

// Stored blocks of at most 65535 bytes, starting on a byte boundary.
void AppendStored(std::string& out, const char* data, std::size_t size, bool final) {
  do {
    const std::size_t n = std::min<std::size_t>(size, 0xFFFF);
    size -= n;
    out += static_cast<char>(final && size == 0 ? 1 : 0);
    Put16(out, static_cast<unsigned>(n));
    Put16(out, static_cast<unsigned>(~n & 0xFFFF));
    out.append(data, n);
    data += n;
  } while (size > 0);
}

// Makes the final block of a raw deflate stream non-final and ends the stream
// with an empty stored block, so that more blocks can follow on a byte
// boundary. The block structure is found by inflating the stream once.
void OpenEnd(std::string& raw) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) Fail("cannot start zlib");
  struct TEnd {
    z_stream& Z;
    ~TEnd() { inflateEnd(&Z); }
  } end{z};
  static thread_local unsigned char scratch[64 * 1024];
  const auto* base = reinterpret_cast<const unsigned char*>(raw.data());
  z.next_in = const_cast<Bytef*>(base);
  z.avail_in = 0;
  std::size_t fed = 0;
  uint64_t finalHeader = 0, endBit = 0;
  bool found = false;
  while (!found) {
    if (z.avail_in == 0 && fed < raw.size()) {
      const std::size_t n = std::min(raw.size() - fed, kMaxFeed);
      z.next_in = const_cast<Bytef*>(base + fed);
      z.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    z.next_out = scratch;
    z.avail_out = sizeof scratch;
    const int rc = inflate(&z, Z_BLOCK);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) Fail("the compressed run does not inflate");
    if (z.data_type & 128) {
      // At a block boundary: the next header starts here.
      const uint64_t at = uint64_t(z.next_in - base) * 8 - uint64_t(z.data_type & 63);
      if (z.data_type & 64) {
        endBit = at;
        found = true;
      } else {
        finalHeader = at;
      }
    } else if (rc == Z_STREAM_END || (rc == Z_BUF_ERROR && z.avail_in == 0 && fed == raw.size())) {
      Fail("the compressed run ends without a final block boundary");
    }
  }
  if ((endBit + 7) / 8 != raw.size()) Fail("the compressed run has bytes after its end");
  raw[finalHeader / 8] = static_cast<char>(raw[finalHeader / 8] & ~(1u << (finalHeader % 8)));
  const unsigned used = endBit % 8;
  if (used != 0) raw.back() = static_cast<char>(raw.back() & ((1u << used) - 1));
  // The empty stored block's three header bits: in the padding of the last
  // byte when they fit, else in a byte of their own.
  if (used == 0 || used > 5) raw += '\0';
  Put16(raw, 0);
  Put16(raw, 0xFFFF);
}
#endif

int ZlibLevel(TRegionCoding coding) {
  switch (coding) {
    case TRegionCoding::Store: return 0;
    case TRegionCoding::Fast: return kZlibFast;
    case TRegionCoding::Lazy: return kZlibLazy;
    default: return kZlibThorough;
  }
}

// The whole stream through zlib's streaming coder, switching levels between
// runs (zlib ends the block at each switch).
std::string ZlibPlanned(std::string_view plain, const std::vector<TRegion>& plan) {
  z_stream z{};
  if (deflateInit2(&z, ZlibLevel(plan.front().Coding), Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    Fail("cannot start zlib");
  struct TEnd {
    z_stream& Z;
    ~TEnd() { deflateEnd(&Z); }
  } end{z};
  std::string out;
  std::string chunk(256 * 1024, '\0');
  auto drain = [&]() {
    out.append(chunk.data(), chunk.size() - z.avail_out);
    z.next_out = reinterpret_cast<Bytef*>(chunk.data());
    z.avail_out = static_cast<uInt>(chunk.size());
  };
  z.next_out = reinterpret_cast<Bytef*>(chunk.data());
  z.avail_out = static_cast<uInt>(chunk.size());
  for (std::size_t r = 0; r < plan.size(); ++r) {
    if (r > 0) {
      for (;;) {
        const int rc = deflateParams(&z, ZlibLevel(plan[r].Coding), Z_DEFAULT_STRATEGY);
        const bool full = z.avail_out == 0;
        drain();
        if (rc == Z_OK && !full) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) Fail("cannot change the level");
      }
    }
    const char* p = plain.data() + plan[r].Offset;
    std::size_t left = plan[r].Size;
    while (left > 0) {
      const std::size_t n = std::min(left, kMaxFeed);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
      z.avail_in = static_cast<uInt>(n);
      while (z.avail_in > 0) {
        if (deflate(&z, Z_NO_FLUSH) != Z_OK) Fail("deflate failed");
        if (z.avail_out == 0) drain();
      }
      p += n;
      left -= n;
    }
  }
  for (;;) {
    const int rc = deflate(&z, Z_FINISH);
    drain();
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) Fail("deflate failed");
  }
  return out;
}

}  // namespace

std::vector<TRegion> PlanRegions(std::string_view plain) {
  std::vector<TRegion> plan;
  if (plain.empty()) return plan;
  if (plain.size() <= kNoLookBytes) return {{0, plain.size(), TRegionCoding::Thorough}};
  // Whole regions; the last one takes the rest (up to twice the unit).
  const std::size_t count = std::max<std::size_t>(1, plain.size() / kRegionBytes);
  std::size_t thorough = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t offset = i * kRegionBytes;
    const std::size_t size = i + 1 < count ? kRegionBytes : plain.size() - offset;
    TRegionCoding coding = ClassOf(plain.substr(offset, size));
    if (coding == TRegionCoding::Thorough) {
      if (thorough >= kThoroughBytes) coding = TRegionCoding::Lazy;
      else thorough += size;
    }
    if (!plan.empty() && plan.back().Coding == coding)
      plan.back().Size += size;
    else
      plan.push_back({offset, size, coding});
  }
  return plan;
}

std::string DeflatePlanned(std::string_view plain, const std::vector<TRegion>& plan, std::size_t wholeBufferLimit) {
  std::size_t covered = 0;
  for (const TRegion& r : plan) {
    if (r.Offset != covered || r.Size == 0 || r.Size > plain.size() - covered) Fail("the plan does not cover the content");
    covered += r.Size;
  }
  if (covered != plain.size()) Fail("the plan does not cover the content");
  if (plan.empty()) return {};
#ifdef NV_HAVE_LIBDEFLATE
  if (plain.size() > wholeBufferLimit) return ZlibPlanned(plain, plan);
  std::string out("\x78\xDA", 2);
  for (std::size_t r = 0; r < plan.size(); ++r) {
    const bool final = r + 1 == plan.size();
    const char* data = plain.data() + plan[r].Offset;
    if (plan[r].Coding == TRegionCoding::Store) {
      AppendStored(out, data, plan[r].Size, final);
      continue;
    }
    const TRegionCoding coding = plan[r].Coding;
    std::string raw = RawDeflate(data, plan[r].Size,
                                 coding == TRegionCoding::Fast   ? kFast
                                 : coding == TRegionCoding::Lazy ? kLazy
                                                                 : kThorough);
    if (!final) OpenEnd(raw);
    out += raw;
  }
  PutAdler(out, plain);
  return out;
#else
  (void)wholeBufferLimit;
  return ZlibPlanned(plain, plan);
#endif
}

std::string PackPayload(std::string_view plain) {
  std::string payload = DeflatePlanned(plain, PlanRegions(plain));
  MaskPayloadBytes(payload.data(), payload.size(), 0);
  return payload;
}

}  // namespace nvbuilder
