// The online stub's check of the downloaded full package before it is opened:
// the pin (size and SHA-256, the hash taken as the bytes arrive) or the
// signer rule (a valid Authenticode signature by the certificate that signed
// the stub, verified by the system).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "PackageFormat.h"

// The check an online stub carries (OnlineCheckResource of its own file).
// False when it carries none; a resource that does not decode raises
// Exception "本安装程序的下载校验数据已损坏。".
bool ReadOnlineCheck(const std::wstring& stubFile, TOnlineCheck& check);

// Why a download of size bytes with this digest is not the pinned file;
// empty when it is.
std::wstring PinProblem(const TOnlineCheck& pin, uint64_t size, const std::array<uint8_t, 32>& digest);

// Why the downloaded file (open, readable through file) fails the signer rule
// of the stub stubFile: no valid signature (WinVerifyTrust's verdict, no
// revocation lookups), the stub carries none, or another certificate signed
// it. Empty when the file passes.
std::wstring SignerProblem(HANDLE file, const std::wstring& fileName, const std::wstring& stubFile);
