// Starting real programs and finding them again by their file.
#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

std::string Echo() {
    return kwtest::ProgPath("plat_argv_echo").string();
}
std::string Child() {
    return kwtest::ProgPath("plat_child").string();
}

plat::ProcessOptions Captured() {
    plat::ProcessOptions o;
    o.output = plat::ProcessOutput::Capture;
    o.wait = true;
    return o;
}

// Parses plat_argv_echo's output into its tagged items.
struct EchoReport {
    std::string cwd, argv0;
    std::vector<std::string> args;
    int argc = -1;
};

EchoReport ParseEcho(const std::string& out) {
    EchoReport r;
    size_t i = 0;
    auto item = [&](const std::string& tag) {
        EXPECT_EQ(out.compare(i, tag.size() + 1, tag + " "), 0) << "at " << i << " in " << out;
        i += tag.size() + 1;
        const size_t colon = out.find(':', i);
        const size_t len = std::stoul(out.substr(i, colon - i));
        std::string v = out.substr(colon + 1, len);
        i = colon + 1 + len;
        EXPECT_EQ(out[i], '\n');
        ++i;
        return v;
    };
    r.cwd = item("cwd");
    r.argv0 = item("argv0");
    const size_t nl = out.find('\n', i);
    r.argc = std::stoi(out.substr(i + 5, nl - i - 5));
    i = nl + 1;
    for (int k = 0; k < r.argc; ++k)
        r.args.push_back(item("arg"));
    EXPECT_EQ(i, out.size());
    return r;
}

using kwtest::Eventually;

bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

int ParentOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return -1;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string state;
    int ppid = -1;
    rest >> state >> ppid;
    return ppid;
}

bool Gone(int pid) {
    return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

TEST(Process, ChildReceivesExactlyTheArgumentVector) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {""},
        {"", "", ""},
        {"two words", " leading", "trailing "},
        {"\"quoted\"", "'single'", "a\"b", "\""},
        {"C:\\Sistema\\QORAPP.exe", "back\\", "\\\\server\\share", "\\\""},
        {"ação", "ÁÉÍÓÚ ç", "日本語", "€"},
        {"$HOME", "`id`", "$(id)", "*", "a;b", "a|b", "&", ">out", "%PATH%"},
        {"line\nfeed", "tab\there", "cr\r"},
        {"/check", "-v", "--", "kwUpdate"},
    };
    for (const auto& args : cases) {
        const auto r = plat::StartProcess(Echo(), args, Captured());
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, 0);
        const auto rep = ParseEcho(r.output);
        EXPECT_EQ(rep.args, args);
        EXPECT_EQ(rep.argv0, Echo());
    }
}

TEST(Process, WorkingFolderAndArgv0) {
    kwtest::TempDir dir;
    auto o = Captured();
    o.workingFolder = dir.path().string();
    o.argv0 = "kwAplicaPatch.exe";
    const auto rep = ParseEcho(plat::StartProcess(Echo(), {"x"}, o).output);
    EXPECT_EQ(std::filesystem::canonical(rep.cwd), std::filesystem::canonical(dir.path()));
    EXPECT_EQ(rep.argv0, "kwAplicaPatch.exe");
    EXPECT_EQ(rep.args, std::vector<std::string>{"x"});
}

TEST(Process, RelativeProgramPathIsOursNotTheChilds) {
    kwtest::TempDir dir;
    const auto progs = kwtest::ProgPath("");
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(progs);
    auto o = Captured();
    o.workingFolder = dir.path().string();
    plat::ProcessResult r;
    EXPECT_NO_THROW(r = plat::StartProcess("./plat_argv_echo", {"rel"}, o));
    std::filesystem::current_path(old);
    EXPECT_EQ(ParseEcho(r.output).args, std::vector<std::string>{"rel"});
}

TEST(Process, ExitCodesAndSignals) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        int signal;
    };
    const Case cases[] = {
        {{"exit", "0"}, 0, 0},
        {{"exit", "3"}, 3, 0},
        {{"exit", "255"}, 255, 0},
        {{"signal", std::to_string(SIGTERM)}, 128 + SIGTERM, SIGTERM},
        {{"signal", std::to_string(SIGKILL)}, 128 + SIGKILL, SIGKILL},
    };
    for (const auto& c : cases) {
        plat::ProcessOptions o;
        o.wait = true;
        o.output = plat::ProcessOutput::Null;
        const auto r = plat::StartProcess(Child(), c.args, o);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r.signal, c.signal);
        EXPECT_GT(r.pid, 0);
    }
}

