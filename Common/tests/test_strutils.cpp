// String, UTF-8, number-text and formatting routines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "NvExceptions.h"
#include "NvSysUtils.h"

namespace {

// A character outside the Basic Multilingual Plane (U+1F600) as wide text.
std::wstring Emoji() {
  if constexpr (sizeof(wchar_t) == 2) return std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)};
  return std::wstring(1, wchar_t(0x1F600));
}

TEST(Utf8, EncodesEveryLengthClass) {
  std::wstring text = L"A\u00e9\u4e2d" + Emoji();
  EXPECT_EQ(Utf8Encode(text), "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST(Utf8, DecodeIsTheInverseOfEncode) {
  std::wstring text = L"\u5b89\u88c5 setup \u00fc" + Emoji() + L"\u07ff\u0800\uffff";
  EXPECT_EQ(Utf8Decode(Utf8Encode(text)), text);
}

TEST(Utf8, SupplementaryCharacterBecomesASurrogatePairOn16BitWideChars) {
  std::wstring decoded = Utf8Decode("\xF0\x9F\x98\x80");
  EXPECT_EQ(decoded, Emoji());
  EXPECT_EQ(decoded.size(), sizeof(wchar_t) == 2 ? 2u : 1u);
}

TEST(Utf8, EmptyGivesEmpty) {
  EXPECT_EQ(Utf8Encode(L""), "");
  EXPECT_EQ(Utf8Decode(""), L"");
}

TEST(Utf8, CutsAtTheFirstNul) {
  EXPECT_EQ(Utf8Encode(std::wstring(L"ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8Decode(std::string("ab\0cd", 5)), L"ab");
}

TEST(Utf8, InvalidSequencesGiveReplacementCharacters) {
  EXPECT_EQ(Utf8Decode("a\xFF" "b"), L"a\ufffdb");
  EXPECT_EQ(Utf8Decode("a\xE4\xB8"), L"a\ufffd");       // truncated at the end
  EXPECT_EQ(Utf8Decode("\xE4\xB8z"), L"\ufffdz");        // interrupted sequence
  EXPECT_EQ(Utf8Decode("\xC0\xAF"), L"\ufffd\ufffd");    // overlong form
  EXPECT_EQ(Utf8Decode("\xED\xA0\x80"), L"\ufffd");      // encoded surrogate
}

TEST(Utf8, LoneSurrogateEncodesAsReplacement) {
  if constexpr (sizeof(wchar_t) != 2) GTEST_SKIP() << "surrogates exist only in 16-bit text";
  EXPECT_EQ(Utf8Encode(std::wstring{L'a', wchar_t(0xD800), L'b'}), "a\xEF\xBF\xBD" "b");
}

TEST(CaseRoutines, SameTextIgnoresCaseBeyondAscii) {
  EXPECT_TRUE(SameText(L"Items", L"iTEMS"));
  EXPECT_TRUE(SameText(L"\u00c4RGER", L"\u00e4rger"));
  EXPECT_TRUE(SameText(L"\u0416", L"\u0436"));
  EXPECT_FALSE(SameText(L"Items", L"Item"));
  EXPECT_FALSE(SameText(L"a", L"b"));
  EXPECT_EQ(UpperCase(L"abc\u00e9\u4e2d"), L"ABC\u00c9\u4e2d");
  EXPECT_EQ(LowerCase(L"ABC\u00c9\u4e2d"), L"abc\u00e9\u4e2d");
}

TEST(CaseRoutines, StartsTextIgnoresCase) {
  EXPECT_TRUE(StartsText(L"HTTPS", L"https://x"));
  EXPECT_TRUE(StartsText(L"", L"x"));
  EXPECT_FALSE(StartsText(L"https://x/longer", L"https://x"));
}

TEST(TrimRoutines, RemoveControlCodesAndBlanksOnly) {
  EXPECT_EQ(Trim(L" \t\r\n a b \x01"), L"a b");
  EXPECT_EQ(TrimLeft(L"  a "), L"a ");
  EXPECT_EQ(TrimRight(L"  a "), L"  a");
  EXPECT_EQ(Trim(L"   "), L"");
  EXPECT_EQ(Trim(L"\u3000x"), L"\u3000x");  // ideographic space is not a blank
}

TEST(PathRoutines, TrailingBackslash) {
  EXPECT_EQ(ExcludeTrailingBackslash(L"C:\\a\\"), L"C:\\a");
  EXPECT_EQ(ExcludeTrailingBackslash(L"C:\\a\\\\"), L"C:\\a\\");
  EXPECT_EQ(ExcludeTrailingBackslash(L""), L"");
  EXPECT_EQ(IncludeTrailingBackslash(L"C:\\a"), L"C:\\a\\");
  EXPECT_EQ(IncludeTrailingBackslash(L"C:\\a\\"), L"C:\\a\\");
  EXPECT_EQ(IncludeTrailingBackslash(L""), L"\\");
}

TEST(PathRoutines, PartsSplitAtBackslashOrColon) {
  EXPECT_EQ(ExtractFileName(L"C:\\dir\\file.tar.gz"), L"file.tar.gz");
  EXPECT_EQ(ExtractFilePath(L"C:\\dir\\file.tar.gz"), L"C:\\dir\\");
  EXPECT_EQ(ExtractFileName(L"C:file"), L"file");
  EXPECT_EQ(ExtractFilePath(L"C:file"), L"C:");
  EXPECT_EQ(ExtractFilePath(L"file"), L"");
  EXPECT_EQ(ExtractFileName(L"dir\\"), L"");
}

TEST(PathRoutines, ExtensionComesFromTheNameOnly) {
  EXPECT_EQ(ExtractFileExt(L"C:\\dir\\file.tar.gz"), L".gz");
  EXPECT_EQ(ExtractFileExt(L"C:\\my.dir\\file"), L"");
  EXPECT_EQ(ExtractFileNameNoExt(L"C:\\my.dir\\setup.exe"), L"setup");
  EXPECT_EQ(ExtractFileNameNoExt(L"C:\\my.dir\\README"), L"README");
}

TEST(Replace, AllOccurrencesLeftToRightWithoutRescanning) {
  EXPECT_EQ(StringReplaceAll(L"aaa", L"a", L"aa", false), L"aaaaaa");
  EXPECT_EQ(StringReplaceAll(L"{app}\\x{APP}", L"{app}", L"C:", true), L"C:\\xC:");
  EXPECT_EQ(StringReplaceAll(L"{app}\\x{APP}", L"{app}", L"C:", false), L"C:\\x{APP}");
  EXPECT_EQ(StringReplaceAll(L"abc", L"", L"x", false), L"abc");
  EXPECT_EQ(StringReplaceAll(L"xyxy", L"yx", L"", false), L"xy");
}

TEST(IntegerText, DecimalWithSignAndLeadingBlanks) {
  int32_t v = 0;
  EXPECT_TRUE(TryStrToInt(L"  -42", v));
  EXPECT_EQ(v, -42);
  EXPECT_TRUE(TryStrToInt(L"+7", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(TryStrToInt(L"2147483647", v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(TryStrToInt(L"-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
}

TEST(IntegerText, RejectsTrailingGarbageEmptyAndOverflow) {
  int32_t v = 99;
  EXPECT_FALSE(TryStrToInt(L"12x", v));
  EXPECT_FALSE(TryStrToInt(L"", v));
  EXPECT_FALSE(TryStrToInt(L"-", v));
  EXPECT_FALSE(TryStrToInt(L"12 ", v));
  EXPECT_FALSE(TryStrToInt(L"2147483648", v));
  EXPECT_FALSE(TryStrToInt(L"1.5", v));
  EXPECT_EQ(v, 99);
  int64_t w = 5;
  EXPECT_FALSE(TryStrToInt64(L"9223372036854775808", w));
  EXPECT_EQ(w, 5);
}

TEST(IntegerText, HexadecimalForms) {
  int32_t v = 0;
  EXPECT_TRUE(TryStrToInt(L"$1F", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(TryStrToInt(L"0x10", v));
  EXPECT_EQ(v, 16);
  EXPECT_TRUE(TryStrToInt(L"$FFFFFFFF", v));
  EXPECT_EQ(v, -1);
  EXPECT_FALSE(TryStrToInt(L"$100000000", v));
  EXPECT_FALSE(TryStrToInt(L"$", v));
  EXPECT_FALSE(TryStrToInt(L"1F", v));
}

TEST(IntegerText, Int64Range) {
  int64_t v = 0;
  EXPECT_TRUE(TryStrToInt64(L"-9223372036854775808", v));
  EXPECT_EQ(v, INT64_MIN);
  EXPECT_TRUE(TryStrToInt64(L"9223372036854775807", v));
  EXPECT_EQ(v, INT64_MAX);
  EXPECT_EQ(IntToStr(INT64_MIN), L"-9223372036854775808");
  EXPECT_EQ(IntToStr(INT64_MAX), L"9223372036854775807");
  EXPECT_EQ(IntToStr(0), L"0");
  EXPECT_EQ(IntToStr(-7), L"-7");
  EXPECT_EQ(IntToStr(1000000), L"1000000");
}

TEST(IntegerText, StrToIntRaisesConvertError) {
  EXPECT_EQ(StrToInt(L"12"), 12);
  try {
    StrToInt(L"1a");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), L"'1a' is not a valid integer value");
  }
}

TEST(FloatText, GeneralFormWithFifteenDigits) {
  EXPECT_EQ(FloatToStr(0), L"0");
  EXPECT_EQ(FloatToStr(1.5), L"1.5");
  EXPECT_EQ(FloatToStr(-2.25), L"-2.25");
  EXPECT_EQ(FloatToStr(100), L"100");
  EXPECT_EQ(FloatToStr(0.1), L"0.1");
  EXPECT_EQ(FloatToStr(1.0 / 3), L"0.333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), L"0.666666666666667");
  EXPECT_EQ(FloatToStr(0.0001), L"0.0001");
  EXPECT_EQ(FloatToStr(123456789012345.0), L"123456789012345");
}

TEST(FloatText, ExponentFormOutsideTheFixedRange) {
  EXPECT_EQ(FloatToStr(1e20), L"1E20");
  EXPECT_EQ(FloatToStr(1e15), L"1E15");
  EXPECT_EQ(FloatToStr(1e-5), L"1E-5");
  EXPECT_EQ(FloatToStr(-1.25e-7), L"-1.25E-7");
  EXPECT_EQ(FloatToStr(999999999999999.9), L"1E15");  // rounding carries into the exponent
}

// The digits and exponent of the C library's "%.14e", laid out as FloatToStr
// lays them out: the reference for its own decimal conversion.
std::wstring FloatTextByPrintf(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string text(buf);
  std::size_t epos = text.find('e');
  int exponent = std::atoi(text.c_str() + epos + 1);
  std::string digits = text.substr(0, 1) + text.substr(2, epos - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = value < 0 ? "-" : "";
  if (exponent >= 15 || exponent <= -5) {
    out += digits.substr(0, 1) + (digits.size() > 1 ? "." + digits.substr(1) : "") + "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    std::size_t intLen = static_cast<std::size_t>(exponent) + 1;
    out += digits.size() <= intLen ? digits + std::string(intLen - digits.size(), '0')
                                   : digits.substr(0, intLen) + "." + digits.substr(intLen);
  }
  return std::wstring(out.begin(), out.end());
}

TEST(FloatText, RoundsLikePrintfAcrossTheWholeRange) {
  // Halfway cases at the fifteenth digit round to even; extremes and subnormals.
  for (double x : {1234567890123455.0, 1234567890123445.0, 0.5, 2.5e-324, 4.9406564584124654e-324,
                   2.2250738585072014e-308, 1.7976931348623157e308, 9.999999999999995e22, 1e23, 0.1 + 0.2,
                   123456789012345.5, 999999999999999.5, 5e-5, 9.99999999999999e-5}) {
    EXPECT_EQ(FloatToStr(x), FloatTextByPrintf(x)) << x;
  }
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x) || x == 0) continue;
    ASSERT_EQ(FloatToStr(x), FloatTextByPrintf(x)) << bits;
    double y = static_cast<double>(static_cast<int64_t>(bits >> 11) % 100000000000000000LL) / 1000;
    if (y != 0) {
      ASSERT_EQ(FloatToStr(y), FloatTextByPrintf(y)) << y;
    }
  }
}

TEST(FloatText, ParsesPlainAndExponentForms) {
  double v = 0;
  EXPECT_TRUE(TryStrToFloat(L"1.5", v));
  EXPECT_EQ(v, 1.5);
  EXPECT_TRUE(TryStrToFloat(L" -2E3 ", v));
  EXPECT_EQ(v, -2000);
  EXPECT_TRUE(TryStrToFloat(L".5", v));
  EXPECT_EQ(v, 0.5);
  EXPECT_TRUE(TryStrToFloat(L"1E-5", v));
  EXPECT_EQ(v, 1e-5);
}

TEST(FloatText, RejectsWhatIsNotANumber) {
  double v = 7;
  EXPECT_FALSE(TryStrToFloat(L"", v));
  EXPECT_FALSE(TryStrToFloat(L"1,5", v));
  EXPECT_FALSE(TryStrToFloat(L"abc", v));
  EXPECT_FALSE(TryStrToFloat(L"1e", v));
  EXPECT_FALSE(TryStrToFloat(L"inf", v));
  EXPECT_FALSE(TryStrToFloat(L"0x10", v));
  EXPECT_FALSE(TryStrToFloat(L"1e999", v));
  EXPECT_EQ(v, 7);
}

TEST(FloatText, FifteenDigitTextReadsBackToTheSameText) {
  for (double x : {3.14159265358979, 1e-300, 12345.678, -0.000123, 6.02214076e23}) {
    double back = 0;
    ASSERT_TRUE(TryStrToFloat(FloatToStr(x), back)) << x;
    EXPECT_EQ(FloatToStr(back), FloatToStr(x));
  }
}

TEST(Formatting, FillsPlaceholdersInOrder) {
  EXPECT_EQ(Format(L"%s (%s, line %d)", {std::wstring(L"Assertion failure"), std::wstring(L"Common\\NvXmlUtils"),
                                         int64_t(469)}),
            L"Assertion failure (Common\\NvXmlUtils, line 469)");
  EXPECT_EQ(Format(L"100%% of %d", {int64_t(-3)}), L"100% of -3");
  EXPECT_EQ(Format(L"rcode=%s", {std::wstring(L"\u4e2d")}), L"rcode=\u4e2d");
}

TEST(IntegerText, HexTextIsUpperCaseAndPadded) {
  EXPECT_EQ(IntToHex(0x8007000E, 8), L"8007000E");
  EXPECT_EQ(IntToHex(0x2A, 8), L"0000002A");
  EXPECT_EQ(IntToHex(0, 0), L"0");
  EXPECT_EQ(IntToHex(UINT64_MAX, 4), L"FFFFFFFFFFFFFFFF");
}

TEST(Formatting, HexPlaceholderIsUpperCaseTwosComplement) {
  EXPECT_EQ(Format(L"0x%x %X %x", {int64_t(0x8007000E), int64_t(0), int64_t(-1)}),
            L"0x8007000E 0 FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format(L"%X", {std::wstring(L"text")}), L"text");
}

TEST(Formatting, MissingArgumentLeavesPlaceholderEmpty) {
  EXPECT_EQ(Format(L"a%sb%dc", {std::wstring(L"X")}), L"aXbc");
  EXPECT_EQ(Format(L"trailing %", {}), L"trailing %");
}

TEST(Assertions, MessageNamesSourceAndLine) {
  try {
    NV_ASSERT(1 + 1 == 3, L"Common\\NvXmlUtils", 469);
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), L"Assertion failure (Common\\NvXmlUtils, line 469)");
    EXPECT_STREQ(e.what(), "Assertion failure (Common\\NvXmlUtils, line 469)");
  }
  EXPECT_NO_THROW(NV_ASSERT(true, L"x", 1));
}

}  // namespace
