// The resource editor on real executables built with mingw-w64 (fixture64:
// PE32+ with symbols and debug sections; fixture32: PE32, stripped).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "PeResources.h"
#include "PeTestSupport.h"

using namespace pe_test;

namespace {

const char* const kGuidA = "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}";
const wchar_t* const kGuidAW = L"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}";
const wchar_t* const kGuidBW = L"{F907FF9D-0131-45D9-9469-A2CD78FB4793}";

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::mt19937 gen(seed);
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

using Key = std::tuple<std::wstring, std::wstring, uint16_t>;
std::map<Key, std::string> Model(const TPeImage& image) {
  std::map<Key, std::string> m;
  for (const auto& e : image.Resources()) m[{e.Type.ToString(), e.Name.ToString(), e.Language}] = e.Data;
  return m;
}

// Layout rules a loader and a signing tool rely on. The resources are the
// last section, or followed only by the base relocations.
void ExpectSoundLayout(const std::string& out) {
  Headers h(out);
  ASSERT_FALSE(h.Sections.empty());
  const Section& last = h.Sections.back();
  const bool relocLast = last.Name == ".reloc" && h.Sections.size() >= 2;
  const Section& rsrc = relocLast ? h.Sections[h.Sections.size() - 2] : last;
  EXPECT_EQ(rsrc.Name, ".rsrc");
  EXPECT_EQ(h.DirRva(2, out), rsrc.VirtualAddress);
  EXPECT_EQ(h.DirSize(2, out), rsrc.VirtualSize);
  if (relocLast) {
    EXPECT_EQ(h.DirRva(5, out), last.VirtualAddress);
  }
  EXPECT_EQ(h.SizeOfImage, (last.VirtualAddress + last.VirtualSize + h.SectionAlignment - 1) / h.SectionAlignment *
                               h.SectionAlignment);
  EXPECT_LE(h.Sections.front().HeaderOffset + 40 * h.Sections.size(), h.SizeOfHeaders);
  EXPECT_EQ(h.SizeOfHeaders % h.FileAlignment, 0u);
  uint64_t prevRawEnd = h.SizeOfHeaders;
  uint32_t prevVirtualEnd = 0;
  for (const auto& s : h.Sections) {
    EXPECT_EQ(s.VirtualAddress % h.SectionAlignment, 0u) << s.Name;
    EXPECT_GE(s.VirtualAddress, prevVirtualEnd) << s.Name;
    prevVirtualEnd = s.VirtualAddress + s.VirtualSize;
    if (s.SizeOfRawData == 0) continue;
    EXPECT_EQ(s.PointerToRawData % h.FileAlignment, 0u) << s.Name;
    EXPECT_EQ(s.SizeOfRawData % h.FileAlignment, 0u) << s.Name;
    EXPECT_GE(s.PointerToRawData, prevRawEnd) << s.Name;
    prevRawEnd = uint64_t(s.PointerToRawData) + s.SizeOfRawData;
  }
  EXPECT_LE(prevRawEnd, out.size());
  EXPECT_EQ(h.CheckSum, ReferenceChecksum(out));
}

std::string Fixture(const char* name) { return ReadAll(FixturePath(name)); }

// The image with its last section renamed, so that the writer does not move
// it (a ".reloc" after the resources would otherwise make room for them).
std::string PinLastSection(std::string b) {
  Headers h(b);
  std::memcpy(b.data() + h.Sections.back().HeaderOffset, ".pinned", 8);
  return b;
}

// File offset of the root resource directory.
size_t ResourceRoot(const std::string& b) {
  Headers h(b);
  return h.Offset(h.DirRva(2, b));
}

}  // namespace

// ---- reading -----------------------------------------------------------------

