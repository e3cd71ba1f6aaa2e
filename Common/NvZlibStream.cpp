#include "NvZlibStream.h"

#include <zlib.h>

#include <climits>

#include "NvExceptions.h"
#include "NvSysUtils.h"

namespace {

// zlib counts in 32-bit units: larger inputs are handed over in pieces.
constexpr std::size_t kMaxFeed = UINT_MAX / 2;

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

std::size_t AtLeastOne(std::size_t n) { return n ? n : 1; }

}  // namespace

TByteSink StringSink(std::string& out) {
  return [&out](const char* data, std::size_t size) { out.append(data, size); };
}

TByteSink MemoryStreamSink(TMemoryStream& out) {
  return [&out](const char* data, std::size_t size) { out.Write(data, size); };
}

// ---- compression ------------------------------------------------------------------

struct TZlibDeflater::TState {
  z_stream Z{};
};

TZlibDeflater::TZlibDeflater(TByteSink sink, int level, std::size_t chunkSize)
    : FState(std::make_unique<TState>()), FSink(std::move(sink)), FBuffer(AtLeastOne(chunkSize), '\0') {
  int rc = deflateInit2(&FState->Z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) {
    std::wstring text = ZlibText(rc, FState->Z);
    FState.reset();
    throw EZlibError(L"Compression error: " + text);
  }
}

TZlibDeflater::~TZlibDeflater() {
  if (FState) deflateEnd(&FState->Z);
}

void TZlibDeflater::Run(int flush) {
  z_stream& z = FState->Z;
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(FBuffer.data());
    z.avail_out = static_cast<uInt>(FBuffer.size());
    int rc = deflate(&z, flush);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw EZlibError(L"Compression error: " + ZlibText(rc, z));
    std::size_t produced = FBuffer.size() - z.avail_out;
    if (produced) FSink(FBuffer.data(), produced);
    if (rc == Z_STREAM_END) return;
    if (z.avail_out != 0) {
      // Room left over: all input taken. While finishing, no output at all
      // means zlib cannot go on.
      if (flush == Z_NO_FLUSH) return;
      if (produced == 0) throw EZlibError(L"Compression error: " + ZlibText(rc, z));
    }
  }
}

void TZlibDeflater::Write(const void* data, std::size_t size) {
  if (FFinished) throw EZlibError(L"Compression error: the stream is already finished");
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    std::size_t piece = size < kMaxFeed ? size : kMaxFeed;
    FState->Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
    FState->Z.avail_in = static_cast<uInt>(piece);
    Run(Z_NO_FLUSH);
    p += piece;
    size -= piece;
    FBytesIn += piece;
  }
}

void TZlibDeflater::Finish() {
  if (FFinished) return;
  FFinished = true;
  FState->Z.next_in = nullptr;
  FState->Z.avail_in = 0;
  Run(Z_FINISH);
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

std::string ZlibCompress(const void* data, std::size_t size, int level) {
  std::string out;
  if (size == 0) return out;
  out.reserve(size / 2 + 64);
  TZlibDeflater deflater(StringSink(out), level);
  deflater.Write(data, size);
  deflater.Finish();
  return out;
}

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
