// The system's own text for an error code: on Windows a Win32 error or an
// HRESULT (through FormatMessage), elsewhere an errno value.
#pragma once

#include <string>

// The text without its final line break and blanks; empty when the system
// has none. On Windows, messageModule (an HMODULE, for example winhttp.dll)
// is searched before the system's own table; it is ignored elsewhere.
std::wstring SystemErrorText(unsigned long code, const void* messageModule = nullptr);
// SystemErrorText, or "System error N" when the system has no text.
std::wstring SysErrorMessage(unsigned long code);
