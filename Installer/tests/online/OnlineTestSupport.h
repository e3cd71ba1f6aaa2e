// Support for the online tests: online stubs and their full packages made by
// the package builder, the full package served by the loopback test server
// (netserver.py), and what the server and the proxy saw.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "NetTestEnv.h"
#include "WineTestSupport.h"

namespace nvtest {

const nvnet::TNetConfig& Net();
// "http://127.0.0.1:<port><path>" of the plain test server.
std::wstring HttpUrl(const std::wstring& path);

// How TOnlineProduct builds its packages.
struct TOnlineBuild {
  std::string Trust;        // the builder's --online-trust ("": its default, a pin)
  std::string SignCommand;  // --sign (see SignWith)
  std::string Big;          // the content of one more file, {app}big.bin (empty: none)
};

// A product built as a full package (served as /files/<name>.exe) and an
// online stub that downloads it. Two text files, one in a subfolder, and a
// registry value.
struct TOnlineProduct {
  // name: unique per test (folders, served file name); the stub fetches url
  // when given, else the served full package.
  TOnlineProduct(const std::wstring& name, const std::wstring& title, const std::wstring& url = L"",
                 bool serveFull = true, const TOnlineBuild& build = {});
  ~TOnlineProduct();
  std::wstring Root;        // FreshDir(name)
  std::wstring App;         // the default installation folder (trailing backslash)
  std::wstring FullPath;    // the full package in the served folder (or under Root)
  std::wstring StubPath;    // Root + "setup.exe"
  std::wstring ServedName;  // "<name>.exe"
  std::wstring Url;         // what the stub fetches
  std::wstring RegKey;      // HKCU key of the registry value
  std::unique_ptr<TTestPackage> Package;
  std::string Big;
  // The installed files and registry value are there with their content.
  bool Installed() const;
  // Another full package of the same product (same GUID, no new stub) as
  // Root + fileName: its readme reads readme, signed with signCommand
  // (empty: not signed). The path.
  std::wstring BuildFullVariant(const std::wstring& fileName, const std::string& readme,
                                const std::string& signCommand);
};

// The builder's --sign command that signs with the code-signing certificate
// name ("publisher", "rival": issued by the trusted test CA; "stranger": by
// the other one) through testsign.sh.
std::string SignWith(const std::string& name);

// For its lifetime the default handler of "http" addresses (the browser) is
// the probe program, which appends "browser begin|<folder>|<command line>"
// to log.
class TBrowserStandIn {
public:
  explicit TBrowserStandIn(const std::wstring& log);
  ~TBrowserStandIn();
  TBrowserStandIn(const TBrowserStandIn&) = delete;
  TBrowserStandIn& operator=(const TBrowserStandIn&) = delete;

private:
  std::wstring FOld;
};

// The served folder, as a Wine path with a trailing backslash.
std::wstring ServedDir();
// The lines the test servers logged so far ("GET /path?query", followed by
// " [bytes=N-]" for a range request).
std::string RequestLog();
std::string ProxyLog();
// The newest "{GUID}.exe" of the temporary folder (full path; empty: none).
std::wstring NewestDownloadedFile();
// How many "{GUID}.exe" files the temporary folder holds.
std::size_t DownloadedFileCount();

// Whether the folder holds nothing (true also when it does not exist).
bool FolderIsEmpty(const std::wstring& dir);

}  // namespace nvtest
