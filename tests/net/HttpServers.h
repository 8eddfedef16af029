// tests/net/HttpServers.h: real HTTP peers for the HTTP client's tests: lighttpd (static
// files, Basic authentication with a plain user file, redirects with 301, 302 and 303) and
// tinyproxy (a proxy asking for Basic credentials), each on a free port of 127.0.0.1 from a
// temporary folder, and curl as an independent reader of the same URLs.
#pragma once

#include <string>

#include "platform/Process.h"
#include "tests/net/SocksPeers.h"

namespace kwtest {

// The served files, made once per server in a folder of its own.
struct HttpSite {
    TempDir dir;
    std::string bigFile;
    HttpSite() {
        std::filesystem::create_directories(dir / "www/files");
        std::filesystem::create_directories(dir / "www/private");
        WriteFile(dir / "www/files/a.txt", "hello\n");
        WriteFile(dir / "www/private/s.txt", "secret\n");
        bigFile.resize(1 << 20);
        uint32_t x = 12345;
        for (char& c : bigFile) c = char((x = x * 1103515245u + 12345u) >> 24);
        WriteFile(dir / "www/files/big.bin", bigFile);
        WriteFile(dir / "users", "kw:right-password\n");
    }
    void AddFile(const std::string& name, const std::string& content) const { WriteFile(dir / ("www/files/" + name), content); }
};

inline std::string LighttpdConfig(const HttpSite& site, const std::string& extra = {}) {
    const std::string root = site.dir.path().string();
    return "server.document-root = \"" + root + "/www\"\n"
           "server.bind = \"127.0.0.1\"\n"
           "server.port = {PORT}\n"
           "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_redirect\")\n"
           "server.errorlog = \"{DIR}/error.log\"\n"
           "auth.backend = \"plain\"\n"
           "auth.backend.plain.userfile = \"" + root + "/users\"\n"
           "auth.require = ( \"/private/\" => ( \"method\" => \"basic\", \"realm\" => \"kw\", \"require\" => \"valid-user\" ) )\n"
           "$HTTP[\"url\"] =~ \"^/r301\" { url.redirect = ( \".*\" => \"/files/a.txt\" ) url.redirect-code = 301 }\n"
           "$HTTP[\"url\"] =~ \"^/r302\" { url.redirect = ( \".*\" => \"/files/a.txt\" ) url.redirect-code = 302 }\n"
           "$HTTP[\"url\"] =~ \"^/r303\" { url.redirect = ( \".*\" => \"/files/a.txt\" ) url.redirect-code = 303 }\n" +
           extra;
}

struct Lighttpd : DaemonPeer {
    explicit Lighttpd(const HttpSite& site, const std::string& extra = {})
        : DaemonPeer("lighttpd", {"-D", "-f", "{DIR}/server.conf"}, LighttpdConfig(site, extra)) {}
    std::string Url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(Port()) + path;
    }
};

struct Tinyproxy : DaemonPeer {
    Tinyproxy(const std::string& user, const std::string& password)
        : DaemonPeer("tinyproxy", {"-d", "-c", "{DIR}/server.conf"},
                     "Port {PORT}\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\nBasicAuth " + user +
                         " " + password + "\nLogLevel Error\n") {}
};

// curl's copy of a URL (extra arguments before it), or nullopt when curl failed.
inline std::optional<std::string> CurlGet(const std::string& url, std::vector<std::string> extra = {}) {
    TempDir dir;
    const std::string out = (dir / "body").string();
    extra.insert(extra.end(), {"-s", "-f", "-o", out, url});
    plat::ProcessOptions options;
    options.wait = true;
    options.output = plat::ProcessOutput::Null;
    try {
        const plat::ProcessResult r = plat::StartProcess("curl", extra, options);
        if (r.exitCode != 0) return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return ReadFile(out);
}

}  // namespace kwtest
