// net/IdHTTP.cpp: the request loop, the request side and the reading of responses.
#include "net/IdHTTP.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "net/IdGlobalProtocols.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// The receive size while a body is read.
constexpr int32_t kBodyReceiveSize = 64 * 1024;

const char* const kMethodWords[] = {"HEAD", "GET", "POST", "OPTIONS", "TRACE", "PUT", "DELETE", "CONNECT"};

// Refuses text that would end a line or a header early (RFC 9112 section 2.2: no CR, LF or
// NUL inside a request line or a field).
void CheckNoLineBreaks(std::string_view text, const std::string& what) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        EIdException::RaiseIdException(
            rtl::Format("%s holds a line break or a NUL character and is refused: nothing was sent.", what));
}

// The request object's texts that become header values, checked before connecting. The header
// list refuses them too when the lines are built; this makes a bad value fail before the
// connection is opened.
void CheckRequestValues(const TIdHTTPRequest& r) {
    const std::pair<const char*, const std::string*> values[] = {
        {"Connection", &r.Connection},
        {"Content-Version", &r.ContentVersion},
        {"Content-Encoding", &r.ContentEncoding},
        {"Content-Language", &r.ContentLanguage},
        {"Content-Type", &r.ContentType},
        {"Cache-control", &r.CacheControl},
        {"Pragma", &r.Pragma},
        {"Proxy-Connection", &r.ProxyConnection},
        {"Accept", &r.Accept},
        {"Accept-Charset", &r.AcceptCharSet},
        {"Accept-Encoding", &r.AcceptEncoding},
        {"Accept-Language", &r.AcceptLanguage},
        {"From", &r.From},
        {"Referer", &r.Referer},
        {"User-Agent", &r.UserAgent},
    };
    for (const auto& [name, value] : values)
        CheckNoLineBreaks(*value, rtl::Format("The request's \"%s\" value", std::string(name)));
    for (const std::string& line : r.CustomHeaders.Lines())
        CheckNoLineBreaks(line, "A custom header line");
}

// Bytes kept in memory up to a ceiling; the rest is counted and dropped (an error page's body,
// or a body read only to be dropped with ceiling 0).
class CappedMemoryStream final : public rtl::Stream {
public:
    explicit CappedMemoryStream(int64_t ceiling) : ceiling_(ceiling) {}
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* buffer, size_t count) override {
        const int64_t room = std::max<int64_t>(0, ceiling_ - int64_t(data_.size()));
        data_.append(static_cast<const char*>(buffer), size_t(std::min<int64_t>(room, int64_t(count))));
        position_ += int64_t(count);
        return count;
    }
    int64_t Seek(int64_t offset, rtl::SeekOrigin origin) override {
        if (origin == rtl::SeekOrigin::Begin) position_ = offset;
        else if (origin == rtl::SeekOrigin::Current) position_ += offset;
        else position_ = position_ + offset;
        return position_;
    }
    int64_t Size() override { return position_; }
    void SetSize(int64_t) override {}
    const std::string& Text() const { return data_; }

private:
    int64_t ceiling_;
    int64_t position_ = 0;
    std::string data_;
};

// The size of a chunk-size line (RFC 9112 section 7.1): hexadecimal digits, then the end, a
// blank or ";" and extensions, which are not read. At most 31 bits.
int32_t ParseChunkSize(const std::string& line) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t first = i;
    uint64_t size = 0;
    for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
        const char c = line[i];
        size = size * 16 + uint64_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        if (size > uint64_t(std::numeric_limits<int32_t>::max()))
            EIdException::RaiseIdException<EIdHTTPMalformedResponse>(
                rtl::Format("The chunk size \"%s\" exceeds 31 bits.", line));
    }
    if (i == first || (i < line.size() && line[i] != ';' && line[i] != ' ' && line[i] != '\t'))
        EIdException::RaiseIdException<EIdHTTPMalformedResponse>(
            rtl::Format("The chunk size line \"%s\" is not a hexadecimal size.", line));
    return int32_t(size);
}

// The "Host" text of a URI: an IPv6 address in brackets; the port unless it is http's 80.
std::string HostLineOf(const TIdURI& uri) {
    if (uri.Port == "80" && rtl::SameText(uri.Protocol, "http")) return uri.HostText();
    return uri.HostText() + ":" + uri.Port;
}

}  // namespace

// --- request and response objects

