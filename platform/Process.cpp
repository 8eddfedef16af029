// platform/Process.cpp: posix_spawn, waitpid, and the /proc walk.
//
// The child starts with default signal dispositions and an empty signal mask whatever ours
// are (a program must not inherit an ignored SIGPIPE or a blocked SIGTERM), with descriptors
// 3 and up closed, and in the requested folder. Output files and pipes are opened here, in
// the parent, so that a failure names the file instead of being lost in the child.
#include "platform/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/Files.h"
#include "platform/WinError.h"

extern char** environ;

namespace plat {

namespace {

constexpr std::string_view kDeletedMark = " (deleted)";

[[noreturn]] void Fail(const std::string& what, int err) {
    throw EProcessError(what + ": " + SystemErrorText(err), err);
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

class SpawnActions {
public:
    SpawnActions() {
        if (int r = posix_spawn_file_actions_init(&a_)) Fail("cannot prepare a program start", r);
    }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&a_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &a_; }
    void Check(int r) {
        if (r != 0) Fail("cannot prepare a program start", r);
    }

private:
    posix_spawn_file_actions_t a_;
};

class SpawnAttr {
public:
    SpawnAttr() {
        if (int r = posix_spawnattr_init(&a_)) Fail("cannot prepare a program start", r);
    }
    ~SpawnAttr() { posix_spawnattr_destroy(&a_); }
    SpawnAttr(const SpawnAttr&) = delete;
    SpawnAttr& operator=(const SpawnAttr&) = delete;
    posix_spawnattr_t* get() { return &a_; }

private:
    posix_spawnattr_t a_;
};

void RecordStatus(int status, ProcessResult& result) {
    result.exited = true;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
        result.exitCode = 128 + result.signal;
    }
}

int WaitFor(int pid, ProcessResult& result) {
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, 0);
        if (r == pid) break;
        if (r < 0 && errno == EINTR) continue;
        return r < 0 ? errno : ECHILD;
    }
    RecordStatus(status, result);
    return 0;
}

// The caller's call while a program runs; its first exception is kept (and it is not called
// again) so the program is still waited for.
struct WaitingCall {
    const std::function<void()>& call;
    std::exception_ptr failure;
    void operator()() {
        if (!call || failure) return;
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
    }
};

// Waits for the program, making the call every 50 ms until it has ended.
int WaitCalling(int pid, ProcessResult& result, WaitingCall& calling) {
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            RecordStatus(status, result);
            return 0;
        }
        if (r < 0 && errno != EINTR) return errno;
        calling();
        ::poll(nullptr, 0, 50);
    }
}

// Reads what is in the pipe now, without waiting for more; 0, or the errno of a failed read.
int DrainAvailable(int fd, std::string& out) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    char buf[8192];
    for (;;) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r > 0) {
            out.append(buf, size_t(r));
        } else if (r == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

// Collects the child's output until the child has ended, and waits for it. The pipe's end
// is not enough: a program the child started and left running (a detached helper) inherits
// the pipe and may hold it open for as long as it lives, so once the child itself is gone,
// whatever it wrote is taken from the pipe and the rest is not waited for. *drainErr gets the
// errno of a failed read; the result is the errno of a failed wait (0 when it succeeded).
int CollectAndWait(int fd, int pid, ProcessResult& result, int* drainErr, WaitingCall& calling) {
    char buf[8192];
    for (;;) {
        calling();
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready < 0 && errno != EINTR) {
            *drainErr = errno;
            return WaitFor(pid, result);
        }
        if (ready > 0) {
            const ssize_t r = ::read(fd, buf, sizeof buf);
            if (r > 0) {
                result.output.append(buf, size_t(r));
            } else if (r == 0) {
                return WaitFor(pid, result);  // every writer is gone
            } else if (errno != EINTR && errno != EAGAIN) {
                *drainErr = errno;
                return WaitFor(pid, result);
            }
        }
        int status = 0;
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            RecordStatus(status, result);
            *drainErr = DrainAvailable(fd, result.output);
            return 0;
        }
        if (w < 0 && errno != EINTR) return errno;
    }
}

