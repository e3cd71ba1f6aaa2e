// The package container: the position mask and the decoding side (encoding
// is in PackageEncoder.cpp, so that programs which only read carry no
// compressor).
#include "PackageCodec.h"

#include <cstring>

namespace {

constexpr std::size_t kMaskPeriod = 255;
// Bytes masked per step: a whole number of periods, so the offset into the
// pattern is the same at the start of every step.
constexpr std::size_t kMaskStep = kMaskPeriod * 64;

// The mask sequence 0, 1, ..., 254, 0, 1, ... long enough to serve a step
// from any starting offset. Filled on first use instead of stored: 16 KB less
// in every program that carries the codec.
const unsigned char* MaskPattern() {
  static unsigned char bytes[kMaskStep + kMaskPeriod];
  static const bool filled = [] {
    for (std::size_t i = 0; i < sizeof bytes;)
      for (std::size_t v = 0; v < kMaskPeriod && i < sizeof bytes; ++v) bytes[i++] = static_cast<unsigned char>(v);
    return true;
  }();
  (void)filled;
  return bytes;
}

// dest[i] = source[i] ^ mask[i], eight bytes at a time.
inline void XorWords(unsigned char* dest, const unsigned char* source, const unsigned char* mask, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t a, m;
    std::memcpy(&a, source + i, 8);
    std::memcpy(&m, mask + i, 8);
    a ^= m;
    std::memcpy(dest + i, &a, 8);
  }
  for (; i < n; ++i) dest[i] = static_cast<unsigned char>(source[i] ^ mask[i]);
}

}  // namespace

void MaskPayloadCopy(void* dest, const void* source, std::size_t size, uint64_t position) {
  auto* d = static_cast<unsigned char*>(dest);
  const auto* s = static_cast<const unsigned char*>(source);
  const unsigned char* mask = MaskPattern() + position % kMaskPeriod;
  while (size > 0) {
    std::size_t n = size < kMaskStep ? size : kMaskStep;
    XorWords(d, s, mask, n);
    d += n;
    s += n;
    size -= n;
  }
}

void MaskPayloadBytes(void* data, std::size_t size, uint64_t position) { MaskPayloadCopy(data, data, size, position); }

// ---- decoding ---------------------------------------------------------------------

TPackageDecoder::TPackageDecoder(TByteSink sink, std::size_t chunkSize)
    : FInflater(std::move(sink), chunkSize), FScratch(chunkSize ? chunkSize : 1, '\0') {}

void TPackageDecoder::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (FInflater.StreamEnded()) {
      // Bytes after the stream are ignored: no need to unmask them.
      FInflater.Write(p, size);
      FPosition += size;
      return;
    }
    std::size_t n = size < FScratch.size() ? size : FScratch.size();
    MaskPayloadCopy(FScratch.data(), p, n, FPosition);
    FPosition += n;
    FInflater.Write(FScratch.data(), n);
    p += n;
    size -= n;
  }
}

void TPackageDecoder::Finish() { FInflater.Finish(); }

// ---- whole buffers ----------------------------------------------------------------

std::string DecodePackagePayload(std::string_view payload) {
  std::string plain;
  if (payload.empty()) return plain;
  // A first guess of four times the payload, at most 64 MiB; grown as needed.
  plain.reserve(payload.size() < (std::size_t{16} << 20) ? payload.size() * 4 : std::size_t{64} << 20);
  DecodePackagePayload(payload.data(), payload.size(), StringSink(plain));
  return plain;
}

void DecodePackagePayload(const void* payload, std::size_t size, const TByteSink& sink, std::size_t chunkSize) {
  TPackageDecoder decoder(sink, chunkSize);
  decoder.Write(payload, size);
  decoder.Finish();
}
