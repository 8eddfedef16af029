// net/IdCoder3to4.cpp: three bytes to four characters and back.
#include "net/IdCoder3to4.h"

#include <algorithm>
#include <limits>

#include "rtl/Format.h"

void FillDecodeTable(const std::string& codingTable, TIdDecodeTable& table) {
    table.fill(255);
    for (size_t i = 0; i < codingTable.size(); ++i) {
        const auto c = static_cast<uint8_t>(codingTable[i]);
        if (c >= 1 && c <= table.size()) table[c - 1] = uint8_t(i);
    }
}

std::string TIdEncoder3to4::EncodeStream(TIdStreamRandomAccess& stream, int64_t count) {
    const int64_t n = std::min(stream.StreamSize() - stream.StreamPosition(), count);
    if (n < 1) return {};
    if (n > std::numeric_limits<int32_t>::max())
        EIdException::RaiseIdException("The stream is too large to encode in one text.");
    TBytes bytes;
    stream.StreamReadBytes(bytes, int32_t(n), true, 0);
    const TBytes chars = Encode(bytes);
    return std::string(chars.begin(), chars.end());
}

TBytes TIdEncoder3to4::Encode(const TBytes& bytes) const {
    if (CodingTable.size() != 64) EIdException::RaiseIdException("The coding table must hold 64 characters.");
    TBytes out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        const uint32_t group = uint32_t(bytes[i]) << 16 | (left > 1 ? uint32_t(bytes[i + 1]) << 8 : 0) |
                               (left > 2 ? uint32_t(bytes[i + 2]) : 0);
        out.push_back(uint8_t(CodingTable[group >> 18 & 63]));
        out.push_back(uint8_t(CodingTable[group >> 12 & 63]));
        out.push_back(left > 1 ? uint8_t(CodingTable[group >> 6 & 63]) : uint8_t(FillChar));
        out.push_back(left > 2 ? uint8_t(CodingTable[group & 63]) : uint8_t(FillChar));
    }
    return out;
}

void TIdDecoder4to3::Decode(const std::string& text, int32_t start, int32_t length) {
    if (text.empty()) return;
    TBytes bytes;
    DecodeBytes(text, start, bytes, length);
    if (OutputStream() == nullptr) EIdException::RaiseIdException("The decoder has no output stream.");
    OutputStream()->StreamWriteBytes(bytes);
}

void TIdDecoder4to3::DecodeBytes(const std::string& characters, int32_t start, TBytes& bytes, int32_t length) const {
    if (start < 1) EIdException::RaiseIdException(rtl::Format("Decode: start %d is out of range.", start));
    const auto lookUp = [&](size_t at) -> uint32_t {
        const auto c = static_cast<uint8_t>(characters[at]);
        // The table has entries for the codes 1..127 only.
        if (c == 0 || c > DecodeTable.size())
            EIdException::RaiseIdException(
                rtl::Format("Decode: the character with code %d at position %d has no entry in the decoding table.",
                            int32_t(c), int32_t(at + 1)));
        return DecodeTable[c - 1];
    };
    bytes.clear();
    if (length == -1)
        bytes.reserve(characters.size() / 4 * 3);
    else if (length > 0)
        bytes.reserve(size_t(length));
    for (size_t at = size_t(start) - 1; at + 4 <= characters.size(); at += 4) {
        const uint32_t v = lookUp(at) << 18 | lookUp(at + 1) << 12 | lookUp(at + 2) << 6 | lookUp(at + 3);
        bytes.push_back(uint8_t(v >> 16));
        bytes.push_back(uint8_t(v >> 8));
        bytes.push_back(uint8_t(v));
        if (length == -1) {
            if (characters[at + 2] == FillChar) {
                bytes.resize(bytes.size() - 2);
                return;
            }
            if (characters[at + 3] == FillChar) {
                bytes.resize(bytes.size() - 1);
                return;
            }
        } else if (int64_t(bytes.size()) >= length) {
            bytes.resize(size_t(std::max(length, 0)));
            return;
        }
    }
}