void TIdHTTPRequest::BuildHeaders() {
    const bool allowed = client_->CredentialsAllowed();
    const std::string origin = client_->uri_.Origin();
    if (allowed) {
        // An authentication object made for another origin's challenge is not used here.
        if (Authentication() != nullptr && client_->authOrigin_ != origin) SetAuthentication(nullptr);
        TIdRequestHeaderInfo::BuildHeaders();
        if (Authentication() != nullptr) client_->authOrigin_ = origin;
        return;
    }
    const bool hadAuthentication = Authentication() != nullptr;
    TIdRequestHeaderInfo::BuildHeaders();
    if (!hadAuthentication && Authentication() != nullptr) SetAuthentication(nullptr);
    // Another origin than the caller's URL (a redirect elsewhere): no credentials at all.
    for (int i; (i = RawHeaders.IndexOfHeader("Authorization")) >= 0;) {
        RawHeaders.DeleteContinuationLines(i);
        RawHeaders.Delete(i);
    }
}

int32_t TIdHTTPResponse::GetResponseCode() {
    std::string s = ResponseText;
    CutAtDelimiter(s, " ", true, true);
    s = rtl::Trim(s);
    const std::string number = CutAtDelimiter(s, " ", true, true);
    int32_t code = -1;
    if (!rtl::TryStrToInt(number, code)) code = -1;
    responseCode_ = code;
    return code;
}

bool TIdHTTPResponse::GetKeepAlive() {
    if (ResponseText.size() >= 8) {
        const std::string version = ResponseText.substr(5, 3);
        if (version == "1.0") ResponseVersion = pv1_0;
        else if (version == "1.1") ResponseVersion = pv1_1;
    }
    TIdIOHandler* io = client_->IOHandler();
    if (io != nullptr && io->IsOpen) io->CheckForDisconnect(false, false);
    keepAlive_ = client_->IsConnected();
    if (keepAlive_) {
        const std::string connection = rtl::Trim(Connection);
        const std::string proxy = rtl::Trim(ProxyConnection);
        if (client_->ProtocolVersion == pv1_0)
            keepAlive_ = rtl::SameText(connection, "KEEP-ALIVE") || rtl::SameText(proxy, "KEEP-ALIVE");
        else
            keepAlive_ = !rtl::SameText(connection, "CLOSE") && !rtl::SameText(proxy, "CLOSE");
    }
    return keepAlive_;
}

bool TIdHTTPResponse::HasBody() {
    const int32_t code = GetResponseCode();
    if (requestMethod_ == hmHead || code / 100 == 1 || code == 204 || code == 304) return false;
    return !(requestMethod_ == hmConnect && code / 100 == 2);
}

// --- protocol object

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP* client)
    : client_(client),
      request_(std::make_unique<TIdHTTPRequest>(client)),
      response_(std::make_unique<TIdHTTPResponse>(client)) {}

void TIdHTTPProtocol::BuildAndSendRequest(const TIdURI* uri) {
    TIdHTTPRequest& request = *request_;
    response_->requestMethod_ = request.Method;
    request.BuildHeaders();
    client_->ProxyParams().AddAuthorizationHeader(request.RawHeaders);
    if (uri != nullptr) client_->SetCookies(*uri, request);

    const std::string version = client_->ProtocolVersion == pv1_0 ? "1.0" : "1.1";
    const std::string requestLine = std::string(kMethodWords[request.Method]) + " " + request.URL + " HTTP/" + version;
    CheckNoLineBreaks(request.URL, "The request's URL");
    for (const std::string& line : request.RawHeaders.Lines()) CheckNoLineBreaks(line, "A request header line");

    TIdIOHandler* io = client_->IOHandler();
    io->OpenWriteQueue(-1);
    try {
        io->WriteLine(requestLine);
        for (const std::string& line : request.RawHeaders.Lines())
            if (!line.empty()) io->WriteLine(line);
        io->WriteLine("");
        io->CloseWriteQueue();
    } catch (...) {
        io->CancelWriteQueue();
        throw;
    }
}

void TIdHTTPProtocol::RetrieveHeaders(int32_t limit) {
    TIdHTTPResponse& response = *response_;
    response.RawHeaders.Clear();
    TIdIOHandler* io = client_->IOHandler();
    try {
        for (;;) {
            std::string line = io->ReadLn();
            if (line.empty()) break;
            if (limit > 0 && response.RawHeaders.Count() >= limit)
                EIdException::RaiseIdException<EIdHTTPMalformedResponse>(
                    rtl::Format("The response's header block exceeds %d lines.", limit));
            response.RawHeaders.Add(line);
        }
    } catch (const EIdConnClosedGracefully&) {
        client_->Disconnect();
        EIdException::RaiseIdException<EIdHTTPIncompleteResponse>(
            rtl::Format("The connection closed inside the response's header block, after %d lines.",
                        response.RawHeaders.Count()));
    }
    response.ParseHeaders();
}

void TIdHTTPProtocol::DropBody(bool shortWait) {
    if (!client_->IsConnected()) return;
    TIdIOHandler* io = client_->IOHandler();
    const int32_t oldTimeout = io->ReadTimeout;
    if (shortWait) io->ReadTimeout = TIdCustomHTTP::kRedirectBodyTimeout;
    CappedMemoryStream sink(0);
    try {
        client_->ReadBody(*response_, &sink);
    } catch (const std::exception&) {
        // A body read only to be dropped: its failure changes nothing.
    }
    io->ReadTimeout = oldTimeout;
}

TIdHTTPNextStep TIdHTTPProtocol::RaiseOrIgnore(const std::vector<int32_t>& ignoreReplies) {
    TIdHTTPResponse& response = *response_;
    const int32_t code = response.GetResponseCode();
    CappedMemoryStream body(TIdCustomHTTP::kMaxErrorBody);
    if (client_->IsConnected()) {
        try {
            client_->ReadBody(response, &body);
        } catch (const EIdException&) {
            // The status is what fails the request; the page is what arrived of it.
        }
    }
    if (std::find(ignoreReplies.begin(), ignoreReplies.end(), code) != ignoreReplies.end()) return hnDone;
    throw EIdHTTPProtocolException(code, response.ResponseText, body.Text());
}

TIdHTTPNextStep TIdHTTPProtocol::ProcessResponse(const std::vector<int32_t>& ignoreReplies) {
    TIdHTTPRequest& request = *request_;
    TIdHTTPResponse& response = *response_;
    const int32_t code = response.GetResponseCode();

    // Only a 3xx (but 304) redirects; a "Location" on any other status is information.
    if (code / 100 == 3 && code != 304) {
        std::string location = response.Location;
        TIdHTTPMethod method = request.Method;
        if (location.empty()) return RaiseOrIgnore(ignoreReplies);  // nothing to follow
        // RedirectCount counts this call's requests, so RedirectCount - 1 redirects were
        // followed: exactly RedirectMaximum of them are.
        const bool follow = client_->HandleRedirects && client_->RedirectCount <= client_->RedirectMaximum;
        if (!client_->DoOnRedirect(location, method, client_->RedirectCount)) return RaiseOrIgnore(ignoreReplies);
        DropBody(true);
        if (!follow) {
            response.Location = location;
            return hnDone;
        }
        request.URL = location;
        if (code == 302 || code == 303) {
            request.Method = hmGet;
            request.Source = nullptr;
        } else {
            request.Method = method;
        }
        return hnFollow;
    }
    if (code / 100 == 2) {
        if (code != 204) client_->ReadResult(response);
        return hnDone;
    }
    if (code == 401 || code == 407) {
        const bool proxy = code == 407;
        const int32_t retries = proxy ? client_->AuthProxyRetries : client_->AuthRetries;
        const bool again = retries < client_->MaxAuthRetries &&
                           (proxy ? client_->DoOnProxyAuthorization(request, response)
                                  : client_->DoOnAuthorization(request, response));
        if (!again) {
            TIdAuthentication* a = proxy ? client_->ProxyParams().Authentication() : request.Authentication();
            if (a != nullptr) a->Reset();
            return RaiseOrIgnore(ignoreReplies);
        }
        if (client_->HTTPOptions.count(hoInProcessAuth) != 0) {
            DropBody(false);
            return hnAuthenticate;
        }
        client_->ReadResult(response);
        return hnDone;
    }
    return RaiseOrIgnore(ignoreReplies);
}

// --- the client

TIdCustomHTTP::TIdCustomHTTP(rtl::Component* owner)
    : TIdTCPClientCustom(owner), protocol_(std::make_unique<TIdHTTPProtocol>(this)) {}

TIdCustomHTTP::~TIdCustomHTTP() {
    try {
        Disconnect();
    } catch (const std::exception&) {
        // Closing on the way out: nothing is left to report to.
    }
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
    if (manager == cookieManager_) return;
    TIdCookieManager* old = cookieManager_;
    cookieManager_ = manager;
    if (ownCookieManager_ && ownCookieManager_.get() == old) {
        ownCookieManager_.reset();
    } else {
        ReleaseLink(old);
    }
    if (manager != nullptr) FreeNotification(manager);
}

void TIdCustomHTTP::SetAuthenticationManager(TIdAuthenticationManager* manager) {
    SetLinked(authenticationManager_, manager);
}

void TIdCustomHTTP::SetCompressor(TIdZLibCompressorBase* compressor) { SetLinked(Compressor, compressor); }

void TIdCustomHTTP::Notification(rtl::Component* component, TOperation operation) {
    if (operation == opRemove) {
        if (component == cookieManager_) cookieManager_ = nullptr;
        if (component == authenticationManager_) authenticationManager_ = nullptr;
        if (component == Compressor) Compressor = nullptr;
    }
    TIdTCPClientCustom::Notification(component, operation);
}

bool TIdCustomHTTP::HoldsLinkTo(const rtl::Component* other) const {
    return (other != nullptr && (other == cookieManager_ || other == authenticationManager_ || other == Compressor)) ||
           TIdTCPClientCustom::HoldsLinkTo(other);
}

