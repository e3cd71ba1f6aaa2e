#include "DownloadCheck.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "NvExceptions.h"
#include "NvResourceModule.h"
#include "NvSysError.h"
#include "NvSysUtils.h"

namespace {

// WinVerifyTrust's verdict in words: the system's text where it has one.
std::wstring TrustFailureText(LONG code) {
  std::wstring text;
  switch (static_cast<HRESULT>(code)) {
    case TRUST_E_NOSIGNATURE: text = L"the file carries no signature"; break;
    case TRUST_E_BAD_DIGEST: text = L"the file was changed after it was signed"; break;
    case CERT_E_UNTRUSTEDROOT: text = L"the certificate chain ends in an untrusted root"; break;
    case CERT_E_CHAINING: text = L"the certificate chain cannot be built"; break;
    case CERT_E_EXPIRED: text = L"a certificate has expired or is not yet valid"; break;
    case CERT_E_REVOKED: text = L"a certificate was revoked"; break;
    case TRUST_E_EXPLICIT_DISTRUST: text = L"the certificate is marked as not trusted"; break;
    default: {
      std::wstring system = SysErrorMessage(static_cast<DWORD>(code));
      while (!system.empty() && (system.back() == L'\n' || system.back() == L'\r' || system.back() == L' '))
        system.pop_back();
      text = system.empty() ? L"verification failed" : system;
    }
  }
  return text + L", 0x" + IntToHex(static_cast<uint32_t>(code), 8);
}

// The signer certificate (encoded) of a file whose Authenticode signature
// verifies; otherwise the verdict in failure.
bool VerifiedSigner(HANDLE file, const std::wstring& fileName, std::string& signer, std::wstring& failure) {
  WINTRUST_FILE_INFO info{};
  info.cbStruct = sizeof(info);
  info.pcwszFilePath = fileName.c_str();
  info.hFile = file;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  // Nothing is fetched from the network while the setup verifies.
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  bool ok = verdict == ERROR_SUCCESS;
  if (ok) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signerInfo = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signerInfo && signerInfo->csCertChain > 0 && signerInfo->pasCertChain && signerInfo->pasCertChain[0].pCert) {
      const CERT_CONTEXT* cert = signerInfo->pasCertChain[0].pCert;
      signer.assign(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
    } else {
      ok = false;
      failure = L"the signer's certificate cannot be read";
    }
  } else {
    failure = TrustFailureText(verdict);
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return ok;
}

}  // namespace

bool ReadOnlineCheck(const std::wstring& stubFile, TOnlineCheck& check) {
  TNvResourceModule stub;
  std::string bytes;
  if (!stub.Open(stubFile) || !stub.Read(OnlineCheckResource, PackageResourceType, bytes)) return false;
  if (!DecodeOnlineCheck(bytes, check)) throw Exception(L"本安装程序的下载校验数据已损坏。");
  return true;
}

std::wstring PinProblem(const TOnlineCheck& pin, uint64_t size, const std::array<uint8_t, 32>& digest) {
  if (size != pin.Size)
    return Format(L"下载的安装包大小不符：收到 %s 字节，应为 %s 字节。",
                  {IntToStr(static_cast<int64_t>(size)), IntToStr(static_cast<int64_t>(pin.Size))});
  if (digest != pin.Sha256) return L"下载的安装包与发布的不一致：SHA-256 校验值不符。";
  return {};
}

std::wstring SignerProblem(HANDLE file, const std::wstring& fileName, const std::wstring& stubFile) {
  std::string downloaded, own;
  std::wstring failure;
  if (!VerifiedSigner(file, fileName, downloaded, failure))
    return Format(L"下载的安装包没有有效的数字签名（%s）。", {failure});
  HANDLE stub = CreateFileW(stubFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  bool stubSigned = false;
  if (stub == INVALID_HANDLE_VALUE) {
    failure = SysErrorMessage(GetLastError());
  } else {
    stubSigned = VerifiedSigner(stub, stubFile, own, failure);
    CloseHandle(stub);
  }
  if (!stubSigned) return Format(L"本安装程序没有有效的数字签名（%s），无法验证下载的安装包。", {failure});
  if (downloaded != own) return L"下载的安装包不是由本安装程序的发布者签名的。";
  return {};
}
