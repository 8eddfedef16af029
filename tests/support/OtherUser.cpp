// tests/support/OtherUser.cpp
#include "support/OtherUser.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kwtest {

bool CanActAsOtherUser() {
    return ::geteuid() == 0;
}

ProgramForAnyone::ProgramForAnyone(const std::string& name) {
    namespace fs = std::filesystem;
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    path_ = dir_ / name;
    fs::copy_file(ProgPath(name), path_, fs::copy_options::overwrite_existing);
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

pid_t StartAsUser(uid_t uid, gid_t gid, const std::filesystem::path& program,
                  const std::vector<std::string>& args, const std::vector<std::string>& unset) {
    const std::string file = program.string();
    std::vector<std::string> all{file};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child's environment, built before fork: between fork and exec only async-signal-safe
    // calls are made (another thread may hold the environment's lock at the fork).
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const std::string& u : unset)
            drop = drop || u == name;
        if (!drop) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir("/") != 0) ::_exit(92);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(90);
    ::execve(file.c_str(), argv.data(), envp.data());
    ::_exit(91);
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool GiveUpRaisingPriority() {
    if (CanActAsOtherUser() &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyGid) != 0 || ::setuid(kNobodyUid) != 0))
        return false;
    // A limit of 0 lets the niceness go no lower than 20 - 0: no raise at all.
    const rlimit none{0, 0};
    return ::setrlimit(RLIMIT_NICE, &none) == 0;
}

}  // namespace kwtest