TIdSSLIOHandlerSocketBase* TIdCustomHTTP::SSLHandler() const {
    return dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler());
}

void TIdCustomHTTP::Get(const std::string& url, rtl::Stream& responseContent) {
    GetIgnoring(url, responseContent, {});
}

void TIdCustomHTTP::GetIgnoring(const std::string& url, rtl::Stream& responseContent,
                                const std::vector<int32_t>& ignoreReplies) {
    PerformRequest(hmGet, url, nullptr, &responseContent, ignoreReplies);
}

void TIdCustomHTTP::PostStream(const std::string& url, rtl::Stream& source, rtl::Stream& responseContent) {
    Disconnect();
    const TIdHTTPProtocolVersion remembered = ProtocolVersion;
    // The version comes back however the request ends.
    TIdFinally restore{[&] { ProtocolVersion = remembered; }};
    if (HTTPOptions.count(hoKeepOrigProtocol) == 0) ProtocolVersion = pv1_0;
    PerformRequest(hmPost, url, &source, &responseContent, {});
}

void TIdCustomHTTP::PostStrings(const std::string& url, rtl::StringList& source, rtl::Stream& responseContent) {
    if (Request().ContentType.empty() || rtl::SameText(Request().ContentType, "text/html"))
        Request().ContentType = "application/x-www-form-urlencoded";
    rtl::MemoryStream form(SetRequestParams(&source));
    PostStream(url, form, responseContent);
}

std::string TIdCustomHTTP::Post(const std::string& url, rtl::StringList& source) {
    rtl::MemoryStream response;
    PostStrings(url, source, response);
    return response.Data();
}

std::string TIdCustomHTTP::SetRequestParams(rtl::StringList* list) {
    if (list == nullptr) return {};
    if (HTTPOptions.count(hoForceEncodeParams) != 0) EncodeRequestParams(*list);
    if (list->Count() == 1) return rtl::Trim(list->Strings(0));
    return rtl::StringReplace(rtl::Trim(list->Text()), "\r\n", "&");
}

void TIdCustomHTTP::EncodeRequestParams(rtl::StringList& list) {
    for (int i = 0; i < list.Count(); ++i) {
        const std::string& entry = list[i];
        const size_t eq = entry.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = TIdURI::EncodeParamText(entry.substr(0, eq));
        const std::string value = entry.substr(eq + 1);
        list.Set(i, name + "=" + (value.empty() ? value : TIdURI::EncodeParamText(value)));
    }
}

void TIdCustomHTTP::ForgetCredentialsOfOtherOrigin() {
    // Credentials taken from a URL's user info belong to that URL's origin.
    if (!userInfoOrigin_.empty() && userInfoOrigin_ != callOrigin_) {
        rtl::secure_wipe(Request().Password.data(), Request().Password.size());
        Request().Password.clear();
        Request().Username.clear();
        uri_.Username.clear();
        uri_.Password.clear();
        userInfoOrigin_.clear();
    }
}

void TIdCustomHTTP::PerformRequest(TIdHTTPMethod method, const std::string& url, rtl::Stream* source,
                                   rtl::Stream* responseContent, const std::vector<int32_t>& ignoreReplies) {
    CheckNoLineBreaks(url, "The URL");
    const int64_t start = responseContent != nullptr ? responseContent->Position() : 0;
    const auto cutBack = [&] {
        if (responseContent == nullptr) return;
        responseContent->SetSize(start);
        responseContent->SetPosition(start);
    };
    AuthRetries = 0;
    AuthProxyRetries = 0;
    TIdHTTPRequest& request = Request();
    TIdHTTPResponse& response = Response();
    request.URL = url;
    request.Method = method;
    request.Source = source;
    response.ContentStream = responseContent;
    callOrigin_.clear();
    {
        TIdFinally finish{[&] {
            if (!response.GetKeepAlive()) Disconnect();
        }};
        for (;;) {
            ++RedirectCount;
            PrepareRequest(request);
            if (callOrigin_.empty()) {
                callOrigin_ = uri_.Origin();
                ForgetCredentialsOfOtherOrigin();
            }
            if (TIdSSLIOHandlerSocketBase* ssl = SSLHandler()) ssl->SetURIToCheck(uri_.BuildURI(false, false));
            ConnectToHost(request, response);
            do {
                response.ResponseText = IOHandler()->ReadLn();
                protocol_->RetrieveHeaders(HeaderLineLimit);
                ProcessCookies(request, response);
            } while (response.GetResponseCode() == 100);

            const TIdHTTPNextStep next = protocol_->ProcessResponse(ignoreReplies);
            if (next == hnDone) break;
            switch (next) {
                case hnFollow:
                    cutBack();
                    AuthRetries = AuthProxyRetries = 0;
                    break;
                case hnReadAndGo:
                    ReadResult(response);
                    cutBack();
                    AuthRetries = AuthProxyRetries = 0;
                    break;
                case hnAuthenticate:
                    --RedirectCount;  // a retry is not a redirect
                    request.URL = url;
                    break;
                default:
                    EIdException::RaiseIdException("Not Acceptable");
            }
        }
    }
    RedirectCount = 0;
}

