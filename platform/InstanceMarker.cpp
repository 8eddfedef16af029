// platform/InstanceMarker.cpp: marker files and their open-file-description locks.
#include "platform/InstanceMarker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/Files.h"
#include "platform/WinError.h"

namespace plat {

namespace {

[[noreturn]] void Fail(const std::string& what, int err) {
    throw EInstanceMarkerError(what + ": " + SystemErrorText(err));
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Whether dir is (or now is, made here) a folder of this user alone: false when the name is
// taken by something else (another user's folder, a link, a file).
bool OwnPrivateFolder(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        Fail("cannot create the folder \"" + dir + "\"", errno);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) Fail("cannot read the folder \"" + dir + "\"", errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
        Fail("cannot restrict the folder \"" + dir + "\"", errno);
    return true;
}

// How many names the private folder may try: /tmp/kw-<uid>, then /tmp/kw-<uid>.1 and on.
constexpr int kPrivateFolderNames = 8;

// The private folder under /tmp: /tmp/kw-<uid>, or, when someone else took that name first
// (another local user may make it before this user ever runs), the first of /tmp/kw-<uid>.1,
// .2, ... that is ours or that we can make. Every process of the user walks the same names in
// the same order, so they meet in the same folder; a name another user took is never used.
std::string PrivateTempFolder() {
    const std::string base = "/tmp/kw-" + std::to_string(::geteuid());
    for (int i = 0; i < kPrivateFolderNames; ++i) {
        const std::string dir = i == 0 ? base : base + "." + std::to_string(i);
        if (OwnPrivateFolder(dir)) return dir;
    }
    throw EInstanceMarkerError(
        "the folder \"" + base + "\" and its " + std::to_string(kPrivateFolderNames - 1) +
        " alternatives are not folders of this user; remove them or set KW_MARKER_DIR");
}

// The class name as a file name: ASCII letters folded to lower case (window classes ignore
// case), anything but letters, digits, '-', '_' and an inner '.' written as %XX.
std::string FileNameFor(const std::string& className) {
    if (className.empty()) throw EInstanceMarkerError("an instance marker needs a class name");
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < className.size(); ++i) {
        const auto c = static_cast<unsigned char>(className[i]);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || (c == '.' && i > 0)) {
            out += char(c);
        } else if (c >= 'A' && c <= 'Z') {
            out += char(c + 32);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out + ".lock";
}

struct flock WholeFile(short type) {
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = 0;
    l.l_len = 0;
    l.l_pid = 0;  // must be 0 for open-file-description locks
    return l;
}

}  // namespace

std::string InstanceMarkerFolder() {
    std::string dir = Env("KW_MARKER_DIR");
    if (!dir.empty()) {
        int err = 0;
        if (!TryCreateFolders(dir, &err)) Fail("cannot create the folder \"" + dir + "\"", err);
        return dir;
    }
    dir = Env("XDG_RUNTIME_DIR");
    if (!dir.empty() && dir[0] == '/' && FolderExists(dir)) return dir;
    return PrivateTempFolder();
}

std::string InstanceMarkerPath(const std::string& className) {
    std::string dir = InstanceMarkerFolder();
    if (dir.back() != '/') dir += '/';
    return dir + FileNameFor(className);
}

InstanceMarker::InstanceMarker(std::string className) : className_(std::move(className)) {}

InstanceMarker::~InstanceMarker() {
    Release();
}

InstanceMarker::InstanceMarker(InstanceMarker&& other) noexcept
    : className_(std::move(other.className_)), fd_(std::exchange(other.fd_, -1)) {}

InstanceMarker& InstanceMarker::operator=(InstanceMarker&& other) noexcept {
    if (this != &other) {
        Release();
        className_ = std::move(other.className_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool InstanceMarker::TryAcquire() {
    if (fd_ >= 0) return true;
    const std::string path = InstanceMarkerPath(className_);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) Fail("cannot open the instance marker \"" + path + "\"", errno);
    struct flock l = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &l) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EAGAIN || e == EACCES) return false;
        Fail("cannot lock the instance marker \"" + path + "\"", e);
    }
    fd_ = fd;
    // The holder's process id, for whoever looks at the file; the lock is what counts.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] ssize_t w = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    return true;
}

void InstanceMarker::Acquire() {
    if (!TryAcquire())
        throw EInstanceMarkerError("the instance marker \"" + className_ + "\" is held by another program");
}

void InstanceMarker::Release() {
    if (fd_ < 0) return;
    // Closing drops the lock; the file stays for the next holder.
    ::close(fd_);
    fd_ = -1;
}

bool IsInstanceMarkerHeld(const std::string& className) {
    const std::string path = InstanceMarkerPath(className);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        Fail("cannot open the instance marker \"" + path + "\"", errno);
    }
    struct flock l = WholeFile(F_RDLCK);
    const int r = ::fcntl(fd, F_OFD_GETLK, &l);
    const int e = errno;
    ::close(fd);
    if (r != 0) Fail("cannot test the instance marker \"" + path + "\"", e);
    return l.l_type != F_UNLCK;
}

}  // namespace plat
