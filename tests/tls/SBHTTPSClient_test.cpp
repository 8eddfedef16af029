// Tests of the HTTP client's parts without a network: URLs and references, HTTP dates, and
// the response reader fed whole and byte by byte (framing, codings, ceilings, cut bodies).
#include "tls/SBHTTPSClient.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

using kwtest::ThrownMessage;

// zlib's own encoders: windowBits 15 + 16 writes gzip, 15 the zlib format, -15 raw deflate.
std::string Deflated(const std::string& text, int windowBits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, uLong(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Text(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i) + " of the body\n";
    s.resize(n);
    return s;
}

TEST(HTTPURL, ParsesTheAuthorityAndPath) {
    struct Case {
        std::string url;
        std::string protocol, user, password, host;
        uint16_t port;
        std::string path;
        bool hasUser;
    };
    const Case cases[] = {
        {"http://h/p", "http", "", "", "h", 0, "/p", false},
        {"  https://files.example  ", "https", "", "", "files.example", 0, "/", false},
        {"HTTPS://H:8443", "HTTPS", "", "", "H", 8443, "/", false},
        {"h:8080/a", "http", "", "", "h", 8080, "/a", false},
        {"http://u:p@h:81/x?y#frag", "http", "u", "p", "h", 81, "/x?y", true},
        {"http://u@h/", "http", "u", "", "h", 0, "/", true},
        {"http://h/a@b/c:d", "http", "", "", "h", 0, "/a@b/c:d", false},
        {"http://a@b@h/", "http", "a@b", "", "h", 0, "/", true},
        {"http://h?x=1", "http", "", "", "h", 0, "/?x=1", false},
        {"http://h:/z", "http", "", "", "h", 0, "/z", false},
        {"http://h#top", "http", "", "", "h", 0, "/", false},
        {"http://h:65535/", "http", "", "", "h", 65535, "/", false},
    };
    for (const Case& c : cases) {
        const THTTPURL u = ParseHTTPURL(c.url);
        EXPECT_EQ(u.Protocol, c.protocol) << c.url;
        EXPECT_EQ(u.User, c.user) << c.url;
        EXPECT_EQ(u.Password, c.password) << c.url;
        EXPECT_EQ(u.HasUserInfo, c.hasUser) << c.url;
        EXPECT_EQ(u.Host, c.host) << c.url;
        EXPECT_EQ(u.Port, c.port) << c.url;
        EXPECT_EQ(u.Path, c.path) << c.url;
    }
}

TEST(HTTPURL, RefusesBadPortsAndControlCharacters) {
    struct Case {
        std::string url, message;
    };
    const Case cases[] = {
        {"http://h:0/", "Invalid port (0) specified in URL"},
        {"http://h:65536/", "Invalid port (65536) specified in URL"},
        {"http://h:4294967377/", "Invalid port (4294967377) specified in URL"},
        {"http://h:-1/", "Invalid port (-1) specified in URL"},
        {"http://h:8o/", "Invalid port (8o) specified in URL"},
        {"http://h/a\r\nX-Injected: 1", "Invalid character in URL"},
        {"http://h/a\nb", "Invalid character in URL"},
        {std::string("http://h/a\0b", 12), "Invalid character in URL"},
        {"http://h/\x7f", "Invalid character in URL"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ThrownMessage([&] { ParseHTTPURL(c.url); }), c.message) << c.url;
}

TEST(HTTPURL, ResolvesLocationsAgainstTheRequest) {
    const THTTPURL base = ParseHTTPURL("http://h:8080/dir/page?q=1");
    const std::string baseText = "http://h:8080";
    struct Case {
        std::string ref, want;
    };
    const Case cases[] = {
        {"/a/b", "http://h:8080/a/b"},
        {"  /a/b \t", "http://h:8080/a/b"},
        {"c", "http://h:8080/dir/c"},
        {"./c/../d", "http://h:8080/dir/d"},
        {"../x", "http://h:8080/x"},
        {"../../../x", "http://h:8080/x"},
        {"?z=2", "http://h:8080/dir/page?z=2"},
        {"/a/./b/../c?k#frag", "http://h:8080/a/c?k"},
        {"//other.example/p", "http://other.example/p"},
        {"https://x.example/y", "https://x.example/y"},
        {"", "http://h:8080/dir/page?q=1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveHTTPReference(base, baseText, c.ref), c.want) << c.ref;
    EXPECT_EQ(ThrownMessage([&] { ResolveHTTPReference(base, baseText, std::string("/a\0b", 4)); }),
              "Invalid character in URL");
}

TEST(HTTPDate, ReadsTheThreeFormsAndChecksTheWeekday) {
    const rtl::TDateTime want = rtl::EncodeDate(1994, 11, 6) + rtl::EncodeTime(8, 49, 37, 0);
    struct Case {
        std::string text;
        rtl::TDateTime value;
    };
    const Case good[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", want},
        {"  Sun, 06 Nov 1994 08:49:37 GMT  ", want},
        {"Sunday, 06-Nov-94 08:49:37 GMT", want},
        {"Sun Nov  6 08:49:37 1994", want},
        {"Sun Nov 6 08:49:37 1994", want},
        {"Thursday, 01-Jan-15 00:00:00 GMT", rtl::EncodeDate(2015, 1, 1)},
        {"Monday, 01-Jan-51 00:00:00 GMT", rtl::EncodeDate(1951, 1, 1)},
        {"Saturday, 01-Jan-50 12:00:00 GMT", rtl::EncodeDate(2050, 1, 1) + 0.5},
        {"Sat, 29 Feb 2020 23:59:59 GMT", rtl::EncodeDate(2020, 2, 29) + rtl::EncodeTime(23, 59, 59, 0)},
    };
    for (const Case& c : good)
        EXPECT_DOUBLE_EQ(HTTPDateToDateTime(c.text), c.value) << c.text;
    const std::string bad[] = {
        "",
        "Mon, 06 Nov 1994 08:49:37 GMT",  // the 6th was a Sunday
        "sun, 06 Nov 1994 08:49:37 GMT",  // names compare with case
        "Sun, 06 nov 1994 08:49:37 GMT",
        "Sun, 06 Nov 1994 08:49:37 UTC",
        "Sun, 06 Nov 1994 8:49:37 GMT",
        "Sun, 06 Nov 1994 08:49:61 GMT",
        "Sun, 31 Nov 1994 08:49:37 GMT",
        "Sun, 06 Nov 1994 08:49:37",
        "Sunday, 06 Nov 1994 08:49:37 GMT",
        "Sun Nov  6 08:49:37",
        "yesterday",
        "Sun, +6 Nov 1994 08:49:37 GMT",
    };
    for (const std::string& b : bad)
        EXPECT_EQ(ThrownMessage([&] { HTTPDateToDateTime(b); }), SInvalidDateTime) << b;
}

TEST(HTTPDate, WritesThePreferredForm) {
    EXPECT_EQ(DateTimeToHTTPDate(rtl::EncodeDate(1994, 11, 6) + rtl::EncodeTime(8, 49, 37, 0)),
              "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(DateTimeToHTTPDate(rtl::EncodeDate(2026, 1, 2)), "Fri, 02 Jan 2026 00:00:00 GMT");
    const rtl::TDateTime t = rtl::EncodeDate(2031, 7, 14) + rtl::EncodeTime(21, 3, 5, 0);
    EXPECT_DOUBLE_EQ(HTTPDateToDateTime(DateTimeToHTTPDate(t)), t);
}

// Feeds a response whole and byte by byte; both must give the same outcome.
struct Outcome {
    std::string body;
    std::string error;
    bool complete = false;
    int status = 0;
    int64_t contentLength = -2;
};

Outcome Read(const std::string& response, bool head, bool close, size_t piece) {
    Outcome o;
    HTTPResponseReader r;
    r.Reset(head, false);
    r.OnBody = [&](const uint8_t* p, size_t n) { o.body.append(reinterpret_cast<const char*>(p), n); };
    try {
        for (size_t at = 0; at < response.size() && !r.Complete(); at += piece)
            r.Feed(reinterpret_cast<const uint8_t*>(response.data()) + at,
                   std::min(piece, response.size() - at));
        if (close) r.FinishAtClose();
    } catch (const EElHTTPSClientError& e) {
        o.error = e.Message();
    }
    o.complete = r.Complete();
    o.status = r.StatusCode;
    o.contentLength = r.ContentLength;
    return o;
}

struct ReaderCase {
    const char* name;
    std::string response;
    std::string body;
    std::string error;
    bool complete;
    bool head = false;
    bool close = false;
};

void RunCases(const std::vector<ReaderCase>& cases) {
    for (const ReaderCase& c : cases) {
        for (size_t piece : {c.response.size() + 1, size_t(1), size_t(7)}) {
            const Outcome o = Read(c.response, c.head, c.close, piece);
            EXPECT_EQ(o.error, c.error) << c.name << " in pieces of " << piece;
            EXPECT_TRUE(o.body == c.body)
                << c.name << " in pieces of " << piece << ": " << o.body.size() << " bytes";
            EXPECT_EQ(o.complete, c.complete) << c.name << " in pieces of " << piece;
        }
    }
}

TEST(HTTPResponseReader, Framing) {
    const std::string h11 = "HTTP/1.1 200 OK\r\n";
    RunCases({
        {"length", h11 + "Content-Length: 5\r\n\r\nhelloEXTRA", "hello", "", true},
        {"length zero", h11 + "Content-Length: 0\r\n\r\n", "", "", true},
        {"chunked 1a and 0",
         h11 + "Transfer-Encoding: chunked\r\n\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
         "abcdefghijklmnopqrstuvwxyz", "", true},
        {"chunk extensions",
         h11 + "Transfer-Encoding: chunked\r\n\r\n5;x=y\r\nhello\r\n3 ; ext\r\nabc\r\n0;last\r\n\r\n",
         "helloabc", "", true},
        {"chunked wins over length",
         h11 + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "hello", "",
         true},
        {"trailers", h11 + "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\nX-Sum: 1\r\nX-Other: 2\r\n\r\n",
         "ok", "", true},
        {"upper-case hex", h11 + "Transfer-Encoding: chunked\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n",
         "0123456789", "", true},
        {"bare LF lines", "HTTP/1.0 200 OK\nContent-Length: 2\n\nhi", "hi", "", true},
        {"HEAD with a length ends at the blank line", h11 + "Content-Length: 1234\r\n\r\n", "", "", true,
         true},
        {"204", "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", "", "", true},
        {"304", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n", "", "", true},
        {"interim then final",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: x\r\n\r\n" + h11 +
             "Content-Length: 2\r\n\r\nok",
         "ok", "", true},
        {"runs to the close", "HTTP/1.0 200 OK\r\n\r\nall of it", "all of it", "", true, false, true},
        {"bad chunk size", h11 + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", "",
         "Invalid chunked body: bad chunk size \"zz\"", false},
        {"chunk size garbage after digits",
         h11 + "Transfer-Encoding: chunked\r\n\r\n5x\r\nhello\r\n0\r\n\r\n", "",
         "Invalid chunked body: bad chunk size \"5x\"", false},
        {"negative chunk size", h11 + "Transfer-Encoding: chunked\r\n\r\n-5\r\n", "",
         "Invalid chunked body: bad chunk size \"-5\"", false},
        {"chunk size over 64 bits", h11 + "Transfer-Encoding: chunked\r\n\r\n10000000000000000\r\n", "",
         "Invalid chunked body: bad chunk size \"10000000000000000\"", false},
        {"no line end after chunk data", h11 + "Transfer-Encoding: chunked\r\n\r\n2\r\nokXY0\r\n\r\n", "ok",
         "Chunk data not followed by a line end within 2 bytes", false},
        {"negative length", h11 + "Content-Length: -5\r\n\r\n", "", "Invalid Content-Length (-5)", false},
        {"length not a number", h11 + "Content-Length: 12abc\r\n\r\n", "", "Invalid Content-Length (12abc)",
         false},
        {"two lengths", h11 + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", "",
         "Invalid Content-Length (6)", false},
        {"HTTP/2 status line", "HTTP/2 200 OK\r\n\r\n", "", SInvalidServerResponse, false},
        {"status not a number", "HTTP/1.1 2OO OK\r\n\r\n", "", SInvalidServerResponse, false},
        {"not HTTP", "SSH-2.0-OpenSSH_9.2\r\n", "", SInvalidServerResponse, false},
    });
}

TEST(HTTPResponseReader, CutBodiesAreErrors) {
    const std::string h11 = "HTTP/1.1 200 OK\r\n";
    const std::string gz = Deflated(Text(5000), 31);
    RunCases({
        {"length not reached", h11 + "Content-Length: 10\r\n\r\nhello", "hello",
         "Response body incomplete: 10 bytes expected, 5 received", false, false, true},
        {"chunked without its last chunk", h11 + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", "hello",
         "Response body incomplete: the chunked body ended before its last chunk (5 bytes received)", false,
         false, true},
        {"cut inside a chunk", h11 + "Transfer-Encoding: chunked\r\n\r\n9\r\nhello", "hello",
         "Response body incomplete: the chunked body ended before its last chunk (5 bytes received)", false,
         false, true},
        {"gzip not ended", h11 + "Content-Encoding: gzip\r\n\r\n" + gz.substr(0, gz.size() - 8), Text(5000),
         "Response body incomplete: the compressed body ended before its end (" +
             std::to_string(gz.size() - 8) + " bytes received)",
         false, false, true},
        {"header cut after the status line", h11 + "Content-Length: 5\r\n", "", SInvalidServerResponse, false,
         false, true},
        {"nothing after part of a status line", "HTTP/1.1 20", "", "", false, false, true},
        {"last chunk without the trailer's end", h11 + "Transfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n",
         "ok", "", true, false, true},
    });
}

TEST(HTTPResponseReader, ContentCodings) {
    const std::string text = Text(200000);
    const std::string gz = Deflated(text, 31);
    const std::string zlibWrapped = Deflated(text, 15);
    const std::string raw = Deflated(text, -15);
    std::string flagged = gz;
    flagged[3] = char(0x20);
    std::string badCrc = gz;
    badCrc[badCrc.size() - 6] ^= 1;
    // A gzip member with a name, a comment and an extra field before the data.
    std::string named = gz.substr(0, 10);
    named[3] = char(0x04 | 0x08 | 0x10);
    named +=
        std::string("\x03\x00xyz", 5) + "name.txt" + std::string(1, '\0') + "comment" + std::string(1, '\0');
    named += gz.substr(10);
    const std::string h = "HTTP/1.1 200 OK\r\nContent-Length: ";
    RunCases({
        {"gzip", h + std::to_string(gz.size()) + "\r\nContent-Encoding: gzip\r\n\r\n" + gz, text, "", true},
        {"gzip with header fields",
         h + std::to_string(named.size()) + "\r\nContent-Encoding: gzip\r\n\r\n" + named, text, "", true},
        {"gzip chunked",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
             [&] {
                 char size[32];
                 std::snprintf(size, sizeof size, "%zx\r\n", gz.size());
                 return std::string(size) + gz + "\r\n0\r\n\r\n";
             }(),
         text, "", true},
        {"deflate in the zlib format",
         h + std::to_string(zlibWrapped.size()) + "\r\nContent-Encoding: deflate\r\n\r\n" + zlibWrapped, text,
         "", true},
        {"raw deflate", h + std::to_string(raw.size()) + "\r\nContent-Encoding: deflate\r\n\r\n" + raw, text,
         "", true},
        {"gzip flag 0x20",
         h + std::to_string(flagged.size()) + "\r\nContent-Encoding: gzip\r\n\r\n" + flagged, "",
         SInvalidGZIPHeader, false},
        {"not gzip at all", h + "4\r\nContent-Encoding: gzip\r\n\r\nnope", "", SInvalidGZIPHeader, false},
        {"gzip trailer wrong",
         h + std::to_string(badCrc.size()) + "\r\nContent-Encoding: gzip\r\n\r\n" + badCrc, text,
         SInvalidGZIPTrailer, false},
        {"corrupt deflate data", h + "8\r\nContent-Encoding: deflate\r\n\r\n\x78\x9c\xff\xff\xff\xff\xff\xff",
         "", SCannotInflate, false},
        {"empty gzip body", h + "0\r\nContent-Encoding: gzip\r\n\r\n", "", "", true},
    });
}

TEST(HTTPResponseReader, HundredFoldInflation) {
    const std::string text(8 << 20, 'z');
    const std::string gz = Deflated(text, 31);
    ASSERT_LT(gz.size() * 100, text.size());
    const Outcome o =
        Read("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(gz.size()) +
                 "\r\n\r\n" + gz,
             false, false, 4096);
    EXPECT_EQ(o.error, "");
    EXPECT_TRUE(o.complete);
    EXPECT_EQ(o.body.size(), text.size());
    EXPECT_TRUE(o.body == text);
}

TEST(HTTPResponseReader, HeaderBlockCeiling) {
    std::string big = "HTTP/1.1 200 OK\r\n";
    while (big.size() < 70000)
        big += "X-Filler: " + std::string(100, 'f') + "\r\n";
    big += "\r\n";
    RunCases({{"header block over 64 KiB", big, "", "Response header block longer than 65536 bytes", false}});
    std::string oneLine = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(70000, 'l');
    const Outcome o = Read(oneLine, false, false, 1000);
    EXPECT_EQ(o.error, "Response header block longer than 65536 bytes");
    std::string fits = "HTTP/1.1 200 OK\r\n";
    while (fits.size() < 60000)
        fits += "X-Filler: " + std::string(100, 'f') + "\r\n";
    RunCases({{"header block under 64 KiB", fits + "Content-Length: 2\r\n\r\nok", "ok", "", true}});
}

TEST(HTTPResponseReader, HeaderFields) {
    HTTPResponseReader r;
    r.Reset(false, true);
    int headers = 0;
    r.OnHeader = [&] { ++headers; };
    const std::string response =
        "HTTP/1.0 302 Found it\r\nLocation:  /next?a=b  \r\nlocation: /second\r\nSet-Cookie: "
        "a=1\r\nSet-Cookie: b=2\r\n"
        "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\nConnection: Keep-Alive\r\nProxy-Connection: close\r\n"
        "WWW-Authenticate: Basic realm=\"x\"\r\nProxy-Authenticate: NTLM\r\nno colon here\r\nContent-Length: "
        "0\r\n\r\n";
    r.Feed(reinterpret_cast<const uint8_t*>(response.data()), response.size());
    EXPECT_TRUE(r.Complete());
    EXPECT_EQ(headers, 1);
    EXPECT_EQ(r.StatusCode, 302);
    EXPECT_EQ(r.ReasonPhrase, "Found it");
    EXPECT_EQ(r.ServerVersion, 10);
    EXPECT_EQ(r.Location, "/next?a=b");
    EXPECT_EQ(r.Cookies, (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(r.DateField, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(r.ConnectionField, 1);
    EXPECT_TRUE(r.ProxyKeepAliveRefused);
    EXPECT_EQ(r.WWWAuthenticate, std::vector<std::string>{"Basic realm=\"x\""});
    EXPECT_EQ(r.ProxyAuthenticate, std::vector<std::string>{"NTLM"});
    EXPECT_EQ(r.HeaderLines.size(), 11u);
    EXPECT_EQ(r.HeaderLines[10], "Content-Length: 0");
}

}  // namespace
