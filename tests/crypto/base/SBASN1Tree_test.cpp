// The ASN.1 tag tree: structure, offsets and sizes of loaded nodes, byte-exact round trips of
// DER and BER, hostile inputs (which must fail the load, never crash or over-read), stream loads
// with contents left in the stream, and the INTEGER routines.
#include "crypto/base/SBASN1Tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/ASN1TestSupport.h"
#include "rtl/Stream.h"

using asn1test::H;
using asn1test::Hex;
using asn1test::Nested;
using asn1test::Save;

namespace {

const TElASN1ConstrainedTag& C(const TElASN1CustomTag* t) {
    return dynamic_cast<const TElASN1ConstrainedTag&>(*t);
}
const TElASN1SimpleTag& S(const TElASN1CustomTag* t) {
    return dynamic_cast<const TElASN1SimpleTag&>(*t);
}

// "offset/header/size tag" for every node, in pre-order, with two spaces per level.
std::string Layout(const TElASN1ConstrainedTag& root) {
    std::string out;
    asn1test::Walk(root, [&out](const TElASN1CustomTag& t, int depth) {
        out += std::string(size_t(depth) * 2, ' ') + std::to_string(t.ElementOffset) + "/" +
               std::to_string(t.HeaderSize) + "/" + std::to_string(t.ElementSize) + " " +
               Hex(std::string(1, char(t.TagByte))) + "\n";
    });
    return out;
}

// Loads bytes into a fresh root and saves every top-level child back.
std::string RoundTrip(const std::string& bytes, bool* loaded = nullptr) {
    TElASN1ConstrainedTag root;
    const bool ok = root.LoadFromBuffer(bytes.data(), bytes.size());
    if (loaded) *loaded = ok;
    std::string out;
    for (int i = 0; i < root.GetCount(); ++i)
        out += Save(*root.GetChild(i));
    return out;
}

}  // namespace

TEST(SBASN1Tree, LoadsStructureWithOffsetsAndSizes) {
    TElASN1ConstrainedTag root;
    const std::string in = H("30 03 02 01 05");
    ASSERT_TRUE(root.LoadFromBuffer(in.data(), in.size()));
    ASSERT_EQ(root.GetCount(), 1);
    const auto& seq = C(root.GetChild(0));
    EXPECT_TRUE(seq.CheckType(0x30, true));
    EXPECT_EQ(seq.ElementOffset, 0);
    EXPECT_EQ(seq.ElementSize, 5);
    EXPECT_EQ(seq.HeaderSize, 2);
    ASSERT_EQ(seq.GetCount(), 1);
    const auto& integer = S(seq.GetChild(0));
    EXPECT_TRUE(integer.CheckType(0x02, false));
    EXPECT_EQ(Hex(integer.GetContent()), "05");
    EXPECT_EQ(integer.ElementOffset, 2);
    EXPECT_EQ(integer.ElementSize, 3);
    EXPECT_EQ(seq.GetChild(1), nullptr);
    EXPECT_EQ(seq.GetChild(-1), nullptr);
}

