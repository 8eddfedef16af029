// net/IdHTTP.h: the HTTP/1.0 and 1.1 client.
//
// For every call the client parses the URL, decides between a direct connection, a proxy and
// a proxy tunnel (CONNECT, for "https" through a proxy), connects (each request on a
// connection of its own), writes the request line, the request object's headers and an
// optional body, then reads and judges the response: the status line (a "100" is skipped),
// the header block (at most HeaderLineLimit lines), and the body by Content-Length, chunked
// (which wins over a length) or until the server closes; a response to HEAD and a 1xx, 204 or
// 304 have none and end at their blank line. A 2xx body goes to the caller's
// stream; redirects (3xx other than 304) are followed when HandleRedirects is on, 401 and 407
// answered through the authentication registry; every other status raises
// EIdHTTPProtocolException with the status line, code and body.
//
// What a caller may rely on: when a call returns without an exception the whole body has
// reached its stream. A body cut short (a Content-Length body, a chunked body without its last
// chunk, a header block cut by a close) raises EIdHTTPIncompleteResponse naming what was
// expected and received; what arrived stays in the stream. An "https" URL needs a TLS handler
// as the IO handler, direct or through a proxy: without one the call raises
// EIdIOHandlerPropInvalid before connecting, so nothing goes out in clear. A URL, redirect
// target or header line holding CR, LF or NUL is refused before anything is sent. Credentials (user info,
// Basic authentication, an "Authorization" custom line) go only to the origin (scheme, host,
// port) of the URL the caller gave; a redirect to another origin carries none.
//
// A client is used by one thread at a time. The request object (Request()) keeps its fields
// between calls: custom lines, credentials and Accept-Encoding stay until changed.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/IdAuthenticationManager.h"
#include "net/IdCookieManager.h"
#include "net/IdHTTPHeaderInfo.h"
#include "net/IdReply.h"
#include "net/IdSSL.h"
#include "net/IdTCPClient.h"
#include "net/IdURI.h"
#include "net/IdZLibCompressorBase.h"

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPOption { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };
using TIdHTTPOptions = std::set<TIdHTTPOption>;
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
enum TIdHTTPNextStep { hnFollow, hnDone, hnNotClassified, hnReadAndGo, hnAuthenticate };
// How a request reaches its server.
enum TIdHTTPConnectionKind : uint8_t { hcDirect = 0, hcDirectTLS = 1, hcProxy = 2, hcProxyTunnel = 3 };

class EIdHTTPProtocolException : public EIdReplyRFCError {
public:
    // Message: the status line; ErrorCode: the status code; ErrorMessage: the body as text.
    EIdHTTPProtocolException(int32_t code, const std::string& statusLine, const std::string& body)
        : EIdReplyRFCError(code, statusLine), errorMessage_(body) {}
    static EIdHTTPProtocolException CreateError(int32_t code, const std::string& statusLine, const std::string& body) {
        return EIdHTTPProtocolException(code, statusLine, body);
    }
    const char* ClassName() const noexcept override { return "EIdHTTPProtocolException"; }
    int32_t ErrorCode() const { return ReplyErrorCode; }
    const std::string& ErrorMessage() const { return errorMessage_; }

private:
    std::string errorMessage_;
};

RTL_EXCEPTION(EIdUnknownProtocol, EIdException);
// A response that ended before its header block or body was complete.
RTL_EXCEPTION(EIdHTTPIncompleteResponse, EIdException);
// A response whose framing cannot be read (a bad chunk size, too many header lines).
RTL_EXCEPTION(EIdHTTPMalformedResponse, EIdException);

class TIdCustomHTTP;

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    explicit TIdHTTPRequest(TIdCustomHTTP* client) : client_(client) {}

    std::string URL;
    TIdHTTPMethod Method = hmGet;
    rtl::Stream* Source = nullptr;  // not owned
    TIdHTTPConnectionKind ConnectionKind = hcDirect;
    TIdIPVersion IPVersion = Id_IPv4;

    // The request's lines, with credentials only where they may go.
    void BuildHeaders() override;

