// crypto/base/SBASN1.cpp: the BER/DER element reader and the DER writers.
//
// ReadElement walks one element through explicit header states (identifier, high tag number,
// length, long length) and then its content: primitive contents are read in bounded chunks,
// constructed definite contents by reading nested elements until their sizes add up.
#include "crypto/base/SBASN1.h"

#include <algorithm>
#include <limits>

namespace {

// Contents are read at most this much at a time, so a claimed length only costs memory once
// the source has actually delivered the bytes.
constexpr size_t kReadChunk = 64 * 1024;
// Tag numbers are kept whole up to 64 bits; the base-128 form of such a number takes at most
// ten octets, and runs of leading zero groups are cut off at this many octets.
constexpr int kMaxTagOctets = 100;

}  // namespace

void TElASN1Parser::ReadExact(void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const uint32_t ask = uint32_t(std::min<size_t>(n, std::numeric_limits<uint32_t>::max()));
        uint32_t got = ask;
        ReadEvent(this, out, got);
        if (got != ask) throw EASN1ReadError("Invalid ASN1 sequence");
        out += ask;
        n -= ask;
    }
}

uint8_t TElASN1Parser::ReadByte() {
    uint8_t b = 0;
    ReadExact(&b, 1);
    return b;
}

void TElASN1Parser::Parse() {
    while (ReadElement(true) >= 0) {
    }
}

int64_t TElASN1Parser::ReadElement(bool report) {
    return ReadElementAt(report, 1);
}

int64_t TElASN1Parser::ReadElementAt(bool report, int depth) {
    if (depth > MaxDepth) throw EASN1Error("ASN1 nesting too deep");

    enum class State { Identifier, HighTag, Length, LongLength, Done };
    State state = State::Identifier;
    uint8_t identifier = 0;
    uint64_t tagNumber = 0;
    int tagOctets = 0;
    int64_t contentSize = 0;
    bool indefinite = false;
    int lengthOctets = 0;
    int64_t consumed = 0;  // bytes of this element read so far

    while (state != State::Done) {
        switch (state) {
            case State::Identifier: {
                uint32_t got = 1;
                ReadEvent(this, &identifier, got);
                if (got != 1) return -1;
                consumed = 1;
                if (identifier == 0x00) {
                    // End-of-contents marker: 00 00.
                    const uint8_t second = ReadByte();
                    if (second != 0x00) throw EASN1Error("Invalid ASN1 Sequence");
                    if (ReportEndOfContents && report && ElementEvent)
                        ElementEvent(this, 4, false, report, 0, nullptr, 0, 1, &identifier);
                    return 2;
                }
                if ((identifier & 0x1F) == 0x1F) {
                    state = State::HighTag;
                } else {
                    tagNumber = identifier & 0x1F;
                    state = State::Length;
                }
                break;
            }
            case State::HighTag: {
                const uint8_t b = ReadByte();
                ++consumed;
                if (++tagOctets > kMaxTagOctets || tagNumber > (std::numeric_limits<uint64_t>::max() >> 7))
                    throw EASN1Error("Tag size too large");
                tagNumber = (tagNumber << 7) | (b & 0x7F);
                if (!(b & 0x80)) state = State::Length;
                break;
            }
            case State::Length: {
                const uint8_t b = ReadByte();
                ++consumed;
                if (b < 0x80) {
                    contentSize = b;
                    state = State::Done;
                } else if (b == 0x80) {
                    if (!(identifier & 0x20)) throw EASN1Error("Invalid ASN1 sequence");
                    indefinite = true;
                    state = State::Done;
                } else {
                    lengthOctets = b & 0x7F;
                    if (lengthOctets > 8) throw EASN1Error("Block size too large");
                    state = State::LongLength;
                }
                break;
            }
            case State::LongLength: {
                uint8_t octets[8];
                ReadExact(octets, size_t(lengthOctets));
                consumed += lengthOctets;
                uint64_t v = 0;
                for (int i = 0; i < lengthOctets; ++i)
                    v = (v << 8) | octets[i];
                // A length beyond the signed range would read as negative further on.
                if (v > uint64_t(std::numeric_limits<int64_t>::max()))
                    throw EASN1Error("Block size too large");
                contentSize = int64_t(v);
                state = State::Done;
                break;
            }
            case State::Done:
                break;
        }
    }

    const int headerSize = int(consumed);
    const uint8_t tagClass = identifier >> 6;
    const bool constructed = (identifier & 0x20) != 0;

    // Tag number bytes, least significant first, at least one.
    uint8_t tagBytes[8];
    int tagLength = 0;
    {
        uint64_t t = tagNumber;
        do {
            tagBytes[tagLength++] = uint8_t(t);
            t >>= 8;
        } while (t != 0);
    }

    uint8_t unusedBits = 0;
    if (!constructed && tagClass == 0 && tagNumber == 3) {
        // A BIT STRING starts with its count of unused bits; without that octet the element is
        // malformed (and its remaining size would go negative).
        if (contentSize < 1) throw EASN1Error("Invalid ASN1 sequence");
        unusedBits = ReadByte();
        if (unusedBits > 7) throw EASN1Error("Invalid ASN1 sequence");
        ++consumed;
        --contentSize;
    }

    if (HeaderEvent) HeaderEvent(this, identifier, indefinite, headerSize, contentSize);

    std::vector<uint8_t> content;
    bool skipped = false;
    if (!constructed && contentSize > 0) {
        // Content nobody will see (a silenced element) is skipped rather than copied, so a
        // tree re-reading nested contents does not copy them once per level.
        const bool unseen = !(report && ElementEvent) && SkipEvent;
        if (unseen || (MaxInMemorySize != 0 && contentSize > MaxInMemorySize && tagNumber != 2)) {
            int64_t count = contentSize;
            if (SkipEvent) SkipEvent(this, count);
            if (!SkipEvent || count != contentSize) throw EASN1ReadError("Invalid ASN1 sequence");
            skipped = true;
        } else {
            while (int64_t(content.size()) < contentSize) {
                const size_t have = content.size();
                const size_t n = size_t(std::min<int64_t>(contentSize - int64_t(have), int64_t(kReadChunk)));
                content.resize(have + n);
                ReadExact(content.data() + have, n);
            }
            if (tagClass == 0 && tagNumber == 2) std::reverse(content.begin(), content.end());
        }
        consumed += contentSize;
    }

    if (report && ElementEvent) {
        const void* data = constructed || skipped ? nullptr : content.data();
        ElementEvent(this, tagClass, constructed, report, unusedBits, data, contentSize, tagLength, tagBytes);
    }
    content.clear();
    content.shrink_to_fit();

    if (constructed && contentSize > 0) {
        int64_t sum = 0;
        for (;;) {
            if (sum == contentSize) break;
            if (sum > contentSize) throw EASN1Error("Invalid stream data");
            const int64_t n = ReadElementAt(report, depth + 1);
            if (n < 0) throw EASN1Error("Unexpected stream end");
            sum += n;
        }
        if (report && ElementEvent) ElementEvent(this, 0, false, report, 0, nullptr, 0, 0, nullptr);
        consumed += sum;
    }
    return consumed;
}

