// PEM against the openssl tool: its encrypted traditional keys (DES-CBC and DES-EDE3-CBC) open
// with the right passphrase to the key's DER and never to it with a wrong one; our encrypted PEM
// opens in openssl; the streaming Base64 encoder, fed in random pieces, writes what
// `openssl base64` writes, and the decoder reads it back.
#include <gtest/gtest.h>

#include <random>

#include "crypto/ASN1TestSupport.h"
#include "crypto/keys/SBPEM.h"

namespace {

int32_t Decode(const std::string& text, const ByteString& pass, std::string& out) {
    int32_t size = 0;
    std::string header;
    int32_t code = PEMDecode(text.data(), int32_t(text.size()), nullptr, pass, size, header);
    if (code != PEM_DECODE_RESULT_NOT_ENOUGH_SPACE) return code;
    out.assign(size_t(size), '\0');
    code = PEMDecode(text.data(), int32_t(text.size()), out.data(), pass, size, header);
    out.resize(code == 0 ? size_t(size) : 0);
    return code;
}

}  // namespace

TEST(PEMPeer, OpenSSLEncryptedKeys) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const kwtest::TempDir dir;
    const auto path = [&](const char* n) { return "'" + (dir / n).string() + "'"; };
    const auto log = dir / "log.txt";
    ASSERT_EQ(asn1test::Run("openssl genrsa -traditional -out " + path("k.pem") + " 1024", log), 0);
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("k.pem") + " -traditional -outform DER -out " + path("k.der"), log),
              0);
    const std::string der = kwtest::ReadFile(dir / "k.der");
    const std::pair<const char*, const char*> ciphers[] = {{"-des3", "DES-EDE3-CBC"},
                                                           {"-provider legacy -provider default -des", "DES-CBC"}};
    for (auto [option, name] : ciphers) {
        SCOPED_TRACE(name);
        ASSERT_EQ(asn1test::Run(std::string("openssl rsa ") + option + " -in " + path("k.pem") +
                                    " -traditional -passout pass:right -out " + path("e.pem"),
                                log),
                  0)
            << kwtest::ReadFile(log);
        const std::string text = kwtest::ReadFile(dir / "e.pem");
        ASSERT_NE(text.find(std::string("DEK-Info: ") + name), std::string::npos) << text;
        std::string out;
        EXPECT_EQ(Decode(text, "right", out), 0);
        EXPECT_EQ(out, der);
        // A wrong passphrase never gives the key (almost always 0x1D02; a lucky padding would
        // give other bytes).
        EXPECT_NE(Decode(text, "wrong", out) == 0 ? out : std::string(), der);
    }
    // Our encrypted PEM, opened by openssl.
    int32_t size = 0;
    PEMEncode(der.data(), int32_t(der.size()), nullptr, size, "RSA PRIVATE KEY", true, "ours");
    std::string pem(size_t(size), '\0');
    ASSERT_TRUE(PEMEncode(der.data(), int32_t(der.size()), pem.data(), size, "RSA PRIVATE KEY", true, "ours"));
    kwtest::WriteFile(dir / "o.pem", pem);
    ASSERT_EQ(asn1test::Run("openssl rsa -in " + path("o.pem") + " -passin pass:ours -traditional -outform DER -out " +
                                path("o.der"),
                            log),
              0)
        << kwtest::ReadFile(log);
    EXPECT_EQ(kwtest::ReadFile(dir / "o.der"), der);
}

TEST(PEMPeer, StreamingBase64MatchesOpenSSL) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const kwtest::TempDir dir;
    std::mt19937 rng(11);
    for (size_t n : {0u, 1u, 2u, 47u, 48u, 49u, 1000u, 4099u}) {
        std::string data(n, '\0');
        for (char& c : data)
            c = char(rng());
        kwtest::WriteFile(dir / "in.bin", data);
        ASSERT_EQ(asn1test::Run("openssl base64 -in '" + (dir / "in.bin").string() + "'", dir / "out.txt"), 0);
        const std::string expected = kwtest::ReadFile(dir / "out.txt");
        // openssl writes lines of 64 characters, each ended by LF.
        Base64Context ctx;
        Base64EncodeInit(ctx, 64, 2);
        std::string ours;
        for (size_t at = 0; at < n;) {
            const size_t piece = std::min(n - at, size_t(rng() % 90));
            int32_t room = int32_t(piece * 2 + 8);
            std::string out(size_t(room), '\0');
            ASSERT_TRUE(Base64EncodeUpdate(ctx, data.data() + at, int32_t(piece), out.data(), room));
            ours += out.substr(0, size_t(room));
            at += piece;
        }
        int32_t room = 8;
        std::string tail(8, '\0');
        ASSERT_TRUE(Base64EncodeFinal(ctx, tail.data(), room));
        ours += tail.substr(0, size_t(room));
        EXPECT_EQ(ours, expected) << n;

        Base64DecodeInit(ctx);
        std::string back;
        for (size_t at = 0; at < expected.size();) {
            const size_t piece = std::min(expected.size() - at, size_t(rng() % 70 + 1));
            int32_t r = int32_t(piece);
            std::string out(size_t(r) + 3, '\0');
            r = int32_t(out.size());
            ASSERT_TRUE(Base64DecodeUpdate(ctx, expected.data() + at, int32_t(piece), out.data(), r));
            back += out.substr(0, size_t(r));
            at += piece;
        }
        room = 4;
        ASSERT_TRUE(Base64DecodeFinal(ctx, tail.data(), room));
        back += tail.substr(0, size_t(room));
        EXPECT_EQ(back, data) << n;
    }
}
