// Fuzz target: the HTTPS client's response reader (status line, header fields, bodies by
// length, chunked or to the close, gzip and deflate codings) fed in pieces, then the close.
// A response read as complete, not chunked and not encoded, with a Content-Length, delivered
// exactly that many bytes; no more header bytes are held than the ceiling allows.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tls/SBHTTPSClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = size_t(data[0] & 31) + 1;
    const bool head = (data[0] & 32) != 0;
    const bool viaProxy = (data[0] & 64) != 0;
    HTTPResponseReader reader;
    int64_t delivered = 0;
    reader.OnBody = [&](const uint8_t*, size_t n) { delivered += int64_t(n); };
    reader.Reset(head, viaProxy);
    try {
        for (size_t at = 1; at < size; at += piece)
            reader.Feed(data + at, std::min(piece, size - at));
        reader.FinishAtClose();
    } catch (const EElHTTPSClientError&) {
        // The reader's only refusal; anything else escaping it is a finding.
        return 0;
    }
    if (delivered != reader.Delivered) std::abort();
    if (reader.Complete() && !head && !reader.Chunked && !reader.Gzip && !reader.Deflate &&
        reader.ContentLength >= 0 && reader.StatusCode >= 200 && reader.StatusCode != 204 &&
        reader.StatusCode != 304 && delivered != reader.ContentLength)
        std::abort();
    return 0;
}
