// tls/SBHTTPSClient.h: TElHTTPSClient, the synchronous HTTP/1.0 and HTTP/1.1 client for
// "http" and "https" URLs, on the simple SSL client: the same component speaks plain HTTP
// (engine disabled) or HTTPS (engine enabled) over its socket, directly or through an HTTP
// proxy (absolute-form requests for http, a CONNECT tunnel for https).
//
// A request (Get, Head) prepares the request text from RequestParameters, connects when no
// connection to the same route is open, sends, and reads the response through the
// HTTPResponseReader below; 301 and 302 are followed (MaxRedirections), and with UseNTLMAuth
// 401/407 answers repeat the request up to three times. The decoded body goes to OnData and
// OutputStream.
//
// What must stay true:
//   - a request that returns has delivered a whole body: a body cut short (Content-Length not
//     reached, chunked coding without its last chunk, a compressed body without its end)
//     raises EElHTTPSClientError naming what was expected and what arrived; what arrived stays
//     in the stream. A connection that breaks before any status line returns 0;
//   - credentials (from the URL or RequestParameters) go only to the origin (scheme, host,
//     port) of the caller's URL, never to another origin a redirect names, and proxy
//     credentials only to the proxy;
//   - nothing from a URL, a Location or a header value can add a line to a request: CR, LF
//     and NUL are refused;
//   - a connection that timed out or failed mid-response is closed before the error leaves,
//     so the next request starts on a fresh one.
//
// Response state machine (HTTPResponseReader::State): StatusLine -> HeaderLines -> (Body |
// ChunkSize -> ChunkData -> ChunkEnd -> ... -> Trailer) -> Done; a failure raises and the
// reader stays Failed until Reset.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/DateTime.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"
#include "tls/SBHTTPAuth.h"
#include "tls/SBSimpleSSL.h"

RTL_EXCEPTION(EElHTTPSClientError, ECryptoLibraryError);

inline constexpr const char* SUnsupportedProtocol = "Unsupported protocol name (%s) specified in URL";
inline constexpr const char* SInvalidServerResponse = "Invalid server response. Maybe, you are connecting not to HTTP port?";
inline constexpr const char* SInvalidGZIPHeader = "Invalid GZIP header.";
inline constexpr const char* SCannotInflate = "Cannot inflate compressed data.";
inline constexpr const char* SCannotGetNTLMResponse = "Cannot get valid NTLM response from server.";
inline constexpr const char* SInvalidDateTime = "Invalid date/time parameter";
inline constexpr const char* SInvalidPort = "Invalid port (%s) specified in URL";
inline constexpr const char* SInvalidURLCharacter = "Invalid character in URL";
inline constexpr const char* SInvalidHeaderValue = "Invalid character in the value of request header %s";
inline constexpr const char* SHeaderTooLong = "Response header block longer than %d bytes";
inline constexpr const char* SInvalidContentLength = "Invalid Content-Length (%s)";
inline constexpr const char* SInvalidChunk = "Invalid chunked body: %s";
inline constexpr const char* SInvalidGZIPTrailer = "Invalid GZIP trailer.";
inline constexpr const char* SBodyCutShort = "Response body incomplete: %d bytes expected, %d received";
inline constexpr const char* SChunkedCutShort =
    "Response body incomplete: the chunked body ended before its last chunk (%d bytes received)";
inline constexpr const char* SCompressedCutShort =
    "Response body incomplete: the compressed body ended before its end (%d bytes received)";

enum TSBHTTPVersion : uint8_t { hvHTTP10 = 0, hvHTTP11 = 1 };

// HTTP dates (RFC 9110 section 5.6.7): the preferred form, RFC 850 and asctime are read;
// "Invalid date/time parameter" otherwise, also when the weekday is not the date's. The value
// is taken and written as given (no time-zone conversion).
rtl::TDateTime HTTPDateToDateTime(std::string_view text);
std::string DateTimeToHTTPDate(rtl::TDateTime value);

class TElHTTPRequestParams {
public:
    std::string Accept;
    std::string AcceptCharset;
    std::string AcceptLanguage;
    std::string Connection;
    std::string ContentType;
    // "Range: bytes=start-end" when start >= 0 and end > 0 (RFC 9110 section 14.2).
    int64_t ContentRangeStart = -1;
    int64_t ContentRangeEnd = -1;
    rtl::TDateTime Date = 0;
    std::string Host;
    std::string From;
    // Credentials for the URL's origin when the URL carries none.
    std::string Username;
    std::string Password;
    std::string Referer;
    std::string UserAgent = "SecureClient";
    std::string Cookie;

    void Assign(const TElHTTPRequestParams& source) { *this = source; }

private:
    friend class TElHTTPSClient;
    // The explicit request body length; -1 computes it.
    int64_t contentLength_ = -1;
};

