// A storage's PFX exchange and its streamed property: exported and imported with the same
// certificates, the size question, a failed import that changes nothing, and the
// "BinaryCertificates" and "Certificates" forms read and written through a memory stream (the
// streamed PFX opened by libcrypto under the program's fixed password, all of it in 128-bit
// RC4), and private keys carried along by both.
#include <gtest/gtest.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "PKITestSupport.h"
#include "crypto/base/SBConstants.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBPKCS12.h"
#include "rtl/Bytes.h"
#include "rtl/Stream.h"
#include "tests/crypto/OpenSSLPeer.h"

namespace {

void Fill(TElMemoryCertStorage& storage) {
    for (const char* name : {"TrustAnchorRootCertificate.crt", "GoodCACert.crt", "DSACACert.crt"}) {
        const std::string der = kwtest::ReadFile(pkitest::VectorsX509() / "PKITS_data/certs" / name);
        TElX509Certificate c;
        c.LoadFromBuffer(der.data(), der.size());
        storage.Add(&c);
    }
}

std::vector<std::string> DERs(const TElCustomCertStorage& storage) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < storage.GetCount(); ++i)
        out.emplace_back(storage.GetCertificate(i)->GetDER());
    return out;
}

std::string StreamBytes(rtl::MemoryStream& s) {
    std::string out(size_t(s.Size()), '\0');
    s.Seek(0, rtl::SeekOrigin::Begin);
    s.ReadBuffer(out.data(), out.size());
    s.Seek(0, rtl::SeekOrigin::Begin);
    return out;
}

// The PBE of every certificate safe and shrouded key bag of a PFX, as libcrypto reads it
// under the password (its MAC checked first); empty when it does not open.
std::vector<int> PBEsOf(const std::string& pfx, std::string_view password) {
    std::vector<int> out;
    const auto* p = reinterpret_cast<const unsigned char*>(pfx.data());
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12(nullptr, &p, long(pfx.size())),
                                                        &PKCS12_free);
    const std::string pass(password);
    if (!p12 || PKCS12_verify_mac(p12.get(), pass.c_str(), int(pass.size())) != 1) return out;
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12.get());
    for (int i = 0; safes != nullptr && i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        if (OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted) {
            out.push_back(OBJ_obj2nid(safe->d.encrypted->enc_data->algorithm->algorithm));
            continue;
        }
        STACK_OF(PKCS12_SAFEBAG)* bags = PKCS12_unpack_p7data(safe);
        for (int j = 0; bags != nullptr && j < sk_PKCS12_SAFEBAG_num(bags); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, j);
            if (PKCS12_SAFEBAG_get_nid(bag) != NID_pkcs8ShroudedKeyBag) continue;
            const X509_ALGOR* algorithm = nullptr;
            X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
            out.push_back(OBJ_obj2nid(algorithm->algorithm));
        }
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    return out;
}

}  // namespace

TEST(SBCustomCertStoragePFX, ExportAndImport) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    TElMemoryCertStorage storage;
    Fill(storage);
    size_t size = 0;
    EXPECT_EQ(storage.ExportToPFX(nullptr, size, SB_ALG_PKCS12_SHA1_3DES, SB_ALG_PKCS12_SHA1_RC2_40, "pw"),
              0x1F14);
    ASSERT_GT(size, 0u);
    std::string pfx(size, '\0');
    ASSERT_EQ(storage.ExportToPFX(pfx.data(), size, SB_ALG_PKCS12_SHA1_3DES, SB_ALG_PKCS12_SHA1_RC2_40, "pw"),
              0);
    pfx.resize(size);
    TElPKCS12Message check;
    check.SetPassword("pw");
    ASSERT_EQ(check.LoadFromBuffer(pfx.data(), pfx.size()), 0);
    EXPECT_EQ(check.IterationCount, 2048);

    TElMemoryCertStorage imported;
    ASSERT_EQ(imported.ImportFromPFX(pfx.data(), pfx.size(), "pw"), 0);
    EXPECT_EQ(DERs(imported), DERs(storage));
    // A wrong password changes nothing.
    TElMemoryCertStorage other;
    Fill(other);
    other.Remove(2);
    EXPECT_NE(other.ImportFromPFX(pfx.data(), pfx.size(), "wrong"), 0);
    EXPECT_EQ(other.GetCount(), 2);
    // Import adds to what is there.
    ASSERT_EQ(other.ImportFromPFX(pfx.data(), pfx.size(), "pw"), 0);
    EXPECT_EQ(other.GetCount(), 5);
    TElMemoryCertStorage empty;
    EXPECT_EQ(empty.ExportToPFX(nullptr, size, SB_ALG_PKCS12_SHA1_3DES, SB_ALG_PKCS12_SHA1_3DES, "pw"),
              0x1F12);
}

