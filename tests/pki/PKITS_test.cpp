// NIST PKITS as one table: every Valid and Invalid path of the suite validated with the trust
// anchor stored, the suite's CA certificates as the end certificate's own chain (untrusted
// intermediates), the CRL the row names, at a fixed moment. A row whose result differs from
// PKITS's names its reason; any other difference fails.
#include <gtest/gtest.h>

#include <map>

#include "pki/SBCustomCertStorage.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using namespace pkitest;

fs::path Dir(const char* sub) {
    return VectorsX509() / "PKITS_data" / sub;
}

std::unique_ptr<TElX509Certificate> LoadCert(const fs::path& file) {
    const std::string der = kwtest::ReadFile(file);
    auto c = std::make_unique<TElX509Certificate>();
    c->LoadFromBuffer(der.data(), der.size());
    return c;
}

// The CRL a row uses: the list of the end certificate's issuer unless the row names another
// (a revoked intermediate is on its own issuer's list; one list per storage).
const std::map<std::string, std::string> kCRLOfRow = {
    {"InvalidRevokedCATest2EE", "GoodCACRL"},
    {"InvalidBadCRLSignatureTest4EE", "BadCRLSignatureCACRL"},
    {"InvalidBadCRLIssuerNameTest5EE", "BadCRLIssuerNameCACRL"},
    {"InvalidWrongCRLTest6EE", "WrongCRLCACRL"},
    {"ValidTwoCRLsTest7EE", "TwoCRLsCAGoodCRL"},
    {"InvalidUnknownCRLEntryExtensionTest8EE", "UnknownCRLEntryExtensionCACRL"},
    {"InvalidUnknownCRLExtensionTest9EE", "UnknownCRLExtensionCACRL"},
    {"InvalidUnknownCRLExtensionTest10EE", "UnknownCRLExtensionCACRL"},
    {"InvalidOldCRLnextUpdateTest11EE", "OldCRLnextUpdateCACRL"},
    {"Invalidpre2000CRLnextUpdateTest12EE", "pre2000CRLnextUpdateCACRL"},
    {"ValidGeneralizedTimeCRLnextUpdateTest13EE", "GeneralizedTimeCRLnextUpdateCACRL"},
    {"InvalidMissingCRLTest1EE", ""},
};

// Rows whose result differs from PKITS's, with the reason.
const char* const kFolding = "names equal only under RFC 5280 folding (ours stay exact)";
const char* const kNameConstraints = "a critical extension refused: name constraints";
const char* const kPolicyExtensions =
    "a critical extension refused: policy constraints, policy mappings or inhibit anyPolicy";
const char* const kDSAInheritance = "DSA parameter inheritance";
const char* const kDelta = "CRL kinds not built: delta CRLs (the base list alone is given)";
const char* const kIndirect = "CRL kinds not built: indirect CRLs";
const char* const kDistributionPoints = "CRL kinds not built: issuing distribution points (a critical one)";
const char* const kSeparateKeys = "CRL kinds not built: a CRL key outside the path";
const char* const kMissingCRL = "a missing CRL: no list names the issuer (checked only where given)";
// The path holds the CA's new key under its old one (a self-issued certificate): the list given
// covers the end certificate and is signed by the new key; the self-issued certificate's own
// list, signed by the old key, is a second list, and a storage holds one.
const char* const kSecondList =
    "a missing CRL: the self-issued certificate's own list (one list per storage)";