// The parts of an http or https URL (RFC 3986 section 3).
struct THTTPURL {
    std::string Protocol;  // as written; "http" when the URL has none
    bool HasProtocol = false;
    std::string User;
    std::string Password;
    bool HasUserInfo = false;
    std::string Host;
    uint16_t Port = 0;  // 0: the scheme's default
    std::string Path;   // path and query, "/" when empty; never the fragment
};
// Splits a URL; raises EElHTTPSClientError for a port outside 1-65535 or not a number, and
// for CR, LF, NUL or another control character anywhere in it.
THTTPURL ParseHTTPURL(std::string_view url);
// Resolves a Location value against the URL it answered (RFC 3986 section 5.2); the result
// is absolute.
std::string ResolveHTTPReference(const THTTPURL& base, const std::string& baseText, std::string_view reference);

// Reads one HTTP response as its bytes arrive (RFC 9112): the status line, the header
// fields, and the body by its framing (no body for HEAD, 1xx, 204 and 304; chunked; a
// Content-Length; or until the close), decoded from gzip or deflate. Interim (1xx)
// responses are read and passed over. Outside input: every line and the header block have a
// ceiling; a failure raises EElHTTPSClientError and sticks.
class HTTPResponseReader {
public:
    static constexpr size_t kHeaderLimit = 65536;
    static constexpr size_t kChunkLineLimit = 4096;
    static constexpr size_t kTrailerLimit = 65536;

    enum class State : uint8_t { StatusLine, HeaderLines, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Done, Failed };

    // Called once the final header block is read; the client may look at the fields.
    std::function<void()> OnHeader;
    // Decoded body bytes.
    std::function<void(const uint8_t* data, size_t size)> OnBody;

    HTTPResponseReader();
    ~HTTPResponseReader();
    HTTPResponseReader(const HTTPResponseReader&) = delete;
    HTTPResponseReader& operator=(const HTTPResponseReader&) = delete;

    // A new response to a request of this kind.
    void Reset(bool headRequest, bool viaProxy);
    // Takes the bytes that arrived; bytes after the end of the response are dropped.
    void Feed(const uint8_t* data, size_t size);
    // The connection ended: a body that runs to the close is complete; one that did not reach
    // its end raises. Nothing happens before the status line was read whole.
    void FinishAtClose();

    State GetState() const { return state_; }
    bool HeaderComplete() const { return state_ != State::StatusLine && state_ != State::HeaderLines; }
    bool Complete() const { return state_ == State::Done; }
    // A response whose body ran to the close cannot leave its connection open.
    bool BodyEndsAtClose() const { return toClose_; }

    int StatusCode = 0;
    std::string ReasonPhrase;
    int ServerVersion = 0;  // 10 or 11
    std::vector<std::string> HeaderLines;
    int64_t ContentLength = -1;
    bool Chunked = false;
    bool Gzip = false;
    bool Deflate = false;
    // The Connection field: -1 absent, 0 close, 1 keep-alive.
    int ConnectionField = -1;
    bool ProxyKeepAliveRefused = false;
    std::vector<std::string> Cookies;
    std::vector<std::string> WWWAuthenticate;
    std::vector<std::string> ProxyAuthenticate;
    std::string DateField;
    std::string Location;
    // Raw body bytes read (after the header), and decoded bytes delivered.
    int64_t RawBodyBytes = 0;
    int64_t Delivered = 0;

private:
    [[noreturn]] void Fail(const std::string& message);
    // Forgets what a header block told: before each response, and after an interim one.
    void ClearHeaderFields();
    // Takes one line from pending_ (without its CR LF) when a whole one is there; a line
    // longer than room fails with what, formatted with limit.
    bool TakeLine(std::string& line, size_t room, size_t limit, const char* what);
    void ParseStatusLine(const std::string& line);
    void ParseField(const std::string& line);
    void HeaderDone();
    void BodyBytes(const uint8_t* data, size_t size);
    void Decode(const uint8_t* data, size_t size);
    void Inflate(const uint8_t* data, size_t size);
    void GzipTrailer(const uint8_t* data, size_t size);
    void EndOfBody();
    void Emit(const uint8_t* data, size_t size);

    State state_ = State::StatusLine;
    bool head_ = false;
    bool viaProxy_ = false;
    bool toClose_ = false;
    std::string pending_;
    size_t headerBytes_ = 0;
    size_t trailerBytes_ = 0;
    uint64_t chunkLeft_ = 0;
    // Content decoding: the gzip member header, the deflate wrapper choice, the inflater and
    // the gzip trailer.
    enum class Coding : uint8_t { None, GzipHeader, DeflateStart, Inflate, GzipTrailer, End };
    Coding coding_ = Coding::None;
    std::string codingPending_;
    z_stream zs_{};
    bool zsReady_ = false;
    uLong crc_ = 0;
    uint64_t inflatedSize_ = 0;
};

using TSBHTTPCookieEvent = std::function<void(rtl::Component* sender, const std::string& cookieText)>;
using TSBDataEvent = std::function<void(rtl::Component* sender, const void* buffer, int32_t size)>;
using TSBNotifyEvent = std::function<void(rtl::Component* sender)>;
using TSBHTTPHeadersEvent = std::function<void(rtl::Component* sender, rtl::StringList& headers)>;
using TSBHTTPRedirectionEvent =
    std::function<void(rtl::Component* sender, const std::string& oldURL, const std::string& newURL, bool& allow)>;

