// Tests of the stream adapter and of the byte queue.
#include "net/IdStream.h"

#include <gtest/gtest.h>

#include "net/IdBuffer.h"

namespace {

TEST(IdStream, ReadLineTerminatorsAndEnd) {
    rtl::MemoryStream m(std::string("ab\r\nc"));
    TIdStreamVCL s(m);
    EXPECT_EQ(s.StreamReadLine(), "ab");
    EXPECT_EQ(s.StreamPosition(), 4);
    EXPECT_EQ(s.StreamReadLine(), "c");
    EXPECT_EQ(s.StreamReadLine(), "");
    try {
        s.StreamReadLine(-1, true);
        ADD_FAILURE();
    } catch (const EIdEndOfStream& e) {
        EXPECT_EQ(e.Message(), "End of stream: Class TIdStreamVCL at 5");
    }

    rtl::MemoryStream cr(std::string("a\rb\n\nc"));
    TIdStreamVCL c(cr);
    EXPECT_EQ(c.StreamReadLine(), "a");
    EXPECT_EQ(c.StreamReadLine(), "b");
    EXPECT_EQ(c.StreamReadLine(), "");
    EXPECT_EQ(c.StreamReadLine(), "c");
}

TEST(IdStream, ReadLineStopsAtTheMaximum) {
    rtl::MemoryStream m(std::string("abcdef\n"));
    TIdStreamVCL s(m);
    EXPECT_EQ(s.StreamReadLine(2), "ab");
    EXPECT_EQ(s.StreamPosition(), 2);
    EXPECT_EQ(s.StreamReadLine(), "cdef");
    rtl::MemoryStream exact(std::string("ab\ncd"));
    TIdStreamVCL e(exact);
    EXPECT_EQ(e.StreamReadLine(2), "ab");
    EXPECT_EQ(e.StreamPosition(), 3);  // a line of exactly the maximum keeps its terminator
}

TEST(IdStream, CRLFSplitAcrossTheChunkBoundary) {
    // The CR is the 2048th byte, its LF the first of the next chunk: one terminator.
    const std::string line(2047, 'x');
    rtl::MemoryStream m(line + "\r\nnext\r\n");
    TIdStreamVCL s(m);
    EXPECT_EQ(s.StreamReadLine(), line);
    EXPECT_EQ(s.StreamReadLine(), "next");
    EXPECT_TRUE(s.StreamReadLine().empty());
    // A line spanning several chunks.
    const std::string longLine(5000, 'y');
    rtl::MemoryStream m2(longLine + "\nz");
    TIdStreamVCL s2(m2);
    EXPECT_EQ(s2.StreamReadLine(), longLine);
    EXPECT_EQ(s2.StreamReadLine(), "z");
}

TEST(IdStream, BytesIntegersAndCountedTexts) {
    rtl::MemoryStream m(std::string("\x00\x00\x01\x02", 4) + std::string("\x00\x00\x00\x03" "abc", 7));
    TIdStreamVCL s(m);
    EXPECT_EQ(s.StreamReadInt32(), 0x0102);
    EXPECT_EQ(s.StreamReadCountedText(), "abc");
    EXPECT_TRUE(s.AtStreamStart() == false);
    EXPECT_TRUE(s.AtLastByte());

    TBytes b;
    EXPECT_THROW(s.StreamReadBytes(b, -1, true, 0), EIdException);  // nothing left, empty array
    TBytes one(1);
    EXPECT_EQ(s.StreamReadBytes(one, -1, true, 0), 0);
    s.SetStreamPosition(0);
    TBytes five;
    EXPECT_THROW(s.StreamReadBytes(five, 20, true, 0), EIdException);  // "Not enough bytes read from stream."
    s.SetStreamPosition(0);
    TBytes two{9};
    EXPECT_EQ(s.StreamReadBytes(two, 2, true, 1), 2);
    EXPECT_EQ(two, (TBytes{9, 0, 0}));
    s.SkipBytes(2);
    EXPECT_EQ(s.StreamPosition(), 4);

    // A counted text whose length the stream cannot hold fails before allocating it.
    rtl::MemoryStream hostile(std::string("\x7F\xFF\xFF\xFF" "abc", 7));
    TIdStreamVCL h(hostile);
    EXPECT_THROW(h.StreamReadCountedText(), EIdEndOfStream);
    rtl::MemoryStream negative(std::string("\xFF\xFF\xFF\xFF", 4));
    TIdStreamVCL n(negative);
    EXPECT_EQ(n.StreamReadCountedText(), "");
}

TEST(IdStream, WritesAndOwnership) {
    rtl::MemoryStream m;
    {
        TIdStreamVCL s(m);
        EXPECT_FALSE(s.OwnsStream());
        s.StreamWriteLine("ab");
        s.StreamWriteText("");
        s.StreamWriteBytes(TBytes{'x', 'y', 'z'}, 2);
        s.StreamWriteBytes(TBytes{'q'}, 0);
        s.StreamWriteBytes(TBytes{'q'}, -5);
        s.StreamWriteBytes(TBytes{'w'}, -1);
    }
    EXPECT_EQ(m.Data(), "ab\r\nxyw");  // still usable after the adapter went

    auto owned = std::make_unique<rtl::MemoryStream>(std::string("k"));
    TIdStreamVCL s(std::move(owned));
    EXPECT_TRUE(s.OwnsStream());
    EXPECT_EQ(s.StreamReadLine(), "k");
}

TEST(IdBuffer, SearchesAndChecks) {
    TIdBuffer b;
    EXPECT_EQ(b.FindText("\n"), -1);
    EXPECT_EQ(b.FindText(""), -1);  // an empty buffer answers -1 whatever is asked
    b.AppendBytes(TextToBytes("ab\nc"));
    EXPECT_EQ(b.FindText("\n"), 2);
    EXPECT_EQ(b.FindText("c", 3), 3);
    EXPECT_EQ(b.FindText("zz"), -1);
    EXPECT_THROW(b.FindText(""), EIdException);
    try {
        b.FindText("c", 4);
        ADD_FAILURE();
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Buffer start position is invalid.");
    }
    try {
        b.ExtractText(5);
        ADD_FAILURE();
    } catch (const EIdNotEnoughDataInBuffer& e) {
        EXPECT_EQ(e.Message(), "Not enough data in buffer. (5/4)");
    }
    // Failed checks changed nothing.
    EXPECT_EQ(b.Size(), 4);
    TBytes out{1, 2};
    EXPECT_THROW(b.ExtractBytes(out, 9), EIdNotEnoughDataInBuffer);
    EXPECT_EQ(out, (TBytes{1, 2}));
    EXPECT_EQ(b.ExtractText(), "ab\nc");
}

TEST(IdBuffer, RemovalNoticeSeesEveryByteAndCompactionKeepsOrder) {
    int64_t removed = 0;
    int notices = 0;
    TIdBuffer b([&](TIdBuffer*, int32_t n) {
        removed += n;
        ++notices;
    });
    TBytes data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    b.AppendBytes(data);
    bool compacted = false;
    for (int i = 0; i < 3000; ++i) {
        b.Consume(1);
        compacted = compacted || b.HeadOffset() == 0;
    }
    EXPECT_TRUE(compacted);
    EXPECT_LE(b.HeadOffset(), b.GrowthStep);
    EXPECT_EQ(b.Size(), 1096);
    EXPECT_EQ(removed, 3000);
    for (size_t i = 0; i < 1096; ++i) ASSERT_EQ(b.Data()[i], data[3000 + i]) << i;

    TBytes out;
    b.ExtractBytes(out, 96);
    TIdBuffer other;
    b.MoveTo(other, 500);
    EXPECT_EQ(b.ExtractText(10).size(), 10u);
    rtl::MemoryStream m;
    TIdStreamVCL s(m);
    b.WriteToStream(s);
    EXPECT_EQ(removed, 4096);
    EXPECT_EQ(b.Size(), 0);
    EXPECT_EQ(b.Capacity(), 0);  // an empty buffer holds no storage
    EXPECT_EQ(m.Data().size(), 490u);
    EXPECT_EQ(other.Size(), 500);
    EXPECT_EQ(other.Data()[0], data[3096]);
    EXPECT_EQ(uint8_t(m.Data()[0]), data[3606]);
    EXPECT_EQ(notices, 3004);
}

TEST(IdBuffer, AppendsKeepOrderAndExtractOverwrites) {
    TIdBuffer b;
    for (int i = 0; i < 5000; ++i) b.AppendBytes(TBytes{uint8_t(i)});
    ASSERT_EQ(b.Size(), 5000);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(b.Data()[size_t(i)], uint8_t(i));
    TBytes into{9, 9, 9, 9};
    b.ExtractBytes(into, 2, false);
    EXPECT_EQ(into, (TBytes{0, 1, 9, 9}));
    b.ExtractBytes(into, 1, true);
    EXPECT_EQ(into, (TBytes{0, 1, 9, 9, 2}));
    b.ExtractBytes(into, 0);
    EXPECT_EQ(b.Size(), 4997);
    b.EmptyBuffer();
    EXPECT_EQ(b.Size(), 0);
}

}  // namespace
