// tls/SBZlib.cpp: the compression facade over zlib (see the header).
#include "tls/SBZlib.h"

#include <cstdlib>
#include <cstring>

#include "rtl/Bytes.h"
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

// zlib's memory through an allocator that remembers each block's size in a header before it,
// so the block can be wiped when zlib gives it back. Neither function throws: zlib calls them.
constexpr size_t kHeader = alignof(std::max_align_t);

voidpf WipingAlloc(voidpf, uInt items, uInt size) {
    if (size != 0 && items > (SIZE_MAX - kHeader) / size) return Z_NULL;
    const size_t bytes = size_t(items) * size;
    auto* block = static_cast<unsigned char*>(std::malloc(kHeader + bytes));
    if (block == nullptr) return Z_NULL;
    std::memcpy(block, &bytes, sizeof bytes);
    return block + kHeader;
}

void WipingFree(voidpf, voidpf address) {
    if (address == Z_NULL) return;
    auto* block = static_cast<unsigned char*>(address) - kHeader;
    size_t bytes = 0;
    std::memcpy(&bytes, block, sizeof bytes);
    rtl::secure_wipe(block, kHeader + bytes);
    std::free(block);
}

void UseWipingAllocator(TZStreamRec& strm) {
    if (strm.zalloc != Z_NULL || strm.zfree != Z_NULL) return;  // the caller's own
    strm.zalloc = WipingAlloc;
    strm.zfree = WipingFree;
    strm.opaque = Z_NULL;
}

// A step buffer on the stack, wiped up to the most any step wrote into it when the operation
// ends, however it ends.
template <size_t N>
struct Step {
    uint8_t bytes[N];
    size_t used = 0;
    ~Step() { rtl::secure_wipe(bytes, used); }
    void Produced(size_t n) { used = n > used ? n : used; }
};

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
    Step<kStep> step;
    bool stepFilled = false;
    while (strm.avail_in > 0 || stepFilled) {
        const bool draining = strm.avail_in == 0;
        strm.next_out = step.bytes;
        strm.avail_out = uInt(kStep);
        const int rc = inflate(&strm, flush);
        const size_t produced = kStep - strm.avail_out;
        step.Produced(produced);
        if (rc == Z_BUF_ERROR) {
            // Nothing could move: with no input left this only means the held-back output is
            // all out; with input left the data cannot progress.
            if (draining) return;
            throw rtl::EAbort("Operation aborted");
        }
        if (rc != Z_OK && rc != Z_STREAM_END) InflateFailed(rc);
        sink(step.bytes, produced);
        if (rc == Z_STREAM_END) return;
        stepFilled = strm.avail_out == 0;
    }
}

template <typename Bytes>
void CompressInto(TZStreamRec& strm, const void* input, size_t inputSize, Bytes& output) {
    if (inputSize > UINT32_MAX) DeflateFailed(Z_BUF_ERROR);
    output.clear();
    SetInput(strm, input, inputSize);
    Step<kStep> step;
    for (;;) {
        strm.next_out = step.bytes;
        strm.avail_out = uInt(kStep);
        const int rc = deflate(&strm, Z_PARTIAL_FLUSH);
        // zlib's buffer error means there was nothing to do: no input after a flush (an empty
        // block), or a repeat call after a step that ended exactly at the flush point.
        if (rc == Z_BUF_ERROR && strm.avail_in == 0) break;
        if (rc != Z_OK) DeflateFailed(rc);
        const size_t produced = kStep - strm.avail_out;
        step.Produced(produced);
        output.insert(output.end(), step.bytes, step.bytes + produced);
        if (strm.avail_out != 0) break;
    }
}

}  // namespace

int InitCompression(TZStreamRec& strm, int level) {
    if (level < 1 || level > 9) level = 6;
    UseWipingAllocator(strm);
    return deflateInit(&strm, level);
}

int InitDecompression(TZStreamRec& strm) {
    UseWipingAllocator(strm);
    return inflateInit(&strm);
}

void CompressData(TZStreamRec& strm, const void* input, size_t inputSize, std::vector<uint8_t>& output) {
    CompressInto(strm, input, inputSize, output);
}

void CompressData(TZStreamRec& strm, const void* input, size_t inputSize, rtl::SecureBytes& output) {
    CompressInto(strm, input, inputSize, output);
}

void DecompressData(TZStreamRec& strm, const void* input, size_t inputSize, void* output, size_t& outputSize) {
    const size_t room = outputSize;
    size_t total = 0;
    InflateAll(strm, input, inputSize, Z_PARTIAL_FLUSH, [&](const uint8_t* data, size_t size) {
        if (size > room - total) throw rtl::Exception(SZlibOutputBufferTooSmall);
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
    Step<kFinishStep> step;
    for (;;) {
        strm.next_out = step.bytes;
        strm.avail_out = uInt(kFinishStep);
        const int rc = deflate(&strm, Z_FINISH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            deflateEnd(&strm);
            DeflateFailed(rc);
        }
        const size_t produced = kFinishStep - strm.avail_out;
        step.Produced(produced);
        output.insert(output.end(), step.bytes, step.bytes + produced);
        // Z_OK: the end did not fit this step; another step takes the rest.
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&strm);
}

void EndCompression(TZStreamRec& strm) {
    if (strm.state != nullptr) deflateEnd(&strm);
}

void EndDecompression(TZStreamRec& strm) {
    if (strm.state != nullptr) inflateEnd(&strm);
}
