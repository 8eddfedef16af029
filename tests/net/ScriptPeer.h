// tests/net/ScriptPeer.h: a scripted TCP peer (tests/peers/script_peer.py) for one test.
//
// The peer listens on 127.0.0.1 (or ::1) at a free port, plays a JSON script of sends,
// acknowledged syncs and receives, and writes what our client sent to a transcript, so a test
// checks the exact bytes. It runs in a temporary folder and is always stopped: killed, if it
// is still running, when the object goes.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"
#include "tests/net/PeerProcess.h"

namespace kwtest {

class ScriptPeer {
public:
    explicit ScriptPeer(const std::string& scriptJson, bool ipv6 = false) {
        WriteFile(dir_ / "script.json", scriptJson);
        const std::string script = std::string(KW_SOURCE_DIR) + "/tests/peers/script_peer.py";
        std::vector<std::string> args = {"python3", script, (dir_ / "port").string(), (dir_ / "script.json").string(),
                                         (dir_ / "transcript").string()};
        if (ipv6) args.push_back("--ipv6");
        if (!process_.Start(args, (dir_ / "stderr").string())) {
            reason_ = "python3 could not be started";
            return;
        }
        if (!Eventually([&] { return std::filesystem::exists(dir_ / "port") || Exited(); }, std::chrono::seconds(60))) {
            reason_ = "the scripted peer did not start listening";
            return;
        }
        if (!std::filesystem::exists(dir_ / "port")) {
            reason_ = "the scripted peer ended: " + ReadFile(dir_ / "stderr");
            return;
        }
        port_ = std::stoi(ReadFile(dir_ / "port"));
    }

    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    bool Available() const { return port_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }

    // Waits (bounded) for the peer to end; true when it played its script to the end.
    bool Finished() {
        Eventually([&] { return Exited(); }, std::chrono::seconds(60));
        return Exited() && process_.ExitCode() == 0;
    }
    // What the client sent (after Finished).
    std::string Transcript() {
        Finished();
        const auto p = dir_ / "transcript";
        return std::filesystem::exists(p) ? ReadFile(p) : std::string();
    }
    std::string Errors() { return ReadFile(dir_ / "stderr"); }

private:
    bool Exited() { return process_.Exited(); }

    TempDir dir_;
    PeerProcess process_;
    int port_ = 0;
    std::string reason_;
};

}  // namespace kwtest

#define KW_REQUIRE_SCRIPT_PEER(peer) KW_REQUIRE_PEER((peer).Available(), (peer).Reason())
