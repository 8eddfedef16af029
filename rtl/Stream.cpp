// rtl/Stream.cpp: byte streams over memory and over files.
//
// FileStream is the file binding of rtl: it uses the POSIX descriptor calls directly (a
// Windows back end replaces this file's second half). Every system failure becomes an rtl
// exception that names the file and the system's reason; nothing is reported as a short
// transfer that was really an error.
#include "rtl/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace rtl {

namespace {

std::string SystemReason(int err) {
    return std::system_category().message(err);
}

std::string FileError(const char* what, const std::string& fileName, int err) {
    return std::string(what) + " \"" + fileName + "\". " + SystemReason(err);
}

// Raises E for a failure the system reported, its message naming the file and the reason, the
// file and the error number carried apart.
template <class E>
[[noreturn]] void Raise(const char* what, const std::string& fileName, int err) {
    throw FileFailureOf<E>(FileError(what, fileName, err), fileName, err);
}

// Grows a memory stream's bytes, turning an impossible size into the stream's own error.
void Resize(std::string& data, size_t size) {
    try {
        data.resize(size, '\0');
    } catch (const std::bad_alloc&) {
        throw EWriteError("Out of memory while expanding memory stream");
    } catch (const std::length_error&) {
        throw EWriteError("Out of memory while expanding memory stream");
    }
}

}  // namespace

// ---- Stream ----

int64_t Stream::Size() {
    const int64_t pos = Seek(0, SeekOrigin::Current);
    const int64_t size = Seek(0, SeekOrigin::End);
    Seek(pos, SeekOrigin::Begin);
    return size;
}

void Stream::SetSize(int64_t) {
    throw EWriteError("Stream size cannot be changed");
}

void Stream::ReadBuffer(void* buffer, size_t count) {
    // Read may deliver less than asked before the end (a pipe, a file being written): ask
    // again until the count is complete or the stream is really at its end.
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const size_t n = Read(p, count);
        if (n == 0) throw EReadError("Stream read error");
        p += n;
        count -= n;
    }
}

void Stream::WriteBuffer(const void* buffer, size_t count) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const size_t n = Write(p, count);
        if (n == 0) throw EWriteError("Stream write error");
        p += n;
        count -= n;
    }
}

int64_t Stream::CopyFrom(Stream& source, int64_t count) {
    if (count < 0) throw EReadError("Stream read error");
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> buffer(size_t(std::min<int64_t>(count, 64 * 1024)));
    int64_t left = count;
    while (left > 0) {
        const size_t n = size_t(std::min<int64_t>(left, int64_t(buffer.size())));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= int64_t(n);
    }
    return count;
}

// ---- MemoryStream ----

size_t MemoryStream::Read(void* buffer, size_t count) {
    if (count == 0 || pos_ >= int64_t(data_.size())) return 0;
    const size_t n = std::min(count, data_.size() - size_t(pos_));
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += int64_t(n);
    return n;
}

size_t MemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    if (count > size_t(std::numeric_limits<int64_t>::max() - pos_))
        throw EWriteError("Out of memory while expanding memory stream");
    const size_t end = size_t(pos_) + count;
    if (end > data_.size()) Resize(data_, end);  // a gap left by a seek past the end becomes zeros
    std::memcpy(data_.data() + pos_, buffer, count);
    pos_ = int64_t(end);
    return count;
}

int64_t MemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    int64_t base = 0;
    if (origin == SeekOrigin::Current) base = pos_;
    if (origin == SeekOrigin::End) base = int64_t(data_.size());
    int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        throw EReadError("Invalid stream position");
    pos_ = target;
    return pos_;
}

void MemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0) throw EWriteError("Invalid stream size");
    if (uint64_t(newSize) > data_.max_size())
        throw EWriteError("Out of memory while expanding memory stream");
    Resize(data_, size_t(newSize));
    if (pos_ > newSize) pos_ = newSize;
}

void MemoryStream::Clear() {
    data_.clear();
    pos_ = 0;
}

void MemoryStream::LoadFromFile(const std::string& fileName) {
    data_ = ReadFileBytes(fileName);
    pos_ = 0;
}

void MemoryStream::SaveToFile(const std::string& fileName) const {
    FileStream f(fileName, FileMode::Create);
    f.WriteBuffer(data_);
}

void MemoryStream::LoadFromStream(Stream& source) {
    MemoryStream copy;
    copy.CopyFrom(source, 0);
    data_ = std::move(copy.data_);
    pos_ = 0;
}

