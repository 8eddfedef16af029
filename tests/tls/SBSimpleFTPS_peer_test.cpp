// TElSimpleFTPSClient against FTP servers: the scripted peer checks the exact commands (each
// proxy login form, acAuto, MODE Z, REST) and plays hostile replies (a 120 greeting, 421, a
// listing without its last line end, 425 while we wait in active mode, a short download);
// proftpd (with MODE Z) and pyftpdlib move files byte for byte both ways, active and passive.
// (proftpd answers a MODE Z upload some seconds after its data connection closed: those
// variants take longer, without any wait of ours.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "rtl/Stream.h"
#include "support/LoopbackListeners.h"
#include "support/TestSupport.h"
#include "tests/tls/ClientTestSupport.h"
#include "tests/tls/FtpPeers.h"
#include "tests/tls/FtpTransfers.h"
#include "tls/SBSimpleFTPS.h"

using kwtest::FtpErrorCode;
using kwtest::FtpRoot;
using kwtest::FtpScript;
using kwtest::FtpScriptPeer;
using kwtest::MoveFilesBothWays;
using kwtest::ProFtpd;
using kwtest::PyFtpd;
using kwtest::RandomBytes;
using kwtest::ThrownMessage;
using kwtest::Transfers;
using kwtest::VsFtpd;

#define KW_REQUIRE_FTP_PEER(peer) KW_REQUIRE_PEER((peer).Available(), (peer).Reason())

