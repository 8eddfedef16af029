// tests/net/HttpPeer.h: the scripted HTTP server (tests/peers/http_peer.py) for one test.
//
// The peer listens on free ports of 127.0.0.1, answers each request of the script with canned
// bytes and records the exact requests it read (and forms decoded by Python's parse_qs). It
// runs in a temporary folder and is killed, if it still runs, when the object goes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tests/net/PeerProcess.h"
#include "tests/net/ScriptBuilder.h"

namespace kwtest {

class HttpScript {
public:
    // One exchange: read a request on a listener, send the response, close or keep open.
    HttpScript& Answer(std::string_view response, bool close = true, int listener = 0, bool fresh = true) {
        if (!json_.empty()) json_ += ",";
        json_ += "{\"listener\":" + std::to_string(listener) + ",\"response\":" + Script::Quote(response) +
                 ",\"close\":" + (close ? "true" : "false") + ",\"new\":" + (fresh ? "true" : "false") + "}";
        return *this;
    }
    std::string Json() const { return "[" + json_ + "]"; }

private:
    std::string json_;
};

class HttpPeer {
public:
    explicit HttpPeer(const HttpScript& script) {
        WriteFile(dir_ / "script.json", script.Json());
        const std::string program = std::string(KW_SOURCE_DIR) + "/tests/peers/http_peer.py";
        if (!process_.Start({"python3", program, dir_.path().string(), (dir_ / "script.json").string()},
                            (dir_ / "stderr").string())) {
            reason_ = "python3 could not be started";
            return;
        }
        if (!Eventually([&] { return std::filesystem::exists(dir_ / "ports") || Exited(); }, std::chrono::seconds(60)) ||
            !std::filesystem::exists(dir_ / "ports")) {
            reason_ = "the HTTP peer did not start: " + ReadFile(dir_ / "stderr");
            return;
        }
        const std::string text = ReadFile(dir_ / "ports");
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            ports_.push_back(std::stoi(text.substr(at, end - at)));
            at = end + 1;
        }
    }
    HttpPeer(const HttpPeer&) = delete;
    HttpPeer& operator=(const HttpPeer&) = delete;

    bool Available() const { return !ports_.empty(); }
    const std::string& Reason() const { return reason_; }
    int Port(int listener = 0) const { return ports_.at(size_t(listener)); }
    std::string Url(const std::string& path, int listener = 0) const {
        return "http://127.0.0.1:" + std::to_string(Port(listener)) + path;
    }

    // True when the peer played its whole script (waits, bounded, for it to end).
    bool Finished() {
        Eventually([&] { return Exited(); }, std::chrono::seconds(60));
        return Exited() && process_.ExitCode() == 0;
    }
    // The exact bytes of request n (from 0), empty when it never came.
    std::string Request(int n) {
        const auto p = dir_ / ("request-" + std::to_string(n));
        return std::filesystem::exists(p) ? ReadFile(p) : std::string();
    }
    // The form of request n as Python's parse_qs read it: "name TAB value" lines.
    std::string Form(int n) {
        const auto p = dir_ / ("form-" + std::to_string(n));
        return std::filesystem::exists(p) ? ReadFile(p) : std::string();
    }
    // How many requests the peer read (after it ended).
    int RequestCount() {
        Finished();
        const auto p = dir_ / "count";
        return std::filesystem::exists(p) ? std::stoi(ReadFile(p)) : -1;
    }
    std::string Errors() { return ReadFile(dir_ / "stderr"); }

private:
    bool Exited() { return process_.Exited(); }

    TempDir dir_;
    PeerProcess process_;
    std::vector<int> ports_;
    std::string reason_;
};

}  // namespace kwtest

#define KW_REQUIRE_HTTP_PEER(peer) KW_REQUIRE_PEER((peer).Available(), (peer).Reason())
