// platform/Process.h: starting programs and finding running ones.
//
// Programs are started with posix_spawn from an argument vector: no shell, no quoting, so
// what the caller puts in the vector is exactly what the program receives. A program the
// caller does not wait for is reaped by a small background thread, so it never lingers as a
// zombie; a detached program also gets a session of its own (setsid), so it is not hit by
// the signals of our terminal or process group and simply carries on when we exit (the
// system's init then becomes its parent). Our own descriptors are never inherited: every
// descriptor above standard error is closed in the child.
//
// Running programs are found through /proc/<pid>/exe, comparing canonical paths; a process
// whose program file was deleted or replaced since it started still counts as running it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "rtl/Exception.h"

namespace plat {

// A program could not be started (or waited for); ErrorCode() is the errno value.
class EProcessError : public rtl::Exception {
public:
    EProcessError(std::string message, int error) : rtl::Exception(std::move(message)), error_(error) {}
    const char* ClassName() const noexcept override { return "EProcessError"; }
    int ErrorCode() const noexcept { return error_; }

private:
    int error_;
};

// The pipe for a captured output could not be made (the program was not started).
class EProcessPipeError final : public EProcessError {
public:
    using EProcessError::EProcessError;
    const char* ClassName() const noexcept override { return "EProcessPipeError"; }
};

// Where the child's standard output and standard error go (standard input is ours, or
// /dev/null for a detached or hidden child).
enum class ProcessOutput {
    Inherit,  // our own standard output and error
    Null,     // discarded: a hidden program
    File,     // appended to ProcessOptions::outputFile (created when missing)
    Capture,  // collected into ProcessResult::output (needs wait) until the program ends; what
              // a program it left running writes afterwards is not waited for
};

struct ProcessOptions {
    // The child's working folder; empty for ours.
    std::string workingFolder;
    // The child's argv[0]; empty for the program path itself.
    std::string argv0;
    // A session of its own, standard input from /dev/null; never waited for.
    bool detached = false;
    ProcessOutput output = ProcessOutput::Inherit;
    std::string outputFile;
    // Wait until the program ends and report its exit code.
    bool wait = false;
    // While waiting: called on the waiting thread about every 50 ms (and whenever output
    // arrives) until the program ends, so a caller with a window keeps it painted. An
    // exception it raises is raised again once the program has ended (it is not called again).
    std::function<void()> whileWaiting;
};

struct ProcessResult {
    int pid = 0;
    // Set when the program was waited for:
    bool exited = false;
    // The exit status; for a program ended by a signal, 128 plus the signal's number.
    int exitCode = 0;
    // The signal that ended the program, 0 when it exited by itself.
    int signal = 0;
    // Standard output and error with ProcessOutput::Capture.
    std::string output;
};

// Starts a program. A path with a '/' names the file (relative to our working folder, not the
// child's); a bare name is looked up in PATH. args are the arguments after argv[0]. Raises
// EProcessError with the system's reason when the program cannot be started (missing file,
// no execute permission, bad working folder...) or when the options contradict each other.
ProcessResult StartProcess(const std::string& path, const std::vector<std::string>& args,
                           const ProcessOptions& options = {});

// The process ids of every running process whose program file is path (after resolving links,
// "." and ".."; letters in the path that differ only in case are matched to the existing file
// first). Processes we may not inspect (other users', kernel threads) do not count.
std::vector<int> FindProcessesByPath(const std::string& path);
bool IsProcessRunning(const std::string& path);

// The program file of a process, "" when it cannot be read. A deleted program file is given
// without the kernel's " (deleted)" mark.
std::string ProcessExecutablePath(int pid);

// This program's own file and its folder (ending in '/').
std::string CurrentExecutablePath();
std::string CurrentExecutableFolder();

// Splits a Windows command line the way a Windows program's runtime splits its own: blanks
// and tabs separate arguments; double quotes group, and "" inside quotes is a literal quote;
// 2n backslashes before a quote give n backslashes and a grouping quote, 2n+1 give n
// backslashes and a literal quote; other backslashes are literal. Used where a parameter text
// meant for a Windows program must become an argument vector.
std::vector<std::string> SplitWindowsCommandLine(const std::string& text);

}  // namespace plat
