// tests/net/SocksPeers.h: real SOCKS servers (dante's danted, microsocks) and echo peers on
// the loopback address for the SOCKS client's tests.
//
// Each server runs from a temporary folder on a free port of 127.0.0.1, is waited for until it
// accepts connections (or, for one that would take that probe for a client, until it listens),
// and is always stopped (TERM, then KILL) when the object goes. The echo
// peers (TCP and UDP) run in a thread of the test and send back what they receive.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"

extern char** environ;

namespace kwtest {

// A server program started on a free port; args may hold "{PORT}" and "{DIR}" (a folder of
// the object's own, where the configuration template, expanded the same way, becomes
// server.conf). Its output goes to {DIR}/log. Started again on another port when it does not
// come up (a port taken meanwhile), and always stopped (TERM, then KILL) when the object goes.
class DaemonPeer {
public:
    struct Options {
        // The program's standard input is a pipe the test writes to (Input).
        bool input = false;
        // Ready once the port is seen listening in /proc instead of once a connection to it
        // is accepted: for a server that would take that probe for a client.
        bool listenTable = false;
        std::chrono::seconds startLimit = std::chrono::seconds(30);
    };

    DaemonPeer(const std::string& program, std::vector<std::string> args, const std::string& configTemplate = {})
        : DaemonPeer(program, std::move(args), configTemplate, Options()) {}
    DaemonPeer(const std::string& program, std::vector<std::string> args, const std::string& configTemplate,
               const Options& options)
        : options_(options) {
        const std::string path = FindProgram(program);
        if (path.empty()) {
            reason_ = program + " is not installed";
            return;
        }
        for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
            const int port = FreeLoopbackPort();
            if (!configTemplate.empty()) WriteFile(dir_ / "server.conf", Expand(configTemplate, port));
            std::vector<std::string> argv{path};
            for (const std::string& a : args) argv.push_back(Expand(a, port));
            const auto ready = [&] { return (options_.listenTable ? Listening(port) : Accepts(port)) || Exited(); };
            if (Spawn(argv) && Eventually(ready, options_.startLimit) && !Exited())
                port_ = port;
            else
                Stop();
        }
        if (port_ == 0) reason_ = program + " did not start: " + ReadLog();
    }
    ~DaemonPeer() { Stop(); }
    DaemonPeer(const DaemonPeer&) = delete;
    DaemonPeer& operator=(const DaemonPeer&) = delete;

    bool Available() const { return port_ > 0; }
    const std::string& Reason() const { return reason_; }
    int Port() const { return port_; }
    std::filesystem::path Dir() const { return dir_.path(); }
    std::string ReadLog() const {
        return std::filesystem::exists(dir_ / "log") ? ReadFile(dir_ / "log") : std::string();
    }
    // Writes text to the program's standard input (with Options::input).
    void Input(const std::string& text) {
        if (stdin_ >= 0) (void)!::write(stdin_, text.data(), text.size());
    }
    bool Exited() {
        if (pid_ <= 0 || exited_) return true;
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) exited_ = true;
        return exited_;
    }

private:
    // A name with a folder is taken as it stands.
    static std::string FindProgram(const std::string& name) {
        if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
        for (const char* d : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/", "/usr/local/bin/"})
            if (::access((std::string(d) + name).c_str(), X_OK) == 0) return std::string(d) + name;
        return {};
    }
    // Whether the port is bound and listening, read from /proc.
    static bool Listening(int port) {
        char needle[16];
        std::snprintf(needle, sizeof needle, ":%04X ", port);
        for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            if (!std::filesystem::exists(table)) continue;
            const std::string t = ReadFile(table);
            for (size_t p = t.find(needle); p != std::string::npos; p = t.find(needle, p + 1)) {
                // the state column follows the remote address: 0A is LISTEN
                const size_t line = t.rfind('\n', p);
                const size_t end = t.find('\n', p);
                const std::string row = t.substr(line + 1, end - line - 1);
                if (row.find(needle) < 20 && row.find(" 0A ") != std::string::npos) return true;
            }
        }
        return false;
    }
    std::string Expand(std::string s, int port) const {
        for (auto [key, value] : {std::pair<std::string, std::string>{"{PORT}", std::to_string(port)},
                                  {"{DIR}", dir_.path().string()}})
            for (size_t p; (p = s.find(key)) != std::string::npos;) s.replace(p, key.size(), value);
        return s;
    }
    bool Spawn(std::vector<std::string>& args) {
        int pipefd[2] = {-1, -1};
        if (options_.input && ::pipe2(pipefd, O_CLOEXEC) != 0) return false;
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (options_.input) posix_spawn_file_actions_adddup2(&actions, pipefd[0], 0);
        const std::string log = (dir_ / "log").string();
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (options_.input) ::close(pipefd[0]);
        if (rc != 0) {
            if (options_.input) ::close(pipefd[1]);
            pid_ = 0;
            return false;
        }
        stdin_ = pipefd[1];
        exited_ = false;
        return true;
    }
    void Stop() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
        if (pid_ <= 0) return;
        if (!Exited()) {
            ::kill(pid_, SIGTERM);
            if (!Eventually([&] { return Exited(); }, std::chrono::seconds(10))) {
                ::kill(pid_, SIGKILL);
                int status;
                ::waitpid(pid_, &status, 0);
            }
        }
        pid_ = 0;
    }

    Options options_;
    TempDir dir_;
    pid_t pid_ = 0;
    int stdin_ = -1;
    bool exited_ = true;
    int port_ = 0;
    std::string reason_;
};

// danted without authentication, allowing connect, bind and UDP association from loopback.
inline const char* kDanteConfig =
    "logoutput: stderr\n"
    "internal: 127.0.0.1 port = {PORT}\n"
    "external: 127.0.0.1\n"
    "socksmethod: none\n"
    "clientmethod: none\n"
    "user.privileged: root\n"
    "user.unprivileged: nobody\n"
    "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
    "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: bind connect udpassociate bindreply udpreply }\n";

struct Dante : DaemonPeer {
    Dante() : DaemonPeer("danted", {"-f", "{DIR}/server.conf", "-p", "{DIR}/danted.pid"}, kDanteConfig) {}
};

struct MicroSocks : DaemonPeer {
    MicroSocks(const std::string& user, const std::string& password)
        : DaemonPeer("microsocks", {"-i", "127.0.0.1", "-p", "{PORT}", "-u", user, "-P", password}) {}
};

// A TCP echo server on 127.0.0.1 (one connection at a time, each echoed until it closes).
class TcpEcho {
public:
    TcpEcho() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 8);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TcpEcho() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            char buf[4096];
            for (;;) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 100) == 0) {
                    if (stop_) break;
                    continue;
                }
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
                ::send(c, buf, size_t(n), MSG_NOSIGNAL);
            }
            ::close(c);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A UDP echo server on 127.0.0.1.
class UdpEcho {
public:
    UdpEcho() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            char buf[2048];
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0) continue;
                sockaddr_storage from{};
                socklen_t fl = sizeof from;
                const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
                if (n > 0) ::sendto(fd_, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), fl);
            }
        });
    }
    ~UdpEcho() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kwtest