TEST(PeParse, ReadsBothFormatsAndEveryCompiledResource) {
  for (const char* name : {"fixture64.exe", "fixture32.exe"}) {
    SCOPED_TRACE(name);
    TPeImage image = TPeImage::Parse(Fixture(name));
    bool wide = std::string(name) == "fixture64.exe";
    EXPECT_EQ(image.Is64(), wide);
    EXPECT_EQ(image.Machine(), wide ? 0x8664 : 0x14C);
    auto m = Model(image);
    EXPECT_EQ(m.size(), 8u);
    EXPECT_EQ(m.count({L"#3", L"#1", 1033}), 1u);
    EXPECT_EQ(m.count({L"#14", L"#1", 1033}), 1u);
    EXPECT_EQ(m.count({L"#16", L"#1", 1033}), 1u);
    EXPECT_EQ(m.count({L"#6", L"#1", 1033}), 1u);
    EXPECT_EQ(m[Key(L"#24", L"#1", 1033)], ReadAll(std::string(NV_PE_FIXTURE_SRC) + "/app.manifest"));
    EXPECT_EQ(m[Key(L"#10", L"EXISTINGDATA", 1033)], std::string("existing payload\0\1\2\3", 20));
    EXPECT_EQ(m[Key(L"#10", L"EXISTINGDATA", 2052)], "chinese variant");
    EXPECT_EQ(m[Key(L"#10", L"#7", 1033)], "numbered");
    const TPeResourceEntry* found = image.FindResource(PE_RT_RCDATA, L"existingData", 2052);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Data, "chinese variant");
  }
}

TEST(PeParse, ListsResourcesInTreeOrder) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  std::vector<std::wstring> order;
  for (const auto& e : image.Resources()) order.push_back(e.Type.ToString() + L"/" + e.Name.ToString());
  std::vector<std::wstring> expected = {L"#3/#1", L"#6/#1", L"#10/EXISTINGDATA", L"#10/EXISTINGDATA",
                                        L"#10/#7", L"#14/#1", L"#16/#1", L"#24/#1"};
  EXPECT_EQ(order, expected);
}

// ---- saving ------------------------------------------------------------------

TEST(PeSave, UnchangedSaveKeepsEveryResourceAndAValidLayout) {
  for (const char* name : {"fixture64.exe", "fixture32.exe"}) {
    SCOPED_TRACE(name);
    std::string original = Fixture(name);
    TPeImage image = TPeImage::Parse(original);
    std::string out = image.Save();
    ExpectSoundLayout(out);
    TPeImage again = TPeImage::Parse(out);
    EXPECT_EQ(again.Is64(), image.Is64());
    ASSERT_EQ(again.Resources().size(), image.Resources().size());
    for (size_t i = 0; i < image.Resources().size(); ++i) {
      const auto& a = image.Resources()[i];
      const auto& b = again.Resources()[i];
      EXPECT_TRUE(a.Type == b.Type && a.Name == b.Name) << i;
      EXPECT_EQ(a.Language, b.Language);
      EXPECT_EQ(a.CodePage, b.CodePage);
      EXPECT_EQ(a.Data, b.Data);
    }
    Headers before(original), after(out);
    // Section i has its address and its bytes, where its header says.
    auto expectKept = [&](size_t i) {
      const Section& a = before.Sections[i];
      const Section& b = after.Sections[i];
      EXPECT_EQ(a.VirtualAddress, b.VirtualAddress) << a.Name;
      ASSERT_EQ(a.SizeOfRawData, b.SizeOfRawData) << a.Name;
      EXPECT_EQ(original.compare(a.PointerToRawData, a.SizeOfRawData, out, b.PointerToRawData, b.SizeOfRawData), 0)
          << a.Name;
    };
    if (before.Sections.back().Name == ".reloc") {
      // Only the relocations follow the resources (fixture32): the new
      // resources take the old section's place and the relocations, their
      // bytes unchanged, move behind them; no section is added.
      ASSERT_EQ(after.Sections.size(), before.Sections.size());
      const size_t r = before.Sections.size() - 2;
      EXPECT_EQ(after.Sections[r].Name, ".rsrc");
      EXPECT_EQ(after.Sections[r].VirtualAddress, before.Sections[r].VirtualAddress);
      EXPECT_EQ(after.Sections[r].PointerToRawData % 4096, 0u);
      const Section& s = before.Sections.back();
      const Section& t = after.Sections.back();
      EXPECT_EQ(t.Name, ".reloc");
      EXPECT_GE(t.VirtualAddress, after.Sections[r].VirtualAddress + after.Sections[r].VirtualSize);
      EXPECT_EQ(after.DirSize(5, out), before.DirSize(5, original));
      ASSERT_EQ(s.SizeOfRawData, t.SizeOfRawData);
      EXPECT_EQ(original.compare(s.PointerToRawData, s.SizeOfRawData, out, t.PointerToRawData, t.SizeOfRawData), 0);
      for (size_t i = 0; i < r; ++i) expectKept(i);
      continue;
    }
    // Other sections follow the resources (fixture64's debug sections): the
    // first save appends a section and keeps the old one, renamed.
    EXPECT_EQ(after.Sections.size(), before.Sections.size() + 1);
    EXPECT_EQ(std::count_if(after.Sections.begin(), after.Sections.end(),
                            [](const Section& s) { return s.Name == ".rsrc"; }),
              1);
    // The new resource data starts on a page of the file, so that a loader
    // maps it instead of reading it all in.
    EXPECT_EQ(after.Sections.back().PointerToRawData % 4096, 0u);
    // Every other section's bytes are where its header says.
    for (size_t i = 0; i < before.Sections.size(); ++i) expectKept(i);
  }
}

