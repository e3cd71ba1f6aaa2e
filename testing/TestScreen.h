// Screenshots of the test display, kept for a reader of the test run (not
// compared by any test).
#pragma once

#include <string>

namespace nvtest {

// Saves the whole screen as <build>/screenshots/<name>.png, after a short
// pause for painting.
void Screenshot(const std::wstring& name);

}  // namespace nvtest