TEST(Process, OutputCapturedToFileOrDiscarded) {
    kwtest::TempDir dir;
    // Capture takes both streams.
    auto r = plat::StartProcess(Child(), {"out", "olá"}, Captured());
    EXPECT_EQ(r.output, "oláerr:olá");

    // A file collects both streams and is appended to.
    const auto log = (dir / "out.log").string();
    kwtest::WriteFile(log, "before|");
    plat::ProcessOptions f;
    f.output = plat::ProcessOutput::File;
    f.outputFile = log;
    f.wait = true;
    plat::StartProcess(Child(), {"out", "x"}, f);
    EXPECT_EQ(kwtest::ReadFile(log), "before|xerr:x");

    // Discarded output still lets the program run to its end.
    plat::ProcessOptions n;
    n.output = plat::ProcessOutput::Null;
    n.wait = true;
    EXPECT_EQ(plat::StartProcess(Child(), {"big", "1000000"}, n).exitCode, 0);
}

TEST(Process, CaptureNeverBlocksOnAFullPipe) {
    // Many times a pipe's capacity: a runner that waited before reading would hang here.
    const auto r = plat::StartProcess(Child(), {"big", "5000000"}, Captured());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output.size(), 5000000u);
}

TEST(Process, TheCallerIsCalledWhileItWaits) {
    // The child ends only once the call has run: the wait makes it while the child runs.
    for (const plat::ProcessOutput saida : {plat::ProcessOutput::Null, plat::ProcessOutput::Capture}) {
        kwtest::TempDir dir;
        const std::string sinal = (dir / "called").string();
        int chamadas = 0;
        plat::ProcessOptions o;
        o.wait = true;
        o.output = saida;
        o.whileWaiting = [&] {
            if (chamadas++ == 0) kwtest::WriteFile(sinal, "");
        };
        const plat::ProcessResult r = plat::StartProcess(Child(), {"waitfile", sinal}, o);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_GE(chamadas, 1);
        if (saida == plat::ProcessOutput::Capture) {
            EXPECT_EQ(r.output, "seen");
        }
    }
    // A call that raises is not made again; the program is still waited for, then the
    // exception comes back.
    kwtest::TempDir dir;
    const std::string sinal = (dir / "called").string();
    int chamadas = 0;
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Null;
    o.whileWaiting = [&] {
        ++chamadas;
        kwtest::WriteFile(sinal, "");
        throw std::runtime_error("window gone");
    };
    EXPECT_EQ(kwtest::ThrownMessage([&] {
                  plat::StartProcess(Child(), {"waitfile", sinal}, o);
              }),
              "window gone");
    EXPECT_EQ(chamadas, 1);
}

TEST(Process, HiddenAndDetachedChildrenReadNothingFromOurInput) {
    // Our standard input is a pipe that never closes; a hidden child must not wait on it.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int saved = ::dup(0);
    ::dup2(fds[0], 0);
    plat::ProcessResult r;
    EXPECT_NO_THROW(r = plat::StartProcess(Child(), {"stdin"}, Captured()));
    ::dup2(saved, 0);
    ::close(saved);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(r.output, "0");
}

TEST(Process, ChildGetsCleanSignalsAndNoInheritedDescriptors) {
    // A descriptor without close-on-exec, an ignored SIGPIPE and a blocked signal in the
    // parent must not reach the child.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    struct sigaction ign {
    }, old{};
    ign.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ign, &old);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &block, &oldMask);

    const auto r = plat::StartProcess(Child(), {"env"}, Captured());

    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGPIPE, &old, nullptr);
    ::close(leaked);
    EXPECT_EQ(r.output, "fds=\nsigpipe=default\nblocked=no\nsid_is_self=no\n");
}

