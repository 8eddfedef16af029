// net/IdCookie.h: cookies as servers send them, and their store.
//
// A cookie is parsed from a "Set-Cookie" (Netscape, RFC 2109) or "Set-Cookie2" (RFC 2965)
// value; its attributes are read case-insensitively. TIdCookies owns the cookies and indexes
// them by domain (lower case, in order of first appearance) and, within a domain, by name: a
// cookie of a known domain and name replaces the content of the one stored. Domains are
// matched as RFC 6265 section 5.1.3 says (case-insensitive, on a label boundary, an IP
// address only exactly; a one-label domain only for that host itself), so a cookie never
// reaches a host outside its domain. The store has ceilings (RFC 6265 section 6.1 sizes):
// a longer cookie text, or one more cookie than a full store or domain holds, is dropped.
//
// Concurrency: a many-readers / one-writer lock guards the store; readers build header texts,
// writers add, replace and expire cookies. Cookies are not locked themselves: they are changed
// only under the write lock.
#pragma once

#include <cstdint>
#include <memory>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "net/IdException.h"
#include "rtl/StringList.h"

enum TIdCookieKind : uint8_t { ckNetscape = 0, ckRFC2109 = 1, ckRFC2965 = 2 };

class TIdCookies;

class TIdNetscapeCookie {
public:
    TIdNetscapeCookie() = default;
    virtual ~TIdNetscapeCookie() = default;
    TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
    TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;

    std::string Domain;
    std::string Expires;
    std::string CookieName;
    std::string Path;
    bool Secure = false;
    std::string Value;
    TIdCookieKind Kind = ckNetscape;

    const std::string& CookieText() const { return cookieText_; }
    // Parses the text (nothing when it equals the text last parsed).
    void SetCookieText(const std::string& text);
    virtual std::string ServerCookieText() const;
    std::string ClientCookieText() const { return CookieName + "=" + Value; }
    virtual void SetExpires(const std::string& text) { Expires = text; }
    // Whether a cookie of this domain may come from (and go to) the host.
    virtual bool MatchesHost(const std::string& host) const;
    // Takes the content of an RFC 2109 or 2965 cookie; other sources are ignored.
    virtual void Assign(const TIdNetscapeCookie& source);

protected:
    // The attributes: "NAME=value" lines, names in upper case.
    virtual void LoadAttributes(const rtl::StringList& attributes);

private:
    std::string cookieText_;
};

class TIdCookieRFC2109 : public TIdNetscapeCookie {
public:
    TIdCookieRFC2109() { Kind = ckRFC2109; }

    int64_t MaxAge = -1;  // seconds; -1 none
    std::string Version;
    std::string Comment;

    std::string ServerCookieText() const override;
    // Also sets MaxAge to the whole seconds from now to the date (unreadable: kept).
    void SetExpires(const std::string& text) override;

protected:
    void LoadAttributes(const rtl::StringList& attributes) override;
};

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
    TIdCookieRFC2965() { Kind = ckRFC2965; }

    std::string CommentURL;
    bool Discard = false;
    std::vector<int32_t> PortList;

    // index 0..length (one past the end grows the list); else "Index out of range.".
    void SetPort(int32_t index, int32_t port);

protected:
    // A "Port" list that is not all numbers raises (the cookie is then dropped).
    void LoadAttributes(const rtl::StringList& attributes) override;
};

// RFC 6265 section 5.1.3 domain matching of a host (case-insensitive; a leading dot of the
// domain ignored).
bool CookieDomainMatches(const std::string& host, const std::string& domain);

enum TIdCookieAccess { caRead, caReadWrite };

class TIdCookies {
public:
    // Ceilings: one cookie's text, cookies per domain and in all.
    static constexpr size_t kMaxCookieText = 4096;
    static constexpr size_t kMaxCookiesPerDomain = 50;
    static constexpr size_t kMaxCookies = 3000;

    struct DomainEntry {
        std::string Domain;  // lower case
        std::vector<TIdCookieRFC2109*> Cookies;  // in order of first arrival
    };

    TIdCookies() = default;
    TIdCookies(const TIdCookies&) = delete;
    TIdCookies& operator=(const TIdCookies&) = delete;

    // New cookies, not yet in the store.
    static std::unique_ptr<TIdCookieRFC2109> Add() { return std::make_unique<TIdCookieRFC2109>(); }
    static std::unique_ptr<TIdCookieRFC2109> Add2() { return std::make_unique<TIdCookieRFC2965>(); }
    // Stores the cookie, or gives its content to the stored cookie of its domain and name;
    // false when a ceiling refused it.
    bool AddCookie(std::unique_ptr<TIdCookieRFC2109> cookie);
    // Frees every cookie for which expired answers true.
    template <class F>
    void RemoveIf(F expired);

    int Count() const;
    // The domains with their cookies; hold the lock while reading it.
    const std::vector<DomainEntry>& LockCookieListByDomain(TIdCookieAccess access);
    void UnlockCookieListByDomain(TIdCookieAccess access);

private:
    void RemoveIfLocked(const std::function<bool(const TIdCookieRFC2109&)>& expired);

    mutable std::shared_mutex lock_;
    std::vector<std::unique_ptr<TIdCookieRFC2109>> items_;
    std::vector<DomainEntry> domains_;
};

template <class F>
void TIdCookies::RemoveIf(F expired) {
    std::unique_lock guard(lock_);
    RemoveIfLocked(expired);
}