const std::map<std::string, std::string> kDifferences = {
    {"InvalidBadCRLIssuerNameTest5EE", kMissingCRL},
    {"InvalidIDPwithindirectCRLTest26EE", kIndirect},
    {"InvalidMissingCRLTest1EE", kMissingCRL},
    {"InvalidWrongCRLTest6EE", kMissingCRL},
    {"InvalidcRLIssuerTest27EE", kIndirect},
    {"InvalidcRLIssuerTest31EE", kIndirect},
    {"InvalidcRLIssuerTest32EE", kIndirect},
    {"InvaliddeltaCRLTest4EE", kDelta},
    {"ValidBasicSelfIssuedCRLSigningKeyTest6EE", kSeparateKeys},
    {"ValidBasicSelfIssuedNewWithOldTest3EE", kSecondList},
    {"ValidBasicSelfIssuedNewWithOldTest4EE", kSeparateKeys},
    {"ValidDNSnameConstraintsTest30EE", kNameConstraints},
    {"ValidDNSnameConstraintsTest32EE", kNameConstraints},
    {"ValidDNandRFC822nameConstraintsTest27EE", kNameConstraints},
    {"ValidDNnameConstraintsTest11EE", kNameConstraints},
    {"ValidDNnameConstraintsTest14EE", kNameConstraints},
    {"ValidDNnameConstraintsTest18EE", kNameConstraints},
    {"ValidDNnameConstraintsTest19EE", kNameConstraints},
    {"ValidDNnameConstraintsTest1EE", kNameConstraints},
    {"ValidDNnameConstraintsTest4EE", kNameConstraints},
    {"ValidDNnameConstraintsTest5EE", kNameConstraints},
    {"ValidDNnameConstraintsTest6EE", kNameConstraints},
    {"ValidDSAParameterInheritanceTest5EE", kDSAInheritance},
    {"ValidIDPwithindirectCRLTest22EE", kIndirect},
    {"ValidNameChainingCapitalizationTest5EE", kFolding},
    {"ValidNameChainingWhitespaceTest3EE", kFolding},
    {"ValidNameChainingWhitespaceTest4EE", kFolding},
    {"ValidPolicyMappingTest11EE", kPolicyExtensions},
    {"ValidPolicyMappingTest12EE", kPolicyExtensions},
    {"ValidPolicyMappingTest13EE", kPolicyExtensions},
    {"ValidPolicyMappingTest14EE", kPolicyExtensions},
    {"ValidPolicyMappingTest1EE", kPolicyExtensions},
    {"ValidPolicyMappingTest3EE", kPolicyExtensions},
    {"ValidPolicyMappingTest5EE", kPolicyExtensions},
    {"ValidPolicyMappingTest6EE", kPolicyExtensions},
    {"ValidPolicyMappingTest9EE", kPolicyExtensions},
    {"ValidRFC822nameConstraintsTest21EE", kNameConstraints},
    {"ValidRFC822nameConstraintsTest23EE", kNameConstraints},
    {"ValidRFC822nameConstraintsTest25EE", kNameConstraints},
    {"ValidRolloverfromPrintableStringtoUTF8StringTest10EE", kFolding},
    {"ValidSelfIssuedinhibitAnyPolicyTest7EE", kPolicyExtensions},
    {"ValidSelfIssuedinhibitAnyPolicyTest9EE", kPolicyExtensions},
    {"ValidSelfIssuedinhibitPolicyMappingTest7EE", kPolicyExtensions},
    {"ValidSelfIssuedrequireExplicitPolicyTest6EE", kPolicyExtensions},
    {"ValidSeparateCertificateandCRLKeysTest19EE", kSeparateKeys},
    {"ValidURInameConstraintsTest34EE", kNameConstraints},
    {"ValidURInameConstraintsTest36EE", kNameConstraints},
    {"ValidUTF8StringCaseInsensitiveMatchTest11EE", kFolding},
    {"ValidcRLIssuerTest28EE", kIndirect},
    {"ValidcRLIssuerTest29EE", kIndirect},
    {"ValiddeltaCRLTest5EE", kDelta},
    {"ValiddistributionPointTest1EE", kDistributionPoints},
    {"ValiddistributionPointTest4EE", kDistributionPoints},
    {"ValiddistributionPointTest5EE", kDistributionPoints},
    {"ValiddistributionPointTest7EE", kDistributionPoints},
    {"ValidinhibitAnyPolicyTest2EE", kPolicyExtensions},
    {"ValidinhibitPolicyMappingTest2EE", kPolicyExtensions},
    {"ValidinhibitPolicyMappingTest4EE", kPolicyExtensions},
    {"ValidonlyContainsCACertsTest13EE", kDistributionPoints},
    {"ValidonlySomeReasonsTest18EE", kDistributionPoints},
    {"ValidonlySomeReasonsTest19EE", kDistributionPoints},
    {"ValidrequireExplicitPolicyTest1EE", kPolicyExtensions},
    {"ValidrequireExplicitPolicyTest2EE", kPolicyExtensions},
    {"ValidrequireExplicitPolicyTest4EE", kPolicyExtensions},
};

