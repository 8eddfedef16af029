// The seam's copy of one engine's settings into another, as an FTP data connection takes the
// control connection's: versions, suites and their priorities, whether and against what the
// server is checked, the client's chain and the extensions offered.
#include "tls/SecureEngine.h"

#include <gtest/gtest.h>

#include "pki/SBCustomCertStorage.h"

namespace {

TEST(SecureEngineSettings, ADataEngineTakesTheControlEnginesSettings) {
    const auto control = CreateSecureEngine();
    TElMemoryCertStorage trusted, own;
    control->SetVersions(VersionBit(sbTLS12));
    control->SetSuiteEnabled(58, true);
    control->SetSuiteEnabled(12, false);
    control->SetSuiteValue(13, 9);
    control->VerifyPeerDisabled = true;
    control->SetCertStorage(&trusted);
    control->SetClientCertStorage(&own);
    control->Extensions().CertificateStatus.Enabled = true;
    control->Extensions().MaxFragmentLength.Enabled = true;
    control->Extensions().MaxFragmentLength.MaxLength = 2;

    const auto data = CreateSecureEngine();
    EXPECT_FALSE(data->GetSuiteEnabled(58));
    data->CopySettingsFrom(*control);
    EXPECT_EQ(data->Versions(), VersionBit(sbTLS12));
    EXPECT_TRUE(data->GetSuiteEnabled(58));
    EXPECT_FALSE(data->GetSuiteEnabled(12));
    EXPECT_EQ(data->GetSuiteValue(13), 9);
    EXPECT_TRUE(data->VerifyPeerDisabled);
    EXPECT_EQ(data->CertStorage(), &trusted);
    EXPECT_EQ(data->ClientCertStorage(), &own);
    EXPECT_TRUE(data->Extensions().CertificateStatus.Enabled);
    EXPECT_TRUE(data->Extensions().MaxFragmentLength.Enabled);
    EXPECT_EQ(data->Extensions().MaxFragmentLength.MaxLength, 2);
    // Its own objects: the control engine's extensions are not shared.
    data->Extensions().CertificateStatus.Enabled = false;
    EXPECT_TRUE(control->Extensions().CertificateStatus.Enabled);
}

}  // namespace
