// tests/support/AppServerPeer.h: the scripted application server (tests/peers/appserver.py)
// as a fixture.
//
// The script (JSON, see the program's own description) goes into a temporary folder; the
// server starts on 127.0.0.1 at an ephemeral port it prints first, and is stopped when the
// object goes away (PythonScriptPeer.h). Requests() reads the JSON lines the server logged,
// one per request, decoded and raw.
//
//     kwtest::AppServerPeer peer(R"({"mode": "socket", "objects": [...]})");
//     KW_REQUIRE_PEER(peer.Available(), peer.Reason());
//     ... connect to 127.0.0.1:peer.Port() ...
//     for (const kwtest::Json& r : peer.Requests()) ...
//
// For HTTPS, MakeCertificate writes a self-signed certificate and key with openssl for the
// names given (subject alternative names), and its DER form for the client's trust.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/PythonScriptPeer.h"

namespace kwtest {

class AppServerPeer : public PythonScriptPeer {
public:
    explicit AppServerPeer(const std::string& scriptJson) : PythonScriptPeer("appserver.py", scriptJson) {}

    using PythonScriptPeer::Requests;
    // The requests of one action ("create", "lookup", "invoke", "free", ...).
    std::vector<Json> Requests(const std::string& action) const {
        std::vector<Json> out;
        for (Json& r : Requests())
            if (r["action"].str() == action) out.push_back(std::move(r));
        return out;
    }

    struct Certificate {
        std::filesystem::path cert;  // PEM
        std::filesystem::path key;   // PEM
        std::string der;             // the certificate's DER bytes
    };
    // A self-signed certificate for the names ("DNS:localhost,IP:127.0.0.1"); empty paths when
    // openssl failed.
    static Certificate MakeCertificate(const std::filesystem::path& folder, const std::string& stem,
                                       const std::string& altNames) {
        Certificate c{folder / (stem + ".pem"), folder / (stem + "-key.pem"), {}};
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Capture;
        const plat::ProcessResult r = plat::StartProcess(
            "openssl",
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + stem, "-addext",
             "subjectAltName=" + altNames, "-keyout", c.key.string(), "-out", c.cert.string()},
            o);
        const std::filesystem::path der = folder / (stem + ".cer");
        const plat::ProcessResult d = plat::StartProcess(
            "openssl", {"x509", "-in", c.cert.string(), "-outform", "DER", "-out", der.string()}, o);
        if (r.exitCode != 0 || d.exitCode != 0) return {};
        c.der = ReadFile(der);
        return c;
    }
};

}  // namespace kwtest
