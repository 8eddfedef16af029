// Tests of the FTP client's readers without a network: replies, PASV addresses and listing
// lines (real servers' lines among them), and the guards of a client never connected.
#include "tls/SBSimpleFTPS.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"

namespace {

using kwtest::ThrownMessage;

TEST(FTPReplies, ReplyLengthTable) {
    struct Case {
        std::string buffer;
        size_t length;
    };
    const std::string feat = "211-Features:\r\n SIZE\r\n MODE Z\r\n211 End\r\n";
    const Case cases[] = {
        {"", 0},
        {"220", 0},
        {"220 ", 0},
        {"220 ready\r\n", 11},
        {"220 ready\r\nnext", 11},
        {"220 lone LF\n", 12},
        {feat, feat.size()},
        {feat + "200 more\r\n", feat.size()},
        {"211-Features:\r\n SIZE\r\n", 0},
        // Three digits alone close nothing; the reader waits for the closing line.
        {"230-a\r\n230\r\n", 0},
        {"230-a\r\n230\r\n230 done\r\n", 22},
        // A free-text line whose fourth character is a space closes nothing either.
        {"230-a\r\nabc def\r\n230 done\r\n", 26},
        // Short lines inside a reply are passed over.
        {"230-a\r\n\r\nxy\n230 done\r\n", 22},
        // The first line's fourth character decides: a hyphen goes on.
        {"230-a\r\n", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FTPReplyLength(c.buffer), c.length) << testing::PrintToString(c.buffer);
    EXPECT_EQ(ThrownMessage([] { FTPReplyLength("230-welcome\r\n211 End\r\n"); }), "Invalid server reply");
}

TEST(FTPReplies, ReplyCodeTable) {
    EXPECT_EQ(FTPReplyCode("220 ready\r\n"), 220);
    EXPECT_EQ(FTPReplyCode("550-no\r\n550 no\r\n"), 550);
    for (const char* bad : {"", "22", "220", "abc def\r\n", "000 zero\r\n", "-12 x\r\n"})
        EXPECT_EQ(ThrownMessage([&] { FTPReplyCode(bad); }), "Invalid server reply") << bad;
}

TEST(FTPReplies, FeaturesTable) {
    struct Case {
        const char* name;
        std::string reply;
        bool mlst, size, modeZ, rest;
    };
    const Case cases[] = {
        {"All", "211-Features:\r\n MLST size*;modify*;\r\n SIZE\r\n MODE Z\r\n REST STREAM\r\n211 End\r\n",
         true, true, true, true},
        {"None", "211-Features:\r\n UTF8\r\n EPSV\r\n211 End\r\n", false, false, false, false},
        // Lines too short to name a feature are passed over; those around them still count.
        {"EmptyLines", "211-Features:\r\n\r\n MODE Z\r\n\n SIZE\r\n\r\n211 End\r\n", false, true, true,
         false},
        {"OneCharacterLines", "211-Features:\r\n \r\nx\r\n REST STREAM\r\n-\n MLST\r\n211 End\r\n", true,
         false, false, true},
        {"BareLineFeeds", "211-Features:\n SIZE\n MODE Z\n211 End\n", false, true, true, false},
        // The first and the last line are the reply's frame, never features.
        {"FrameOnly", " SIZE\r\n MODE Z\r\n", false, false, false, false},
        {"SingleLine", "211 SIZE\r\n", false, false, false, false},
        {"Empty", "", false, false, false, false},
        {"NoLineEndAtAll", "\r", false, false, false, false},
        // SIZE must stand alone behind its space; the others may carry their facts.
        {"SizeWithMore", "211-Features:\r\n SIZE 64\r\n211 End\r\n", false, false, false, false},
        {"Truncated", "211-Features:\r\n MODE\r\n RES\r\n211 End\r\n", false, false, false, false},
    };
    for (const Case& c : cases) {
        const TFTPFeatures f = ReadFTPFeatures(c.reply);
        EXPECT_EQ(f.Mlst, c.mlst) << c.name;
        EXPECT_EQ(f.Size, c.size) << c.name;
        EXPECT_EQ(f.ModeZ, c.modeZ) << c.name;
        EXPECT_EQ(f.Rest, c.rest) << c.name;
    }
}

TEST(FTPReplies, PasvAddresses) {
    struct Case {
        std::string reply, host;
        int32_t port;
    };
    const Case good[] = {
        {"227 Entering Passive Mode (10,0,0,5,19,137)\r\n", "10.0.0.5", 5001},
        {"227 Entering Passive Mode (127,0,0,1,4,1).\r\n", "127.0.0.1", 1025},
        {"227 =192,168,1,200,255,255\r\n", "192.168.1.200", 65535},
        {"227 ok 0,0,0,0,0,21", "0.0.0.0", 21},
    };
    for (const Case& c : good) {
        std::string host;
        int32_t port = 0;
        ParsePasvReply(c.reply, host, port);
        EXPECT_EQ(host, c.host) << c.reply;
        EXPECT_EQ(port, c.port) << c.reply;
    }
    const std::string bad[] = {
        "227 Entering Passive Mode\r\n", "227 (10,0,0,5,19)\r\n",      "227 (10,0,0,5,19,)\r\n",
        "227 (256,0,0,5,19,137)\r\n",    "227 (10,0,0,5,19,1370)\r\n", "227 (10,0,0,5,999999999999,1)\r\n",
        "227 (10,,0,5,19,137)\r\n",
    };
    for (const std::string& b : bad) {
        std::string host;
        int32_t port = 0;
        EXPECT_EQ(ThrownMessage([&] { ParsePasvReply(b, host, port); }), "Invalid server reply") << b;
    }
}

TEST(FTPListing, ParseListLineTable) {
    struct Case {
        std::string line;
        bool ok;
        uint8_t kind;
        int64_t size;
        std::string name;
    };
    const Case cases[] = {
        {"-rw-r--r--   1 owner group 1024 Jan 01 12:00 a b.txt", true, TSBFTPFileInfo::fkFile, 1024,
         "a b.txt"},
        // proftpd, pyftpdlib and a classic server's lines.
        {"-rw-r--r--   1 0        0        3221225472 Dec 10 20:58 sparse.bin", true, TSBFTPFileInfo::fkFile,
         3221225472LL, "sparse.bin"},
        {"-rw-r--r--   1 root     root           10 Dec 10 20:58 a.txt", true, TSBFTPFileInfo::fkFile, 10,
         "a.txt"},
        {"-rw-r--r--    1 0        0              10 Dec 10  2025 a.txt", true, TSBFTPFileInfo::fkFile, 10,
         "a.txt"},
        {"drwxr-xr-x   2 kw kw 4096 Mar  3 10:01 sub dir", true, TSBFTPFileInfo::fkDirectory, 4096,
         "sub dir"},
        {"lrwxrwxrwx 1 kw kw 7 Mar 3 10:01 link -> target", true, TSBFTPFileInfo::fkLink, 7,
         "link -> target"},
        {"crw-rw---- 1 root tty 0 Mar 3 10:01 tty0", true, TSBFTPFileInfo::fkSpecial, 0, "tty0"},
        {"prw-r--r-- 1 a b 0 Mar 3 10:01 fifo", true, TSBFTPFileInfo::fkSpecial, 0, "fifo"},
        {"?rw-r--r-- 1 a b 5 Mar 3 10:01 odd", true, TSBFTPFileInfo::fkOther, 5, "odd"},
        {"-rw-r--r-- 1 a b 5 Mar 3 10:01    spaced", true, TSBFTPFileInfo::fkFile, 5, "spaced"},
        {"-rw-r--r-- 1 a b 9223372036854775807 Mar 3 10:01 huge", false, 0, 0, ""},
        {"-rw-r--r-- 1 a b 99999999999999999 Mar 3 10:01 big", true, TSBFTPFileInfo::fkFile,
         99999999999999999LL, "big"},
        {"-rw-r--r-- 1 a b 12k Mar 3 10:01 x", false, 0, 0, ""},
        {"-rw-r--r-- 1 a b -1 Mar 3 10:01 x", false, 0, 0, ""},
        {"-rw-r--r-- 1 a b 5 Mar 3 10:01", false, 0, 0, ""},
        {"-rw-r--r-- 1 a b 5 Mar 3 10:01 ", false, 0, 0, ""},
        {"-rw-r--r-- 1 a b", false, 0, 0, ""},
        {"total 12", false, 0, 0, ""},
        {"", false, 0, 0, ""},
        {"a.txt", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        TSBFTPFileInfo info;
        info.Name = "stale";
        info.Size = 77;
        EXPECT_EQ(TElSimpleFTPSClient::ParseListLine(c.line, info), c.ok) << c.line;
        if (!c.ok) continue;
        EXPECT_EQ(info.Kind, c.kind) << c.line;
        EXPECT_EQ(info.Size, c.size) << c.line;
        EXPECT_EQ(info.Name, c.name) << c.line;
        EXPECT_EQ(info.Date, 0.0) << c.line;
    }
}

TEST(FTPClient, GuardsOfAClientNeverConnected) {
    TElSimpleFTPSClient ftp;
    EXPECT_EQ(ftp.Port(), 21);
    EXPECT_TRUE(ftp.UseSSL);
    EXPECT_EQ(ftp.SSLMode, smExplicit);
    EXPECT_EQ(ftp.TransferType, ttBinary);
    EXPECT_EQ(ftp.FTPBufferSize(), 1024);
    ftp.SetFTPBufferSize(0);
    EXPECT_EQ(ftp.FTPBufferSize(), 1024);
    EXPECT_EQ(ThrownMessage([&] { ftp.ChangeDirectory("x"); }), "FTPS Connection not present");
    EXPECT_EQ(ThrownMessage([&] { ftp.ListNames(); }), "FTPS Connection not present");
    rtl::MemoryStream s;
    EXPECT_EQ(ThrownMessage([&] { ftp.ReceiveFile("x", &s); }), "FTPS Connection not present");
    ftp.SetAddress("ftp.example");
    EXPECT_EQ(ftp.Address(), "ftp.example");
    // The proxy settings object is replaced, not copied.
    auto settings = std::make_unique<TSBFTPProxySettings>();
    TSBFTPProxySettings* raw = settings.get();
    settings->ProxyType = ptSite;
    ftp.SetProxySettings(std::move(settings));
    EXPECT_EQ(&ftp.ProxySettings(), raw);
}

}  // namespace