TEST(SBASN1Tree, OffsetsCountFromTheOutermostBufferAtEveryDepth) {
    struct Case {
        const char* input;
        const char* layout;
    } cases[] = {
        {"30 08 30 06 04 01 AA 03 01 00", "0/2/10 30\n  2/2/8 30\n    4/2/3 04\n    7/2/3 03\n"},
        {"02 01 01 30 05 A0 03 02 01 07", "0/2/3 02\n3/2/7 30\n  5/2/5 A0\n    7/2/3 02\n"},
        // Children of indefinite-length elements sit where they are, and an indefinite element's
        // size runs to the end of its end-of-contents marker.
        {"30 80 30 80 02 01 05 00 00 00 00", "0/2/11 30\n  2/2/7 30\n    4/2/3 02\n"},
        {"30 0A 30 80 02 01 05 00 00 04 01 AA", "0/2/12 30\n  2/2/7 30\n    4/2/3 02\n  9/2/3 04\n"},
        // The header size counts every identifier octet of a high tag number.
        {"30 07 5F 82 2C 01 07 05 00", "0/2/9 30\n  2/4/5 5F\n  7/2/2 05\n"},
        {"04 82 01 00" /* followed by 256 bytes below */, "0/4/260 04\n"},
        // Only a universal BIT STRING has an unused-bits octet; a primitive [3] is laid out plainly.
        {"30 07 83 01 AA 03 02 00 BB", "0/2/9 30\n  2/2/3 83\n  5/2/4 03\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::string in = H(c.input);
        if (in.size() == 4) in += std::string(256, 'x');
        TElASN1ConstrainedTag root;
        ASSERT_TRUE(root.LoadFromBuffer(in.data(), in.size()));
        EXPECT_EQ(Layout(root), c.layout);
    }
}

TEST(SBASN1Tree, SavesBackTheBytesItLoaded) {
    const char* cases[] = {
        "30 03 02 01 05",
        "30 00",
        "05 00",
        "02 02 00 80",
        "02 01 FF",
        // BIT STRINGs keep their unused-bits count.
        "03 02 06 40",
        "03 01 00",
        "30 06 03 04 07 AA BB 80",
        // Indefinite lengths are written back as they were read.
        "30 80 02 01 05 00 00",
        "24 80 04 02 61 62 04 01 63 00 00",
        "30 80 30 80 00 00 30 00 00 00",
        // High tag numbers survive whole: [APPLICATION 300], [31] constructed, universal 0x4000.
        "5F 82 2C 01 07",
        "BF 1F 03 02 01 05",
        "1F 81 80 00 00",
        "7F 81 FF FF FF FF FF FF FF FF 7F 00",
        // Universal tag 2 written in the long form is still an INTEGER: its bytes keep their order.
        "1F 02 02 01 02",
        // Several top-level elements.
        "02 01 01 02 01 02 05 00",
        "A0 80 A1 80 80 01 FF 00 00 00 00",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        bool loaded = false;
        EXPECT_EQ(Hex(RoundTrip(H(c), &loaded)), Hex(H(c)));
        EXPECT_TRUE(loaded);
    }
}

TEST(SBASN1Tree, BitStringContentStartsWithItsUnusedBitsCount) {
    TElASN1ConstrainedTag root;
    const std::string in = H("03 02 06 40");
    ASSERT_TRUE(root.LoadFromBuffer(in.data(), in.size()));
    const auto& bits = S(root.GetChild(0));
    EXPECT_EQ(Hex(bits.GetContent()), "0640");
    EXPECT_EQ(bits.ElementOffset, 0);
    EXPECT_EQ(bits.ElementSize, 4);
    EXPECT_EQ(bits.HeaderSize, 2);
}

TEST(SBASN1Tree, HighTagNumbersAreKeptWhole) {
    TElASN1ConstrainedTag root;
    const std::string in = H("5F 82 2C 01 07 9F 1F 00 BF 83 00 00");
    ASSERT_TRUE(root.LoadFromBuffer(in.data(), in.size()));
    ASSERT_EQ(root.GetCount(), 3);
    EXPECT_EQ(root.GetChild(0)->TagByte, 0x5F);
    EXPECT_EQ(root.GetChild(0)->GetTagNumber(), 300u);
    EXPECT_EQ(root.GetChild(1)->GetTagNumber(), 31u);
    EXPECT_EQ(root.GetChild(2)->GetTagNumber(), 384u);
    EXPECT_TRUE(root.GetChild(2)->IsConstrained());
    // Universal 0x102 must not pass for an INTEGER (tag 2).
    const std::string high = H("1F 82 02 01 05");
    TElASN1ConstrainedTag r2;
    ASSERT_TRUE(r2.LoadFromBuffer(high.data(), high.size()));
    EXPECT_FALSE(r2.GetChild(0)->CheckType(0x02, false));
    EXPECT_EQ(Hex(S(r2.GetChild(0)).GetContent()), "05");
}

TEST(SBASN1Tree, AnEmptyIntegerReadsAsZero) {
    bool loaded = false;
    EXPECT_EQ(Hex(RoundTrip(H("02 00"), &loaded)), "020100");
    EXPECT_TRUE(loaded);
}

TEST(SBASN1Tree, HostileInputsFailTheLoad) {
    struct Case {
        std::string name;
        std::string input;
        // What LoadOneFromBuffer answers: it looks no further than the first element.
        int64_t one = -1;
    } cases[] = {
        {"length beyond the input", H("30 84 7F FF FF FF 02 01 05")},
        {"primitive length beyond the input", H("04 84 00 10 00 00 41 42")},
        {"length just one past the input", H("30 04 02 01 05")},
        {"negative length", H("04 88 FF FF FF FF FF FF FF F0 00")},
        {"nine length octets", H("04 89 00 00 00 00 00 00 00 00 01 00")},
        {"empty BIT STRING", H("03 00")},
        {"empty BIT STRING inside a SEQUENCE", H("30 02 03 00")},
        {"unused-bits count above 7", H("03 02 09 00")},
        {"primitive of indefinite length", H("04 80 61 00 00")},
        {"end-of-contents with nothing open", H("02 01 05 00 00"), 3},
        {"end-of-contents inside a definite SEQUENCE", H("30 05 02 01 05 00 00")},
        {"indefinite element never closed", H("30 80 02 01 05")},
        {"indefinite element closed only in part", H("30 80 30 80 02 01 05 00 00")},
        {"nested element past its parent", H("30 03 02 02 05 00")},
        {"tag number beyond 64 bits", H("1F FF FF FF FF FF FF FF FF FF FF 7F 00")},
        {"65 definite levels", Nested(64, H("05 00"))},
        {"65 indefinite levels",
         [] {
             std::string s;
             for (int i = 0; i < 65; ++i)
                 s += H("30 80");
             for (int i = 0; i < 65; ++i)
                 s += H("00 00");
             return s;
         }()},
        {"indefinite inside 63 definite levels", Nested(63, H("30 80 05 00 00 00"))},
        {"100000 open indefinite levels",
         [] {
             std::string s;
             for (int i = 0; i < 100000; ++i)
                 s += H("30 80");
             return s;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElASN1ConstrainedTag root;
        EXPECT_FALSE(root.LoadFromBuffer(c.input.data(), c.input.size()));
        TElASN1ConstrainedTag one;
        EXPECT_EQ(one.LoadOneFromBuffer(c.input.data(), c.input.size()), c.one);
    }
    // The deepest nesting allowed still loads.
    const std::string deep = Nested(63, H("05 00"));
    TElASN1ConstrainedTag root;
    EXPECT_TRUE(root.LoadFromBuffer(deep.data(), deep.size()));
}

TEST(SBASN1Tree, AFailedLoadKeepsWhatWasBuiltBeforeTheFailure) {
    TElASN1ConstrainedTag root;
    const std::string in = H("02 01 07 30 05 02 01 05");
    EXPECT_FALSE(root.LoadFromBuffer(in.data(), in.size()));
    ASSERT_EQ(root.GetCount(), 1);
    EXPECT_EQ(Hex(S(root.GetChild(0)).GetContent()), "07");
    // Loading appends; callers clear first.
    const std::string ok = H("05 00");
    EXPECT_TRUE(root.LoadFromBuffer(ok.data(), ok.size()));
    EXPECT_EQ(root.GetCount(), 2);
    root.Clear();
    EXPECT_EQ(root.GetCount(), 0);
}

TEST(SBASN1Tree, LoadOneFromBufferStopsAfterTheFirstElement) {
    struct Case {
        const char* input;
        int64_t consumed;
    } cases[] = {
        {"30 03 02 01 05 FF FF", 5},
        {"02 01 05 FF FF", 3},
        {"30 80 02 01 05 00 00 FF", 7},
        {"30 00 FF", 2},
        {"03 02 00 FF 01", 4},
        {"", -1},
        {"30 05 02 01", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string in = H(c.input);
        TElASN1ConstrainedTag root;
        EXPECT_EQ(root.LoadOneFromBuffer(in.data(), in.size()), c.consumed);
        if (c.consumed > 0) {
            EXPECT_EQ(root.GetCount(), 1);
        }
    }
}

TEST(SBASN1Tree, WritingFormsAndSizes) {
    TElASN1SimpleTag bare;
    bare.TagByte = 0x04;
    bare.EmitHeader = false;
    bare.SetContent("abc");
    EXPECT_EQ(Save(bare), "abc");
    EXPECT_EQ(bare.GetEncodedSize(), 3);

    TElASN1SimpleTag indefinite;
    indefinite.TagByte = 0x04;
    indefinite.IndefiniteLength = true;
    indefinite.SetContent("ab");
    EXPECT_EQ(Hex(Save(indefinite)), "048061620000");
    EXPECT_EQ(indefinite.GetEncodedSize(), 6);

    struct Case {
        size_t size;
        const char* lengthOctets;
    } cases[] = {{0, "00"}, {127, "7F"}, {128, "8180"}, {200, "81C8"}, {70000, "83011170"}};
    for (const auto& c : cases) {
        TElASN1SimpleTag t;
        t.TagByte = 0x04;
        t.SetContent(std::string(c.size, 'y'));
        const std::string out = Save(t);
        const std::string header = H(std::string("04 ") + c.lengthOctets);
        EXPECT_EQ(Hex(out.substr(0, header.size())), Hex(header));
        EXPECT_EQ(int64_t(out.size()), t.GetEncodedSize());
    }

    // The size protocol: a short buffer answers false and the size needed.
    TElASN1ConstrainedTag seq;
    seq.TagByte = 0x30;
    WriteTagInteger(static_cast<TElASN1SimpleTag&>(*seq.GetChild(seq.AddChild(false))), 5);
    char small[4];
    size_t size = sizeof(small);
    EXPECT_FALSE(seq.SaveToBuffer(small, size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(Hex(Save(seq)), "3003020105");
    seq.EmitHeader = false;
    EXPECT_EQ(Hex(Save(seq)), "020105");
}

TEST(SBASN1Tree, ChildrenCanBeAddedRemovedAndJoined) {
    TElASN1ConstrainedTag octets;
    octets.TagByte = 0x24;
    for (const char* part : {"ab", "", "cde"}) {
        auto& t = static_cast<TElASN1SimpleTag&>(*octets.GetChild(octets.AddChild(false)));
        t.TagByte = 0x04;
        t.SetContent(part);
    }
    EXPECT_EQ(octets.GetCount(), 3);
    size_t size = 0;
    EXPECT_FALSE(octets.GetJoinedContent(nullptr, size));
    EXPECT_EQ(size, 5u);
    std::string joined(size, '\0');
    EXPECT_TRUE(octets.GetJoinedContent(joined.data(), size));
    EXPECT_EQ(joined, "abcde");
    EXPECT_TRUE(octets.RemoveChild(1));
    EXPECT_FALSE(octets.RemoveChild(2));
    EXPECT_EQ(octets.GetCount(), 2);
    octets.AddChild(true);
    size = 100;
    EXPECT_FALSE(octets.GetJoinedContent(joined.data(), size));
    EXPECT_EQ(size, 100u);  // untouched when a child is constructed
}

TEST(SBASN1Tree, IntegerRoutines) {
    struct Case {
        uint32_t value;
        const char* content;
    } cases[] = {{0, "00"},
                 {5, "05"},
                 {127, "7F"},
                 {128, "0080"},
                 {256, "0100"},
                 {0x7FFFFFFF, "7FFFFFFF"},
                 {0x80000000, "0080000000"},
                 {0xFFFFFFFF, "00FFFFFFFF"}};
    for (const auto& c : cases) {
        TElASN1SimpleTag t;
        WriteTagInteger(t, c.value);
        EXPECT_EQ(t.TagByte, 0x02);
        EXPECT_EQ(Hex(t.GetContent()), c.content);
        EXPECT_EQ(ReadTagInteger(t), c.value);
    }
    TElASN1SimpleTag t;
    t.SetContent(H("00 80 00 00 00"));
    EXPECT_EQ(ReadTagInteger(t), 0x80000000u);
    t.SetContent(H("01 02"));
    EXPECT_EQ(ReadTagInteger(t), 0x102u);
    // DER INTEGERs are minimal: padding goes, 00 comes only before a top bit.
    const struct {
        const char* bytes;
        const char* content;
    } byteCases[] = {{"00 00 FF", "00FF"}, {"FF", "00FF"}, {"00 01", "01"},  {"00 7F 00", "7F00"},
                     {"00 00", "00"},      {"", "00"},     {"01 00", "0100"}};
    for (const auto& c : byteCases) {
        SCOPED_TRACE(c.bytes);
        const std::string b = H(c.bytes);
        WriteTagIntegerBytes(t, b.data(), b.size());
        EXPECT_EQ(t.TagByte, 0x02);
        EXPECT_EQ(Hex(t.GetContent()), c.content);
    }
}

TEST(SBASN1Tree, BoundedIntegersRefuseNegativeEmptyAndOversizedCounts) {
    const struct {
        const char* content;
        bool ok;
        uint32_t value;
    } cases[] = {{"00", true, 0},
                 {"0800", true, 2048},
                 {"00 00 00 00 00 00 98 96 80", true, 10000000},  // padded, still the limit
                 {"98 96 81", false, 0},                          // 10000001 reads as negative
                 {"00 98 96 81", false, 0},                       // one above the limit
                 {"00 FF FF FF FF FF FF FF FF FF", false, 0},     // far past 64 bits
                 {"80", false, 0},                                // -128
                 {"", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        TElASN1SimpleTag t;
        t.SetContent(H(c.content));
        uint32_t v = 77;
        EXPECT_EQ(ReadTagIntegerBounded(t, 10000000, v), c.ok);
        EXPECT_EQ(v, c.ok ? c.value : 77u);
    }
}

TEST(SBASN1Tree, WipeTagTreeEmptiesEveryContent) {
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(root.LoadFromBuffer(H("3009 0201 05 3004 0402 ABCD").data(), 11));
    WipeTagTree(root);
    // The structure stays; every primitive content is gone.
    EXPECT_EQ(Hex(Save(*root.GetChild(0))), "3006020030020400");
}

TEST(SBASN1Tree, StreamLoadsLeaveLargeContentsInTheStream) {
    const std::string big(100000, 'B');
    const std::string der =
        EncodeDERSequence({EncodeDERInteger(std::string(300, '\x11')), EncodeDEROctetString(big),
                           EncodeDERTLV(0x03, std::string("\x00", 1) + big)});
    rtl::MemoryStream stream("pre" + der + "post");
    stream.SetPosition(3);
    TElASN1ConstrainedTag root;
    root.MaxInMemorySize = 1000;
    ASSERT_TRUE(root.LoadFromStream(stream, int64_t(der.size())));
    ASSERT_EQ(root.GetCount(), 1);
    const auto& seq = C(root.GetChild(0));
    ASSERT_EQ(seq.GetCount(), 3);
    EXPECT_EQ(seq.ElementOffset, 3);  // stream positions
    const auto& integer = S(seq.GetChild(0));
    EXPECT_FALSE(integer.DataSource().IsStreamWindow());  // INTEGERs are always read
    const auto& octets = S(seq.GetChild(1));
    EXPECT_TRUE(octets.DataSource().IsStreamWindow());
    EXPECT_EQ(octets.DataSource().GetSize(), 100000);
    EXPECT_EQ(octets.GetContent(), big);
    const auto& bits = S(seq.GetChild(2));
    EXPECT_TRUE(bits.DataSource().IsStreamWindow());
    EXPECT_EQ(bits.GetContent(), std::string("\x00", 1) + big);

    rtl::MemoryStream out;
    seq.SaveToStream(out);
    EXPECT_EQ(out.Data(), der);
    EXPECT_EQ(Save(seq), der);

    // The same bytes from memory land in memory, with the same layout relative to the start.
    TElASN1ConstrainedTag fromBuffer;
    ASSERT_TRUE(fromBuffer.LoadFromBuffer(der.data(), der.size()));
    EXPECT_EQ(S(C(fromBuffer.GetChild(0)).GetChild(2)).GetContent(), bits.GetContent());
}

TEST(SBASN1Tree, StreamLoadsRefuseWhatTheBufferLoadsRefuse) {
    for (const char* bad : {"30 84 7F FF FF FF 02 01 05", "03 00", "30 80 02 01 05", "02 01 05 00 00"}) {
        SCOPED_TRACE(bad);
        rtl::MemoryStream stream(H(bad));
        TElASN1ConstrainedTag root;
        EXPECT_FALSE(root.LoadFromStream(stream));
    }
    // count limits the input even when the stream goes on.
    rtl::MemoryStream stream(H("30 03 02 01 05 05 00"));
    TElASN1ConstrainedTag root;
    EXPECT_FALSE(root.LoadFromStream(stream, 4));
    stream.SetPosition(0);
    TElASN1ConstrainedTag whole;
    EXPECT_TRUE(whole.LoadFromStream(stream, 0));
    EXPECT_EQ(whole.GetCount(), 2);
}

TEST(SBASN1Tree, DataSourceWindowsAndCopies) {
    rtl::MemoryStream stream("0123456789");
    TElASN1DataSource window;
    window.AssignStream(&stream, 4, 0);
    EXPECT_EQ(window.GetSize(), 6);
    EXPECT_EQ(window.ReadString(), "456789");
    char buf[8] = {};
    EXPECT_EQ(window.Read(buf, 8, 4), 2);
    EXPECT_EQ(std::string(buf, 2), "89");
    EXPECT_EQ(window.Read(buf, 8, 6), 0);
    TElASN1DataSource copy;
    window.CopyTo(copy);
    EXPECT_TRUE(copy.IsStreamWindow());
    EXPECT_EQ(copy.ReadString(), "456789");
    copy.AssignBuffer("xy", 2);
    EXPECT_FALSE(copy.IsStreamWindow());
    EXPECT_EQ(copy.ReadString(), "xy");
    EXPECT_EQ(window.ReadString(), "456789");
}