std::string ReadLink(const std::string& link) {
    std::string buf(PATH_MAX, '\0');
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
        if (n < 0) return "";
        if (size_t(n) < buf.size()) {
            buf.resize(size_t(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

// The canonical form of a path to compare with /proc/<pid>/exe.
std::string CanonicalTarget(const std::string& path) {
    const std::string resolved = ResolveCaseInsensitive(path);
    if (char* real = ::realpath(resolved.c_str(), nullptr)) {
        std::string s(real);
        std::free(real);
        return s;
    }
    // A file that no longer exists may still be running: compare its plain absolute form.
    std::error_code ec;
    auto abs = std::filesystem::absolute(resolved, ec);
    return ec ? resolved : abs.lexically_normal().string();
}

}  // namespace

ProcessResult StartProcess(const std::string& path, const std::vector<std::string>& args,
                           const ProcessOptions& options) {
    if (path.empty()) Fail("cannot start a program without a name", EINVAL);
    if (options.detached && (options.wait || options.output == ProcessOutput::Capture))
        Fail("cannot start \"" + path + "\": a detached program cannot be waited for", EINVAL);
    if (options.output == ProcessOutput::Capture && !options.wait)
        Fail("cannot start \"" + path + "\": capturing the output needs waiting for the program", EINVAL);
    if (options.output == ProcessOutput::File && options.outputFile.empty())
        Fail("cannot start \"" + path + "\": no output file given", EINVAL);
    if (!options.workingFolder.empty() && !FolderExists(options.workingFolder))
        Fail("cannot start \"" + path + "\" in the folder \"" + options.workingFolder + "\"",
             PathExists(options.workingFolder) ? ENOTDIR : ENOENT);

    // A relative program path means our folder, not the child's.
    std::string program = path;
    const bool searched = path.find('/') == std::string::npos;
    if (!searched && path[0] != '/') {
        std::error_code ec;
        auto abs = std::filesystem::absolute(path, ec);
        if (!ec) program = abs.string();
    }

    SpawnActions actions;
    Fd outFile;
    Fd pipeRead, pipeWrite;
    const bool quietInput = options.detached || options.output != ProcessOutput::Inherit;
    if (quietInput)
        actions.Check(posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0));
    switch (options.output) {
        case ProcessOutput::Inherit:
            break;
        case ProcessOutput::Null:
            actions.Check(posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0));
            actions.Check(posix_spawn_file_actions_adddup2(actions.get(), 1, 2));
            break;
        case ProcessOutput::File:
            outFile.fd = ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (outFile.fd < 0) Fail("cannot open the output file \"" + options.outputFile + "\"", errno);
            actions.Check(posix_spawn_file_actions_adddup2(actions.get(), outFile.fd, 1));
            actions.Check(posix_spawn_file_actions_adddup2(actions.get(), outFile.fd, 2));
            break;
        case ProcessOutput::Capture: {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) {
                const int err = errno;
                throw EProcessPipeError("cannot create a pipe for \"" + path + "\": " + SystemErrorText(err),
                                        err);
            }
            pipeRead.fd = fds[0];
            pipeWrite.fd = fds[1];
            actions.Check(posix_spawn_file_actions_adddup2(actions.get(), pipeWrite.fd, 1));
            actions.Check(posix_spawn_file_actions_adddup2(actions.get(), pipeWrite.fd, 2));
            break;
        }
    }
    if (!options.workingFolder.empty())
        actions.Check(posix_spawn_file_actions_addchdir_np(actions.get(), options.workingFolder.c_str()));
    actions.Check(posix_spawn_file_actions_addclosefrom_np(actions.get(), 3));

    SpawnAttr attr;
    sigset_t none, all;
    sigemptyset(&none);
    sigemptyset(&all);
    for (int s = 1; s < NSIG; ++s)
        if (s != SIGKILL && s != SIGSTOP) sigaddset(&all, s);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.detached) flags |= POSIX_SPAWN_SETSID;
    if (int r = posix_spawnattr_setflags(attr.get(), flags)) Fail("cannot prepare a program start", r);
    posix_spawnattr_setsigmask(attr.get(), &none);
    posix_spawnattr_setsigdefault(attr.get(), &all);

    std::vector<char*> argv;
    std::string arg0 = options.argv0.empty() ? path : options.argv0;
    argv.push_back(arg0.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int r = searched
                      ? posix_spawnp(&pid, program.c_str(), actions.get(), attr.get(), argv.data(), environ)
                      : posix_spawn(&pid, program.c_str(), actions.get(), attr.get(), argv.data(), environ);
    if (r != 0) Fail("cannot start \"" + path + "\"", r);
    pipeWrite.Close();
    outFile.Close();

    ProcessResult result;
    result.pid = int(pid);
    if (!options.wait) {
        // Nobody waits for this one: reap it when it ends so it never stays a zombie. The
        // program has started either way, so a thread that cannot be made is no failure of
        // the start (the child is then collected when we exit).
        try {
            std::thread([pid] {
                int status = 0;
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::system_error&) {
        }
        return result;
    }
    int drainErr = 0;
    WaitingCall calling{options.whileWaiting, nullptr};
    const int waitErr = pipeRead.fd >= 0       ? CollectAndWait(pipeRead.fd, pid, result, &drainErr, calling)
                        : options.whileWaiting ? WaitCalling(pid, result, calling)
                                               : WaitFor(pid, result);
    if (calling.failure) std::rethrow_exception(calling.failure);
    if (waitErr) Fail("cannot wait for \"" + path + "\"", waitErr);
    if (drainErr) Fail("cannot read the output of \"" + path + "\"", drainErr);
    return result;
}

std::string ProcessExecutablePath(int pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target = ReadLink(link);
    if (target.size() > kDeletedMark.size() && target.ends_with(kDeletedMark)) {
        // The kernel marks a program file that was removed; tell that apart from a file whose
        // name really ends so by asking whether the running file still has a name.
        struct stat st {};
        if (::stat(link.c_str(), &st) == 0 && st.st_nlink == 0)
            target.resize(target.size() - kDeletedMark.size());
    }
    return target;
}

std::vector<int> FindProcessesByPath(const std::string& path) {
    std::vector<int> found;
    if (path.empty()) return found;
    const std::string target = CanonicalTarget(path);
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return found;
    while (const dirent* de = ::readdir(proc.get())) {
        const char* n = de->d_name;
        if (*n < '1' || *n > '9') continue;
        char* end = nullptr;
        const long pid = std::strtol(n, &end, 10);
        if (*end != '\0' || pid <= 0 || pid > INT_MAX) continue;
        const std::string exe = ProcessExecutablePath(int(pid));
        if (!exe.empty() && exe == target) found.push_back(int(pid));
    }
    return found;
}

bool IsProcessRunning(const std::string& path) {
    return !FindProcessesByPath(path).empty();
}

std::string CurrentExecutablePath() {
    // A running program's own path does not change; the launcher asks for it for every file
    // it maps, and reading the link each time costs a system call per file.
    static const std::string path = ProcessExecutablePath(int(::getpid()));
    return path;
}

std::string CurrentExecutableFolder() {
    std::string p = CurrentExecutablePath();
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1);
}

std::vector<std::string> SplitWindowsCommandLine(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    bool inArg = false;  // an argument has started (even an empty quoted one)
    bool inQuotes = false;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\\') {
            size_t n = 0;
            while (i < text.size() && text[i] == '\\')
                ++n, ++i;
            inArg = true;
            if (i < text.size() && text[i] == '"') {
                current.append(n / 2, '\\');
                if (n % 2 == 1) {
                    current += '"';
                    ++i;
                }
                // An even count leaves the quote to the next round, where it groups.
            } else {
                current.append(n, '\\');
            }
            continue;
        }
        if (c == '"') {
            inArg = true;
            if (inQuotes && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';  // "" inside quotes: a literal quote, still quoted
                i += 2;
                continue;
            }
            inQuotes = !inQuotes;
            ++i;
            continue;
        }
        if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inArg) out.push_back(std::move(current));
            current.clear();
            inArg = false;
            ++i;
            continue;
        }
        current += c;
        inArg = true;
        ++i;
    }
    if (inArg) out.push_back(std::move(current));
    return out;
}

}  // namespace plat
