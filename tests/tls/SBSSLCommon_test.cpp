// The common layer: the suite catalogue and candidate tables, the defaults of a new object,
// the per-suite settings and their index check, and the alert maps.
#include <gtest/gtest.h>

#include <set>

#include "support/TestSupport.h"
#include "tls/SBClient.h"
#include "tls/SBSSLCommon.h"

namespace {

// The weak or caller-dependent suites that stay off until a caller enables them.
bool OffByDefault(const TSSLCipherSuiteInfo& s) {
    return s.KeyExchange == SSLKeyExchange::None || s.Cipher == SSLCipher::None || s.Export ||
           s.KeyExchange == SSLKeyExchange::DHAnon || s.Cipher == SSLCipher::RC4 || s.Cipher == SSLCipher::DES ||
           s.Cipher == SSLCipher::RC2 || s.Cipher == SSLCipher::IDEA || s.KeyExchange == SSLKeyExchange::PSK ||
           s.KeyExchange == SSLKeyExchange::DHEPSK || s.KeyExchange == SSLKeyExchange::RSAPSK ||
           s.KeyExchange == SSLKeyExchange::SRP;
}

TEST(SBSSLCommon, CatalogueIsConsistent) {
    std::set<uint16_t> codes;
    for (int i = 0; i < SSLSuiteCount; ++i) {
        const TSSLCipherSuiteInfo& s = SSLCipherSuites[i];
        SCOPED_TRACE(s.Name);
        if (s.Families & (SSLFamilyTLS | SSLFamilySSL3)) {
            EXPECT_TRUE(codes.insert(s.Code).second) << "code twice";
        }
        EXPECT_EQ(s.Enabled, !OffByDefault(s));
        // The suite's name says its parts.
        const std::string name = s.Name;
        if (name.find("_DHE_") != std::string::npos && name.find("_DHE_PSK_") == std::string::npos) {
            EXPECT_EQ(s.KeyExchange, SSLKeyExchange::DHE);
        }
        if (name.find("_DHE_RSA_") != std::string::npos || name.find("_DH_RSA_") != std::string::npos ||
            name.find("SRP_SHA_RSA") != std::string::npos) {
            EXPECT_EQ(s.Signature, SSLSignature::RSA);
        }
        if (name.find("_DSS_") != std::string::npos) {
            EXPECT_EQ(s.Signature, SSLSignature::DSS);
        }
        if (name.find("EXPORT") != std::string::npos) {
            EXPECT_TRUE(s.Export);
        }
        if (name.ends_with("_SHA")) {
            EXPECT_EQ(s.Mac, SSLMac::SHA1);
        }
        if (name.ends_with("_MD5")) {
            EXPECT_EQ(s.Mac, SSLMac::MD5);
        }
        if (name.find("_anon_") != std::string::npos) {
            EXPECT_EQ(s.KeyExchange, SSLKeyExchange::DHAnon);
        }
    }
    EXPECT_EQ(TLSCipherRows.size(), 79u);
    EXPECT_EQ(SSL3CipherRows.size(), 46u);
    EXPECT_EQ(SSL2CipherRows.size(), 7u);
    // Every row stands in the families its suite names, and index 0 comes last.
    for (uint8_t i : TLSCipherRows) EXPECT_TRUE(SSLCipherSuites[i].Families & SSLFamilyTLS) << int(i);
    for (uint8_t i : SSL3CipherRows) EXPECT_TRUE(SSLCipherSuites[i].Families & SSLFamilySSL3) << int(i);
    for (uint8_t i : SSL2CipherRows) EXPECT_TRUE(SSLCipherSuites[i].Families & SSLFamilySSL2) << int(i);
    EXPECT_EQ(TLSCipherRows.back(), 0);
    EXPECT_EQ(SSL3CipherRows.back(), 0);
}

TEST(SBSSLCommon, LookupsAndSizes) {
    EXPECT_EQ(FindSuiteByCode(TLSCipherRows, 0x002F), 12);
    EXPECT_EQ(FindSuiteByCode(TLSCipherRows, 0x0058), 82);
    EXPECT_EQ(FindSuiteByCode(SSL3CipherRows, 0x0041), -1);  // Camellia is TLS only
    EXPECT_EQ(FindSuiteByCode(TLSCipherRows, 0xC02F), -1);
    const uint8_t des3[3] = {0x07, 0x00, 0xC0}, none[3] = {0x08, 0x00, 0x80};
    EXPECT_EQ(FindSSL2SuiteBySpec(des3), 10);
    EXPECT_EQ(FindSSL2SuiteBySpec(none), -1);
    struct Row {
        SSLCipher cipher;
        bool exp;
        int key, iv;
    };
    for (const Row& r : {Row{SSLCipher::None, true, 0, 0}, Row{SSLCipher::RC4, false, 16, 0}, Row{SSLCipher::RC4, true, 5, 0},
                         Row{SSLCipher::RC2, true, 5, 8}, Row{SSLCipher::DES, false, 8, 8}, Row{SSLCipher::DES, true, 5, 8},
                         Row{SSLCipher::TripleDES, false, 24, 8}, Row{SSLCipher::IDEA, false, 16, 8},
                         Row{SSLCipher::AES128, false, 16, 16}, Row{SSLCipher::AES256, false, 32, 16},
                         Row{SSLCipher::Camellia256, false, 32, 16}, Row{SSLCipher::SEED, false, 16, 16}}) {
        EXPECT_EQ(SSLCipherKeySize(r.cipher, r.exp), r.key) << int(r.cipher);
        EXPECT_EQ(SSLCipherIVSize(r.cipher), r.iv) << int(r.cipher);
    }
    EXPECT_EQ(SSLMacSize(SSLMac::MD5), 16);
    EXPECT_EQ(SSLMacSize(SSLMac::SHA1), 20);
    EXPECT_EQ(SSLMacSize(SSLMac::None), 0);
}

TEST(SBSSLCommon, NewObjectDefaults) {
    TElSSLClass c;
    EXPECT_EQ(c.Versions, (TSBVersions{sbTLS1, sbTLS11, sbTLS12}));
    EXPECT_TRUE(c.Options.Empty());
    EXPECT_FALSE(c.GetSuiteEnabled(0));
    EXPECT_FALSE(c.GetSuiteEnabled(7));
    EXPECT_FALSE(c.GetSuiteEnabled(60));
    EXPECT_FALSE(c.GetSuiteEnabled(82));
    EXPECT_TRUE(c.GetSuiteEnabled(12));
    EXPECT_TRUE(c.GetSuiteEnabled(72));
    EXPECT_EQ(c.GetSuiteValue(12), 4);
    EXPECT_EQ(c.GetSuiteValue(55), 3);
    EXPECT_EQ(c.GetSuiteValue(49), 1);
    EXPECT_EQ(c.GetSuiteValue(0), 0);
    EXPECT_FALSE(c.IsDatagram());
    EXPECT_EQ(c.GetMaxDatagramPayload(), 0);
    EXPECT_EQ(c.MaxDatagramSize, 2048);
    EXPECT_EQ(c.GetRetransmissionTimer(), nullptr);
    EXPECT_EQ(c.FindByKind(1), nullptr);
}

TEST(SBSSLCommon, SuiteSettingsCheckTheIndex) {
    TElSSLClass c;
    c.SetSuiteEnabled(82, true);
    EXPECT_TRUE(c.GetSuiteEnabled(82));
    c.SetSuiteValue(82, 9);
    EXPECT_EQ(c.GetSuiteValue(82), 9);
    for (uint8_t bad : {uint8_t(83), uint8_t(255)}) {
        const std::string expected = "Invalid cipher suite index [" + std::to_string(bad) + "]";
        EXPECT_EQ(kwtest::ThrownMessage([&] { c.GetSuiteEnabled(bad); }), expected);
        EXPECT_EQ(kwtest::ThrownMessage([&] { c.SetSuiteEnabled(bad, true); }), expected);
        EXPECT_EQ(kwtest::ThrownMessage([&] { c.GetSuiteValue(bad); }), expected);
        EXPECT_EQ(kwtest::ThrownMessage([&] { c.SetSuiteValue(bad, 1); }), expected);
    }
    EXPECT_THROW(c.GetSuiteEnabled(83), EElSSLError);
}

TEST(SBSSLCommon, AlertMaps) {
    struct Row {
        uint8_t description, index;
    };
    for (const Row& r : {Row{0, 0}, Row{10, 1}, Row{20, 2}, Row{21, 3}, Row{22, 4}, Row{30, 5}, Row{40, 6}, Row{41, 21},
                         Row{42, 8}, Row{43, 9}, Row{44, 10}, Row{45, 11}, Row{46, 12}, Row{47, 13}, Row{48, 14},
                         Row{49, 15}, Row{50, 16}, Row{51, 17}, Row{60, 18}, Row{70, 19}, Row{71, 20}, Row{80, 21},
                         Row{90, 22}, Row{100, 23}, Row{110, 21}, Row{255, 21}})
        EXPECT_EQ(SSLAlertToIndex(r.description), r.index) << int(r.description);
    EXPECT_EQ(SSLAlertIndexToErrorCode(0), 0x12818);
    EXPECT_EQ(SSLAlertIndexToErrorCode(1), 0x12801);
    EXPECT_EQ(SSLAlertIndexToErrorCode(13), 0x1280D);
    EXPECT_EQ(SSLAlertIndexToErrorCode(23), 0x12817);
    EXPECT_EQ(SSLAlertIndexToErrorCode(24), 0x12817);
    EXPECT_EQ(SSLAlertIndexToErrorCode(25), 0x12819);
    EXPECT_EQ(SSLAlertIndexToErrorCode(127), 0x12819);
    EXPECT_EQ(SSLAlertIndexToErrorCode(141), 0x1280D);  // only the low seven bits count
    // What goes out for each index: the description the index names, nothing for "no alert".
    for (uint8_t i = 0; i < 24; ++i)
        if (i != 7 && i != 21) {
            EXPECT_EQ(SSLAlertToIndex(uint8_t(SSLAlertIndexToDescription(i))), i);
        }
    EXPECT_EQ(SSLAlertIndexToDescription(7), 41);
    EXPECT_EQ(SSLAlertIndexToDescription(24), -1);
    EXPECT_EQ(SSLAlertIndexToDescription(27), 110);
}

TEST(SBSSLCommon, VersionSets) {
    TSBVersions v{sbSSL2, sbTLS12};
    EXPECT_TRUE(v.Contains(sbSSL2));
    EXPECT_FALSE(v.Contains(sbSSL3));
    EXPECT_EQ(v.Mask(), 0x11u);
    v.Exclude(sbSSL2);
    v.Include(sbTLS1);
    EXPECT_EQ(v, (TSBVersions{sbTLS1, sbTLS12}));
    EXPECT_TRUE(TSBVersions().Empty());
}

}  // namespace