namespace {

// A plain client for the scripted peer.
void PlainClient(TElSimpleFTPSClient& ftp, int port) {
    ftp.SetAddress("127.0.0.1");
    ftp.SetPort(port);
    ftp.UseSSL = false;
    ftp.Username = "kw";
    ftp.Password = "secret";
    ftp.PassiveMode = true;
}

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

struct LoginRun {
    std::string transcript;  // the commands our client sent
    std::string failure;     // the message Login raised, empty when it logged in
};

// Open and Login against a scripted peer that greets and answers each command with the next
// of replies; setup gets the client and the peer's port before Open.
LoginRun LogInToScript(const std::vector<std::string>& replies,
                       const std::function<void(TElSimpleFTPSClient&, int)>& setup) {
    FtpScript script;
    script.Send("220 ready\r\n");
    for (const std::string& r : replies)
        script.Reply(r);
    FtpScriptPeer peer(script);
    LoginRun run;
    if (!peer.Available()) {
        run.failure = peer.Reason();
        return run;
    }
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    setup(ftp, peer.Port());
    ftp.Open();
    try {
        ftp.Login();
    } catch (const std::exception& e) {
        run.failure = e.what();
    }
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    run.transcript = peer.Transcript();
    return run;
}

TEST(FTPClientScripted, GreetingAfter120AndTheLoginCommands) {
    FtpScript script;
    script.Send("120 wait a moment\r\n")
        .Send("220 ready\r\n")
        .Reply("331 password\r\n")
        .Reply("230 in\r\n")
        .Reply("211-Features:\r\n SIZE\r\n REST STREAM\r\n211 End\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.Open();
    EXPECT_EQ(ftp.SessionState(), 1);
    ftp.Login();
    EXPECT_EQ(ftp.SessionState(), 2);
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS secret\r\nFEAT\r\n");
}

TEST(FTPClientScripted, EachProxyLoginSendsItsCommands) {
    struct Case {
        TSBFTPProxyType type;
        std::vector<std::string> replies;
        std::string transcript;
    };
    const Case cases[] = {
        {ptUserSite,
         {"331 p\r\n", "230 p\r\n", "331 u\r\n", "230 u\r\n"},
         "USER puser\r\nPASS ppass\r\nUSER kw@ftp.example\r\nPASS secret\r\n"},
        {ptSite,
         {"331 p\r\n", "230 p\r\n", "220 site\r\n", "331 u\r\n", "230 u\r\n"},
         "USER puser\r\nPASS ppass\r\nSITE ftp.example\r\nUSER kw\r\nPASS secret\r\n"},
        {ptOpen,
         {"331 p\r\n", "230 p\r\n", "220 open\r\n", "331 u\r\n", "230 u\r\n"},
         "USER puser\r\nPASS ppass\r\nOPEN ftp.example\r\nUSER kw\r\nPASS secret\r\n"},
        {ptUserPass, {"331 u\r\n", "230 u\r\n"}, "USER kw@puser@ftp.example\r\nPASS secret@ppass\r\n"},
        {ptTransparent,
         {"331 p\r\n", "230 p\r\n", "331 u\r\n", "230 u\r\n"},
         "USER puser\r\nPASS ppass\r\nUSER kw\r\nPASS secret\r\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> replies = c.replies;
        replies.push_back("502 no FEAT\r\n");
        const LoginRun run = LogInToScript(replies, [&](TElSimpleFTPSClient& ftp, int port) {
            ftp.SetAddress("ftp.example");
            auto proxy = std::make_unique<TSBFTPProxySettings>();
            proxy->ProxyType = c.type;
            proxy->Host = "127.0.0.1";
            proxy->Port = port;
            proxy->Username = "puser";
            proxy->Password = "ppass";
            ftp.SetProxySettings(std::move(proxy));
        });
        EXPECT_EQ(run.failure, "") << int(c.type);
        EXPECT_EQ(run.transcript, c.transcript + "FEAT\r\n") << int(c.type);
    }
}

TEST(FTPClientScripted, AcAutoTriesEachMechanismUntilA4xxRefusal) {
    struct Case {
        TSBFTPAuthCmd cmd;
        std::vector<std::string> replies;
        std::string transcript;
    };
    const Case cases[] = {
        // Every mechanism "not understood": each is tried in turn.
        {acAuto,
         {"500 no\r\n", "502 no\r\n", "504 no\r\n", "500 no\r\n"},
         "AUTH TLS\r\nAUTH SSL\r\nAUTH TLS-P\r\nAUTH TLS-C\r\n"},
        // A 4xx refusal is the server's answer: no other mechanism is tried.
        {acAuto, {"504 no\r\n", "431 not now\r\n"}, "AUTH TLS\r\nAUTH SSL\r\n"},
        // A mechanism named is the only one tried.
        {acAuthTLSP, {"504 no\r\n"}, "AUTH TLS-P\r\n"},
    };
    for (const Case& c : cases) {
        const LoginRun run = LogInToScript(c.replies, [&](TElSimpleFTPSClient& ftp, int) {
            ftp.UseSSL = true;
            ftp.SSLMode = smExplicit;
            ftp.AuthCmd = c.cmd;
        });
        EXPECT_EQ(run.failure, "Error occured while forcing SSL");
        EXPECT_EQ(run.transcript, c.transcript);
    }
}

TEST(FTPClientScripted, ModeZIsAskedThroughOptsThenTheMode) {
    FtpScript script;
    script.Greeting("211-Features:\r\n MODE Z\r\n SIZE\r\n211 End\r\n")
        .Reply("501 what level\r\n")
        .Reply("200 MODE Z ok\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.SetModeZ(true);
    ftp.ModeZLevel = 6;
    ftp.Open();
    ftp.Login();
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS secret\r\nFEAT\r\nOPTS MODE Z LEVEL 6\r\nMODE Z\r\n");
}

TEST(FTPClientScripted, EmptyAndOneCharacterFeatureLinesArePassedOver) {
    // An empty line before MODE Z and one-character lines before SIZE: the login goes on, MODE Z
    // is negotiated and a download asks the size first.
    FtpScript script;
    script.Greeting("211-Features:\r\n\r\n MODE Z\r\n \r\nx\r\n SIZE\r\n211 End\r\n")
        .Reply("200 level\r\n")
        .Reply("200 MODE Z ok\r\n")
        .Reply("200 type\r\n")
        .Cmd()
        .Pasv()
        .Reply("550 no such file\r\n")
        .Reply("550 no such file\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.SetModeZ(true);
    ftp.ModeZLevel = 6;
    ftp.Open();
    ASSERT_NO_THROW(ftp.Login());
    rtl::MemoryStream s;
    EXPECT_EQ(FtpErrorCode([&] { ftp.ReceiveFile("f.bin", &s); }), 550);
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(),
              "USER kw\r\nPASS secret\r\nFEAT\r\nOPTS MODE Z LEVEL 6\r\nMODE Z\r\nTYPE I\r\nPASV\r\nSIZE "
              "f.bin\r\nRETR f.bin\r\n");
}

TEST(FTPClientScripted, AListingsLastLineWithoutLineEndIsDelivered) {
    FtpScript script;
    script.Greeting().PassiveDownload("a.txt\r\nb c.txt\r\nlast.txt");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    std::vector<std::string> lines;
    ftp.OnTextDataLine = [&](rtl::Component*, const std::string& line) { lines.push_back(line); };
    ftp.Open();
    ftp.Login();
    ftp.ListNames();
    EXPECT_EQ(lines, (std::vector<std::string>{"a.txt", "b c.txt", "last.txt"}));
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS secret\r\nFEAT\r\nTYPE A\r\nPASV\r\nNLST\r\n");
}

TEST(FTPClientScripted, AnAsciiDownloadWhoseLineNeverEndsFailsInsteadOfFillingMemory) {
    FtpScript script;
    script.Greeting().PassiveDownload("first\n" + std::string(TElSimpleFTPSClient::kMaxTextLine + 4096, 'x'));
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.Open();
    ftp.Login();
    ftp.TransferType = ttASCII;
    rtl::MemoryStream s;
    EXPECT_EQ(ThrownMessage([&] { ftp.ReceiveFile("f.txt", &s); }), "Data channel transfer error");
    EXPECT_EQ(s.Data(), "first\r\n");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS secret\r\nFEAT\r\nTYPE A\r\nPASV\r\nRETR f.txt\r\n");
}

TEST(FTPClientScripted, AListingWhoseLineNeverEndsFailsThoughTheServerSays226) {
    FtpScript script;
    script.Greeting()
        .PassiveDownload("first\n" + std::string(TElSimpleFTPSClient::kMaxTextLine + 4096, 'x'))
        .Reply("250 deleted\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    std::vector<std::string> lines;
    ftp.OnTextDataLine = [&](rtl::Component*, const std::string& line) { lines.push_back(line); };
    ftp.Open();
    ftp.Login();
    EXPECT_EQ(ThrownMessage([&] { ftp.ListNames(); }), "Data channel transfer error");
    EXPECT_EQ(lines, (std::vector<std::string>{"first"}));
    // The listing's 226 was read: the next command meets its own reply.
    ftp.DeleteRemoteFile("f.txt");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(),
              "USER kw\r\nPASS secret\r\nFEAT\r\nTYPE A\r\nPASV\r\nNLST\r\nDELE f.txt\r\n");
}

TEST(FTPClientScripted, AListingLineHandlersFailureLeavesTheListing) {
    FtpScript script;
    script.Greeting().PassiveDownload("a.txt\r\nb.txt\r\n").Reply("250 deleted\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.OnTextDataLine = [&](rtl::Component*, const std::string&) {
        throw EOperationCancelledError(SOperationCancelled);
    };
    ftp.Open();
    ftp.Login();
    EXPECT_THROW(ftp.ListNames(), EOperationCancelledError);
    ftp.OnTextDataLine = nullptr;
    ftp.DeleteRemoteFile("f.txt");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(),
              "USER kw\r\nPASS secret\r\nFEAT\r\nTYPE A\r\nPASV\r\nNLST\r\nDELE f.txt\r\n");
}

TEST(FTPClientScripted, A425WhileWaitingInActiveModeFailsTheListing) {
    FtpScript script;
    script.Greeting()
        .Reply("200 type\r\n")
        .Reply("200 port\r\n")
        .Reply("150 opening\r\n")
        .Send("425 no data\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.PassiveMode = false;
    ftp.Open();
    ftp.Login();
    const size_t before = OpenDescriptors();
    EXPECT_EQ(FtpErrorCode([&] { ftp.ListDirectory(); }), 425);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    const std::string transcript = peer.Transcript();
    EXPECT_NE(transcript.find("TYPE A\r\nPORT 127,0,0,1,"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("\r\nLIST\r\n"), std::string::npos) << transcript;
}

TEST(FTPClientScripted, A421IsRefusedWithItsCode) {
    FtpScript script;
    script.Greeting().Reply("421 closing\r\n").Close();
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.Open();
    ftp.Login();
    rtl::MemoryStream s;
    try {
        ftp.ReceiveFile("x", &s);
        ADD_FAILURE() << "no error";
    } catch (const EFTPSError& e) {
        EXPECT_EQ(e.ErrorCode, 421);
        EXPECT_EQ(e.ReplyText, "421 closing\r\n");
    }
    // The server is gone: the next command fails on the control connection.
    EXPECT_EQ(ThrownMessage([&] { ftp.ChangeDirectory("x"); }).rfind("Control channel transfer error", 0),
              0u);
}

TEST(FTPClientScripted, ADownloadShortOfItsSizeFailsAndRestComesBeforeRetr) {
    FtpScript script;
    script.Greeting("211-Features:\r\n SIZE\r\n211 End\r\n")
        .Reply("200 type\r\n")
        .Cmd()
        .Pasv()
        .Reply("213 5000\r\n")
        .Reply("350 restarting\r\n")
        .Cmd()
        .Accept()
        .Send("150 here\r\n")
        .Data(std::string(900, 'x'))
        .DataClose()
        .Send("226 done\r\n")
        .Reply("250 changed\r\n");
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.Open();
    ftp.Login();
    rtl::MemoryStream s;
    std::vector<std::pair<int64_t, int64_t>> progress;
    ftp.OnProgress = [&](rtl::Component*, int64_t total, int64_t current, bool&) {
        progress.emplace_back(total, current);
    };
    EXPECT_EQ(ThrownMessage([&] { ftp.ReceiveFile("f.bin", &s, 100, 0); }), "Data channel transfer error");
    EXPECT_EQ(s.Data(), std::string(900, 'x'));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), (std::pair<int64_t, int64_t>(4900, 0)));
    // The transfer's "226" was read with the failure: the next command meets its own reply.
    ftp.ChangeDirectory("sub");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(),
              "USER kw\r\nPASS secret\r\nFEAT\r\nTYPE I\r\nPASV\r\nSIZE f.bin\r\nREST 100\r\nRETR "
              "f.bin\r\nCWD sub\r\n");
}

TEST(FTPClientScripted, ServersThatNeverEndTheirAnswerAreNotWaitedForWithoutLimit) {
    // A reply that never reaches its closing line is refused once it passes the ceiling, while
    // the server keeps the connection open.
    std::string endless;
    while (endless.size() <= TElSimpleFTPSClient::kMaxReplySize)
        endless += "220-" + std::string(94, 'w') + "\r\n";
    FtpScript flood;
    flood.Send(endless).Cmd();
    FtpScriptPeer flooding(flood);
    KW_REQUIRE_FTP_PEER(flooding);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, flooding.Port());
    ftp.SetFTPBufferSize(65536);
    ftp.Open();
    EXPECT_EQ(ThrownMessage([&] { ftp.Login(); }), "Invalid server reply");

    // A server that takes AUTH TLS and then stays silent, holding the connection far longer:
    // the handshake ends after SocketTimeout in all. The same for implicit TLS against a
    // listener that never answers.
    FtpScript silent;
    silent.Send("220 ready\r\n").Reply("234 go ahead\r\n").Sleep(30000);
    FtpScriptPeer quiet(silent);
    KW_REQUIRE_FTP_PEER(quiet);
    TElSimpleFTPSClient explicitTls;
    PlainClient(explicitTls, quiet.Port());
    explicitTls.UseSSL = true;
    explicitTls.SocketTimeout = 300;
    explicitTls.Open();
    EXPECT_EQ(ThrownMessage([&] { explicitTls.Login(); }), "Error occured while forcing SSL");
    kwtest::LoopbackListener listener;
    TElSimpleFTPSClient implicitTls;
    PlainClient(implicitTls, listener.Port());
    implicitTls.UseSSL = true;
    implicitTls.SSLMode = smImplicit;
    implicitTls.SocketTimeout = 300;
    EXPECT_EQ(ThrownMessage([&] { implicitTls.Open(); }), "Server cannot perform SSL negotiation");
}

TEST(FTPClientScripted, CommandArgumentsCannotCarryLineEnds) {
    FtpScript script;
    script.Greeting();
    FtpScriptPeer peer(script);
    KW_REQUIRE_FTP_PEER(peer);
    TElSimpleFTPSClient ftp;
    PlainClient(ftp, peer.Port());
    ftp.Open();
    ftp.Login();
    EXPECT_EQ(ThrownMessage([&] { ftp.ChangeDirectory("a\r\nDELE b"); }), "Invalid character in FTP command");
    EXPECT_EQ(ThrownMessage([&] { ftp.DeleteRemoteFile(std::string("a\0b", 3)); }),
              "Invalid character in FTP command");
    EXPECT_TRUE(peer.Finished()) << peer.Errors();
    EXPECT_EQ(peer.Transcript(), "USER kw\r\nPASS secret\r\nFEAT\r\n");
}

// Real servers ----------------------------------------------------------------------------

void LogIn(TElSimpleFTPSClient& ftp, int port, const Transfers& t, const std::string& user = "kw",
           const std::string& password = "secret") {
    ftp.SetAddress("127.0.0.1");
    ftp.SetPort(port);
    ftp.UseSSL = false;
    ftp.Username = user;
    ftp.Password = password;
    ftp.PassiveMode = t.passive;
    ftp.SetModeZ(t.modeZ);
    ftp.SetFTPBufferSize(8192);
    ftp.Open();
    ftp.Login();
}

TEST(FTPClientProftpd, FilesMoveByteForByteActiveAndPassiveWithAndWithoutModeZ) {
    for (const Transfers& t :
         {Transfers{true, false}, Transfers{false, false}, Transfers{true, true}, Transfers{false, true}}) {
        FtpRoot root;
        root.Add("text.txt", "first\nsecond line\nthird\n");
        ProFtpd server(root);
        KW_REQUIRE_FTP_PEER(server);
        TElSimpleFTPSClient ftp;
        std::string sent;
        ftp.OnControlSend = [&](rtl::Component*, const std::string& line) { sent += line + "\n"; };
        LogIn(ftp, server.Port(), t);
        EXPECT_EQ(sent.find("MODE Z") != std::string::npos, t.modeZ) << sent;
        MoveFilesBothWays(ftp, root.Path(), t);
    }
}

TEST(FTPClientPyftpdlib, FilesMoveByteForByteActiveAndPassive) {
    for (const Transfers& t : {Transfers{true, false}, Transfers{false, false}}) {
        FtpRoot root;
        root.Add("text.txt", "first\nsecond line\nthird\n");
        PyFtpd server(root);
        KW_REQUIRE_FTP_PEER(server);
        TElSimpleFTPSClient ftp;
        LogIn(ftp, server.Port(), t);
        MoveFilesBothWays(ftp, root.Path(), t);
    }
}

TEST(FTPClientVsftpd, AnonymousFilesMoveByteForByteActiveAndPassive) {
    for (const Transfers& t : {Transfers{true, false}, Transfers{false, false}}) {
        FtpRoot root;
        VsFtpd server(root);
        KW_REQUIRE_FTP_PEER(server);
        root.Add("pub/text.txt", "first\nsecond line\nthird\n");
        TElSimpleFTPSClient ftp;
        std::string sent;
        ftp.OnControlSend = [&](rtl::Component*, const std::string& line) { sent += line + "\n"; };
        LogIn(ftp, server.Port(), t, "anonymous", "");
        // No password asked: the login ends at the 230 that answers USER.
        EXPECT_EQ(sent, "USER anonymous\nFEAT\n");
        ftp.ChangeDirectory("pub");
        MoveFilesBothWays(ftp, root.Path() / "pub", t);
    }
}

// The file transfer's calls, as it makes them: a client without owner and without TLS, 3.5 s
// for Open and Login and then its transfer time-out, a folder, names and a long listing read
// through ParseListLine, whole-file downloads and uploads, deletes; the reply codes it tells
// apart (530, 550) come back as the error code, and the progress handler can stop a download.
TEST(FTPClientProftpd, TheFileTransfersCallsAsItMakesThem) {
    FtpRoot root;
    std::filesystem::create_directory(root.Path() / "versao");
    ::chmod((root.Path() / "versao").c_str(), 0777);
    const std::string exe = RandomBytes(300000, 11);
    root.Add("versao/kwExec.exe", exe);
    root.Add("versao/kwCFG.ini", "[kw]\r\n");
    ProFtpd server(root);
    KW_REQUIRE_FTP_PEER(server);
    for (const bool passive : {true, false}) {
        const size_t before = OpenDescriptors();
        {
            auto ftp = std::make_unique<TElSimpleFTPSClient>();
            ftp->UseSSL = false;
            int64_t received = 0;
            ftp->OnProgress = [&](rtl::Component*, int64_t, int64_t current, bool&) { received = current; };
            ftp->TransferTimeout = 30000;
            ftp->PassiveMode = passive;
            ftp->SetAddress("127.0.0.1");
            ftp->SetPort(server.Port());
            ftp->Username = "kw";
            ftp->Password = "secret";
            ftp->SocketTimeout = 3500;
            ftp->Open();
            ftp->Login();
            ftp->SocketTimeout = 30000;
            ftp->ChangeDirectory("versao");
            std::vector<std::string> names, lines;
            ftp->OnTextDataLine = [&](rtl::Component*, const std::string& line) { names.push_back(line); };
            ftp->ListNames();
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, (std::vector<std::string>{"kwCFG.ini", "kwExec.exe"}));
            ftp->OnTextDataLine = [&](rtl::Component*, const std::string& line) { lines.push_back(line); };
            ftp->ListDirectory();
            int64_t size = -1;
            for (const std::string& line : lines) {
                TSBFTPFileInfo info;
                if (TElSimpleFTPSClient::ParseListLine(line, info) && info.Kind == TSBFTPFileInfo::fkFile &&
                    info.Name == "kwExec.exe")
                    size = info.Size;
            }
            EXPECT_EQ(size, int64_t(exe.size()));
            ftp->TransferType = ttBinary;
            rtl::MemoryStream file;
            ftp->ReceiveFile("kwExec.exe", &file, 0, 0);
            EXPECT_TRUE(file.Data() == exe);
            EXPECT_EQ(received, int64_t(exe.size()));
            rtl::MemoryStream up("novo");
            ftp->SendFile(up, "kwNovo.txt");
            EXPECT_EQ(root.Read("versao/kwNovo.txt"), "novo");
            ftp->DeleteRemoteFile("kwNovo.txt");
            EXPECT_FALSE(root.Exists("versao/kwNovo.txt"));
            try {
                ftp->ReceiveFile("ausente.exe", &file, 0, 0);
                ADD_FAILURE() << "no error";
            } catch (const EFTPSError& e) {
                EXPECT_EQ(e.ErrorCode, 550);
                EXPECT_STREQ(e.ClassName(), "EFTPSError");
                EXPECT_NE(e.ReplyText.find("550"), std::string::npos) << e.ReplyText;
            }
            // The progress handler stops the download.
            ftp->OnProgress = [&](rtl::Component*, int64_t, int64_t current, bool& cancel) {
                cancel = current > 0;
            };
            EXPECT_THROW(ftp->ReceiveFile("kwExec.exe", &file, 0, 0), EOperationCancelledError);
        }
        EXPECT_EQ(OpenDescriptors(), before) << "passive " << passive;
    }
    // A refused password: 530.
    TElSimpleFTPSClient ftp;
    ftp.UseSSL = false;
    ftp.SetAddress("127.0.0.1");
    ftp.SetPort(server.Port());
    ftp.Username = "kw";
    ftp.Password = "wrong";
    ftp.Open();
    EXPECT_EQ(FtpErrorCode([&] { ftp.Login(); }), 530);
}

