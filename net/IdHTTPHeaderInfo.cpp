// net/IdHTTPHeaderInfo.cpp: header blocks to fields and back.
#include "net/IdHTTPHeaderInfo.h"

#include "net/IdGlobalProtocols.h"
#include "platform/Clock.h"
#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// Header dates are kept in local time and written in GMT.
std::string LocalToGmtText(rtl::TDateTime local) {
    return DateTimeToGmtText(rtl::DateTimeFromTimePoint(rtl::TimePointFromDateTime(local, false), true));
}

rtl::TDateTime LocalNow() { return rtl::DateTimeFromTimePoint(plat::GetClock().Now(), false); }

// A range number: 0 when not a number; a negative one does not fit the field.
int64_t RangeNumber(const std::string& text) {
    int64_t v = 0;
    if (!rtl::TryStrToInt64(rtl::Trim(text), v)) return 0;
    if (v < 0) EIdException::RaiseIdException(rtl::Format("Content-Range: %s is out of range.", rtl::Trim(text)));
    return v;
}

void WipeText(std::string& s) {
    rtl::secure_wipe(s.data(), s.size());
    s.clear();
}

}  // namespace

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
    RawHeaders.FoldWidth = 1024;
    // The virtual Clear of a derived class runs in its own constructor.
    TIdEntityHeaderInfo::Clear();
}

void TIdEntityHeaderInfo::Clear() {
    Connection.clear();
    ContentVersion.clear();
    ContentEncoding.clear();
    ContentLanguage.clear();
    ContentType.clear();
    ContentLength = -1;
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
    ContentRangeInstanceLength = 0;
    Date = 0;
    LastModified = 0;
    Expires = 0;
    RawHeaders.Clear();
}

void TIdEntityHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
    if (&source == this) return;
    RawHeaders.Clear();
    RawHeaders.AddStrings(source.RawHeaders);
    ContentEncoding = source.ContentEncoding;
    ContentLanguage = source.ContentLanguage;
    ContentType = source.ContentType;
    ContentVersion = source.ContentVersion;
    ContentLength = source.ContentLength;
    ContentRangeStart = source.ContentRangeStart;
    ContentRangeEnd = source.ContentRangeEnd;
    ContentRangeInstanceLength = source.ContentRangeInstanceLength;
    Date = source.Date;
    LastModified = source.LastModified;
    Expires = source.Expires;
}

void TIdEntityHeaderInfo::BuildHeaders() {
    RawHeaders.Clear();
    const auto set = [this](const char* name, const std::string& value) {
        if (!value.empty()) RawHeaders.SetValueByName(name, value);
    };
    set("Connection", Connection);
    set("Content-Version", ContentVersion);
    set("Content-Encoding", ContentEncoding);
    set("Content-Language", ContentLanguage);
    set("Content-Type", ContentType);
    if (ContentLength >= 0) set("Content-Length", std::to_string(ContentLength));
    if (ContentRangeEnd != 0 || ContentRangeInstanceLength != 0) {
        const std::string range =
            ContentRangeEnd != 0 ? std::to_string(ContentRangeStart) + "-" + std::to_string(ContentRangeEnd) : "*";
        const std::string length =
            ContentRangeInstanceLength != 0 ? std::to_string(ContentRangeInstanceLength) : std::string("*");
        set("Content-Range", "bytes " + range + "/" + length);
    }
    set("Cache-control", CacheControl);
    if (Date > 0) set("Date", LocalToGmtText(Date));
    if (Expires > 0) set("Expires", LocalToGmtText(Expires));
    set("Pragma", Pragma);
    // Custom lines follow the entity lines, each as its own line (a text with line breaks
    // inside one entry is refused before sending, never split into further lines).
    for (const std::string& line : CustomHeaders.Lines()) RawHeaders.Add(line);
}

void TIdEntityHeaderInfo::ParseHeaders() {
    Connection = RawHeaders.GetValueByName("Connection");
    ContentVersion = RawHeaders.GetValueByName("Content-Version");
    ContentEncoding = RawHeaders.GetValueByName("Content-Encoding");
    ContentLanguage = RawHeaders.GetValueByName("Content-Language");
    ContentType = RawHeaders.GetValueByName("Content-Type");
    int64_t length = -1;
    if (!rtl::TryStrToInt64(rtl::Trim(RawHeaders.GetValueByName("Content-Length")), length)) length = -1;
    SetContentLength(length);
    ContentRangeStart = ContentRangeEnd = ContentRangeInstanceLength = 0;
    std::string range = RawHeaders.GetValueByName("Content-Range");
    if (!range.empty()) {
        CutAtDelimiter(range, " ", true, true);
        std::string span = CutAtDelimiter(range, "/", true, true);
        const std::string total = CutAtDelimiter(range, " ", true, true);
        const std::string start = CutAtDelimiter(span, "-", true, true);
        ContentRangeStart = RangeNumber(start);
        ContentRangeEnd = RangeNumber(span);
        ContentRangeInstanceLength = RangeNumber(total);
    }
    Date = GmtTextToDateTime(RawHeaders.GetValueByName("Date"));
    LastModified = GmtTextToDateTime(RawHeaders.GetValueByName("Last-Modified"));
    const std::string expires = rtl::Trim(RawHeaders.GetValueByName("Expires"));
    int64_t seconds = 0;
    if (rtl::TryStrToInt64(expires, seconds))
        Expires = LocalNow() + double(seconds) / 86400.0;
    else
        Expires = GmtTextToDateTime(expires);
    CacheControl = RawHeaders.GetValueByName("Cache-control");
    Pragma = RawHeaders.GetValueByName("Pragma");
}

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { TIdRequestHeaderInfo::Clear(); }

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() {
    WipeText(Password);
}

