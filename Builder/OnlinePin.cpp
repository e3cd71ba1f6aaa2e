#include "OnlinePin.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>

#include "BuilderText.h"

namespace nvbuilder {

bool ParseOnlineTrust(const std::string& text, TOnlineTrust& trust) {
  if (text == "pin") trust = TOnlineTrust::Pin;
  else if (text == "signer") trust = TOnlineTrust::Signer;
  else if (text == "none") trust = TOnlineTrust::None;
  else return false;
  return true;
}

std::array<uint8_t, 32> Sha256Of(const std::string& bytes) {
  std::array<uint8_t, 32> digest{};
#ifdef _WIN32
  // The calls that Windows 7 has (BCryptHash came with Windows 10).
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (status >= 0) status = BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0);
  for (std::size_t at = 0; status >= 0 && at < bytes.size();) {
    const ULONG part = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - at, 1u << 30));
    status = BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)), part, 0);
    at += part;
  }
  if (status >= 0) status = BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  if (hash) BCryptDestroyHash(hash);
  if (alg) BCryptCloseAlgorithmProvider(alg, 0);
  if (status < 0) throw EBuildError("cannot compute a SHA-256 hash (CNG status " + std::to_string(status) + ")");
#else
  unsigned int size = 0;
  if (!EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) || size != digest.size())
    throw EBuildError("cannot compute a SHA-256 hash (libcrypto)");
#endif
  return digest;
}

std::string HexText(const uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

TOnlinePlan PlanOnlineCheck(TOnlineTrust trust, bool makesFull, bool signs, const std::string& where,
                            std::vector<std::string>& warnings) {
  TOnlinePlan plan;
  switch (trust) {
    case TOnlineTrust::Default:
      plan.Check = makesFull;
      break;
    case TOnlineTrust::Pin:
      if (!makesFull)
        throw EBuildError(where + ": --online-trust pin needs the full package in the same build (FullSetupFile)");
      plan.Check = true;
      break;
    case TOnlineTrust::Signer:
      if (!signs)
        throw EBuildError(where + ": --online-trust signer needs --sign: the stub must be signed by the certificate "
                                  "that signs the full package");
      plan.Check = true;
      plan.Rule = TOnlineRule::orSigner;
      break;
    case TOnlineTrust::None:
      break;
  }
  if (!plan.Check)
    warnings.push_back(where +
                       ": the online stub checks nothing of the full package it downloads but its project: anyone on "
                       "the network path can have it install another program; build the full package with it "
                       "(a pin) or use --online-trust signer with --sign");
  return plan;
}

std::string OnlineCheckPayload(const TOnlinePlan& plan, const std::string& fullBytes) {
  if (!plan.Check) return {};
  TOnlineCheck check;
  check.Rule = plan.Rule;
  if (plan.Rule == TOnlineRule::orPin) {
    check.Size = fullBytes.size();
    check.Sha256 = Sha256Of(fullBytes);
  }
  return EncodeOnlineCheck(check);
}

std::string DescribeOnlineCheck(const std::string* resource) {
  if (!resource) return "none: only the full package's project is checked";
  TOnlineCheck check;
  if (!DecodeOnlineCheck(*resource, check)) return "damaged (the stub refuses every download)";
  if (check.Rule == TOnlineRule::orSigner)
    return "signer: the download must carry a valid Authenticode signature by the stub's signer";
  return "pin: " + std::to_string(check.Size) + " bytes, SHA-256 " + HexText(check.Sha256.data(), check.Sha256.size());
}

}  // namespace nvbuilder
