// tests/tls/TlsTestSupport.h: what the engine's tests share: a driver that runs a
// TElSecureClient over a loopback TCP connection (or over bytes a test scripts), real servers
// (openssl s_server, gnutls-serv) started on a free port with their standard input under the
// test's control, and the test certificates, made once per build tree by the openssl tool.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ClientSocket.h"
#include "support/JsonLite.h"
#include "support/TestSupport.h"
#include "tests/net/PeerProcess.h"
#include "tests/net/SocksPeers.h"
#include "pki/SBX509.h"
#include "tls/SBClient.h"

namespace kwtest {

inline std::string Hex(const void* data, size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

inline ByteArray FromHex(const std::string& hex) {
    ByteArray out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// A server program on a free loopback port (args may hold "{PORT}" and "{DIR}"), its standard
// input a pipe the test writes to and its output in a log file; ready once it listens, since a
// probe connection would be its first client. Stopped (TERM, then KILL) when the object goes.
class ServerProcess : public DaemonPeer {
public:
    ServerProcess(const std::string& program, std::vector<std::string> args)
        : DaemonPeer(program, std::move(args), {}, Started()) {}
    std::string Log() const { return ReadLog(); }

private:
    static Options Started() {
        Options o;
        o.input = true;
        o.listenTable = true;
        o.startLimit = std::chrono::seconds(60);
        return o;
    }
};

// One engine over one loopback connection; records what the events said.
class EngineDriver {
public:
    EngineDriver() {
        client.OnSend = [this](rtl::Component*, const void* buffer, int32_t size) {
            sent.append(static_cast<const char*>(buffer), size_t(size));
            if (socket.Connected()) socket.SendAll(buffer, size_t(size));
        };
        client.OnReceive = [this](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
            written = 0;
            if (!socket.Connected() || eof) return;
            if (socket.WaitReadable(0) != plat::ClientSocket::WaitResult::Readable) return;
            written = int32_t(socket.Receive(buffer, size_t(maxSize)));
            if (written == 0) eof = true;
        };
        client.OnData = [this](rtl::Component*, const void* buffer, int32_t size) {
            data.append(static_cast<const char*>(buffer), size_t(size));
        };
        client.OnOpenConnection = [this](rtl::Component*) { opened++; };
        client.OnCiphersNegotiated = [this](rtl::Component*) { renegotiated++; };
        client.OnCloseConnection = [this](rtl::Component*, TSBCloseReason reason) {
            closed++;
            closeReason = reason;
        };
        client.OnError = [this](rtl::Component*, int32_t code, bool fatal, bool remote) {
            errors.push_back({code, fatal, remote});
        };
    }

    struct Error {
        int32_t code;
        bool fatal, remote;
    };

    void Connect(int port) { socket.Connect("127.0.0.1", uint16_t(port), true); }
    // Pumps the engine until cond holds, the session closed or the server went away; the
    // limit only guards against a hang.
    bool PumpUntil(const std::function<bool()>& cond, std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!cond()) {
            if (closed > 0 || eof || std::chrono::steady_clock::now() > end) return cond();
            if (socket.WaitReadable(200) == plat::ClientSocket::WaitResult::Readable) client.ProcessIncomingData();
        }
        return true;
    }
    // Opens the session and runs the handshake to its end (true: OnOpenConnection fired).
    bool Handshake() {
        client.OpenSession();
        return PumpUntil([&] { return opened > 0; });
    }
    // Sends a line and waits for the answer s_server -rev gives (the line reversed).
    std::string Exchange(const std::string& line) {
        data.clear();
        const std::string out = line + "\n";
        client.SendApplicationData(out.data(), int32_t(out.size()));
        PumpUntil([&] { return data.find('\n') != std::string::npos; });
        return data;
    }
    std::string ErrorCodes() const {
        std::string s;
        for (const Error& e : errors) s += Hex(&e.code, 0) + std::to_string(e.code) + (e.fatal ? "F" : "W") + (e.remote ? "R " : "L ");
        return s;
    }

    TElSecureClient client;
    plat::ClientSocket socket;
    std::string sent, data;
    int opened = 0, closed = 0, renegotiated = 0;
    bool eof = false;
    TSBCloseReason closeReason = crClose;
    std::vector<Error> errors;
};

// The test certificates (tests/tls/make-certs.sh), made once per build tree: the first test
// program that needs them makes them under a lock into a folder of its own and renames it into
// place, so programs running at once never see half a set; the marker names the set's
// edition, so a tree made by an older script is made again. Empty when the tool failed.
inline std::filesystem::path TlsCertificates() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path base = std::filesystem::path(KW_BINARY_DIR) / "tests";
        const std::filesystem::path done = base / "tls-certs";
        std::filesystem::create_directories(base);
        const int lock = ::open((base / "tls-certs.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (lock >= 0) ::flock(lock, LOCK_EX);
        if (!std::filesystem::exists(done / "done-4")) {
            const std::filesystem::path work = base / ("tls-certs." + std::to_string(::getpid()));
            std::filesystem::remove_all(work);
            std::filesystem::create_directories(work);
            const std::string script = std::string(KW_SOURCE_DIR) + "/tests/tls/make-certs.sh";
            PeerProcess maker;
            if (maker.Start({"sh", script, work.string()}, (base / "tls-certs.log").string()) &&
                Eventually([&] { return maker.Exited(); }, std::chrono::seconds(300)) && maker.ExitCode() == 0) {
                std::filesystem::remove_all(done);
                std::filesystem::rename(work, done);
            } else {
                std::filesystem::remove_all(work);
            }
        }
        if (lock >= 0) ::close(lock);
        return std::filesystem::exists(done / "done-4") ? done : std::filesystem::path();
    }();
    return folder;
}

inline std::string Cert(const std::string& file) { return (TlsCertificates() / file).string(); }

// The first certificate of a PEM file of the set (the Base64 between its armour lines).
inline std::unique_ptr<TElX509Certificate> LoadPem(const std::string& file) {
    const std::string text = ReadFile(Cert(file));
    const size_t begin = text.find('\n', text.find("-----BEGIN CERTIFICATE-----")) + 1;
    const std::string body = text.substr(begin, text.find("-----END CERTIFICATE-----") - begin);
    auto c = std::make_unique<TElX509Certificate>();
    c->LoadFromBuffer(body.data(), body.size());
    return c;
}

// A certificate of the set with its private key (X.pem and X.key).
inline std::unique_ptr<TElX509Certificate> LoadWithKey(const std::string& name) {
    auto c = LoadPem(name + ".pem");
    const std::string key = ReadFile(Cert(name + ".key"));
    c->LoadKeyFromBuffer(key.data(), key.size());
    return c;
}

inline bool HaveProgram(const std::string& name) {
    for (const char* d : {"/usr/bin/", "/usr/sbin/", "/bin/", "/usr/local/bin/"})
        if (::access((std::string(d) + name).c_str(), X_OK) == 0) return true;
    return false;
}

// openssl s_server answering each line reversed, with the key log in {DIR}/keys.
inline std::vector<std::string> SServerArgs(std::vector<std::string> extra) {
    std::vector<std::string> a = {"s_server", "-accept", "127.0.0.1:{PORT}", "-rev", "-keylogfile", "{DIR}/keys"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

// The pre-shared key of the PSK tests, for the identity "client1".
inline constexpr const char* kTestPSKHex = "0102030405060708090a0b0c0d0e0f10";

// s_server's arguments for the test key: the suites named (at security level 0) in the
// version flag given, and the identity hint when one is given.
inline std::vector<std::string> PSKServerArgs(const std::string& ciphers, const std::string& versionFlag,
                                              const std::string& hint = {}) {
    std::vector<std::string> a = {"-psk", kTestPSKHex, "-psk_identity", "client1"};
    if (!hint.empty()) a.insert(a.end(), {"-psk_hint", hint});
    a.insert(a.end(), {"-cipher", ciphers + ":@SECLEVEL=0", versionFlag});
    return a;
}

// The client answers a key request with "client1" and the test key; the server's hint goes
// into hint when one is asked for.
inline void AnswerWithTestPSK(TElSecureClient& client, std::string* hint = nullptr) {
    client.OnKeyNeeded = [hint](rtl::Component*, const std::string& h, std::string& identity, ByteArray& key) {
        if (hint != nullptr) *hint = h;
        identity = "client1";
        key = FromHex(kTestPSKHex);
    };
}

// The master secret the server logged for a client random (NSS key log format).
inline std::string LoggedMasterSecret(const ServerProcess& server, const ByteArray& clientRandom) {
    const std::string keys = ReadFile(server.Dir() / "keys");
    const std::string needle = "CLIENT_RANDOM " + Hex(clientRandom.data(), clientRandom.size()) + " ";
    const size_t p = keys.find(needle);
    if (p == std::string::npos) return {};
    return keys.substr(p + needle.size(), 96);
}

// A scenario of the scripted peer for a suite served with a certificate of the set: the
// server's chain (its certificate and the intermediate) and key, the JSON members in extra.
inline std::string CertificateScenario(const std::string& server, int suite, const std::string& version,
                                       const std::string& extra) {
    return "{\"version\": \"" + version + "\", \"suite\": " + std::to_string(suite) + ", \"chain\": [\"" +
           Cert(server + ".pem") + "\", \"" + Cert("int.pem") + "\"], \"key\": \"" + Cert(server + ".key") + "\"" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

// The scripted peer (tests/peers/tlspeer.py) with one scenario, given as the JSON text of its
// parameters.
class ScriptedTlsPeer {
public:
    explicit ScriptedTlsPeer(const std::string& params) {
        WriteFile(dir_ / "params.json", params);
        const std::string program = std::string(KW_SOURCE_DIR) + "/tests/peers/tlspeer.py";
        if (!process_.Start({"python3", program, dir_.path().string()}, (dir_ / "log").string())) {
            reason_ = "python3 could not be started";
            return;
        }
        if (Eventually([&] { return std::filesystem::exists(dir_ / "port") || process_.Exited(); },
                       std::chrono::seconds(60)) &&
            std::filesystem::exists(dir_ / "port"))
            port_ = std::stoi(ReadFile(dir_ / "port"));
        else
            reason_ = "the scripted TLS peer did not start: " + Log();
    }
    bool Available() const { return port_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    std::string Log() const { return std::filesystem::exists(dir_ / "log") ? ReadFile(dir_ / "log") : std::string(); }
    // What the peer recorded about connection n, once it has ended.
    Json Result(int n = 0) {
        const auto file = dir_ / ("result-" + std::to_string(n) + ".json");
        if (!Eventually([&] { return std::filesystem::exists(file) || process_.Exited(); }, std::chrono::seconds(60)) ||
            !std::filesystem::exists(file))
            return Json::Parse("{\"failure\": \"no result\"}");
        return Json::Parse(ReadFile(file));
    }

private:
    TempDir dir_;
    PeerProcess process_;
    int port_ = 0;
    std::string reason_;
};

// The alerts a result recorded, as "level/description" texts.
inline std::vector<std::string> Alerts(const Json& result) {
    std::vector<std::string> out;
    for (const Json& a : result["alerts"].items())
        out.push_back(std::to_string(a[size_t(0)].integer()) + "/" + std::to_string(a[size_t(1)].integer()));
    return out;
}

}  // namespace kwtest
