// tests/support/DdsServerPeer.h: the scripted download-distribution server
// (tests/peers/ddsserver.py) as a fixture.
//
//     kwtest::DdsServerPeer dds(R"({"oauth": {"access_token": "tokA"}, "files": {...}})");
//     KW_REQUIRE_PEER(dds.Available(), dds.Reason());
//     ... BaseURL() is "http://127.0.0.1:PORT" ("https://localhost:PORT" with a certificate)
//     dds.SetScript(...);                      // read again at the next request
//     for (const kwtest::Json& r : dds.Requests("/oauth/token")) ... r["form"]["password"]
//
// "{SELF}" in the script stands for the server's own base address. Files named by "file" in
// the script's "content" are read from Files() (a folder of the fixture's own).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/PythonScriptPeer.h"

namespace kwtest {

// The served files' folder, made before the server starts (a base made first).
struct DdsServedFiles {
    TempDir files_;
};

class DdsServerPeer : private DdsServedFiles, public PythonScriptPeer {
public:
    // With cert and key (PEM files) the server speaks HTTPS.
    explicit DdsServerPeer(const std::string& scriptJson, const std::string& cert = "",
                           const std::string& key = "")
        : PythonScriptPeer("ddsserver.py", scriptJson, Args(files_.path(), cert, key)),
          https_(!cert.empty()) {}

    std::string BaseURL() const {
        return (https_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(Port());
    }
    void SetScript(const std::string& scriptJson) const { WriteScript(scriptJson); }
    const std::filesystem::path& Files() const { return files_.path(); }

    using PythonScriptPeer::Requests;
    // The requests for one path ("/oauth/token", "/file/downloadFile", "/misc/params", ...).
    std::vector<Json> Requests(const std::string& path) const {
        std::vector<Json> out;
        for (Json& r : Requests())
            if (r["path"].str() == path) out.push_back(std::move(r));
        return out;
    }

private:
    static std::vector<std::string> Args(const std::filesystem::path& files, const std::string& cert,
                                         const std::string& key) {
        std::vector<std::string> a = {"--folder", files.string()};
        if (!cert.empty()) a.insert(a.end(), {"--cert", cert, "--key", key});
        return a;
    }

    bool https_;
};

}  // namespace kwtest
