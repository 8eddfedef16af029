// Every certificate of the published corpora loads and reads as libcrypto reads it: serial,
// names, validity, key, the main extensions; certificates, names and extension values give
// their DER back.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "crypto/base/SBConstants.h"
#include "pki/SBX509.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using asn1test::Hex;
using namespace pkitest;

struct Stats {
    int loaded = 0;
    int refusedByBoth = 0;
};

// Compares one certificate with libcrypto's reading; adds a failure naming the file for every
// difference.
void CompareWithLibcrypto(const std::string& where, const std::string& der, Stats& stats) {
    SCOPED_TRACE(where);
    X509Ptr ref = ParseDER(der);
    TElX509Certificate cert;
    bool ours = true;
    std::string why;
    try {
        cert.LoadFromBuffer(der.data(), der.size());
    } catch (const EElCertificateException& e) {
        ours = false;
        why = e.Message();
    }
    if (!ref) {
        // Bytes libcrypto refuses are not a certificate of the corpus; ours may go either way.
        ++stats.refusedByBoth;
        return;
    }
    if (ASN1_TIME_check(X509_get0_notBefore(ref.get())) != 1 || ASN1_TIME_check(X509_get0_notAfter(ref.get())) != 1) {
        // A validity time that is no time of its type: ours refuses the certificate.
        EXPECT_FALSE(ours);
        ++stats.refusedByBoth;
        return;
    }
    ASSERT_TRUE(ours) << "refused: " << why;
    ++stats.loaded;

    size_t size = 0;
    EXPECT_FALSE(cert.SaveToBuffer(nullptr, size));
    std::string back(size, '\0');
    ASSERT_TRUE(cert.SaveToBuffer(back.data(), size));
    EXPECT_EQ(back, der);

    // Serial, as encoded.
    unsigned char* p = nullptr;
    const int n = i2d_ASN1_INTEGER(const_cast<ASN1_INTEGER*>(X509_get0_serialNumber(ref.get())), &p);
    const std::string serialDer(reinterpret_cast<char*>(p), size_t(n));
    OPENSSL_free(p);
    EXPECT_EQ(Hex(EncodeDERTLV(0x02, cert.GetSerialNumberAsEncoded())), Hex(serialDer));

    // Names, as DER.
    for (const auto& [ourName, refName] : {std::pair{&cert.GetIssuerRDN(), X509_get_issuer_name(ref.get())},
                                           std::pair{&cert.GetSubjectRDN(), X509_get_subject_name(ref.get())}}) {
        const unsigned char* enc = nullptr;
        size_t encLen = 0;
        ASSERT_EQ(X509_NAME_get0_der(refName, &enc, &encLen), 1);
        EXPECT_EQ(Hex(ourName->SaveToDER()), Hex(std::string(reinterpret_cast<const char*>(enc), encLen)));
    }

    EXPECT_EQ(UnixTime(cert.GetValidFrom()), UnixTime(X509_get0_notBefore(ref.get())));
    EXPECT_EQ(UnixTime(cert.GetValidTo()), UnixTime(X509_get0_notAfter(ref.get())));
    EXPECT_EQ(cert.GetVersion(), X509_get_version(ref.get()) + 1);
    EXPECT_EQ(Hex(cert.GetPublicKeyBytes()), Hex(ASN1StringBytes(X509_get0_pubkey_bitstr(ref.get()))));
    const ASN1_BIT_STRING* sig = nullptr;
    X509_get0_signature(&sig, nullptr, ref.get());
    EXPECT_EQ(Hex(cert.GetSignature()), Hex(ASN1StringBytes(sig)));
    if (EVP_PKEY* key = X509_get0_pubkey(ref.get()); key != nullptr && cert.GetKeyBits() != 0) {
        EXPECT_EQ(cert.GetKeyBits(), EVP_PKEY_get_bits(key));
    }

    // Extensions: the same OIDs, critical flags and values, in order; values written back.
    const TElCertificateExtensions& ext = cert.GetExtensions();
    const int count = X509_get_ext_count(ref.get());
    ASSERT_EQ(int(ext.Met().size()), count);
    std::map<std::string, int> seen;
    for (int i = 0; i < count; ++i)
        ++seen[ext.Met()[size_t(i)].OID];
    int other = 0;
    for (int i = 0; i < count; ++i) {
        X509_EXTENSION* x = X509_get_ext(ref.get(), i);
        const ASN1_OBJECT* obj = X509_EXTENSION_get_object(x);
        const std::string oid(reinterpret_cast<const char*>(OBJ_get0_data(obj)), OBJ_length(obj));
        const std::string value = ASN1StringBytes(X509_EXTENSION_get_data(x));
        EXPECT_EQ(Hex(ext.Met()[size_t(i)].OID), Hex(oid));
        EXPECT_EQ(ext.Met()[size_t(i)].Critical, X509_EXTENSION_get_critical(x) != 0);
        const TElCustomExtension* ours = ext.FindKnown(oid);
        if (ours == nullptr) ours = ext.OtherExtensions[size_t(other++)].get();
        if (seen[oid] == 1) {
            EXPECT_EQ(Hex(ours->GetValue()), Hex(value)) << "extension " << Hex(oid);
            EXPECT_EQ(Hex(ours->GetOID()), Hex(oid));
        }
    }

    // The main extensions as libcrypto decodes them, where it finds them well formed.
    const uint32_t flags = X509_get_extension_flags(ref.get());
    if ((flags & EXFLAG_INVALID) == 0) {
        if (ext.Included & ceBasicConstraints) {
            EXPECT_EQ(ext.BasicConstraints.CA, (flags & EXFLAG_CA) != 0);
            const long pathLen = X509_get_pathlen(ref.get());
            if (ext.BasicConstraints.CA) {
                EXPECT_EQ(ext.BasicConstraints.PathLenConstraint, pathLen);
            }
        }
        if (ext.Included & ceKeyUsage) {
            // libcrypto's bits: digitalSignature 0x80 ... decipherOnly 0x8000.
            const uint32_t ku = X509_get_key_usage(ref.get());
            uint32_t ours = 0;
            const TSBKeyUsage set = ext.KeyUsage.GetUsages();
            for (unsigned b = 0; b < 8; ++b)
                if (set & (1u << b)) ours |= 0x80u >> b;
            if (set & KeyUsageBit(kuDecipherOnly)) ours |= 0x8000;
            EXPECT_EQ(ours, ku);
        }
        if (const ASN1_OCTET_STRING* skid = X509_get0_subject_key_id(ref.get())) {
            EXPECT_EQ(Hex(ext.SubjectKeyIdentifier.KeyIdentifier), Hex(ASN1StringBytes(skid)));
        }
        if (const ASN1_OCTET_STRING* akid = X509_get0_authority_key_id(ref.get())) {
            EXPECT_EQ(Hex(ext.AuthorityKeyIdentifier.KeyIdentifier), Hex(ASN1StringBytes(akid)));
        }
    }
}

