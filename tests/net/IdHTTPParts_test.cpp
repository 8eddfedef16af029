// Tables for the HTTP client's parts that need no network: URLs, form encoding, Base64, Basic
// authentication, header objects, cookies (with an injected clock) and the gzip/deflate hook.
#include <gtest/gtest.h>
#include <zlib.h>

#include "net/IdAuthentication.h"
#include "net/IdCoderMIME.h"
#include "net/IdCookieManager.h"
#include "net/IdGlobalProtocols.h"
#include "net/IdHTTPHeaderInfo.h"
#include "net/IdURI.h"
#include "net/IdZLibCompressorBase.h"
#include "platform/Clock.h"
#include "rtl/Stream.h"
#include "support/TestSupport.h"
#include "tests/net/ZlibInflater.h"

namespace {

struct UriCase {
    const char* text;
    const char *protocol, *user, *password, *host, *port, *path, *document, *params, *bookmark;
    TIdIPVersion version;
};

TEST(IdURI, ParsesTheParts) {
    const UriCase cases[] = {
        {"http://u:p@host:8080/dir/doc.html?x=1#top", "http", "u", "p", "host", "8080", "/dir/", "doc.html",
         "?x=1", "top", Id_IPv4},
        {"http:\\\\host\\dir\\doc.html", "http", "", "", "host", "", "/dir/", "doc.html", "", "", Id_IPv4},
        {"http://[fe80::1]:81/a", "http", "", "", "fe80::1", "81", "/", "a", "", "", Id_IPv6},
        {"dir/page.html?a=1", "", "", "", "", "", "dir/", "page.html", "?a=1", "", Id_IPv4},
        {"http://:secret@host/", "http", "", "", "host", "", "/", "", "", "", Id_IPv4},
        {"https://host", "https", "", "", "host", "", "/", "", "", "", Id_IPv4},
        {"http://host/a/b?c=/d/e", "http", "", "", "host", "", "/a/", "b", "?c=/d/e", "", Id_IPv4},
        {"http://host/p#frag?q", "http", "", "", "host", "", "/", "p", "?q", "frag", Id_IPv4},
        // The authority ends at '?' and '#' as well as at '/'.
        {"http://host:8080?x=1", "http", "", "", "host", "8080", "/", "", "?x=1", "", Id_IPv4},
        {"http://host:8080#top", "http", "", "", "host", "8080", "/", "", "", "top", Id_IPv4},
        {"http://host?a=/b/c", "http", "", "", "host", "", "/", "", "?a=/b/c", "", Id_IPv4},
        {"http://good.example?@evil.example/", "http", "", "", "good.example", "", "/", "", "?@evil.example/",
         "", Id_IPv4},
        {"http://good.example#@evil.example", "http", "", "", "good.example", "", "/", "", "",
         "@evil.example", Id_IPv4},
        {"http://[::1]:81?q", "http", "", "", "::1", "81", "/", "", "?q", "", Id_IPv6},
    };
    for (const UriCase& c : cases) {
        SCOPED_TRACE(c.text);
        TIdURI u(c.text);
        EXPECT_EQ(u.Protocol, c.protocol);
        EXPECT_EQ(u.Username, c.user);
        EXPECT_EQ(u.Password, c.password);
        EXPECT_EQ(u.Host, c.host);
        EXPECT_EQ(u.Port, c.port);
        EXPECT_EQ(u.Path, c.path);
        EXPECT_EQ(u.Document, c.document);
        EXPECT_EQ(u.Params, c.params);
        EXPECT_EQ(u.Bookmark, c.bookmark);
        EXPECT_EQ(u.IPVersion, c.version);
    }
}

TEST(IdURI, BuildsBackAndRefusesWhatIsMissing) {
    TIdURI u("http://u:p@host:8080/dir/doc.html?x=1#top");
    EXPECT_EQ(u.GetURI(), "http://host:8080/dir/doc.html?x=1");
    EXPECT_EQ(u.URI, "http://u:p@host:8080/dir/doc.html?x=1#top");
    const std::pair<const char*, const char*> builds[] = {
        {"http://h:80/a", "http://h/a"},
        {"http://h:443/a", "http://h:443/a"},
        {"https://h:80/a", "https://h:80/a"},  // 80 is http's default only
        {"https://h:443/a", "https://h:443/a"},
        {"http://[::1]:8080/x", "http://[::1]:8080/x"},
    };
    for (auto [in, out] : builds) EXPECT_EQ(TIdURI(in).BuildURI(false, false), out) << in;
    TIdURI empty;
    EXPECT_EQ(kwtest::ThrownMessage([&] { empty.BuildURI(); }), "Protocol field is empty");
    empty.Protocol = "http";
    EXPECT_EQ(kwtest::ThrownMessage([&] { empty.BuildURI(); }), "Host field is empty");
    EXPECT_THROW(empty.BuildURI(), EIdURIException);
}

TEST(IdURI, EncodeParamTextEscapesWhatAFormReaderWouldRead) {
    const std::pair<std::string, std::string> cases[] = {
        {"a b%c", "a%20b%25c"},
        {"p&s=w+d", "p%26s%3Dw%2Bd"},
        {"#*<>[]", "%23%2A%3C%3E%5B%5D"},
        {std::string("\x7F\x80\xC3\xA3\t", 5), "%7F%80%C3%A3%09"},
        {"/path?x.y-z_~!", "/path?x.y-z_~!"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(TIdURI::EncodeParamText(in), out) << in;
}

TEST(IdCoderMIME, EncodesAndDecodesBase64) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {std::string("\0\xFF\x10", 3), "AP8Q"}};
    TIdDecoder4to3 decoder;
    FillDecodeTable(GBase64CodeTable, decoder.DecodeTable);
    for (const auto& [clear, coded] : cases) {
        EXPECT_EQ(TIdEncoderMIME::EncodeString(clear), coded);
        TBytes bytes;
        decoder.DecodeBytes(coded, 1, bytes, -1);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), clear) << coded;
    }
    const std::string longText(100, 'x');
    const std::string coded = TIdEncoderMIME::EncodeString(longText);
    EXPECT_EQ(coded.size(), 136u);
    EXPECT_EQ(coded.find_first_of("\r\n"), std::string::npos);  // never broken into lines
    TBytes bytes;
    decoder.DecodeBytes("YWJjZGVm", 1, bytes, 4);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcd");
    // A byte the 127-entry table has no entry for is an error, never a read past the table.
    for (const std::string& bad : {std::string("YW\xC3\xA3"), std::string("YW\0j", 4)})
        EXPECT_NE(kwtest::ThrownMessage([&] { decoder.DecodeBytes(bad, 1, bytes, -1); }).find("no entry"),
                  std::string::npos);
    rtl::MemoryStream out;
    TIdStreamVCL adapter(out);
    decoder.DecodeBegin(&adapter);
    decoder.Decode("aGk=");
    EXPECT_EQ(out.Data(), "hi");
}