// ---------------------------------------------------------------------------------------------
// DER writers

ByteString EncodeDERLength(uint64_t length) {
    if (length < 0x80) return ByteString(1, char(length));
    ByteString octets;
    for (uint64_t v = length; v != 0; v >>= 8)
        octets.insert(octets.begin(), char(uint8_t(v)));
    return char(0x80 | octets.size()) + octets;
}

ByteString EncodeDERTLV(uint8_t tag, std::string_view content) {
    ByteString r(1, char(tag));
    r += EncodeDERLength(content.size());
    r += content;
    return r;
}

ByteString EncodeDERPrimitive(uint8_t tag, std::string_view content) {
    return EncodeDERTLV(tag, content);
}

ByteString EncodeDERSequence(const std::vector<ByteString>& elements) {
    ByteString body;
    for (const auto& e : elements)
        body += e;
    return EncodeDERTLV(0x30, body);
}

ByteString DERIntegerContent(std::string_view magnitude) {
    size_t first = 0;
    while (first < magnitude.size() && magnitude[first] == '\0')
        ++first;
    ByteString content(magnitude.substr(first));
    if (content.empty() || (uint8_t(content[0]) & 0x80)) content.insert(content.begin(), '\0');
    return content;
}

ByteString EncodeDERInteger(std::string_view magnitude, uint8_t tag) {
    return EncodeDERTLV(tag, DERIntegerContent(magnitude));
}

ByteString EncodeDERNull() {
    return ByteString("\x05\x00", 2);
}

ByteString EncodeDEROctetString(std::string_view content) {
    return EncodeDERTLV(0x04, content);
}
