// Tests of the IO handler's reads and writes over a real loopback connection to a scripted
// peer that sends given pieces (each received on its own) and records what we send.
#include "net/IdIOHandler.h"

#include <gtest/gtest.h>

#include "tests/net/NetTestSupport.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/net/TestTransport.h"

namespace {

using kwtest::Script;
using kwtest::ScriptPeer;
using kwtest::TestTransport;

// A transport connected to a peer playing the script, acknowledging its receives.
struct Connection {
    ScriptPeer peer;
    std::unique_ptr<TestTransport> io;
    explicit Connection(const Script& script, bool acknowledge = true) : peer(script.Json()) {
        if (!peer.Available()) return;
        io = std::make_unique<TestTransport>();
        io->acknowledge = acknowledge;
        io->ConnectTo(peer.Port());
    }
};

#define CONNECT(name, script, ...)         \
    Connection name{script, ##__VA_ARGS__}; \
    KW_REQUIRE_SCRIPT_PEER(name.peer)

TEST(IdIOHandlerPeer, LinesSplitAnywhereAcrossTwoReceives) {
    // A CR LF line, a line ending in the two-byte terminator "ZZ", and a LF line; the input is
    // cut at every position, each piece received on its own.
    const std::string input = "abc\r\ndefZZghi\n";
    for (size_t cut = 1; cut < input.size(); ++cut) {
        CONNECT(c, Script().Send(input.substr(0, cut)).Sync().Send(input.substr(cut)).Sync());
        EXPECT_EQ(c.io->ReadLn(), "abc") << "cut at " << cut;
        EXPECT_EQ(c.io->ReadLn("ZZ"), "def") << "cut at " << cut;
        EXPECT_EQ(c.io->ReadLn(), "ghi") << "cut at " << cut;
        EXPECT_EQ(c.io->receives, (std::vector<int32_t>{int32_t(cut), int32_t(input.size() - cut)}));
    }
}

TEST(IdIOHandlerPeer, TerminatorsAndTheCarriageReturn) {
    CONNECT(c, Script().Send("one\r\ntwo\rZZ\r\nx\n"));
    EXPECT_EQ(c.io->ReadLine(), "one");
    EXPECT_EQ(c.io->ReadLn("ZZ"), "two\r");  // with "ZZ" a CR before it stays
    EXPECT_EQ(c.io->ReadLn(""), "");         // an empty terminator is LF; the CR is dropped
    EXPECT_EQ(c.io->ReadLine(), "x");
}

TEST(IdIOHandlerPeer, OverLongLinesSplitOrRaise) {
    CONNECT(c, Script().Send("abcdefgh\nabcdefgh\n"));
    c.io->MaxLineLength = 4;
    c.io->MaxLineAction = maSplit;
    EXPECT_EQ(c.io->ReadLine(), "abcd");
    EXPECT_TRUE(c.io->LineWasSplit);
    EXPECT_EQ(c.io->ReadLine(), "efgh");
    EXPECT_FALSE(c.io->LineWasSplit);
    c.io->MaxLineAction = maException;
    try {
        c.io->ReadLine();
        ADD_FAILURE();
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
        EXPECT_EQ(e.Message(), "Max line length exceeded.");
    }
    // The input stays in the buffer.
    EXPECT_EQ(c.io->ReadLn("\n", -1, 0), "abcdefgh");
}

TEST(IdIOHandlerPeer, AnOverLongLineIsNoticedBeforeItsEnd) {
    // The line never ends: the maximum is noticed from what arrived, without waiting more.
    CONNECT(c, Script().Send(std::string(50, 'a')).Sync().RecvAll());
    c.io->MaxLineLength = 10;
    EXPECT_THROW(c.io->ReadLine(), EIdReadLnMaxLineLengthExceeded);
    c.io->MaxLineAction = maSplit;
    EXPECT_EQ(c.io->ReadLine(), std::string(10, 'a'));
}

TEST(IdIOHandlerPeer, NoMaximumReadsAHundredThousandByteLineWhole) {
    std::string line(100000, 'x');
    for (size_t i = 0; i < line.size(); i += 7) line[i] = char('a' + i % 26);
    CONNECT(c, Script().Send(line + "\n"), false);
    c.io->MaxLineLength = 0;
    EXPECT_EQ(c.io->ReadLine(), line);
}

TEST(IdIOHandlerPeer, ReadTimeOutsKeepWhatArrived) {
    // The peer sends part of a line and waits for our byte before it ends the line.
    CONNECT(c, Script().Send("partial").Sync().Recv(1).Send(" line\n").Sync());
    EXPECT_EQ(c.io->ReadLn("\n", 50), "");
    EXPECT_TRUE(c.io->LineTimedOut);
    // With the default time-out the time-out raises.
    c.io->ReadTimeout = 50;
    try {
        c.io->ReadLine();
        ADD_FAILURE();
    } catch (const EIdReadTimeout& e) {
        EXPECT_EQ(e.Message(), "Read Timeout");
    }
    c.io->WriteText("!");
    c.io->ReadTimeout = 0;
    EXPECT_EQ(c.io->ReadLine(), "partial line");
    EXPECT_FALSE(c.io->LineTimedOut);
}

TEST(IdIOHandlerPeer, ReadToStreamWithALengthPrefix) {
    CONNECT(c, Script().Send(std::string("\0\0\0\5", 4)).Sync().Send("hel").Sync().Send("lo+rest\n").Sync());
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    std::vector<int64_t> work;
    c.io->OnWorkBegin = [&](TIdComponent*, TWorkMode, int64_t max) { work.push_back(-max); };
    c.io->OnWork = [&](TIdComponent*, TWorkMode, int64_t n) { work.push_back(n); };
    c.io->ReadToStream(s, -1, false);
    EXPECT_EQ(m.Data(), "hello");
    EXPECT_EQ(c.io->ReadLine(), "+rest");
    // The prefix was consumed before the work began; then the body's running totals.
    ASSERT_GE(work.size(), 2u);
    EXPECT_EQ(work.front(), -5);
    EXPECT_EQ(work.back(), 5);
}

TEST(IdIOHandlerPeer, ReadToStreamUntilClosed) {
    CONNECT(c, Script().Send("first part,").Sync().Send("second part").Sync().Close());
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    c.io->ReadToStream(s, -1, true);
    EXPECT_EQ(m.Data(), "first part,second part");
}

TEST(IdIOHandlerPeer, AHugeLengthPrefixFollowedByACloseIsAnErrorWithoutAllocation) {
    CONNECT(c, Script().Send(std::string("\x7F\xFF\xFF\xFF", 4) + "abc").Sync().Close());
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    EXPECT_THROW(c.io->ReadToStream(s, -1, false), EIdConnClosedGracefully);
    // Only what arrived was stored: the stream was never sized by the prefix.
    EXPECT_EQ(m.Data(), "abc");
}

TEST(IdIOHandlerPeer, ACountedStreamThatEndsEarlyIsAnError) {
    CONNECT(c, Script().Send("12345").Sync().Close());
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    c.io->RecvBufferSize = 5;  // the first chunk completes exactly before the close
    EXPECT_THROW(c.io->ReadToStream(s, 10, false), EIdConnClosedGracefully);
    EXPECT_EQ(m.Data(), "12345");
}

TEST(IdIOHandlerPeer, WriteLinesLeaveInOneRawSend) {
    CONNECT(c, Script().RecvAll(), false);
    c.io->WriteLines(rtl::StringList{"a", "bc", "d"}, true);
    EXPECT_EQ(c.io->sends, (std::vector<size_t>{4 + 3 + 4 + 3}));
    c.io->WriteInt32(0x01020304);
    c.io->WriteInt32(0x01020304, false);
    c.io->WriteChar('!');
    c.io->ShutdownSend();
    ASSERT_TRUE(c.peer.Finished()) << c.peer.Errors();
    EXPECT_EQ(c.peer.Transcript(),
              std::string("\0\0\0\3a\r\nbc\r\nd\r\n\1\2\3\4\4\3\2\1!", 23));
}

TEST(IdIOHandlerPeer, WriteQueueFlushesAtItsThreshold) {
    CONNECT(c, Script().RecvAll(), false);
    c.io->OpenWriteQueue(10);
    c.io->WriteText(std::string(6, 'a'));
    EXPECT_TRUE(c.io->sends.empty());
    c.io->WriteText(std::string(19, 'b'));  // 25 queued: exactly 10 leave, 15 stay
    EXPECT_EQ(c.io->sends, (std::vector<size_t>{10}));
    EXPECT_EQ(c.io->WriteQueue->Size(), 15);
    // Lines written inside an open queue join it instead of dropping it.
    c.io->WriteFlushThreshold = 0;
    c.io->WriteLines(rtl::StringList{"x"});
    EXPECT_EQ(c.io->WriteQueue->Size(), 18);
    c.io->CloseWriteQueue();
    EXPECT_EQ(c.io->sends, (std::vector<size_t>{10, 18}));
    EXPECT_EQ(c.io->WriteQueue, nullptr);
    c.io->OpenWriteQueue();
    c.io->WriteText("dropped");
    c.io->CancelWriteQueue();
    c.io->ShutdownSend();
    EXPECT_EQ(c.peer.Transcript(), std::string(6, 'a') + std::string(19, 'b') + "x\r\n");
}

TEST(IdIOHandlerPeer, CaptureLinesWithDotTransparency) {
    CONNECT(c, Script().Send("line1\r\n..x\r\n.y\r\n.\r\nafter\r\n"));
    rtl::StringList lines;
    int32_t count = 0;
    c.io->CaptureLines(lines, count);
    EXPECT_EQ(lines, (rtl::StringList{"line1", ".x", ".y"}));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(c.io->ReadLine(), "after");
}

TEST(IdIOHandlerPeer, CaptureLinesIntoAStreamAndItsLimit) {
    CONNECT(c, Script().Send("a\r\nb\r\n.\r\na\r\nb\r\nc\r\n.\r\n"));
    rtl::MemoryStream m;
    int32_t count = 0;
    c.io->CaptureLineLimit = 2;
    c.io->CaptureLines(m, count, ".", false);
    EXPECT_EQ(m.Data(), "a\r\nb\r\n");
    rtl::StringList lines;
    try {
        c.io->CaptureLines(lines, count);
        ADD_FAILURE();
    } catch (const EIdMaxCaptureLineExceeded& e) {
        EXPECT_EQ(e.Message(), "Maximum number of line allowed exceeded");
    }
    EXPECT_EQ(lines.Count(), 2);  // at most the limit
}

TEST(IdIOHandlerPeer, TheInterceptChainsOrder) {
    CONNECT(c, Script().Send("y").Sync().RecvAll());
    TIdConnectionIntercept a, b;
    std::string order;
    a.SetChainedIntercept(&b);
    EXPECT_THROW(b.SetChainedIntercept(&a), EIdException);  // never a loop
    a.OnSend = [&](TIdConnectionIntercept*, TBytes& bytes) { bytes.push_back('A'); };
    b.OnSend = [&](TIdConnectionIntercept*, TBytes& bytes) { bytes.push_back('B'); };
    a.OnReceive = [&](TIdConnectionIntercept*, TBytes& bytes) { bytes.push_back('a'); };
    b.OnReceive = [&](TIdConnectionIntercept*, TBytes& bytes) { bytes.push_back('b'); };
    a.OnDisconnect = [&](TIdConnectionIntercept*) { order += "A"; };
    b.OnDisconnect = [&](TIdConnectionIntercept*) { order += "B"; };
    c.io->SetIntercept(&a);
    a.InterceptConnect(c.io.get());
    EXPECT_EQ(b.Connection(), c.io.get());
    TBytes in;
    c.io->ReadIntoBytes(in, 3, false);
    EXPECT_EQ(BytesToText(in), "yba");  // the far end of the chain first
    c.io->WriteText("x");
    c.io->ShutdownSend();
    EXPECT_EQ(c.peer.Transcript(), "xAB");  // this intercept first
    c.io->Close();
    EXPECT_EQ(order, "BA");
    EXPECT_EQ(a.Connection(), nullptr);
}

TEST(IdIOHandlerPeer, AFreedInterceptIsForgotten) {
    CONNECT(c, Script());
    auto intercept = std::make_unique<TIdConnectionIntercept>();
    c.io->SetIntercept(intercept.get());
    intercept.reset();
    EXPECT_EQ(c.io->Intercept(), nullptr);
    c.io->Close();
}

TEST(IdIOHandlerPeer, APeerCloseLeavesUnreadInputReadable) {
    CONNECT(c, Script().Send("tail\nend").Sync().Close());
    EXPECT_EQ(c.io->ReadLine(), "tail");
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    c.io->ReadToStream(s, -1, true);
    EXPECT_EQ(m.Data(), "end");
    EXPECT_FALSE(c.io->IsConnected());
    try {
        c.io->ReadLine();
        ADD_FAILURE();
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
}

TEST(IdIOHandlerPeer, BlocksIntegersAndEverythingUntilClosed) {
    CONNECT(c, Script()
                   .Send(std::string("\x01\x02\x03\x04", 4))
                   .Sync()
                   .Send("Q")
                   .Sync()
                   .Send("\r\n  \r\n word \r\n")
                   .Sync()
                   .Send("wait for THIS and more")
                   .Sync()
                   .Send("rest of it")
                   .Sync()
                   .Close());
    EXPECT_EQ(c.io->ReadInt32(), 0x01020304);
    EXPECT_EQ(c.io->ReadChar(), 'Q');
    EXPECT_EQ(c.io->ReadLineNonEmpty(5), "word");
    const std::string upTo = c.io->WaitForText("THIS");
    EXPECT_NE(upTo.find("wait for THIS"), std::string::npos);
    EXPECT_EQ(upTo + c.io->ReadAllUntilClosed(), "wait for THIS and morerest of it");
}

TEST(IdIOHandlerPeer, StreamsAndFilesAreWrittenInChunks) {
    CONNECT(c, Script().RecvAll(), false);
    std::string body(100000, 'z');
    rtl::MemoryStream m(body);
    TIdStreamVCL s(m);
    c.io->SendBufferSize = 4096;
    int64_t written = 0;
    c.io->OnWorkBegin = [&](TIdComponent*, TWorkMode mode, int64_t max) {
        EXPECT_EQ(mode, wmWrite);
        written = max;
    };
    c.io->WriteStream(s, 0, true);
    EXPECT_EQ(written, 100000);
    EXPECT_EQ(c.io->sends.size(), 1 + (100000 + 4095) / 4096);

    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "f.txt", "file body");
    EXPECT_EQ(c.io->WriteFile((dir / "f.txt").string()), 9);
    try {
        c.io->WriteFile((dir / "missing").string());
        ADD_FAILURE();
    } catch (const EIdFileNotFound& e) {
        EXPECT_EQ(e.Message(), "File \"" + (dir / "missing").string() + "\" not found");
    }
    c.io->ShutdownSend();
    EXPECT_EQ(c.peer.Transcript(), std::string("\0\1\x86\xA0", 4) + body + "file body");
}

TEST(IdIOHandlerPeer, TypedLines) {
    CONNECT(c, Script().Send("ab\bc\td\x1b\r\n").Sync().RecvAll());
    EXPECT_EQ(c.io->ReadLineTyped("*", true, -1, 4), "ac  d");
    c.io->ShutdownSend();
    EXPECT_EQ(c.peer.Transcript(), "**\b \b*  *\r\n");
}

}  // namespace