void TIdCustomHTTP::PrepareRequest(TIdHTTPRequest& request) {
    CheckNoLineBreaks(request.URL, "The URL");
    // Checked here as well as when the lines are written, so a bad value fails before connecting.
    CheckRequestValues(request);
    TIdURI u(request.URL);
    const bool userInfo = !u.Username.empty();
    if (userInfo) {
        request.Username = u.Username;
        request.Password = u.Password;
    }
    uri_.Username = request.Username;
    uri_.Password = request.Password;
    uri_.Path = ResolveRelativePath(uri_.Path, u.Path);
    uri_.Document = u.Document;
    uri_.Params = u.Params;
    if (!u.Host.empty()) {
        uri_.Host = u.Host;
        uri_.IPVersion = u.IPVersion;
    }
    if (!u.Protocol.empty())
        uri_.Protocol = u.Protocol;
    else
        uri_.Protocol = rtl::SameText(uri_.Protocol, "https") ? "https" : "http";
    if (!u.Port.empty()) {
        // Digits naming a port (RFC 3986 section 3.2.3): anything else would reach another
        // service (port 80 for a text, a port cut to 16 bits for a large number).
        int32_t port = 0;
        if (u.Port.find_first_not_of("0123456789") != std::string::npos || !rtl::TryStrToInt(u.Port, port) ||
            port < 1 || port > 65535)
            EIdException::RaiseIdException(
                rtl::Format("The URL's port \"%s\" is not a port number from 1 to 65535.", u.Port));
        uri_.Port = u.Port;
    } else if (rtl::SameText(u.Protocol, "http"))
        uri_.Port = "80";
    else if (rtl::SameText(u.Protocol, "https"))
        uri_.Port = "443";
    else if (uri_.Port.empty())
        throw EIdUnknownProtocol("");
    if (userInfo) userInfoOrigin_ = uri_.Origin();

    request.URL = (request.Method == hmOptions && u.Document == "*") ? "*" : uri_.Path + uri_.Document + uri_.Params;
    request.IPVersion = uri_.IPVersion;
    if ((request.Method == hmOptions || request.Method == hmTrace || request.Method == hmPut ||
         request.Method == hmDelete) &&
        ProtocolVersion != pv1_1)
        EIdException::RaiseIdException("Request method requires HTTP version 1.1");
    if ((request.Method == hmPost || request.Method == hmPut) && request.Source != nullptr)
        request.SetContentLength(request.Source->Size());
    else
        request.SetContentLength(-1);
    request.Host = HostLineOf(uri_);
}

TIdHTTPConnectionKind TIdCustomHTTP::SetHostAndPort() {
    SetHost(uri_.Host);
    int32_t port = 80;
    if (!rtl::TryStrToInt(uri_.Port, port)) port = 80;
    SetPort(port);

    const bool https = rtl::SameText(uri_.Protocol, "https");
    TIdSSLIOHandlerSocketBase* ssl = SSLHandler();
    TIdHTTPConnectionKind kind;
    std::string host;
    if (!proxyParams_.ProxyServer().empty()) {
        Disconnect();
        host = proxyParams_.ProxyServer();
        port = proxyParams_.ProxyPort();
        if (https) {
            // Without a TLS handler the request would cross the tunnel in clear, credentials
            // and all: refused as for a direct connection, before anything is connected.
            kind = hcProxyTunnel;
            if (ssl == nullptr)
                EIdException::RaiseIdException<EIdIOHandlerPropInvalid>(RSId::IOHandlerPropInvalid);
        } else {
            kind = hcProxy;
        }
        if (ssl != nullptr) ssl->SetPassThrough(true);
    } else {
        if (Socket() != nullptr && Socket()->IPVersion != uri_.IPVersion) Disconnect();
        if (!uri_.Host.empty()) Disconnect();  // each request on a connection of its own
        host = uri_.Host;
        if (https) {
            if (ssl == nullptr) EIdException::RaiseIdException<EIdIOHandlerPropInvalid>(RSId::IOHandlerPropInvalid);
            ssl->SetPassThrough(false);
            kind = hcDirectTLS;
        } else {
            if (ssl != nullptr) ssl->SetPassThrough(true);
            kind = hcDirect;
        }
    }
    SetHost(host);
    SetPort(port);
    return kind;
}