TEST(FTPClientProftpd, ASparse3GiBFileListsItsWholeSize) {
    FtpRoot root;
    root.Add("big.bin", "");
    std::filesystem::resize_file(root.Path() / "big.bin", 3221225472ULL);
    ProFtpd server(root);
    KW_REQUIRE_FTP_PEER(server);
    TElSimpleFTPSClient ftp;
    LogIn(ftp, server.Port(), {true, false});
    TSBFTPFileInfo big;
    ftp.OnTextDataLine = [&](rtl::Component*, const std::string& line) {
        TSBFTPFileInfo info;
        if (TElSimpleFTPSClient::ParseListLine(line, info) && info.Name == "big.bin") big = info;
    };
    ftp.ListDirectory();
    EXPECT_EQ(big.Size, 3221225472LL);
    EXPECT_EQ(big.Kind, TSBFTPFileInfo::fkFile);
}

TEST(FTPClientProftpd, ProgressReportsTheSizeOrCountsUp) {
    FtpRoot root;
    const std::string data = RandomBytes(5000, 3);
    root.Add("f.bin", data);
    ProFtpd server(root);
    KW_REQUIRE_FTP_PEER(server);
    TElSimpleFTPSClient ftp;
    LogIn(ftp, server.Port(), {true, false});
    ftp.SetFTPBufferSize(1024);
    std::vector<std::pair<int64_t, int64_t>> calls;
    ftp.OnProgress = [&](rtl::Component*, int64_t total, int64_t current, bool&) {
        calls.emplace_back(total, current);
    };

    // SIZE known: (5000, bytes before each block), then (5000, 5000).
    rtl::MemoryStream s;
    ftp.ReceiveFile("f.bin", &s);
    EXPECT_TRUE(s.Data() == data);
    ASSERT_GE(calls.size(), 2u);
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].first, 5000);
        EXPECT_LT(calls[i].second, 5000);
        if (i > 0) {
            EXPECT_GT(calls[i].second, calls[i - 1].second);
        }
    }
    EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>(5000, 5000)));

    // Without SIZE: Total 0 while the bytes so far grow, and (-1, -1) at the end.
    calls.clear();
    ftp.UseSIZECmd = false;
    rtl::MemoryStream t;
    ftp.ReceiveFile("f.bin", &t);
    EXPECT_TRUE(t.Data() == data);
    ASSERT_GE(calls.size(), 2u);
    for (size_t i = 0; i + 1 < calls.size(); ++i)
        EXPECT_EQ(calls[i].first, 0);
    EXPECT_EQ(calls[calls.size() - 2].second, 5000);
    EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>(-1, -1)));

    // Upload: (Total, Total - what is left before each block), then (Total, Total).
    calls.clear();
    rtl::MemoryStream up(data);
    ftp.SendFile(up, "g.bin");
    EXPECT_TRUE(root.Read("g.bin") == data);
    ASSERT_EQ(calls.size(), 6u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(calls[i], (std::pair<int64_t, int64_t>(5000, int64_t(i) * 1024)));
    EXPECT_EQ(calls.back(), (std::pair<int64_t, int64_t>(5000, 5000)));
}

