// Storages, lookups and chains over PKITS certificates: the chain index, BuildChain to the top,
// the lookup criteria and options, and readers and writers at once (run under ThreadSanitizer
// in the sanitizer build).
#include "pki/SBCustomCertStorage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "crypto/base/SBConstants.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using asn1test::H;
using asn1test::Hex;
using namespace pkitest;

fs::path PKITSCert(const std::string& name) {
    return VectorsX509() / "PKITS_data/certs" / (name + ".crt");
}

std::unique_ptr<TElX509Certificate> Cert(const std::string& name) {
    const std::string der = kwtest::ReadFile(PKITSCert(name));
    auto c = std::make_unique<TElX509Certificate>();
    c->LoadFromBuffer(der.data(), der.size());
    return c;
}

class Storage : public ::testing::Test {
protected:
    void SetUp() override { PKI_REQUIRE_DIR(VectorsX509() / "PKITS_data/certs"); }

    // Adds the named certificates; answers the storage.
    static void Fill(TElMemoryCertStorage& s, std::initializer_list<const char*> names) {
        for (const char* n : names)
            s.Add(Cert(n).get(), true);
    }
    static std::vector<std::string> CommonNames(const TElX509CertificateChain& chain) {
        std::vector<std::string> v;
        for (int32_t i = 0; i < chain.GetCount(); ++i)
            v.push_back(chain.GetCertificate(i)->GetSubjectName().CommonName);
        return v;
    }
};

TEST_F(Storage, AddRemoveIndexOfAndClear) {
    TElMemoryCertStorage s;
    EXPECT_EQ(s.GetCount(), 0);
    EXPECT_EQ(s.GetCertificate(-1), nullptr);
    EXPECT_EQ(s.GetCertificate(0), nullptr);
    auto anchor = Cert("TrustAnchorRootCertificate");
    Fill(s, {"TrustAnchorRootCertificate", "GoodCACert"});
    ASSERT_EQ(s.GetCount(), 2);
    // The storage keeps its own copy; IndexOf finds by identical DER, another object or not.
    EXPECT_NE(s.GetCertificate(0), anchor.get());
    EXPECT_EQ(s.IndexOf(anchor.get()), 0);
    EXPECT_EQ(s.IndexOf(Cert("GoodCACert").get()), 1);
    EXPECT_EQ(s.IndexOf(Cert("ValidCertificatePathTest1EE").get()), -1);
    EXPECT_EQ(s.IndexOf(nullptr), -1);
    s.Remove(5);  // nothing
    EXPECT_EQ(s.GetCount(), 2);
    s.Remove(0);
    EXPECT_EQ(s.GetCount(), 1);
    EXPECT_EQ(s.GetCertificate(0)->GetSubjectName().CommonName, "Good CA");

    TElMemoryCertStorage other;
    s.ExportTo(other);
    EXPECT_EQ(other.GetCount(), 1);
    other.Clear();
    EXPECT_EQ(other.GetCount(), 0);
    EXPECT_EQ(other.GetChainCount(), 0);
}

