// The package container (zlib stream masked with XOR by index mod 255) on
// in-memory streams, over the codec of PackageCodec.h, and the path constants
// "{pf}", "{group}", "{desktop}", "{app}" and "{srcexe}".
#pragma once

#include <string>

#include "NvStream.h"

class TSetupfn {
public:
  TSetupfn() = delete;

  // Unmasks and inflates a payload in place; afterwards the stream holds the
  // plain content, position 0. An empty payload gives empty content. Damaged
  // data raises EZlibError and leaves the unmasked, still compressed bytes.
  static void DecodeStream(TMemoryStream* stream);
  static void DecodeStream(TMemoryStream& stream) { DecodeStream(&stream); }
  // Compresses (zlib, level 9) and masks the content in place; afterwards the
  // stream holds the payload, position 0. Empty content gives an empty payload.
  static void EncodeStream(TMemoryStream* stream);
  static void EncodeStream(TMemoryStream& stream) { EncodeStream(&stream); }
  // The XOR mask alone, over the whole buffer: byte i ^= i mod 255.
  static void MaskBytes(std::string& bytes);

  // Replaces the path constants (ignoring case) and then collapses doubled
  // backslashes, except the leading pair of a network path.
  static std::wstring ExpandConstants(const std::wstring& text);

  // "{app}": the installation folder, stored as given (the folder check adds
  // the trailing backslash). Empty until set.
  static void SetAppPath(const std::wstring& path);
  static std::wstring AppPath();
  // The product title that "{group}" appends to the programs folder.
  static void SetProductTitle(const std::wstring& title);
  static std::wstring ProductTitle();

  // The folder values. On Windows they come from the system when first needed
  // (Program Files, desktop, all-users Start-menu programs); on other systems
  // they are empty. A setter replaces the value for the rest of the run.
  static std::wstring ProgramFilesPath();  // "{pf}", no trailing backslash
  static std::wstring DesktopPath();       // "{desktop}", trailing backslash or empty
  static std::wstring ProgramsPath();      // all-users Start-menu programs, trailing backslash or empty
  static std::wstring GroupPath();         // "{group}": programs folder + title, trailing backslash
  static void SetProgramFilesPath(const std::wstring& path);  // one trailing backslash removed
  static void SetDesktopPath(const std::wstring& path);
  static void SetProgramsPath(const std::wstring& path);

  // "{srcexe}": the running program's full path. On Windows the module's own
  // path; elsewhere empty. A non-empty override replaces it (tests, tools).
  static std::wstring SrcExePath();
  static void SetSrcExePath(const std::wstring& path);

  // Computes the folder values from the system now, if not done yet.
  static void InitFolders();
};
