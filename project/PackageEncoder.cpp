// The package container: the encoding side, with TSetupfn's call for it.
#include "PackageCodec.h"
#include "Setupfn.h"

// ---- encoding ---------------------------------------------------------------------

TPackageEncoder::TPackageEncoder(TByteSink sink, int level, std::size_t chunkSize)
    : FSink(std::move(sink)),
      FDeflater([this](const char* data, std::size_t size) { Emit(data, size); }, level, chunkSize),
      FScratch(chunkSize ? chunkSize : 1, '\0') {}

void TPackageEncoder::Emit(const char* data, std::size_t size) {
  while (size > 0) {
    std::size_t n = size < FScratch.size() ? size : FScratch.size();
    MaskPayloadCopy(FScratch.data(), data, n, FPosition);
    FPosition += n;
    FSink(FScratch.data(), n);
    data += n;
    size -= n;
  }
}

void TPackageEncoder::Write(const void* data, std::size_t size) {
  if (size == 0) return;
  FAnyInput = true;
  FDeflater.Write(data, size);
}

void TPackageEncoder::Finish() {
  if (FAnyInput) FDeflater.Finish();
}

// ---- whole buffers ----------------------------------------------------------------

std::string EncodePackagePayload(std::string_view plain, int level) {
  std::string payload = ZlibCompress(plain.data(), plain.size(), level);
  MaskPayloadBytes(payload.data(), payload.size(), 0);
  return payload;
}

void TSetupfn::EncodeStream(TMemoryStream* stream) { stream->Assign(EncodePackagePayload(stream->Bytes())); }
