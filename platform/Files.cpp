// platform/Files.cpp: file services over POSIX calls.
//
// Every routine reports the errno of the call that failed; the raising forms wrap the Try...
// forms, so both behave the same. Descriptors are opened with O_CLOEXEC so that programs the
// launcher starts inherit none of them.
#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/SystemRandom.h"
#include "platform/WinError.h"
#include "rtl/Text.h"

namespace plat {

namespace {

void SetErr(int* err, int value) {
    if (err) *err = value;
}

[[noreturn]] void Raise(const std::string& what, const std::string& path, int err) {
    throw EFileError(what + " \"" + path + "\": " + SystemErrorText(err), path, err);
}

[[noreturn]] void Raise2(const std::string& what, const std::string& from, const std::string& to, int err) {
    throw EFileError(what + " \"" + from + "\" to \"" + to + "\": " + SystemErrorText(err), from, err);
}

FileTime FromTimespec(const timespec& ts) {
    using namespace std::chrono;
    return FileTime(duration_cast<system_clock::duration>(seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec)));
}

timespec ToTimespec(FileTime t) {
    using namespace std::chrono;
    const auto ns = duration_cast<nanoseconds>(t.time_since_epoch());
    auto s = floor<seconds>(ns);
    timespec ts{};
    ts.tv_sec = time_t(s.count());
    ts.tv_nsec = long((ns - s).count());
    return ts;
}

bool ModeReadOnly(mode_t m) {
    return (m & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The last component of a path (a trailing '/' left out), viewed in it.
std::string_view NameIn(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    return path;
}

bool HiddenName(std::string_view name) {
    return name.size() > 1 && name[0] == '.' && name != "..";
}

// The last component of a path, and the folder before it ("." when there is none).
std::string BaseName(const std::string& path) {
    return std::string(NameIn(path));
}

std::string FolderOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const auto slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Release() { return std::exchange(fd, -1); }
};

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// Copies from in to out up to limit bytes (the source's size when it was opened: a file that
// grows meanwhile is copied as it was, never without end); false with errno set on failure.
bool CopyContent(int in, int out, int64_t limit) {
    std::unique_ptr<char[]> buf(new char[65536]);
    while (limit > 0) {
        const ssize_t r = ::read(in, buf.get(), size_t(std::min<int64_t>(limit, 65536)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) return true;
        if (!WriteAll(out, buf.get(), size_t(r))) return false;
        limit -= r;
    }
    return true;
}

// Finishes a copy on an open destination: flush, permission bits, times.
bool FinishCopy(int out, const struct stat& src, const CopyOptions& options) {
    if (::fsync(out) != 0 && errno != EINVAL && errno != EROFS) return false;
    if (options.preserveTime) {
        const timespec times[2] = {src.st_atim, src.st_mtim};
        if (::futimens(out, times) != 0) return false;
    }
    mode_t mode = src.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID);
    if (options.writable) mode |= S_IWUSR;
    if (::fchmod(out, mode) != 0) return false;
    return true;
}

int RenameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without no-replace renames: check, then rename.
    struct stat st {};
    if (::lstat(to, &st) == 0) return EEXIST;
    return ::rename(from, to) == 0 ? 0 : errno;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool IsHiddenName(const std::string& path) {
    return HiddenName(NameIn(path));
}

bool TryFileSize(const std::string& path, int64_t& size, int* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    if (S_ISDIR(st.st_mode)) return SetErr(err, EISDIR), false;
    size = int64_t(st.st_size);
    return true;
}

int64_t FileSize(const std::string& path) {
    int64_t size = 0;
    int err = 0;
    if (!TryFileSize(path, size, &err)) Raise("cannot read the size of", path, err);
    return size;
}

bool TryFileLastWriteTime(const std::string& path, FileTime& time, int* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    time = FromTimespec(st.st_mtim);
    return true;
}

FileTime FileLastWriteTime(const std::string& path) {
    FileTime t{};
    int err = 0;
    if (!TryFileLastWriteTime(path, t, &err)) Raise("cannot read the time of", path, err);
    return t;
}

bool TrySetFileLastWriteTime(const std::string& path, FileTime time, int* err) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(time);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return SetErr(err, errno), false;
    return true;
}

void SetFileLastWriteTime(const std::string& path, FileTime time) {
    int err = 0;
    if (!TrySetFileLastWriteTime(path, time, &err)) Raise("cannot set the time of", path, err);
}

bool IsReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) Raise("cannot read the attributes of", path, errno);
    return ModeReadOnly(st.st_mode);
}

