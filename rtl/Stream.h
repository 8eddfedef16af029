// rtl/Stream.h: byte streams: the abstract Stream, MemoryStream and FileStream.
//
// A stream is a positioned sequence of bytes. Units that load or save structures "from a
// stream" (the ASN.1 tag tree, key materials, CRC of a file) take a Stream& and never assume
// where its bytes live. Read and Write move as many bytes as they can and say how many;
// ReadBuffer and WriteBuffer demand the whole count and raise rtl::EReadError /
// rtl::EWriteError on a short transfer, so a parser that uses them never works on half a
// record. Positions and sizes are 64-bit; a position below zero is refused; seeking past the
// end is allowed and a later write fills the gap with zero bytes.
//
// FileStream, with ReadFileBytes and the writers below, is rtl's file binding: the one place
// in rtl that makes the operating system's file calls directly. A FileStream owns its
// descriptor and closes it when it goes away. Errors name the file and the system's reason, and
// carry both apart from the message (FileFailure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "rtl/Exception.h"

namespace rtl {

// What a file failure that the system reported knows besides its message: the file and the
// system's error number (errno). The file errors of this unit carry it (FileFailureOf<EFOpenError>
// and the like, still caught as EFOpenError...), so that a caller can name the cause in words of
// its own: find it with FileFailureIn.
class FileFailure {
public:
    FileFailure(std::string fileName, int code) : fileName_(std::move(fileName)), code_(code) {}
    virtual ~FileFailure() = default;
    const std::string& FileName() const noexcept { return fileName_; }
    int Code() const noexcept { return code_; }
    // The system's text for the code ("Permission denied").
    std::string Reason() const;

private:
    std::string fileName_;
    int code_;
};

// An exception of class Base (its name and message) that carries a FileFailure.
template <class Base>
class FileFailureOf final : public Base, public FileFailure {
public:
    FileFailureOf(std::string message, std::string fileName, int code)
        : Base(std::move(message)), FileFailure(std::move(fileName), code) {}
};

// The file failure an exception carries, or null.
inline const FileFailure* FileFailureIn(const std::exception& e) {
    return dynamic_cast<const FileFailure*>(&e);
}

enum class SeekOrigin { Begin, Current, End };

class Stream {
public:
    virtual ~Stream() = default;

    // Copies up to count bytes into buffer from the current position and advances past them;
    // answers how many were copied (0 at the end).
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes count bytes at the current position and advances; answers how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    // Moves the position and answers the new one; a resulting position below 0 raises
    // rtl::EReadError.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    virtual int64_t Size();
    // Streams that cannot change their size raise rtl::EWriteError.
    virtual void SetSize(int64_t newSize);

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }

    // The whole count or rtl::EReadError ("Stream read error").
    void ReadBuffer(void* buffer, size_t count);
    // The whole count or rtl::EWriteError ("Stream write error").
    void WriteBuffer(const void* buffer, size_t count);
    void WriteBuffer(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }

    // Copies count bytes from source's position; count 0 copies the whole source from its
    // beginning. Answers the number of bytes copied; a source that ends early raises
    // rtl::EReadError.
    int64_t CopyFrom(Stream& source, int64_t count);
};

// Bytes held in memory.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::string data) : data_(std::move(data)) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return int64_t(data_.size()); }
    void SetSize(int64_t newSize) override;

    uint8_t* Memory() { return reinterpret_cast<uint8_t*>(data_.data()); }
    const uint8_t* Memory() const { return reinterpret_cast<const uint8_t*>(data_.data()); }
    // The content (bytes unchanged).
    const std::string& Data() const { return data_; }
    void Clear();

    // Replaces the content with the file's bytes and moves to the beginning.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;
    // Replaces the content with everything of source (from its beginning).
    void LoadFromStream(Stream& source);
    void SaveToStream(Stream& dest) const;

private:
    std::string data_;
    int64_t pos_ = 0;
};

enum class FileMode {
    Create,         // create or truncate; read and write
    CreateNew,      // create; fails when the file already exists; read and write
    OpenRead,       // an existing file, read only
    OpenReadWrite,  // an existing file, read and write
};

class FileStream : public Stream {
public:
    // Raises rtl::EFOpenError naming the file and the system's reason. A file created here
    // gets createMode's permission bits (less the process's umask) from its first moment.
    FileStream(const std::string& fileName, FileMode mode, int createMode = 0666);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // I/O failures raise rtl::EReadError / rtl::EWriteError with the system's reason.
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t newSize) override;

    // Forces the written bytes to the disk (rtl::EWriteError on failure).
    void Flush();
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    int fd_ = -1;
};

// The whole content of a file (rtl::EFOpenError / rtl::EReadError on failure).
std::string ReadFileBytes(const std::string& fileName);

// Replaces a file's content so that a crash leaves either the old or the new content, never
// a mix: the bytes go to a new file in the same folder, reach the disk, and the new file is
// renamed over the old one. The old file's permissions are kept; a symbolic link is followed
// so the link stays. Raises rtl::EWriteError naming the file and the system's reason.
// A mode (permission bits such as 0600) other than -1 is what the file gets instead, for files
// that hold secrets. The new file is created with its final mode (O_CREAT|O_EXCL with those
// bits), so no other user can open it at any moment, not even before its first byte.
void WriteFileAtomically(const std::string& fileName, std::string_view bytes, int mode = -1);

// Replaces a file's content as WriteFileAtomically does, unless the file's folder cannot take a
// new file (a folder this user may not write to) while the file itself can be written: the
// settings of a program installed in a read-only folder, with its settings file opened to its
// users, are still written, in place (WriteFileInPlace).
void ReplaceFileContent(const std::string& fileName, std::string_view bytes);

// Writes a file's content over the old one, in the same file (its mode, owner and links stay):
// the room for the new content is reserved first where the file system can do so, so that a
// full disk fails before any old byte is overwritten; the bytes reach the disk before the file
// is cut to their length; and when a write fails half-way, the old content is written back. A
// crash while the bytes are written can still leave a mix of both, which a rename never does:
// only for files whose folder refuses new files. The file must exist and be a regular file.
// Raises rtl::EWriteError (a FileFailureOf) naming the file and the system's reason.
void WriteFileInPlace(const std::string& fileName, std::string_view bytes);

// Removes the temporary files that WriteFileAtomically of fileName left behind when its
// process was killed (".<name>.XXXXXXXX.tmp" beside it); how many went. Only for a caller that
// knows no other process is writing the file now (it holds the lock its writers take).
int RemoveAtomicWriteLeftovers(const std::string& fileName);

}  // namespace rtl
