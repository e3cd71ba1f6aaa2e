// Contract-check failures.
#include "NvExceptions.h"

#include "NvSysUtils.h"

void NvAssertFailed(const std::wstring& message, const wchar_t* source, int line) {
  throw EAssertionFailed(Format(L"%s (%s, line %d)", {message, std::wstring(source ? source : L""),
                                                      static_cast<int64_t>(line)}));
}