private:
    TIdCustomHTTP* client_;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    explicit TIdHTTPResponse(TIdCustomHTTP* client) : client_(client) {}

    std::string ResponseText;  // the status line
    rtl::Stream* ContentStream = nullptr;  // the caller's, not owned
    TIdHTTPProtocolVersion ResponseVersion = pv1_1;

    // The number after the status line's first space; -1 when none.
    int32_t GetResponseCode();
    int32_t ResponseCode() const { return responseCode_; }
    // Whether the connection stays open after this response (see the unit's rules).
    bool GetKeepAlive();
    bool KeepAlive() const { return keepAlive_; }
    // Whether a body follows the header block (RFC 9112 section 6.3): not for a response to
    // HEAD, nor for a 1xx, 204 or 304, nor for a 2xx to CONNECT. Such a response ends at its
    // blank line, whatever Content-Length or Transfer-Encoding it names.
    bool HasBody();

private:
    friend class TIdHTTPProtocol;

    TIdCustomHTTP* client_;
    int32_t responseCode_ = -1;
    bool keepAlive_ = false;
    // The method of the request this response answers.
    TIdHTTPMethod requestMethod_ = hmGet;
};

class TIdHTTPProtocol {
public:
    explicit TIdHTTPProtocol(TIdCustomHTTP* client);
    TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
    TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

    TIdCustomHTTP* Client() const { return client_; }
    TIdHTTPRequest& Request() { return *request_; }
    TIdHTTPResponse& Response() { return *response_; }

    // Builds the header lines and sends the request line and headers (uri: add cookies).
    void BuildAndSendRequest(const TIdURI* uri);
    // Reads the header block (limit > 0: at most that many lines) and parses it.
    void RetrieveHeaders(int32_t limit);
    TIdHTTPNextStep ProcessResponse(const std::vector<int32_t>& ignoreReplies);

private:
    TIdHTTPNextStep RaiseOrIgnore(const std::vector<int32_t>& ignoreReplies);
    void DropBody(bool shortWait);

    TIdCustomHTTP* client_;
    std::unique_ptr<TIdHTTPRequest> request_;
    std::unique_ptr<TIdHTTPResponse> response_;
};

class TIdCustomHTTP;
using TIdHTTPOnRedirectEvent = std::function<void(TIdCustomHTTP* Sender, std::string& dest, int32_t& NumRedirect,
                                                  bool& Handled, TIdHTTPMethod& VMethod)>;
using TIdOnSelectAuthorization =
    std::function<void(TIdCustomHTTP* Sender, TIdAuthenticationClass& AuthenticationClass, TIdHeaderList& AuthInfo)>;
using TIdOnAuthorization =
    std::function<void(TIdCustomHTTP* Sender, TIdAuthentication& Authentication, bool& Handled)>;

class TIdCustomHTTP : public TIdTCPClientCustom {
public:
    // Ceiling of an error response's body kept as ErrorMessage; the rest is read and dropped.
    static constexpr int64_t kMaxErrorBody = 1 << 20;
    // The read time-out while a redirect's body is dropped.
    static constexpr int32_t kRedirectBodyTimeout = 4000;

    explicit TIdCustomHTTP(rtl::Component* owner = nullptr);
    ~TIdCustomHTTP() override;

    int32_t AuthRetries = 0;
    int32_t AuthProxyRetries = 0;
    TIdZLibCompressorBase* Compressor = nullptr;
    int32_t MaxAuthRetries = 3;
    int32_t HeaderLineLimit = 255;
    bool AllowCookies = true;
    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    // The requests of the current call so far (a redirect followed adds one).
    int32_t RedirectCount = 0;
    // With HandleRedirects, this many redirects are followed; the next redirect response ends
    // the call normally, its Location set.
    int32_t RedirectMaximum = 15;
    bool HandleRedirects = false;
    TIdHTTPOptions HTTPOptions{hoForceEncodeParams};

    TIdHTTPOnRedirectEvent OnRedirect;
    TIdOnSelectAuthorization OnSelectAuthorization;
    TIdOnSelectAuthorization OnSelectProxyAuthorization;
    TIdOnAuthorization OnAuthorization;
    TIdOnAuthorization OnProxyAuthorization;

    TIdCookieManager* CookieManager() const { return cookieManager_; }
    // Frees a manager the client made itself; watches the new one.
    void SetCookieManager(TIdCookieManager* manager);
    TIdAuthenticationManager* AuthenticationManager() const { return authenticationManager_; }
    void SetAuthenticationManager(TIdAuthenticationManager* manager);
    void SetCompressor(TIdZLibCompressorBase* compressor);

