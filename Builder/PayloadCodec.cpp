#include "PayloadCodec.h"

#include <zlib.h>

#include "BuilderText.h"

namespace nvbuilder {

void XorMask(std::string& bytes) {
  unsigned char* p = reinterpret_cast<unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  unsigned k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    p[i] ^= static_cast<unsigned char>(k);
    if (++k == 255) k = 0;
  }
}

std::string EncodePayload(std::string_view plain) {
  if (plain.empty()) return {};
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EBuildError("zlib: cannot start the compressor");
  std::string out;
  out.resize(deflateBound(&z, static_cast<uLong>(plain.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  // deflateBound covers the whole input; feed it in chunks that fit uInt.
  std::size_t remaining = plain.size();
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (z.avail_in == 0 && remaining > 0) {
      uInt chunk = remaining > (1u << 30) ? (1u << 30) : static_cast<uInt>(remaining);
      z.avail_in = chunk;
      remaining -= chunk;
    }
    std::size_t used = reinterpret_cast<char*>(z.next_out) - out.data();
    if (used == out.size()) out.resize(out.size() + out.size() / 2 + 64);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    std::size_t room = out.size() - used;
    z.avail_out = room > (1u << 30) ? (1u << 30) : static_cast<uInt>(room);
    rc = deflate(&z, remaining == 0 ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_BUF_ERROR) rc = Z_OK;
  }
  std::size_t used = reinterpret_cast<char*>(z.next_out) - out.data();
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw EBuildError("zlib: compression failed");
  out.resize(used);
  XorMask(out);
  return out;
}

std::string DecodePayload(std::string_view payload) {
  if (payload.empty()) return {};
  std::string compressed(payload);
  XorMask(compressed);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EBuildError("zlib: cannot start the decompressor");
  std::string out;
  out.resize(compressed.size() * 4 + 1024);
  z.next_in = reinterpret_cast<Bytef*>(compressed.data());
  std::size_t inLeft = compressed.size();
  int rc = Z_OK;
  std::size_t used = 0;
  while (rc == Z_OK) {
    if (z.avail_in == 0) {
      if (inLeft == 0) break;
      uInt chunk = inLeft > (1u << 30) ? (1u << 30) : static_cast<uInt>(inLeft);
      z.avail_in = chunk;
      inLeft -= chunk;
    }
    if (used == out.size()) out.resize(out.size() * 2);
    z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    std::size_t room = out.size() - used;
    z.avail_out = room > (1u << 30) ? (1u << 30) : static_cast<uInt>(room);
    rc = inflate(&z, Z_NO_FLUSH);
    used = reinterpret_cast<char*>(z.next_out) - out.data();
    if (rc == Z_BUF_ERROR && z.avail_out > 0 && z.avail_in == 0 && inLeft == 0) break;
    if (rc == Z_BUF_ERROR) rc = Z_OK;
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) {
    if (rc == Z_OK || rc == Z_BUF_ERROR) throw EBuildError("not a payload: the zlib stream is cut short");
    throw EBuildError("not a payload: damaged zlib data");
  }
  out.resize(used);
  return out;
}

}  // namespace nvbuilder