TEST(PeSave, RelocationsThatCannotMoveStayWhereTheyAre) {
  // A fixup inside the resource section, or another directory pointing into
  // the relocations: the old resources stay as ".rsrcold", the relocations
  // in place, and the new resources go after them.
  const std::string original = Fixture("fixture32.exe");
  const Headers h(original);
  ASSERT_EQ(h.Sections.back().Name, ".reloc");
  const Section& rsrc = h.Sections[h.Sections.size() - 2];
  const Section& reloc = h.Sections.back();
  std::string fixupInResources = original, directoryInRelocations = original;
  SetU32(fixupInResources, reloc.PointerToRawData, rsrc.VirtualAddress);  // the first block's page
  SetU32(directoryInRelocations, h.Dirs + 8 * 13, reloc.VirtualAddress);  // delay-load imports
  SetU32(directoryInRelocations, h.Dirs + 8 * 13 + 4, 8);
  for (const std::string& bytes : {fixupInResources, directoryInRelocations}) {
    TPeImage image = TPeImage::Parse(bytes);
    image.SetRcData(kGuidAW, Pattern(9000, 4));
    const std::string out = image.Save();
    ExpectSoundLayout(out);
    const Headers after(out);
    ASSERT_EQ(after.Sections.size(), h.Sections.size() + 1);
    EXPECT_EQ(after.Sections[h.Sections.size() - 2].Name, ".rsrcold");
    EXPECT_EQ(after.Sections[h.Sections.size() - 1].VirtualAddress, reloc.VirtualAddress);
    EXPECT_EQ(after.DirRva(5, out), reloc.VirtualAddress);
    EXPECT_EQ(TPeImage::Parse(out).FindResource(PE_RT_RCDATA, kGuidAW)->Data, Pattern(9000, 4));
  }
}

TEST(PeSave, SavingAnEditedImageAgainReplacesTheLastResourceSection) {
  TPeImage first = TPeImage::Parse(Fixture("fixture32.exe"));
  first.SetRcData(kGuidAW, Pattern(5000, 1));
  std::string once = first.Save();
  TPeImage second = TPeImage::Parse(once);
  second.SetRcData(kGuidAW, "short");
  std::string twice = second.Save();
  ExpectSoundLayout(twice);
  EXPECT_EQ(Headers(twice).Sections.size(), Headers(once).Sections.size());
  EXPECT_LT(twice.size(), once.size());
  EXPECT_EQ(TPeImage::Parse(twice).FindResource(PE_RT_RCDATA, kGuidAW)->Data, "short");
}

