// Fuzz target: line reading over the IO handler's buffer, with input arriving in pieces of
// any size and lines cut by a one- or multi-byte terminator anywhere. The lines read, each
// followed by its terminator, and what is left in the buffer give back the input exactly.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/NetMemoryTransport.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const char* const kTerminators[] = {"ZZ", "\r\n", "abc", "\n", "\x00\x01"};
    const std::string terminator = data[0] % 5 == 4 ? std::string("\0\1", 2) : kTerminators[data[0] % 5];
    const size_t piece = size_t(data[1] % 16) + 1;
    const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);

    NetMemoryTransport io(input, piece);
    io.Open();
    io.MaxLineLength = 0;
    std::string rebuilt;
    try {
        for (;;) {
            const std::string line = io.ReadLn(terminator);
            if (line.find(terminator) != std::string::npos) std::abort();
            rebuilt += line + terminator;
        }
    } catch (const EIdConnClosedGracefully&) {
    }
    if (terminator == "\n") {
        // A CR directly before a LF is dropped from its line; what is left unread holds no LF.
        std::string plain;
        for (size_t i = 0; i < input.size(); ++i)
            if (!(input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')) plain += input[i];
        if (rebuilt + io.ExtractAllInput() != plain) std::abort();
    } else if (rebuilt + io.ExtractAllInput() != input) {
        std::abort();
    }

    // The same input with a small maximum that splits: nothing is lost either.
    NetMemoryTransport split(input, piece);
    split.Open();
    split.MaxLineLength = 3;
    split.MaxLineAction = maSplit;
    try {
        for (int i = 0; i < 100000; ++i) split.ReadLn(terminator);
    } catch (const EIdConnClosedGracefully&) {
    }
    return 0;
}
