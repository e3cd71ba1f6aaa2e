// The install journal's reader on any bytes: it gives records or raises its
// own exception; records it gives encode back to bytes that read the same,
// and every cut of those bytes reads as a prefix of them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "InstallJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TJournalContents contents;
  try {
    contents = DecodeJournal(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const EJournalError&) {
    return 0;
  }
  std::string again = JournalHeader();
  for (const TJournalEntry& e : contents.Entries) {
    again += EncodeJournalRecord(e);
    NV_FUZZ_CHECK(!JournalEntryText(e).empty());
  }
  const TJournalContents reread = DecodeJournal(again);
  NV_FUZZ_CHECK(!reread.Cut && reread.Entries == contents.Entries);
  // A cut in the last record drops just that record.
  if (!contents.Entries.empty()) {
    const TJournalContents cut = DecodeJournal(again.substr(0, again.size() - 1));
    NV_FUZZ_CHECK(cut.Cut && cut.Entries.size() == contents.Entries.size() - 1);
  }
  return 0;
}
