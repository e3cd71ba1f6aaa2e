// zlib streams: the decompressing side and the sinks (compression is in
// NvZlibDeflate.cpp, so that programs which only read carry no compressor).
#include "NvZlibStream.h"

#include <zlib.h>

#include <climits>

#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "NvZlibInternal.h"

namespace nvzlib {

std::wstring ZlibText(int code, const z_stream& zs) {
  std::string detail = zs.msg ? zs.msg : "";
  if (detail.empty()) {
    switch (code) {
      case Z_MEM_ERROR: detail = "insufficient memory"; break;
      case Z_DATA_ERROR: detail = "invalid or incomplete deflate data"; break;
      case Z_BUF_ERROR: detail = "unexpected end of data"; break;
      case Z_STREAM_ERROR: detail = "invalid stream state"; break;
      default: detail = "error " + std::to_string(code); break;
    }
  }
  return AsciiToWide(detail);
}

}  // namespace nvzlib

using namespace nvzlib;

TByteSink StringSink(std::string& out) {
  return [&out](const char* data, std::size_t size) { out.append(data, size); };
}

TByteSink MemoryStreamSink(TMemoryStream& out) {
  return [&out](const char* data, std::size_t size) { out.Write(data, size); };
}

// ---- decompression ----------------------------------------------------------------

struct TZlibInflater::TState {
  z_stream Z{};
};

TZlibInflater::TZlibInflater(TByteSink sink, std::size_t chunkSize)
    : FState(std::make_unique<TState>()), FSink(std::move(sink)), FBuffer(AtLeastOne(chunkSize), '\0') {
  int rc = inflateInit(&FState->Z);
  if (rc != Z_OK) {
    std::wstring text = ZlibText(rc, FState->Z);
    FState.reset();
    throw EZlibError(L"Decompression error: " + text);
  }
}

TZlibInflater::~TZlibInflater() {
  if (FState) inflateEnd(&FState->Z);
}

void TZlibInflater::Fail(const std::wstring& message) {
  FFailed = true;
  throw EZlibError(message);
}

void TZlibInflater::Write(const void* data, std::size_t size) {
  if (FFailed) throw EZlibError(L"Decompression error: the stream stopped at an earlier error");
  FBytesIn += size;
  if (FEnded) return;  // bytes after the stream's end are ignored
  z_stream& z = FState->Z;
  const char* p = static_cast<const char*>(data);
  while (size > 0 && !FEnded) {
    std::size_t piece = size < kMaxFeed ? size : kMaxFeed;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
    z.avail_in = static_cast<uInt>(piece);
    for (;;) {
      z.next_out = reinterpret_cast<Bytef*>(FBuffer.data());
      z.avail_out = static_cast<uInt>(FBuffer.size());
      int rc = inflate(&z, Z_NO_FLUSH);
      std::size_t produced = FBuffer.size() - z.avail_out;
      if (rc == Z_NEED_DICT) Fail(L"Decompression error: the data needs a preset dictionary");
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
        Fail(L"Decompression error: " + ZlibText(rc, z));
      if (produced) {
        FBytesOut += produced;
        try {
          FSink(FBuffer.data(), produced);
        } catch (...) {
          FFailed = true;
          throw;
        }
      }
      if (rc == Z_STREAM_END) {
        FEnded = true;
        FAdler = static_cast<uint32_t>(z.adler);
        break;
      }
      // Output room left over: every input byte of this piece is consumed.
      if (z.avail_out != 0) break;
    }
    p += piece;
    size -= piece;
  }
}

void TZlibInflater::Finish() {
  if (FFailed) throw EZlibError(L"Decompression error: the stream stopped at an earlier error");
  if (FEnded || FBytesIn == 0) return;
  FFailed = true;
  throw EZlibError(L"Decompression error: the compressed data ends before the end of its stream");
}

// ---- whole buffers ----------------------------------------------------------------

std::string ZlibDecompress(const void* data, std::size_t size) {
  std::string out;
  if (size == 0) return out;
  // A first guess of four times the input, at most 64 MiB; grown as needed.
  out.reserve(size < (std::size_t{16} << 20) ? size * 4 : std::size_t{64} << 20);
  TZlibInflater inflater(StringSink(out));
  inflater.Write(data, size);
  inflater.Finish();
  return out;
}

void TNvSysfn::DecompressStream(TMemoryStream* source, TMemoryStream* dest) {
  NV_ASSERT(source != nullptr, L"Common\\NvSysUtils", 3174);
  NV_ASSERT(dest != nullptr, L"Common\\NvSysUtils", 3175);
  ConvertStream(source, dest, [](const char* data, std::size_t size) { return ZlibDecompress(data, size); });
}
