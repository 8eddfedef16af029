// net/IdURI.h: a URL split into its parts and built back.
//
// Parsing never fails: any text gives some split (scheme, user info, host, port, path,
// document, parameters, bookmark); the authority (user info, host, port) ends at the first
// '/', '?' or '#'. Building needs a protocol and a host. An IPv6 host is kept
// without its brackets (IPVersion tells) and written in brackets when a URL is built. The
// port is left out of a built URL only when it is 80 and the protocol is "http" (so
// "https://h:80/" keeps its port). EncodeParamText is the form encoder of the HTTP client:
// it escapes every byte a form decoder would read otherwise ("&", "=", "+", "%", ...).
#pragma once

#include <string>

#include "net/IdException.h"
#include "net/IdGlobal.h"

RTL_EXCEPTION(EIdURIException, EIdException);

class TIdURI {
public:
    explicit TIdURI(const std::string& uri = {});

    std::string URI;
    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;
    std::string Path;
    std::string Document;
    std::string Params;
    std::string Bookmark;
    TIdIPVersion IPVersion = Id_IPv4;

    void SetURI(const std::string& value);
    // Stores the full text (user info and bookmark) in URI and returns it without them.
    std::string GetURI();
    std::string BuildURI(bool withUserInfo = true, bool withBookmark = true) const;

    // The host as written in a URL or a "Host" line: an IPv6 address in brackets.
    std::string HostText() const;
    // "scheme://host:port" in lower case with the port always given: what credentials and
    // cookies of a request are bound to.
    std::string Origin() const;

    static std::string EncodeParamText(const std::string& text);
    static std::string NormalizeBackslashes(const std::string& text);
};