TEST(SBCustomCertStoragePFX, StreamedProperty) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    TElMemoryCertStorage empty;
    EXPECT_FALSE(empty.StoresBinaryCertificates());
    rtl::MemoryStream nothing;
    empty.WriteBinaryCertificates(nothing);
    EXPECT_EQ(nothing.Size(), 0);

    TElMemoryCertStorage storage;
    Fill(storage);
    EXPECT_TRUE(storage.StoresBinaryCertificates());
    rtl::MemoryStream stream;
    storage.WriteBinaryCertificates(stream);
    const std::string bytes = StreamBytes(stream);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(rtl::load_le32(reinterpret_cast<const uint8_t*>(bytes.data())), bytes.size() - 4);
    // The PFX opens under the program's fixed password, every certificate safe in 128-bit RC4.
    EXPECT_EQ(PBEsOf(bytes.substr(4), TElCustomCertStorage::StreamPassword),
              std::vector<int>(3, NID_pbe_WithSHA1And128BitRC4));
    TElMemoryCertStorage read;
    read.ReadBinaryCertificates(stream);
    EXPECT_EQ(DERs(read), DERs(storage));

    // The older "Certificates" form: the size as a component-stream integer (type 4, then 3).
    const std::string pfx = bytes.substr(4);
    for (const bool shortForm : {false, true}) {
        if (shortForm && pfx.size() > 0x7FFF) continue;
        rtl::MemoryStream old;
        uint8_t head[5];
        if (shortForm) {
            head[0] = 3;
            rtl::store_le16(head + 1, uint16_t(pfx.size()));
            old.WriteBuffer(head, 3);
        } else {
            head[0] = 4;
            rtl::store_le32(head + 1, uint32_t(pfx.size()));
            old.WriteBuffer(head, 5);
        }
        old.WriteBuffer(pfx);
        old.Seek(0, rtl::SeekOrigin::Begin);
        TElMemoryCertStorage fromOld;
        fromOld.ReadCertificates(old);
        EXPECT_EQ(DERs(fromOld), DERs(storage));
    }
    // A size of 0 clears the storage; a value type the reader does not know is an error; so
    // is a PFX that does not import.
    rtl::MemoryStream zero;
    zero.WriteBuffer(std::string(4, '\0'));
    zero.Seek(0, rtl::SeekOrigin::Begin);
    read.ReadBinaryCertificates(zero);
    EXPECT_EQ(read.GetCount(), 0);
    rtl::MemoryStream zeroInt;
    zeroInt.WriteBuffer(std::string("\x02\x00", 2));
    zeroInt.Seek(0, rtl::SeekOrigin::Begin);
    storage.ReadCertificates(zeroInt);
    EXPECT_EQ(storage.GetCount(), 0);
    rtl::MemoryStream badType;
    badType.WriteBuffer(std::string("\x06\x00", 2));
    badType.Seek(0, rtl::SeekOrigin::Begin);
    EXPECT_THROW(storage.ReadCertificates(badType), rtl::EReadError);
    rtl::MemoryStream junk;
    uint8_t le[4];
    rtl::store_le32(le, 8);
    junk.WriteBuffer(le, 4);
    junk.WriteBuffer(std::string(8, 'x'));
    junk.Seek(0, rtl::SeekOrigin::Begin);
    EXPECT_THROW(storage.ReadBinaryCertificates(junk), ECryptoLibraryError);
    rtl::MemoryStream truncated;
    rtl::store_le32(le, 100);
    truncated.WriteBuffer(le, 4);
    truncated.Seek(0, rtl::SeekOrigin::Begin);
    EXPECT_THROW(storage.ReadBinaryCertificates(truncated), rtl::EReadError);
}