TEST(Process, StartFailuresRaiseWithTheSystemReason) {
    kwtest::TempDir dir;
    const auto notExec = (dir / "plain.txt").string();
    kwtest::WriteFile(notExec, "not a program");
    ::chmod(notExec.c_str(), 0644);
    struct Case {
        std::string path;
        plat::ProcessOptions options;
        int error;
        std::string fragment;
    };
    plat::ProcessOptions badFolder;
    badFolder.workingFolder = (dir / "missing").string();
    plat::ProcessOptions detachedWait;
    detachedWait.detached = true;
    detachedWait.wait = true;
    plat::ProcessOptions captureNoWait;
    captureNoWait.output = plat::ProcessOutput::Capture;
    plat::ProcessOptions badOutput;
    badOutput.output = plat::ProcessOutput::File;
    badOutput.outputFile = (dir / "no" / "such" / "folder.log").string();
    const Case cases[] = {
        {(dir / "missing.exe").string(), {}, ENOENT, "No such file"},
        {notExec, {}, EACCES, "Permission denied"},
        {"kw-no-such-program-anywhere", {}, ENOENT, "No such file"},
        {Child(), badFolder, ENOENT, "missing"},
        {Child(), detachedWait, EINVAL, "detached"},
        {Child(), captureNoWait, EINVAL, "capturing"},
        {Child(), badOutput, ENOENT, "folder.log"},
    };
    for (const auto& c : cases) {
        try {
            plat::StartProcess(c.path, {"exit", "0"}, c.options);
            ADD_FAILURE() << "no error for " << c.path;
        } catch (const plat::EProcessError& e) {
            EXPECT_EQ(e.ErrorCode(), c.error) << e.Message();
            EXPECT_NE(e.Message().find(c.fragment), std::string::npos) << e.Message();
            EXPECT_STREQ(e.ClassName(), "EProcessError");
        }
    }
}

TEST(Process, BareNameIsSearchedInPath) {
    const auto r = plat::StartProcess("true", {}, [] {
        plat::ProcessOptions o;
        o.wait = true;
        return o;
    }());
    EXPECT_EQ(r.exitCode, 0);
}

TEST(Process, RunningCopyIsFoundByItsPathAndNotAfterItEnds) {
    // A copy of the program under a name of our own, so no other test's process can match.
    kwtest::TempDir dir;
    const auto exe = (dir / "QORAPP.exe").string();
    plat::CopyFile(Child(), exe);
    const auto other = (dir / "sub" / "QORAPP.exe").string();
    plat::CreateFolders((dir / "sub").string());
    plat::CopyFile(Child(), other);

    EXPECT_FALSE(plat::IsProcessRunning(exe));
    const auto r = plat::StartProcess(exe, {"sleep", "20000"});
    ASSERT_TRUE(Eventually([&] { return plat::IsProcessRunning(exe); }));
    EXPECT_EQ(plat::FindProcessesByPath(exe), std::vector<int>{r.pid});
    // The same file by another spelling: "..", a doubled slash, letters in another case.
    EXPECT_TRUE(plat::IsProcessRunning((dir / "sub" / ".." / "QORAPP.exe").string()));
    EXPECT_TRUE(plat::IsProcessRunning(dir.path().string() + "//QORAPP.exe"));
    EXPECT_TRUE(plat::IsProcessRunning((dir / "qorapp.EXE").string()));
    // A copy in another folder is another program.
    EXPECT_FALSE(plat::IsProcessRunning(other));
    EXPECT_EQ(plat::ProcessExecutablePath(r.pid), std::filesystem::canonical(exe).string());

    ::kill(r.pid, SIGTERM);
    EXPECT_TRUE(Eventually([&] { return !plat::IsProcessRunning(exe); }));
    // The background reaper collects it: no zombie is left behind.
    EXPECT_TRUE(Eventually([&] { return Gone(r.pid); }));
}