void MemoryStream::SaveToStream(Stream& dest) const {
    dest.WriteBuffer(data_);
}

// ---- FileStream ----

FileStream::FileStream(const std::string& fileName, FileMode mode, int createMode) : fileName_(fileName) {
    int flags = O_CLOEXEC;
    bool creating = false;
    switch (mode) {
        case FileMode::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            creating = true;
            break;
        case FileMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            creating = true;
            break;
        case FileMode::OpenRead:
            flags |= O_RDONLY;
            break;
        case FileMode::OpenReadWrite:
            flags |= O_RDWR;
            break;
    }
    const char* what = creating ? "Cannot create file" : "Cannot open file";
    do {
        fd_ = ::open(fileName.c_str(), flags, mode_t(createMode) & 07777);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) Raise<EFOpenError>(what, fileName, errno);
    // A folder opens read-only without complaint; refuse it here rather than at the first read.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        Raise<EFOpenError>(what, fileName, EISDIR);
    }
}

FileStream::~FileStream() {
    if (fd_ >= 0) ::close(fd_);
}

size_t FileStream::Read(void* buffer, size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n >= 0) return size_t(n);
        if (errno != EINTR) Raise<EReadError>("Cannot read file", fileName_, errno);
    }
}

size_t FileStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    for (;;) {
        const ssize_t n = ::write(fd_, buffer, count);
        if (n > 0) return size_t(n);
        if (n == 0) Raise<EWriteError>("Cannot write file", fileName_, ENOSPC);
        if (errno != EINTR) Raise<EWriteError>("Cannot write file", fileName_, errno);
    }
}

int64_t FileStream::Seek(int64_t offset, SeekOrigin origin) {
    int whence = SEEK_SET;
    if (origin == SeekOrigin::Current) whence = SEEK_CUR;
    if (origin == SeekOrigin::End) whence = SEEK_END;
    const off_t r = ::lseek(fd_, off_t(offset), whence);
    if (r < 0) throw EReadError("Invalid stream position in \"" + fileName_ + "\". " + SystemReason(errno));
    return int64_t(r);
}

int64_t FileStream::Size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Raise<EReadError>("Cannot read file", fileName_, errno);
    return int64_t(st.st_size);
}

void FileStream::SetSize(int64_t newSize) {
    if (newSize < 0) throw EWriteError("Invalid stream size");
    int r;
    do {
        r = ::ftruncate(fd_, off_t(newSize));
    } while (r != 0 && errno == EINTR);
    if (r != 0) Raise<EWriteError>("Cannot write file", fileName_, errno);
    if (Position() > newSize) Seek(newSize, SeekOrigin::Begin);
}

void FileStream::Flush() {
    if (::fsync(fd_) != 0) Raise<EWriteError>("Cannot write file", fileName_, errno);
}

std::string ReadFileBytes(const std::string& fileName) {
    FileStream f(fileName, FileMode::OpenRead);
    std::string out;
    // The size is a hint only: files under /proc report 0 and still have content.
    const int64_t hint = f.Size();
    if (hint > 0) out.reserve(size_t(hint));
    char chunk[64 * 1024];
    for (;;) {
        const size_t n = f.Read(chunk, sizeof chunk);
        if (n == 0) break;
        out.append(chunk, n);
    }
    return out;
}

