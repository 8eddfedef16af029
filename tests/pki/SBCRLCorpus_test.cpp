// Every revocation list of PKITS and of the custom set reads as libcrypto reads it: issuer,
// times, version, entries with their serials, dates and reasons, the extensions; the list
// gives its DER back.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include "pki/SBCRL.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using asn1test::Hex;
using namespace pkitest;

using CRLPtr = std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)>;

CRLPtr ParseCRL(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    return CRLPtr(d2i_X509_CRL(nullptr, &p, long(der.size())), &X509_CRL_free);
}

std::string IntegerDER(const ASN1_INTEGER* n) {
    unsigned char* p = nullptr;
    const int len = i2d_ASN1_INTEGER(const_cast<ASN1_INTEGER*>(n), &p);
    std::string der(reinterpret_cast<char*>(p), size_t(len));
    OPENSSL_free(p);
    return der;
}

struct Counts {
    int loaded = 0, entries = 0, refused = 0;
};

void Compare(const std::string& where, const std::string& der, Counts& counts) {
    SCOPED_TRACE(where);
    CRLPtr ref = ParseCRL(der);
    TElCertificateRevocationList crl;
    int32_t r = -1;
    try {
        r = crl.LoadFromBuffer(der.data(), der.size());
    } catch (const EElCertificateException&) {
        r = -2;  // a critical authority key identifier that is not one SEQUENCE
    }
    if (!ref) {
        ++counts.refused;
        return;
    }
    if (r != 0) {
        // Lists we refuse where libcrypto reads them must break a rule of RFC 5280 5.1: a
        // version INTEGER other than v2, an outer algorithm unlike the inner one, extensions in
        // a version 1 list, or an element where the grammar has none (the custom set's broken
        // lists, named crl_*).
        const long v = X509_CRL_get_version(ref.get());
        EXPECT_TRUE(v > 1 || r == SB_CRL_ERROR_BAD_SIGNATURE_ALGORITHM || r == SB_CRL_ERROR_INVALID_VERSION ||
                    (r == SB_CRL_ERROR_INVALID_FORMAT && where.find("/crl_") != std::string::npos))
            << "refused with " << r;
        std::cout << "refused " << where << ": " << r << "\n";
        ++counts.refused;
        return;
    }
    ++counts.loaded;
    size_t size = 0;
    EXPECT_EQ(crl.SaveToBuffer(nullptr, size), SB_CRL_ERROR_BUFFER_TOO_SMALL);
    std::string back(size, '\0');
    EXPECT_EQ(crl.SaveToBuffer(back.data(), size), 0);
    EXPECT_EQ(back, der);

    const unsigned char* enc = nullptr;
    size_t encLen = 0;
    ASSERT_EQ(X509_NAME_get0_der(X509_CRL_get_issuer(ref.get()), &enc, &encLen), 1);
    EXPECT_EQ(Hex(crl.Issuer.SaveToDER()), Hex(std::string(reinterpret_cast<const char*>(enc), encLen)));
    // A version INTEGER of 01 or 02 reads as a version 2 list.
    EXPECT_EQ(crl.Version, X509_CRL_get_version(ref.get()) >= 1 ? 2 : 0);
    EXPECT_EQ(UnixTime(crl.ThisUpdate), UnixTime(X509_CRL_get0_lastUpdate(ref.get())));
    if (const ASN1_TIME* next = X509_CRL_get0_nextUpdate(ref.get()))
        EXPECT_EQ(UnixTime(crl.NextUpdate), UnixTime(next));
    else
        EXPECT_EQ(crl.NextUpdate, 0.0);

    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(ref.get());
    const int n = revoked ? sk_X509_REVOKED_num(revoked) : 0;
    ASSERT_EQ(crl.GetCount(), n);
    for (int i = 0; i < n; ++i) {
        const X509_REVOKED* rv = sk_X509_REVOKED_value(revoked, i);
        const TElRevocationItem& item = *crl.GetItem(i);
        EXPECT_EQ(Hex(EncodeDERTLV(0x02, item.SerialNumber)), Hex(IntegerDER(X509_REVOKED_get0_serialNumber(rv))));
        EXPECT_EQ(UnixTime(item.RevocationDate), UnixTime(X509_REVOKED_get0_revocationDate(rv)));
        int crit = 0;
        auto* reason = static_cast<ASN1_ENUMERATED*>(X509_REVOKED_get_ext_d2i(rv, NID_crl_reason, &crit, nullptr));
        if (reason != nullptr) {
            const long code = ASN1_ENUMERATED_get(reason);
            ASN1_ENUMERATED_free(reason);
            ASSERT_TRUE(item.Extensions.Included & crlReasonCode);
            if (code >= 0 && code <= 10 && code != 7) {
                EXPECT_EQ(item.Extensions.ReasonCode->Reason, code);
            }
        }
        // An extension met twice is read twice into one object.
        EXPECT_LE(int(item.Extensions.OtherExtensions.size()) + __builtin_popcount(item.Extensions.Included),
                  X509_REVOKED_get_ext_count(rv));
        EXPECT_GE(int(item.Extensions.OtherExtensions.size()) + __builtin_popcount(item.Extensions.Included),
                  X509_REVOKED_get_ext_count(rv) > 0 ? 1 : 0);
        ++counts.entries;
    }
    const int extCount = X509_CRL_get_ext_count(ref.get());
    EXPECT_EQ(int(crl.Extensions.OtherExtensions.size()) + __builtin_popcount(crl.Extensions.Included), extCount);
    if (ASN1_INTEGER* number = static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(ref.get(), NID_crl_number, nullptr, nullptr))) {
        uint64_t v = 0;
        if (ASN1_INTEGER_get_uint64(&v, number) == 1 && v <= 0xFFFFFFFFu) {
            EXPECT_EQ(crl.Extensions.CRLNumber->Number, v);
        }
        ASN1_INTEGER_free(number);
    }
}

TEST(CRLCorpus, PKITSLists) {
    PKI_REQUIRE_DIR(VectorsX509() / "PKITS_data/crls");
    Counts counts;
    for (const auto& e : fs::directory_iterator(VectorsX509() / "PKITS_data/crls"))
        if (e.path().extension() == ".crl") Compare(e.path().string(), kwtest::ReadFile(e.path()), counts);
    EXPECT_GE(counts.loaded, 170);
    EXPECT_EQ(counts.refused, 0);
    std::cout << counts.loaded << " lists, " << counts.entries << " entries\n";
}

TEST(CRLCorpus, CustomLists) {
    PKI_REQUIRE_DIR(VectorsX509() / "custom");
    Counts counts;
    for (const auto& e : fs::directory_iterator(VectorsX509() / "custom")) {
        const std::string name = e.path().filename().string();
        if (name.rfind("crl_", 0) != 0 && name != "invalid_signature_crl.pem" && name != "valid_signature_crl.pem")
            continue;
        for (const std::string& der : LoadObjects(e.path(), "X509 CRL"))
            Compare(e.path().string(), der, counts);
    }
    EXPECT_GE(counts.loaded, 20);
    std::cout << counts.loaded << " lists, " << counts.entries << " entries, " << counts.refused << " refused\n";
}

}  // namespace
