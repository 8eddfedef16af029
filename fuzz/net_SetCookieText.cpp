// Fuzz target: cookie texts from a server. A cookie's own text, written back by
// ServerCookieText, parses to the same name and value; a cookie the manager accepted from a
// host is sent only to hosts inside its domain.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdCookieManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool version2 = data[0] & 1;
    std::unique_ptr<TIdCookieRFC2109> cookie = version2 ? TIdCookies::Add2() : TIdCookies::Add();
    try {
        cookie->SetCookieText(text);
    } catch (const std::exception&) {
        return 0;  // a Set-Cookie2 port list that is not numbers
    }
    if (cookie->CookieName.find('=') == std::string::npos && !cookie->Value.empty()) {
        std::unique_ptr<TIdCookieRFC2109> again = TIdCookies::Add();
        again->SetCookieText(cookie->ServerCookieText());
        if (again->CookieName != cookie->CookieName || again->Value != cookie->Value) std::abort();
    }
    TIdCookieManager manager;
    const std::string sender = "www.example.com";
    if (version2)
        manager.AddCookie2(text, sender);
    else
        manager.AddCookie(text, sender);
    for (const char* host : {"example.com", "www.example.com", "evil.test", "www.example.com.evil.test", "com"}) {
        const std::string header = manager.CookieHeaderFor(TIdURI(std::string("https://") + host + "/"), true);
        if (header.empty()) continue;
        bool inDomain = false;
        const auto& domains = manager.CookieCollection().LockCookieListByDomain(caRead);
        for (const auto& d : domains) inDomain = inDomain || CookieDomainMatches(host, d.Domain);
        manager.CookieCollection().UnlockCookieListByDomain(caRead);
        if (!inDomain || std::string(host).find("evil") != std::string::npos) std::abort();
    }
    return 0;
}