void TIdCustomHTTP::ConnectToHost(TIdHTTPRequest& request, TIdHTTPResponse& response) {
    const TIdHTTPConnectionKind kind = SetHostAndPort();
    request.ConnectionKind = kind;
    if (kind == hcProxy) request.URL = uri_.BuildURI(false, false);
    switch (kind) {
        case hcDirect:
            if (ProtocolVersion == pv1_0 && request.Connection.empty()) request.Connection = "keep-alive";
            break;
        case hcProxy:
            if (ProtocolVersion == pv1_0 && request.ProxyConnection.empty()) request.ProxyConnection = "keep-alive";
            break;
        default:
            request.Connection.clear();
    }
    if (Compressor != nullptr && !rtl::ContainsText(request.AcceptEncoding, "deflate") &&
        !rtl::ContainsText(request.AcceptEncoding, "gzip"))
        request.AcceptEncoding = "deflate, gzip, " + request.AcceptEncoding;
    if (!rtl::ContainsText(request.AcceptEncoding, "identity")) {
        const std::string& ae = request.AcceptEncoding;
        request.AcceptEncoding += (ae.empty() || rtl::EndsText(", ", ae)) ? "identity" : ", identity";
    }
    if (kind == hcProxyTunnel)
        OpenTunnel(request);
    else
        ConnectIfNeeded(response);
    protocol_->BuildAndSendRequest(&uri_);
    if ((request.Method == hmPost || request.Method == hmPut) && request.Source != nullptr) {
        TIdStreamVCL source(*request.Source);
        IOHandler()->WriteStream(source, 0, false);
    }
}

void TIdCustomHTTP::OpenTunnel(TIdHTTPRequest& request) {
    TIdHTTPProtocol tunnel(this);
    TIdHTTPRequest& connect = tunnel.Request();
    connect.UserAgent = request.UserAgent;
    connect.Host = request.Host;
    connect.SetContentLength(request.ContentLength);
    connect.Pragma = "no-cache";
    connect.URL = uri_.HostText() + ":" + uri_.Port;
    connect.Method = hmConnect;
    connect.ProxyConnection = "keep-alive";
    CappedMemoryStream scratch(kMaxErrorBody);
    tunnel.Response().ContentStream = &scratch;
    TIdHTTPResponse& answer = tunnel.Response();
    for (;;) {
        ConnectIfNeeded(answer);
        tunnel.BuildAndSendRequest(nullptr);
        answer.ResponseText = IOHandler()->ReadLn();
        if (answer.ResponseText.empty()) {
            answer.ResponseText = "HTTP/1.0 200 OK";
            answer.Connection = "close";
        } else {
            tunnel.RetrieveHeaders(HeaderLineLimit);
            ProcessCookies(connect, answer);
        }
        const int32_t code = answer.GetResponseCode();
        if (code / 100 == 2) break;  // RFC 9110 section 9.3.6: any 2xx opens the tunnel
        // Only a proxy's challenge is answered again (bounded by MaxAuthRetries); every other
        // status fails the request.
        const TIdHTTPNextStep next = tunnel.ProcessResponse({});
        if (code != 407 || (next != hnAuthenticate && next != hnDone))
            throw EIdHTTPProtocolException(code, answer.ResponseText, scratch.Text());
    }
    if (TIdSSLIOHandlerSocketBase* ssl = SSLHandler()) ssl->SetPassThrough(false);
}

void TIdCustomHTTP::ConnectIfNeeded(TIdHTTPResponse& response) {
    if (!response.GetKeepAlive()) Disconnect();
    CheckForGracefulDisconnect(false);
    if (!IsConnected()) {
        SetIPVersion(uri_.IPVersion);
        try {
            Connect();
        } catch (const EIdSSLProtocolReplyError&) {
            Disconnect();
            throw;
        }
    }
}

void TIdCustomHTTP::SetCookies(const TIdURI& uri, TIdHTTPRequest& request) {
    if (cookieManager_ == nullptr) return;
    // Secure cookies go only over TLS: an "https" request, whatever the handler's class.
    const bool secure = request.ConnectionKind == hcDirectTLS || request.ConnectionKind == hcProxyTunnel;
    const std::string text = cookieManager_->CookieHeaderFor(uri, secure);
    if (!text.empty()) request.RawHeaders.SetValueByName("Cookie", text);
}

void TIdCustomHTTP::ProcessCookies(TIdHTTPRequest&, TIdHTTPResponse& response) {
    if (cookieManager_ == nullptr && AllowCookies) {
        ownCookieManager_ = std::make_unique<TIdCookieManager>();
        cookieManager_ = ownCookieManager_.get();
    }
    if (cookieManager_ == nullptr) return;
    rtl::StringList values;
    response.RawHeaders.ExtractValues("Set-cookie", &values);
    for (const std::string& v : values.Lines()) cookieManager_->AddCookie(v, uri_.Host);
    values.Clear();
    response.RawHeaders.ExtractValues("Set-cookie2", &values);
    for (const std::string& v : values.Lines()) cookieManager_->AddCookie2(v, uri_.Host);
}

