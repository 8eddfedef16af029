// Validation, rule by rule, on a small hierarchy made by openssl at test time: trust through a
// stored certificate only, every certificate's own faults, the issuers' authority, path lengths,
// the CRL's usability and entries. The moment of each check is chosen from the certificates'
// own dates, never the wall clock.
#include <gtest/gtest.h>

#include <map>

#include "pki/SBCustomCertStorage.h"
#include "tests/pki/PKITestSupport.h"

namespace {

using asn1test::H;
using namespace pkitest;

class Validation : public OpenSSLSuite<Validation> {
public:
    static bool Make(const fs::path& d) {
        auto write = [&](const char* name, const std::string& text) { kwtest::WriteFile(d / name, text); };
        write("ca.ext",
              "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
              "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n");
        write("ca0.ext",
              "basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n");
        write("noca.ext", "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,keyCertSign,cRLSign\n");
        write("nosign.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,digitalSignature\n");
        write("ee.ext", "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n");
        write("crit.ext", "basicConstraints=CA:FALSE\n1.2.3.4=critical,DER:05:00\n");
        write(
            "nocrl.ext",
            "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\nsubjectKeyIdentifier=hash\n");
        // A delta list (RFC 5280 5.2.4), a kind of list the validation does not build on.
        write("ca.cnf",
              std::string(kCAConfig) +
                  "[delta_ext]\nauthorityKeyIdentifier = keyid:always\n2.5.29.27 = critical, DER:02:01:01\n");
        write("crlnumber", "01\n");
        const char* keys[] = {"root", "int", "ee", "other", "a", "b"};
        for (const char* k : keys)
            if (OpenSSL(d, std::string("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out ") + k +
                               ".key") != 0)
                return false;
        auto issue = [&](const std::string& out, const std::string& subject, const std::string& key,
                         const std::string& caCert, const std::string& caKey, const std::string& ext,
                         int serial) {
            return OpenSSL(d, "req -new -key " + key + ".key -subj '/CN=" + subject + "' -out " + out +
                                  ".csr") == 0 &&
                   OpenSSL(d, "x509 -req -in " + out + ".csr -CA " + caCert + ".pem -CAkey " + caKey +
                                  ".key -set_serial " + std::to_string(serial) + " -days 30 -sha256 " +
                                  (ext.empty() ? std::string() : "-extfile " + ext + ".ext ") + "-out " +
                                  out + ".pem") == 0;
        };
        return OpenSSL(d, "req -x509 -key root.key -subj /CN=Root -days 30 -sha256 -out root.pem") == 0 &&
               issue("int", "Intermediate", "int", "root", "root", "ca", 2) &&
               issue("ee", "End", "ee", "int", "int", "ee", 3) &&
               issue("int0", "Zero", "int", "root", "root", "ca0", 4) &&
               issue("sub", "Sub", "other", "int0", "int", "ca", 5) &&
               issue("eesub", "End under Sub", "ee", "sub", "other", "ee", 6) &&
               issue("ee0", "End under Zero", "ee", "int0", "int", "ee", 7) &&
               issue("noca", "NotCA", "int", "root", "root", "noca", 8) &&
               issue("eenoca", "End under NotCA", "ee", "noca", "int", "ee", 9) &&
               issue("nosign", "NoSign", "int", "root", "root", "nosign", 10) &&
               issue("eenosign", "End under NoSign", "ee", "nosign", "int", "ee", 11) &&
               issue("v1", "Version1", "int", "root", "root", "", 12) &&
               issue("eev1", "End under Version1", "ee", "v1", "int", "ee", 13) &&
               issue("crit", "Critical", "ee", "int", "int", "crit", 14) &&
               issue("fake", "Intermediate", "other", "root", "root", "ca", 15) &&
               issue("eefake", "End", "ee", "fake", "other", "ee", 16) &&
               OpenSSL(d, "req -x509 -key a.key -subj /CN=A -days 30 -out aself.pem") == 0 &&
               OpenSSL(d, "req -x509 -key b.key -subj /CN=B -days 30 -out bself.pem") == 0 &&
               issue("acrossb", "A", "a", "bself", "b", "ca", 17) &&
               issue("bcrossa", "B", "b", "aself", "a", "ca", 18) &&
               issue("eea", "End under A", "ee", "aself", "a", "ee", 19) &&
               issue("nocrl", "NoCRLSign", "int", "root", "root", "nocrl", 20) &&
               issue("eenocrl", "End under NoCRLSign", "ee", "nocrl", "int", "ee", 21) &&
               // Lists of Intermediate: one revoking End, one revoking nothing, one signed by
               // another key, one out of date, one with a critical issuing distribution point.
               (kwtest::WriteFile(d / "index.txt",
                                  "R\t301231000000Z\t240101000000Z,keyCompromise\t03\tunknown\t/CN=End\n"),
                OpenSSL(d, "ca -gencrl -config ca.cnf -keyfile int.key -cert int.pem -out revoking.crl") ==
                    0) &&
               OpenSSL(
                   d,
                   "ca -gencrl -config ca.cnf -keyfile int.key -cert int.pem -crlhours 1 -out stale.crl") ==
                   0 &&
               OpenSSL(d,
                       "ca -gencrl -config ca.cnf -keyfile int.key -cert int.pem -crlexts idp_ext -out "
                       "idp.crl") == 0 &&
               // Root's list revoking Intermediate (serial 2).
               (kwtest::WriteFile(
                    d / "index.txt",
                    "R\t301231000000Z\t240101000000Z,CACompromise\t02\tunknown\t/CN=Intermediate\n"),
                OpenSSL(d,
                        "ca -gencrl -config ca.cnf -keyfile root.key -cert root.pem -out rootrevoking.crl") ==
                    0) &&
               (kwtest::WriteFile(d / "index.txt", ""),
                OpenSSL(d, "ca -gencrl -config ca.cnf -keyfile int.key -cert int.pem -out empty.crl") == 0) &&
               OpenSSL(d,
                       "ca -gencrl -config ca.cnf -keyfile int.key -cert int.pem -crlexts delta_ext -out "
                       "delta.crl") == 0 &&
               // An empty list of NoCRLSign, whose key usage lacks cRLSign.
               OpenSSL(d, "ca -gencrl -config ca.cnf -keyfile int.key -cert nocrl.pem -out nocrlsign.crl") ==
                   0;
    }

