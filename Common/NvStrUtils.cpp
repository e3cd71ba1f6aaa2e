// Portable wide-string, UTF-8, number-text and formatting routines.
// wchar_t is UTF-16 on Windows and UTF-32 on the host; both are handled.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "NvExceptions.h"
#include "NvSysUtils.h"

namespace {

constexpr bool kWide16 = sizeof(wchar_t) == 2;
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t cp) {
  if (kWide16 && cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (cp >> 10));
    out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<wchar_t>(cp);
  }
}

// Simple one-to-one case mapping for Latin, Greek and Cyrillic letters.
char32_t FoldUpper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c - 1 : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // full-width Latin
  return c;
}

char32_t FoldLower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;
  return c;
}

wchar_t UpperChar(wchar_t c) { return static_cast<wchar_t>(FoldUpper(static_cast<char32_t>(c))); }
wchar_t LowerChar(wchar_t c) { return static_cast<wchar_t>(FoldLower(static_cast<char32_t>(c))); }

bool IsBlank(wchar_t c) { return static_cast<uint32_t>(c) <= 32; }

std::size_t LastDelimiter(const std::wstring& path) {
  std::size_t pos = path.find_last_of(L"\\:");
  return pos;
}

// Parses an optionally signed decimal or "$"/"0x" hexadecimal number after
// optional leading blanks. Hexadecimal accepts any bit pattern of the width.
bool ParseInteger(const std::wstring& s, int bits, int64_t& value) {
  std::size_t i = 0, n = s.size();
  while (i < n && (s[i] == L' ' || s[i] == L'\t')) ++i;
  bool negative = false;
  if (i < n && (s[i] == L'+' || s[i] == L'-')) {
    negative = s[i] == L'-';
    ++i;
  }
  bool hex = false;
  if (i < n && s[i] == L'$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == L'0' && (s[i + 1] == L'x' || s[i + 1] == L'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t acc = 0;
  const uint64_t hexLimit = bits == 64 ? std::numeric_limits<uint64_t>::max() : 0xFFFFFFFFull;
  const uint64_t decLimit = bits == 64 ? (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull)
                                       : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  for (; i < n; ++i) {
    wchar_t c = s[i];
    unsigned d;
    if (c >= L'0' && c <= L'9') d = c - L'0';
    else if (hex && c >= L'a' && c <= L'f') d = c - L'a' + 10;
    else if (hex && c >= L'A' && c <= L'F') d = c - L'A' + 10;
    else return false;
    if (hex) {
      if (acc > (hexLimit >> 4)) return false;
      acc = (acc << 4) | d;
    } else {
      if (acc > (decLimit - d) / 10) return false;
      acc = acc * 10 + d;
    }
  }
  if (hex) {
    // Bit patterns of the full width read as the signed value they encode.
    int64_t v = bits == 64 ? static_cast<int64_t>(acc) : static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(acc)));
    value = negative ? static_cast<int64_t>(0ull - static_cast<uint64_t>(v)) : v;
    if (bits == 32) value = static_cast<int32_t>(static_cast<uint32_t>(value));
  } else {
    value = negative ? static_cast<int64_t>(0ull - acc) : static_cast<int64_t>(acc);
  }
  return true;
}

}  // namespace

// ---- UTF-8 -------------------------------------------------------------------

std::string Utf8Encode(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (kWide16) c &= 0xFFFF;
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      char32_t lo = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;  // a lone surrogate has no UTF-8 form
    } else if (c > 0x10FFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring Utf8Decode(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size(), i = 0;
  while (i < n) {
    unsigned char b = p[i];
    if (b == 0) break;
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    int len;
    char32_t cp, min;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
    else { AppendWide(out, kReplacement); ++i; continue; }
    int k = 1;
    for (; k < len; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) break;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      // A broken sequence: one replacement, continue at the first byte that
      // cannot belong to it.
      AppendWide(out, kReplacement);
      i += k < len ? k : len;
      continue;
    }
    AppendWide(out, cp);
    i += len;
  }
  return out;
}

std::wstring AsciiToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (unsigned char c : text) out += static_cast<wchar_t>(c);
  return out;
}