bool TrySetReadOnly(const std::string& path, bool readOnly, int* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    mode_t mode = st.st_mode & 07777;
    if (readOnly)
        mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    else if (ModeReadOnly(mode))
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777)) return true;
    if (::chmod(path.c_str(), mode) != 0) return SetErr(err, errno), false;
    return true;
}

void SetReadOnly(const std::string& path, bool readOnly) {
    int err = 0;
    if (!TrySetReadOnly(path, readOnly, &err)) Raise("cannot change the read-only flag of", path, err);
}

bool TryCopyFile(const std::string& from, const std::string& to, const CopyOptions& options, int* err) {
    // Without blocking: opening a pipe for reading would wait for a writer that never comes.
    Fd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.fd < 0) return SetErr(err, errno), false;
    struct stat src {};
    if (::fstat(in.fd, &src) != 0) return SetErr(err, errno), false;
    if (S_ISDIR(src.st_mode)) return SetErr(err, EISDIR), false;
    // A pipe, a device (a link to /dev/zero never ends) or a socket is not copied.
    if (!S_ISREG(src.st_mode)) return SetErr(err, kErrNotARegularFile), false;
    const int64_t size = int64_t(src.st_size);

    struct stat dst {};
    const bool exists = ::stat(to.c_str(), &dst) == 0;
    if (exists) {
        if (S_ISDIR(dst.st_mode)) return SetErr(err, EISDIR), false;
        if (!options.overwrite) return SetErr(err, EEXIST), false;
        if (ModeReadOnly(dst.st_mode)) return SetErr(err, EACCES), false;
    }

    // Write a temporary file beside the destination, then rename it into place.
    std::string tmp = FolderOf(to) + "/." + BaseName(to) + ".kwtmp-XXXXXX";
    Fd out(::mkostemp(tmp.data(), O_CLOEXEC));
    if (out.fd < 0) {
        const int e = errno;
        if ((e != EACCES && e != EPERM && e != EROFS) || !exists) return SetErr(err, e), false;
        // The folder cannot take a new name but the file itself may be writable: copy in place.
        // Not onto the source itself, though: truncating it would lose what is to be copied.
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) return true;
        Fd direct(::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (direct.fd < 0) return SetErr(err, errno), false;
        if (!CopyContent(in.fd, direct.fd, size) || !FinishCopy(direct.fd, src, options))
            return SetErr(err, errno), false;
        if (::close(direct.Release()) != 0) return SetErr(err, errno), false;
        return true;
    }
    auto fail = [&](int e) {
        ::unlink(tmp.c_str());
        SetErr(err, e);
        return false;
    };
    if (!CopyContent(in.fd, out.fd, size) || !FinishCopy(out.fd, src, options)) return fail(errno);
    if (::close(out.Release()) != 0) return fail(errno);
    if (options.overwrite) {
        if (::rename(tmp.c_str(), to.c_str()) != 0) return fail(errno);
    } else {
        const int e = RenameNoReplace(tmp.c_str(), to.c_str());
        if (e != 0) return fail(e);
    }
    return true;
}

void CopyFile(const std::string& from, const std::string& to, const CopyOptions& options) {
    int err = 0;
    if (!TryCopyFile(from, to, options, &err)) Raise2("cannot copy", from, to, err);
}

std::string TemporaryNameBeside(const std::string& to) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    uint8_t random[6];
    SystemRandomBytes(random, sizeof random);
    std::string name = FolderOf(to) + "/." + BaseName(to) + ".kwtmp-";
    for (const uint8_t b : random)
        name += kLetters[b % (sizeof kLetters - 1)];
    return name;
}

int RemoveCopyLeftovers(const std::string& to, std::chrono::seconds idle) {
    const std::string folder = FolderOf(to);
    const std::string prefix = "." + BaseName(to) + ".kwtmp-";
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return 0;
    const auto now = std::chrono::system_clock::now();
    int removed = 0;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now - FromTimespec(st.st_mtim) < idle) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(d);
    return removed;
}

