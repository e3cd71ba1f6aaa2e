// The installer's network client: one HTTP GET over WinHTTP, into memory or
// streamed piece by piece (also of a range of the resource), the proxy
// settings record every request applies, and the optional log sink.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "NvStream.h"
#include "NvXmlPersistent.h"

// Proxy settings. Port 8080 and no proxy until set; Assign copies all five.
class TNvHttpProxy : public TXmlPersistent {
public:
  std::wstring Address;   // host name or address of the proxy server
  bool Checked = false;   // use the proxy; false means a direct connection
  std::wstring Password;
  int32_t Port = 8080;
  std::wstring UserName;  // empty: no proxy authentication

  NV_PUBLISHED(TNvHttpProxy, TXmlPersistent,
    NV_FIELD(Address),
    NV_FIELD(Checked),
    NV_FIELD(Password),
    NV_FIELD(Port),
    NV_FIELD(UserName));
};

// The process-wide proxy record that every request applies; created on first
// call, freed at program end.
TNvHttpProxy* GlobalHttpProxy();

enum TWorkMode : int { wmRead, wmWrite };

class TNvHttp;

// A transfer phase starts; AWorkCountMax is the body's declared length, 0 when
// it is not known.
using TWorkBeginEvent = std::function<void(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
// AWorkCount: the bytes moved so far in this phase.
using TWorkEvent = std::function<void(TNvHttp* Sender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TNvHttp* Sender, TWorkMode AWorkMode)>;

// Where request and response records go: a window that receives each record
// with SendMessage(Handle, WM_NVHTTPLOG, 0, (LPARAM)text), text a NUL-ended
// UTF-16 string of CR LF ended lines, valid only during the call.
constexpr UINT WM_NVHTTPLOG = WM_USER + 1;  // 0x0401

class TNvHttpLogSink {
public:
  explicit TNvHttpLogSink(HWND handle) : Handle(handle) {}
  HWND Handle;
};

// The process-wide log sink (none unless set); SetHttpLogSink takes ownership
// and frees the previous sink. Freed at program end.
TNvHttpLogSink* HttpLogSink();
void SetHttpLogSink(std::unique_ptr<TNvHttpLogSink> sink);

// One client: each Get is one blocking GET, of the whole body into memory or
// streamed to the caller.
// Every request sends Cache-Control "no-cache", Accept "*/*", Connection
// "Keep-Alive" and User-Agent "Mozilla/3.0 (compatible; Indy Library)" over
// HTTP/1.1; follows up to 15 redirects in one chain; keeps the cookies it
// receives for its later requests; verifies TLS server certificates against
// the system's trusted roots. The system's proxy configuration is never used,
// only GlobalHttpProxy().
class TNvHttp {
public:
  TNvHttp();
  ~TNvHttp();
  TNvHttp(const TNvHttp&) = delete;
  TNvHttp& operator=(const TNvHttp&) = delete;

  // Fetches Url into ResponseStream. True when the whole body arrived with a
  // 2xx status (ResponseStream then positioned at 0); false on any failure,
  // with its message in ErrorMessage and the body part that arrived left in
  // ResponseStream. On the main thread the hourglass cursor shows meanwhile.
  bool Get(const std::wstring& Url);

  // A GET of the end of a resource, from byte From on. With a Validator (an
  // ETag or Last-Modified date an earlier answer gave) it is sent as
  // If-Range: a server whose copy has changed answers with the whole body.
  struct TRange {
    int64_t From = 0;
    std::wstring Validator;
  };
  // What a success answer says of its body.
  struct TAnswer {
    unsigned Status = 0;
    int64_t Offset = 0;   // where the body starts in the resource (a 206's Content-Range; else 0)
    int64_t Length = -1;  // the body's declared length; -1 when unknown
    int64_t Total = -1;   // the whole resource's length; -1 when unknown
    std::wstring ETag;    // as sent, quotes included; empty when none
    std::wstring LastModified;
  };
  using TAnswerEvent = std::function<void(const TAnswer& answer)>;
  // One piece of the body; the buffer is reused for the next piece.
  using TBodySink = std::function<void(const char* data, std::size_t size)>;

  // Fetches Url (from range->From on, when range is given) without keeping
  // the body: onAnswer once a success answer's headers are in, then every
  // piece of the body to onBody as it arrives, in order, through one buffer
  // of a fixed size (memory does not grow with the body; ResponseStream
  // stays empty). True when the whole body arrived; false on a failure, with
  // ErrorMessage, StatusCode and BodyBroken set. An exception of either
  // callback ends the transfer and comes out of Get as it is.
  bool Get(const std::wstring& Url, const TRange* range, const TAnswerEvent& onAnswer, const TBodySink& onBody);

  // The status of the last answer of the last Get (0: no answer arrived).
  unsigned StatusCode = 0;
  // The last failed Get broke in the body of a success answer (the
  // connection closed or went silent midway): what arrived is a beginning of
  // the body.
  bool BodyBroken = false;

  // The body decoded as UTF-8, up to the first NUL; empty for an empty body.
  std::wstring ResponseText() const;

  // Limit for resolving the host name and for establishing a connection, in
  // milliseconds (60000 at start).
  void SetConnectTimeout(int milliseconds) { FConnectTimeout = milliseconds; }
  int ConnectTimeout() const { return FConnectTimeout; }
  // Longest silence allowed while the request is sent and while the answer's
  // headers and each part of its body are awaited, in milliseconds (30000 at
  // start). A peer that stops sending ends the transfer with a time-out
  // failure; a slow transfer that keeps sending runs as long as it needs.
  void SetReceiveTimeout(int milliseconds) { FReceiveTimeout = milliseconds; }
  int ReceiveTimeout() const { return FReceiveTimeout; }
  // Bound on a whole Get (every connection, redirect and the body), in
  // milliseconds; 0 (at start) means none. Each wait of the transfer is given
  // at most the time that is left, so Get returns within about this time.
  void SetTimeLimit(int milliseconds) { FTimeLimit = milliseconds; }
  int TimeLimit() const { return FTimeLimit; }

  // Message of the last failed transfer; a later success keeps it.
  std::wstring ErrorMessage;
  TMemoryStream ResponseStream;

  // Called on the thread that runs Get, for the reception of the body (wmRead).
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  static constexpr int MaxRedirects = 15;
  static constexpr int MaxProxyAuthAttempts = 3;

private:
  // Runs the request chain, the body to onBody; throws a failure message.
  void Transfer(const std::wstring& url, const TRange* range, const TAnswerEvent& onAnswer, const TBodySink& onBody);
  void WriteLog(bool response, const std::wstring& text) const;
  // Opens the session for the proxy "host:port" (empty: direct), unless the
  // open one has it already. A change of proxy starts a new session.
  void OpenSession(const std::wstring& proxy);

  void* FSession = nullptr;  // the WinHTTP session: cookies and kept-alive connections
  std::wstring FSessionProxy;
  int FConnectTimeout = 60000;
  int FReceiveTimeout = 30000;
  int FTimeLimit = 0;
};

// True on the thread that initialised the program (the user-interface thread).
bool NvIsMainThread();
