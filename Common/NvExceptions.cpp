// Exception messages and contract-check failures.
#include "NvExceptions.h"

#include "NvSysUtils.h"

void NvAssertFailed(const std::wstring& message, const wchar_t* source, int line) {
  throw EAssertionFailed(Format(L"%s (%s, line %d)", {message, std::wstring(source ? source : L""),
                                                      static_cast<int64_t>(line)}));
}

std::wstring ExceptionMessage(const std::exception& e) {
  if (auto* ex = dynamic_cast<const Exception*>(&e)) return ex->Message();
  return Utf8Decode(e.what());
}
