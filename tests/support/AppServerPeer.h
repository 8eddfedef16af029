// tests/support/AppServerPeer.h: the scripted application server (tests/peers/appserver.py)
// as a fixture.
//
// The script (JSON, see the program's own description) goes into a temporary folder; the
// server starts on 127.0.0.1 at an ephemeral port it prints first, and is stopped when the
// object goes away (it also ends by itself when this process does). Requests() reads the
// JSON lines the server logged, one per request, decoded and raw.
//
//     kwtest::AppServerPeer peer(R"({"mode": "socket", "objects": [...]})");
//     KW_REQUIRE_PEER(peer.Available(), peer.Reason());
//     ... connect to 127.0.0.1:peer.Port() ...
//     for (const kwtest::Json& r : peer.Requests()) ...
//
// For HTTPS, MakeCertificate writes a self-signed certificate and key with openssl for the
// names given (subject alternative names), and its DER form for the client's trust.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/JsonLite.h"
#include "support/TestSupport.h"

namespace kwtest {

class AppServerPeer {
public:
    explicit AppServerPeer(const std::string& scriptJson) { Start(scriptJson); }
    ~AppServerPeer() { Stop(); }
    AppServerPeer(const AppServerPeer&) = delete;
    AppServerPeer& operator=(const AppServerPeer&) = delete;

    bool Available() const { return port_ != 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::filesystem::path& Folder() const { return dir_.path(); }

    // The requests logged so far, in order.
    std::vector<Json> Requests() const {
        std::vector<Json> out;
        if (!std::filesystem::exists(log_)) return out;
        std::istringstream in(ReadFile(log_));
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) out.push_back(Json::Parse(line));
        return out;
    }
    // The requests of one action ("create", "lookup", "invoke", "free", ...).
    std::vector<Json> Requests(const std::string& action) const {
        std::vector<Json> out;
        for (Json& r : Requests())
            if (r["action"].str() == action) out.push_back(std::move(r));
        return out;
    }
    // Waits (bounded) until at least n requests were logged: the server logs after the
    // client's call returned for calls that get no reply.
    std::vector<Json> WaitRequests(size_t n) const {
        Eventually([&] { return Requests().size() >= n; });
        return Requests();
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
            "openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + stem,
                        "-addext", "subjectAltName=" + altNames, "-keyout", c.key.string(), "-out", c.cert.string()},
            o);
        const std::filesystem::path der = folder / (stem + ".cer");
        const plat::ProcessResult d = plat::StartProcess(
            "openssl", {"x509", "-in", c.cert.string(), "-outform", "DER", "-out", der.string()}, o);
        if (r.exitCode != 0 || d.exitCode != 0) return {};
        c.der = ReadFile(der);
        return c;
    }

private:
    void Start(const std::string& scriptJson) {
        const std::filesystem::path program = std::filesystem::path(KW_SOURCE_DIR) / "tests/peers/appserver.py";
        if (!std::filesystem::exists("/usr/bin/python3")) {
            reason_ = "python3";
            return;
        }
        const std::filesystem::path script = dir_ / "script.json";
        const std::filesystem::path out = dir_ / "stdout.txt";
        log_ = dir_ / "requests.jsonl";
        WriteFile(script, scriptJson);
        plat::ProcessOptions o;
        o.output = plat::ProcessOutput::File;
        o.outputFile = out.string();
        try {
            pid_ = plat::StartProcess("/usr/bin/python3", {program.string(), "--script", script.string(), "--log",
                                                           log_.string()},
                                      o)
                       .pid;
        } catch (const std::exception& e) {
            reason_ = std::string("appserver.py did not start: ") + e.what();
            return;
        }
        std::string first;
        Eventually(
            [&] {
                if (!std::filesystem::exists(out)) return false;
                const std::string text = ReadFile(out);
                const size_t nl = text.find('\n');
                if (nl == std::string::npos) return false;
                first = text.substr(0, nl);
                return true;
            },
            std::chrono::seconds(30));
        try {
            port_ = std::stoi(first);
        } catch (...) {
            port_ = 0;
        }
        if (port_ == 0) {
            reason_ = "appserver.py did not report its port: " +
                      (std::filesystem::exists(out) ? ReadFile(out) : std::string("(no output)"));
            Stop();
        }
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        // The platform's reaper collects it; wait until it is gone.
        Eventually([&] { return ::kill(pid_, 0) != 0 && errno == ESRCH; }, std::chrono::seconds(10));
        pid_ = 0;
    }

    TempDir dir_;
    std::filesystem::path log_;
    int pid_ = 0;
    int port_ = 0;
    std::string reason_;
};

}  // namespace kwtest
