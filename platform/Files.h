// platform/Files.h: the file services the launcher and the file transfer rely on.
//
// Paths are UTF-8 text (std::string; a std::filesystem::path converts implicitly). Windows
// attributes are carried over as the launcher sees them: a file is read-only when it has no
// write bit at all, hidden when its name starts with a dot, and never "archive" or "system".
// Read-only files are protected the way Windows protects them: deleting one, or copying or
// renaming over one, fails with "access denied" until the flag is cleared, even for root.
//
// Failures raise EFileError naming the file and the system's error; the Try... forms return
// false instead and leave the errno value in *err when asked. Times are the file system's
// last-write times as UTC time points (std::chrono::system_clock), to the nanosecond where
// the file system keeps them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinError.h"
#include "rtl/Exception.h"

namespace plat {

// A file operation failed; Path() is the file it was about, ErrorCode() the errno value.
class EFileError : public rtl::Exception {
public:
    EFileError(std::string message, std::string path, int error)
        : rtl::Exception(std::move(message)), path_(std::move(path)), error_(error) {}
    const char* ClassName() const noexcept override { return "EFileError"; }
    const std::string& Path() const noexcept { return path_; }
    int ErrorCode() const noexcept { return error_; }

private:
    std::string path_;
    int error_;
};

using FileTime = std::chrono::system_clock::time_point;

// Existence (symbolic links followed). FileExists is true for anything that is not a folder
// (regular files, devices...), FolderExists only for folders.
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
bool PathExists(const std::string& path);
// True when the last component of the path starts with '.' (but is not "." or "..").
bool IsHiddenName(const std::string& path);

// Size in bytes of a file (not a folder).
int64_t FileSize(const std::string& path);
bool TryFileSize(const std::string& path, int64_t& size, int* err = nullptr);

FileTime FileLastWriteTime(const std::string& path);
bool TryFileLastWriteTime(const std::string& path, FileTime& time, int* err = nullptr);
void SetFileLastWriteTime(const std::string& path, FileTime time);
bool TrySetFileLastWriteTime(const std::string& path, FileTime time, int* err = nullptr);

// Read-only: no write bit for anyone. Setting it clears every write bit; clearing it gives the
// owner the write bit (and leaves group and others as they were).
bool IsReadOnly(const std::string& path);
void SetReadOnly(const std::string& path, bool readOnly);
bool TrySetReadOnly(const std::string& path, bool readOnly, int* err = nullptr);

struct CopyOptions {
    // Replace an existing destination (never a read-only one, never a folder).
    bool overwrite = true;
    // Give the copy the source's last-write time, as the Windows copy always does.
    bool preserveTime = true;
    // Give the copy its owner's write bit even when the source has none (the source's
    // read-only flag is not carried over; the source itself is never touched).
    bool writable = false;
};

// Copies a file's content and permission bits. The copy is written beside the destination
// under a temporary name, flushed to disk and then renamed over it, so the destination is
// always either the old file or the whole new one, and a running program can be replaced.
// Only a regular file is copied (a pipe or device fails with kErrNotARegularFile, a folder
// with EISDIR): the source is opened without blocking, so a pipe with no writer cannot hang
// the caller, and no more than the size it had when opened is copied, so a file that keeps
// growing cannot fill the disk. The source is never modified.
void CopyFile(const std::string& from, const std::string& to, const CopyOptions& options = {});
bool TryCopyFile(const std::string& from, const std::string& to, const CopyOptions& options = {},
                 int* err = nullptr);

// A fresh name for a temporary file beside `to`, of the form copies use
// (".<name>.kwtmp-XXXXXX", six random letters and digits), so RemoveCopyLeftovers also takes
// what a killed writer left under it. The file is not created: create it exclusively.
std::string TemporaryNameBeside(const std::string& to);

// Removes the temporary files that copies to `to` left behind when their process was killed
// (".<name>.kwtmp-XXXXXX" beside it) and that nobody has written to for at least `idle` (a copy
// in progress writes all the time; one that stopped that long ago is dead); how many went.
int RemoveCopyLeftovers(const std::string& to, std::chrono::seconds idle);

// Makes a file startable: the owner's execute bit, and the group's and others' where they may
// read it. False (errno in *err) when the bits cannot be set or the file still cannot be
// started by its owner afterwards (a file system mounted without execution, or one that
// keeps no execute bits).
bool TryMakeExecutable(const std::string& path, int* err = nullptr);

// Renames (moves) a file or folder. With replace, an existing destination file is replaced
// atomically (unless it is read-only); without, an existing destination fails with EEXIST. A
// file moved to another file system is copied (time kept) and the source removed.
void RenameFile(const std::string& from, const std::string& to, bool replace = true);
bool TryRenameFile(const std::string& from, const std::string& to, bool replace = true, int* err = nullptr);

// Deletes a file (not a folder; not a read-only file).
void DeleteFile(const std::string& path);
bool TryDeleteFile(const std::string& path, int* err = nullptr);

// Creates a folder with every missing parent; an existing folder is no error.
void CreateFolders(const std::string& path);
bool TryCreateFolders(const std::string& path, int* err = nullptr);

struct FolderEntry {
    std::string name;  // without folder
    bool isFolder = false;
    bool readOnly = false;
    bool hidden = false;
    int64_t size = 0;  // 0 for folders
    FileTime lastWrite{};
};

// What one look at a path finds (symbolic links followed), in one system call: the entry as
// ListFolder describes it. False, with the errno in *err when asked, when nothing is there.
bool TryFileInfo(const std::string& path, FolderEntry& info, int* err = nullptr);

// Looks at many paths in the same few folders (a verification looks at a file per requisite,
// thousands of them in a handful of folders): each folder is opened once and its files looked at
// by name within it, which spares the system the walk down the folder's path at every look. It
// finds what TryFileInfo finds for the same path as long as the folders are not moved or replaced
// meanwhile: it is meant for one pass over a list of files. Only the last few folders stay
// open, so a list spread over many folders holds no more descriptors.
class FileInfoLookup {
public:
    FileInfoLookup() = default;
    ~FileInfoLookup();
    FileInfoLookup(const FileInfoLookup&) = delete;
    FileInfoLookup& operator=(const FileInfoLookup&) = delete;

