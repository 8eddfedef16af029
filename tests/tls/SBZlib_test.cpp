// Tests of the compression facade: round trips through our own deflate and inflate, the
// level rule, the room check, the growing forms (a block that compresses to more than its
// size, a 100-fold inflation, the end of a stream past one finishing step) and the errors.
#include "tls/SBZlib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/TestSupport.h"

namespace {

std::string Pseudo(size_t n, uint32_t seed = 7) {
    std::string s(n, '\0');
    for (char& c : s)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    return s;
}

std::string Bytes(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

struct Deflater {
    TZStreamRec z{};
    explicit Deflater(int level) { EXPECT_EQ(InitCompression(z, level), Z_OK); }
    ~Deflater() { deflateEnd(&z); }
};
struct Inflater {
    TZStreamRec z{};
    Inflater() { EXPECT_EQ(InitDecompression(z), Z_OK); }
    ~Inflater() { EndDecompression(z); }
};

TEST(SBZlib, RoundTripInBlocksWithPartialFlushes) {
    const std::string text = Pseudo(50000) + std::string(200000, 'a') + "the end";
    Deflater d(9);
    Inflater i;
    std::vector<uint8_t> packed, out;
    std::string back;
    // Each block inflates on its own as soon as it arrives: that is what a MODE Z peer needs.
    for (size_t at = 0; at < text.size(); at += 1024) {
        const std::string block = text.substr(at, 1024);
        CompressData(d.z, block.data(), block.size(), packed);
        out.clear();
        DecompressData(i.z, packed.data(), packed.size(), out);
        EXPECT_TRUE(Bytes(out) == block) << "block at " << at;
        back += Bytes(out);
    }
    FinishCompression(d.z, packed);
    out.clear();
    DecompressData(i.z, packed.data(), packed.size(), out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(back == text);
}

TEST(SBZlib, IncompressibleBlockGrowsItsOutput) {
    // A compressed block can be larger than the block: the output grows to hold it.
    const std::string block = Pseudo(1024);
    Deflater d(6);
    std::vector<uint8_t> packed;
    CompressData(d.z, block.data(), block.size(), packed);
    EXPECT_GT(packed.size(), block.size());
    Inflater i;
    std::vector<uint8_t> out;
    DecompressData(i.z, packed.data(), packed.size(), out);
    EXPECT_TRUE(Bytes(out) == block);
}

TEST(SBZlib, LevelsOutsideOneToNineCompressAtSix) {
    const std::string text = Pseudo(4000, 3) + Pseudo(4000, 3) + std::string(30000, 'x') + Pseudo(9000, 5);
    auto compressed = [&](int level) {
        Deflater d(level);
        std::vector<uint8_t> a, b;
        CompressData(d.z, text.data(), text.size(), a);
        FinishCompression(d.z, b);
        a.insert(a.end(), b.begin(), b.end());
        return Bytes(a);
    };
    const std::string six = compressed(6);
    EXPECT_EQ(compressed(0), six);
    EXPECT_EQ(compressed(10), six);
    EXPECT_EQ(compressed(-3), six);
    EXPECT_NE(compressed(1), six);
}

TEST(SBZlib, DecompressIntoTooSmallRoomRaises) {
    const std::string text(10000, 'q');
    Deflater d(6);
    std::vector<uint8_t> packed;
    CompressData(d.z, text.data(), text.size(), packed);
    Inflater i;
    std::string room(9999, '\0');
    size_t size = room.size();
    EXPECT_EQ(
        kwtest::ThrownMessage([&] { DecompressData(i.z, packed.data(), packed.size(), room.data(), size); }),
        "Output buffer too small");
    Inflater j;
    std::string enough(10000, '\0');
    size = enough.size();
    DecompressData(j.z, packed.data(), packed.size(), enough.data(), size);
    EXPECT_EQ(size, text.size());
    EXPECT_TRUE(enough == text);
}

TEST(SBZlib, HundredFoldInflationComesOutWhole) {
    // 6.4 MB of zeros packs into a few KiB; one call hands back all of it, across many steps.
    const std::string text(6400000, '\0');
    Deflater d(9);
    std::vector<uint8_t> packed, tail;
    CompressData(d.z, text.data(), text.size(), packed);
    FinishCompression(d.z, tail);
    packed.insert(packed.end(), tail.begin(), tail.end());
    ASSERT_LT(packed.size() * 100, text.size());
    Inflater i;
    std::vector<uint8_t> out;
    DecompressData(i.z, packed.data(), packed.size(), out);
    EXPECT_EQ(out.size(), text.size());
    EXPECT_TRUE(Bytes(out) == text);
    // The callback form gets the same bytes in pieces.
    Inflater k;
    std::string pieces;
    int calls = 0;
    DecompressWithCallback(k.z, packed.data(), packed.size(), [&](const uint8_t* p, size_t n) {
        pieces.append(reinterpret_cast<const char*>(p), n);
        ++calls;
    });
    EXPECT_TRUE(pieces == text);
    EXPECT_GT(calls, 1);
}

TEST(SBZlib, FinishTakesMoreThanOneStep) {
    // Data given to deflate without a flush is still inside the record when the stream is
    // finished: the end of the stream is then far more than 4096 bytes.
    const std::string text = Pseudo(16000, 11);  // less than one deflate block: all of it waits for the end
    Deflater d(6);
    d.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    d.z.avail_in = uInt(text.size());
    std::vector<uint8_t> first(200000);
    d.z.next_out = first.data();
    d.z.avail_out = uInt(first.size());
    ASSERT_EQ(deflate(&d.z, Z_NO_FLUSH), Z_OK);
    ASSERT_EQ(d.z.avail_in, 0u);
    // Cut, not resize: g++ 12 with the sanitizers cannot see that a resize here only shrinks.
    first.erase(first.end() - std::ptrdiff_t(d.z.avail_out), first.end());
    std::vector<uint8_t> rest;
    FinishCompression(d.z, rest);
    EXPECT_GT(rest.size(), 4096u);
    first.insert(first.end(), rest.begin(), rest.end());
    Inflater i;
    std::vector<uint8_t> out;
    DecompressData(i.z, first.data(), first.size(), out);
    EXPECT_TRUE(Bytes(out) == text);
}

TEST(SBZlib, EmptyBlockAfterAFlushCompressesToNothing) {
    // A record with no data (an empty TLS fragment) right after a flushed one: zlib has nothing
    // to do and says so with its buffer error, which is no failure. The stream goes on.
    Deflater d(9);
    Inflater i;
    rtl::SecureBytes packed;
    std::vector<uint8_t> out;
    for (const std::string block : {"one", "", "", "two"}) {
        CompressData(d.z, block.data(), block.size(), packed);
        EXPECT_EQ(packed.empty(), block.empty());
        out.clear();
        DecompressData(i.z, packed.data(), packed.size(), out);
        EXPECT_EQ(Bytes(out), block);
    }
}

TEST(SBZlib, CorruptDataRaisesInflatesResult) {
    Inflater i;
    const std::string junk = "\x78\x9c\xff\xff\xff\xff\xff garbage";
    std::vector<uint8_t> out;
    EXPECT_EQ(kwtest::ThrownMessage([&] { DecompressData(i.z, junk.data(), junk.size(), out); }),
              "Decompression failed, inflate returned [-3]");
    Inflater j;
    const std::string notZlib = "plain text";
    EXPECT_EQ(kwtest::ThrownMessage([&] { DecompressData(j.z, notZlib.data(), notZlib.size(), out); }),
              "Decompression failed, inflate returned [-3]");
}

TEST(SBZlib, InputAfterTheStreamEndIsLeft) {
    const std::string text = "first stream";
    Deflater d(6);
    std::vector<uint8_t> packed, tail;
    CompressData(d.z, text.data(), text.size(), packed);
    FinishCompression(d.z, tail);
    packed.insert(packed.end(), tail.begin(), tail.end());
    packed.insert(packed.end(), {'x', 'y', 'z'});
    Inflater i;
    std::vector<uint8_t> out;
    DecompressData(i.z, packed.data(), packed.size(), out);
    EXPECT_TRUE(Bytes(out) == text);
    EXPECT_EQ(i.z.avail_in, 3u);
}

}  // namespace
