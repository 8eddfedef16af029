// tls/SBHTTPSClient.cpp: the HTTP/HTTPS client's URLs, requests and request loop (the
// response reader and HTTP dates are in SBHTTPSClient_response.cpp).
#include "tls/SBHTTPSClient.h"

#include "platform/Clock.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

enum : int { kGet = 1, kPost = 2, kHead = 3, kOptions = 4, kDelete = 5, kTrace = 6, kPut = 7 };
const char* MethodName(int method) {
    switch (method) {
        case kGet: return "GET";
        case kPost: return "POST";
        case kHead: return "HEAD";
        case kOptions: return "OPTIONS";
        case kDelete: return "DELETE";
        case kTrace: return "TRACE";
        default: return "PUT";
    }
}

// Control characters never belong in a URL (RFC 3986 section 2) and could end a request line.
void CheckURLText(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) throw EElHTTPSClientError(SInvalidURLCharacter);
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string in) {
    std::string out;
    while (!in.empty()) {
        if (in.rfind("../", 0) == 0) {
            in.erase(0, 3);
        } else if (in.rfind("./", 0) == 0) {
            in.erase(0, 2);
        } else if (in.rfind("/./", 0) == 0) {
            in.replace(0, 3, "/");
        } else if (in == "/.") {
            in = "/";
        } else if (in.rfind("/../", 0) == 0 || in == "/..") {
            in = in == "/.." ? "/" : in.substr(3);
            const size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const size_t next = in.find('/', 1);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

std::string OriginOf(const THTTPURL& url, bool tls, uint16_t port) {
    return std::string(tls ? "https" : "http") + "://" + rtl::LowerCase(url.Host) + ":" + std::to_string(port);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// URLs

THTTPURL ParseHTTPURL(std::string_view input) {
    const std::string text = rtl::Trim(input);
    CheckURLText(text);
    THTTPURL url;
    std::string_view rest = text;
    const size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos) {
        url.Protocol = std::string(rest.substr(0, scheme));
        url.HasProtocol = true;
        rest.remove_prefix(scheme + 3);
    } else {
        url.Protocol = "http";
    }
    // RFC 3986 section 3.2: the authority ends at the first "/", "?" or "#"; user information
    // is looked for only there, never in the path.
    const size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view after = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view info = authority.substr(0, at);
        const size_t colon = info.find(':');
        url.User = std::string(info.substr(0, colon));
        if (colon != std::string_view::npos) url.Password = std::string(info.substr(colon + 1));
        url.HasUserInfo = true;
        authority.remove_prefix(at + 1);
    }
    const size_t colon = authority.rfind(':');
    url.Host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
        const std::string_view portText = authority.substr(colon + 1);
        if (!portText.empty()) {
            int64_t port = 0;
            bool ok = portText.size() <= 5;
            for (char c : portText) ok = ok && c >= '0' && c <= '9';
            if (ok) port = rtl::StrToInt64(portText);
            if (!ok || port < 1 || port > 65535) throw EElHTTPSClientError(rtl::Format(SInvalidPort, portText));
            url.Port = uint16_t(port);
        }
    }
    // RFC 9112 section 3.2: the fragment is never sent.
    after = after.substr(0, after.find('#'));
    url.Path = after.empty() ? "/" : after.front() == '?' ? "/" + std::string(after) : std::string(after);
    return url;
}

std::string ResolveHTTPReference(const THTTPURL& base, const std::string& baseText, std::string_view input) {
    const std::string text = rtl::Trim(input);
    CheckURLText(text);
    std::string ref = text.substr(0, text.find('#'));
    // RFC 3986 section 5.2.2: a reference with a scheme stands on its own.
    const size_t colon = ref.find(':');
    if (colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(ref[0])) &&
        ref.find_first_of("/?") > colon) {
        bool scheme = true;
        for (size_t i = 0; i < colon; ++i) {
            const char c = ref[i];
            scheme = scheme && (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.');
        }
        if (scheme) return ref;
    }
    if (ref.rfind("//", 0) == 0) return base.Protocol + ":" + ref;
    const size_t baseQuery = base.Path.find('?');
    const std::string basePath = base.Path.substr(0, baseQuery);
    if (ref.empty()) return baseText + base.Path;
    if (ref.front() == '?') return baseText + basePath + ref;
    const size_t query = ref.find('?');
    std::string path = ref.substr(0, query);
    const std::string tail = query == std::string::npos ? std::string() : ref.substr(query);
    if (path.front() != '/') {
        // Section 5.2.3: merge with the base path up to its last "/".
        const size_t slash = basePath.rfind('/');
        path = (slash == std::string::npos ? std::string("/") : basePath.substr(0, slash + 1)) + path;
    }
    return baseText + RemoveDotSegments(path) + tail;
}

// ---------------------------------------------------------------------------------------------
// The client

TElHTTPSClient::TElHTTPSClient(rtl::Component* owner) : TElCustomSimpleSSLClient(owner) {
    SetPort(80);
    serverDate_ = rtl::DateTimeFromTimePoint(std::chrono::time_point_cast<std::chrono::milliseconds>(plat::GetClock().Now()));
    allowedSchemes_.Add("NTLM");
    allowedSchemes_.Add("Basic");
    InitAuthState(serverAuth_);
    InitAuthState(proxyAuth_);
    reader_.OnHeader = [this] { HeaderArrived(); };
    reader_.OnBody = [this](const uint8_t* data, size_t size) { Deliver(data, size); };
}

TElHTTPSClient::~TElHTTPSClient() {
    MarkDestroying();
    FreeAuthState(serverAuth_);
    FreeAuthState(proxyAuth_);
}

int TElHTTPSClient::Get(const std::string& url) {
    requestParameters_.contentLength_ = -1;
    return DoRequest(kGet, url);
}

int TElHTTPSClient::Head(const std::string& url) {
    requestParameters_.contentLength_ = -1;
    return DoRequest(kHead, url);
}

void TElHTTPSClient::CloseConnection(bool silent) {
    TElCustomSimpleSSLClient::CloseConnection(silent);
}

void TElHTTPSClient::Quietly(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
        // These notifications are the caller's own business: their failures do not end the
        // request.
    }
}