void TIdCustomHTTP::ReadResult(TIdHTTPResponse& response) {
    rtl::Stream* target = response.ContentStream;
    if (target == nullptr || !response.HasBody()) return;
    const int64_t start = target->Position();
    ReadBody(response, target);
    if (Compressor == nullptr) return;
    if (response.ContentEncoding == "deflate") {
        target->SetPosition(start);
        Compressor->DecompressDeflateStream(*target);
    } else if (response.ContentEncoding == "gzip") {
        target->SetPosition(start);
        Compressor->DecompressGZipStream(*target);
    }
}

namespace {

// Moves up to count body bytes (-1: until the server closes) from the connection into the
// stream, straight from what the transport received (the one copy a body needs); answers how
// many arrived before the connection closed.
int64_t ReadBodyBytes(TIdIOHandler& io, rtl::Stream& stream, int64_t count) {
    int64_t received = 0;
    while (count < 0 || received < count) {
        const int64_t want = count < 0 ? INT32_MAX : std::min<int64_t>(count - received, INT32_MAX);
        int32_t n = 0;
        try {
            n = io.ReadSomeTo(stream, int32_t(want));
        } catch (const EIdConnClosedGracefully&) {
            break;
        }
        if (n <= 0) break;
        received += n;
    }
    return received;
}

}  // namespace

void TIdCustomHTTP::ReadBody(TIdHTTPResponse& response, rtl::Stream* target) {
    if (target == nullptr || !response.HasBody()) return;
    TIdIOHandler* io = IOHandler();
    if (io == nullptr) EIdException::RaiseIdException<EIdNotConnected>(RSId::NotConnectedCommand);
    rtl::Stream& stream = *target;
    // Bodies are read in larger pieces than lines (fewer system calls per megabyte).
    const int32_t oldRecvBufferSize = io->RecvBufferSize;
    io->RecvBufferSize = std::max(oldRecvBufferSize, kBodyReceiveSize);
    TIdFinally restoreSize{[io, oldRecvBufferSize] { io->RecvBufferSize = oldRecvBufferSize; }};
    // Transfer codings are named in any case (RFC 9112 section 7); chunked wins over a length
    // (section 6.3).
    const bool chunked = rtl::ContainsText(response.RawHeaders.GetValueByName("Transfer-Encoding"), "chunked");
    const int64_t length = chunked ? 0 : std::max<int64_t>(response.ContentLength, 0);
    io->WorkBegin(wmRead, length);
    TIdFinally end{[io] { io->WorkEnd(wmRead); }};
    if (chunked) {
        DoStatus(hsStatusText, "Chunk Started");
        int64_t received = 0;
        try {
            for (;;) {
                const int32_t size = ParseChunkSize(io->ReadLn());
                if (size == 0) break;
                const int64_t got = ReadBodyBytes(*io, stream, size);
                received += got;
                if (got < size)
                    EIdException::RaiseIdException<EIdHTTPIncompleteResponse>(rtl::Format(
                        "The connection closed inside a chunk of %d bytes after %d bytes; the chunked body "
                        "ended after %s bytes, before its last chunk.",
                        size, int32_t(got), std::to_string(received)));
                if (!io->ReadLn().empty())
                    EIdException::RaiseIdException<EIdHTTPMalformedResponse>(
                        rtl::Format("A chunk of %d bytes is not followed by CR LF.", size));
            }
            // Trailer lines up to the empty line (RFC 9112 section 7.1.2), read and not kept.
            for (int32_t lines = 0; !io->ReadLn().empty(); ++lines)
                if (HeaderLineLimit > 0 && lines >= HeaderLineLimit)
                    EIdException::RaiseIdException<EIdHTTPMalformedResponse>(
                        rtl::Format("The chunked body's trailer exceeds %d lines.", HeaderLineLimit));
        } catch (const EIdConnClosedGracefully&) {
            EIdException::RaiseIdException<EIdHTTPIncompleteResponse>(
                rtl::Format("The connection closed after %s bytes of a chunked body, before its last chunk.",
                            std::to_string(received)));
        }
    } else if (response.ContentLength > 0) {
        const int64_t got = ReadBodyBytes(*io, stream, response.ContentLength);
        if (got < response.ContentLength)
            EIdException::RaiseIdException<EIdHTTPIncompleteResponse>(
                rtl::Format("The connection closed after %s of the %s bytes of the response body.",
                            std::to_string(got), std::to_string(response.ContentLength)));
    } else if (!response.HasContentLength) {
        ReadBodyBytes(*io, stream, -1);
    }
}

// --- events and authentication

bool TIdCustomHTTP::DoOnRedirect(std::string& location, TIdHTTPMethod& method, int32_t redirectCount) {
    bool handled = HandleRedirects;
    if (OnRedirect) {
        int32_t count = redirectCount;
        OnRedirect(this, location, count, handled, method);
    }
    return handled;
}