// Private keys go out and come back with their certificates, through ExportToPFX and through
// the streamed form alike.
TEST(SBCustomCertStoragePFX, KeysTravelWithTheirCertificates) {
    PKI_REQUIRE_DIR(pkitest::VectorsX509());
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL providers");
    TElMemoryCertStorage storage;
    for (const char* name : {"GoodCACert.p12", "DSACACert.p12"}) {
        const std::string pfx = kwtest::ReadFile(pkitest::VectorsX509() / "PKITS_data/pkcs12" / name);
        ASSERT_EQ(storage.ImportFromPFX(pfx.data(), pfx.size(), "password"), 0) << name;
    }
    // One more without a key (the other two of Fill are these two again, which a key of the
    // file would complete as well).
    const std::string anchor =
        kwtest::ReadFile(pkitest::VectorsX509() / "PKITS_data/certs/TrustAnchorRootCertificate.crt");
    TElX509Certificate noKey;
    noKey.LoadFromBuffer(anchor.data(), anchor.size());
    storage.Add(&noKey);
    ASSERT_EQ(storage.GetCount(), 3);
    ASSERT_TRUE(storage.GetCertificate(0)->GetPrivateKeyExists());
    ASSERT_TRUE(storage.GetCertificate(1)->GetPrivateKeyExists());
    auto keys = [](const TElCustomCertStorage& s) {
        std::vector<std::string> out;
        for (int32_t i = 0; i < s.GetCount(); ++i) {
            size_t size = 0;
            s.GetCertificate(i)->SaveKeyToBuffer(nullptr, size);
            std::string key(size, '\0');
            if (size > 0 && !s.GetCertificate(i)->SaveKeyToBuffer(key.data(), size)) key.clear();
            out.push_back(key);
        }
        return out;
    };
    const std::vector<std::string> expected = keys(storage);
    EXPECT_FALSE(expected[0].empty());
    EXPECT_FALSE(expected[1].empty());
    EXPECT_TRUE(expected[2].empty());

    size_t size = 0;
    storage.ExportToPFX(nullptr, size, SB_ALG_PKCS12_SHA1_3DES, SB_ALG_PKCS12_SHA1_RC2_40, "pw");
    std::string pfx(size, '\0');
    ASSERT_EQ(storage.ExportToPFX(pfx.data(), size, SB_ALG_PKCS12_SHA1_3DES, SB_ALG_PKCS12_SHA1_RC2_40, "pw"),
              0);
    pfx.resize(size);
    TElMemoryCertStorage imported;
    ASSERT_EQ(imported.ImportFromPFX(pfx.data(), pfx.size(), "pw"), 0);
    EXPECT_EQ(DERs(imported), DERs(storage));
    EXPECT_TRUE(keys(imported) == expected);

    rtl::MemoryStream stream;
    storage.WriteBinaryCertificates(stream);
    // Two key bags and three certificate safes, all in 128-bit RC4 under the fixed password.
    EXPECT_EQ(PBEsOf(StreamBytes(stream).substr(4), TElCustomCertStorage::StreamPassword),
              std::vector<int>(5, NID_pbe_WithSHA1And128BitRC4));
    stream.Seek(0, rtl::SeekOrigin::Begin);
    TElMemoryCertStorage streamed;
    streamed.ReadBinaryCertificates(stream);
    EXPECT_EQ(DERs(streamed), DERs(storage));
    EXPECT_TRUE(keys(streamed) == expected);
}