TEST(PeSave, KeepsTheSymbolTableAfterTheSections) {
  std::string original = Fixture("fixture64.exe");
  Headers before(original);
  ASSERT_NE(before.SymbolTable, 0u) << "the fixture should carry a COFF symbol table";
  TPeImage image = TPeImage::Parse(original);
  image.SetRcData(kGuidAW, Pattern(70000, 2));
  std::string out = image.Save();
  Headers after(out);
  size_t tableSize = original.size() - before.SymbolTable;  // symbols, then the string table, to the end
  ASSERT_LE(after.SymbolTable + tableSize, out.size());
  EXPECT_EQ(original.compare(before.SymbolTable, tableSize, out, after.SymbolTable, tableSize), 0);
  EXPECT_EQ(after.SymbolCount, before.SymbolCount);
}

TEST(PeSave, KeepsAnOverlayAtTheEnd) {
  std::string original = Fixture("fixture32.exe");
  std::string overlay = "OVERLAY:" + Pattern(3001, 3);
  TPeImage image = TPeImage::Parse(original + overlay);
  image.SetRcData(kGuidBW, "x");
  std::string out = image.Save();
  ExpectSoundLayout(out);
  ASSERT_GT(out.size(), overlay.size());
  EXPECT_EQ(out.substr(out.size() - overlay.size()), overlay);
}

TEST(PeSave, ImageWithoutResourcesGetsAResourceSection) {
  std::string bytes = Fixture("fixture32.exe");
  Headers h(bytes);
  SetU32(bytes, h.Dirs + 16, 0);
  SetU32(bytes, h.Dirs + 20, 0);
  TPeImage image = TPeImage::Parse(bytes);
  EXPECT_TRUE(image.Resources().empty());
  image.SetRcData(kGuidAW, "payload");
  std::string out = image.Save();
  ExpectSoundLayout(out);
  auto m = Model(TPeImage::Parse(out));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m.begin()->second, "payload");
}

TEST(PeSave, GrowsFullHeadersAndMovesTheSectionData) {
  for (const char* name : {"fixture64.exe", "fixture32.exe"}) {
    SCOPED_TRACE(name);
    std::string crowded = CrowdHeaders(PinLastSection(Fixture(name)));
    Headers before(crowded);
    ASSERT_GT(before.Sections.back().HeaderOffset + 80, before.SizeOfHeaders);
    TPeImage image = TPeImage::Parse(crowded);
    image.SetRcData(kGuidAW, "payload");
    std::string out = image.Save();
    ExpectSoundLayout(out);
    Headers after(out);
    EXPECT_GT(after.SizeOfHeaders, before.SizeOfHeaders);
    ASSERT_EQ(after.Sections.size(), before.Sections.size() + 1);
    for (size_t i = 0; i < before.Sections.size(); ++i) {
      const Section& s = before.Sections[i];
      const Section& t = after.Sections[i];
      EXPECT_EQ(s.VirtualAddress, t.VirtualAddress);
      EXPECT_EQ(crowded.compare(s.PointerToRawData, s.SizeOfRawData, out, t.PointerToRawData, t.SizeOfRawData), 0)
          << s.Name;
    }
    if (before.SymbolTable != 0) {
      size_t tableSize = crowded.size() - before.SymbolTable;
      EXPECT_EQ(crowded.compare(before.SymbolTable, tableSize, out, after.SymbolTable, tableSize), 0);
    }
    auto m = Model(TPeImage::Parse(out));
    EXPECT_EQ(m.size(), 9u);
    EXPECT_EQ(m[Key(L"#10", kGuidAW, 0)], "payload");
  }
}

// ---- editing -------------------------------------------------------------------

