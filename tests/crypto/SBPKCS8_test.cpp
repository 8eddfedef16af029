// PKCS#8 structures: the two readers' codes on a table of structures, byte-exact round trips
// of the unencrypted and encrypted keys python3-cryptography-vectors ships (read in place),
// the attributes element accepted and dropped, and the writers' size protocol.
#include "crypto/SBPKCS8.h"

#include <gtest/gtest.h>

#include "ASN1TestSupport.h"
#include "crypto/SBConstants.h"
#include "support/TestSupport.h"

using asn1test::H;

namespace {

const std::filesystem::path kVectors = "/usr/lib/python3/dist-packages/cryptography_vectors/asymmetric";

template <class T>
std::string Save(const T& info) {
    size_t size = 0;
    EXPECT_FALSE(info.SaveToBuffer(nullptr, size));
    std::string out(size, '\0');
    EXPECT_TRUE(info.SaveToBuffer(out.data(), size));
    out.resize(size);
    return out;
}

// AlgorithmIdentifier rsaEncryption with NULL.
const std::string kRsaAlg = "300D06092A864886F70D0101010500";

}  // namespace

TEST(SBPKCS8, PrivateKeyInfoCodes) {
    const struct {
        const char* name;
        std::string der;
        int32_t code;
    } cases[] = {
        {"plain", H("3016 020100" + kRsaAlg + "0402ABCD"), 0},
        {"with attributes", H("301A 020100" + kRsaAlg + "0402ABCD A0020500"), 0},
        {"not ASN.1", H("3016 0201"), 0x2301},
        {"two top-level elements", H("3016 020100" + kRsaAlg + "0402ABCD 0500"), 0x2302},
        {"not a SEQUENCE", H("3116 020100" + kRsaAlg + "0402ABCD"), 0x2302},
        {"two elements", H("3012 020100" + kRsaAlg), 0x2302},
        {"five elements", H("301A 020100" + kRsaAlg + "0402ABCD 0500 0500"), 0x2302},
        {"version 1", H("3016 020101" + kRsaAlg + "0402ABCD"), 0x2305},
        {"version 00 00", H("3017 02020000" + kRsaAlg + "0402ABCD"), 0x2305},
        {"version not an INTEGER", H("3016 040100" + kRsaAlg + "0402ABCD"), 0x2302},
        {"algorithm with three elements", H("3018 020100 300F06092A864886F70D01010105000500 0402ABCD"),
         0x1E0E},
        {"key constructed", H("3018 020100" + kRsaAlg + "2404 0402ABCD"), 0x2302},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS8PrivateKeyInfo info;
        EXPECT_EQ(info.LoadFromBuffer(c.der.data(), c.der.size()), c.code);
        if (c.code == 0) {
            EXPECT_EQ(info.KeyAlgorithm, SB_OID_RSA_ENCRYPTION);
            EXPECT_EQ(info.KeyAlgorithmParams, H("0500"));
            EXPECT_EQ(info.PrivateKey, H("ABCD"));
            // Written back without the attributes.
            EXPECT_EQ(Save(info), H("3016 020100" + kRsaAlg + "0402ABCD"));
        }
    }
    // Parameters left empty are written as NULL.
    TElPKCS8PrivateKeyInfo info;
    info.KeyAlgorithm = std::string(SB_OID_DSA);
    info.PrivateKey = H("020105");
    EXPECT_EQ(Save(info), H("3015 020100 300B06072A8648CE3804010500 0403020105"));
    info.Clear();
    EXPECT_TRUE(info.PrivateKey.empty());
    EXPECT_TRUE(info.KeyAlgorithm.empty());
}

TEST(SBPKCS8, EncryptedPrivateKeyInfoCodes) {
    const std::string alg = "301A06092A864886F70D01050A300D04080102030405060708020101";
    const struct {
        const char* name;
        std::string der;
        int32_t code;
    } cases[] = {
        {"plain", H("3020" + alg + "0402ABCD"), 0},
        {"three elements", H("3022" + alg + "0402ABCD 0500"), 0x2302},
        {"data constructed", H("3022" + alg + "2404 0402ABCD"), 0x2302},
        {"algorithm primitive", H("3006 0500 0402ABCD"), 0x2302},
        {"algorithm without OID", H("3008 30020500 0402ABCD"), 0x1E0E},
        {"not a SEQUENCE", H("3120" + alg + "0402ABCD"), 0x2302},
        {"truncated", H("3020" + alg), 0x2301},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TElPKCS8EncryptedPrivateKeyInfo info;
        EXPECT_EQ(info.LoadFromBuffer(c.der.data(), c.der.size()), c.code);
        if (c.code == 0) {
            EXPECT_EQ(info.EncryptionAlgorithm, SB_OID_PBE_SHA1_DES);
            EXPECT_EQ(info.EncryptedData, H("ABCD"));
            EXPECT_EQ(Save(info), c.der);
        }
    }
}

// Files written by other tools read and written back unchanged.
TEST(SBPKCS8, VectorFilesRoundTrip) {
    KW_REQUIRE_PEER(std::filesystem::exists(kVectors), kVectors.string());
    int ran = 0;
    for (const char* name :
         {"DER_Serialization/unenc-rsa-pkcs8.der", "DER_Serialization/unenc-dsa-pkcs8.der"}) {
        SCOPED_TRACE(name);
        const std::string der = kwtest::ReadFile(kVectors / name);
        TElPKCS8PrivateKeyInfo info;
        ASSERT_EQ(info.LoadFromBuffer(der.data(), der.size()), 0);
        EXPECT_FALSE(info.PrivateKey.empty());
        EXPECT_EQ(Save(info), der);
        ++ran;
    }
    for (const char* name : {"DER_Serialization/enc-rsa-pkcs8.der", "DER_Serialization/enc2-rsa-pkcs8.der"}) {
        SCOPED_TRACE(name);
        const std::string der = kwtest::ReadFile(kVectors / name);
        TElPKCS8EncryptedPrivateKeyInfo info;
        ASSERT_EQ(info.LoadFromBuffer(der.data(), der.size()), 0);
        EXPECT_EQ(Save(info), der);
        // An encrypted key is not a PrivateKeyInfo.
        TElPKCS8PrivateKeyInfo plain;
        EXPECT_EQ(plain.LoadFromBuffer(der.data(), der.size()), 0x2302);
        ++ran;
    }
    EXPECT_EQ(ran, 4);
}