std::string WideToAscii(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out += static_cast<uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// ---- wide-string routines ------------------------------------------------------

bool SameText(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

std::wstring UpperCase(const std::wstring& s) {
  std::wstring r(s);
  for (auto& c : r) c = UpperChar(c);
  return r;
}

std::wstring LowerCase(const std::wstring& s) {
  std::wstring r(s);
  for (auto& c : r) c = LowerChar(c);
  return r;
}

std::wstring Trim(const std::wstring& s) { return TrimLeft(TrimRight(s)); }

std::wstring TrimLeft(const std::wstring& s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::wstring TrimRight(const std::wstring& s) {
  std::size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

std::wstring ExcludeTrailingBackslash(const std::wstring& s) {
  if (!s.empty() && s.back() == L'\\') return s.substr(0, s.size() - 1);
  return s;
}

std::wstring IncludeTrailingBackslash(const std::wstring& s) {
  if (!s.empty() && s.back() == L'\\') return s;
  return s + L'\\';
}

std::wstring ExtractFileName(const std::wstring& path) {
  std::size_t pos = LastDelimiter(path);
  return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

std::wstring ExtractFilePath(const std::wstring& path) {
  std::size_t pos = LastDelimiter(path);
  return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos + 1);
}

std::wstring ExtractFileExt(const std::wstring& path) {
  std::wstring name = ExtractFileName(path);
  std::size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

std::wstring ExtractFileNameNoExt(const std::wstring& path) {
  std::wstring name = ExtractFileName(path);
  std::size_t dot = name.rfind(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring StringReplaceAll(const std::wstring& s, const std::wstring& from, const std::wstring& to,
                              bool ignoreCase) {
  if (from.empty()) return s;
  const std::wstring hay = ignoreCase ? UpperCase(s) : s;
  const std::wstring needle = ignoreCase ? UpperCase(from) : from;
  std::wstring out;
  std::size_t start = 0;
  for (;;) {
    std::size_t pos = hay.find(needle, start);
    if (pos == std::wstring::npos) break;
    out.append(s, start, pos - start);
    out += to;
    start = pos + needle.size();
  }
  out.append(s, start, std::wstring::npos);
  return out;
}

bool StartsText(const std::wstring& prefix, const std::wstring& s) {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

// ---- numbers as text ---------------------------------------------------------------

namespace {

// Digits of value in base 10 or 16 (upper-case), most significant first.
std::wstring UnsignedText(uint64_t value, unsigned base) {
  wchar_t buf[24];
  wchar_t* p = buf + 24;
  do {
    *--p = L"0123456789ABCDEF"[value % base];
    value /= base;
  } while (value);
  return std::wstring(p, buf + 24);
}

}  // namespace

std::wstring IntToStr(int64_t value) {
  if (value >= 0) return UnsignedText(static_cast<uint64_t>(value), 10);
  return L"-" + UnsignedText(0 - static_cast<uint64_t>(value), 10);
}

std::wstring IntToHex(uint64_t value, int digits) {
  std::wstring text = UnsignedText(value, 16);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), L'0');
  return text;
}

bool TryStrToInt(const std::wstring& s, int32_t& value) {
  int64_t v;
  if (!ParseInteger(s, 32, v)) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool TryStrToInt64(const std::wstring& s, int64_t& value) { return ParseInteger(s, 64, value); }

int32_t StrToInt(const std::wstring& s) {
  int32_t v;
  if (!TryStrToInt(s, v)) throw EConvertError(Format(L"'%s' is not a valid integer value", {s}));
  return v;
}

namespace {

// A non-negative integer of any size, little-endian in 32-bit limbs; just
// what exact decimal conversion of a double needs.
class TBigNat {
public:
  explicit TBigNat(uint64_t v) {
    FLimbs.push_back(static_cast<uint32_t>(v));
    if (v >> 32) FLimbs.push_back(static_cast<uint32_t>(v >> 32));
  }
  void MulSmall(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : FLimbs) {
      uint64_t x = static_cast<uint64_t>(limb) * factor + carry;
      limb = static_cast<uint32_t>(x);
      carry = x >> 32;
    }
    if (carry) FLimbs.push_back(static_cast<uint32_t>(carry));
  }
  void ShiftLeft(int bits) {
    for (; bits >= 16; bits -= 16) MulSmall(1u << 16);
    if (bits) MulSmall(1u << bits);
  }
  // this -= other; requires this >= other.
  void Subtract(const TBigNat& other) {
    int64_t borrow = 0;
    for (std::size_t i = 0; i < FLimbs.size(); ++i) {
      int64_t x = static_cast<int64_t>(FLimbs[i]) - (i < other.FLimbs.size() ? other.FLimbs[i] : 0) - borrow;
      borrow = x < 0;
      FLimbs[i] = static_cast<uint32_t>(x + (borrow << 32));
    }
    Trim();
  }
  int Compare(const TBigNat& other) const {
    if (FLimbs.size() != other.FLimbs.size()) return FLimbs.size() < other.FLimbs.size() ? -1 : 1;
    for (std::size_t i = FLimbs.size(); i-- > 0;)
      if (FLimbs[i] != other.FLimbs[i]) return FLimbs[i] < other.FLimbs[i] ? -1 : 1;
    return 0;
  }

private:
  void Trim() {
    while (FLimbs.size() > 1 && FLimbs.back() == 0) FLimbs.pop_back();
  }
  std::vector<uint32_t> FLimbs;
};

// The first `count` significant decimal digits of a finite value > 0,
// correctly rounded (ties to even) as printf's %e does, and the decimal
// exponent of the first: value ~ d.ddd x 10^exponent.
std::string ScientificDigits(double value, int count, int& exponent) {
  int e2 = 0;
  double fraction = std::frexp(value, &e2);
  TBigNat num(static_cast<uint64_t>(std::ldexp(fraction, 53)));
  TBigNat den(1);
  e2 -= 53;  // value = num * 2^e2 exactly
  if (e2 > 0) num.ShiftLeft(e2);
  else den.ShiftLeft(-e2);
  // Scale so that den <= num < 10 * den.
  exponent = 0;
  for (;;) {
    TBigNat ten = den;
    ten.MulSmall(10);
    if (num.Compare(ten) < 0) break;
    den = ten;
    ++exponent;
  }
  while (num.Compare(den) < 0) {
    num.MulSmall(10);
    --exponent;
  }
  std::string digits;
  for (int i = 0; i < count; ++i) {
    char d = '0';
    while (num.Compare(den) >= 0) {
      num.Subtract(den);
      ++d;
    }
    digits += d;
    num.MulSmall(10);
  }
  // num is now ten times the remainder: compare the remainder with den / 2.
  TBigNat half = den;
  half.MulSmall(5);
  int c = num.Compare(half);
  if (c > 0 || (c == 0 && (digits.back() - '0') % 2 == 1)) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i > 0) {
      ++digits[i - 1];
    } else {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    }
  }
  return digits;
}

}  // namespace

std::wstring FloatToStr(double value) {
  if (std::isnan(value)) return L"NAN";
  if (std::isinf(value)) return value < 0 ? L"-INF" : L"INF";
  if (value == 0) return L"0";
  bool negative = value < 0;
  // Fifteen significant digits.
  int exponent = 0;
  std::string digits = ScientificDigits(negative ? -value : value, 15, exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent >= 15 || exponent <= -5) {
    // Exponent form outside the fixed range.
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    std::size_t intLen = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intLen) {
      out += digits + std::string(intLen - digits.size(), '0');
    } else {
      out += digits.substr(0, intLen) + "." + digits.substr(intLen);
    }
  }
  return AsciiToWide(out);
}

bool TryStrToFloat(const std::wstring& s, double& value) {
  std::wstring t = Trim(s);
  if (t.empty()) return false;
  std::string a;
  std::size_t i = 0, n = t.size();
  if (t[i] == L'+' || t[i] == L'-') a += static_cast<char>(t[i++]);
  std::size_t digits = 0;
  while (i < n && t[i] >= L'0' && t[i] <= L'9') { a += static_cast<char>(t[i++]); ++digits; }
  if (i < n && t[i] == L'.') {
    a += '.';
    ++i;
    while (i < n && t[i] >= L'0' && t[i] <= L'9') { a += static_cast<char>(t[i++]); ++digits; }
  }
  if (digits == 0) return false;
  if (i < n && (t[i] == L'e' || t[i] == L'E')) {
    a += 'e';
    ++i;
    if (i < n && (t[i] == L'+' || t[i] == L'-')) a += static_cast<char>(t[i++]);
    std::size_t expDigits = 0;
    while (i < n && t[i] >= L'0' && t[i] <= L'9') { a += static_cast<char>(t[i++]); ++expDigits; }
    if (expDigits == 0) return false;
  }
  if (i != n) return false;
  errno = 0;
  double v = std::strtod(a.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(v)) return false;
  value = v;
  return true;
}

// ---- formatting --------------------------------------------------------------------

std::wstring Format(const std::wstring& format, std::initializer_list<TFormatArg> args) {
  std::wstring out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    wchar_t c = format[i];
    if (c != L'%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    wchar_t k = format[++i];
    if (k == L'%') {
      out += L'%';
    } else if (k == L's' || k == L'S' || k == L'd' || k == L'D' || k == L'u' || k == L'U') {
      if (next == args.end()) continue;
      const TFormatArg& arg = *next++;
      if (const auto* text = std::get_if<std::wstring>(&arg)) out += *text;
      else out += IntToStr(std::get<int64_t>(arg));
    } else if (k == L'x' || k == L'X') {
      if (next == args.end()) continue;
      const TFormatArg& arg = *next++;
      if (const auto* text = std::get_if<std::wstring>(&arg)) {
        out += *text;
      } else {
        out += UnsignedText(static_cast<uint64_t>(std::get<int64_t>(arg)), 16);
      }
    } else {
      out += L'%';
      out += k;
    }
  }
  return out;
}