TEST(PeEdit, AddsRcDataByNameAndKeepsTheOthers) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  image.SetRcData(kGuidAW, Pattern(100000, 4));
  image.SetRcData(kGuidBW, std::string());
  image.SetRcData(L"{0a1b2c3d-0000-0000-0000-00000000abcd}", "lower case name");
  TPeImage out = TPeImage::Parse(image.Save());
  auto m = Model(out);
  EXPECT_EQ(m.size(), 11u);
  EXPECT_EQ(m[Key(L"#10", kGuidAW, 0)], Pattern(100000, 4));
  EXPECT_EQ(m.count({L"#10", kGuidBW, 0}), 1u);
  EXPECT_EQ(m[Key(L"#10", L"{0A1B2C3D-0000-0000-0000-00000000ABCD}", 0)], "lower case name");
  EXPECT_EQ(m[Key(L"#10", L"EXISTINGDATA", 2052)], "chinese variant");
  EXPECT_EQ(m.count({L"#16", L"#1", 1033}), 1u);
}

TEST(PeEdit, ReplacesANameGivenInAnotherCaseWithoutDuplicating) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  image.SetRcData(kGuidAW, "first");
  std::wstring lower = L"{54682d66-def6-4e5b-8ab5-70ffdf2c0e3a}";
  image.SetRcData(lower, "second");
  image.SetRcData(L"existingdata", "replaces both languages");
  TPeImage out = TPeImage::Parse(image.Save());
  int guidCount = 0, existingCount = 0;
  for (const auto& e : out.Resources()) {
    if (e.Name.SameAs(TPeResId(kGuidAW))) ++guidCount;
    if (e.Name.SameAs(TPeResId(L"EXISTINGDATA"))) ++existingCount;
  }
  EXPECT_EQ(guidCount, 1);
  EXPECT_EQ(existingCount, 1);
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, lower)->Data, "second");
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, lower)->Name.Name(), kGuidAW);  // stored upper-case
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, L"ExistingData")->Data, "replaces both languages");
}

TEST(PeEdit, NamesAreOrderedByTheirUpperCasedUtf16Units) {
  TPeImage image = TPeImage::Parse(Fixture("fixture64.exe"));
  // By UTF-16 units the surrogate pair of U+1D11E (D834 DD1E) comes before
  // U+FF21, though its code point is the larger.
  int n = 0;
  for (const wchar_t* name : {L"b", L"a\U0001D11E", L"a\uFF21", L"ab", L"A\U0001D11E"})
    image.SetRcData(name, std::to_string(++n));
  TPeImage out = TPeImage::Parse(image.Save());
  std::vector<std::wstring> order;
  for (const auto& e : out.Resources())
    if (e.Type.SameAs(TPeResId(PE_RT_RCDATA)) && e.Name.IsName() && e.Name.Name().size() <= 3)
      order.push_back(e.Name.Name());
  EXPECT_EQ(order, (std::vector<std::wstring>{L"AB", L"A\U0001D11E", L"A\uFF21", L"B"}));
  // The name given again in another case replaced the first.
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, L"a\U0001D11E")->Data, "5");
  EXPECT_TRUE(TPeResId(L"x\U0001D11Ey").SameAs(TPeResId(L"X\U0001D11EY")));
  EXPECT_FALSE(TPeResId(L"x\U0001D11E").SameAs(TPeResId(L"x\U0001D11F")));
}

TEST(PeEdit, SetResourceReplacesOnlyTheSameLanguage) {
  TPeImage image = TPeImage::Parse(Fixture("fixture32.exe"));
  image.SetResource(PE_RT_RCDATA, L"ExistingData", 2052, "new chinese");
  image.SetResource(L"MyType", 5, 0, "custom type");
  TPeImage out = TPeImage::Parse(image.Save());
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, L"EXISTINGDATA", 2052)->Data, "new chinese");
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, L"EXISTINGDATA", 1033)->Data, std::string("existing payload\0\1\2\3", 20));
  EXPECT_EQ(out.FindResource(L"mytype", 5)->Data, "custom type");
  // Named types come before numbered ones.
  EXPECT_EQ(out.Resources().front().Type.Name(), L"MYTYPE");
  EXPECT_THROW(image.SetRcData(L"", "x"), EPeFormatError);
}