TEST_F(Storage, ChainsOfOneToFourLevels) {
    struct Case {
        std::vector<const char*> stored;  // in storage order
        std::vector<std::string> chain;   // BuildChain(0), by common name
    } cases[] = {
        {{"TrustAnchorRootCertificate"}, {"Trust Anchor"}},
        {{"TrustAnchorRootCertificate", "GoodCACert"}, {"Good CA", "Trust Anchor"}},
        // Storage order does not matter: the head is the one no other names as its issuer.
        {{"GoodCACert", "ValidCertificatePathTest1EE", "TrustAnchorRootCertificate"},
         {"Valid EE Certificate Test1", "Good CA", "Trust Anchor"}},
        {{"TrustAnchorRootCertificate", "pathLenConstraint6CACert", "pathLenConstraint6subCA1Cert",
          "pathLenConstraint6subsubCA11Cert"},
         {"pathLenConstraint6 subsubCA11", "pathLenConstraint6 subCA1", "pathLenConstraint6 CA", "Trust Anchor"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chain.front());
        TElMemoryCertStorage s;
        for (const char* n : c.stored)
            s.Add(Cert(n).get());
        ASSERT_EQ(s.GetChainCount(), 1);
        auto chain = s.BuildChain(0);
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(CommonNames(*chain), c.chain);
        EXPECT_EQ(chain->GetCertificate(0)->GetChain(), chain.get());
        EXPECT_EQ(s.BuildChain(1), nullptr);
        EXPECT_EQ(s.BuildChain(-1), nullptr);
    }

    // Two end certificates under one CA: two chains, each to the top; a change of the contents
    // rebuilds the index.
    TElMemoryCertStorage s;
    Fill(s, {"TrustAnchorRootCertificate", "GoodCACert", "ValidCertificatePathTest1EE"});
    EXPECT_EQ(s.GetChainCount(), 1);
    EXPECT_EQ(s.GetChainHead(0), 2);
    EXPECT_EQ(s.GetChainHead(1), -1);
    Fill(s, {"InvalidEESignatureTest3EE"});
    ASSERT_EQ(s.GetChainCount(), 2);
    EXPECT_EQ(s.GetChainHead(1), 3);
    EXPECT_EQ(s.BuildChain(1)->GetCount(), 3);
    EXPECT_EQ(s.FindIssuer(s.GetCertificate(1)), 0);
    EXPECT_EQ(s.FindIssuer(s.GetCertificate(0)), -1);  // a root is not its own issuer
    EXPECT_TRUE(s.IsIssuerOf(*s.GetCertificate(2), *s.GetCertificate(1)));
    EXPECT_FALSE(s.IsIssuerOf(*s.GetCertificate(1), *s.GetCertificate(2)));
}

TEST_F(Storage, StrictChainBuildingComparesKeyIdentifiers) {
    // Two CAs of one name, told apart by their key identifiers (PKITS's key rollover set).
    TElMemoryCertStorage s;
    Fill(s, {"BasicSelfIssuedNewKeyCACert", "BasicSelfIssuedNewKeyOldWithNewCACert"});
    auto ee = Cert("ValidBasicSelfIssuedOldWithNewTest1EE");
    const TElX509Certificate& newKey = *s.GetCertificate(0);
    const TElX509Certificate& oldWithNew = *s.GetCertificate(1);
    ASSERT_TRUE(RDNsEqual(ee->GetIssuerRDN(), newKey.GetSubjectRDN()));
    EXPECT_FALSE(s.IsIssuerOf(*ee, newKey));
    EXPECT_TRUE(s.IsIssuerOf(*ee, oldWithNew));
    EXPECT_EQ(s.FindIssuer(ee.get()), 1);
    s.Options = 0;
    EXPECT_TRUE(s.IsIssuerOf(*ee, newKey));
    EXPECT_EQ(s.FindIssuer(ee.get()), 0);
}

TEST_F(Storage, Lookups) {
    TElMemoryCertStorage s;
    Fill(s, {"TrustAnchorRootCertificate", "GoodCACert", "ValidCertificatePathTest1EE", "InvalidEESignatureTest3EE",
             "ValidRFC822nameConstraintsTest21EE", "DSACACert"});
    TElCertificateLookup lookup;
    // No criterion: nothing, whatever the options.
    lookup.Options = loMatchAll;
    EXPECT_EQ(s.FindFirst(lookup), -1);

    // Subject exactly, in another order of entries; without exact match, a subset.
    const TElX509Certificate& good = *s.GetCertificate(1);
    lookup.SubjectRDN.Clear();
    for (int32_t i = good.GetSubjectRDN().GetCount() - 1; i >= 0; --i)
        lookup.SubjectRDN.Add(good.GetSubjectRDN().GetOID(i), good.GetSubjectRDN().GetValue(i),
                              good.GetSubjectRDN().GetTag(i));
    lookup.SetCriteria(lcSubject);
    lookup.Options = loExactMatch;
    EXPECT_EQ(s.FindFirst(lookup), 1);
    EXPECT_EQ(s.FindNext(lookup), -1);
    lookup.SubjectRDN.Clear();
    lookup.SubjectRDN.Add(SB_OID_X520_ORGANIZATION, "Test Certificates 2011", 0x13);
    lookup.Options = 0;
    EXPECT_EQ(s.FindFirst(lookup), 0);
    EXPECT_EQ(s.FindNext(lookup), 1);
    EXPECT_EQ(s.FindNext(lookup), 2);
    // Changing the criteria restarts from index 0.
    lookup.SetCriteria(lcIssuer);
    lookup.IssuerRDN.Assign(&good.GetSubjectRDN());
    lookup.Options = loExactMatch;
    EXPECT_EQ(s.FindNext(lookup), 2);
    EXPECT_EQ(s.FindNext(lookup), 3);
    EXPECT_EQ(s.FindNext(lookup), -1);
    EXPECT_EQ(s.FindNext(lookup), -1);

    // Key usage: any of the asked usages, or (kuloMatchAll) every one of them.
    lookup.SetCriteria(lcKeyUsage);
    lookup.Options = 0;
    lookup.KeyUsage = KeyUsageBit(kuKeyCertSign) | KeyUsageBit(kuDigitalSignature);
    std::vector<int32_t> any, all;
    for (int32_t i = s.FindFirst(lookup); i >= 0; i = s.FindNext(lookup))
        any.push_back(i);
    lookup.KeyUsageLookupOptions = kuloMatchAll;
    lookup.KeyUsage = KeyUsageBit(kuKeyCertSign) | KeyUsageBit(kuCRLSign);
    for (int32_t i = s.FindFirst(lookup); i >= 0; i = s.FindNext(lookup))
        all.push_back(i);
    EXPECT_EQ(any, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(all, (std::vector<int32_t>{0, 1, 5}));
    // One fitting criterion suffices without loMatchAll.
    lookup.SetCriteria(lcKeyUsage | lcSerialNumber);
    lookup.SerialNumber = H("FF");
    EXPECT_EQ(s.FindFirst(lookup), 0);
    lookup.Options = loMatchAll;
    EXPECT_EQ(s.FindFirst(lookup), -1);

    // Serial, algorithms, key size, key identifiers, hashes.
    lookup.Options = loMatchAll;
    lookup.SetCriteria(lcSerialNumber);
    lookup.SerialNumber = s.GetCertificate(2)->GetSerialNumber();
    int32_t firstWithSerial = 0;
    while (s.GetCertificate(firstWithSerial)->GetSerialNumber() != lookup.SerialNumber)
        ++firstWithSerial;
    EXPECT_EQ(s.FindFirst(lookup), firstWithSerial);
    lookup.SetCriteria(lcPublicKeyAlgorithm | lcSignatureAlgorithm);
    lookup.PublicKeyAlgorithm = SB_CERT_ALG_DSA;
    lookup.SignatureAlgorithm = SB_CERT_ALG_SHA256_RSA;
    EXPECT_EQ(s.FindFirst(lookup), 5);
    lookup.SetCriteria(lcPublicKeySize);
    lookup.KeySizeLookupOption = ksloBetween;
    lookup.PublicKeySizeMin = 1024;
    lookup.PublicKeySizeMax = 1024;
    EXPECT_EQ(s.FindFirst(lookup), 5);
    lookup.KeySizeLookupOption = ksloGreater;
    lookup.PublicKeySizeMax = 2048;
    EXPECT_EQ(s.FindFirst(lookup), 0);
    lookup.SetCriteria(lcSubjectKeyIdentifier);
    lookup.SubjectKeyIdentifier = good.GetExtensions().SubjectKeyIdentifier.KeyIdentifier;
    EXPECT_EQ(s.FindFirst(lookup), 1);
    lookup.SetCriteria(lcAuthorityKeyIdentifier);
    lookup.AuthorityKeyIdentifier = lookup.SubjectKeyIdentifier;
    EXPECT_EQ(s.FindFirst(lookup), 2);
    lookup.SetCriteria(lcCertificateHash);
    lookup.CertificateHashAlgorithm = 0;
    lookup.CertificateHash = "";
    EXPECT_EQ(s.FindFirst(lookup), 0);  // no digest: the empty hash fits every certificate
    lookup.CertificateHash = "x";
    EXPECT_EQ(s.FindFirst(lookup), -1);
    lookup.CertificateHashAlgorithm = SB_ALG_SHA256;
    lookup.CertificateHash = H("00");
    EXPECT_EQ(s.FindFirst(lookup), -1);
    lookup.SetCriteria(lcPublicKeyHash);
    lookup.PublicKeyHashAlgorithm = SB_ALG_SHA1;
    lookup.PublicKeyHash = good.GetExtensions().SubjectKeyIdentifier.KeyIdentifier;  // RFC 5280 4.2.1.2 (1)
    EXPECT_EQ(s.FindFirst(lookup), 1);

    // E-mail: the subject's address field ignoring case, or an RFC 822 alternative name.
    lookup.SetCriteria(lcEmail);
    const TElGeneralNames& san = s.GetCertificate(4)->GetExtensions().SubjectAlternativeName.Content;
    ASSERT_GE(san.GetCount(), 1);
    ASSERT_EQ(san.GetNames(0)->NameType, gnRFC822Name);
    std::string upper = san.GetNames(0)->RFC822Name;
    for (char& ch : upper)
        ch = char(std::toupper(uint8_t(ch)));
    lookup.EmailAddresses.Add(upper);
    EXPECT_EQ(s.FindFirst(lookup), 4);
}

TEST_F(Storage, ValidityLookups) {
    // 2010-2030, 2010-2011 and 2047-2049.
    TElMemoryCertStorage s;
    Fill(s, {"TrustAnchorRootCertificate", "InvalidEEnotAfterDateTest6EE", "InvalidEEnotBeforeDateTest2EE"});
    const TElX509Certificate& root = *s.GetCertificate(0);
    TElCertificateLookup lookup;
    lookup.SetCriteria(lcValidity);
    lookup.Options = loMatchAll;
    auto found = [&](TSBDateLookupOptions o, rtl::TDateTime from, rtl::TDateTime to) {
        lookup.DateLookupOptions = o;
        lookup.ValidFrom = from;
        lookup.ValidTo = to;
        std::vector<int32_t> v;
        for (int32_t i = s.FindFirst(lookup); i >= 0; i = s.FindNext(lookup))
            v.push_back(i);
        return v;
    };
    using V = std::vector<int32_t>;
    const rtl::TDateTime from = root.GetValidFrom(), to = root.GetValidTo();
    const rtl::TDateTime y2010mid = rtl::EncodeDate(2010, 6, 1), y2012 = rtl::EncodeDate(2012, 1, 1),
                         y2040 = rtl::EncodeDate(2040, 1, 1);
    EXPECT_EQ(found(0, 0, 0), (V{0, 1, 2}));
    EXPECT_EQ(found(dloBetween, from, to), (V{0, 1}));
    EXPECT_EQ(found(dloBefore | dloAfter | dloBetween, from, to), (V{0}));
    EXPECT_EQ(found(dloBefore, to + 1, 0), (V{0, 1}));
    EXPECT_EQ(found(dloAfter, 0, y2040), (V{2}));
    EXPECT_EQ(found(dloBefore | dloAfter, y2012, y2040), (V{1, 2}));
    EXPECT_EQ(found(dloBefore | dloBetween, y2010mid, 0), (V{0, 1}));
    EXPECT_EQ(found(dloAfter | dloBetween, y2010mid, y2040), (V{2}));
}

TEST_F(Storage, ReadersAndWritersAtOnce) {
    const auto anchor = Cert("TrustAnchorRootCertificate");
    const auto ca = Cert("GoodCACert");
    const auto ee = Cert("ValidCertificatePathTest1EE");
    TElMemoryCertStorage s;
    Fill(s, {"TrustAnchorRootCertificate", "GoodCACert"});
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            TElCertificateLookup lookup;
            lookup.SetCriteria(lcSubject);
            lookup.SubjectRDN.Assign(&ca->GetSubjectRDN());
            lookup.Options = loExactMatch;
            while (!stop) {
                EXPECT_GE(s.GetCount(), 2);  // read under the lock, as the list changes
                EXPECT_GE(s.GetChainCount(), 1);
                if (auto chain = s.BuildChain(0)) {
                    EXPECT_GE(chain->GetCount(), 1);
                }
                EXPECT_GE(s.IndexOf(anchor.get()), 0);
                EXPECT_GE(s.FindFirst(lookup), 0);
                // The validation walks the storage under its read lock: the end certificate,
                // stored or not at this moment, validates through Good CA either way.
                TSBCertificateValidityReason reason = 0;
                EXPECT_EQ(s.Validate(ee.get(), reason, rtl::EncodeDate(2020, 6, 1)), cvOk);
                EXPECT_EQ(reason, 0u);
                ++reads;
            }
        });
    // Good CA's list revokes nothing of the path: with it or without it the answer is the same.
    const std::string crlDer = kwtest::ReadFile(VectorsX509() / "PKITS_data/crls/GoodCACRL.crl");
    TElCertificateRevocationList crl;
    ASSERT_EQ(crl.LoadFromBuffer(crlDer.data(), crlDer.size()), 0);
    for (int i = 0; i < 200; ++i) {
        s.Add(ee.get());
        s.SetCRL(i % 2 == 0 ? &crl : nullptr);
        s.Remove(s.GetCount() - 1);
    }
    s.SetCRL(nullptr);
    while (reads < 20)
        std::this_thread::yield();
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(s.GetCount(), 2);
}

TEST_F(Storage, TheCRLReferenceFollowsTheListsLife) {
    TElMemoryCertStorage s;
    {
        TElCertificateRevocationList crl;
        s.SetCRL(&crl);
        EXPECT_EQ(s.GetCRL(), &crl);
    }
    EXPECT_EQ(s.GetCRL(), nullptr);
    auto crl = std::make_unique<TElCertificateRevocationList>();
    {
        TElMemoryCertStorage inner;
        inner.SetCRL(crl.get());
    }
    crl.reset();  // the storage that went first left no link behind
}

}  // namespace