namespace {

// The first challenge whose scheme is registered, or nullptr.
TIdAuthenticationClass ClassForChallenges(const TIdHeaderList& challenges) {
    for (const std::string& value : challenges.Lines()) {
        std::string scheme = value;
        scheme = CutAtDelimiter(scheme, " ", true, true);
        if (TIdAuthenticationClass c = FindAuthenticationClass(scheme)) return c;
    }
    return nullptr;
}

}  // namespace

bool TIdCustomHTTP::RunAuthenticationSteps(TIdAuthentication& auth, const std::function<bool()>& askProgram) {
    // A scheme that keeps asking the program is given up after a bounded number of rounds.
    for (int32_t rounds = 0; rounds <= MaxAuthRetries + 1; ++rounds) {
        switch (auth.Next()) {
            case nsDoRequest:
                return true;
            case nsFail:
                return false;
            case nsAskProgram:
                if (!askProgram()) return false;
                break;
        }
    }
    return false;
}

bool TIdCustomHTTP::DoOnAuthorization(TIdHTTPRequest& request, TIdHTTPResponse& response) {
    ++AuthRetries;
    if (request.Authentication() == nullptr) {
        TIdAuthenticationClass authClass = ClassForChallenges(response.WWWAuthenticate);
        if (authClass == nullptr) return false;
        if (OnSelectAuthorization) OnSelectAuthorization(this, authClass, response.WWWAuthenticate);
        if (authClass == nullptr) return false;
        request.SetAuthentication(authClass->Make());
        authOrigin_ = uri_.Origin();
    }
    TIdAuthentication& auth = *request.Authentication();
    if (!OnAuthorization && rtl::Trim(request.Password).empty()) {
        // Nothing can answer the challenge: an object without credentials is not kept to be
        // sent (and refused) with the next request.
        request.SetAuthentication(nullptr);
        return false;
    }
    auth.SetUsername(request.Username);
    auth.SetPassword(request.Password);
    auth.Params.SetValueByName("Authorization", auth.Authentication());
    auth.SetAuthParams(response.WWWAuthenticate);
    return RunAuthenticationSteps(auth, [&] {
        if (!OnAuthorization) return false;
        auth.SetUsername(request.Username);
        auth.SetPassword(request.Password);
        bool handled = false;
        OnAuthorization(this, auth, handled);
        if (!handled) return false;
        request.BasicAuthentication = true;
        request.Username = auth.GetUsername();
        request.Password = auth.GetPassword();
        return true;
    });
}

bool TIdCustomHTTP::DoOnProxyAuthorization(TIdHTTPRequest&, TIdHTTPResponse& response) {
    ++AuthProxyRetries;
    if (proxyParams_.Authentication() == nullptr) {
        TIdAuthenticationClass authClass = ClassForChallenges(response.ProxyAuthenticate);
        if (authClass == nullptr) return false;
        if (OnSelectProxyAuthorization) OnSelectProxyAuthorization(this, authClass, response.ProxyAuthenticate);
        if (authClass == nullptr) return false;
        proxyParams_.SetAuthentication(authClass->Make());
    }
    TIdAuthentication& auth = *proxyParams_.Authentication();
    const bool result = static_cast<bool>(OnProxyAuthorization);
    rtl::secure_wipe(proxyParams_.ProxyPassword.data(), proxyParams_.ProxyPassword.size());
    proxyParams_.ProxyPassword.clear();
    auth.Reset();
    if (!result) {
        // Nothing can answer the challenge: an object without credentials is not kept, so
        // credentials set later (BasicAuthentication) are the ones sent.
        proxyParams_.SetAuthentication(nullptr);
        return false;
    }
    auth.SetUsername(proxyParams_.ProxyUsername);
    auth.SetPassword(proxyParams_.ProxyPassword);
    auth.SetAuthParams(response.ProxyAuthenticate);
    return RunAuthenticationSteps(auth, [&] {
        bool handled = false;
        OnProxyAuthorization(this, auth, handled);
        if (!handled) return false;
        proxyParams_.ProxyUsername = auth.GetUsername();
        proxyParams_.ProxyPassword = auth.GetPassword();
        return true;
    });
}

void TIdCustomHTTP::DoOnDisconnected() {
    TIdTCPClientCustom::DoOnDisconnected();
    TIdAuthentication* auth = Request().Authentication();
    if (auth != nullptr && auth->Steps() == auth->CurrentStep) {
        if (authenticationManager_ != nullptr) authenticationManager_->AddAuthentication(*auth, uri_.BuildURI(false, false));
        Request().SetAuthentication(nullptr);
    }
    TIdAuthentication* proxyAuth = proxyParams_.Authentication();
    if (proxyAuth != nullptr && proxyAuth->Steps() == proxyAuth->CurrentStep) proxyAuth->Reset();
}
