// PEM armour and the streaming Base64 coders: the exact text written, the three line-end
// styles read alike, encrypted bodies (the key derivation against OpenSSL's EVP_BytesToKey),
// a table of hostile texts with the code each must give, the padding rule of decrypted bodies,
// the Base64 text test, and the streaming coders at their edges and in random pieces.
#include "crypto/keys/SBPEM.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "crypto/PublicKeyTestSupport.h"
#include "crypto/sym/SB3DES.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Str;

std::string Encode(const Bytes& data, const std::string& header, bool encrypt = false, const ByteString& pass = {}) {
    int32_t size = 0;
    EXPECT_FALSE(PEMEncode(data.data(), int32_t(data.size()), nullptr, size, header, encrypt, pass));
    std::string out(size_t(size), '\0');
    EXPECT_TRUE(PEMEncode(data.data(), int32_t(data.size()), out.data(), size, header, encrypt, pass));
    out.resize(size_t(size));
    return out;
}

struct Decoded {
    int32_t code;
    Bytes data;
    std::string header;
};

Decoded Decode(const std::string& text, const ByteString& pass = {}) {
    Decoded d;
    int32_t size = 0;
    d.code = PEMDecode(text.data(), int32_t(text.size()), nullptr, pass, size, d.header);
    if (d.code != PEM_DECODE_RESULT_NOT_ENOUGH_SPACE) return d;
    d.data.resize(size_t(size));
    d.code = PEMDecode(text.data(), int32_t(text.size()), d.data.data(), pass, size, d.header);
    d.data.resize(d.code == 0 ? size_t(size) : 0);
    return d;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

std::string Base64(const Bytes& data) {
    size_t size = 0;
    EncodeBase64(data.data(), data.size(), nullptr, true, size);
    std::string out(size, '\0');
    EncodeBase64(data.data(), data.size(), out.data(), true, size);
    out.resize(size);
    return out;
}

std::string HexUpper(const Bytes& b) {
    std::string s = kwtest::ToHex(b);
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// An encrypted PEM text whose plaintext blocks (padding included) are given: triple DES in CBC
// mode under the passphrase's key, as PEMEncode does, so bad paddings can be made.
std::string EncryptedText(const Bytes& padded, const ByteString& pass, const Bytes& iv) {
    ByteString key;
    PassphraseToPEMKey(pass, Str(iv), 24, key);
    TripleDESContext ctx;
    InitTripleDESEncryptionContext(ctx, reinterpret_cast<const uint8_t*>(key.data()), iv.data());
    Bytes c(padded.size());
    size_t n = c.size();
    EncryptTripleDESCBC(ctx, padded.data(), padded.size(), c.data(), n);
    return "-----BEGIN X-----\nProc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC," + HexUpper(iv) + "\n\n" + Base64(c) +
           "\n-----END X-----\n";
}

}  // namespace

TEST(PEM, WritesTheExactText) {
    EXPECT_EQ(Encode({0x41}, "X"), "-----BEGIN X-----\nQQ==\n-----END X-----\n");
    const std::string one = Encode(Bytes(48, 7), "RSA PRIVATE KEY");
    const std::string line = one.substr(one.find('\n') + 1);
    EXPECT_EQ(line.find('\n'), 64u);  // one body line of 64 characters
    EXPECT_EQ(line.substr(65, 9), "-----END ");
    const std::string two = Encode(Bytes(49, 7), "X");
    const std::string body = two.substr(two.find('\n') + 1);
    EXPECT_EQ(body.find('\n'), 64u);
    EXPECT_EQ(body.substr(65).find('\n'), 4u);  // then a 4-character line
    // Too little room: false with the size, nothing written.
    std::string small(10, '*');
    int32_t size = 10;
    EXPECT_FALSE(PEMEncode("x", 1, small.data(), size, "X", false, ""));
    EXPECT_EQ(size, int32_t(Encode({'x'}, "X").size()));
    EXPECT_EQ(small, std::string(10, '*'));
}

TEST(PEM, RoundTripsAndLineEnds) {
    const Bytes data = B("some DER bytes, not really DER");
    const std::string lf = Encode(data, "PUBLIC KEY");
    for (const std::string& text : {lf, Replace(lf, "\n", "\r\n"), Replace(lf, "\n", "\r\r\n")}) {
        const Decoded d = Decode(text);
        EXPECT_EQ(d.code, 0);
        EXPECT_EQ(d.data, data);
        EXPECT_EQ(d.header, "PUBLIC KEY");
    }
    // Encrypted: a body of whole blocks, at least one even for nothing, and the passphrase.
    for (const Bytes& plain : {Bytes{}, Bytes(7, 1), Bytes(8, 2), data}) {
        const std::string text = Encode(plain, "RSA PRIVATE KEY", true, "secret");
        EXPECT_NE(text.find("Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,"), std::string::npos);
        for (const std::string& t : {text, Replace(text, "\n", "\r\n"), Replace(text, "\n", "\r\r\n")}) {
            const Decoded d = Decode(t, "secret");
            EXPECT_EQ(d.code, 0);
            EXPECT_EQ(d.data, plain);
        }
        const std::string b64 = text.substr(text.find("\n\n") + 2);
        size_t n = b64.size();
        Bytes raw(n);
        DecodeBase64(b64.data(), b64.find("\n-----END"), raw.data(), n);
        EXPECT_EQ(n % 8, 0u);
        EXPECT_GE(n, 8u);
    }
    // Text before the BEGIN line is not part of the block (RFC 7468 section 2).
    const Decoded preamble = Decode("Bag Attributes\n    localKeyID: 01\n\n" + lf);
    EXPECT_EQ(preamble.code, 0);
    EXPECT_EQ(preamble.data, data);
}

// A fixed encrypted text, so the wrong passphrase's outcome is the same on every run.
TEST(PEM, PassphrasesAndPaddings) {
    const Bytes iv = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    const Bytes padded = pktest::Cat(B("sixteen byte msg"), Bytes(8, 8));
    const std::string good = EncryptedText(padded, "right", iv);
    const Decoded ok = Decode(good, "right");
    ASSERT_EQ(ok.code, 0);
    EXPECT_EQ(Str(ok.data), "sixteen byte msg");
    EXPECT_EQ(Decode(good, "wrong").code, PEM_DECODE_RESULT_INVALID_PASSPHRASE);
    // RFC 1423 1.1 padding: 1 to 8 bytes, every one holding the count.
    struct Case {
        const char* name;
        Bytes tail;
        int32_t code;
    };
    const Case cases[] = {
        {"pad 1", {1, 2, 3, 4, 5, 6, 7, 1}, 0},
        {"pad 3", {1, 2, 3, 4, 5, 3, 3, 3}, 0},
        {"pad 0", {1, 2, 3, 4, 5, 6, 7, 0}, PEM_DECODE_RESULT_INVALID_PASSPHRASE},
        {"pad 9", {9, 9, 9, 9, 9, 9, 9, 9}, PEM_DECODE_RESULT_INVALID_PASSPHRASE},
        {"unequal pad bytes", {1, 2, 3, 4, 5, 3, 2, 3}, PEM_DECODE_RESULT_INVALID_PASSPHRASE},
        {"pad 8 with one wrong byte", {8, 8, 8, 8, 7, 8, 8, 8}, PEM_DECODE_RESULT_INVALID_PASSPHRASE},
    };
    for (const Case& c : cases) {
        const Bytes plain = pktest::Cat(Bytes(8, 0x55), c.tail);
        const Decoded d = Decode(EncryptedText(plain, "right", iv), "right");
        EXPECT_EQ(d.code, c.code) << c.name;
    }
}

TEST(PEM, HostileTexts) {
    const std::string plain = Encode(B("data"), "X");
    const std::string enc = Encode(B("data"), "X", true, "p");
    const std::string dek = enc.substr(enc.find("DEK-Info"));
    const std::string ivText = dek.substr(22, 16);
    std::string lower = ivText;
    for (char& ch : lower)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    struct Case {
        const char* name;
        std::string text;
        int32_t code;
    };
    const Case cases[] = {
        {"no BEGIN marker", "MIIB\n", PEM_DECODE_RESULT_INVALID_FORMAT},
        {"BEGIN without a line end", "-----BEGIN X-----", PEM_DECODE_RESULT_INVALID_FORMAT},
        {"no END line", plain.substr(0, plain.find("-----END")), PEM_DECODE_RESULT_INVALID_FORMAT},
        {"encrypted, no END line", enc.substr(0, enc.find("-----END")), PEM_DECODE_RESULT_INVALID_FORMAT},
        {"a space in the body", Replace(plain, "ZGF0", "ZG F0"), PEM_DECODE_RESULT_INVALID_FORMAT},
        {"a bad character", Replace(plain, "ZGF0", "ZG*0"), PEM_DECODE_RESULT_INVALID_FORMAT},
        {"lower-case IV", Replace(enc, ivText, lower), PEM_DECODE_RESULT_INVALID_PASSPHRASE},
        {"short IV", Replace(enc, ivText, ivText.substr(0, 14)), PEM_DECODE_RESULT_INVALID_PASSPHRASE},
        {"AES cipher", Replace(enc, "DES-EDE3-CBC", "AES-128-CBC"), PEM_DECODE_RESULT_UNKNOWN_CIPHER},
        {"lower-case cipher", Replace(enc, "DES-EDE3-CBC", "des-ede3-cbc"), PEM_DECODE_RESULT_UNKNOWN_CIPHER},
        {"no DEK-Info", Replace(enc, "DEK-Info:", "DEK-Inf0:"), PEM_DECODE_RESULT_INVALID_FORMAT},
        {"no blank line", Replace(enc, "\n\n", "\n"), PEM_DECODE_RESULT_INVALID_FORMAT},
        {"empty", "", PEM_DECODE_RESULT_INVALID_FORMAT},
        {"BEGIN line too short", "-----BEGIN \nQQ==\n-----END X-----\n", PEM_DECODE_RESULT_INVALID_FORMAT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(c.text, "p").code, c.code) << c.name;
    // Too little room: the exact size.
    int32_t size = 2;
    std::string header;
    Bytes out(2);
    EXPECT_EQ(PEMDecode(plain.data(), int32_t(plain.size()), out.data(), "", size, header),
              PEM_DECODE_RESULT_NOT_ENOUGH_SPACE);
    EXPECT_EQ(size, 4);
}

TEST(PEM, KeyDerivationMatchesOpenSSL) {
    for (size_t length : {8u, 24u, 40u}) {
        const std::string salt = "\x01\x02\x03\x04\x05\x06\x07\x08";
        ByteString ours;
        PassphraseToPEMKey("passphrase", salt, int32_t(length), ours);
        Bytes key(64), iv(64);
        ASSERT_GT(EVP_BytesToKey(EVP_des_ede3_cbc(), EVP_md5(), reinterpret_cast<const unsigned char*>(salt.data()),
                                 reinterpret_cast<const unsigned char*>("passphrase"), 10, 1, key.data(), iv.data()),
                  0);
        // EVP_BytesToKey gives 24 key bytes and then the IV from the same stream.
        const Bytes stream = pktest::Cat(Bytes(key.begin(), key.begin() + 24), Bytes(iv.begin(), iv.begin() + 8));
        const size_t compared = std::min<size_t>(length, 32);
        ASSERT_EQ(ours.size(), length);
        EXPECT_EQ(B(ours.substr(0, compared)), Bytes(stream.begin(), stream.begin() + long(compared)));
    }
    ByteString bytes;
    HexStringToBytes("0AFf", bytes);
    EXPECT_EQ(bytes, std::string("\x0A\xF0", 2));  // lower case counts 0
    HexStringToBytes("ABC", bytes);
    EXPECT_TRUE(bytes.empty());
}

TEST(PEM, Base64TextTest) {
    const std::pair<const char*, bool> cases[] = {
        {"QUJD", true},   {"QQ==", true},   {"QUJD\r\n", true}, {"", true},
        {"QQ=Q", false}, {"QQ===", false}, {"QU JD", false},   {"QUJD\t", false},
    };
    for (auto [text, expected] : cases)
        EXPECT_EQ(IsBase64Buffer(text, int32_t(std::strlen(text))), expected) << text;
    const std::string withNul("QQ==\0\0", 6);
    EXPECT_TRUE(IsBase64Buffer(withNul.data(), 6));
    const std::string leadingNul("\0QUJD", 5);
    EXPECT_FALSE(IsBase64Buffer(leadingNul.data(), 5));
    const std::string wide("Q\0Q\0=\0=\0", 8), badWide("Q\0Q\x01", 4);
    EXPECT_TRUE(IsBase64WideBuffer(wide.data(), 8));
    EXPECT_FALSE(IsBase64WideBuffer(badWide.data(), 4));
}

// ---------------------------------------------------------------------------------------------
// Streaming Base64

namespace {

std::string StreamEncode(const Bytes& data, int32_t lineLength, int32_t kind, std::mt19937& rng) {
    Base64Context ctx;
    Base64EncodeInit(ctx, lineLength, kind);
    std::string out;
    size_t at = 0;
    while (at < data.size()) {
        const size_t n = std::min(data.size() - at, size_t(rng() % 70));
        // Asked with no room first: a call that writes nothing succeeds at once and takes the
        // input; otherwise it answers the size and takes nothing.
        int32_t size = 0;
        if (!Base64EncodeUpdate(ctx, data.data() + at, int32_t(n), nullptr, size)) {
            std::string piece(size_t(size), '\0');
            EXPECT_TRUE(Base64EncodeUpdate(ctx, data.data() + at, int32_t(n), piece.data(), size));
            out += piece.substr(0, size_t(size));
        } else {
            EXPECT_EQ(size, 0);
        }
        at += n;
    }
    int32_t size = 0;
    Base64EncodeFinal(ctx, nullptr, size);
    std::string tail(size_t(size) + 1, '\0');
    EXPECT_TRUE(Base64EncodeFinal(ctx, tail.data(), size));
    return out + tail.substr(0, size_t(size));
}

std::optional<Bytes> StreamDecode(const std::string& text, std::mt19937& rng) {
    Base64Context ctx;
    Base64DecodeInit(ctx);
    Bytes out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t n = std::min(text.size() - at, size_t(rng() % 50));
        int32_t size = 0;
        Bytes piece(text.size() + 3);
        size = int32_t(piece.size());
        if (!Base64DecodeUpdate(ctx, text.data() + at, int32_t(n), piece.data(), size)) return std::nullopt;
        out.insert(out.end(), piece.begin(), piece.begin() + size);
        at += n;
    }
    Bytes tail(4);
    int32_t size = 4;
    if (!Base64DecodeFinal(ctx, tail.data(), size)) return std::nullopt;
    out.insert(out.end(), tail.begin(), tail.begin() + size);
    return out;
}

}  // namespace

TEST(PEMBase64, EncoderEdges) {
    std::mt19937 rng(7);
    // 57 bytes with lines of 76 and CR LF: 76 characters and the separator; the final writes
    // nothing.
    Base64Context ctx;
    EXPECT_TRUE(Base64EncodeInit(ctx, 76, 0));
    Bytes data(57, 0x61);
    std::string out(200, '\0');
    int32_t size = 200;
    ASSERT_TRUE(Base64EncodeUpdate(ctx, data.data(), 57, out.data(), size));
    EXPECT_EQ(size, 78);
    EXPECT_EQ(out.substr(76, 2), "\r\n");
    size = 10;
    ASSERT_TRUE(Base64EncodeFinal(ctx, out.data(), size));
    EXPECT_EQ(size, 0);
    // Too little room changes nothing.
    Base64EncodeInit(ctx, 0, 3);
    size = 3;
    EXPECT_FALSE(Base64EncodeUpdate(ctx, data.data(), 3, out.data(), size));
    EXPECT_EQ(size, 4);
    EXPECT_EQ(ctx.PendingCount, 0);
    EXPECT_FALSE(Base64EncodeInit(ctx, 2, 0));  // below 4: no line breaks, false
    // A line length of 0 and no separator: plain Base64 of any piece sizes.
    for (size_t n : {0u, 1u, 2u, 3u, 100u, 1000u}) {
        Bytes d(n);
        for (auto& b : d)
            b = uint8_t(rng());
        std::string expected = Base64(d);
        expected.erase(std::remove(expected.begin(), expected.end(), '\n'), expected.end());
        EXPECT_EQ(StreamEncode(d, 0, 3, rng), expected) << n;
        EXPECT_EQ(StreamDecode(expected, rng), d);
        // Lines of 64 with LF: the same text as the library's own coder, and a final LF.
        const std::string lines = StreamEncode(d, 64, 2, rng);
        EXPECT_EQ(lines, n == 0 ? "" : Base64(d) + "\n") << n;
    }
}

TEST(PEMBase64, DecoderEdges) {
    Base64Context ctx;
    Bytes out(8);
    int32_t size = 8;
    // Two characters and one "=": the final fails; with two "=" they give one byte.
    Base64DecodeInit(ctx);
    ASSERT_TRUE(Base64DecodeUpdate(ctx, "QQ=", 3, out.data(), size));
    size = 8;
    EXPECT_FALSE(Base64DecodeFinal(ctx, out.data(), size));
    Base64DecodeInit(ctx);
    size = 8;
    ASSERT_TRUE(Base64DecodeUpdate(ctx, "Q Q\t=\r\n=", 8, out.data(), size));
    size = 8;
    ASSERT_TRUE(Base64DecodeFinal(ctx, out.data(), size));
    EXPECT_EQ(size, 1);
    EXPECT_EQ(out[0], 0x41);
    // A third "=", and a character outside the alphabet, fail with size 0.
    Base64DecodeInit(ctx);
    size = 8;
    EXPECT_FALSE(Base64DecodeUpdate(ctx, "QQ===", 5, out.data(), size));
    EXPECT_EQ(size, 0);
    size = 8;
    EXPECT_FALSE(Base64DecodeUpdate(ctx, "QU*D", 4, out.data(), size));
    EXPECT_EQ(size, 0);
    // Too little room: the size needed, the context unchanged.
    Base64DecodeInit(ctx);
    size = 2;
    EXPECT_FALSE(Base64DecodeUpdate(ctx, "QUJD", 4, out.data(), size));
    EXPECT_EQ(size, 3);
    EXPECT_EQ(ctx.PendingCount, 0);
    size = 0;
    EXPECT_TRUE(Base64DecodeUpdate(ctx, "", 0, out.data(), size));
}