TEST(IdAuthentication, BasicAndTheRegistry) {
    TIdBasicAuthentication basic;
    EXPECT_EQ(basic.Authentication(), "Basic Og==");  // just the colon
    basic.SetUsername("Aladdin");
    basic.SetPassword("open sesame");
    EXPECT_EQ(basic.Authentication(), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    rtl::StringList challenge{"Basic realm=\"files\", charset=\"UTF-8\""};
    basic.SetAuthParams(challenge);
    EXPECT_EQ(basic.Next(), nsDoRequest);
    EXPECT_EQ(basic.Realm, "files");
    TIdBasicAuthentication anonymous;
    anonymous.SetAuthParams(challenge);
    EXPECT_EQ(anonymous.Next(), nsAskProgram);
    anonymous.CurrentStep = 1;
    EXPECT_EQ(anonymous.Next(), nsFail);
    EXPECT_EQ(FindAuthenticationClass("basic"), &TIdBasicAuthentication::ClassInfo);
    EXPECT_EQ(FindAuthenticationClass("Digest"), nullptr);
    EXPECT_EQ(kwtest::ThrownMessage([] { RegisterAuthenticationScheme("BASIC", &TIdBasicAuthentication::ClassInfo); }),
              "This authentication method is already registered with class name TIdBasicAuthentication.");
}

TEST(IdHTTPHeaderInfo, RequestLinesInOrder) {
    TIdRequestHeaderInfo r;
    r.ContentType = "text/plain";
    r.CustomHeaders.Add("Authorization: Bearer x");
    r.Host = "h:81";
    r.BuildHeaders();
    EXPECT_EQ(r.RawHeaders.Text(), "Content-Type: text/plain\r\nAuthorization: Bearer x\r\nHost: h:81\r\n"
                                   "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Net Library)\r\n");
    r.BasicAuthentication = true;
    r.Username = "u";
    r.Password = "p";
    r.BuildHeaders();  // the object's value replaces the custom line of the same name
    EXPECT_EQ(r.RawHeaders.GetValueByName("Authorization"), "Basic dTpw");
    EXPECT_NE(r.Authentication(), nullptr);
}

TEST(IdHTTPHeaderInfo, ResponseFieldsFromLines) {
    plat::ManualClock clock;
    plat::ScopedClock use(clock);
    TIdResponseHeaderInfo r;
    r.RawHeaders.SetText("Content-Length: 0\r\nContent-Range: bytes 0-499/1234\r\nExpires: 3600\r\n"
                         "WWW-Authenticate: Basic realm=\"a\"\r\nWWW-Authenticate: Other\r\nLocation: /x\r\n");
    r.ParseHeaders();
    EXPECT_EQ(r.ContentLength, 0);
    EXPECT_TRUE(r.HasContentLength);
    EXPECT_EQ(r.ContentRangeStart, 0);
    EXPECT_EQ(r.ContentRangeEnd, 499);
    EXPECT_EQ(r.ContentRangeInstanceLength, 1234);
    const rtl::TDateTime now = rtl::DateTimeFromTimePoint(clock.Now(), false);
    EXPECT_NEAR(r.Expires, now + 1.0 / 24, 1e-6);
    EXPECT_EQ(r.WWWAuthenticate.Count(), 2);
    EXPECT_EQ(r.Location, "/x");
    r.RawHeaders.SetText("Expires: 0\r\n");
    r.ParseHeaders();
    EXPECT_EQ(r.ContentLength, -1);
    EXPECT_FALSE(r.HasContentLength);
    EXPECT_NEAR(r.Expires, now, 1e-6);
    TIdEntityHeaderInfo e;
    e.ContentRangeStart = 0;
    e.ContentRangeEnd = 499;
    e.ContentRangeInstanceLength = 1234;
    e.BuildHeaders();
    EXPECT_EQ(e.RawHeaders.GetValueByName("Content-Range"), "bytes 0-499/1234");
    r.RawHeaders.SetText("Content-Range: bytes 0-5/-9\r\n");
    EXPECT_THROW(r.ParseHeaders(), EIdException);
}

TEST(IdHTTPHeaderInfo, ProxyCredentials) {
    TIdProxyConnectionInfo p;
    TIdHeaderList lines;
    p.AddAuthorizationHeader(lines);
    EXPECT_EQ(lines.Count(), 0);
    p.BasicAuthentication = true;
    p.ProxyUsername = "a";
    p.ProxyPassword = "b";
    p.AddAuthorizationHeader(lines);
    EXPECT_EQ(lines.GetValueByName("Proxy-Authorization"), "Basic YTpi");
    p.SetProxyServer("other");  // another server forgets the object made for the last one
    EXPECT_EQ(p.Authentication(), nullptr);
}

struct MatchCase {
    const char* host;
    const char* domain;
    bool matches;
};

TEST(IdCookie, DomainMatching) {
    const MatchCase cases[] = {
        {"example.com", "example.com", true},      {"www.example.com", ".example.com", true},
        {"WWW.Example.COM", "example.com", true},  {"example.com", "ample.com", false},
        {"example.com", "com", false},             {"bank.com.evil.test", "bank.com", false},
        {"localhost", "localhost", true},          {"a.localhost", "localhost", false},
        {"10.0.0.1", "10.0.0.1", true},            {"10.0.0.1", "0.0.1", false},
        {"xexample.com", "example.com", false},    {"example.com", "", false},
    };
    for (const MatchCase& c : cases) EXPECT_EQ(CookieDomainMatches(c.host, c.domain), c.matches) << c.host << " " << c.domain;
}

std::string HeaderFor(TIdCookieManager& m, const std::string& url, bool secure = false) {
    return m.CookieHeaderFor(TIdURI(url), secure);
}

TEST(IdCookieManager, StoresReplacesAndSendsByDomainPathAndSecurity) {
    plat::ManualClock clock;
    plat::ScopedClock use(clock);
    TIdCookieManager m;
    m.AddCookie("a=1", "www.example.com");
    m.AddCookie("a=2", "www.example.com");
    EXPECT_EQ(m.CookieCollection().Count(), 1);
    EXPECT_EQ(HeaderFor(m, "http://www.example.com/"), "a=2");
    m.AddCookie("d=dom; Domain=.example.com; Path=/app", "www.example.com");
    m.AddCookie("s=sec; Secure", "www.example.com");
    m.AddCookie("evil=1; Domain=com", "www.example.com");           // a one-label domain
    m.AddCookie("other=1; Domain=other.org", "www.example.com");    // not the sender's domain
    m.AddCookie("bank=1", "bank.com");
    EXPECT_EQ(HeaderFor(m, "http://api.example.com/app/x"), "d=dom");
    EXPECT_EQ(HeaderFor(m, "http://www.example.com/other"), "a=2");
    // Domains last-first, each domain's cookies in the order they came.
    EXPECT_EQ(HeaderFor(m, "https://www.example.com/app", true), "d=dom; a=2; s=sec");
    EXPECT_EQ(HeaderFor(m, "http://bank.com.evil.test/"), "");
    EXPECT_EQ(HeaderFor(m, "http://BANK.com/"), "bank=1");
    EXPECT_EQ(HeaderFor(m, "http://example.org/"), "");
}

TEST(IdCookieManager, ExpiryFollowsTheClock) {
    plat::ManualClock clock;
    plat::ScopedClock use(clock);
    TIdCookieManager m;
    const rtl::TDateTime utcNow = rtl::DateTimeFromTimePoint(clock.Now(), true);
    m.AddCookie("old=1; Expires=" + DateTimeToGmtText(utcNow - 1.0 / 24), "h.example");
    m.AddCookie("soon=1; Expires=" + DateTimeToGmtText(utcNow + 1.0 / 24), "h.example");
    m.AddCookie("age=1; Max-Age=3600", "h.example");
    EXPECT_EQ(HeaderFor(m, "http://h.example/"), "soon=1; age=1");
    const auto& domains = m.CookieCollection().LockCookieListByDomain(caRead);
    const TIdCookieRFC2109* age = domains.at(0).Cookies.back();
    EXPECT_EQ(age->Kind, ckNetscape);
    EXPECT_NEAR(GmtTextToDateTime(age->Expires), rtl::DateTimeFromTimePoint(clock.Now(), false) + 1.0 / 24, 2e-5);
    m.CookieCollection().UnlockCookieListByDomain(caRead);
    clock.Advance(2 * 3600 * 1000);
    EXPECT_EQ(HeaderFor(m, "http://h.example/"), "");
    EXPECT_EQ(m.CookieCollection().Count(), 0);
}

TEST(IdCookieManager, Rfc2965PortsAndCeilings) {
    TIdCookieManager m;
    m.AddCookie2("p=1; Version=1; Port=\"80,8080\"", "h.example");
    m.AddCookie2("bad=1; Version=1; Port=\"80,abc\"", "h.example");  // dropped, nothing raised
    m.AddCookie("big=" + std::string(TIdCookies::kMaxCookieText, 'x'), "h.example");
    EXPECT_EQ(HeaderFor(m, "http://h.example/"), "p=1");
    const auto& domains = m.CookieCollection().LockCookieListByDomain(caRead);
    const auto* p = dynamic_cast<const TIdCookieRFC2965*>(domains.at(0).Cookies.at(0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->PortList, (std::vector<int32_t>{80, 8080}));
    m.CookieCollection().UnlockCookieListByDomain(caRead);
    for (size_t i = 0; i < TIdCookies::kMaxCookiesPerDomain + 5; ++i)
        m.AddCookie("n" + std::to_string(i) + "=1", "many.example");
    int inMany = 0;
    for (const auto& d : m.CookieCollection().LockCookieListByDomain(caRead))
        if (d.Domain == "many.example") inMany = int(d.Cookies.size());
    m.CookieCollection().UnlockCookieListByDomain(caRead);
    EXPECT_EQ(inMany, int(TIdCookies::kMaxCookiesPerDomain));
}

using kwtest::ZlibInflater;

std::string Deflate(const std::string& text) {
    std::string out(compressBound(uLong(text.size())), '\0');
    uLongf length = out.size();
    compress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(text.data()), uLong(text.size()));
    out.resize(length);
    return out;
}

TEST(IdZLibCompressorBase, DeflateFromItsStartAndGzipThroughItsHeader) {
    ZlibInflater inflater;
    const std::string text = "the quick brown fox jumps over the lazy dog, twice: the quick brown fox";
    rtl::MemoryStream deflated(Deflate(text));
    inflater.DecompressDeflateStream(deflated);
    EXPECT_EQ(deflated.Data(), text);

    // A gzip member (FNAME, FCOMMENT, FEXTRA) around the same raw deflate data, then its
    // 8-byte trailer.
    const std::string zlib = Deflate(text);
    const std::string raw = zlib.substr(2, zlib.size() - 6);
    std::string gzip("\x1F\x8B\x08\x1C\0\0\0\0\0\x03", 10);
    gzip += std::string("\x03\0xyz", 5) + std::string("name.txt\0a comment\0", 19) + raw + std::string(8, '\x55');
    rtl::MemoryStream member(gzip);
    inflater.DecompressGZipStream(member);
    EXPECT_EQ(member.Data(), text);  // the whole body: nothing of the gzip header before it
    // A member that starts behind bytes the stream holds already (a body after a redirect's
    // cut-back position): those stay, the body follows them.
    rtl::MemoryStream behind("kept" + gzip);
    behind.SetPosition(4);
    inflater.DecompressGZipStream(behind);
    EXPECT_EQ(behind.Data(), "kept" + text);
    // A body larger than one piece of the move.
    std::string large;
    for (int i = 0; large.size() < 300000; ++i)
        large += std::to_string(i * 7919 % 100003) + ",";
    const std::string largeZlib = Deflate(large);
    rtl::MemoryStream largeMember(std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10) +
                                  largeZlib.substr(2, largeZlib.size() - 6) + std::string(8, '\0'));
    inflater.DecompressGZipStream(largeMember);
    EXPECT_TRUE(largeMember.Data() == large);

    for (const std::string& cut : {std::string("\x1F\x8B\x08\x08\0\0", 6), std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03nam", 13),
                                  std::string("\x1F\x8B\x08\x04\0\0\0\0\0\x03\xFF\x00", 12)}) {
        rtl::MemoryStream s(cut);
        EXPECT_THROW(inflater.DecompressGZipStream(s), EIdException);
    }
}

}  // namespace
