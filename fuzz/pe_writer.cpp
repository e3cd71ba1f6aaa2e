// The builder's resource writer on images the reader accepts: the package
// edits (package resources set, the markers removed) either save or raise
// EPeFormatError, and a saved image reads back with exactly the edited
// resources. The input's last bytes choose the edits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "NvExceptions.h"
#include "PeResources.h"

namespace {

const wchar_t* const kNames[] = {L"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}", L"{0B1E0F2A-7C55-4B3F-9B7E-2D4A1C6E8F00}",
                                 L"{a1b2c3d4-0000-4000-8000-000000000001}", L"NV_DATA"};

bool SameEntries(const TPeImage& a, const TPeImage& b) {
  if (a.Resources().size() != b.Resources().size()) return false;
  for (size_t i = 0; i < a.Resources().size(); ++i) {
    const TPeResourceEntry& x = a.Resources()[i];
    const TPeResourceEntry& y = b.Resources()[i];
    if (!x.Type.SameAs(y.Type) || !x.Name.SameAs(y.Name) || x.Language != y.Language || x.Data != y.Data ||
        x.CodePage != y.CodePage)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t ops = data[size - 1], sizes = data[size - 2], lang = data[size - 3];
  const std::string bytes(reinterpret_cast<const char*>(data), size - 3);
  TPeImage image;
  try {
    image = TPeImage::Parse(bytes);
  } catch (const Exception&) {
    return 0;
  }
  const std::string payload = bytes.substr(0, std::min<size_t>(bytes.size(), size_t(sizes) * 97));
  if (ops & 1) image.RemoveResource(PE_RT_RCDATA, kNames[0]);
  if (ops & 2) image.SetRcData(kNames[(ops >> 2) & 3], payload, lang);
  if (ops & 16) image.SetRcData(kNames[(ops >> 5) & 3], std::string(sizes, 'x'));
  if ((ops & 0x80) && !image.Resources().empty()) {
    const TPeResourceEntry first = image.Resources().front();
    image.RemoveResource(first.Type, first.Name);
  }
  std::string saved;
  try {
    saved = image.Save();
  } catch (const Exception&) {
    return 0;
  }
  TPeImage again;
  try {
    again = TPeImage::Parse(saved);
  } catch (const Exception& e) {
    std::fprintf(stderr, "the saved image does not read back: %s\n", e.what());
    NV_FUZZ_CHECK(!"saved image reads back");
  }
  NV_FUZZ_CHECK(SameEntries(image, again));
  NV_FUZZ_CHECK(TPeImage::StoredChecksum(saved) == TPeImage::ComputeChecksum(saved));
  return 0;
}
