// The form of a package as the builder writes it and the installer reads it:
// resource names and type, the uninstall data file names and the uninstall
// registry key texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Resource holding the full project; its presence makes a full package.
inline constexpr wchar_t FullPackageMarker[] = L"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}";
// Resource holding the online stub's project (looked for only without the full marker).
inline constexpr wchar_t OnlineStubMarker[] = L"{F907FF9D-0131-45D9-9469-A2CD78FB4793}";
// Numeric resource type of every package resource (RCDATA).
inline constexpr uint16_t PackageResourceType = 10;

// Resource of an online stub: how it checks the full package it downloads
// before opening it (TOnlineCheck). Stored as is, not container-encoded. A
// stub without it checks only that the download carries a full project.
inline constexpr wchar_t OnlineCheckResource[] = L"{5A918463-8D9E-428D-AC22-6B4F24DF88A2}";

// The rule of an online stub's check.
enum class TOnlineRule : uint8_t {
  // The download is the very file the builder made: its size and SHA-256.
  orPin = 1,
  // The download carries a valid Authenticode signature by the certificate
  // that signed the stub (the publisher may replace the file).
  orSigner = 2,
};

// The check's form, OnlineCheckBytes bytes: "NVOC", the form's version (1),
// the rule, two zero bytes, the full package's size (64 bits, little-endian)
// and its SHA-256; size and hash are zero for orSigner.
struct TOnlineCheck {
  TOnlineRule Rule = TOnlineRule::orPin;
  uint64_t Size = 0;
  std::array<uint8_t, 32> Sha256{};
};
inline constexpr std::size_t OnlineCheckBytes = 48;

inline std::string EncodeOnlineCheck(const TOnlineCheck& check) {
  std::string out = "NVOC";
  out += static_cast<char>(1);
  out += static_cast<char>(check.Rule);
  out.append(2, '\0');
  for (int i = 0; i < 8; ++i) out += static_cast<char>((check.Size >> (8 * i)) & 0xFF);
  out.append(reinterpret_cast<const char*>(check.Sha256.data()), check.Sha256.size());
  return out;
}

// False for anything but the form above with a known rule (a pin of size 0
// included: no full package is empty).
inline bool DecodeOnlineCheck(const std::string& bytes, TOnlineCheck& check) {
  if (bytes.size() != OnlineCheckBytes || bytes.compare(0, 4, "NVOC") != 0 || bytes[4] != 1 || bytes[6] != 0 ||
      bytes[7] != 0)
    return false;
  const auto rule = static_cast<TOnlineRule>(static_cast<uint8_t>(bytes[5]));
  if (rule != TOnlineRule::orPin && rule != TOnlineRule::orSigner) return false;
  TOnlineCheck c;
  c.Rule = rule;
  for (int i = 0; i < 8; ++i) c.Size |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[8 + i])) << (8 * i);
  for (std::size_t i = 0; i < c.Sha256.size(); ++i) c.Sha256[i] = static_cast<uint8_t>(bytes[16 + i]);
  if (rule == TOnlineRule::orPin && c.Size == 0) return false;
  check = c;
  return true;
}

// Uninstall data in the installation folder: the saved project, container-encoded.
inline constexpr wchar_t UninstallProjectFileName[] = L"Uninstall.da1";
// Uninstall data in the installation folder: the product icon as PNG, container-encoded.
inline constexpr wchar_t UninstallIconFileName[] = L"Uninstall.da2";
// Uninstall data in the installation folder: the install journal, what the
// install changed (InstallJournal.h), as written, not container-encoded.
inline constexpr wchar_t JournalFileName[] = L"Uninstall.jnl";

// Parent of the uninstall keys, under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t UninstallKeyRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Key of an installation made by this setup program: root, product GUID.
inline constexpr wchar_t UninstallKeyFormat[] = L"%s\\%s_lm";
// Key of an earlier installation registered by another setup program: root, product GUID.
inline constexpr wchar_t PreviousUninstallKeyFormat[] = L"%s\\%s_is1";

// The uninstaller in the installation folder, and the switch of its quiet run
// (the registration's "QuietUninstallString").
inline constexpr wchar_t UninstallerFileName[] = L"Uninstall.exe";
inline constexpr wchar_t UninstallerSilentSwitch[] = L"/SILENT";
