// The BER/DER element reader (its events, in order) and the DER writers; hostile lengths,
// nesting and tags as a table of inputs with the error each must raise.
#include "crypto/base/SBASN1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/ASN1TestSupport.h"

using asn1test::H;
using asn1test::Hex;
using asn1test::Nested;

namespace {

// Runs a parser over a buffer, recording every event as a line of text.
struct Recorder {
    std::string input;
    size_t pos = 0;
    uint32_t largestRequest = 0;
    std::vector<std::string> events;
    TElASN1Parser parser;

    explicit Recorder(std::string bytes, bool reportEoc = true) : input(std::move(bytes)) {
        parser.ReportEndOfContents = reportEoc;
        parser.ReadEvent = [this](TElASN1Parser*, void* buffer, uint32_t& size) {
            largestRequest = std::max(largestRequest, size);
            const size_t n = std::min<size_t>(size, input.size() - pos);
            std::memcpy(buffer, input.data() + pos, n);
            pos += n;
            size = uint32_t(n);
        };
        parser.HeaderEvent = [this](TElASN1Parser*, uint8_t id, bool indefinite, int headerSize,
                                    int64_t size) {
            events.push_back("H " + Hex(std::string(1, char(id))) + (indefinite ? " inf" : "") +
                             " hl=" + std::to_string(headerSize) + " l=" + std::to_string(size));
        };
        parser.ElementEvent = [this](TElASN1Parser*, uint8_t cls, bool constructed, bool&, uint8_t unused,
                                     const void* content, int64_t size, int tagLen, const uint8_t* tag) {
            if (tagLen == 0) {
                events.push_back("END");
                return;
            }
            std::string e = "E c=" + std::to_string(cls) + (constructed ? " cons" : " prim") +
                            " tag=" + Hex(std::string(reinterpret_cast<const char*>(tag), size_t(tagLen)));
            if (unused) e += " unused=" + std::to_string(unused);
            if (content) e += " " + Hex(std::string(static_cast<const char*>(content), size_t(size)));
            events.push_back(e);
        };
    }
};

// The class and message of what Parse raised, or "ok".
std::string ParseOutcome(const std::string& bytes) {
    Recorder r(bytes);
    try {
        r.parser.Parse();
        return "ok";
    } catch (const EASN1ReadError& e) {
        return std::string("EASN1ReadError: ") + e.Message();
    } catch (const EASN1Error& e) {
        return std::string("EASN1Error: ") + e.Message();
    }
}

}  // namespace

TEST(SBASN1Parser, ReportsHeadersElementsAndEndSignalsInOrder) {
    Recorder r(H("30 03 02 01 05"));
    EXPECT_EQ(r.parser.ReadElement(true), 5);
    const std::vector<std::string> want = {"H 30 hl=2 l=3", "E c=0 cons tag=10", "H 02 hl=2 l=1",
                                           "E c=0 prim tag=02 05", "END"};
    EXPECT_EQ(r.events, want);
    EXPECT_EQ(r.parser.ReadElement(true), -1);
}