int TElHTTPSClient::DoRequest(int method, const std::string& url) {
    statusCode_ = 0;
    redirects_ = 0;
    nextURL_.clear();
    // Authentication state starts afresh with every request.
    FreeAuthState(serverAuth_);
    FreeAuthState(proxyAuth_);
    InitAuthState(serverAuth_);
    InitAuthState(proxyAuth_);
    contextStarted_ = continueFlag_ = exchangePending_ = false;
    exchanges_ = 0;
    serverChallenges_.clear();
    proxyChallenges_.clear();
    {
        const THTTPURL first = ParseHTTPURL(url);
        const bool tls = first.HasProtocol ? rtl::SameText(first.Protocol, "https") : SSLEnabled;
        origin_ = OriginOf(first, tls, first.Port != 0 ? first.Port : tls ? 443 : 80);
    }
    do {
        PrepareRequest(method, nextURL_.empty() ? url : nextURL_);
        statusCode_ = 0;
        responseHeaders_.Clear();
        retry_ = false;
        followingRedirect_ = false;
        completeHandled_ = false;
        reader_.Reset(method == kHead, UseHTTPProxy && !tls_);
        if (!Active()) {
            SetEngineEnabled(tls_);
            Open();
            connectedRoute_ = route_;
        }
        if (!SendAndReceive()) break;
        if (!keepAlive_ && Active()) HandleClose(false);
    } while (retry_);
    return statusCode_;
}

