// net/IdCookieManager.cpp: taking cookies in and giving the header out.
#include "net/IdCookieManager.h"

#include <vector>

#include "net/IdGlobalProtocols.h"
#include "platform/Clock.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"

TIdCookieManager::TIdCookieManager(rtl::Component* owner)
    : TIdBaseComponent(owner), cookies_(std::make_unique<TIdCookies>()) {
    DoOnCreate();
}

TIdCookieManager::~TIdCookieManager() {
    try {
        RemoveExpiredCookies();
        DoOnDestroy();
    } catch (...) {
        // A destructor ends here whatever an event handler raised.
    }
}

void TIdCookieManager::DoOnCreate() {
    if (OnCreate) OnCreate(this, *cookies_);
}

void TIdCookieManager::DoOnDestroy() {
    if (OnDestroy) OnDestroy(this, *cookies_);
}

bool TIdCookieManager::DoOnNewCookie(TIdCookieRFC2109& cookie) {
    bool accept = true;
    if (OnNewCookie) OnNewCookie(this, cookie, accept);
    return accept;
}

void TIdCookieManager::AddCookie(const std::string& text, const std::string& host) {
    AddParsedCookie(TIdCookies::Add(), text, host);
}

void TIdCookieManager::AddCookie2(const std::string& text, const std::string& host) {
    AddParsedCookie(TIdCookies::Add2(), text, host);
}

void TIdCookieManager::AddParsedCookie(std::unique_ptr<TIdCookieRFC2109> cookie, const std::string& text,
                                       const std::string& host) {
    if (text.size() > TIdCookies::kMaxCookieText) return;
    // A control character other than TAB (a bare CR, a NUL) makes the whole cookie ignored
    // (RFC 6265bis section 5.6): sent back, it would break the request's header block.
    for (const unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7F) return;
    try {
        cookie->SetCookieText(text);
    } catch (const rtl::Exception&) {
        return;  // attributes that cannot be read: this cookie is dropped, the response goes on
    }
    if (cookie->Domain.empty()) cookie->Domain = host;
    if (!cookie->MatchesHost(host)) return;
    if (!DoOnNewCookie(*cookie)) return;
    cookies_->AddCookie(std::move(cookie));
}

void TIdCookieManager::RemoveExpiredCookies() {
    const rtl::TDateTime now = rtl::DateTimeFromTimePoint(plat::GetClock().Now(), false);
    cookies_->RemoveIf([now](const TIdCookieRFC2109& c) {
        if (c.Expires.empty()) return false;
        const rtl::TDateTime date = GmtTextToDateTime(c.Expires);
        return date != 0 && date < now;
    });
}

std::string TIdCookieManager::CookieHeaderFor(const TIdURI& uri, bool secure) {
    RemoveExpiredCookies();
    const std::string path = uri.Path + uri.Document;
    std::vector<const TIdCookieRFC2109*> taken;
    const auto& domains = cookies_->LockCookieListByDomain(caRead);
    try {
        for (const TIdCookies::DomainEntry& d : domains) {
            if (!CookieDomainMatches(uri.Host, d.Domain)) continue;
            for (auto c = d.Cookies.rbegin(); c != d.Cookies.rend(); ++c) {
                const TIdCookieRFC2109& cookie = **c;
                if (path.compare(0, cookie.Path.size(), cookie.Path) == 0 && !cookie.Value.empty() &&
                    (!cookie.Secure || secure))
                    taken.push_back(&cookie);
            }
        }
    } catch (...) {
        cookies_->UnlockCookieListByDomain(caRead);
        throw;
    }
    std::string text;
    for (auto c = taken.rbegin(); c != taken.rend(); ++c) text += (text.empty() ? "" : "; ") + (*c)->ClientCookieText();
    cookies_->UnlockCookieListByDomain(caRead);
    return text;
}
