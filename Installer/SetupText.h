// Portable text rules of the setup program.
#pragma once

#include <string>

// The user agreement: a byte-order mark selects UTF-16 LE, UTF-16 BE or
// UTF-8; without one the bytes are in the system's ANSI code page, decoded
// by ansiToWide. Lines split at CR, LF, CR LF and U+2028, each ended with
// CR LF (the last one included).
std::wstring DecodeLicenseText(const std::string& bytes, std::wstring (*ansiToWide)(const std::string&));

// The visit address with "rcode=%s" appended after "?" (or "&" when the
// address has a query already): %s = the leading digits of what follows the
// first "_" of the program's file name (programPath without folder and
// extension). Unchanged when there is no "_" or no digit after it.
std::wstring AppendRCode(const std::wstring& address, const std::wstring& programPath);

// The message of a file whose content the package cannot give: names the
// file being installed, then the cause.
std::wstring DamagedFileMessage(const std::wstring& fileName, const std::wstring& cause);