void TElHTTPSClient::PrepareRequest(int method, const std::string& url) {
    target_ = ParseHTTPURL(url);
    const std::string upper = rtl::UpperCase(target_.Protocol);
    if (!target_.HasProtocol)
        tls_ = SSLEnabled;
    else if (upper == "HTTP" || upper == "HTTPS")
        tls_ = upper == "HTTPS";
    else
        throw EElHTTPSClientError(rtl::Format(SUnsupportedProtocol, target_.Protocol));
    const uint16_t port = target_.Port != 0 ? target_.Port : tls_ ? 443 : 80;
    const std::string scheme = tls_ ? "https" : "http";
    url_ = url;
    baseText_ = (target_.HasProtocol ? target_.Protocol : scheme) + "://" + target_.Host + ":" + std::to_string(port);

    // Credentials: the URL's own, else the caller's for the caller's origin only.
    std::string user, password;
    if (target_.HasUserInfo) {
        user = target_.User;
        password = target_.Password;
    } else if (OriginOf(target_, tls_, port) == origin_) {
        user = requestParameters_.Username;
        password = requestParameters_.Password;
    }

    const TElHTTPRequestParams& p = requestParameters_;
    requestHeaders_.Clear();
    const auto add = [&](const char* name, const std::string& value) {
        // RFC 9110 section 5.5: a field value holds no CR, LF or NUL.
        for (char c : value)
            if (c == '\r' || c == '\n' || c == '\0') throw EElHTTPSClientError(rtl::Format(SInvalidHeaderValue, name));
        requestHeaders_.Add(std::string(name) + ": " + value);
    };
    if (!p.Accept.empty()) add("Accept", p.Accept);
    if (!p.AcceptCharset.empty()) add("Accept-Charset", p.AcceptCharset);
    if (!p.AcceptLanguage.empty()) add("Accept-Language", p.AcceptLanguage);
    if (!p.ContentType.empty() && (method == kPost || method == kPut)) add("Content-Type", p.ContentType);
    if (p.contentLength_ != -1) add("Content-Length", std::to_string(p.contentLength_));
    // RFC 9110 section 14.2: the request names the range it wants with Range.
    if (p.ContentRangeStart >= 0 && p.ContentRangeEnd > 0)
        add("Range", "bytes=" + std::to_string(p.ContentRangeStart) + "-" + std::to_string(p.ContentRangeEnd));
    if (!p.Cookie.empty()) add("Cookie", p.Cookie);
    if (p.Date != 0) add("Date", DateTimeToHTTPDate(p.Date));
    add("Host", (p.Host.empty() ? target_.Host : p.Host) + (port != 80 ? ":" + std::to_string(port) : std::string()));
    if (!p.From.empty()) add("From", p.From);
    if (!user.empty()) add("Authorization", BasicCredentials(user, password));
    // Proxy credentials travel in the request only to a proxy that reads it; a tunnel carries
    // them in its CONNECT.
    if (UseHTTPProxy && !tls_ && !HTTPProxyUsername.empty())
        add("Proxy-Authorization", BasicCredentials(HTTPProxyUsername, HTTPProxyPassword));
    if (!p.Referer.empty()) add("Referer", p.Referer);
    if (!p.UserAgent.empty()) add("User-Agent", p.UserAgent);
    if (UseCompression) add("Accept-Encoding", "gzip, deflate");
    if (UseNTLMAuth) PreferKeepAlive = true;
    keepAlive_ = PreferKeepAlive;
    if (!p.Connection.empty())
        add("Connection", p.Connection);
    else if (HTTPVersion == hvHTTP11)
        add("Connection", keepAlive_ ? "keep-alive" : "Close");
    else if (keepAlive_)
        add("Connection", "keep-alive");

    AuthenticationPass(user, password);
    rtl::secure_wipe(password.data(), password.size());
    requestBodyLength_ = 0;
    Quietly([&] {
        if (OnPreparedHeaders) OnPreparedHeaders(this, requestHeaders_);
    });

    std::string connectHost = target_.Host;
    int32_t connectPort = port;
    std::string requestTarget = target_.Path;
    tunnel_ = false;
    if (UseHTTPProxy) {
        if (tls_) {
            // RFC 9110 section 9.3.6: TLS goes end to end through a CONNECT tunnel.
            tunnel_ = true;
        } else {
            // RFC 9112 section 3.2.2: the absolute form, without user information.
            connectHost = HTTPProxyHost;
            connectPort = httpProxyPort_;
            requestTarget = "http://" + target_.Host + (target_.Port != 0 ? ":" + std::to_string(port) : std::string()) +
                            target_.Path;
        }
    }
    requestText_ = std::string(MethodName(method)) + " " + requestTarget + " " +
                   (HTTPVersion == hvHTTP11 ? "HTTP/1.1" : "HTTP/1.0") + "\r\n";
    for (int i = 0; i < requestHeaders_.Count(); ++i) requestText_ += requestHeaders_[i] + "\r\n";
    requestText_ += "\r\n";
    method_ = method;

    route_ = scheme + " " + rtl::LowerCase(connectHost) + ":" + std::to_string(connectPort);
    if (tunnel_) route_ += " via " + rtl::LowerCase(HTTPProxyHost) + ":" + std::to_string(httpProxyPort_);
    if (Active() && route_ != connectedRoute_) HandleClose(false);
    SetAddress(connectHost);
    SetPort(connectPort);
}