TEST(PeEdit, RemovesEveryLanguageOfAName) {
  TPeImage image = TPeImage::Parse(Fixture("fixture32.exe"));
  EXPECT_EQ(image.RemoveResource(PE_RT_RCDATA, L"existingdata"), 2u);
  TPeImage out = TPeImage::Parse(image.Save());
  EXPECT_EQ(out.FindResource(PE_RT_RCDATA, L"EXISTINGDATA"), nullptr);
  EXPECT_EQ(out.Resources().size(), 6u);
}

// ---- certificates ------------------------------------------------------------------

TEST(PeSigning, SignedInputLosesItsCertificate) {
  std::string signedBytes = Fixture("fixture64-signed.exe");
  Headers in(signedBytes);
  uint32_t certOffset = in.DirRva(4, signedBytes), certSize = in.DirSize(4, signedBytes);
  ASSERT_NE(certSize, 0u);
  TPeImage image = TPeImage::Parse(signedBytes);
  EXPECT_TRUE(image.HasCertificate());
  image.SetRcData(kGuidAW, "payload");
  std::string out = image.Save();
  ExpectSoundLayout(out);
  Headers h(out);
  EXPECT_EQ(h.DirRva(4, out), 0u);
  EXPECT_EQ(h.DirSize(4, out), 0u);
  std::string cert = signedBytes.substr(certOffset, certSize);
  EXPECT_EQ(out.find(cert), std::string::npos);
  EXPECT_FALSE(TPeImage::Parse(out).HasCertificate());
}

#ifndef _WIN32
TEST(PeSigning, OutputCanBeSignedAndVerified) {
  std::string tool = NV_PE_OSSLSIGNCODE;
  if (tool.empty() || tool.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "osslsigncode not installed";
  TPeImage image = TPeImage::Parse(Fixture("fixture64-signed.exe"));
  image.SetRcData(kGuidAW, Pattern(12345, 5));
  std::string unsignedPath = FixturePath("resigned-in.exe"), signedPath = FixturePath("resigned-out.exe");
  WriteAll(unsignedPath, image.Save());
  std::remove(signedPath.c_str());
  std::string dir = NV_PE_FIXTURE_DIR;
  std::string sign = tool + " sign -certs " + dir + "/sign-cert.pem -key " + dir + "/sign-key.pem -in " +
                     unsignedPath + " -out " + signedPath + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(sign.c_str()), 0);
  std::string verify = tool + " verify -CAfile " + dir + "/sign-cert.pem -in " + signedPath + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(verify.c_str()), 0);
  // And the editor still reads the signed result.
  TPeImage signedAgain = TPeImage::Parse(ReadAll(signedPath));
  EXPECT_TRUE(signedAgain.HasCertificate());
  EXPECT_EQ(signedAgain.FindResource(PE_RT_RCDATA, kGuidAW)->Data, Pattern(12345, 5));
}
#endif

// ---- checksum ------------------------------------------------------------------------

TEST(PeChecksum, MatchesTheLinkersAndAPlainComputation) {
  for (const char* name : {"fixture64.exe", "fixture32.exe", "fixture64-signed.exe"}) {
    SCOPED_TRACE(name);
    std::string bytes = Fixture(name);
    EXPECT_EQ(TPeImage::ComputeChecksum(bytes), ReferenceChecksum(bytes));
  }
  // ld wrote a checksum into the unsigned fixtures.
  std::string linked = Fixture("fixture64.exe");
  EXPECT_NE(TPeImage::StoredChecksum(linked), 0u);
  EXPECT_EQ(TPeImage::ComputeChecksum(linked), TPeImage::StoredChecksum(linked));
  // Odd lengths count the last byte as a low byte.
  std::string odd = linked + "\x7F";
  EXPECT_EQ(TPeImage::ComputeChecksum(odd), ReferenceChecksum(odd));
  // The checksum field at any offset, odd ones included, and sums that fold
  // to 0xFFFF (all bytes 0xFF).
  for (uint32_t pe = 0x40; pe < 0x50; ++pe) {
    for (size_t size : {size_t(pe + 92), size_t(pe + 93), size_t(300), size_t(301), size_t(4099)}) {
      for (char fill : {'\xFF', '\0'}) {
        std::string image = fill == '\0' ? Pattern(size, pe) : std::string(size, fill);
        image[0] = 'M';
        image[1] = 'Z';
        SetU32(image, 0x3C, pe);
        image.replace(pe, 4, std::string("PE\0\0", 4));
        EXPECT_EQ(TPeImage::ComputeChecksum(image), ReferenceChecksum(image)) << pe << " " << size;
      }
    }
  }
}