TEST(Process, ProgramWhoseFileWasReplacedStillCounts) {
    kwtest::TempDir dir;
    const auto exe = (dir / "APP.exe").string();
    plat::CopyFile(Child(), exe);
    const auto r = plat::StartProcess(exe, {"sleep", "20000"});
    ASSERT_TRUE(Eventually([&] { return plat::IsProcessRunning(exe); }));
    // An update replaces the file under the running program: the kernel then reports the
    // old file as "... (deleted)", and the program is still the application.
    plat::CopyFile(Child(), exe);
    EXPECT_TRUE(plat::IsProcessRunning(exe));
    plat::DeleteFile(exe);
    EXPECT_TRUE(plat::IsProcessRunning(exe));
    EXPECT_EQ(plat::ProcessExecutablePath(r.pid), std::filesystem::weakly_canonical(exe).string());
    ::kill(r.pid, SIGKILL);
    EXPECT_TRUE(Eventually([&] { return !plat::IsProcessRunning(exe); }));
}

TEST(Process, FileNameEndingInDeletedIsNotTrimmed) {
    kwtest::TempDir dir;
    const auto exe = (dir / "odd (deleted)").string();
    plat::CopyFile(Child(), exe);
    const auto r = plat::StartProcess(exe, {"sleep", "20000"});
    ASSERT_TRUE(Eventually([&] { return plat::IsProcessRunning(exe); }));
    EXPECT_FALSE(plat::IsProcessRunning((dir / "odd").string()));
    ::kill(r.pid, SIGKILL);
}

TEST(Process, DetachedChildOutlivesItsStarterAndIsNobodysZombie) {
    kwtest::TempDir dir;
    const auto pidFile = (dir / "pid").string();
    plat::ProcessOptions o;
    o.wait = true;
    const auto starter = plat::StartProcess(Child(), {"detach", pidFile}, o);
    ASSERT_EQ(starter.exitCode, 0);
    const int grandchild = std::stoi(kwtest::ReadFile(pidFile));
    // The starter has ended; its detached child runs on, in a session of its own, and is
    // not our child (whoever adopted it reaps it, not us).
    EXPECT_TRUE(Alive(grandchild));
    EXPECT_EQ(::getsid(grandchild), grandchild);
    EXPECT_NE(ParentOf(grandchild), ::getpid());
    EXPECT_NE(ParentOf(grandchild), starter.pid);
    ::kill(grandchild, SIGKILL);
    EXPECT_TRUE(Eventually([&] { return !Alive(grandchild); }));
}

TEST(Process, CaptureEndsWithTheProgramNotWithWhatItLeftRunning) {
    // The program leaves a helper running that holds the output pipe for 30 s; the capture
    // returns when the program itself ends, with all that the program wrote.
    kwtest::TempDir dir;
    const auto pidFile = (dir / "pid").string();
    const auto start = std::chrono::steady_clock::now();
    const auto r = plat::StartProcess(Child(), {"linger", pidFile}, Captured());
    const auto took = std::chrono::steady_clock::now() - start;
    const int helper = std::stoi(kwtest::ReadFile(pidFile));
    ::kill(helper, SIGKILL);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "started");
    EXPECT_LT(took, 20s);  // a bound against hanging for the helper's whole life
}

TEST(Process, DetachedChildOfOursIsReapedWhenItEnds) {
    plat::ProcessOptions o;
    o.detached = true;
    const auto r = plat::StartProcess(Child(), {"exit", "7"}, o);
    EXPECT_FALSE(r.exited);
    EXPECT_TRUE(Eventually([&] { return Gone(r.pid); }));
}

TEST(Process, CurrentExecutable) {
    const auto self = plat::CurrentExecutablePath();
    EXPECT_EQ(self, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(plat::CurrentExecutableFolder(), std::filesystem::path(self).parent_path().string() + "/");
    EXPECT_TRUE(plat::IsProcessRunning(self));
}

TEST(Process, SplitWindowsCommandLine) {
    struct Case {
        std::string text;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"a b  c", {"a", "b", "c"}},
        {"\"C:\\App\\QORAPP.exe\" \"-v\" \"x y\"", {"C:\\App\\QORAPP.exe", "-v", "x y"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"ab\"\"\"", {"ab\""}},
        {"a\\\\b", {"a\\\\b"}},
        {"a\\\"b", {"a\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"\"C:\\Pasta\\\\\"", {"C:\\Pasta\\"}},
        {"pre\"fix mid\"post", {"prefix midpost"}},
        {"\"ação\" ç", {"ação", "ç"}},
        {"\"unterminated arg", {"unterminated arg"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::SplitWindowsCommandLine(c.text), c.args) << c.text;
}

}  // namespace