    // What TryFileInfo(path, info, err) finds.
    bool TryFileInfo(const std::string& path, FolderEntry& info, int* err = nullptr);

private:
    struct OpenFolder {
        std::string path;
        int fd = -1;
    };
    static constexpr size_t kFolders = 4;
    OpenFolder folders_[kFolders];
    size_t next_ = 0;  // the slot the next folder takes
};

// The entries of a folder ("." and ".." left out), sorted by name byte by byte. Symbolic links
// are described by what they point to; a dangling link is left out.
std::vector<FolderEntry> ListFolder(const std::string& path);

// The path of an existing file or folder that matches the given path component by component
// without regard to case (ASCII and Latin-1 letters, as rtl::SameText compares). An exact name
// always wins; among several names that differ only in case, the first in byte order is taken.
// The leading components that exist are matched and the rest are kept as written, so a file
// about to be created lands in the existing folder "App" when the path says "APP". A path none
// of whose components needs matching comes back unchanged. Relative paths stay relative.
std::string ResolveCaseInsensitive(const std::string& path);

// An exclusive lock on a folder, across processes and threads, held from construction (which
// waits for it) until the object goes away or the process ends, however it ends (kill -9
// included). Read-modify-write cycles on a folder's files that may run in several programs at
// once (a log whose new block goes in front of the old ones) hold it from the read to the
// rename. Taking it leaves no file behind. Held() is false when the folder cannot be opened
// (missing, no rights): the caller goes on without the lock, and its own write then fails.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace plat