TEST(FTPClientProftpd, ACancelledTransferLeavesNoDescriptorAndTheNextOneWorks) {
    for (const Transfers& t : {Transfers{true, false}, Transfers{false, false}, Transfers{true, true}}) {
        FtpRoot root;
        const std::string data = RandomBytes(4 << 20, 5);
        root.Add("big.bin", data);
        ProFtpd server(root);
        KW_REQUIRE_FTP_PEER(server);
        TElSimpleFTPSClient ftp;
        LogIn(ftp, server.Port(), t);
        const size_t before = OpenDescriptors();
        int calls = 0;
        ftp.OnProgress = [&](rtl::Component*, int64_t, int64_t, bool& cancel) { cancel = ++calls == 3; };
        rtl::MemoryStream s;
        EXPECT_EQ(ThrownMessage([&] { ftp.ReceiveFile("big.bin", &s); }),
                  "Synchronous operation has been cancelled");
        EXPECT_EQ(OpenDescriptors(), before);
        // An upload cancelled too.
        calls = 0;
        rtl::MemoryStream up(data);
        EXPECT_EQ(ThrownMessage([&] { ftp.SendFile(up, "up.bin"); }),
                  "Synchronous operation has been cancelled");
        EXPECT_EQ(OpenDescriptors(), before);

        ftp.OnProgress = nullptr;
        rtl::MemoryStream whole;
        ftp.ReceiveFile("big.bin", &whole);
        EXPECT_TRUE(whole.Data() == data) << "passive " << t.passive << " MODE Z " << t.modeZ;
        EXPECT_EQ(OpenDescriptors(), before);
    }
}

}  // namespace