void CompareFolder(const fs::path& dir, const std::function<bool(const fs::path&)>& take, int atLeast) {
    Stats stats;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && take(e.path())) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        for (const std::string& der : LoadObjects(f, "CERTIFICATE"))
            CompareWithLibcrypto(f.string(), der, stats);
    EXPECT_GE(stats.loaded, atLeast);
    std::cout << dir << ": " << stats.loaded << " certificates compared, " << stats.refusedByBoth
              << " inputs libcrypto refuses\n";
}

TEST(X509Corpus, SystemCABundle) {
    PKI_REQUIRE_DIR(fs::path("/etc/ssl/certs"));
    CompareFolder("/etc/ssl/certs", [](const fs::path& p) { return p.extension() == ".pem"; }, 100);
}

TEST(X509Corpus, PKITSCertificates) {
    PKI_REQUIRE_DIR(VectorsX509() / "PKITS_data/certs");
    CompareFolder(VectorsX509() / "PKITS_data/certs", [](const fs::path& p) { return p.extension() == ".crt"; }, 400);
}

TEST(X509Corpus, CustomCertificates) {
    PKI_REQUIRE_DIR(VectorsX509() / "custom");
    CompareFolder(
        VectorsX509() / "custom",
        [](const fs::path& p) {
            const std::string name = p.filename().string();
            return name.rfind("crl_", 0) != 0 && (p.extension() == ".pem" || p.extension() == ".der");
        },
        60);
    // And the certificates beside the folder.
    CompareFolder(
        VectorsX509(),
        [](const fs::path& p) {
            return p.parent_path() == VectorsX509() && (p.extension() == ".pem" || p.extension() == ".der");
        },
        20);
}

}  // namespace