bool TryMakeExecutable(const std::string& path, int* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    if (!S_ISREG(st.st_mode)) return SetErr(err, S_ISDIR(st.st_mode) ? EISDIR : kErrNotARegularFile), false;
    mode_t mode = (st.st_mode & 07777) | S_IXUSR;
    if (mode & S_IRGRP) mode |= S_IXGRP;
    if (mode & S_IROTH) mode |= S_IXOTH;
    if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) return SetErr(err, errno), false;
    // The bits may not stick (a file system without them), or the mount may forbid running
    // anything: ask the system whether the file can now be started.
    if (::stat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    if ((st.st_mode & S_IXUSR) == 0) return SetErr(err, EACCES), false;
    if (::access(path.c_str(), X_OK) != 0) return SetErr(err, errno), false;
    return true;
}

bool TryRenameFile(const std::string& from, const std::string& to, bool replace, int* err) {
    struct stat src {};
    if (::lstat(from.c_str(), &src) != 0) return SetErr(err, errno), false;
    struct stat dst {};
    if (::lstat(to.c_str(), &dst) == 0 && !S_ISLNK(dst.st_mode)) {
        if (!replace) return SetErr(err, EEXIST), false;
        if (!S_ISDIR(dst.st_mode) && ModeReadOnly(dst.st_mode)) return SetErr(err, EACCES), false;
    }
    const int e = replace ? (::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno)
                          : RenameNoReplace(from.c_str(), to.c_str());
    if (e == 0) return true;
    if (e != EXDEV || !S_ISREG(src.st_mode)) return SetErr(err, e), false;
    // Another file system: copy with the time kept, then remove the source.
    CopyOptions copy;
    copy.overwrite = replace;
    copy.preserveTime = true;
    if (!TryCopyFile(from, to, copy, err)) return false;
    if (::unlink(from.c_str()) != 0) return SetErr(err, errno), false;
    return true;
}

void RenameFile(const std::string& from, const std::string& to, bool replace) {
    int err = 0;
    if (!TryRenameFile(from, to, replace, &err)) Raise2("cannot rename", from, to, err);
}

bool TryDeleteFile(const std::string& path, int* err) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    if (S_ISDIR(st.st_mode)) return SetErr(err, EISDIR), false;
    if (!S_ISLNK(st.st_mode) && ModeReadOnly(st.st_mode)) return SetErr(err, EACCES), false;
    if (::unlink(path.c_str()) != 0) return SetErr(err, errno), false;
    return true;
}

void DeleteFile(const std::string& path) {
    int err = 0;
    if (!TryDeleteFile(path, &err)) Raise("cannot delete", path, err);
}

bool TryCreateFolders(const std::string& path, int* err) {
    if (path.empty()) return SetErr(err, ENOENT), false;
    std::string current;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        current = path.substr(0, j);
        i = j + 1;
        if (current.empty() || current.back() == '/') continue;  // the root, or "//"
        if (::mkdir(current.c_str(), 0777) == 0) continue;
        const int e = errno;
        struct stat st {};
        if (e == EEXIST || e == EACCES || e == EROFS) {
            // An existing folder (even one we could not have created) is fine.
            if (::stat(current.c_str(), &st) == 0) {
                if (S_ISDIR(st.st_mode)) continue;
                return SetErr(err, ENOTDIR), false;
            }
        }
        return SetErr(err, e), false;
    }
    return true;
}

void CreateFolders(const std::string& path) {
    int err = 0;
    if (!TryCreateFolders(path, &err)) Raise("cannot create the folder", path, err);
}

namespace {

// The entry of `path` as a look at it found it. The name is taken once, without copies of the
// path: a verification looks at a file per requisite.
void Describe(const struct stat& st, const std::string& path, FolderEntry& info) {
    const std::string_view name = NameIn(path);
    info.name.assign(name);
    info.isFolder = S_ISDIR(st.st_mode);
    info.readOnly = ModeReadOnly(st.st_mode);
    info.hidden = HiddenName(name);
    info.size = info.isFolder ? 0 : int64_t(st.st_size);
    info.lastWrite = FromTimespec(st.st_mtim);
}

}  // namespace

