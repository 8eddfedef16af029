// net/IdZLibCompressorBase.cpp: deflate and gzip bodies handed to the application's inflater.
#include "net/IdZLibCompressorBase.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The piece in which a gzip member's deflate data moves down over its header.
constexpr int64_t kMovePiece = 64 * 1024;

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
    const int64_t start = stream.Position();
    SkipGZipHeader(stream);
    const int64_t data = stream.Position();
    if (stream.Size() - data < 8) EIdException::RaiseIdException("The gzip body is cut short.");
    // The raw deflate data, without the CRC-32 and size trailer, moves down behind a zlib header
    // written where the member began: the inflater reads a zlib stream from that position, and
    // what it puts in place of it is the body and nothing of the gzip header. The header is at
    // least ten bytes long, so every piece moves to a place before the one it is read from.
    const int64_t length = stream.Size() - 8 - data;
    const uint8_t zlibHeader[2] = {0x78, 0x9C};
    stream.SetPosition(start);
    stream.WriteBuffer(zlibHeader, 2);
    std::vector<uint8_t> piece(size_t(std::min<int64_t>(length, kMovePiece)));
    for (int64_t moved = 0; moved < length;) {
        const size_t n = size_t(std::min<int64_t>(length - moved, kMovePiece));
        stream.SetPosition(data + moved);
        stream.ReadBuffer(piece.data(), n);
        stream.SetPosition(start + 2 + moved);
        stream.WriteBuffer(piece.data(), n);
        moved += int64_t(n);
    }
    stream.SetSize(start + 2 + length);
    stream.SetPosition(start);
    DecompressStream(stream, outStream);
}
