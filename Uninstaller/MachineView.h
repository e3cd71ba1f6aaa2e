// The machine as the removal plan sees it (RemovalPlan.h), read from this
// Windows: files, their checksums, registry values in the 32-bit view, the
// folders no product owns; and the journals of the other installed products
// of this setup program.
#pragma once

#include <string>
#include <vector>

#include "InstallJournal.h"
#include "RemovalPlan.h"

class TWinMachineView : public TMachineView {
public:
  bool FileState(const std::wstring& path, uint64_t& size, uint64_t& writeTime) const override;
  bool FileChecksum(const std::wstring& path, uint32_t& checksum) const override;
  bool ValueData(TRegRootKey root, const std::wstring& key, const std::wstring& name, TRegData& data) const override;
  bool IsProtectedFolder(const std::wstring& folder) const override;
};

// The finished journals of the products of this setup program registered on
// the machine (their uninstall entries, "<GUID>_lm"), except guid's own.
// Entries without a readable journal are passed over.
std::vector<TJournalContents> OtherProductsJournals(const std::wstring& guid);