// ---- damaged input ----------------------------------------------------------------

TEST(PeDamaged, NamesTheCause) {
  std::string good = Fixture("fixture64.exe");
  auto expectError = [](const std::string& bytes, const std::string& needle) {
    try {
      TPeImage::Parse(bytes);
      ADD_FAILURE() << "no error for " << needle;
    } catch (const EPeFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
    }
  };
  expectError("", "no MZ header");
  expectError(std::string(4096, 'x'), "no MZ header");
  std::string b = good;
  SetU32(b, 0x3C, 0x7FFFFFF0);
  expectError(b, "PE header offset");
  b = good;
  b[U32(good, 0x3C)] = 'X';
  expectError(b, "no PE signature");
  b = good;
  Headers h(good);
  b[h.Opt] = 0x07;
  expectError(b, "magic");
  b = good;
  SetU32(b, h.Sections[0].HeaderOffset + 20, 0x7FFFFF00);
  expectError(b, "raw data of section \".text\"");
  b = good;
  SetU32(b, h.Sections[1].HeaderOffset + 20, 0x100);
  expectError(b, "raw data of section \".data\" overlaps the headers");
  b = good;
  SetU32(b, h.Sections[2].HeaderOffset + 12, h.Sections[1].VirtualAddress);
  expectError(b, "overlaps the section before it");
  expectError(good.substr(0, h.Sections.back().PointerToRawData + 10), "beyond the end of the file");
}

TEST(PeDamaged, ResourceTreeFaultsAreErrors) {
  std::string good = Fixture("fixture32.exe");
  size_t root = ResourceRoot(good);
  uint32_t typeDir = U32(good, root + 16 + 4) & 0x7FFFFFFF;  // first type's name table
  auto expectError = [](const std::string& bytes, const std::string& needle) {
    try {
      TPeImage::Parse(bytes);
      ADD_FAILURE() << "no error for " << needle;
    } catch (const EPeFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
    }
  };
  // A name table entry that points back at the root.
  std::string b = good;
  SetU32(b, root + typeDir + 16 + 4, 0x80000000u);
  expectError(b, "reached twice");
  // A type entry that points at its own table.
  b = good;
  SetU32(b, root + typeDir + 16 + 4, 0x80000000u | typeDir);
  expectError(b, "reached twice");
  // A subdirectory far outside the section.
  b = good;
  SetU32(b, root + 16 + 4, 0xFFFFFFF0u);
  expectError(b, "outside the resource section");
  // A name string outside the section.
  b = good;
  SetU32(b, root + 16, 0xFFFFFFF0u);
  expectError(b, "resource name");
  // Too many entries for the section.
  b = good;
  b[root + 14] = '\xFF';
  b[root + 15] = '\xFF';
  expectError(b, "resource directory table");
  // A data entry whose RVA lies nowhere.
  b = good;
  uint32_t nameDir = U32(good, root + typeDir + 16 + 4) & 0x7FFFFFFF;
  uint32_t dataEntry = U32(good, root + nameDir + 16 + 4);
  SetU32(b, root + dataEntry, 0xFFFFF000u);
  expectError(b, "resource data");
  // A data entry whose size runs past its section.
  b = good;
  SetU32(b, root + dataEntry + 4, 0x40000000u);
  expectError(b, "resource data");
  // A leaf at the type level.
  b = good;
  SetU32(b, root + 16 + 4, dataEntry);
  expectError(b, "type or name level");
}

