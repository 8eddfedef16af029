// The SRP client computations: RFC 5054 Appendix B (its a gives its k, x, v, u, A and
// premaster secret), the salt hashed as the bytes sent (a leading 00 included), the multiplier
// and scrambler variants byte for byte, and the server values a client must refuse.
#include "crypto/pk/SBSRP.h"

#include <gtest/gtest.h>

#include "crypto/PublicKeyTestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::NumHex;
using pktest::Trimmed;

// RFC 5054 Appendix A, the 1024-bit group, and Appendix B's values.
const char kN[] =
    "EEAF0AB9ADB38DD69C33F80AFA8FC5E86072618775FF3C0B9EA2314C9C256576D674DF7496EA81D3383B4813D692C6E0E0D5D8E250B98BE4"
    "8E495C1D6089DAD15DC7D7B46154D6B6CE8EF4AD69B15D4982559B297BCF1885C529F566660E57EC68EDBC3C05726CC02FD4CBF4976EAA9A"
    "FD5138FE8376435B9FC61D2FC0EB06E3";
const char kSalt[] = "BEB25379D1A8581EB5A727673A2441EE";
const char kK[] = "7556AA045AEF2CDD07ABAF0F665C3E818913186F";
const char kX[] = "94B7555AABE9127CC58CCF4993DB6CF84D16C124";
const char kV[] =
    "7E273DE8696FFC4F4E337D05B4B375BEB0DDE1569E8FA00A9886D8129BADA1F1822223CA1A605B530E379BA4729FDC59F105B4787E5186F5"
    "C671085A1447B52A48CF1970B4FB6F8400BBF4CEBFBB168152E08AB5EA53D15C1AFF87B2B9DA6E04E058AD51CC72BFC9033B564E26480D78"
    "E955A5E29E7AB245DB2BE315E2099AFB";
const char kA_secret[] = "60975527035CF2AD1989806F0407210BC81EDC04E2762A56AFD529DDDA2D4393";
const char kA[] =
    "61D5E490F6F1B79547B0704C436F523DD0E560F0C64115BB72557EC44352E8903211C04692272D8B2D1A5358A2CF1B6E0BFCF99F921530EC"
    "8E39356179EAE45E42BA92AEACED825171E1E8B9AF6D9C03E1327F44BE087EF06530E69F66615261EEF54073CA11CF5858F0EDFDFE15EFEA"
    "B349EF5D76988A3672FAC47B0769447B";
const char kB[] =
    "BD0C61512C692C0CB6D041FA01BB152D4916A1E77AF46AE105393011BAF38964DC46A0670DD125B95A981652236F99D9B681CBF87837EC99"
    "6C6DA04453728610D0C6DDB58B318885D7D82C7F8DEB75CE7BD4FBAA37089E6F9C6059F388838E7A00030B331EB76840910440B1B27AAEAE"
    "EB4012B7D7665238A8E3FB004B117B58";
const char kU[] = "CE38B9593487DA98554ED47D70A7AE5F462EF019";
const char kS[] =
    "B0DC82BABCF30674AE450C0287745E7990A3381F63B387AAF271A10D233861E359B48220F7C4693C9AE12B0A6F67809F0876E2D013800D6C"
    "41BB59B6D5979B5C00A172B4A2A5903A0BDCAF8A709585EB2AFAFA8F3499B200210DCC1F10EB33943CD67FC88A2F39A4BE5BEC4EC0A3212D"
    "C346D7E474B29EDE8A469FFECA686E5A";

void Set(BigNumPtr& n, const char* hex) {
    n = NumHex(hex);
}

struct Context {
    SRPContext ctx;
    Context() { InitSRPContext(ctx); }
    ~Context() { FreeSRPContext(ctx); }
};

}  // namespace

TEST(SRP, Rfc5054AppendixB) {
    Context c;
    SRPContext& ctx = c.ctx;
    EXPECT_EQ(ctx.Field13, 1);
    EXPECT_EQ(Trimmed(ctx.N.get()), Bytes{1});
    Set(ctx.N, kN);
    Set(ctx.g, "02");
    Set(ctx.s, kSalt);
    Set(ctx.B, kB);
    InitSRPClient("alice", "password123", ctx);
    EXPECT_EQ(Trimmed(ctx.x.get()), kwtest::Hex(kX));
    EXPECT_EQ(Trimmed(ctx.v.get()), kwtest::Hex(kV));
    EXPECT_EQ(CountBigNumBits(ctx.a.get()) > 400, true);  // 512 random bits
    // Appendix B's a: its A, u, k and premaster secret.
    Set(ctx.a, kA_secret);
    ExponentiateBigNumMontgomery(ctx.g.get(), ctx.a.get(), ctx.N.get(), ctx.A.get());
    EXPECT_EQ(Trimmed(ctx.A.get()), kwtest::Hex(kA));
    BigNumPtr k = MakeBigNum(), u = MakeBigNum();
    ComputeSRPMultiplier(ctx.N.get(), ctx.g.get(), "6a", k.get());
    EXPECT_EQ(Trimmed(k.get()), kwtest::Hex(kK));
    ComputeSRPScrambler(ctx.N.get(), ctx.A.get(), ctx.B.get(), "6A", u.get());
    EXPECT_EQ(Trimmed(u.get()), kwtest::Hex(kU));
    ASSERT_TRUE(ComputeSRPClientSecret(ctx));
    EXPECT_EQ(Trimmed(ctx.S.get()), kwtest::Hex(kS));
    // The same x from the salt given as the bytes on the wire.
    ctx.Salt = kwtest::Hex(kSalt);
    InitSRPClient("alice", "password123", ctx);
    EXPECT_EQ(Trimmed(ctx.x.get()), kwtest::Hex(kX));
}

