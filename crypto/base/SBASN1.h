// crypto/base/SBASN1.h: the library's low-level reader of BER/DER encodings and the writers of single
// DER elements.
//
// TElASN1Parser pulls bytes through ReadEvent and reports every element through ElementEvent
// (and its header through HeaderEvent); it keeps no tree of its own: the tag tree
// (crypto/base/SBASN1Tree.h) builds nodes from the events. A sketch of what it reports for
// 30 03 02 01 05: the SEQUENCE's header and element, the INTEGER's header and element with
// content 05, then the SEQUENCE's end signal (tag-number length 0).
//
// What must stay true, whatever the input claims:
// - a length never makes it allocate or read more than the source actually delivers (contents
//   are read in bounded chunks), and a length that does not fit a signed 64-bit number fails;
// - nesting deeper than MaxDepth fails instead of exhausting the stack;
// - a primitive BIT STRING must carry its unused-bits octet (0 to 7);
// - tag numbers of 31 and above are delivered whole (up to 64 bits).
// Every structural error is an EASN1Error; a source that delivers fewer bytes than an element
// needs is an EASN1ReadError. Nothing is returned half-way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "crypto/base/SBUtils.h"

RTL_EXCEPTION(EASN1Error, rtl::Exception);
RTL_EXCEPTION(EASN1ReadError, rtl::Exception);

class TElASN1Parser {
public:
    // Copies up to size bytes into buffer and sets size to the number delivered.
    using TReadEvent = std::function<void(TElASN1Parser* sender, void* buffer, uint32_t& size)>;
    // tagClass 0-3, or 4 for an end-of-contents marker. content is null when the content was
    // skipped (or for constructed elements); the content of a universal INTEGER is handed over
    // in reverse byte order. tagNumber holds the tag number's bytes, least significant first;
    // tagNumberLength 0 marks the end signal of a constructed element.
    using TElementEvent = std::function<void(
        TElASN1Parser* sender, uint8_t tagClass, bool constructed, bool& report, uint8_t unusedBits,
        const void* content, int64_t contentSize, int tagNumberLength, const uint8_t* tagNumber)>;
    // headerSize counts every identifier and length octet.
    using THeaderEvent = std::function<void(TElASN1Parser* sender, uint8_t identifier, bool indefinite,
                                            int headerSize, int64_t contentSize)>;
    // Must skip exactly count bytes and leave count unchanged. When assigned it also receives
    // the contents of elements that are not reported (their bytes are never needed).
    using TSkipEvent = std::function<void(TElASN1Parser* sender, int64_t& count)>;

    // Elements nested deeper than this fail the parse.
    static constexpr int MaxDepth = 64;

    TReadEvent ReadEvent;
    TElementEvent ElementEvent;
    THeaderEvent HeaderEvent;
    TSkipEvent SkipEvent;
    bool ReportEndOfContents = false;
    // 0: every primitive content is read into memory; otherwise larger contents (INTEGERs
    // excepted) are passed to SkipEvent.
    int32_t MaxInMemorySize = 0;

    // Reads elements until the source runs dry.
    void Parse();
    // Size of the element read (identifier, length octets and everything inside), or -1 when
    // not even the identifier octet could be read.
    int64_t ReadElement(bool report);

private:
    int64_t ReadElementAt(bool report, int depth);
    // Asks for exactly n bytes; any other count raises EASN1ReadError.
    void ReadExact(void* buffer, size_t n);
    uint8_t ReadByte();
};

// ---------------------------------------------------------------------------------------------
// DER writers

// Below 0x80 one byte; otherwise 0x80 + n and the n big-endian bytes of the length, n minimal.
ByteString EncodeDERLength(uint64_t length);
ByteString EncodeDERTLV(uint8_t tag, std::string_view content);
ByteString EncodeDERPrimitive(uint8_t tag, std::string_view content);
// 30, the summed length, then the elements in order.
ByteString EncodeDERSequence(const std::vector<ByteString>& elements);
// The DER content of a non-negative INTEGER from big-endian magnitude bytes: leading zeros
// dropped, 00 for nothing left, 00 in front of a first byte with its top bit set.
ByteString DERIntegerContent(std::string_view magnitude);
// The INTEGER element of that content.
ByteString EncodeDERInteger(std::string_view magnitude, uint8_t tag = 0x02);
ByteString EncodeDERNull();
ByteString EncodeDEROctetString(std::string_view content);