TEST(PeDamaged, TruncatedAndCorruptedImagesNeverCrash) {
  for (const char* name : {"fixture32.exe", "fixture64.exe"}) {
    std::string good = Fixture(name);
    size_t root = ResourceRoot(good);
    for (size_t cut = 0; cut < good.size(); cut += std::max<size_t>(1, good.size() / 97)) {
      try {
        TPeImage::Parse(good.substr(0, cut)).Save();
      } catch (const EPeFormatError&) {
      }
    }
    std::mt19937 gen(42);
    int errors = 0, parsed = 0;
    for (int round = 0; round < 3000; ++round) {
      std::string b = good;
      int flips = 1 + static_cast<int>(gen() % 4);
      for (int f = 0; f < flips; ++f) {
        // Mostly the headers and the resource tree, where offsets live.
        size_t at = (gen() % 2) ? gen() % 0x400 : root + gen() % 0x200;
        b[at] = static_cast<char>(gen() & 0xFF);
      }
      std::string out;
      try {
        TPeImage image = TPeImage::Parse(b);
        image.SetRcData(kGuidAW, "x");
        out = image.Save();
      } catch (const EPeFormatError&) {
        ++errors;
        continue;
      }
      // What the editor accepted and wrote, it reads back.
      try {
        TPeImage again = TPeImage::Parse(out);
        ASSERT_NE(again.FindResource(PE_RT_RCDATA, kGuidAW), nullptr) << "round " << round;
        EXPECT_EQ(again.FindResource(PE_RT_RCDATA, kGuidAW)->Data, "x");
        ++parsed;
      } catch (const EPeFormatError& e) {
        ADD_FAILURE() << "round " << round << ": " << e.what();
      }
    }
    EXPECT_GT(errors, 0) << name;
    EXPECT_GT(parsed, 0) << name;
  }
}

// ---- the model matches what wrestool reads ---------------------------------------------

#ifndef _WIN32
TEST(PeWrestool, ListsTheSameResourcesAsTheModel) {
  std::string tool = NV_PE_WRESTOOL;
  if (tool.empty() || tool.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "wrestool not installed";
  for (const char* name : {"fixture64.exe", "fixture32.exe"}) {
    SCOPED_TRACE(name);
    TPeImage image = TPeImage::Parse(Fixture(name));
    image.SetRcData(kGuidAW, Pattern(777, 6));
    image.SetRcData(kGuidBW, Pattern(31, 7));
    image.SetRcData(L"existingdata", "new");
    std::string path = FixturePath(std::string("wrestool-") + name);
    WriteAll(path, image.Save());
    TPeImage saved = TPeImage::Parse(ReadAll(path));

    std::vector<std::string> expected;
    for (const auto& e : saved.Resources()) {
      auto text = [](const TPeResId& id) {
        return id.IsName() ? "'" + std::string(id.Name().begin(), id.Name().end()) + "'" : std::to_string(id.Id());
      };
      expected.push_back("--type=" + text(e.Type) + " --name=" + text(e.Name) + " --language=" +
                         std::to_string(e.Language) + " size=" + std::to_string(e.Data.size()));
    }
    std::vector<std::string> listed;
    FILE* pipe = popen((tool + " -l " + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
      // "--type=10 --name='X' --language=0 [type=rcdata offset=0x... size=777]"
      std::string s(line);
      size_t bracket = s.find(" [");
      size_t size = s.find("size=");
      ASSERT_NE(bracket, std::string::npos) << s;
      ASSERT_NE(size, std::string::npos) << s;
      std::string sizeText = s.substr(size, s.find(']', size) - size);
      listed.push_back(s.substr(0, bracket) + " " + sizeText);
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(listed, expected);
    // wrestool extracts the same bytes.
    std::string extracted = path + ".bin";
    std::string cmd = tool + " -x --raw --type=10 --name='" + kGuidA + "' -o " + extracted + " " + path;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(ReadAll(extracted), Pattern(777, 6));
  }
}
#endif
