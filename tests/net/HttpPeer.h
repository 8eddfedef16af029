// tests/net/HttpPeer.h: the scripted HTTP server (tests/peers/http_peer.py) for one test.
//
// The peer listens on free ports of 127.0.0.1, answers each request of the script with canned
// bytes and records the exact requests it read (and forms decoded by Python's parse_qs). It
// runs in a temporary folder and is killed, if it still runs, when the object goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tests/net/ScriptBuilder.h"

extern char** environ;

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
        std::vector<std::string> args = {"python3", program, dir_.path().string(), (dir_ / "script.json").string()};
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
    ~HttpPeer() {
        if (pid_ > 0 && !Exited()) {
            ::kill(pid_, SIGKILL);
            int status;
            ::waitpid(pid_, &status, 0);
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
        return Exited() && exitCode_ == 0;
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
    std::vector<int> ports_;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string reason_;
};

}  // namespace kwtest

#define KW_REQUIRE_HTTP_PEER(peer) KW_REQUIRE_PEER((peer).Available(), (peer).Reason())