void TElHTTPSClient::AuthenticationPass(const std::string& user, const std::string& password) {
    // The challenge-response pass needs the security interface; without it the preemptive
    // Basic lines stay as prepared and the challenges are kept.
    if (!SecurityInterfaceAvailable()) return;
    FilterAuthSchemes(allowedSchemes_);
    if (!UseNTLMAuth) return;
    // The preemptive lines go; the last of each kind comes back when Basic is what is asked.
    std::string basicLine, proxyBasicLine;
    for (int i = requestHeaders_.Count() - 1; i >= 0; --i) {
        const std::string& line = requestHeaders_[i];
        const bool server = rtl::StartsText("authorization: ", line);
        if (!server && !rtl::StartsText("proxy-authorization: ", line)) continue;
        std::string& kept = server ? basicLine : proxyBasicLine;
        if (kept.empty()) kept = line;
        requestHeaders_.Delete(i);
    }
    std::string line = AnswerChallenges(serverChallenges_, serverAuth_, false, contextStarted_, continueFlag_,
                                        user, password, basicLine);
    if (!line.empty()) requestHeaders_.Add(line);
    // Proxy credentials go only to a proxy that reads this request (a tunnel answers its
    // proxy's challenges on the CONNECT).
    if (UseHTTPProxy && !tls_) {
        line = AnswerChallenges(proxyChallenges_, proxyAuth_, true, contextStarted_, continueFlag_,
                                HTTPProxyUsername, HTTPProxyPassword, proxyBasicLine);
        if (!line.empty()) requestHeaders_.Add(line);
    }
    rtl::secure_wipe(basicLine.data(), basicLine.size());
    rtl::secure_wipe(proxyBasicLine.data(), proxyBasicLine.size());
    serverChallenges_.clear();
    proxyChallenges_.clear();
}

std::string TElHTTPSClient::AnswerChallenges(const std::vector<std::string>& challenges, TSBAuthState& state,
                                             bool forProxy, bool& started, bool& more,
                                             const std::string& user, const std::string& password,
                                             const std::string& basicLine) {
    std::string scheme, data;
    if (!ChooseAuthChallenge(allowedSchemes_, challenges, scheme, data)) return {};
    if (rtl::SameText(scheme, "basic")) {
        started = false;
        return basicLine;
    }
    const bool wasStarted = started;
    started = true;
    std::string line;
    BuildAuthHeader(scheme, data, state, forProxy, wasStarted, password, user, more, line);
    return line;
}

void TElHTTPSClient::PrepareSocket(TElSocket& socket) {
    socket.WebTunnelAuthenticator = nullptr;
    if (!tunnel_) return;
    socket.SetUseWebTunneling(true);
    socket.WebTunnelAddress = HTTPProxyHost;
    socket.WebTunnelPort = httpProxyPort_;
    socket.WebTunnelUserId = HTTPProxyUsername;
    socket.WebTunnelPassword = HTTPProxyPassword;
    socket.WebTunnelAuthentication = HTTPProxyUsername.empty() ? wtaNoAuthentication : wtaRequiresAuthentication;
    if (!UseNTLMAuth || !SecurityInterfaceAvailable()) return;
    // The tunnel's proxy is answered as a proxy that reads the requests would be: nothing on
    // the first CONNECT, then the first allowed scheme it offers. The exchange belongs to this
    // connection.
    FilterAuthSchemes(allowedSchemes_);
    socket.WebTunnelAuthenticator = [this, started = false,
                                     more = false](const std::vector<std::string>& challenges) mutable {
        if (challenges.empty()) {
            InitAuthState(proxyAuth_);
            started = more = false;
            return std::string();
        }
        started = more;
        std::string basic =
            HTTPProxyUsername.empty()
                ? std::string()
                : "Proxy-Authorization: " + BasicCredentials(HTTPProxyUsername, HTTPProxyPassword);
        const std::string line = AnswerChallenges(challenges, proxyAuth_, true, started, more,
                                                  HTTPProxyUsername, HTTPProxyPassword, basic);
        rtl::secure_wipe(basic.data(), basic.size());
        return line;
    };
}

bool TElHTTPSClient::SendAndReceive() {
    Touch();
    size_t sent = 0;
    int64_t sentTotal = 0;
    bool sendFailed = false;
    try {
        while (!reader_.Complete()) {
            if (!CheckDataAvailable(true)) return false;
            while (sent < requestText_.size() && !sendFailed) {
                const size_t piece = std::min(requestText_.size() - sent, size_t(sendBufferSize_));
                try {
                    SendData(requestText_.data() + sent, piece);
                } catch (const EElSSLClientConnectionLostError&) {
                    sendFailed = true;
                    break;
                }
                sent += piece;
                sentTotal += int64_t(piece);
                bool cancel = false;
                if (OnProgress) OnProgress(this, requestBodyLength_, sentTotal, cancel);
                if (cancel) throw EOperationCancelledError(SOperationCancelled);
            }
            // A session the engine ended (a failure, or the server's close) reads nothing more.
            if (!Active()) throw EElSSLClientConnectionLostError(SConnectionLost);
            if (!PollInput(200) && sendFailed) throw EElSSLClientConnectionLostError(SConnectionLost);
        }
    } catch (const EElSimpleSSLClientException&) {
        // The server closed, or the connection broke: what arrived decides.
        EndOfConnection();
    } catch (...) {
        // A time-out, a broken response or a cancel: the rest of this response must not be
        // read as the next one's.
        retry_ = false;
        CloseConnection(true);
        throw;
    }
    return true;
}

