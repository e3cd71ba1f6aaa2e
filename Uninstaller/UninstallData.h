// The uninstall data the install left in the installation folder: the setup
// project ("Uninstall.da1") and the product picture ("Uninstall.da2"), both
// in the package container form (plain XML and plain PNG from a development
// run are accepted as well).
#pragma once

#include <memory>
#include <string>

#include "NvExceptions.h"
#include "SetupProject.h"

// "Uninstall.da1" missing, unreadable or damaged; the message is the text
// shown to the user ("path: cause").
NV_DECLARE_EXCEPTION(EUninstallDataError, Exception);

class TUninstallData {
public:
  TUninstallData();

  // Reads both files from folder (with or without a trailing backslash). A
  // missing or damaged "Uninstall.da1" raises EUninstallDataError; a missing
  // or damaged picture only leaves IconPng empty.
  void Load(const std::wstring& folder);

  TSetupScript& Script() { return *FScript; }
  const TSetupBaseInfo& Info() const { return *FScript->BaseInfo(); }
  // The product picture as PNG bytes; empty when none could be read.
  const std::string& IconPng() const { return FIconPng; }

  // The plain content of one data file: the container decoded, or the bytes
  // unchanged when they already are the plain form (firstPlain: the byte a
  // plain file starts with; an encoded one never starts with it). Raises
  // Exception with the cause.
  static std::string DecodeDataFile(const std::string& bytes, char firstPlain);

private:
  std::unique_ptr<TSetupScript> FScript;
  std::string FIconPng;
};
