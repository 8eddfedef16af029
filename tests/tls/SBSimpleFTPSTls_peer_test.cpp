// TElSimpleFTPSClient over the TLS engine against proftpd's mod_tls and vsftpd: explicit
// (AUTH TLS) and implicit TLS on the control connection, protected data connections that
// resume the control connection's session (both servers insist on it), passive and active,
// with and without MODE Z, every transfer kind byte for byte; the certificate checked against
// the control connection's host.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <string>

#include "rtl/Stream.h"
#include "support/TestSupport.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/FtpPeers.h"
#include "tests/tls/FtpTransfers.h"
#include "tls/SBSimpleFTPS.h"

using kwtest::FtpRoot;
using kwtest::MoveFilesBothWays;
using kwtest::ProFtpd;
using kwtest::RandomBytes;
using kwtest::ThrownMessage;
using kwtest::Transfers;
using kwtest::TrustTestCA;
using kwtest::VsFtpd;

namespace {

struct Case {
    bool implicit, passive;
    bool modeZ = false;
    // 0: no limit on the data connection's waits, its TLS handshake among them.
    int32_t transferTimeout = 60000;
};

// A client on localhost (a name the server's certificate holds) with TLS 1.2 on the control and
// data connections.
void Protected(TElSimpleFTPSClient& ftp, int port, const Case& c, const std::string& user,
               const std::string& password) {
    ftp.SetAddress("localhost");
    ftp.SetPort(port);
    ftp.UseSSL = true;
    ftp.SSLMode = c.implicit ? smImplicit : smExplicit;
    ftp.SetVersions(VersionBit(sbTLS12));
    ftp.EncryptDataChannel = true;
    ftp.PassiveMode = c.passive;
    ftp.Username = user;
    ftp.Password = password;
    ftp.SetFTPBufferSize(8192);
}

// f.bin (data) comes down whole and goes up again with a tail as g.bin, in the folder of the
// root given ("" or "pub/").
void DownloadAndUploadBack(TElSimpleFTPSClient& ftp, const FtpRoot& root, const std::string& folder,
                           const std::string& data, const std::string& what) {
    rtl::MemoryStream down;
    ftp.ReceiveFile("f.bin", &down);
    EXPECT_TRUE(down.Data() == data) << what;
    rtl::MemoryStream up(data + "tail");
    ftp.SendFile(up, "g.bin");
    EXPECT_TRUE(root.Read(folder + "g.bin") == data + "tail") << what;
}

TEST(FTPSClientProftpd, ExplicitAndImplicitTlsMoveFilesByteForByte) {
    ASSERT_TRUE(TrustTestCA());
    // MODE Z over TLS once, with smaller files: proftpd takes compressed uploads slowly (some
    // tenths of a second per read of its own).
    for (const Case& c :
         {Case{false, true}, Case{false, false}, Case{true, true}, Case{true, false, true, 0}}) {
        const std::string what = std::string(c.implicit ? "implicit" : "explicit") +
                                 (c.passive ? " passive" : " active") + (c.modeZ ? " MODE Z" : "");
        FtpRoot root;
        const std::string data = RandomBytes(c.modeZ ? 20000 : 200000, 21);
        root.Add("f.bin", data);
        root.Add("text.txt", "first\nsecond line\nthird\n");
        ProFtpd server(root, kwtest::ProFtpdTls(c.implicit));
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        TElSimpleFTPSClient ftp;
        Protected(ftp, server.Port(), c, "kw", "secret");
        ftp.SetModeZ(c.modeZ);
        ftp.TransferTimeout = c.transferTimeout;
        std::string sent;
        ftp.OnControlSend = [&](rtl::Component*, const std::string& line) { sent += line + "\n"; };
        ftp.Open();
        ftp.Login();
        EXPECT_EQ(sent.find("AUTH TLS") != std::string::npos, !c.implicit) << what;
        // The data connections' protection is asked in both modes.
        EXPECT_NE(sent.find("PBSZ 0\nPROT P\n"), std::string::npos) << what;
        DownloadAndUploadBack(ftp, root, "", data, what);
        std::vector<std::string> names;
        ftp.OnTextDataLine = [&](rtl::Component*, const std::string& line) { names.push_back(line); };
        ftp.ListNames();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"f.bin", "g.bin", "text.txt"})) << what;
        EXPECT_EQ(sent.find("MODE Z") != std::string::npos, c.modeZ) << what;
        ftp.OnTextDataLine = nullptr;
        MoveFilesBothWays(ftp, root.Path(), Transfers{c.passive, c.modeZ, c.modeZ ? 20000u : 200000u, false},
                          what + ": ");
    }
}

TEST(FTPSClientProftpd, TheCertificateMustNameTheControlHost) {
    ASSERT_TRUE(TrustTestCA());
    FtpRoot root;
    ProFtpd server(root, kwtest::ProFtpdTls(false, "other"));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    for (const bool disabled : {false, true}) {
        TElSimpleFTPSClient ftp;
        ftp.SetAddress("localhost");
        ftp.SetPort(server.Port());
        ftp.SetVersions(VersionBit(sbTLS12));
        ftp.SetVerifyPeerDisabled(disabled);
        ftp.Username = "kw";
        ftp.Password = "secret";
        int errors = 0;
        ftp.OnSSLError = [&](rtl::Component*, int32_t, bool, bool) { ++errors; };
        ftp.Open();
        if (disabled) {
            ftp.Login();
            EXPECT_EQ(ftp.SessionState(), 2);
        } else {
            EXPECT_EQ(ThrownMessage([&] { ftp.Login(); }), "Error occured while forcing SSL");
            EXPECT_GT(errors, 0);
        }
    }
}

TEST(FTPSClientVsftpd, AnonymousOverExplicitAndImplicitTlsWithSessionReuse) {
    ASSERT_TRUE(TrustTestCA());
    for (const Case& c : {Case{false, true}, Case{false, false}, Case{true, true}}) {
        const std::string what =
            std::string(c.implicit ? "implicit" : "explicit") + (c.passive ? " passive" : " active");
        FtpRoot root;
        const std::string tls = kwtest::VsFtpdTls(std::string("require_ssl_reuse=YES\n") +
                                                  (c.implicit ? "implicit_ssl=YES\n" : ""));
        VsFtpd server(root, tls);
        KW_REQUIRE_PEER(server.Available(), server.Reason());
        const std::string data = RandomBytes(150000, 23);
        root.Add("pub/f.bin", data);
        TElSimpleFTPSClient ftp;
        Protected(ftp, server.Port(), c, "anonymous", "");
        ftp.Open();
        ftp.Login();
        ftp.ChangeDirectory("pub");
        DownloadAndUploadBack(ftp, root, "pub/", data, what);
        // A range: vsftpd answers our close of the data connection after its last byte with 426.
        rtl::MemoryStream range;
        ftp.ReceiveFile("f.bin", &range, 1000, 5000);
        EXPECT_TRUE(range.Data() == data.substr(1000, 4000)) << what;
        ftp.ChangeDirectory(".");
    }
}

}  // namespace
