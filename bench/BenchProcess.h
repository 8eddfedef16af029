// bench/BenchProcess.h: what the benchmarks need to run a peer program beside them: a free
// loopback port, whether something accepts on it, a program started with its output in a file
// (or nowhere), the wait for its end, and seconds since a moment.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/LoopbackListeners.h"

extern char** environ;

namespace bench {

// The free port and the accept probe the tests' peers use.
using kwtest::Accepts;
using kwtest::FreeLoopbackPort;

// The program's standard output and error go to output; 0 when it could not be started.
inline pid_t Spawn(std::vector<std::string> args, const std::string& output = "/dev/null") {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

// The exit code, -1 for a program that did not exit by itself.
inline int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench
