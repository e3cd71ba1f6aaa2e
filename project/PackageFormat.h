// The form of a package as the builder writes it and the installer reads it:
// resource names and type, the uninstall data file names and the uninstall
// registry key texts.
#pragma once

#include <cstdint>

// Resource holding the full project; its presence makes a full package.
inline constexpr wchar_t FullPackageMarker[] = L"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}";
// Resource holding the online stub's project (looked for only without the full marker).
inline constexpr wchar_t OnlineStubMarker[] = L"{F907FF9D-0131-45D9-9469-A2CD78FB4793}";
// Numeric resource type of every package resource (RCDATA).
inline constexpr uint16_t PackageResourceType = 10;

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
