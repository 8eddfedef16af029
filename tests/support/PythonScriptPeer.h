// tests/support/PythonScriptPeer.h: a scripted peer of tests/peers/ (a Python program of the
// standard library) as a fixture: what the application server and the download server share.
//
// The script (JSON) goes into a temporary folder of the fixture's own; the program starts
// with "--script FILE --log FILE" and any further arguments, on 127.0.0.1 at an ephemeral
// port it prints first, and is stopped when the object goes away (it also ends by itself when
// this process does). Requests() reads the JSON lines it logged, one per request.
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

class PythonScriptPeer {
public:
    // program: a file name under tests/peers/.
    PythonScriptPeer(const std::string& program, const std::string& scriptJson,
                     const std::vector<std::string>& extraArgs = {}) {
        Start(program, scriptJson, extraArgs);
    }
    ~PythonScriptPeer() { Stop(); }
    PythonScriptPeer(const PythonScriptPeer&) = delete;
    PythonScriptPeer& operator=(const PythonScriptPeer&) = delete;

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
    // Waits (bounded) until at least n requests were logged: a server may log after the
    // client's call returned.
    std::vector<Json> WaitRequests(size_t n) const {
        Eventually([&] { return Requests().size() >= n; });
        return Requests();
    }

protected:
    // Replaces the script (renamed into place: a request never reads half of it).
    void WriteScript(const std::string& scriptJson) const {
        const std::filesystem::path tmp = dir_ / "script.json.new";
        WriteFile(tmp, scriptJson);
        std::filesystem::rename(tmp, dir_ / "script.json");
    }

private:
    void Start(const std::string& program, const std::string& scriptJson,
               const std::vector<std::string>& extraArgs) {
        const std::filesystem::path path = std::filesystem::path(KW_SOURCE_DIR) / "tests/peers" / program;
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
        std::vector<std::string> args = {path.string(), "--script", script.string(), "--log", log_.string()};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        try {
            pid_ = plat::StartProcess("/usr/bin/python3", args, o).pid;
        } catch (const std::exception& e) {
            reason_ = program + " did not start: " + e.what();
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
            reason_ = program + " did not report its port: " +
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