namespace {

// The file a write of fileName replaces: a link's target (replacing the link by a plain file
// would cut the link), else the name itself.
std::filesystem::path WriteTarget(const std::string& fileName) {
    std::error_code ec;
    std::filesystem::path target(fileName);
    if (std::filesystem::is_symlink(target, ec)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    return target;
}

std::filesystem::path FolderOf(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

}  // namespace

void WriteFileAtomically(const std::string& fileName, std::string_view bytes, int mode) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = WriteTarget(fileName);
    const fs::path folder = FolderOf(target);

    // The mode the file ends with: the one asked for, else the old file's, else the usual
    // 0666 less the umask. The temporary file is created with it, never wider, since another
    // user who opens it even once keeps reading whatever is written later.
    int finalMode = mode >= 0 ? (mode & 07777) : -1;
    if (finalMode < 0) {
        const fs::perms old = fs::status(target, ec).permissions();
        if (!ec && old != fs::perms::unknown) finalMode = int(old & fs::perms::mask);
    }

    std::random_device rd;
    std::string tempName;
    std::unique_ptr<FileStream> temp;
    for (int attempt = 0;; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", unsigned(rd()));
        tempName = (folder / ("." + target.filename().string() + suffix)).string();
        try {
            temp = std::make_unique<FileStream>(tempName, FileMode::CreateNew,
                                                finalMode >= 0 ? finalMode : 0666);
            break;
        } catch (const EFOpenError& e) {
            if (attempt < 8 && fs::exists(tempName, ec)) continue;  // a name clash: try another
            const FileFailure* f = FileFailureIn(e);
            throw FileFailureOf<EWriteError>("Cannot write file \"" + fileName + "\": " + e.Message(),
                                             fileName, f != nullptr ? f->Code() : 0);
        }
    }
    try {
        // The umask may have narrowed the bits at creation; they only widen here to the final
        // mode itself (an explicit mode is exact, as the old file's was).
        if (finalMode >= 0) {
            fs::permissions(tempName, fs::perms(finalMode) & fs::perms::mask, ec);
            if (ec) Raise<EWriteError>("Cannot write file", fileName, ec.value());
        }
        temp->WriteBuffer(bytes);
        temp->Flush();
        temp.reset();
        fs::rename(tempName, target, ec);
        if (ec) Raise<EWriteError>("Cannot write file", fileName, ec.value());
    } catch (...) {
        temp.reset();
        fs::remove(tempName, ec);
        throw;
    }
}

void WriteFileInPlace(const std::string& fileName, std::string_view bytes) {
    int fd;
    do {
        fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) Raise<EWriteError>("Cannot write file", fileName, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) Raise<EWriteError>("Cannot write file", fileName, errno);
    if (!S_ISREG(st.st_mode))
        Raise<EWriteError>("Cannot write file", fileName, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);

    // The old content, to write back if the new one cannot be written whole.
    std::string old(size_t(st.st_size), '\0');
    size_t got = 0;
    while (got < old.size()) {
        const ssize_t n = ::pread(fd, old.data() + got, old.size() - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise<EWriteError>("Cannot write file", fileName, errno);
        if (n == 0) break;
        got += size_t(n);
    }
    old.resize(got);

    // Room first: a full disk (or quota) shows here, before an old byte is touched. File systems
    // that cannot reserve room (EOPNOTSUPP and the like) are written without.
    if (bytes.size() > old.size()) {
        int r;
        do {
            r = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes.size()));
        } while (r != 0 && errno == EINTR);
        if (r != 0 && (errno == ENOSPC || errno == EDQUOT))
            Raise<EWriteError>("Cannot write file", fileName, errno);
    }

    auto writeAll = [fd](std::string_view data) -> int {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, off_t(done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return errno;
            if (n == 0) return ENOSPC;
            done += size_t(n);
        }
        if (::ftruncate(fd, off_t(data.size())) != 0) return errno;
        if (::fsync(fd) != 0) return errno;
        return 0;
    };
    if (const int err = writeAll(bytes); err != 0) {
        writeAll(old);  // the best that can be done: the old content again
        Raise<EWriteError>("Cannot write file", fileName, err);
    }
}

void ReplaceFileContent(const std::string& fileName, std::string_view bytes) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = WriteTarget(fileName);
    const fs::path folder = FolderOf(target);
    // A folder refused to this user, and a regular file it may write: in place. Anything else
    // (a folder that takes files, a missing or read-only file) through a new file, whose own
    // failure then names the cause.
    const bool folderRefused =
        ::access(folder.c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EPERM);
    if (folderRefused && fs::is_regular_file(target, ec) && ::access(target.c_str(), W_OK) == 0) {
        WriteFileInPlace(target.string(), bytes);
        return;
    }
    WriteFileAtomically(fileName, bytes);
}

std::string FileFailure::Reason() const {
    return SystemReason(code_);
}

int RemoveAtomicWriteLeftovers(const std::string& fileName) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(fileName);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // The names WriteFileAtomically gives: "." + name + "." + eight hexadecimal digits + ".tmp".
    const std::string prefix = "." + target.filename().string() + ".";
    int removed = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + 12 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        bool hex = true;
        for (size_t i = prefix.size(); i < prefix.size() + 8; ++i)
            hex = hex && std::isxdigit(static_cast<unsigned char>(name[i]));
        std::error_code rc;
        if (hex && it->is_regular_file(rc) && fs::remove(it->path(), rc)) ++removed;
    }
    return removed;
}

}  // namespace rtl
