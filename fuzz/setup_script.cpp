// Loading a setup project from arbitrary bytes, as start-up does with the
// decoded project resource: it either loads or raises the library's own
// exception. A loaded project is written back as the uninstall data is, and
// that text loads again into a project that writes the very same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "NvExceptions.h"
#include "NvStream.h"
#include "SetupProject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TSetupScript script;
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  try {
    script.LoadFromStream(stream, 0);
  } catch (const Exception&) {
    return 0;
  }
  TMemoryStream saved;
  script.SaveToStream(saved, 0);
  TSetupScript again;
  saved.Rewind();
  try {
    again.LoadFromStream(saved, 0);
  } catch (const Exception& e) {
    std::fprintf(stderr, "the written project does not load: %s\n", e.what());
    NV_FUZZ_CHECK(!"written project loads");
  }
  TMemoryStream savedAgain;
  again.SaveToStream(savedAgain, 0);
  NV_FUZZ_CHECK(savedAgain.Bytes() == saved.Bytes());
  return 0;
}
