// tests/net/ZlibInflater.h: the tests' compressor for the HTTP client's hook, written to the
// hook's contract: zlib's inflate over the rest of the stream from its position, the inflated
// bytes replacing the compressed ones from there (or going to the out stream). A zlib stream
// that ends where its checksum would start is accepted: the gzip path hands over a member's
// deflate data, whose checksum (a CRC-32) is no zlib one.
#pragma once

#include <zlib.h>

#include <string>

#include "net/IdZLibCompressorBase.h"

namespace kwtest {

class ZlibInflater : public TIdZLibCompressorBase {
public:
    void DecompressStream(rtl::Stream& stream, rtl::Stream* outStream) override {
        const int64_t at = stream.Position();
        std::string in(size_t(stream.Size() - at), '\0');
        stream.ReadBuffer(in.data(), in.size());
        std::string out;
        z_stream z{};
        inflateInit(&z);
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = uInt(in.size());
        int rc = Z_OK;
        while (rc == Z_OK) {
            char piece[1 << 16];
            z.next_out = reinterpret_cast<Bytef*>(piece);
            z.avail_out = sizeof piece;
            rc = inflate(&z, Z_NO_FLUSH);
            out.append(piece, sizeof piece - z.avail_out);
            if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // no checksum after the data
        }
        inflateEnd(&z);
        if (rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && z.avail_in == 0))
            EIdException::RaiseIdException("inflate failed");
        if (outStream != nullptr) {
            outStream->WriteBuffer(out);
            return;
        }
        stream.SetSize(at);
        stream.SetPosition(at);
        stream.WriteBuffer(out);
    }
};

}  // namespace kwtest
