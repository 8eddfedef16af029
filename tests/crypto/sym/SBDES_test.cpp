// DES and triple DES: the CAVP TDES known-answer and multi-block files (ECB through the block
// routines, CBC through the contexts; keying options 1, 2 and 3), the schedule properties,
// the CBC buffering contract, and agreement with OpenSSL on random keys and data.
#include "crypto/sym/SBDES.h"
#include "crypto/sym/SB3DES.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using kwtest::Hex;
using kwtest::ToHex;

// The 24-byte key of a record: KEYs (one key for all three) or KEY1, KEY2, KEY3.
Bytes TripleKey(const kwtest::NistRecord& r) {
    Bytes k;
    for (const char* name : {"KEY1", "KEY2", "KEY3"}) {
        const Bytes part = Hex(r.Has("KEYs") ? r.At("KEYs") : r.At(name));
        k.insert(k.end(), part.begin(), part.end());
    }
    return k;
}

std::vector<kwtest::NistRecord> LoadTdes(const std::string& rel) {
    const auto path = kwtest::CryptographyVectorsPath(rel);
    if (!std::filesystem::exists(path)) return {};
    return kwtest::ReadNistFile(path);
}

const char* kKinds[] = {"MMT1", "MMT2", "MMT3", "invperm", "permop", "subtab", "varkey", "vartext"};

