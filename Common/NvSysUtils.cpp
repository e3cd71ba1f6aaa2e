// GUID text, stream compression, console output and run-time facts.
#include "NvSysUtils.h"

#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "NvExceptions.h"
#include "NvTypInfo.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#else
#include <unistd.h>
#include <fstream>
#endif

// ---- GUID text ------------------------------------------------------------------

std::wstring TNvStrfn::NewGuidString() {
#ifdef _WIN32
  GUID guid{};
  CoCreateGuid(&guid);
  LPOLESTR text = nullptr;
  std::wstring result;
  if (SUCCEEDED(StringFromCLSID(guid, &text)) && text) {
    result = text;
    CoTaskMemFree(text);
  }
  return result;
#else
  // A random (version 4, RFC 4122 variant) GUID in the same registry form.
  static thread_local std::mt19937_64 engine([] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }());
  unsigned char b[16];
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = engine();
    for (int k = 0; k < 8; ++k) b[i + k] = static_cast<unsigned char>(r >> (8 * k));
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  static const wchar_t hex[] = L"0123456789ABCDEF";
  std::wstring s = L"{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += L'-';
    s += hex[b[i] >> 4];
    s += hex[b[i] & 0x0F];
  }
  s += L'}';
  return s;
#endif
}

// ---- zlib ----------------------------------------------------------------------

namespace {

// zlib counts in 32-bit units: whole buffers beyond that size are fed in pieces.
constexpr std::size_t kZlibChunk = UINT_MAX / 2;

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

}  // namespace

void TNvSysfn::CompressStream(TMemoryStream* source, TMemoryStream* dest) {
  NV_ASSERT(source != nullptr, L"Common\\NvSysUtils", 3090);
  NV_ASSERT(dest != nullptr, L"Common\\NvSysUtils", 3091);
  // The source is taken before the destination is emptied, so that one stream
  // may serve as both.
  std::string input = source->Bytes();
  source->SetPosition(source->Size());
  dest->Clear();
  if (input.empty()) return;

  z_stream zs{};
  int rc = deflateInit2(&zs, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) throw EZlibError(L"Compression error: " + ZlibText(rc, zs));
  std::string output;
  try {
    output.resize(deflateBound(&zs, input.size() > ULONG_MAX ? ULONG_MAX : static_cast<uLong>(input.size())));
    std::size_t inPos = 0, outPos = 0;
    do {
      if (outPos == output.size()) output.resize(output.size() + output.size() / 2 + 64);
      std::size_t inLeft = input.size() - inPos;
      std::size_t outLeft = output.size() - outPos;
      zs.next_in = reinterpret_cast<Bytef*>(input.data() + inPos);
      zs.avail_in = static_cast<uInt>(inLeft < kZlibChunk ? inLeft : kZlibChunk);
      zs.next_out = reinterpret_cast<Bytef*>(output.data() + outPos);
      zs.avail_out = static_cast<uInt>(outLeft < kZlibChunk ? outLeft : kZlibChunk);
      uInt inGiven = zs.avail_in, outGiven = zs.avail_out;
      bool last = inLeft <= kZlibChunk;
      rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
      inPos += inGiven - zs.avail_in;
      outPos += outGiven - zs.avail_out;
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
    } while (rc != Z_STREAM_END);
    if (rc != Z_STREAM_END) throw EZlibError(L"Compression error: " + ZlibText(rc, zs));
    output.resize(outPos);
  } catch (...) {
    deflateEnd(&zs);
    throw;
  }
  deflateEnd(&zs);
  dest->Write(output);
}

void TNvSysfn::DecompressStream(TMemoryStream* source, TMemoryStream* dest) {
  NV_ASSERT(source != nullptr, L"Common\\NvSysUtils", 3174);
  NV_ASSERT(dest != nullptr, L"Common\\NvSysUtils", 3175);
  std::string input = source->Bytes();
  source->SetPosition(source->Size());
  dest->Clear();
  if (input.empty()) return;

  z_stream zs{};
  int rc = inflateInit(&zs);
  if (rc != Z_OK) throw EZlibError(L"Decompression error: " + ZlibText(rc, zs));
  std::string output;
  try {
    // A first guess of four times the input (at most 64 MiB); doubled as needed.
    const std::size_t guess = input.size() < (std::size_t{16} << 20) ? input.size() * 4 : std::size_t{64} << 20;
    output.resize(guess < 4096 ? 4096 : guess);
    std::size_t inPos = 0, outPos = 0;
    for (;;) {
      if (outPos == output.size()) output.resize(output.size() * 2);
      std::size_t inLeft = input.size() - inPos;
      std::size_t outLeft = output.size() - outPos;
      zs.next_in = reinterpret_cast<Bytef*>(input.data() + inPos);
      zs.avail_in = static_cast<uInt>(inLeft < kZlibChunk ? inLeft : kZlibChunk);
      zs.next_out = reinterpret_cast<Bytef*>(output.data() + outPos);
      zs.avail_out = static_cast<uInt>(outLeft < kZlibChunk ? outLeft : kZlibChunk);
      uInt inGiven = zs.avail_in, outGiven = zs.avail_out;
      rc = inflate(&zs, Z_NO_FLUSH);
      inPos += inGiven - zs.avail_in;
      outPos += outGiven - zs.avail_out;
      if (rc == Z_STREAM_END) break;  // bytes after the stream's end are ignored
      if (rc == Z_NEED_DICT) {
        throw EZlibError(L"Decompression error: the data needs a preset dictionary");
      }
      if (rc != Z_OK && rc != Z_BUF_ERROR) throw EZlibError(L"Decompression error: " + ZlibText(rc, zs));
      // No progress with room left for output: the input ended inside the stream.
      if (inPos == input.size() && outPos < output.size())
        throw EZlibError(L"Decompression error: the compressed data ends before the end of its stream");
    }
    output.resize(outPos);
  } catch (...) {
    inflateEnd(&zs);
    dest->Clear();
    throw;
  }
  inflateEnd(&zs);
  dest->Write(output);
}

// ---- console and run-time facts ---------------------------------------------

void TNvSysfn::WriteStdOut(const std::wstring& text) {
#ifdef _WIN32
  std::string bytes;
  if (!text.empty()) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      bytes.resize(n);
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    }
  }
  bytes += "\r\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
#else
  std::string bytes = Utf8Encode(text) + "\r\n";
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
#endif
}

bool TNvSysfn::IsDebugging() {
#ifdef _WIN32
  return IsDebuggerPresent() != FALSE;
#else
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
  }
  return false;
#endif
}

std::wstring TNvSysfn::EnumName(const TEnumInfo& info, int ordinal) {
  if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= info.Names.size()) return {};
  return AsciiToWide(info.Names[static_cast<std::size_t>(ordinal)]);
}
