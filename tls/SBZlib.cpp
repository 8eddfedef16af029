// tls/SBZlib.cpp: the compression facade over zlib (see the header).
#include "tls/SBZlib.h"

#include <cstring>

#include "rtl/Format.h"

namespace {

// Each operation works through one step buffer local to the call: 64 KiB for data, 4 KiB
// for the end of a deflate stream, which is small after the partial flushes.
constexpr size_t kStep = 65536;
constexpr size_t kFinishStep = 4096;

[[noreturn]] void DeflateFailed(int rc) {
    throw rtl::Exception(rtl::Format(SCompressionFailed, rc));
}
[[noreturn]] void InflateFailed(int rc) {
    throw rtl::Exception(rtl::Format(SDecompressionFailed, rc));
}

void SetInput(TZStreamRec& strm, const void* input, size_t inputSize) {
    // zlib takes a non-const pointer but never writes through next_in.
    strm.next_in = static_cast<Bytef*>(const_cast<void*>(input));
    strm.avail_in = uInt(inputSize);
}

// Runs inflate over the whole input in 64 KiB steps, handing each step's output to sink, and
// keeps going while a step filled its buffer (zlib may hold more output than one step takes,
// and it would otherwise stay in the record until the next call). Stops at the end of the
// compressed stream.
template <typename Sink>
void InflateAll(TZStreamRec& strm, const void* input, size_t inputSize, int flush, Sink sink) {
    if (inputSize > UINT32_MAX) throw rtl::Exception(rtl::Format(SDecompressionFailed, Z_BUF_ERROR));
    SetInput(strm, input, inputSize);
    uint8_t step[kStep];
    bool stepFilled = false;
    while (strm.avail_in > 0 || stepFilled) {
        const bool draining = strm.avail_in == 0;
        strm.next_out = step;
        strm.avail_out = uInt(sizeof step);
        const int rc = inflate(&strm, flush);
        const size_t produced = sizeof step - strm.avail_out;
        if (rc == Z_BUF_ERROR) {
            // Nothing could move: with no input left this only means the held-back output is
            // all out; with input left the data cannot progress.
            if (draining) return;
            throw rtl::EAbort("Operation aborted");
        }
        if (rc != Z_OK && rc != Z_STREAM_END) InflateFailed(rc);
        sink(step, produced);
        if (rc == Z_STREAM_END) return;
        stepFilled = strm.avail_out == 0;
    }
}

}  // namespace

int InitCompression(TZStreamRec& strm, int level) {
    if (level < 1 || level > 9) level = 6;
    return deflateInit(&strm, level);
}

int InitDecompression(TZStreamRec& strm) {
    return inflateInit(&strm);
}

void CompressData(TZStreamRec& strm, const void* input, size_t inputSize, std::vector<uint8_t>& output) {
    if (inputSize > UINT32_MAX) DeflateFailed(Z_BUF_ERROR);
    output.clear();
    SetInput(strm, input, inputSize);
    uint8_t step[kStep];
    for (bool first = true;; first = false) {
        strm.next_out = step;
        strm.avail_out = uInt(sizeof step);
        const int rc = deflate(&strm, Z_PARTIAL_FLUSH);
        // A repeat call after a step that happened to end exactly at the flush point has
        // nothing left to give: zlib says so with its buffer error.
        if (rc == Z_BUF_ERROR && !first && strm.avail_in == 0) break;
        if (rc != Z_OK) DeflateFailed(rc);
        output.insert(output.end(), step, step + (sizeof step - strm.avail_out));
        if (strm.avail_out != 0) break;
    }
}

void DecompressData(TZStreamRec& strm, const void* input, size_t inputSize, void* output, size_t& outputSize) {
    const size_t room = outputSize;
    size_t total = 0;
    InflateAll(strm, input, inputSize, Z_PARTIAL_FLUSH, [&](const uint8_t* data, size_t size) {
        if (size > room - total) throw rtl::Exception(SOutputBufferTooSmall);
        if (size > 0) std::memcpy(static_cast<uint8_t*>(output) + total, data, size);
        total += size;
    });
    outputSize = total;
}

void DecompressData(TZStreamRec& strm, const void* input, size_t inputSize, std::vector<uint8_t>& output) {
    InflateAll(strm, input, inputSize, Z_PARTIAL_FLUSH,
               [&](const uint8_t* data, size_t size) { output.insert(output.end(), data, data + size); });
}

void DecompressWithCallback(TZStreamRec& strm, const void* input, size_t inputSize, const TSBZlibCallback& callback) {
    InflateAll(strm, input, inputSize, Z_FULL_FLUSH, [&](const uint8_t* data, size_t size) { callback(data, size); });
}

void FinishCompression(TZStreamRec& strm, std::vector<uint8_t>& output) {
    output.clear();
    strm.next_in = nullptr;
    strm.avail_in = 0;
    uint8_t step[kFinishStep];
    for (;;) {
        strm.next_out = step;
        strm.avail_out = uInt(sizeof step);
        const int rc = deflate(&strm, Z_FINISH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            deflateEnd(&strm);
            DeflateFailed(rc);
        }
        output.insert(output.end(), step, step + (sizeof step - strm.avail_out));
        // Z_OK: the end did not fit this step; another step takes the rest.
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&strm);
}

void EndDecompression(TZStreamRec& strm) {
    if (strm.state != nullptr) inflateEnd(&strm);
}
