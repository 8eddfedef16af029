// tests/support/OtherUser.h: a second local user for the tests that check what another user can
// and cannot do to the launcher's files (root only: the tests that use it skip otherwise).
//
// The other user is "nobody". Our own build may sit in a folder that user cannot enter (a
// clone in root's home, or in a 0700 temporary folder, as CI makes), so a test program is
// started from a copy in a temporary folder any user can enter, and with "/" as its working
// folder.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace kwtest {

constexpr uid_t kNobodyUid = 65534;
constexpr gid_t kNobodyGid = 65534;

// True when we may act as another user (we are root).
bool CanActAsOtherUser();

// A copy of the test program `name` (tests/<folder>/progs) that any user may start.
class ProgramForAnyone {
public:
    explicit ProgramForAnyone(const std::string& name);
    const std::filesystem::path& path() const { return path_; }

private:
    TempDir dir_;
    std::filesystem::path path_;
};

// Starts program as uid/gid (no supplementary groups, working folder "/", the variables named
// in unset removed from its environment) and gives its process id; -1 when fork fails.
pid_t StartAsUser(uid_t uid, gid_t gid, const std::filesystem::path& program,
                  const std::vector<std::string>& args, const std::vector<std::string>& unset = {});

// Waits for a child: its exit code, or -1 when a signal ended it.
int WaitForExit(pid_t pid);

// Leaves this process without the right to raise any thread's priority: as root it becomes the
// other user (which has no capabilities), and its nice limit drops to 0. There is no way back,
// so only a forked child calls it (the statement of a death test). False when a step fails.
bool GiveUpRaisingPriority();

}  // namespace kwtest
