// net/IdCookie.cpp: parsing cookies, matching domains, and the store.
#include "net/IdCookie.h"

#include <algorithm>
#include <cmath>

#include "net/IdGlobalProtocols.h"
#include "net/IdStack.h"
#include "platform/Clock.h"
#include "rtl/DateTime.h"
#include "rtl/Text.h"

namespace {

std::string Unquote(std::string s) {
    if (!s.empty() && s.front() == '"') s.erase(0, 1);
    if (!s.empty() && s.back() == '"') s.pop_back();
    return s;
}

rtl::TDateTime LocalNow() { return rtl::DateTimeFromTimePoint(plat::GetClock().Now(), false); }

bool HasEntry(const rtl::StringList& attributes, const std::string& name) {
    for (const std::string& a : attributes.Lines())
        if (rtl::SameText(a, name) || rtl::SameText(a.substr(0, a.find('=')), name)) return true;
    return false;
}

}  // namespace

bool CookieDomainMatches(const std::string& host, const std::string& domain) {
    std::string d = rtl::LowerCase(domain);
    if (!d.empty() && d.front() == '.') d.erase(0, 1);
    const std::string h = rtl::LowerCase(rtl::Trim(host));
    if (d.empty() || h.empty()) return false;
    if (h == d) return true;
    // An address matches only itself; a one-label domain ("com") only the host of that name.
    if (TIdStack::IsIPv4Text(h) || h.find(':') != std::string::npos) return false;
    if (d.find('.') == std::string::npos) return false;
    return h.size() > d.size() && h.compare(h.size() - d.size(), d.size(), d) == 0 && h[h.size() - d.size() - 1] == '.';
}

void TIdNetscapeCookie::SetCookieText(const std::string& text) {
    if (text == cookieText_) return;
    cookieText_ = text;
    const std::vector<std::string> parts = rtl::SplitFields(text, ';');
    rtl::StringList attributes;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string part = rtl::Trim(parts[i]);
        const size_t eq = part.find('=');
        if (i == 0) {
            CookieName = part.substr(0, eq);
            Value = eq == std::string::npos ? std::string() : part.substr(eq + 1);
        } else if (eq != std::string::npos) {
            attributes.Add(rtl::UpperCase(rtl::Trim(part.substr(0, eq))) + "=" + rtl::Trim(part.substr(eq + 1)));
        } else {
            attributes.Add(rtl::UpperCase(part));
        }
    }
    LoadAttributes(attributes);
}

void TIdNetscapeCookie::LoadAttributes(const rtl::StringList& attributes) {
    Path = Unquote(attributes.Values("PATH"));
    if (Path.empty()) Path = "/";
    SetExpires(attributes.Values("EXPIRES"));
    Domain = attributes.Values("DOMAIN");
    Secure = attributes.IndexOf("SECURE") >= 0;
}

std::string TIdNetscapeCookie::ServerCookieText() const {
    std::vector<std::string> parts;
    parts.push_back(Value.empty() ? CookieName : CookieName + "=" + Value);
    if (!Path.empty()) parts.push_back("path=" + Path);
    if (Kind == ckNetscape && !Expires.empty()) parts.push_back("expires=" + Expires);
    if (!Domain.empty()) parts.push_back("domain=" + Domain);
    if (Secure) parts.push_back("secure");
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : "; ") + p;
    return text;
}

bool TIdNetscapeCookie::MatchesHost(const std::string& host) const { return CookieDomainMatches(host, Domain); }

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie& source) {
    if (&source == this || dynamic_cast<const TIdCookieRFC2109*>(&source) == nullptr) return;
    SetCookieText(source.ServerCookieText());
    Kind = source.Kind;
}

std::string TIdCookieRFC2109::ServerCookieText() const {
    std::string text = TIdNetscapeCookie::ServerCookieText();
    if (MaxAge >= 0 && Expires.empty()) text += "; max-age=" + std::to_string(MaxAge);
    if (!Comment.empty()) text += "; comment=" + Comment;
    if (!Version.empty()) text += "; version=" + Version;
    return text;
}

void TIdCookieRFC2109::SetExpires(const std::string& text) {
    if (!text.empty()) {
        const rtl::TDateTime date = GmtTextToDateTime(text);
        if (date != 0) MaxAge = int64_t(std::trunc((date - LocalNow()) * 86400.0));
    }
    TIdNetscapeCookie::SetExpires(text);
}

