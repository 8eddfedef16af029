// tests/net/PeerProcess.h: a scripted peer's process for one test: started with an argument
// vector (its standard error into a file), asked whether it ended and how, and killed, if it
// still runs, when the object goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace kwtest {

class PeerProcess {
public:
    PeerProcess() = default;
    ~PeerProcess() {
        if (pid_ > 0 && !Exited()) {
            ::kill(pid_, SIGKILL);
            int status;
            ::waitpid(pid_, &status, 0);
        }
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Starts args[0] from PATH; false when it could not be started.
    bool Start(std::vector<std::string> args, const std::string& stderrFile) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int rc = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) pid_ = 0;
        return rc == 0;
    }
    bool Exited() {
        if (exited_ || pid_ <= 0) return exited_;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return exited_;
    }
    // Valid once Exited().
    int ExitCode() const { return exitCode_; }

private:
    pid_t pid_ = 0;
    bool exited_ = false;
    int exitCode_ = -1;
};

}  // namespace kwtest
