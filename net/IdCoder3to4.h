// net/IdCoder3to4.h: the engine that turns three bytes into four characters and back.
//
// The alphabet (CodingTable, 64 characters) and the pad character (FillChar) are settings, so
// one engine serves every such coding. The decoder looks characters up in DecodeTable: entry
// c - 1 holds the 6-bit value of the character with code c (1..127), 255 for characters
// outside the alphabet. A character with code 0 or 128 and above has no entry and is refused
// (EIdException), never looked up outside the table.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "net/IdCoder.h"

using TIdDecodeTable = std::array<uint8_t, 127>;

// All entries 255, then each alphabet character's entry its 0-based index.
void FillDecodeTable(const std::string& codingTable, TIdDecodeTable& table);

class TIdEncoder3to4 : public TIdEncoder {
public:
    using TIdEncoder::TIdEncoder;

    std::string CodingTable;  // 64 characters
    char FillChar = '=';

    std::string EncodeStream(TIdStreamRandomAccess& stream, int64_t count) override;
    // ((n + 2) / 3) * 4 characters for n bytes; a last group of one or two bytes is padded.
    TBytes Encode(const TBytes& bytes) const;
};

class TIdDecoder4to3 : public TIdDecoder {
public:
    using TIdDecoder::TIdDecoder;

    TIdDecodeTable DecodeTable{};
    char FillChar = '=';

    void Decode(const std::string& text, int32_t start = 1, int32_t length = -1) override;
    // Decodes the characters from the 1-based start. length -1: every full group, the output
    // shortened by the padding of the group that has it; otherwise the output is cut to
    // length bytes.
    void DecodeBytes(const std::string& characters, int32_t start, TBytes& bytes, int32_t length = -1) const;
};