    // A list of Intermediate whose signature no longer holds, and End with its first extension
    // twice, signed again by Intermediate (made after the others).
    static void SetUpTestSuite() {
        OpenSSLSuite<Validation>::SetUpTestSuite();
        if (!ok_) return;
        const fs::path& d = dir_->path();
        const std::string twice =
            EditDER(LoadObjects(d / "ee.pem", "CERTIFICATE").at(0), [](TElASN1ConstrainedTag& r) {
                auto& list = C(r, {0, 0, 7, 0});
                auto& copy = static_cast<TElASN1SimpleTag&>(*list.GetChild(list.AddChild(false)));
                copy.EmitHeader = false;  // the copied bytes are the whole element
                copy.SetContent(SaveTagToString(*list.GetChild(0)));
            });
        TElASN1ConstrainedTag tree;
        ok_ = LoadTagTree(tree, twice);
        if (ok_) kwtest::WriteFile(d / "dupext.tbs", SaveTagToString(*Node(tree, {0, 0})));
        ok_ = ok_ && OpenSSL(d, "dgst -sha256 -sign int.key -out dupext.sig dupext.tbs") == 0;
        if (!ok_) {
            log_ = OpenSSLLog(d);
            return;
        }
        const std::string signature = kwtest::ReadFile(d / "dupext.sig");
        kwtest::WriteFile(d / "dupext.pem", EditDER(twice, [&](TElASN1ConstrainedTag& r) {
                              S(r, {0, 2}).SetContent(std::string(1, '\0') + signature);
                          }));
        const std::string der = LoadObjects(dir_->path() / "empty.crl", "X509 CRL").at(0);
        kwtest::WriteFile(dir_->path() / "wrongkey.crl", EditDER(der, [](TElASN1ConstrainedTag& r) {
                              auto& sig = S(r, {0, 2});
                              std::string c = sig.GetContent();
                              c.back() = char(c.back() ^ 1);
                              sig.SetContent(c);
                          }));
    }

protected:
    static std::unique_ptr<TElX509Certificate> Cert(const std::string& name) {
        const std::vector<std::string> der = LoadObjects(dir_->path() / (name + ".pem"), "CERTIFICATE");
        auto c = std::make_unique<TElX509Certificate>();
        c->LoadFromBuffer(der.at(0).data(), der.at(0).size());
        return c;
    }
    static std::unique_ptr<TElCertificateRevocationList> CRL(const std::string& name) {
        const std::vector<std::string> der = LoadObjects(dir_->path() / (name + ".crl"), "X509 CRL");
        auto crl = std::make_unique<TElCertificateRevocationList>();
        EXPECT_EQ(crl->LoadFromBuffer(der.at(0).data(), der.at(0).size()), 0) << name;
        return crl;
    }
};

struct Row {
    const char* what;
    std::vector<const char*> stored;
    const char* cert;
    std::vector<const char*> chain;  // untrusted intermediates travelling with the certificate
    const char* crl;                 // "" for none
    int momentShift;                 // 0: a minute after the certificate's start; -1 before; +1 after its end
    TSBCertificateValidity result;
    TSBCertificateValidityReason reason;
};

TEST_F(Validation, RulesOneByOne) {
    const Row rows[] = {
        {"nothing stored", {}, "ee", {"int"}, "", 0, cvInvalid, vrUnknownCA},
        {"root stored, intermediate in the chain", {"root"}, "ee", {"int"}, "", 0, cvOk, 0},
        {"root and intermediate stored", {"root", "int"}, "ee", {}, "", 0, cvOk, 0},
        {"intermediate missing", {"root"}, "ee", {}, "", 0, cvInvalid, vrUnknownCA},
        {"stored root validated itself", {"root"}, "root", {}, "", 0, cvSelfSigned, 0},
        {"root not stored", {}, "root", {}, "", 0, cvInvalid, vrUnknownCA},
        {"stored end certificate", {"ee"}, "ee", {}, "", 0, cvOk, 0},
        {"not yet valid", {"root"}, "ee", {"int"}, "", -1, cvInvalid, vrNotYetValid},
        {"expired", {"root"}, "ee", {"int"}, "", +1, cvInvalid, vrExpired},
        {"revoked", {"root"}, "ee", {"int"}, "revoking", 0, cvInvalid, vrRevoked},
        {"a list that revokes nothing", {"root"}, "ee", {"int"}, "empty", 0, cvOk, 0},
        {"a list whose signature does not hold",
         {"root"},
         "ee",
         {"int"},
         "wrongkey",
         0,
         cvInvalid,
         vrCRLUnusable},
        {"a list out of date", {"root"}, "ee", {"int"}, "stale", +2, cvInvalid, vrCRLUnusable},
        {"a list with a critical distribution point",
         {"root"},
         "ee",
         {"int"},
         "idp",
         0,
         cvInvalid,
         vrCRLUnusable},
        {"issuer not a CA", {"root"}, "eenoca", {"noca"}, "", 0, cvInvalid, vrCAUnauthorized},
        {"issuer without keyCertSign", {"root"}, "eenosign", {"nosign"}, "", 0, cvInvalid, vrCAUnauthorized},
        {"version 1 issuer not stored", {"root"}, "eev1", {"v1"}, "", 0, cvInvalid, vrCAUnauthorized},
        {"version 1 issuer stored", {"root", "v1"}, "eev1", {}, "", 0, cvOk, 0},
        {"path length 0 exceeded", {"root"}, "eesub", {"int0", "sub"}, "", 0, cvInvalid, vrCAUnauthorized},
        {"path length 0 kept", {"root"}, "ee0", {"int0"}, "", 0, cvOk, 0},
        {"unknown critical extension", {"root"}, "crit", {"int"}, "", 0, cvInvalid, vrUnsupportedExtension},
        {"an intermediate of that name with another key",
         {"root"},
         "ee",
         {"fake"},
         "",
         0,
         cvInvalid,
         vrInvalidSignature},
        {"cross certificates in a loop, nothing stored",
         {},
         "eea",
         {"acrossb", "bcrossa"},
         "",
         0,
         cvInvalid,
         vrUnknownCA},
        {"cross certificates, B stored", {"bself"}, "eea", {"acrossb", "bcrossa"}, "", 0, cvOk, 0},
        {"an extension twice", {"root"}, "dupext", {"int"}, "", 0, cvInvalid, vrUnsupportedExtension},
        {"a list signed by an issuer without cRLSign",
         {"root"},
         "eenocrl",
         {"nocrl"},
         "nocrlsign",
         0,
         cvInvalid,
         vrCRLUnusable},
        {"a delta list", {"root"}, "ee", {"int"}, "delta", 0, cvInvalid, vrCRLUnusable},
        {"the intermediate on the root's list",
         {"root"},
         "ee",
         {"int"},
         "rootrevoking",
         0,
         cvInvalid,
         vrRevoked},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        TElMemoryCertStorage storage;
        for (const char* s : r.stored)
            storage.Add(Cert(s).get());
        auto leaf = Cert(r.cert);
        TElX509CertificateChain chain;
        chain.AddCopy(leaf.get());
        for (const char* c : r.chain)
            chain.AddCopy(Cert(c).get());
        std::unique_ptr<TElCertificateRevocationList> crl;
        if (*r.crl) {
            crl = CRL(r.crl);
            storage.SetCRL(crl.get());
        }
        const TElX509Certificate& cert = *chain.GetCertificate(0);
        // A minute after the certificate's start, and after the list's, however long making
        // the fixtures took.
        const rtl::TDateTime start = std::max(cert.GetValidFrom(), crl ? crl->ThisUpdate : 0.0);
        rtl::TDateTime moment = start + 1.0 / 1440;
        if (r.momentShift == -1) moment = cert.GetValidFrom() - 1;
        if (r.momentShift == +1) moment = cert.GetValidTo() + 1;
        if (r.momentShift == +2) moment = start + 1;  // a day on: past a one-hour list
        TSBCertificateValidityReason reason = 0xFFFF;
        EXPECT_EQ(storage.Validate(&cert, reason, moment), r.result);
        EXPECT_EQ(reason, r.reason);
    }
}

TEST_F(Validation, BrokenSelfSignatureAndMismatchedAlgorithms) {
    auto root = Cert("root");
    // A flipped bit in the signature: a stored root is then no longer proven.
    const std::string broken = EditDER(std::string(root->GetDER()), [](TElASN1ConstrainedTag& r) {
        auto& sig = S(r, {0, 2});
        std::string c = sig.GetContent();
        c.back() = char(c.back() ^ 1);
        sig.SetContent(c);
    });
    TElX509Certificate bad;
    bad.LoadFromBuffer(broken.data(), broken.size());
    EXPECT_TRUE(bad.IsSelfSigned());
    EXPECT_FALSE(bad.VerifySelfSignature());
    EXPECT_TRUE(root->VerifySelfSignature());
    TElMemoryCertStorage storage;
    storage.Add(&bad);
    TSBCertificateValidityReason reason = 0;
    EXPECT_EQ(storage.Validate(&bad, reason, bad.GetValidFrom() + 1), cvInvalid);
    EXPECT_EQ(reason, vrInvalidSignature);

    // The outer algorithm says SHA-1 while the signed part says SHA-256: no signature holds.
    auto ee = Cert("ee");
    auto in = Cert("int");
    EXPECT_TRUE(ee->VerifySignedBy(in.get()));
    const std::string edited = EditDER(std::string(ee->GetDER()), [](TElASN1ConstrainedTag& r) {
        S(r, {0, 1, 0}).SetContent(H("2A 86 48 86 F7 0D 01 01 05"));
    });
    TElX509Certificate mismatch;
    mismatch.LoadFromBuffer(edited.data(), edited.size());
    EXPECT_FALSE(mismatch.VerifySignedBy(in.get()));
    TElMemoryCertStorage withRoot;
    withRoot.Add(root.get());
    withRoot.Add(in.get());
    EXPECT_EQ(withRoot.Validate(&mismatch, reason, mismatch.GetValidFrom() + 1), cvInvalid);
    EXPECT_EQ(reason, vrInvalidSignature);
    EXPECT_FALSE(ee->VerifySignedBy(nullptr));
    EXPECT_FALSE(ee->VerifySignedBy(root.get()));  // the wrong issuer
}

TEST_F(Validation, EachCertificateOfThePathHasItsStatus) {
    TElMemoryCertStorage storage;
    storage.Add(Cert("root").get());
    auto leaf = Cert("eenoca");
    TElX509CertificateChain chain;
    chain.AddCopy(leaf.get());
    chain.AddCopy(Cert("noca").get());
    std::vector<TElCertificatePathStatus> path;
    TSBCertificateValidityReason reason = 0;
    const TElX509Certificate& cert = *chain.GetCertificate(0);
    // Expired and issued by a certificate that is not a CA: both faults, each on its own link.
    EXPECT_EQ(storage.ValidatePath(cert, cert.GetValidTo() + 1, path, reason), cvInvalid);
    ASSERT_EQ(path.size(), 3u);
    EXPECT_EQ(path[0].Certificate->GetSubjectName().CommonName, "End under NotCA");
    EXPECT_EQ(path[0].Reason, vrExpired);
    EXPECT_EQ(path[1].Reason, vrExpired | vrCAUnauthorized);
    EXPECT_EQ(path[2].Reason, vrExpired);
    EXPECT_TRUE(path[2].Stored);
    EXPECT_EQ(reason, vrExpired | vrCAUnauthorized);
}

}  // namespace