TEST(SBDES, CavpTecbFilesThroughTheBlockRoutines) {
    size_t checked = 0;
    for (const char* kind : kKinds) {
        const std::string rel = std::string("3DES/ECB/TECB") + kind + ".rsp";
        const auto records = LoadTdes(rel);
        KW_REQUIRE_PEER(!records.empty(), "python3-cryptography-vectors (" + rel + ")");
        for (const auto& r : records) {
            const Bytes key = TripleKey(r);
            const Bytes plain = Hex(r.At("PLAINTEXT"));
            const Bytes cipher = Hex(r.At("CIPHERTEXT"));
            ASSERT_EQ(plain.size(), cipher.size());
            TTripleDESExpandedKey enc, dec;
            TripleDESKeySchedule(key.data(), enc);
            TripleDESDecryptKeySchedule(key.data(), dec);
            Bytes out(plain.size());
            if (r.section == "ENCRYPT") {
                for (size_t i = 0; i < plain.size(); i += 8)
                    TripleDESEncryptBlock(&plain[i], enc, &out[i]);
                EXPECT_EQ(ToHex(out), ToHex(cipher)) << rel << " COUNT " << r.At("COUNT");
            } else {
                for (size_t i = 0; i < cipher.size(); i += 8)
                    TripleDESDecryptBlock(&cipher[i], dec, &out[i]);
                EXPECT_EQ(ToHex(out), ToHex(plain)) << rel << " COUNT " << r.At("COUNT");
            }
            if (r.Has("KEYs")) {  // one key three times is single DES
                TDESExpandedKey single;
                if (r.section == "ENCRYPT") {
                    DESKeySchedule(key.data(), single);
                    for (size_t i = 0; i < plain.size(); i += 8)
                        DESCryptBlock(&plain[i], single, &out[i]);
                    EXPECT_EQ(ToHex(out), ToHex(cipher)) << rel << " single DES, COUNT " << r.At("COUNT");
                } else {
                    DESDecryptKeySchedule(key.data(), single);
                    for (size_t i = 0; i < cipher.size(); i += 8)
                        DESCryptBlock(&cipher[i], single, &out[i]);
                    EXPECT_EQ(ToHex(out), ToHex(plain)) << rel << " single DES, COUNT " << r.At("COUNT");
                }
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 400u);
}

TEST(SBDES, CavpTcbcFilesThroughTheCbcContexts) {
    size_t checked = 0;
    for (const char* kind : kKinds) {
        const std::string rel = std::string("3DES/CBC/TCBC") + kind + ".rsp";
        const auto records = LoadTdes(rel);
        KW_REQUIRE_PEER(!records.empty(), "python3-cryptography-vectors (" + rel + ")");
        for (const auto& r : records) {
            const Bytes key = TripleKey(r);
            const Bytes iv = Hex(r.At("IV"));
            const Bytes plain = Hex(r.At("PLAINTEXT"));
            const Bytes cipher = Hex(r.At("CIPHERTEXT"));
            const bool encrypt = r.section == "ENCRYPT";
            const Bytes& in = encrypt ? plain : cipher;
            const Bytes& expected = encrypt ? cipher : plain;
            TripleDESContext ctx;
            if (encrypt)
                InitTripleDESEncryptionContext(ctx, key.data(), iv.data());
            else
                InitTripleDESDecryptionContext(ctx, key.data(), iv.data());
            Bytes out(in.size());
            size_t outSize = out.size();
            ASSERT_TRUE((encrypt ? EncryptTripleDESCBC : DecryptTripleDESCBC)(ctx, in.data(), in.size(),
                                                                              out.data(), outSize));
            EXPECT_EQ(outSize, in.size());
            EXPECT_EQ(ToHex(out), ToHex(expected)) << rel << " " << r.section << " COUNT " << r.At("COUNT");
            if (r.Has("KEYs") && !encrypt) {
                DESContext single;
                InitDESDecryptionContext(single, key.data(), iv.data());
                Bytes back(in.size());
                size_t backSize = back.size();
                ASSERT_TRUE(DecryptDESCBC(single, in.data(), in.size(), back.data(), backSize));
                EXPECT_EQ(ToHex(back), ToHex(expected)) << rel << " single DES, COUNT " << r.At("COUNT");
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 400u);
}

TEST(SBDES, SchedulePropertiesParityAndInverse) {
    std::mt19937 rng(21);
    for (int round = 0; round < 50; ++round) {
        Bytes key = kwtest::RandomBytes(rng, 8);
        Bytes flipped = key;
        for (auto& b : flipped)
            b ^= uint8_t(rng() & 1);  // parity bits only
        TDESExpandedKey a, b, dec;
        DESKeySchedule(key.data(), a);
        DESKeySchedule(flipped.data(), b);
        EXPECT_EQ(0, std::memcmp(a.K, b.K, sizeof a.K)) << "parity bits changed the schedule";
        DESDecryptKeySchedule(key.data(), dec);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(dec.K[2 * i], a.K[2 * (15 - i)]);
            EXPECT_EQ(dec.K[2 * i + 1], a.K[2 * (15 - i) + 1]);
        }
        Bytes block = kwtest::RandomBytes(rng, 8);
        Bytes sealed(8), opened(8);
        DESCryptBlock(block.data(), a, sealed.data());
        DESCryptBlock(sealed.data(), dec, opened.data());
        EXPECT_EQ(opened, block);
        Bytes inPlace = block;
        DESCryptBlock(inPlace.data(), a, inPlace.data());
        EXPECT_EQ(inPlace, sealed);

        // Triple DES with K1 = K2 = K3 is single DES.
        Bytes triple;
        for (int k = 0; k < 3; ++k)
            triple.insert(triple.end(), key.begin(), key.end());
        TTripleDESExpandedKey t;
        TripleDESKeySchedule(triple.data(), t);
        Bytes viaTriple(8);
        TripleDESEncryptBlock(block.data(), t, viaTriple.data());
        EXPECT_EQ(viaTriple, sealed);
    }
}

// The buffering contract: pieces, short room, empty input, in-place use.
TEST(SBDES, CbcBufferingContract) {
    std::mt19937 rng(5);
    const Bytes key = kwtest::RandomBytes(rng, 24);
    const Bytes iv = kwtest::RandomBytes(rng, 8);
    const Bytes plain = kwtest::RandomBytes(rng, 16);

    TripleDESContext whole;
    InitTripleDESEncryptionContext(whole, key.data(), iv.data());
    Bytes once(16);
    size_t onceSize = 16;
    ASSERT_TRUE(EncryptTripleDESCBC(whole, plain.data(), 16, once.data(), onceSize));

    // 3, 5 and 8 bytes in three calls: nothing, then 8, then 8.
    TripleDESContext pieces;
    InitTripleDESEncryptionContext(pieces, key.data(), iv.data());
    Bytes out(16);
    struct Step {
        size_t from, count, expectOut;
    };
    const Step steps[] = {{0, 3, 0}, {3, 5, 8}, {8, 8, 8}};
    size_t written = 0;
    for (const auto& s : steps) {
        size_t room = out.size() - written;
        ASSERT_TRUE(EncryptTripleDESCBC(pieces, &plain[s.from], s.count, &out[written], room));
        EXPECT_EQ(room, s.expectOut) << "after " << s.from + s.count << " bytes";
        written += room;
    }
    EXPECT_EQ(out, once);

    // Room short by one byte: false, the size needed, and the context as it was.
    TripleDESContext shortRoom;
    InitTripleDESEncryptionContext(shortRoom, key.data(), iv.data());
    size_t room = 3;
    ASSERT_TRUE(EncryptTripleDESCBC(shortRoom, plain.data(), 3, out.data(), room));
    const TripleDESContext before = shortRoom;
    room = 7;
    EXPECT_FALSE(EncryptTripleDESCBC(shortRoom, plain.data() + 3, 13, out.data(), room));
    EXPECT_EQ(room, 16u);
    EXPECT_EQ(0, std::memcmp(&before, &shortRoom, sizeof before));
    room = 16;
    ASSERT_TRUE(EncryptTripleDESCBC(shortRoom, plain.data() + 3, 13, out.data(), room));
    EXPECT_EQ(room, 16u);
    EXPECT_EQ(out, once);

    // No input: true and size 0 whatever is pending.
    InitTripleDESEncryptionContext(shortRoom, key.data(), iv.data());
    room = 0;
    ASSERT_TRUE(EncryptTripleDESCBC(shortRoom, plain.data(), 5, out.data(), room));
    room = 99;
    EXPECT_TRUE(EncryptTripleDESCBC(shortRoom, plain.data(), 0, out.data(), room));
    EXPECT_EQ(room, 0u);
    EXPECT_EQ(shortRoom.PendingCount, 5u);
}

// Decrypting in place must also work when bytes are pending from an earlier call: each input
// block is read before the output block in front of it is written.
TEST(SBDES, CbcInPlaceWithPendingBytes) {
    std::mt19937 rng(6);
    const Bytes key = kwtest::RandomBytes(rng, 24);
    const Bytes iv = kwtest::RandomBytes(rng, 8);
    const Bytes cipher = kwtest::RandomBytes(rng, 64);

    TripleDESContext ref;
    InitTripleDESDecryptionContext(ref, key.data(), iv.data());
    Bytes expected(64);
    size_t n = 64;
    ASSERT_TRUE(DecryptTripleDESCBC(ref, cipher.data(), 64, expected.data(), n));

    for (size_t first : {1u, 3u, 7u, 9u, 13u}) {
        TripleDESContext ctx;
        InitTripleDESDecryptionContext(ctx, key.data(), iv.data());
        Bytes buf = cipher;
        size_t a = first;
        ASSERT_TRUE(DecryptTripleDESCBC(ctx, buf.data(), first, buf.data(), a));
        const size_t restIn = buf.size() - first;
        // The rest of the input, decrypted over itself in a buffer with room for the block
        // the pending bytes complete.
        Bytes work(buf.begin() + first, buf.end());
        work.resize(restIn + 8);
        size_t b = work.size();
        ASSERT_TRUE(DecryptTripleDESCBC(ctx, work.data(), restIn, work.data(), b));
        Bytes got(buf.begin(), buf.begin() + a);
        got.insert(got.end(), work.begin(), work.begin() + b);
        EXPECT_EQ(ToHex(got), ToHex(expected)) << "first piece " << first;
    }
}

TEST(SBDES, AgreesWithOpenSSLOnRandomKeysAndData) {
    KW_REQUIRE_PEER(kwtest::OpenSSLHasCipher("DES-ECB") && kwtest::OpenSSLHasCipher("DES-EDE3-CBC"),
                    "OpenSSL legacy provider (DES)");
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        const Bytes key = kwtest::RandomBytes(rng, 24);
        const Bytes iv = kwtest::RandomBytes(rng, 8);
        const Bytes data = kwtest::RandomBytes(rng, 8 * (1 + rng() % 40));
        const Bytes key1(key.begin(), key.begin() + 8);

        // Single DES, ECB both ways through the block routine, CBC decryption.
        TDESExpandedKey e, d;
        DESKeySchedule(key1.data(), e);
        DESDecryptKeySchedule(key1.data(), d);
        Bytes ecb(data.size()), ecbDec(data.size());
        for (size_t i = 0; i < data.size(); i += 8) {
            DESCryptBlock(&data[i], e, &ecb[i]);
            DESCryptBlock(&data[i], d, &ecbDec[i]);
        }
        EXPECT_EQ(ecb, kwtest::OpenSSLCrypt("DES-ECB", key1, {}, data, true));
        EXPECT_EQ(ecbDec, kwtest::OpenSSLCrypt("DES-ECB", key1, {}, data, false));
        DESContext dc;
        InitDESDecryptionContext(dc, key1.data(), iv.data());
        Bytes cbcDec(data.size());
        size_t n = cbcDec.size();
        ASSERT_TRUE(DecryptDESCBC(dc, data.data(), data.size(), cbcDec.data(), n));
        EXPECT_EQ(cbcDec, kwtest::OpenSSLCrypt("DES-CBC", key1, iv, data, false));

        // Triple DES, ECB both ways and CBC both ways, fed in two random pieces.
        TTripleDESExpandedKey te, td;
        TripleDESKeySchedule(key.data(), te);
        TripleDESDecryptKeySchedule(key.data(), td);
        Bytes tecb(data.size()), tecbDec(data.size());
        for (size_t i = 0; i < data.size(); i += 8) {
            TripleDESEncryptBlock(&data[i], te, &tecb[i]);
            TripleDESDecryptBlock(&data[i], td, &tecbDec[i]);
        }
        EXPECT_EQ(tecb, kwtest::OpenSSLCrypt("DES-EDE3", key, {}, data, true));
        EXPECT_EQ(tecbDec, kwtest::OpenSSLCrypt("DES-EDE3", key, {}, data, false));
        for (bool encrypt : {true, false}) {
            TripleDESContext c;
            (encrypt ? InitTripleDESEncryptionContext : InitTripleDESDecryptionContext)(c, key.data(),
                                                                                        iv.data());
            const size_t cut = rng() % data.size();
            Bytes out(data.size());
            size_t first = out.size();
            auto fn = encrypt ? EncryptTripleDESCBC : DecryptTripleDESCBC;
            ASSERT_TRUE(fn(c, data.data(), cut, out.data(), first));
            size_t second = out.size() - first;
            ASSERT_TRUE(fn(c, data.data() + cut, data.size() - cut, out.data() + first, second));
            EXPECT_EQ(first + second, data.size());
            EXPECT_EQ(out, kwtest::OpenSSLCrypt("DES-EDE3-CBC", key, iv, data, encrypt)) << "cut " << cut;
        }
    }
}

}  // namespace
