// net/IdCookieManager.h: the cookie store of an HTTP client.
//
// The client hands every "Set-Cookie" and "Set-Cookie2" value to the manager with the host
// that sent it, and asks for the "Cookie" value of each request. A cookie whose domain the
// sending host does not match (RFC 6265 section 5.1.3) is dropped, as is one whose attributes
// cannot be read (a "Port" list that is not numbers) or whose text holds a control character
// other than TAB; OnNewCookie may refuse any other.
// Expired cookies go before each header is built; "now" is plat::Clock's.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/IdBaseComponent.h"
#include "net/IdCookie.h"
#include "net/IdURI.h"

class TIdCookieManager;

using TOnManagerEvent = std::function<void(TIdCookieManager* ASender, TIdCookies& ACookieCollection)>;
using TOnNewCookieEvent = std::function<void(TIdCookieManager* ASender, TIdCookieRFC2109& ACookie, bool& VAccept)>;

class TIdCookieManager : public TIdBaseComponent {
public:
    explicit TIdCookieManager(rtl::Component* owner = nullptr);
    ~TIdCookieManager() override;

    TOnManagerEvent OnCreate;
    TOnManagerEvent OnDestroy;
    TOnNewCookieEvent OnNewCookie;

    TIdCookies& CookieCollection() { return *cookies_; }

    // A "Set-Cookie" value (Netscape / RFC 2109) from host.
    void AddCookie(const std::string& text, const std::string& host);
    // A "Set-Cookie2" value (RFC 2965) from host.
    void AddCookie2(const std::string& text, const std::string& host);
    // The "Cookie" value for a request to the URI (secure: over TLS); empty when none.
    std::string CookieHeaderFor(const TIdURI& uri, bool secure);
    void RemoveExpiredCookies();

protected:
    virtual void DoOnCreate();
    virtual void DoOnDestroy();
    virtual bool DoOnNewCookie(TIdCookieRFC2109& cookie);

private:
    void AddParsedCookie(std::unique_ptr<TIdCookieRFC2109> cookie, const std::string& text, const std::string& host);

    std::unique_ptr<TIdCookies> cookies_;
};
