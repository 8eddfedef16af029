// plat_child: a child program whose behaviour the platform tests choose by its first argument.
//   exit N              ends with exit code N
//   sleep MS            sleeps, then ends with 0
//   waitfile FILE       waits (at most a minute) until FILE exists, prints "seen" and ends with
//                       0; 1 when it never appeared
//   out TEXT            writes TEXT to standard output and "err:TEXT" to standard error
//   big N               writes N bytes to standard output (fills any pipe many times over)
//   stdin               reads standard input to its end and prints how many bytes came
//   env                 prints its inherited state: open descriptors above 2, whether SIGPIPE
//                       is at its default, whether any signal is blocked, its session id
//   signal N            raises signal N
//   marker CLASS FILE   holds the instance marker of CLASS, writes FILE, and sleeps forever
//   markerdir FILE      writes the instance-marker folder (or the error) to FILE
//   detach FILE         starts "plat_child sleep 30000" detached, writes its pid to FILE, ends
//   linger FILE         the same, but the sleeper keeps our standard output open; prints
//                       "started" first
//   snoop DIR OUT       another user's view of DIR: writes OUT.ready, then until DIR/stop
//                       appears keeps opening every file of DIR whose name starts with "."
//                       (the temporary files of atomic writes) and reading what it can; at
//                       the end writes to OUT the number of files it opened and, after a line
//                       break, every byte it read
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/InstanceMarker.h"
#include "platform/Process.h"

namespace {

void WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::rename(tmp.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 100;
    const std::string mode = argv[1];
    if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
    if (mode == "snoop" && argc > 3) {
        const std::string dir = argv[2];
        const std::string out = argv[3];
        WriteFileAtomically(out + ".ready", "");
        int opened = 0;
        std::string read;
        while (::access((dir + "/stop").c_str(), F_OK) != 0) {
            DIR* d = ::opendir(dir.c_str());
            if (d == nullptr) continue;
            while (dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name.size() < 3 || name[0] != '.' || name == "..") continue;
                const int fd = ::open((dir + "/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0) continue;
                ++opened;
                // Whatever the writer puts in while we hold it open.
                char buf[4096];
                for (int i = 0; i < 50; ++i) {
                    const ssize_t n = ::read(fd, buf, sizeof buf);
                    if (n > 0) read.append(buf, size_t(n));
                    ::usleep(100);
                }
                ::close(fd);
            }
            ::closedir(d);
        }
        WriteFileAtomically(out, std::to_string(opened) + "\n" + read);
        return 0;
    }
    if (mode == "waitfile" && argc > 2) {
        for (int i = 0; i < 60000; ++i) {
            if (::access(argv[2], F_OK) == 0) {
                std::fputs("seen", stdout);
                return 0;
            }
            ::usleep(1000);
        }
        return 1;
    }
    if (mode == "sleep" && argc > 2) {
        ::usleep(useconds_t(std::atoi(argv[2])) * 1000);
        return 0;
    }
    if (mode == "out" && argc > 2) {
        std::fprintf(stdout, "%s", argv[2]);
        std::fflush(stdout);
        std::fprintf(stderr, "err:%s", argv[2]);
        return 0;
    }
    if (mode == "big" && argc > 2) {
        long n = std::atol(argv[2]);
        std::string chunk(4096, 'x');
        while (n > 0) {
            const long k = n < 4096 ? n : 4096;
            if (std::fwrite(chunk.data(), 1, size_t(k), stdout) != size_t(k)) return 3;
            n -= k;
        }
        return 0;
    }
    if (mode == "stdin") {
        long count = 0;
        while (std::getchar() != EOF)
            ++count;
        std::printf("%ld", count);
        return 0;
    }
    if (mode == "env") {
        std::string fds;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            const int own = ::dirfd(d);
            while (const dirent* e = ::readdir(d)) {
                const int fd = std::atoi(e->d_name);
                if (e->d_name[0] != '.' && fd > 2 && fd != own) fds += std::to_string(fd) + ",";
            }
            ::closedir(d);
        }
        struct sigaction sa {};
        ::sigaction(SIGPIPE, nullptr, &sa);
        sigset_t mask;
        sigemptyset(&mask);
        ::sigprocmask(SIG_BLOCK, nullptr, &mask);
        bool blocked = false;
        for (int s = 1; s < NSIG; ++s)
            if (sigismember(&mask, s) == 1) blocked = true;
        std::printf("fds=%s\nsigpipe=%s\nblocked=%s\nsid_is_self=%s\n", fds.c_str(),
                    sa.sa_handler == SIG_DFL ? "default" : "changed", blocked ? "yes" : "no",
                    ::getsid(0) == ::getpid() ? "yes" : "no");
        return 0;
    }
    if (mode == "signal" && argc > 2) {
        std::fflush(stdout);
        ::raise(std::atoi(argv[2]));
        return 101;
    }
    if (mode == "marker" && argc > 3) {
        plat::InstanceMarker marker(argv[2]);
        if (!marker.TryAcquire()) return 4;
        WriteFileAtomically(argv[3], std::to_string(::getpid()));
        for (;;)
            ::pause();
    }
    if (mode == "markerdir" && argc > 2) {
        try {
            WriteFileAtomically(argv[2], plat::InstanceMarkerFolder());
            return 0;
        } catch (const std::exception& e) {
            WriteFileAtomically(argv[2], e.what());
            return 1;
        }
    }
    if (mode == "detach" && argc > 2) {
        plat::ProcessOptions o;
        o.detached = true;
        o.output = plat::ProcessOutput::Null;
        const auto r = plat::StartProcess(plat::CurrentExecutablePath(), {"sleep", "30000"}, o);
        WriteFileAtomically(argv[2], std::to_string(r.pid));
        return 0;
    }
    if (mode == "linger" && argc > 2) {
        std::fputs("started", stdout);
        std::fflush(stdout);
        plat::ProcessOptions o;
        o.detached = true;  // standard output inherited: the sleeper holds it open
        const auto r = plat::StartProcess(plat::CurrentExecutablePath(), {"sleep", "30000"}, o);
        WriteFileAtomically(argv[2], std::to_string(r.pid));
        return 0;
    }
    return 100;
}