struct Suite {
    std::vector<std::unique_ptr<TElX509Certificate>> cas;
    std::map<std::string, std::unique_ptr<TElCertificateRevocationList>> crls;
    std::unique_ptr<TElX509Certificate> anchor;
};

TEST(PKITS, EveryValidAndInvalidPath) {
    PKI_REQUIRE_DIR(Dir("certs"));
    Suite suite;
    std::vector<std::string> rows;
    for (const auto& e : fs::directory_iterator(Dir("certs"))) {
        const std::string name = e.path().stem().string();
        const bool ee = name.size() > 2 && name.compare(name.size() - 2, 2, "EE") == 0;
        if (name == "TrustAnchorRootCertificate")
            suite.anchor = LoadCert(e.path());
        else if (!ee)
            suite.cas.push_back(LoadCert(e.path()));
        else if (name.rfind("Valid", 0) == 0 || name.rfind("Invalid", 0) == 0)
            rows.push_back(name);
    }
    for (const auto& e : fs::directory_iterator(Dir("crls"))) {
        auto crl = std::make_unique<TElCertificateRevocationList>();
        const std::string der = kwtest::ReadFile(e.path());
        ASSERT_EQ(crl->LoadFromBuffer(der.data(), der.size()), 0) << e.path();
        suite.crls[e.path().stem().string()] = std::move(crl);
    }
    ASSERT_NE(suite.anchor, nullptr);
    std::sort(rows.begin(), rows.end());
    ASSERT_GE(rows.size(), 190u);

    const rtl::TDateTime moment = rtl::EncodeDate(2020, 6, 1);
    int agreed = 0, explained = 0;
    for (const std::string& row : rows) {
        SCOPED_TRACE(row);
        auto ee = LoadCert(Dir("certs") / (row + ".crt"));
        // The suite's CA certificates travel as the end certificate's chain.
        TElX509CertificateChain chain;
        chain.AddCopy(ee.get());
        for (const auto& ca : suite.cas)
            chain.AddCopy(ca.get());
        TElMemoryCertStorage storage;
        storage.Add(suite.anchor.get());

        std::string crlName;
        if (const auto it = kCRLOfRow.find(row); it != kCRLOfRow.end()) {
            crlName = it->second;
        } else {
            // The list whose issuer is the end certificate's issuer, not a delta list.
            for (const auto& [n, crl] : suite.crls)
                if (n.find("deltaCRL", n.size() >= 8 ? n.size() - 8 : 0) == std::string::npos &&
                    crl->IssuerMatches(ee->GetIssuerRDN()) &&
                    RDNsEqual(crl->Issuer, ee->GetIssuerRDN())) {
                    crlName = n;
                    break;
                }
        }
        if (!crlName.empty()) {
            ASSERT_TRUE(suite.crls.count(crlName)) << crlName;
            storage.SetCRL(suite.crls[crlName].get());
        }

        std::vector<TElCertificatePathStatus> path;
        TSBCertificateValidityReason reason = 0;
        const TSBCertificateValidity result = storage.ValidatePath(*chain.GetCertificate(0), moment, path, reason);
        const bool expectValid = row.rfind("Valid", 0) == 0;
        const bool valid = result != cvInvalid;
        if (valid == expectValid) {
            ++agreed;
            EXPECT_EQ(kDifferences.count(row), 0u) << "agrees with PKITS now: drop its reason";
            continue;
        }
        std::string detail = "result " + std::to_string(result) + " reason " + std::to_string(reason) + " crl '" +
                             crlName + "' path:";
        for (const auto& p : path)
            detail += " [" + p.Certificate->GetSubjectName().CommonName + " " + std::to_string(p.Reason) + "]";
        const auto it = kDifferences.find(row);
        if (it == kDifferences.end()) {
            ADD_FAILURE() << row << ": PKITS says " << (expectValid ? "valid" : "invalid") << "; " << detail;
        } else {
            ++explained;
            std::cout << row << " differs (" << it->second << ") " << detail << "\n";
        }
    }
    std::cout << rows.size() << " paths: " << agreed << " as PKITS, " << explained << " differ with a reason\n";
}

}  // namespace