class TElHTTPSClient : public TElCustomSimpleSSLClient {
public:
    explicit TElHTTPSClient(rtl::Component* owner = nullptr);
    ~TElHTTPSClient() override;

    // The status of the last response (0 when none arrived).
    int Get(const std::string& url);
    int Head(const std::string& url);

    void CloseConnection(bool silent) override;

    bool SSLEnabled = true;
    const TElHTTPRequestParams& RequestParameters() const { return requestParameters_; }
    TElHTTPRequestParams& RequestParameters() { return requestParameters_; }
    void SetRequestParameters(const TElHTTPRequestParams& value) { requestParameters_.Assign(value); }
    bool PreferKeepAlive = false;
    int32_t MaxRedirections() const { return maxRedirections_; }
    void SetMaxRedirections(int32_t value) {
        if (value >= -1) maxRedirections_ = value;
    }
    TSBHTTPVersion HTTPVersion = hvHTTP10;
    bool UseNTLMAuth = false;
    int32_t SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(int32_t value) {
        if (value > 0) sendBufferSize_ = value;
    }
    bool UseCompression = true;
    std::string HTTPProxyHost;
    std::string HTTPProxyUsername;
    std::string HTTPProxyPassword;
    int32_t HTTPProxyPort() const { return httpProxyPort_; }
    void SetHTTPProxyPort(int32_t value) {
        if (value >= 1 && value <= 65535) httpProxyPort_ = value;
    }
    bool UseHTTPProxy = false;

    TSBHTTPCookieEvent OnCookie;
    TSBDataEvent OnData;
    TSBNotifyEvent OnDocumentBegin;
    TSBNotifyEvent OnDocumentEnd;
    TSBHTTPHeadersEvent OnReceivingHeaders;
    TSBHTTPHeadersEvent OnPreparedHeaders;
    TSBProgressEvent OnProgress;
    TSBHTTPRedirectionEvent OnRedirection;

    // Not published: where the decoded body goes as well (not owned).
    rtl::Stream* OutputStream = nullptr;
    int StatusCode() const { return statusCode_; }
    const std::string& ReasonPhrase() const { return reader_.ReasonPhrase; }
    rtl::TDateTime ServerDate() const { return serverDate_; }
    const rtl::StringList& RequestHeaders() const { return requestHeaders_; }
    const rtl::StringList& ResponseHeaders() const { return responseHeaders_; }
    const rtl::StringList& ReceivedCookies() const { return receivedCookies_; }

protected:
    void StoreReceivedData(const uint8_t* buffer, size_t size) override;
    void PrepareSocket(TElSocket& socket) override;

private:
    int DoRequest(int method, const std::string& url);
    void PrepareRequest(int method, const std::string& url);
    bool SendAndReceive();
    void EndOfConnection();
    void HeaderArrived();
    void Deliver(const uint8_t* data, size_t size);
    void ResponseComplete();
    // Replaces the preemptive authorization lines with the answers to the challenges of the
    // last response (user and password: the origin's credentials of this request).
    void AuthenticationPass(const std::string& user, const std::string& password);
    // One direction of the pass (also a tunnel's): the line answering the first allowed
    // challenge, "" for none. A token step of the exchange in state (started: it is under way;
    // more := it asks for another round), or basicLine for Basic.
    std::string AnswerChallenges(const std::vector<std::string>& challenges, TSBAuthState& state,
                                 bool forProxy, bool& started, bool& more, const std::string& user,
                                 const std::string& password, const std::string& basicLine);
    // Fires a notification whose handler's failures are not the request's.
    void Quietly(const std::function<void()>& call);

    TElHTTPRequestParams requestParameters_;
    int32_t maxRedirections_ = 10;
    int32_t sendBufferSize_ = 65536;
    int32_t httpProxyPort_ = 3128;

    HTTPResponseReader reader_;
    rtl::StringList requestHeaders_;
    rtl::StringList responseHeaders_;
    rtl::StringList receivedCookies_;
    rtl::StringList allowedSchemes_;
    std::vector<std::string> serverChallenges_;
    std::vector<std::string> proxyChallenges_;
    TSBAuthState serverAuth_;
    TSBAuthState proxyAuth_;
    bool contextStarted_ = false;
    bool continueFlag_ = false;
    bool exchangePending_ = false;
    int exchanges_ = 0;

    int statusCode_ = 0;
    rtl::TDateTime serverDate_ = 0;
    int method_ = 0;
    std::string requestText_;
    int64_t requestBodyLength_ = 0;
    int redirects_ = 0;
    std::string nextURL_;
    bool keepAlive_ = false;
    bool retry_ = false;
    bool followingRedirect_ = false;
    bool completeHandled_ = false;
    // The request being made: its URL, the parts, and the base text scheme://host:port.
    std::string url_;
    THTTPURL target_;
    std::string baseText_;
    bool tls_ = false;
    // The origin of the caller's URL (scheme, host, port), to which credentials belong.
    std::string origin_;
    // How the open connection was made: scheme, host, port and proxy; another route closes it.
    std::string route_;
    std::string connectedRoute_;
    bool tunnel_ = false;
};
