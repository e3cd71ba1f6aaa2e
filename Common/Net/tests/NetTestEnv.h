// Where the loopback servers of netserver.py listen, for Windows test
// programs: read from net.ini in the servers' folder (NV_NET_DIR, else
// <build>/net-env), which is a Unix path reached through Wine's Z: drive.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace nvnet {

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A Unix path as the Wine process sees it.
inline std::wstring UnixToWine(const std::string& path) {
  std::wstring w = L"Z:" + Widen(path);
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

inline std::string EnvVar(const wchar_t* name) {
  wchar_t buffer[2048];
  DWORD n = GetEnvironmentVariableW(name, buffer, 2048);
  if (n == 0 || n >= 2048) return {};
  return std::string(buffer, buffer + n);
}

inline std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream f(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The servers' addresses and credentials.
struct TNetConfig {
  std::string Dir;  // Unix path
  std::map<std::string, std::string> Values;

  static const TNetConfig& Get() {
    static TNetConfig config = [] {
      TNetConfig c;
      c.Dir = EnvVar(L"NV_NET_DIR");
      if (c.Dir.empty() && !EnvVar(L"NV_BINARY_DIR").empty()) c.Dir = EnvVar(L"NV_BINARY_DIR") + "/net-env";
      std::istringstream in(ReadFileBytes(UnixToWine(c.Dir + "/net.ini")));
      std::string line;
      while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) c.Values[line.substr(0, eq)] = line.substr(eq + 1);
      }
      return c;
    }();
    return config;
  }
  std::wstring W(const std::string& key) const {
    auto it = Values.find(key);
    return it == Values.end() ? std::wstring() : Widen(it->second);
  }
  std::wstring HttpUrl(const std::wstring& path) const { return L"http://127.0.0.1:" + W("http") + path; }
  // A file of the servers' folder, as a Wine path.
  std::wstring File(const std::string& name) const { return UnixToWine(Dir + "/" + name); }
};

// Trusts the test CA in the prefix's own "Root" store for the run of the
// program: before any chain is built, since the chain engine reads the store
// once. The store is committed at once (closed) so that the engine sees it.
class TTrustedTestCa : public ::testing::Environment {
public:
  void SetUp() override {
    if (TNetConfig::Get().Values.empty()) return;
    FDer = ReadFileBytes(UnixToWine(TNetConfig::Get().Values.at("ca")));
    HCERTSTORE store = OpenRoot();
    if (!store || FDer.empty()) return;
    FAdded = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(FDer.data()),
                                              static_cast<DWORD>(FDer.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr);
    CertCloseStore(store, 0);
  }
  void TearDown() override {
    if (!FAdded) return;
    HCERTSTORE store = OpenRoot();
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(FDer.data()), static_cast<DWORD>(FDer.size()));
    if (store && wanted) {
      PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
      if (found) CertDeleteCertificateFromStore(found);
    }
    if (wanted) CertFreeCertificateContext(wanted);
    if (store) CertCloseStore(store, 0);
  }
  static bool Added() { return FAdded; }

private:
  static HCERTSTORE OpenRoot() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  }
  std::string FDer;
  static inline bool FAdded = false;
};

}  // namespace nvnet