bool TryFileInfo(const std::string& path, FolderEntry& info, int* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return SetErr(err, errno), false;
    Describe(st, path, info);
    return true;
}

FileInfoLookup::~FileInfoLookup() {
    for (const OpenFolder& f : folders_)
        if (f.fd >= 0) ::close(f.fd);
}

bool FileInfoLookup::TryFileInfo(const std::string& path, FolderEntry& info, int* err) {
    const size_t slash = path.rfind('/');
    // A bare name (the process's own folder) and a folder's path ending in '/' are looked at
    // whole.
    if (slash == std::string::npos || slash + 1 == path.size()) return plat::TryFileInfo(path, info, err);
    const std::string_view folder(path.data(), slash == 0 ? 1 : slash);
    int fd = -1;
    for (const OpenFolder& f : folders_) {
        if (f.fd >= 0 && f.path == folder) {
            fd = f.fd;
            break;
        }
    }
    if (fd < 0) {
        OpenFolder& f = folders_[next_];
        next_ = (next_ + 1) % kFolders;
        if (f.fd >= 0) ::close(f.fd);
        f.path.assign(folder);
        // O_PATH: the folder is only looked in, so it needs no read permission of its own.
        f.fd = ::open(f.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        // A folder that is not there (yet), or not one: the whole path says what is there.
        if (f.fd < 0) return plat::TryFileInfo(path, info, err);
        fd = f.fd;
    }
    struct stat st {};
    if (::fstatat(fd, path.c_str() + slash + 1, &st, 0) != 0) return SetErr(err, errno), false;
    Describe(st, path, info);
    return true;
}

std::vector<FolderEntry> ListFolder(const std::string& path) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) Raise("cannot list the folder", path, errno);
    const int dfd = ::dirfd(dir.get());
    std::vector<FolderEntry> out;
    for (;;) {
        errno = 0;
        const dirent* de = ::readdir(dir.get());
        if (de == nullptr) {
            if (errno != 0) Raise("cannot list the folder", path, errno);
            break;
        }
        const std::string name = de->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(dfd, de->d_name, &st, 0) != 0) continue;  // vanished, or a dangling link
        FolderEntry e;
        e.name = name;
        e.isFolder = S_ISDIR(st.st_mode);
        e.readOnly = ModeReadOnly(st.st_mode);
        e.hidden = name[0] == '.';
        e.size = e.isFolder ? 0 : int64_t(st.st_size);
        e.lastWrite = FromTimespec(st.st_mtim);
        out.push_back(std::move(e));
    }
    std::sort(out.begin(), out.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return out;
}

std::string ResolveCaseInsensitive(const std::string& path) {
    if (path.empty()) return path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return path;

    const bool absolute = path[0] == '/';
    const bool trailing = path.size() > 1 && path.back() == '/';
    std::vector<std::string> parts;
    for (auto& p : rtl::SplitFields(path, '/'))
        if (!p.empty()) parts.push_back(std::move(p));

    std::string folder = absolute ? "/" : "";  // "" stands for the current folder
    bool changed = false;
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        const std::string candidate = folder + part;
        if (part == "." || part == ".." || ::lstat(candidate.c_str(), &st) == 0) {
            folder = candidate + "/";
            continue;
        }
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
        if (!dir) break;
        std::string best;
        while (const dirent* de = ::readdir(dir.get())) {
            const std::string name = de->d_name;
            if (name == "." || name == "..") continue;
            if (rtl::SameText(name, part) && (best.empty() || name < best)) best = name;
        }
        if (best.empty()) break;
        folder += best + "/";
        changed = true;
    }
    if (!changed) return path;
    for (; i < parts.size(); ++i)
        folder += parts[i] + "/";
    if (!trailing && folder.size() > 1) folder.pop_back();
    return folder;
}

FolderLock::FolderLock(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // flock, not a record lock: it belongs to this open folder, so two threads of one process
    // exclude each other as two processes do, and it needs no write access to a folder.
    int r;
    do {
        r = ::flock(fd, LOCK_EX);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the lock
}

}  // namespace plat
