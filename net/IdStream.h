// net/IdStream.h: the library's stream adapter over rtl streams.
//
// The IO handler, the buffer, the coders and the HTTP client read and write streams only
// through TIdStream: byte-array reads and writes, network-order integers, counted texts and
// line reading. TIdStreamVCL wraps an rtl::Stream and is the class every user makes; it frees
// the stream only when it was given ownership of it. Positions and sizes are 64-bit, so a
// stream of any size is read and written whole; a single read into a byte array is limited to
// what a 32-bit count can hold, and asking for more raises EIdException. Reads whose length
// comes from the stream itself (counted texts) check it against what the stream holds before
// allocating anything.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/IdGlobal.h"
#include "rtl/Stream.h"

RTL_EXCEPTION(EIdEndOfStream, EIdException);

class TIdStream {
public:
    virtual ~TIdStream() = default;

    // Reads count bytes (-1: to the end) into bytes from offset, growing the array to
    // offset + count when shorter; the array must then hold a byte at offset. With
    // mustReadAll a short read raises "Not enough bytes read from stream.". The count read.
    virtual int32_t StreamReadBytes(TBytes& bytes, int32_t count, bool mustReadAll = true, int32_t offset = 0) = 0;
    // Four bytes in network order.
    virtual int32_t StreamReadInt32() = 0;
    // A line ending in LF, CR or CR LF (the terminator is consumed, never returned), cut at
    // maxLength characters (negative: no limit; the rest of a longer line stays unread). At the
    // end of the stream: empty text, or EIdEndOfStream with errorAtEnd.
    virtual std::string StreamReadLine(int32_t maxLength = -1, bool errorAtEnd = false) = 0;
    // A network-order 32-bit length and that many bytes; a length below 1 gives empty text.
    virtual std::string StreamReadCountedText() = 0;
    virtual void StreamWriteText(std::string_view text) = 0;
    // count -1: the whole array, else at most count bytes.
    virtual void StreamWriteBytes(const TBytes& bytes, int32_t count = -1) = 0;
    void StreamWriteLine(std::string_view text);

    virtual const char* ClassName() const { return "TIdStream"; }
};

class TIdStreamRandomAccess : public TIdStream {
public:
    virtual int64_t StreamPosition() = 0;
    virtual int64_t StreamSize() = 0;
    virtual void SetStreamPosition(int64_t position) = 0;
    virtual bool AtStreamStart() = 0;
    // True also while one byte remains.
    virtual bool AtLastByte() = 0;
    virtual void SkipBytes(int64_t count) = 0;
};

class TIdStreamVCLBase : public TIdStreamRandomAccess {
public:
    // Over a stream the caller keeps.
    explicit TIdStreamVCLBase(rtl::Stream& stream) : wrapped_(&stream) {}
    // Over a stream the adapter owns and frees.
    explicit TIdStreamVCLBase(std::unique_ptr<rtl::Stream> stream)
        : owned_(std::move(stream)), wrapped_(owned_.get()) {}

    bool OwnsStream() const { return owned_ != nullptr; }
    rtl::Stream& WrappedStream() { return *wrapped_; }

    int64_t StreamPosition() override { return wrapped_->Position(); }
    int64_t StreamSize() override { return wrapped_->Size(); }
    void SetStreamPosition(int64_t position) override { wrapped_->SetPosition(position); }
    bool AtStreamStart() override { return StreamPosition() == 0; }
    bool AtLastByte() override { return StreamPosition() >= StreamSize() - 1; }
    void SkipBytes(int64_t count) override {
        if (count != 0) wrapped_->Seek(count, rtl::SeekOrigin::Current);
    }

private:
    std::unique_ptr<rtl::Stream> owned_;
    rtl::Stream* wrapped_;
};

class TIdStreamVCL : public TIdStreamVCLBase {
public:
    using TIdStreamVCLBase::TIdStreamVCLBase;

    int32_t StreamReadBytes(TBytes& bytes, int32_t count, bool mustReadAll = true, int32_t offset = 0) override;
    int32_t StreamReadInt32() override;
    std::string StreamReadLine(int32_t maxLength = -1, bool errorAtEnd = false) override;
    std::string StreamReadCountedText() override;
    void StreamWriteText(std::string_view text) override;
    void StreamWriteBytes(const TBytes& bytes, int32_t count = -1) override;

    const char* ClassName() const override { return "TIdStreamVCL"; }
};
