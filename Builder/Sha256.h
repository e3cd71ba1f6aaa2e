// SHA-256 (FIPS 180-4) of bytes in memory, for names and checks derived from
// content.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace nvbuilder {

using TSha256Digest = std::array<uint8_t, 32>;

class TSha256 {
public:
  TSha256();
  void Update(std::string_view bytes);
  // The digest of everything given; the object is spent afterwards.
  TSha256Digest Final();

private:
  void Block(const uint8_t* block);
  std::array<uint32_t, 8> FState;
  uint8_t FBuffer[64];
  std::size_t FBuffered = 0;
  uint64_t FLength = 0;
};

TSha256Digest Sha256(std::string_view bytes);
// Lower-case hexadecimal.
std::string HexText(const TSha256Digest& digest);

}  // namespace nvbuilder