TEST(SRP, SaltIsHashedAsSent) {
    // A salt starting with 00 is hashed whole (RFC 5054 2.6), at any length.
    for (const Bytes& salt : {pktest::Cat({0x00}, kwtest::Hex(kSalt)), Bytes(300, 0x5A), Bytes{0x00}}) {
        BigNumPtr x = MakeBigNum();
        ComputeSRPPrivateKey("alice", "password123", ByteArray(salt.begin(), salt.end()), x.get());
        const Bytes inner = pktest::Digest(SB_ALG_SHA1, B("alice:password123"));
        EXPECT_EQ(Trimmed(x.get()), pktest::StripZeros(pktest::Digest(SB_ALG_SHA1, pktest::Cat(salt, inner))));
    }
    // The number form hashes the minimal bytes: 0xAB is the single byte AB, and the empty
    // password still hashes the name and the colon.
    BigNumPtr x = MakeBigNum();
    ComputeSRPPrivateKey("bob", "", NumHex("AB").get(), x.get());
    EXPECT_EQ(Trimmed(x.get()),
              pktest::StripZeros(pktest::Digest(SB_ALG_SHA1, pktest::Cat({0xAB}, pktest::Digest(SB_ALG_SHA1, B("bob:"))))));
}

TEST(SRP, MultiplierAndScramblerVariants) {
    BigNumPtr k = MakeBigNum();
    const BigNumPtr n = NumHex("0102"), g = NumHex("02");
    ComputeSRPMultiplier(n.get(), g.get(), "3", k.get());
    EXPECT_EQ(Trimmed(k.get()), Bytes{1});
    ComputeSRPMultiplier(n.get(), g.get(), "6", k.get());
    EXPECT_EQ(Trimmed(k.get()), Bytes{3});
    ComputeSRPMultiplier(n.get(), g.get(), "x", k.get());
    EXPECT_TRUE(IsBigNumZero(k.get()));
    // "6a": SHA1(01 02 00 02) mod N.
    ComputeSRPMultiplier(n.get(), g.get(), "6a", k.get());
    BigNumPtr expected = pktest::Num(pktest::Digest(SB_ALG_SHA1, {1, 2, 0, 2})), r = MakeBigNum();
    ReduceBigNumBySubtraction(expected.get(), n.get(), r.get());
    EXPECT_TRUE(AreBigNumsEqual(k.get(), r.get()));

    const BigNumPtr n16 = NumHex("F00D"), a = NumHex("05"), b = NumHex("1234");
    BigNumPtr u = MakeBigNum();
    ComputeSRPScrambler(n16.get(), a.get(), b.get(), "6a", u.get());
    EXPECT_EQ(Trimmed(u.get()), pktest::StripZeros(pktest::Digest(SB_ALG_SHA1, {0x00, 0x05, 0x12, 0x34})));
    ComputeSRPScrambler(n16.get(), a.get(), b.get(), "6", u.get());
    EXPECT_EQ(Trimmed(u.get()), pktest::StripZeros(pktest::Digest(SB_ALG_SHA1, {0x05, 0x12, 0x34})));
    ComputeSRPScrambler(n16.get(), a.get(), b.get(), "3", u.get());
    const Bytes d = pktest::Digest(SB_ALG_SHA1, {0x12, 0x34});
    EXPECT_EQ(Trimmed(u.get()), pktest::StripZeros(Bytes(d.begin(), d.begin() + 4)));

    ByteArray bytes;
    BigNumToBytes(NumHex("01").get(), bytes);
    EXPECT_EQ(bytes, (ByteArray{0, 0, 0, 1}));
    BigNumPtr back = MakeBigNum();
    BytesToBigNum(back.get(), ByteArray{0, 0, 0x12, 0x34});
    EXPECT_EQ(Trimmed(back.get()), (Bytes{0x12, 0x34}));
}

TEST(SRP, ServerValuesAreRefused) {
    Context c;
    SRPContext& ctx = c.ctx;
    Set(ctx.N, kN);
    Set(ctx.g, "02");
    Set(ctx.s, kSalt);
    InitSRPClient("alice", "password123", ctx);
    const BigNumPtr twoN = MakeBigNum(), zero = NumHex("00");
    ShiftBigNumLeft(ctx.N.get(), twoN.get(), 1);
    for (const BigNum* b : {zero.get(), ctx.N.get(), twoN.get()}) {
        CopyBigNum(ctx.B.get(), b);
        SetBigNumZero(ctx.S.get());
        EXPECT_FALSE(ComputeSRPClientSecret(ctx)) << FormatBigNumHex(b);
        EXPECT_TRUE(IsBigNumZero(ctx.S.get()));
    }
    Set(ctx.B, kB);
    EXPECT_TRUE(ComputeSRPClientSecret(ctx));
}
