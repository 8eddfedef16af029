// All eight digests (MD2, MD5, SHA-1, SHA-224/256/384/512, RIPEMD-160) through the same
// questions: the RFC and published vectors, the million-'a' messages, every message length
// across the padding boundaries against OpenSSL, a message fed in pieces split at every
// boundary, null data with length 0, and context copies. Each runs on the accelerated paths and on
// the portable path. Contexts clear themselves when they go away.
#include <gtest/gtest.h>

#include <string>

#include "crypto/HashTestSupport.h"
#include "crypto/WipedOnDestruction.h"
#include "support/TestSupport.h"

namespace {

using namespace hashtest;

class HashFunctions : public BothPaths {};

TEST_P(HashFunctions, PublishedVectorsOfMD5AndRIPEMD160) {
    struct File {
        const char* algo;
        const char* rel;
    };
    const File files[] = {{"MD5", "MD5/rfc-1321.txt"}, {"RIPEMD160", "ripemd160/ripevectors.txt"}};
    for (const auto& f : files) {
        const auto path = HashVectorsPath(f.rel);
        KW_REQUIRE_PEER(std::filesystem::exists(path),
                        "python3-cryptography-vectors (" + path.string() + ")");
        const auto answers = ReadKnownAnswers(path);
        ASSERT_GE(answers.size(), 7u) << path;
        const Algo& algo = FindAlgo(f.algo);
        for (const auto& ka : answers) {
            EXPECT_EQ(Hex(algo.oneShot(ka.message.data(), ka.message.size())), ka.digest)
                << f.algo << " of " << ka.message.size() << " bytes";
        }
    }
}

// The test suite of RFC 1319 (appendix A.5). The last message is 80 bytes, five whole
// blocks, so its padding is a whole block of sixteen 0x10 bytes before the checksum block.
TEST_P(HashFunctions, MD2TestSuiteOfItsRfc) {
    struct Case {
        const char* message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "8350e5a3e24c153df2275c9f80692773"},
        {"a", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
        {"abc", "da853b0d3f88d99b30283a69e6ded6bb"},
        {"message digest", "ab4f496bfb2a530b219ff33031fe06b0"},
        {"abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "da33def2a42df13975352846c30338cd"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "d5976f79d83d3a0dc9806c3c66f3efd8"},
    };
    const Algo& md2 = FindAlgo("MD2");
    for (const auto& c : cases) {
        const std::string m = c.message;
        const auto* p = reinterpret_cast<const uint8_t*>(m.data());
        EXPECT_EQ(Hex(md2.oneShot(p, m.size())), c.digest) << "MD2(\"" << m << "\")";
    }
}

// A million 'a': once as one buffer and once in pieces of 997 bytes (a prime, so the pieces
// fall on every offset within a block).
TEST_P(HashFunctions, MillionAAgreesWithOpenSSL) {
    const Bytes million(1000000, 'a');
    for (const auto& algo : AllAlgos()) {
        if (algo.evpName == nullptr) continue;
        KW_REQUIRE_PEER(OpenSSLHasDigest(algo.evpName), std::string("OpenSSL digest ") + algo.evpName);
        const std::string expected = Hex(OpenSSLDigest(algo.evpName, million.data(), million.size()));
        EXPECT_EQ(Hex(algo.oneShot(million.data(), million.size())), expected) << algo.name;
        Pieces pieces;
        for (size_t off = 0; off < million.size(); off += 997)
            pieces.push_back(
                std::span<const uint8_t>(million).subspan(off, std::min<size_t>(997, million.size() - off)));
        EXPECT_EQ(Hex(algo.incremental(pieces)), expected) << algo.name << " in pieces";
    }
}

// Every length from 0 to three blocks and a bit: the padding moves to a second block at 56
// (112) buffered bytes, and the one-shot forms take whole blocks straight from the input.
TEST_P(HashFunctions, EveryLengthAcrossPaddingAgreesWithOpenSSL) {
    for (const auto& algo : AllAlgos()) {
        if (algo.evpName == nullptr) continue;
        KW_REQUIRE_PEER(OpenSSLHasDigest(algo.evpName), std::string("OpenSSL digest ") + algo.evpName);
        const Bytes msg = PseudoRandom(3 * algo.blockSize + 9, 7);
        for (size_t n = 0; n <= msg.size(); ++n) {
            const std::string expected = Hex(OpenSSLDigest(algo.evpName, msg.data(), n));
            ASSERT_EQ(Hex(algo.oneShot(msg.data(), n)), expected) << algo.name << " length " << n;
            ASSERT_EQ(Hex(algo.incremental({std::span<const uint8_t>(msg.data(), n)})), expected)
                << algo.name << " by context, length " << n;
        }
    }
}

// One message split into two pieces at every position, and into three pieces (empty ones
// included) at every pair of positions, gives the digest of the whole message.
TEST_P(HashFunctions, SplitUpdatesAtEveryBoundary) {
    for (const auto& algo : AllAlgos()) {
        const Bytes msg = PseudoRandom(2 * algo.blockSize + algo.blockSize / 2 + 3, 11);
        const std::span<const uint8_t> s(msg);
        const std::string whole = Hex(algo.oneShot(msg.data(), msg.size()));
        if (algo.evpName != nullptr && OpenSSLHasDigest(algo.evpName)) {
            ASSERT_EQ(whole, Hex(OpenSSLDigest(algo.evpName, msg.data(), msg.size()))) << algo.name;
        }
        for (size_t i = 0; i <= msg.size(); ++i) {
            ASSERT_EQ(Hex(algo.incremental({s.first(i), s.subspan(i)})), whole)
                << algo.name << " split at " << i;
            for (size_t j = i; j <= msg.size(); ++j) {
                ASSERT_EQ(Hex(algo.incremental({s.first(i), s.subspan(i, j - i), s.subspan(j)})), whole)
                    << algo.name << " split at " << i << " and " << j;
            }
        }
        // Byte by byte, with an empty update between every two bytes.
        Pieces single;
        for (size_t i = 0; i < msg.size(); ++i) {
            single.push_back(s.subspan(i, 1));
            single.push_back(s.subspan(i, 0));
        }
        EXPECT_EQ(Hex(algo.incremental(single)), whole) << algo.name << " byte by byte";
    }
}

// Init followed by Final, and null data with length 0, give the empty message's digest.
TEST_P(HashFunctions, EmptyMessageAndNullData) {
    for (const auto& algo : AllAlgos()) {
        const std::string empty = Hex(algo.incremental({}));
        EXPECT_EQ(Hex(algo.oneShot(nullptr, 0)), empty) << algo.name;
        EXPECT_EQ(Hex(algo.incremental({std::span<const uint8_t>(), std::span<const uint8_t>()})), empty)
            << algo.name;
        if (algo.evpName != nullptr && OpenSSLHasDigest(algo.evpName)) {
            EXPECT_EQ(empty, Hex(OpenSSLDigest(algo.evpName, nullptr, 0))) << algo.name;
        }
    }
    MD5Digest viaString, viaPointer;
    ComputeMD5OfString(ByteString(), viaString);
    ComputeMD5(nullptr, 0, viaPointer);
    EXPECT_EQ(viaString, viaPointer);
    ComputeMD5OfString(ByteString("a\0b", 3), viaString);
    ComputeMD5("a\0b", 3, viaPointer);
    EXPECT_EQ(viaString, viaPointer) << "the byte string's zero byte is hashed too";
}

// A copied context carries the running hash: both copies finish as hashes of their own
// messages (the built-in hash function clones hashes this way).
TEST_P(HashFunctions, CopiedContextsContinueIndependently) {
    for (const auto& algo : AllAlgos()) {
        const Bytes prefix = PseudoRandom(algo.blockSize + 5, 3);
        const Bytes a = PseudoRandom(70, 4), b = PseudoRandom(200, 5);
        const auto [da, db] = algo.cloned(prefix, a, b);
        Bytes pa = prefix, pb = prefix;
        pa.insert(pa.end(), a.begin(), a.end());
        pb.insert(pb.end(), b.begin(), b.end());
        EXPECT_EQ(Hex(da), Hex(algo.oneShot(pa.data(), pa.size()))) << algo.name;
        EXPECT_EQ(Hex(db), Hex(algo.oneShot(pb.data(), pb.size()))) << algo.name;
        EXPECT_NE(Hex(da), Hex(db)) << algo.name;
    }
}

// Large random messages in random pieces, against OpenSSL: the multi-block calls of the
// accelerated path process many blocks per call.
TEST_P(HashFunctions, LargeMessagesInRandomPiecesAgreeWithOpenSSL) {
    const Bytes msg = PseudoRandom(1 << 20, 21);
    const Bytes cuts = PseudoRandom(4096, 22);
    for (const auto& algo : AllAlgos()) {
        if (algo.evpName == nullptr) continue;
        KW_REQUIRE_PEER(OpenSSLHasDigest(algo.evpName), std::string("OpenSSL digest ") + algo.evpName);
        Pieces pieces;
        size_t off = 0, k = 0;
        while (off < msg.size()) {
            const size_t want = size_t(cuts[k % cuts.size()]) * size_t(cuts[(k + 1) % cuts.size()]) % 5000;
            const size_t n = std::min(want, msg.size() - off);
            pieces.push_back(std::span<const uint8_t>(msg).subspan(off, n));
            off += n;
            k += 2;
        }
        EXPECT_EQ(Hex(algo.incremental(pieces)), Hex(OpenSSLDigest(algo.evpName, msg.data(), msg.size())))
            << algo.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, HashFunctions, kAllPaths, PathName);

// A context may carry an HMAC key (its first block is the key XOR the pad) or a PEM password:
// every context clears itself when it goes away, partial block and running state alike.
TEST(HashContexts, EveryContextIsZeroAfterDestruction) {
    const std::string secret =
        "a secret key that spans more than one block of the hash: 0123456789abcdef"
        "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const size_t n = secret.size() - 5;  // leaves a partial block behind
    EXPECT_TRUE(kwtest::WipedOnDestruction<MD2Context>([&](MD2Context& c) {
        MD2Init(c);
        MD2Update(c, secret.data(), n);
    })) << "MD2";
    EXPECT_TRUE(kwtest::WipedOnDestruction<MD5Context>([&](MD5Context& c) {
        InitMD5Context(c);
        UpdateMD5Context(c, secret.data(), n);
    })) << "MD5";
    EXPECT_TRUE(kwtest::WipedOnDestruction<SHA1Context>([&](SHA1Context& c) {
        InitSHA1Context(c);
        UpdateSHA1Context(c, secret.data(), n);
    })) << "SHA-1";
    EXPECT_TRUE(kwtest::WipedOnDestruction<SHA256Context>([&](SHA256Context& c) {
        InitSHA256Context(c);
        UpdateSHA256Context(c, secret.data(), n);
    })) << "SHA-256";
    EXPECT_TRUE(kwtest::WipedOnDestruction<SHA512Context>([&](SHA512Context& c) {
        InitSHA512Context(c);
        UpdateSHA512Context(c, secret.data(), n);
    })) << "SHA-512";
    EXPECT_TRUE(kwtest::WipedOnDestruction<RIPEMD160Context>([&](RIPEMD160Context& c) {
        InitRIPEMD160Context(c);
        UpdateRIPEMD160Context(c, secret.data(), n);
    })) << "RIPEMD-160";
}

}  // namespace
