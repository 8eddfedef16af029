// The size question across the library: every routine that fills a caller's buffer answers a
// null buffer with the size it needs, whatever room the caller passed with it, exactly as it
// answers a room of 0; nothing is written (there is nowhere to write) and a cipher context
// keeps its state, so the call that follows with a real buffer gives the same bytes as one
// made without the question.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ASN1TestSupport.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"
#include "crypto/sym/SB3DES.h"
#include "crypto/sym/SBDES.h"
#include "crypto/sym/SBRC2.h"

using asn1test::H;

namespace {

// What a call answered: its result (a Boolean as 0/1, or a decoder's code) and the size.
struct Answer {
    long result;
    size_t size;
    bool operator==(const Answer&) const = default;
};

using Call = std::function<long(void* out, size_t& size)>;

const uint8_t kKey[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                          13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
const uint8_t kIv[8] = {8, 7, 6, 5, 4, 3, 2, 1};
const std::string kData(21, 'D');  // two whole blocks and five bytes left pending

// The CBC routines, each on a context made fresh for the call.
struct CbcRoutine {
    const char* name;
    std::function<bool(const void* in, size_t n, void* out, size_t& size)> run;
};

std::vector<CbcRoutine> CbcRoutines() {
    auto des = std::make_shared<DESContext>();
    auto tdesEnc = std::make_shared<TripleDESContext>();
    auto tdesDec = std::make_shared<TripleDESContext>();
    auto rc2Enc = std::make_shared<RC2Context>();
    auto rc2Dec = std::make_shared<RC2Context>();
    InitDESDecryptionContext(*des, kKey, kIv);
    InitTripleDESEncryptionContext(*tdesEnc, kKey, kIv);
    InitTripleDESDecryptionContext(*tdesDec, kKey, kIv);
    InitRC2EncryptionContext(*rc2Enc, std::span<const uint8_t>(kKey, 16), kIv);
    InitRC2DecryptionContext(*rc2Dec, std::span<const uint8_t>(kKey, 16), kIv);
    return {
        {"DecryptDESCBC", [des](const void* in, size_t n, void* out,
                                size_t& size) { return DecryptDESCBC(*des, in, n, out, size); }},
        {"EncryptTripleDESCBC",
         [tdesEnc](const void* in, size_t n, void* out, size_t& size) {
             return EncryptTripleDESCBC(*tdesEnc, in, n, out, size);
         }},
        {"DecryptTripleDESCBC",
         [tdesDec](const void* in, size_t n, void* out, size_t& size) {
             return DecryptTripleDESCBC(*tdesDec, in, n, out, size);
         }},
        {"EncryptRC2CBC", [rc2Enc](const void* in, size_t n, void* out,
                                   size_t& size) { return EncryptRC2CBC(*rc2Enc, in, n, out, size); }},
        {"DecryptRC2CBC", [rc2Dec](const void* in, size_t n, void* out,
                                   size_t& size) { return DecryptRC2CBC(*rc2Dec, in, n, out, size); }},
    };
}

}  // namespace

TEST(SizeQuestion, ANullBufferIsAnsweredWhateverRoomComesWithIt) {
    const std::string b64 = "YWJj";
    const std::string wide = H("59 00 57 00 4A 00 6A 00");
    BigNumPtr number = MakeBigNum();
    ParseBigNumHex(number.get(), "0102030405");
    TElASN1ConstrainedTag tree;
    ASSERT_TRUE(tree.LoadFromBuffer(H("30 03 02 01 05").data(), 5));
    TElASN1ConstrainedTag segmented;
    ASSERT_TRUE(segmented.LoadFromBuffer(H("24 08 04 02 61 62 04 02 63 64").data(), 10));
    const auto* octets = static_cast<const TElASN1ConstrainedTag*>(segmented.GetChild(0));
    const std::string sig = H("30 07 02 02 00 80 02 01 01");

    // The number savers take a 32-bit size and answer nothing.
    auto saveNumber = [&](void (*save)(const BigNum*, void*, int32_t&)) -> Call {
        return [&number, save](void* out, size_t& size) {
            int32_t s = int32_t(size);
            save(number.get(), out, s);
            size = size_t(s);
            return 0L;
        };
    };
    struct Case {
        const char* name;
        Call call;
        Answer want;
    };
    std::vector<Case> cases = {
        {"EncodeBase64",
         [](void* out, size_t& size) { return long(EncodeBase64("abc", 3, out, false, size)); },
         {0, 3 * 4 / 3 + 4}},
        {"DecodeBase64",
         [&](void* out, size_t& size) { return long(DecodeBase64(b64.data(), b64.size(), out, size)); },
         {BASE64_DECODE_NOT_ENOUGH_SPACE, 4}},
        {"DecodeBase64Wide",
         [&](void* out, size_t& size) { return long(DecodeBase64Wide(wide.data(), wide.size(), out, size)); },
         {BASE64_DECODE_NOT_ENOUGH_SPACE, 4}},
        {"HexToBuffer", [](void* out, size_t& size) { return long(HexToBuffer("0a1B", out, size)); }, {0, 2}},
        {"SaveBigNumToBytes", saveNumber(&SaveBigNumToBytes), {0, 8}},
        {"SaveBigNumToTrimmedBytes", saveNumber(&SaveBigNumToTrimmedBytes), {0, 5}},
        {"SaveToBuffer",
         [&](void* out, size_t& size) { return long(tree.GetChild(0)->SaveToBuffer(out, size)); },
         {0, 5}},
        {"GetJoinedContent",
         [&](void* out, size_t& size) { return long(octets->GetJoinedContent(out, size)); },
         {0, 4}},
        {"EncodeDSASignature",
         [](void* out, size_t& size) { return long(EncodeDSASignature("\x01", 1, "\x02", 1, out, size)); },
         {0, 1 + 1 + 16}},
        {"DecodeDSASignature r",
         [&](void* out, size_t& size) {
             size_t other = 64;
             char s[64];
             return long(DecodeDSASignature(sig.data(), sig.size(), out, size, s, other));
         },
         {0, 2}},
    };
    for (const CbcRoutine& r : CbcRoutines()) {
        cases.push_back(
            {r.name,
             [r](void* out, size_t& size) { return long(r.run(kData.data(), kData.size(), out, size)); },
             {0, 16}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const size_t room : {size_t(0), size_t(1), size_t(4096)}) {
            SCOPED_TRACE(room);
            size_t size = room;
            const long result = c.call(nullptr, size);
            EXPECT_EQ((Answer{result, size}), c.want);
        }
    }
}

TEST(SizeQuestion, ACipherContextKeepsItsStateAcrossTheQuestion) {
    const std::vector<CbcRoutine> asked = CbcRoutines(), plain = CbcRoutines();
    for (size_t i = 0; i < asked.size(); ++i) {
        SCOPED_TRACE(asked[i].name);
        size_t size = 4096;
        ASSERT_FALSE(asked[i].run(kData.data(), kData.size(), nullptr, size));
        ASSERT_EQ(size, 16u);
        // Both contexts now take the same two calls; the pending bytes must match as well.
        std::string a(32, '\0'), b(32, '\0');
        for (int call = 0; call < 2; ++call) {
            size_t na = a.size(), nb = b.size();
            ASSERT_TRUE(asked[i].run(kData.data(), kData.size(), a.data(), na));
            ASSERT_TRUE(plain[i].run(kData.data(), kData.size(), b.data(), nb));
            EXPECT_EQ(na, nb);
            EXPECT_EQ(a.substr(0, na), b.substr(0, nb));
        }
    }
}

// Where nothing would be written, a null buffer is as good as any: the call does its work.
TEST(SizeQuestion, ANullBufferIsEnoughWhereNothingIsWritten) {
    size_t size = 7;
    EXPECT_TRUE(HexToBuffer("", nullptr, size));
    EXPECT_EQ(size, 0u);
    size = 7;
    EXPECT_EQ(DecodeBase64("", 0, nullptr, size), BASE64_DECODE_OK);
    EXPECT_EQ(size, 0u);
    BigNumPtr zero = MakeBigNum();
    SetBigNumZero(zero.get());
    int32_t bytes = 9;
    SaveBigNumToTrimmedBytes(zero.get(), nullptr, bytes);
    EXPECT_EQ(bytes, 0);
}
