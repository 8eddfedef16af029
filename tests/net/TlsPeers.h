// tests/net/TlsPeers.h: what the TLS transport's tests need: certificates made by the openssl
// tool in the test's folder, openssl s_server on a free port, and the scripted TLS peer
// (tests/peers/tls_peer.py).
//
// The certificates: a CA; "localhost" signed by it (DNS:localhost); "other.example" signed by
// it; an expired "localhost"; a self-signed "localhost"; a client certificate whose key is
// encrypted with the password "client-secret"; more on demand (Issue).
#pragma once

#include <string>
#include <vector>

#include "platform/Process.h"
#include "tests/net/PeerProcess.h"
#include "tests/net/SocksPeers.h"

namespace kwtest {

inline bool RunOpenssl(const std::filesystem::path& dir, std::vector<std::string> args) {
    plat::ProcessOptions options;
    options.wait = true;
    options.output = plat::ProcessOutput::Null;
    options.workingFolder = dir.string();
    try {
        return plat::StartProcess("openssl", args, options).exitCode == 0;
    } catch (const std::exception&) {
        return false;
    }
}

class TestCertificates {
public:
    TestCertificates() {
        std::vector<std::string> caArgs = {"req", "-x509"};
        caArgs.insert(caArgs.end(), kEc.begin(), kEc.end());
        caArgs.insert(caArgs.end(), {"-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "30", "-subj", "/CN=kw test CA"});
        std::vector<std::string> selfArgs = {"req", "-x509"};
        selfArgs.insert(selfArgs.end(), kEc.begin(), kEc.end());
        selfArgs.insert(selfArgs.end(), {"-nodes", "-keyout", "self.key", "-out", "self.pem", "-days", "30", "-subj",
                                         "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"});
        ok_ = RunOpenssl(dir_.path(), caArgs) && Issue("server", "localhost", "DNS:localhost") &&
              Issue("other", "other.example", "DNS:other.example") &&
              Request("expired", "localhost", {"-nodes"}) && Sign("expired", "DNS:localhost", "-1") &&
              RunOpenssl(dir_.path(), selfArgs) &&
              Request("client", "kw client", {"-passout", "pass:client-secret"}) && Sign("client", "", "30");
    }
    bool Available() const { return ok_; }
    std::string Path(const std::string& file) const { return (dir_ / file).string(); }
    // One more certificate the CA signs (name.pem, name.key) for a common name and subject
    // alternative names.
    bool Issue(const std::string& name, const std::string& cn, const std::string& san) {
        return Request(name, cn, {"-nodes"}) && Sign(name, san, "30");
    }

private:
    inline static const std::vector<std::string> kEc = {"-newkey", "ec", "-pkeyopt",
                                                        "ec_paramgen_curve:prime256v1"};

    bool Request(const std::string& name, const std::string& cn, const std::vector<std::string>& extra) {
        std::vector<std::string> a = {"req"};
        a.insert(a.end(), kEc.begin(), kEc.end());
        a.insert(a.end(), {"-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + cn});
        a.insert(a.end(), extra.begin(), extra.end());
        return RunOpenssl(dir_.path(), a);
    }
    bool Sign(const std::string& name, const std::string& san, const std::string& days) {
        WriteFile(dir_ / (name + ".ext"),
                  san.empty() ? "basicConstraints=CA:FALSE\n" : "subjectAltName=" + san + "\n");
        return RunOpenssl(dir_.path(), {"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey",
                                        "ca.key", "-CAcreateserial", "-out", name + ".pem", "-days", days,
                                        "-extfile", name + ".ext"});
    }

    TempDir dir_;
    bool ok_ = false;
};

// openssl s_server with one of the certificates; "-rev" answers each line reversed.
struct SServer : DaemonPeer {
    SServer(const TestCertificates& certs, const std::string& name, std::vector<std::string> extra = {})
        : DaemonPeer("openssl", Args(certs, name, std::move(extra))) {}
    static std::vector<std::string> Args(const TestCertificates& certs, const std::string& name,
                                         std::vector<std::string> extra) {
        std::vector<std::string> a = {"s_server", "-accept", "127.0.0.1:{PORT}", "-cert", certs.Path(name + ".pem"),
                                      "-key", certs.Path(name + ".key"), "-CAfile", certs.Path("ca.pem"), "-rev"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

// The scripted TLS peer in one mode.
class TlsScriptPeer {
public:
    TlsScriptPeer(const TestCertificates& certs, const std::string& mode) {
        const std::string program = std::string(KW_SOURCE_DIR) + "/tests/peers/tls_peer.py";
        if (!process_.Start({"python3", program, dir_.path().string(), mode, certs.Path("server.pem"),
                             certs.Path("server.key")},
                            (dir_ / "log").string())) {
            reason_ = "python3 could not be started";
            return;
        }
        if (Eventually([&] { return std::filesystem::exists(dir_ / "port"); }, std::chrono::seconds(60)))
            port_ = std::stoi(ReadFile(dir_ / "port"));
        else
            reason_ = "the TLS peer did not start";
    }
    bool Available() const { return port_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }

private:
    TempDir dir_;
    PeerProcess process_;
    int port_ = 0;
    std::string reason_;
};

}  // namespace kwtest
