// Portable system helpers: wide-string routines, UTF-8, number text,
// formatting, GUID text, stream compression, console output.
// The Windows-only helpers (files, shell, processes) are in Win/NvSysUtilsWin.h.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

#include "NvStream.h"

struct TEnumInfo;

// ---- UTF-8 ---------------------------------------------------------------
// UTF-16 (Windows) or UTF-32 (host) text to UTF-8 bytes; the result is cut at
// the first NUL. An empty text gives empty bytes.
std::string Utf8Encode(const std::wstring& text);
// UTF-8 bytes to text, cut at the first NUL character. Invalid sequences give
// U+FFFD. On a 16-bit wchar_t, characters above U+FFFF become surrogate pairs.
std::wstring Utf8Decode(const std::string& bytes);
// ASCII-only narrowing/widening helpers for names (class and property names).
std::wstring AsciiToWide(const std::string& text);
std::string WideToAscii(const std::wstring& text);

// ---- wide-string routines --------------------------------------------------
bool SameText(const std::wstring& a, const std::wstring& b);  // equal ignoring case
std::wstring UpperCase(const std::wstring& s);
std::wstring LowerCase(const std::wstring& s);
std::wstring Trim(const std::wstring& s);       // removes codes 0..32 at both ends
std::wstring TrimLeft(const std::wstring& s);
std::wstring TrimRight(const std::wstring& s);
std::wstring ExcludeTrailingBackslash(const std::wstring& s);  // removes one final "\"
std::wstring IncludeTrailingBackslash(const std::wstring& s);  // "" -> "\"
std::wstring ExtractFileName(const std::wstring& path);  // after the last "\" or ":"
std::wstring ExtractFilePath(const std::wstring& path);  // up to and including the last "\" or ":"
std::wstring ExtractFileExt(const std::wstring& path);   // from the last "." of the name, dot included
std::wstring ExtractFileNameNoExt(const std::wstring& path);
// Replaces every occurrence (left to right, replacements not rescanned).
std::wstring StringReplaceAll(const std::wstring& s, const std::wstring& from, const std::wstring& to,
                              bool ignoreCase);
bool StartsText(const std::wstring& prefix, const std::wstring& s);  // ignoring case

// ---- numbers as text ---------------------------------------------------------
std::wstring IntToStr(int64_t value);
// Upper-case hexadecimal digits, zero-padded to at least `digits`.
std::wstring IntToHex(uint64_t value, int digits);
// Decimal (optional sign, optional leading blanks) or hexadecimal with "$" or
// "0x"; the whole text must be a number that fits the type.
bool TryStrToInt(const std::wstring& s, int32_t& value);
bool TryStrToInt64(const std::wstring& s, int64_t& value);
// Raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::wstring& s);
// General floating-point form: shortest text with up to 15 significant
// digits, "." as decimal separator, exponent form "1E20" / "1E-5" outside
// the fixed range.
std::wstring FloatToStr(double value);
bool TryStrToFloat(const std::wstring& s, double& value);

// ---- formatting ----------------------------------------------------------------
// Fills %s (text), %d (integer) and %% in a format string, arguments in order.
// A missing argument leaves its placeholder empty.
using TFormatArg = std::variant<std::wstring, int64_t>;
std::wstring Format(const std::wstring& format, std::initializer_list<TFormatArg> args);

// ---- static helper classes -------------------------------------------------------
class TNvStrfn {
public:
  // A new GUID in registry form: 38 characters, braces, upper-case hex 8-4-4-4-12.
  static std::wstring NewGuidString();
  // Whether text is a GUID in registry form (hexadecimal digits of either case).
  static bool IsGuidString(const std::wstring& text);
};

class TNvSysfn {
public:
  // One zlib stream (level 9) of the whole source into dest; dest is emptied
  // first and left positioned at its end. An empty source gives empty dest.
  static void CompressStream(TMemoryStream* source, TMemoryStream* dest);
  // Inflates one zlib stream from the whole source into dest (bytes after the
  // stream's end are ignored). Damaged data raises EZlibError; dest stays empty.
  static void DecompressStream(TMemoryStream* source, TMemoryStream* dest);
  // The text in the ANSI code page followed by CR LF, to standard output;
  // fails silently without a console.
  static void WriteStdOut(const std::wstring& text);
  // True when a debugger is attached to the process.
  static bool IsDebugging();
  // The name of an enumeration value.
  static std::wstring EnumName(const TEnumInfo& info, int ordinal);
};