void TIdCookieRFC2109::LoadAttributes(const rtl::StringList& attributes) {
    TIdNetscapeCookie::LoadAttributes(attributes);
    if (!rtl::TryStrToInt64(attributes.Values("MAX-AGE"), MaxAge)) MaxAge = -1;
    Version = attributes.Values("VERSION");
    Comment = attributes.Values("COMMENT");
    if (Expires.empty()) {
        Kind = ckNetscape;
        if (MaxAge >= 0) {
            const rtl::TDateTime utcNow = rtl::DateTimeFromTimePoint(plat::GetClock().Now(), true);
            SetExpires(DateTimeToGmtText(utcNow + double(MaxAge) / 86400.0));
        }
    }
}

void TIdCookieRFC2965::SetPort(int32_t index, int32_t port) {
    if (index < 0 || size_t(index) > PortList.size()) EIdException::RaiseIdException("Index out of range.");
    if (size_t(index) == PortList.size())
        PortList.push_back(port);
    else
        PortList[size_t(index)] = port;
}

void TIdCookieRFC2965::LoadAttributes(const rtl::StringList& attributes) {
    TIdCookieRFC2109::LoadAttributes(attributes);
    CommentURL = attributes.Values("COMMENTURL");
    Discard = HasEntry(attributes, "DISCARD");
    PortList.clear();
    std::string ports = attributes.Values("PORT");
    if (ports.size() >= 2 && ports.front() == '"' && ports.back() == '"') ports = ports.substr(1, ports.size() - 2);
    int32_t index = 0;
    for (const std::string& p : rtl::SplitFields(ports, ',')) {
        if (rtl::Trim(p).empty()) continue;
        SetPort(index++, rtl::StrToInt(rtl::Trim(p)));  // EConvertError for a text that is no number
    }
    if (PortList.empty()) SetPort(0, 80);
}

bool TIdCookies::AddCookie(std::unique_ptr<TIdCookieRFC2109> cookie) {
    if (!cookie || cookie->CookieText().size() > kMaxCookieText) return false;
    std::unique_lock guard(lock_);
    const std::string domain = rtl::LowerCase(cookie->Domain);
    auto d = std::find_if(domains_.begin(), domains_.end(), [&](const DomainEntry& e) { return e.Domain == domain; });
    if (d != domains_.end()) {
        for (TIdCookieRFC2109* stored : d->Cookies)
            if (stored->CookieName == cookie->CookieName) {
                stored->Assign(*cookie);
                return true;
            }
        if (d->Cookies.size() >= kMaxCookiesPerDomain) return false;
    }
    if (items_.size() >= kMaxCookies) return false;
    if (d == domains_.end()) d = domains_.insert(domains_.end(), DomainEntry{domain, {}});
    d->Cookies.push_back(cookie.get());
    items_.push_back(std::move(cookie));
    return true;
}

void TIdCookies::RemoveIfLocked(const std::function<bool(const TIdCookieRFC2109&)>& expired) {
    // Decided once per cookie, so the index and the store always drop the same cookies.
    std::vector<const TIdCookieRFC2109*> gone;
    for (const auto& c : items_)
        if (expired(*c)) gone.push_back(c.get());
    if (gone.empty()) return;
    const auto isGone = [&](const TIdCookieRFC2109* c) { return std::find(gone.begin(), gone.end(), c) != gone.end(); };
    for (DomainEntry& d : domains_) std::erase_if(d.Cookies, isGone);
    std::erase_if(domains_, [](const DomainEntry& d) { return d.Cookies.empty(); });
    std::erase_if(items_, [&](const std::unique_ptr<TIdCookieRFC2109>& c) { return isGone(c.get()); });
}

int TIdCookies::Count() const {
    std::shared_lock guard(lock_);
    return int(items_.size());
}

const std::vector<TIdCookies::DomainEntry>& TIdCookies::LockCookieListByDomain(TIdCookieAccess access) {
    if (access == caRead)
        lock_.lock_shared();
    else
        lock_.lock();
    return domains_;
}

void TIdCookies::UnlockCookieListByDomain(TIdCookieAccess access) {
    if (access == caRead)
        lock_.unlock_shared();
    else
        lock_.unlock();
}