    TIdProxyConnectionInfo& ProxyParams() { return proxyParams_; }
    TIdHTTPRequest& Request() { return protocol_->Request(); }
    TIdHTTPResponse& Response() { return protocol_->Response(); }
    int32_t ResponseCode() { return Response().GetResponseCode(); }
    const std::string& ResponseText() { return Response().ResponseText; }
    const TIdURI& URL() const { return uri_; }

    void Get(const std::string& url, rtl::Stream& responseContent);
    void GetIgnoring(const std::string& url, rtl::Stream& responseContent,
                     const std::vector<int32_t>& ignoreReplies);
    void PostStream(const std::string& url, rtl::Stream& source, rtl::Stream& responseContent);
    void PostStrings(const std::string& url, rtl::StringList& source, rtl::Stream& responseContent);
    // The response body as text.
    std::string Post(const std::string& url, rtl::StringList& source);

    virtual void PerformRequest(TIdHTTPMethod method, const std::string& url, rtl::Stream* source,
                                rtl::Stream* responseContent, const std::vector<int32_t>& ignoreReplies);

    // The form text of the list: encoded (hoForceEncodeParams), trimmed, lines joined by "&".
    std::string SetRequestParams(rtl::StringList* list);
    // Encodes names and values of the list's entries in place.
    void EncodeRequestParams(rtl::StringList& list);

    // Reads the response body into the response's stream.
    void ReadResult(TIdHTTPResponse& response);

protected:
    friend class TIdHTTPProtocol;
    friend class TIdHTTPRequest;
    friend class TIdHTTPResponse;

    virtual bool DoOnAuthorization(TIdHTTPRequest& request, TIdHTTPResponse& response);
    virtual bool DoOnProxyAuthorization(TIdHTTPRequest& request, TIdHTTPResponse& response);
    virtual bool DoOnRedirect(std::string& location, TIdHTTPMethod& method, int32_t redirectCount);
    void DoOnDisconnected() override;
    void Notification(rtl::Component* component, TOperation operation) override;
    bool HoldsLinkTo(const rtl::Component* other) const override;

    void PrepareRequest(TIdHTTPRequest& request);
    TIdHTTPConnectionKind SetHostAndPort();
    void ConnectToHost(TIdHTTPRequest& request, TIdHTTPResponse& response);
    void ConnectIfNeeded(TIdHTTPResponse& response);
    void SetCookies(const TIdURI& uri, TIdHTTPRequest& request);
    void ProcessCookies(TIdHTTPRequest& request, TIdHTTPResponse& response);
    // Reads a body into target (nothing without one), by its framing.
    void ReadBody(TIdHTTPResponse& response, rtl::Stream* target);

    // The TLS handler, when the IO handler is one.
    TIdSSLIOHandlerSocketBase* SSLHandler() const;
    // Whether credentials may go to the current request's origin.
    bool CredentialsAllowed() const { return !callOrigin_.empty() && uri_.Origin() == callOrigin_; }

private:
    void OpenTunnel(TIdHTTPRequest& request);
    // Next of the authentication until it asks for the request (true) or fails; askProgram
    // answers nsAskProgram (false: give up).
    bool RunAuthenticationSteps(TIdAuthentication& auth, const std::function<bool()>& askProgram);
    void ForgetCredentialsOfOtherOrigin();

    TIdCookieManager* cookieManager_ = nullptr;
    std::unique_ptr<TIdCookieManager> ownCookieManager_;
    TIdAuthenticationManager* authenticationManager_ = nullptr;
    TIdURI uri_;
    std::unique_ptr<TIdHTTPProtocol> protocol_;
    TIdProxyConnectionInfo proxyParams_;
    // The origin of the URL the caller gave in this call, of the request's authentication
    // object, and of credentials taken from a URL's user info.
    std::string callOrigin_;
    std::string authOrigin_;
    std::string userInfoOrigin_;
};

class TIdHTTP : public TIdCustomHTTP {
public:
    using TIdCustomHTTP::TIdCustomHTTP;

    TIdHTTPRequest& GetRequest() { return Request(); }
    // Copies the request settings into the client's own request object.
    void SetRequest(const TIdHTTPRequest& value) { Request().Assign(value); }
};
