// A storage's PFX exchange and its streamed property: exported and imported with the same
// certificates, the size question, a failed import that changes nothing, and the
// "BinaryCertificates" and "Certificates" forms read and written through a memory stream.
#include <gtest/gtest.h>

#include "PKITestSupport.h"
#include "crypto/SBConstants.h"
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
    // The PFX is RC4 under the program's fixed password.
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
