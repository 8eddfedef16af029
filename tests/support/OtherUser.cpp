// tests/support/OtherUser.cpp
#include "support/OtherUser.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // The child: only async-signal-safe calls until exec, apart from unsetenv (single thread
    // after fork in the child's copy).
    if (::chdir("/") != 0) ::_exit(92);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(90);
    for (const std::string& name : unset)
        ::unsetenv(name.c_str());
    ::execv(file.c_str(), argv.data());
    ::_exit(91);
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kwtest
