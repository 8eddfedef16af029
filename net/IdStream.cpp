// net/IdStream.cpp: byte, integer, line and counted-text reads over an rtl stream.
#include "net/IdStream.h"

#include <limits>

#include "rtl/Bytes.h"
#include "rtl/Format.h"

namespace {
// Line reads look at the stream in pieces of this size.
constexpr size_t kLineChunk = 2048;
}  // namespace

void TIdStream::StreamWriteLine(std::string_view text) {
    StreamWriteText(text);
    StreamWriteText("\r\n");
}

int32_t TIdStreamVCL::StreamReadBytes(TBytes& bytes, int32_t count, bool mustReadAll, int32_t offset) {
    if (offset < 0) EIdException::RaiseIdException("StreamReadBytes: negative offset.");
    int64_t want = count;
    if (count < 0) want = std::max<int64_t>(0, StreamSize() - StreamPosition());
    if (int64_t(offset) + want > std::numeric_limits<int32_t>::max())
        EIdException::RaiseIdException("StreamReadBytes: more bytes than one array holds.");
    if (bytes.size() < size_t(offset + want)) bytes.resize(size_t(offset + want));
    if (size_t(offset) >= bytes.size()) EIdException::RaiseIdException("StreamReadBytes: offset outside the array.");
    const size_t got = want == 0 ? 0 : WrappedStream().Read(bytes.data() + offset, size_t(want));
    if (mustReadAll && int64_t(got) < want) EIdException::RaiseIdException("Not enough bytes read from stream.");
    return int32_t(got);
}

int32_t TIdStreamVCL::StreamReadInt32() {
    TBytes b(4);
    StreamReadBytes(b, 4, true, 0);
    return int32_t(rtl::load_be32(b.data()));
}

std::string TIdStreamVCL::StreamReadLine(int32_t maxLength, bool errorAtEnd) {
    const int64_t maximum = maxLength < 0 ? std::numeric_limits<int32_t>::max() : maxLength;
    const int64_t start = StreamPosition();
    if (StreamSize() - start <= 0) {
        if (errorAtEnd)
            EIdException::RaiseIdException<EIdEndOfStream>(
                rtl::Format("End of stream: Class %s at %d", ClassName(), start));
        return {};
    }
    std::string line;
    int64_t consumed = 0;
    bool pendingCR = false;  // a CR ended the last chunk: a LF opening the next one belongs to it
    bool done = false;
    char chunk[kLineChunk];
    while (!done) {
        const size_t n = WrappedStream().Read(chunk, sizeof chunk);
        if (n == 0) break;
        for (size_t i = 0; i < n && !done; ++i) {
            const char c = chunk[i];
            if (pendingCR) {
                if (c == '\n') ++consumed;
                done = true;
            } else if (c == '\n') {
                ++consumed;
                done = true;
            } else if (c == '\r') {
                ++consumed;
                if (i + 1 < n) {
                    if (chunk[i + 1] == '\n') ++consumed;
                    done = true;
                } else {
                    pendingCR = true;
                }
            } else if (int64_t(line.size()) < maximum) {
                line += c;
                ++consumed;
            } else {
                done = true;  // the line is longer than the maximum: the rest stays unread
            }
        }
    }
    SetStreamPosition(start + consumed);
    return line;
}

std::string TIdStreamVCL::StreamReadCountedText() {
    const int32_t length = StreamReadInt32();
    if (length < 1) return {};
    // The length comes from the stream: it must be there before anything is allocated.
    if (int64_t(length) > StreamSize() - StreamPosition())
        EIdException::RaiseIdException<EIdEndOfStream>(
            rtl::Format("End of stream: Class %s at %d", ClassName(), StreamPosition()));
    std::string text(size_t(length), '\0');
    WrappedStream().ReadBuffer(text.data(), text.size());
    return text;
}

void TIdStreamVCL::StreamWriteText(std::string_view text) {
    if (!text.empty()) WrappedStream().WriteBuffer(text);
}

void TIdStreamVCL::StreamWriteBytes(const TBytes& bytes, int32_t count) {
    const size_t n = count < 0 ? (count == -1 ? bytes.size() : 0) : std::min(bytes.size(), size_t(count));
    if (n > 0) WrappedStream().WriteBuffer(bytes.data(), n);
}
