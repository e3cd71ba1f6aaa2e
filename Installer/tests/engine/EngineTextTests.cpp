// The installer's portable rules: command-line splitting, the agreement
// text, the visit's code parameter, the exit code on close, the message of a
// damaged file and the system's error text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExitCodes.h"
#include "NvCommandLine.h"
#include "NvSysError.h"
#include "SetupText.h"

namespace {

using Args = std::vector<std::wstring>;

// Latin-1 as the stand-in for the system's ANSI code page.
std::wstring Latin1(const std::string& bytes) {
  std::wstring text;
  for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
  return text;
}

std::wstring Decode(const std::string& bytes) { return DecodeLicenseText(bytes, Latin1); }

}  // namespace

TEST(SplitCommandLine, BlanksAndControlCharactersSeparate) {
  EXPECT_EQ(SplitCommandLine(L"setup.exe /Silent"), (Args{L"setup.exe", L"/Silent"}));
  EXPECT_EQ(SplitCommandLine(L"  a\tb\r\nc\x01" L"d  "), (Args{L"a", L"b", L"c", L"d"}));
  EXPECT_EQ(SplitCommandLine(L""), Args{});
  EXPECT_EQ(SplitCommandLine(L"   "), Args{});
}

TEST(SplitCommandLine, QuotesGroupAndAreDropped) {
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\Setup.exe\" /Auto"),
            (Args{L"C:\\Program Files\\Setup.exe", L"/Auto"}));
  EXPECT_EQ(SplitCommandLine(L"a\"b c\"d e"), (Args{L"ab cd", L"e"}));
  EXPECT_EQ(SplitCommandLine(L"\"\" x"), (Args{L"", L"x"}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(SplitCommandLine(L"x \"open to the end"), (Args{L"x", L"open to the end"}));
}

TEST(SplitCommandLine, NulEndsTheLine) {
  EXPECT_EQ(SplitCommandLine(std::wstring(L"a b\0c d", 7)), (Args{L"a", L"b"}));
  EXPECT_EQ(SplitCommandLine(std::wstring(L"\"a\0b\" c", 7)), (Args{L"a"}));
}

TEST(DecodeLicenseText, ByteOrderMarksSelectTheEncoding) {
  EXPECT_EQ(Decode(std::string("\xFF\xFE" "A\0\x2D\x4E", 6)), L"A\x4E2D\r\n");   // UTF-16 LE
  EXPECT_EQ(Decode(std::string("\xFE\xFF" "\0A\x4E\x2D", 6)), L"A\x4E2D\r\n");   // UTF-16 BE
  EXPECT_EQ(Decode("\xEF\xBB\xBF" "\xE4\xB8\xAD"), L"\x4E2D\r\n");  // UTF-8
  EXPECT_EQ(Decode("caf\xE9"), L"caf\xE9\r\n");                      // no mark: the ANSI decoder
  // An odd last byte of UTF-16 is dropped.
  EXPECT_EQ(Decode(std::string("\xFF\xFE" "A\0B", 5)), L"A\r\n");
}

TEST(DecodeLicenseText, EveryLineEndsWithCrLf) {
  EXPECT_EQ(Decode("a\rb\nc\r\nd"), L"a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(Decode("\xEF\xBB\xBF" "a\xE2\x80\xA8" "b"), L"a\r\nb\r\n");  // U+2028
  EXPECT_EQ(Decode("a\n\nb\r\n"), L"a\r\n\r\nb\r\n");
  EXPECT_EQ(Decode(""), L"");
  EXPECT_EQ(Decode("\xEF\xBB\xBF"), L"");
}

TEST(AppendRCode, LeadingDigitsAfterTheFirstUnderscore) {
  const std::wstring url = L"http://example.test/visit";
  EXPECT_EQ(AppendRCode(url, L"C:\\dl\\Setup_77abc.exe"), url + L"?rcode=77");
  EXPECT_EQ(AppendRCode(url, L"Setup_12_34.exe"), url + L"?rcode=12");
  EXPECT_EQ(AppendRCode(url + L"?a=1", L"Setup_5.exe"), url + L"?a=1&rcode=5");
  // The folder does not count, only the file name without its extension.
  EXPECT_EQ(AppendRCode(url, L"C:\\dir_9\\Setup.exe"), url);
  EXPECT_EQ(AppendRCode(url, L"Setup_8"), url + L"?rcode=8");
}

TEST(AppendRCode, UnchangedWithoutDigits) {
  const std::wstring url = L"http://example.test/";
  EXPECT_EQ(AppendRCode(url, L"Setup.exe"), url);
  EXPECT_EQ(AppendRCode(url, L"Setup_abc12.exe"), url);
  EXPECT_EQ(AppendRCode(url, L"Setup_.exe"), url);
  EXPECT_EQ(AppendRCode(url, L""), url);
}

TEST(ExitCodes, CloseGivesOkOnlyAfterAFinishedInstall) {
  EXPECT_EQ(ExitCodeAfterClose(2), kExitOk);
  EXPECT_EQ(ExitCodeAfterClose(0), kExitNotInstalled);
  EXPECT_EQ(ExitCodeAfterClose(1), kExitNotInstalled);
}

TEST(DamagedFileMessage, NamesTheFileThenTheCause) {
  EXPECT_EQ(DamagedFileMessage(L"C:\\App\\a.dll", L"Decompression error: incorrect data check"),
            L"安装包已损坏：C:\\App\\a.dll：Decompression error: incorrect data check");
}

TEST(SystemErrorText, GivesTheSystemsWords) {
  // 2 is "file not found" both as a Win32 error and as an errno value.
  const std::wstring text = SysErrorMessage(2);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find(L"System error"), std::wstring::npos) << "no text for code 2";
  EXPECT_GT(text.back(), L' ') << "a final line break or blank is left";
  EXPECT_EQ(SystemErrorText(2), text);
}
