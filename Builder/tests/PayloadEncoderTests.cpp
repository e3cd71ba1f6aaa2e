// The packer's encoder: content classed region by region, runs of different
// codings joined into one zlib stream that the unchanged package decoder and
// zlib itself read back exactly.
#include <gtest/gtest.h>

#include <random>

#include "NvExceptions.h"
#include "NvZlibStream.h"
#include "PayloadCodec.h"
#include "PayloadEncoder.h"
#include "TestSupport.h"

using namespace nvbuilder;

namespace {

// A 4 KB random block over and over: redundant, but not in short runs.
std::string RepeatedBlock(std::size_t n, uint32_t seed) {
  std::string block = test::RandomBytes(4096, seed), s;
  while (s.size() < n) s += block;
  s.resize(n);
  return s;
}

std::string Codings(const std::vector<TRegion>& plan) {
  std::string s;
  for (const TRegion& r : plan) s += "SFLT"[static_cast<int>(r.Coding)];
  return s;
}

}  // namespace

TEST(PayloadEncoder, RegionsAreClassedByTheirContent) {
  const std::size_t unit = kRegionBytes;
  std::string plain = test::TextBytes(2 * unit, 1) + test::RandomBytes(3 * unit, 2) + RepeatedBlock(2 * unit, 3) +
                      std::string(unit, '\0') + test::TextBytes(unit + 1000, 4);
  auto plan = PlanRegions(plain);
  EXPECT_EQ(Codings(plan), "TSFT");
  ASSERT_EQ(plan.size(), 4u);
  EXPECT_EQ(plan[1].Offset, 2 * unit);
  EXPECT_EQ(plan[1].Size, 3 * unit);
  EXPECT_EQ(plan[2].Size, 3 * unit);
  EXPECT_EQ(plan[3].Offset + plan[3].Size, plain.size());

  std::string payload = PackPayload(plain);
  EXPECT_EQ(DecodePayload(payload), plain);
  // About zlib's best level on the whole or smaller: the stored part costs
  // five bytes a block, and switching codings only a few bytes a run.
  EXPECT_LE(payload.size(), EncodePayload(plain).size() + plain.size() / 1000);
}

TEST(PayloadEncoder, ThoroughCodingIsBoundedPerPayload) {
  std::string plain = test::TextBytes(kThoroughBytes + 2 * kRegionBytes + 5, 9);
  auto plan = PlanRegions(plain);
  EXPECT_EQ(Codings(plan), "TL");
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0].Size, kThoroughBytes);
  EXPECT_EQ(DecodePayload(PackPayload(plain)), plain);
}

TEST(PayloadEncoder, SmallAndEmptyContent) {
  EXPECT_TRUE(PlanRegions("").empty());
  EXPECT_EQ(PackPayload(""), "");
  for (std::size_t n : {1u, 100u, 1024u, 1025u, 70000u}) {
    for (const std::string& plain : {test::RandomBytes(n, 5), test::TextBytes(n, 6)}) {
      auto plan = PlanRegions(plain);
      ASSERT_EQ(plan.size(), 1u) << n;
      EXPECT_EQ(DecodePayload(PackPayload(plain)), plain) << n;
    }
  }
}

TEST(PayloadEncoder, IncompressibleContentIsStoredAndStillOneZlibStream) {
  std::string plain = test::RandomBytes(3 * kRegionBytes / 2, 8);
  auto plan = PlanRegions(plain);
  EXPECT_EQ(Codings(plan), "S");
  std::string stream = DeflatePlanned(plain, plan);
  // Header, stored blocks of 65535 bytes with 5 bytes each, checksum.
  EXPECT_EQ(stream.size(), 2 + plain.size() + 5 * ((plain.size() + 0xFFFE) / 0xFFFF) + 4);
  EXPECT_EQ(ZlibDecompress(stream.data(), stream.size()), plain);
}

TEST(PayloadEncoder, AnyPlanGivesTheContentBack) {
  // Runs of every coding after every other, of lengths that end compressed
  // runs at every bit position, through both coders.
  std::mt19937 rng(11);
  std::string source = test::TextBytes(200000, 12) + test::RandomBytes(100000, 13) + RepeatedBlock(100000, 14);
  for (int round = 0; round < 120; ++round) {
    std::vector<TRegion> plan;
    std::size_t at = rng() % 50000, total = 0;
    const int runs = 1 + static_cast<int>(rng() % 6);
    for (int r = 0; r < runs; ++r) {
      const std::size_t size = 1 + rng() % (r % 2 ? 40000 : 3000);
      plan.push_back({total, size, static_cast<TRegionCoding>(rng() % 4)});
      total += size;
    }
    const std::string plain = source.substr(at, total);
    for (std::size_t limit : {kWholeBufferLimit, std::size_t{0}}) {
      std::string stream = DeflatePlanned(plain, plan, limit);
      ASSERT_EQ(ZlibDecompress(stream.data(), stream.size()), plain) << "round " << round << ", plan " << Codings(plan);
    }
  }
}

TEST(PayloadEncoder, ThoroughCodingIsNoLargerThanZlibsBest) {
  std::string plain = test::TextBytes(600000, 15);
  std::string payload = PackPayload(plain);
  EXPECT_LE(payload.size(), EncodePayload(plain).size());
  EXPECT_EQ(DecodePayload(payload), plain);
}

TEST(PayloadEncoder, APlanThatDoesNotCoverTheContentIsRefused) {
  std::string plain = test::TextBytes(5000, 16);
  for (const std::vector<TRegion>& plan :
       {std::vector<TRegion>{{0, 4000, TRegionCoding::Fast}}, std::vector<TRegion>{{0, 6000, TRegionCoding::Fast}},
        std::vector<TRegion>{{0, 2000, TRegionCoding::Fast}, {2500, 2500, TRegionCoding::Store}},
        std::vector<TRegion>{}}) {
    EXPECT_THROW(DeflatePlanned(plain, plan), EZlibError) << Codings(plan);
  }
}
