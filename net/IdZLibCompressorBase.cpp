// net/IdZLibCompressorBase.cpp: deflate and gzip bodies handed to the application's inflater.
#include "net/IdZLibCompressorBase.h"

#include <cstdint>

namespace {

uint8_t ReadByte(rtl::Stream& stream) {
    uint8_t b = 0;
    if (stream.Read(&b, 1) != 1) EIdException::RaiseIdException("The gzip header is cut short.");
    return b;
}

void Skip(rtl::Stream& stream, int64_t count) {
    if (stream.Size() - stream.Position() < count) EIdException::RaiseIdException("The gzip header is cut short.");
    stream.Seek(count, rtl::SeekOrigin::Current);
}

}  // namespace

void TIdZLibCompressorBase::DecompressDeflateStream(rtl::Stream& stream, rtl::Stream* outStream) {
    // A "deflate" body is a whole zlib stream, header included: it is inflated from its start.
    DecompressStream(stream, outStream);
}

void TIdZLibCompressorBase::SkipGZipHeader(rtl::Stream& stream) {
    constexpr uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16;
    Skip(stream, 3);  // ID1, ID2, CM
    const uint8_t flags = ReadByte(stream);
    Skip(stream, 6);  // MTIME, XFL, OS
    if (flags & FEXTRA) {
        const uint8_t lo = ReadByte(stream);
        const uint8_t hi = ReadByte(stream);
        Skip(stream, int64_t(lo) | int64_t(hi) << 8);
    }
    if (flags & FNAME)
        while (ReadByte(stream) != 0) {
        }
    if (flags & FCOMMENT)
        while (ReadByte(stream) != 0) {
        }
    if (flags & FHCRC) Skip(stream, 2);
}

void TIdZLibCompressorBase::DecompressGZipStream(rtl::Stream& stream, rtl::Stream* outStream) {
    SkipGZipHeader(stream);
    // The raw deflate data gets a zlib header in the two bytes before it (the header is at
    // least ten bytes long, so they exist), and loses the CRC-32 and size trailer.
    stream.Seek(-2, rtl::SeekOrigin::Current);
    const uint8_t zlibHeader[2] = {0x78, 0x9C};
    stream.Write(zlibHeader, 2);
    stream.Seek(-2, rtl::SeekOrigin::Current);
    const int64_t position = stream.Position();
    if (stream.Size() - position < 2 + 8) EIdException::RaiseIdException("The gzip body is cut short.");
    stream.SetSize(stream.Size() - 8);
    stream.SetPosition(position);
    DecompressStream(stream, outStream);
}