void TIdRequestHeaderInfo::Clear() {
    Accept = "text/html, */*";
    AcceptCharSet.clear();
    UserAgent = "Mozilla/3.0 (compatible; Net Library)";
    BasicAuthentication = false;
    TIdEntityHeaderInfo::Clear();
}

void TIdRequestHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
    const auto* r = dynamic_cast<const TIdRequestHeaderInfo*>(&source);
    if (r == nullptr) return TIdEntityHeaderInfo::Assign(source);
    if (r == this) return;
    Accept = r->Accept;
    AcceptCharSet = r->AcceptCharSet;
    AcceptEncoding = r->AcceptEncoding;
    AcceptLanguage = r->AcceptLanguage;
    From = r->From;
    Password = r->Password;
    Referer = r->Referer;
    UserAgent = r->UserAgent;
    Username = r->Username;
    BasicAuthentication = r->BasicAuthentication;
}

void TIdRequestHeaderInfo::BuildHeaders() {
    TIdEntityHeaderInfo::BuildHeaders();
    const auto set = [this](const char* name, const std::string& value) {
        if (!value.empty()) RawHeaders.SetValueByName(name, value);
    };
    set("Proxy-Connection", ProxyConnection);
    set("Host", Host);
    set("Accept", Accept);
    set("Accept-Charset", AcceptCharSet);
    set("Accept-Encoding", AcceptEncoding);
    set("Accept-Language", AcceptLanguage);
    set("From", From);
    set("Referer", Referer);
    set("User-Agent", UserAgent);
    if (LastModified > 0) set("If-Modified-Since", LocalToGmtText(LastModified));
    if (authentication_) {
        set("Authorization", authentication_->Authentication());
    } else if (BasicAuthentication) {
        authentication_ = std::make_unique<TIdBasicAuthentication>();
        authentication_->SetUsername(Username);
        authentication_->SetPassword(Password);
        set("Authorization", authentication_->Authentication());
    }
}

void TIdRequestHeaderInfo::ParseHeaders() {
    TIdEntityHeaderInfo::ParseHeaders();
    Accept = RawHeaders.GetValueByName("Accept");
    AcceptCharSet = RawHeaders.GetValueByName("Accept-Charset");
    AcceptEncoding = RawHeaders.GetValueByName("Accept-Encoding");
    AcceptLanguage = RawHeaders.GetValueByName("Accept-Language");
    Host = RawHeaders.GetValueByName("Host");
    From = RawHeaders.GetValueByName("From");
    Referer = RawHeaders.GetValueByName("Referer");
    UserAgent = RawHeaders.GetValueByName("User-Agent");
}

TIdResponseHeaderInfo::TIdResponseHeaderInfo() { TIdResponseHeaderInfo::Clear(); }

void TIdResponseHeaderInfo::Clear() {
    TIdEntityHeaderInfo::Clear();
    ContentType = "text/html";
    Location.clear();
    Server.clear();
    ProxyAuthenticate.Clear();
    WWWAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ParseHeaders() {
    TIdEntityHeaderInfo::ParseHeaders();
    Location = RawHeaders.GetValueByName("Location");
    Server = RawHeaders.GetValueByName("Server");
    ProxyConnection = RawHeaders.GetValueByName("Proxy-Connection");
    WWWAuthenticate.Clear();
    RawHeaders.ExtractValues("WWW-Authenticate", &WWWAuthenticate);
    ProxyAuthenticate.Clear();
    RawHeaders.ExtractValues("Proxy-Authenticate", &ProxyAuthenticate);
}

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() { WipeText(ProxyPassword); }

void TIdProxyConnectionInfo::Clear() {
    proxyServer_.clear();
    ProxyUsername.clear();
    WipeText(ProxyPassword);
    proxyPort_ = 0;
}

void TIdProxyConnectionInfo::Assign(const TIdProxyConnectionInfo& source) {
    if (&source == this) return;
    ProxyPassword = source.ProxyPassword;
    SetProxyPort(source.proxyPort_);
    SetProxyServer(source.proxyServer_);
    ProxyUsername = source.ProxyUsername;
    BasicAuthentication = source.BasicAuthentication;
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& value) {
    if (rtl::SameText(value, proxyServer_)) return;
    authentication_.reset();
    proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetProxyPort(int32_t value) {
    if (value == proxyPort_) return;
    authentication_.reset();
    proxyPort_ = value;
}

void TIdProxyConnectionInfo::AddAuthorizationHeader(TIdHeaderList& headers) {
    if (authentication_) {
        const std::string value = authentication_->Authentication();
        if (!value.empty()) headers.SetValueByName("Proxy-Authorization", value);
    } else if (BasicAuthentication) {
        authentication_ = std::make_unique<TIdBasicAuthentication>();
        authentication_->SetUsername(ProxyUsername);
        authentication_->SetPassword(ProxyPassword);
        headers.SetValueByName("Proxy-Authorization", authentication_->Authentication());
    }
}
