// net/IdURI.cpp: splitting and building URLs.
#include "net/IdURI.h"

#include "rtl/Text.h"

TIdURI::TIdURI(const std::string& uri) {
    if (!uri.empty()) SetURI(uri);
}

std::string TIdURI::NormalizeBackslashes(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

namespace {

// The query start (the first '?', else the first '='), and the length of the path part: up to
// and including the last '/' at or before the query start.
void SplitPath(const std::string& w, size_t& pathLength, size_t& query) {
    query = w.find('?');
    if (query == std::string::npos) query = w.find('=');
    const size_t searchEnd = query == std::string::npos ? w.size() : query;
    const size_t slash = searchEnd == 0 ? std::string::npos : w.rfind('/', searchEnd - 1);
    pathLength = slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

void TIdURI::SetURI(const std::string& value) {
    URI = value;
    std::string w = NormalizeBackslashes(value);
    Protocol.clear();
    Username.clear();
    Password.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    Document.clear();
    Params.clear();
    Bookmark.clear();
    IPVersion = Id_IPv4;

    const size_t scheme = w.find("://");
    const bool absolute = scheme != std::string::npos;
    if (absolute) {
        Protocol = w.substr(0, scheme);
        w.erase(0, scheme + 3);
        // The authority ends at the first '/', '?' or '#' (RFC 3986 section 3.2); a '/' goes
        // with it (the path gets its own in front), a '?' or '#' stays to start the rest.
        const size_t end = w.find_first_of("/?#");
        std::string authority = w.substr(0, end);
        if (end == std::string::npos)
            w.clear();
        else
            w.erase(0, w[end] == '/' ? end + 1 : end);
        const size_t at = authority.find('@');
        if (at != std::string::npos) {
            const std::string userInfo = authority.substr(0, at);
            authority.erase(0, at + 1);
            const size_t colon = userInfo.find(':');
            Username = userInfo.substr(0, colon);
            if (colon != std::string::npos) Password = userInfo.substr(colon + 1);
            if (Username.empty()) Password.clear();
        }
        const size_t open = authority.find('[');
        const size_t close = authority.find(']');
        std::string rest;
        if (open != std::string::npos && close != std::string::npos && open < close) {
            Host = authority.substr(open + 1, close - open - 1);
            rest = authority.substr(close + 1);
            const size_t colon = rest.find(':');
            rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
            IPVersion = Id_IPv6;
        } else {
            const size_t colon = authority.find(':');
            Host = authority.substr(0, colon);
            if (colon != std::string::npos) rest = authority.substr(colon + 1);
        }
        Port = rest;
    }
    size_t pathLength = 0, query = 0;
    SplitPath(w, pathLength, query);
    Path = absolute ? "/" + w.substr(0, pathLength) : w.substr(0, pathLength);
    if (query == std::string::npos) {
        Document = w;
    } else {
        Document = w.substr(0, query);
        Params = w.substr(query);
    }
    Document.erase(0, std::min(pathLength, Document.size()));
    if (absolute) {
        const size_t hash = Document.find('#');
        if (hash != std::string::npos) {
            Bookmark = Document.substr(hash + 1);
            Document.resize(hash);
        }
    }
    if (Bookmark.empty()) {
        const size_t hash = Params.find('#');
        if (hash != std::string::npos) {
            Bookmark = Params.substr(hash + 1);
            Params.resize(hash);
        }
    }
}

std::string TIdURI::GetURI() {
    URI = BuildURI(true, true);
    return BuildURI(false, false);
}

std::string TIdURI::HostText() const {
    if (IPVersion == Id_IPv6 || Host.find(':') != std::string::npos) return "[" + Host + "]";
    return Host;
}

std::string TIdURI::BuildURI(bool withUserInfo, bool withBookmark) const {
    if (Protocol.empty()) EIdException::RaiseIdException<EIdURIException>("Protocol field is empty");
    std::string text = Protocol + "://";
    if (withUserInfo && !Username.empty()) {
        text += Username;
        if (!Password.empty()) text += ":" + Password;
        text += "@";
    }
    if (Host.empty()) EIdException::RaiseIdException<EIdURIException>("Host field is empty");
    text += HostText();
    // Port 80 is the default of "http" only; any other scheme on port 80 must say so.
    if (!Port.empty() && !(Port == "80" && rtl::SameText(Protocol, "http"))) text += ":" + Port;
    text += Path + Document + Params;
    if (withBookmark && !Bookmark.empty()) text += "#" + Bookmark;
    return text;
}

std::string TIdURI::Origin() const {
    std::string port = Port;
    if (port.empty()) port = rtl::SameText(Protocol, "https") ? "443" : "80";
    return rtl::LowerCase(Protocol) + "://" + rtl::LowerCase(HostText()) + ":" + port;
}

std::string TIdURI::EncodeParamText(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Besides the bytes outside printable ASCII, everything a form decoder reads as syntax
    // ("&" and "=" split, "+" is a space, "%" escapes) or a URL reader refuses.
    static constexpr std::string_view kEscaped = " #%*<>[]&=+";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 33 || c > 126 || kEscaped.find(char(c)) != std::string_view::npos) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}
