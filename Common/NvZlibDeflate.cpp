// zlib streams: the compressing side.
#include <zlib.h>

#include "NvExceptions.h"
#include "NvSysUtils.h"
#include "NvZlibInternal.h"
#include "NvZlibStream.h"

using namespace nvzlib;

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

std::string ZlibCompress(const void* data, std::size_t size, int level) {
  std::string out;
  if (size == 0) return out;
  out.reserve(size / 2 + 64);
  TZlibDeflater deflater(StringSink(out), level);
  deflater.Write(data, size);
  deflater.Finish();
  return out;
}

void TNvSysfn::CompressStream(TMemoryStream* source, TMemoryStream* dest) {
  NV_ASSERT(source != nullptr, L"Common\\NvSysUtils", 3090);
  NV_ASSERT(dest != nullptr, L"Common\\NvSysUtils", 3091);
  ConvertStream(source, dest, [](const char* data, std::size_t size) { return ZlibCompress(data, size, 9); });
}
