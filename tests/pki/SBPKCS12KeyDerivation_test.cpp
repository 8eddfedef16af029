// The PKCS#12 key derivation against libcrypto's: the password converted by libcrypto from
// UTF-8 (PKCS12_key_gen_utf8) and ours must give the same bytes for every purpose id, over
// salts, lengths, counts and digests that cross the block boundaries; the empty password
// hashes no bytes at all, and its two-zero-byte form is libcrypto's empty BMPString.
#include "pki/SBPKCS12.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <random>
#include <string>

#include "crypto/base/SBConstants.h"

namespace {

std::string Str(const rtl::SecureBytes& b) {
    return std::string(b.begin(), b.end());
}

const EVP_MD* Md(int32_t digest) {
    switch (digest) {
        case SB_ALG_SHA1:
            return EVP_sha1();
        case SB_ALG_MD5:
            return EVP_md5();
        case SB_ALG_SHA256:
            return EVP_sha256();
        case SB_ALG_SHA384:
            return EVP_sha384();
        default:
            return EVP_sha512();
    }
}

std::string Theirs(const std::string& password, bool nullPassword, const std::string& salt, int id, int n,
                   int iter, int32_t digest) {
    std::string out(size_t(n), '\0');
    auto* s = reinterpret_cast<unsigned char*>(const_cast<char*>(salt.data()));
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const int ok = nullPassword
                       ? PKCS12_key_gen_uni(nullptr, 0, s, int(salt.size()), id, iter, n, o, Md(digest))
                       : PKCS12_key_gen_utf8(password.c_str(), int(password.size()), s, int(salt.size()), id,
                                             iter, n, o, Md(digest));
    if (ok != 1) throw std::runtime_error("PKCS12_key_gen failed");
    return out;
}

}  // namespace

TEST(SBPKCS12KeyDerivation, MatchesLibcrypto) {
    std::mt19937 rng(12);
    auto bytes = [&](size_t n) {
        std::string s(n, '\0');
        for (auto& c : s)
            c = char(rng());
        return s;
    };
    const std::string passwords[] = {"a", "password", "p\xC3\xA4ssw\xC3\xB6rd \xE2\x82\xAC",
                                     std::string(70, 'x') /* past one block of BMP */};
    int ran = 0;
    for (const int32_t digest : {SB_ALG_SHA1, SB_ALG_MD5, SB_ALG_SHA256, SB_ALG_SHA384, SB_ALG_SHA512}) {
        for (const auto& password : passwords) {
            for (const size_t saltLen : {0u, 1u, 8u, 20u, 64u, 65u, 130u}) {
                const std::string salt = bytes(saltLen);
                for (const int n : {1, 5, 8, 20, 24, 33, 64, 65, 129}) {
                    const int iter = int(rng() % 4);  // 0 and 1 both run the digest once
                    for (int id = 1; id <= 3; ++id) {
                        SCOPED_TRACE(std::to_string(digest) + " " + password + " salt " +
                                     std::to_string(saltLen) + " n " + std::to_string(n) + " iter " +
                                     std::to_string(iter) + " id " + std::to_string(id));
                        EXPECT_EQ(Str(DerivePKCS12Key(password, salt, id, n, iter, digest)),
                                  Theirs(password, false, salt, id, n, iter, digest));
                        ++ran;
                    }
                }
            }
        }
    }
    EXPECT_EQ(ran, 5 * 4 * 7 * 9 * 3);
    // A real count.
    const std::string salt = bytes(8);
    EXPECT_EQ(Str(DerivePKCS12Key("pfx", salt, 3, 20, 2048, SB_ALG_SHA1)),
              Theirs("pfx", false, salt, 3, 20, 2048, SB_ALG_SHA1));
}

TEST(SBPKCS12KeyDerivation, EmptyPasswordHashesNoBytes) {
    const std::string salt = "\x01\x02\x03\x04\x05\x06\x07\x08";
    EXPECT_TRUE(PKCS12PasswordToBMP("").empty());
    EXPECT_EQ(Str(DerivePKCS12Key("", salt, 1, 24, 5, SB_ALG_SHA1)),
              Theirs("", true, salt, 1, 24, 5, SB_ALG_SHA1));
    // What other tools hash for "": the empty BMPString with its terminator.
    EXPECT_EQ(Str(DerivePKCS12KeyFromBMP(std::string(2, '\0'), salt, 1, 24, 5, SB_ALG_SHA1)),
              Theirs("", false, salt, 1, 24, 5, SB_ALG_SHA1));
    EXPECT_NE(Str(DerivePKCS12Key("", salt, 1, 24, 5, SB_ALG_SHA1)),
              Str(DerivePKCS12KeyFromBMP(std::string(2, '\0'), salt, 1, 24, 5, SB_ALG_SHA1)));
}

TEST(SBPKCS12KeyDerivation, PasswordFormAndUnsupportedDigests) {
    EXPECT_EQ(Str(PKCS12PasswordToBMP("A\xC3\xA9")), std::string("\x00\x41\x00\xE9\x00\x00", 6));
    EXPECT_TRUE(DerivePKCS12Key("pw", "salt", 1, 16, 1, SB_ALG_MD2).empty());
    EXPECT_TRUE(DerivePKCS12Key("pw", "salt", 1, 16, 1, SB_ALG_SHA224).empty());
    EXPECT_TRUE(DerivePKCS12Key("pw", "salt", 1, 0, 1, SB_ALG_SHA1).empty());
}