TEST(SBASN1Parser, ContentFormsAsHandedOver) {
    struct Case {
        const char* input;
        std::vector<std::string> events;
    } cases[] = {
        // INTEGER contents arrive last byte first.
        {"02 02 01 00", {"H 02 hl=2 l=2", "E c=0 prim tag=02 0001"}},
        // A BIT STRING's unused-bits count comes separately, the content after it.
        {"03 02 06 40", {"H 03 hl=2 l=1", "E c=0 prim tag=03 unused=6 40"}},
        // Indefinite length: contents and end-of-contents follow as separate elements.
        {"30 80 02 01 05 00 00",
         {"H 30 inf hl=2 l=0", "E c=0 cons tag=10", "H 02 hl=2 l=1", "E c=0 prim tag=02 05",
          "E c=4 prim tag=00"}},
        // High tag numbers are delivered whole, least significant byte first: [APPLICATION 300].
        {"5F 82 2C 01 07", {"H 5F hl=4 l=1", "E c=1 prim tag=2C01 07"}},
        // Long-form length; the header size counts every octet.
        {"04 81 01 AA", {"H 04 hl=3 l=1", "E c=0 prim tag=04 AA"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Recorder r(H(c.input));
        r.parser.Parse();
        EXPECT_EQ(r.events, c.events);
    }
}

TEST(SBASN1Parser, ClearingTheReportFlagSilencesTheNestedElements) {
    Recorder r(H("30 06 02 01 05 02 01 06 02 01 07"));
    r.parser.ElementEvent = [&r](TElASN1Parser*, uint8_t, bool constructed, bool& report, uint8_t,
                                 const void*, int64_t, int tagLen, const uint8_t*) {
        r.events.push_back(tagLen == 0 ? "END" : constructed ? "SEQ" : "PRIM");
        if (constructed) report = false;
    };
    r.parser.Parse();
    const std::vector<std::string> want = {"H 30 hl=2 l=6", "SEQ",           "H 02 hl=2 l=1",
                                           "H 02 hl=2 l=1", "H 02 hl=2 l=1", "PRIM"};
    EXPECT_EQ(r.events, want);
}

TEST(SBASN1Parser, SilencedContentsGoToTheSkipEventWhenThereIsOne) {
    Recorder r(H("30 09 04 03 61 62 63 30 02 05 00"));
    std::vector<int64_t> skips;
    r.parser.SkipEvent = [&r, &skips](TElASN1Parser*, int64_t& count) {
        skips.push_back(count);
        r.pos += size_t(count);
    };
    r.parser.ElementEvent = [](TElASN1Parser*, uint8_t, bool constructed, bool& report, uint8_t, const void*,
                               int64_t, int, const uint8_t*) {
        if (constructed) report = false;
    };
    EXPECT_EQ(r.parser.ReadElement(true), 11);
    EXPECT_EQ(skips, std::vector<int64_t>{3});
    EXPECT_EQ(r.pos, 11u);
}

TEST(SBASN1Parser, MalformedAndHostileInputsRaiseTheirErrors) {
    struct Case {
        std::string name;
        std::string input;
        std::string outcome;
    } cases[] = {
        {"well formed", H("30 03 02 01 05"), "ok"},
        {"primitive of indefinite length", H("04 80 00 00"), "EASN1Error: Invalid ASN1 sequence"},
        {"nine length octets", H("30 89 01 01 01 01 01 01 01 01 01"), "EASN1Error: Block size too large"},
        {"negative length", H("04 88 80 00 00 00 00 00 00 00"), "EASN1Error: Block size too large"},
        {"end-of-contents not 00 00", H("00 01"), "EASN1Error: Invalid ASN1 Sequence"},
        {"nested element short of its parent", H("30 05 02 01 05"), "EASN1Error: Unexpected stream end"},
        {"nested element past its parent", H("30 03 02 02 05 00"), "EASN1Error: Invalid stream data"},
        {"length beyond the input", H("04 84 7F FF FF FF 01 02 03"), "EASN1ReadError: Invalid ASN1 sequence"},
        {"truncated length octets", H("04 82 01"), "EASN1ReadError: Invalid ASN1 sequence"},
        {"truncated high tag", H("1F 81"), "EASN1ReadError: Invalid ASN1 sequence"},
        {"empty BIT STRING", H("03 00"), "EASN1Error: Invalid ASN1 sequence"},
        {"empty BIT STRING inside a SEQUENCE", H("30 02 03 00"), "EASN1Error: Invalid ASN1 sequence"},
        {"unused-bits count above 7", H("03 02 08 00"), "EASN1Error: Invalid ASN1 sequence"},
        {"tag number beyond 64 bits", H("1F FF FF FF FF FF FF FF FF FF FF 7F 00"),
         "EASN1Error: Tag size too large"},
        {"endless zero tag groups", "\x1F" + std::string(120, '\x80') + "\x01\x00",
         "EASN1Error: Tag size too large"},
        {"64 levels of nesting", Nested(63, H("05 00")), "ok"},
        {"65 levels of nesting", Nested(64, H("05 00")), "EASN1Error: ASN1 nesting too deep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseOutcome(c.input), c.outcome);
    }
}

// A claimed length costs memory only as the source delivers bytes: the parser never asks for
// more than a bounded chunk at once.
TEST(SBASN1Parser, HugeClaimedLengthIsReadInBoundedChunks) {
    Recorder r(H("04 88 7F FF FF FF FF FF FF FF") + std::string(100, 'x'));
    EXPECT_THROW(r.parser.Parse(), EASN1ReadError);
    EXPECT_LE(r.largestRequest, 64u * 1024u);
}

TEST(SBASN1Parser, LargeContentsSpanningSeveralChunksArriveWhole) {
    const std::string content(200000, 'q');
    Recorder r(EncodeDEROctetString(content));
    int64_t seen = -1;
    r.parser.ElementEvent = [&seen, &content](TElASN1Parser*, uint8_t, bool, bool&, uint8_t, const void* data,
                                              int64_t size, int, const uint8_t*) {
        if (size == int64_t(content.size()) && std::memcmp(data, content.data(), content.size()) == 0)
            seen = size;
    };
    r.parser.Parse();
    EXPECT_EQ(seen, 200000);
}

TEST(SBASN1Parser, ContentsAboveTheMemoryLimitAreSkippedButIntegersAreNot) {
    Recorder r(H("30 0A 04 03 01 02 03 02 03 01 02 03"));
    r.parser.MaxInMemorySize = 2;
    std::vector<int64_t> skips;
    r.parser.SkipEvent = [&r, &skips](TElASN1Parser*, int64_t& count) {
        skips.push_back(count);
        r.pos += size_t(count);
    };
    r.parser.Parse();
    EXPECT_EQ(skips, std::vector<int64_t>{3});
    EXPECT_EQ(r.events[3], "E c=0 prim tag=04");         // no content: skipped
    EXPECT_EQ(r.events[5], "E c=0 prim tag=02 030201");  // INTEGERs stay in memory
}

TEST(SBASN1Writers, LengthsIntegersAndElements) {
    struct Case {
        std::string got, want;
    } cases[] = {
        {EncodeDERLength(0), "00"},
        {EncodeDERLength(127), "7F"},
        {EncodeDERLength(128), "8180"},
        {EncodeDERLength(200), "81C8"},
        {EncodeDERLength(300), "82012C"},
        {EncodeDERLength(65535), "82FFFF"},
        // 65536 and above take the minimal long form instead of losing their high bits.
        {EncodeDERLength(65536), "83010000"},
        {EncodeDERLength(70000), "83011170"},
        {EncodeDERLength(0x100000000ull), "850100000000"},
        {EncodeDERInteger(H("00 00 80")), "02020080"},
        {EncodeDERInteger(""), "020100"},
        {EncodeDERInteger(H("00 00")), "020100"},
        {EncodeDERInteger(H("7F FF")), "02027FFF"},
        {EncodeDERInteger(H("01"), 0x80), "800101"},
        {EncodeDERNull(), "0500"},
        {EncodeDEROctetString("ab"), "04026162"},
        {EncodeDERPrimitive(0x0C, "x"), "0C0178"},
        {EncodeDERSequence({EncodeDERNull(), EncodeDERInteger(H("05"))}), "30050500020105"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(c.got), c.want);
}

TEST(SBASN1Writers, LongContentsReadBackThroughTheParser) {
    for (const size_t n : {size_t(127), size_t(128), size_t(65535), size_t(65536), size_t(70000)}) {
        SCOPED_TRACE(n);
        const std::string der = EncodeDEROctetString(std::string(n, 'z'));
        Recorder r(der);
        EXPECT_EQ(r.parser.ReadElement(true), int64_t(der.size()));
        EXPECT_EQ(r.pos, der.size());
    }
}
