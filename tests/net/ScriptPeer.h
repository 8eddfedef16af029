// tests/net/ScriptPeer.h: a scripted TCP peer (tests/peers/script_peer.py) for one test.
//
// The peer listens on 127.0.0.1 (or ::1) at a free port, plays a JSON script of sends,
// acknowledged syncs and receives, and writes what our client sent to a transcript, so a test
// checks the exact bytes. It runs in a temporary folder and is always stopped: killed, if it
// is still running, when the object goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

extern char** environ;

namespace kwtest {

class ScriptPeer {
public:
    explicit ScriptPeer(const std::string& scriptJson, bool ipv6 = false) {
        WriteFile(dir_ / "script.json", scriptJson);
        const std::string script = std::string(KW_SOURCE_DIR) + "/tests/peers/script_peer.py";
        std::vector<std::string> args = {"python3", script, (dir_ / "port").string(), (dir_ / "script.json").string(),
                                         (dir_ / "transcript").string()};
        if (ipv6) args.push_back("--ipv6");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string err = (dir_ / "stderr").string();
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = 0;
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

    ~ScriptPeer() {
        if (pid_ > 0 && !Exited()) {
            ::kill(pid_, SIGKILL);
            int status;
            ::waitpid(pid_, &status, 0);
        }
    }
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    bool Available() const { return port_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }

    // Waits (bounded) for the peer to end; true when it played its script to the end.
    bool Finished() {
        Eventually([&] { return Exited(); }, std::chrono::seconds(60));
        return Exited() && exitCode_ == 0;
    }
    // What the client sent (after Finished).
    std::string Transcript() {
        Finished();
        const auto p = dir_ / "transcript";
        return std::filesystem::exists(p) ? ReadFile(p) : std::string();
    }
    std::string Errors() { return ReadFile(dir_ / "stderr"); }

private:
    bool Exited() {
        if (exited_ || pid_ <= 0) return exited_;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return exited_;
    }

    TempDir dir_;
    pid_t pid_ = 0;
    int port_ = 0;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string reason_;
};

}  // namespace kwtest

#define KW_REQUIRE_SCRIPT_PEER(peer) KW_REQUIRE_PEER((peer).Available(), (peer).Reason())