void TElHTTPSClient::EndOfConnection() {
    CloseConnection(true);
    if (reader_.Complete()) return;
    try {
        reader_.FinishAtClose();
    } catch (...) {
        retry_ = false;
        throw;
    }
    if (reader_.Complete() && !completeHandled_) {
        completeHandled_ = true;
        ResponseComplete();
    }
}

void TElHTTPSClient::StoreReceivedData(const uint8_t* buffer, size_t size) {
    reader_.Feed(buffer, size);
    if (reader_.Complete() && !completeHandled_) {
        completeHandled_ = true;
        ResponseComplete();
    }
}

void TElHTTPSClient::HeaderArrived() {
    const HTTPResponseReader& r = reader_;
    statusCode_ = r.StatusCode;
    for (const std::string& line : r.HeaderLines) responseHeaders_.Add(line);
    receivedCookies_.Clear();
    for (const std::string& cookie : r.Cookies) {
        receivedCookies_.Add(cookie);
        Quietly([&] {
            if (OnCookie) OnCookie(this, cookie);
        });
    }
    if (!r.DateField.empty()) {
        try {
            serverDate_ = HTTPDateToDateTime(r.DateField);
        } catch (const EElHTTPSClientError&) {
            serverDate_ =
                rtl::DateTimeFromTimePoint(std::chrono::time_point_cast<std::chrono::milliseconds>(plat::GetClock().Now()));
        }
    }
    Quietly([&] {
        if (OnReceivingHeaders) OnReceivingHeaders(this, responseHeaders_);
    });
    // RFC 9112 section 9.3: HTTP/1.1 stays open unless told to close; HTTP/1.0 only when told
    // to stay.
    if (r.ServerVersion == 11) {
        if (r.ConnectionField == 0) keepAlive_ = false;
        if (r.ConnectionField == 1) keepAlive_ = true;
    } else {
        keepAlive_ = keepAlive_ && r.ConnectionField == 1;
    }
    if (r.ProxyKeepAliveRefused || r.BodyEndsAtClose()) keepAlive_ = false;
    serverChallenges_.insert(serverChallenges_.end(), r.WWWAuthenticate.begin(), r.WWWAuthenticate.end());
    proxyChallenges_.insert(proxyChallenges_.end(), r.ProxyAuthenticate.begin(), r.ProxyAuthenticate.end());

    if ((statusCode_ == 301 || statusCode_ == 302) && !r.Location.empty() &&
        (maxRedirections_ == -1 || redirects_ < maxRedirections_)) {
        const std::string next = ResolveHTTPReference(target_, baseText_, r.Location);
        bool allow = true;
        if (OnRedirection) OnRedirection(this, url_, next, allow);
        if (allow) {
            retry_ = true;
            followingRedirect_ = true;
            nextURL_ = next;
            ++redirects_;
        }
    }
    if (UseNTLMAuth && (statusCode_ == 401 || statusCode_ == 407) && exchanges_ < 3) exchangePending_ = true;
    if (!exchangePending_ && !followingRedirect_) Quietly([&] {
            if (OnDocumentBegin) OnDocumentBegin(this);
        });
}

void TElHTTPSClient::Deliver(const uint8_t* data, size_t size) {
    // The body of an answer that is followed by another request is not the document.
    if (exchangePending_ || followingRedirect_) return;
    if (OnData) OnData(this, data, int32_t(size));
    if (OutputStream) OutputStream->WriteBuffer(data, size);
    bool cancel = false;
    if (OnProgress) OnProgress(this, reader_.ContentLength, reader_.Delivered, cancel);
    if (cancel) throw EOperationCancelledError(SOperationCancelled);
}

void TElHTTPSClient::ResponseComplete() {
    if (UseNTLMAuth) {
        exchangePending_ = false;
        contextStarted_ = continueFlag_;
        if (statusCode_ == 401 || statusCode_ == 407) {
            if (++exchanges_ > 3) throw EElHTTPSClientError(SCannotGetNTLMResponse);
            retry_ = true;
            return;
        }
        exchanges_ = 0;
    }
    if (!followingRedirect_) Quietly([&] {
            if (OnDocumentEnd) OnDocumentEnd(this);
        });
}
