// Tests of the stack handler's ReadSomeTo with scripted receives: what the input buffer holds
// comes first, a receive's bytes go to the stream with what passes the limit kept in order for
// the next read, every byte is reported as read work, and an intercept still sees every byte.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "net/IdIntercept.h"
#include "rtl/Stream.h"
#include "tests/net/ScriptedReceives.h"

namespace {

using kwtest::ScriptedReceives;

// The bytes 0, 1, 2, ... of a given length.
std::string Counting(size_t length) {
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i)
        s[i] = char(i * 7 + i / 251);
    return s;
}

// Reads exactly count bytes with ReadSomeTo in steps of at most limit.
std::string ReadSome(TIdIOHandler& io, size_t count, int32_t limit, std::vector<int32_t>* steps = nullptr) {
    rtl::MemoryStream out;
    while (out.Size() < int64_t(count)) {
        const int32_t n = io.ReadSomeTo(out, std::min<int32_t>(limit, int32_t(count - size_t(out.Size()))));
        if (n <= 0) break;
        if (steps != nullptr) steps->push_back(n);
    }
    return out.Data();
}

struct SplitCase {
    const char* name;
    size_t piece;   // every receive brings at most this much
    int32_t limit;  // what each ReadSomeTo asks for at most
};

TEST(IdIOHandlerStack, ReadSomeToKeepsWhatPassesTheLimitInOrder) {
    constexpr int32_t kReceive = 4096;
    const std::string body = Counting(3 * kReceive + 5);
    const std::string input = "head\r\n" + body + "tail\r\n";
    const SplitCase cases[] = {
        {"one byte a receive", 1, 1 << 20},
        {"receives one short of the array", kReceive - 1, 1 << 20},
        {"receives of the array's size", kReceive, 1 << 20},
        {"receives one past the array", kReceive + 1, 1 << 20},
        {"everything at once", input.size(), 1 << 20},
        {"limits of one byte", input.size(), 1},
        {"limits below a receive", kReceive, 1000},
        {"limits just below a receive", kReceive, kReceive - 1},
        {"limits just past a receive", kReceive, kReceive + 1},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedReceives io;
        io.RecvBufferSize = kReceive;
        io.ScriptEvery(input, c.piece);
        io.Open();
        EXPECT_EQ(io.ReadLn(), "head");
        std::vector<int32_t> steps;
        EXPECT_EQ(ReadSome(io, body.size(), c.limit, &steps), body);
        for (int32_t n : steps)
            EXPECT_LE(n, c.limit);
        // What came with the body's last receive is still there for the next read.
        EXPECT_EQ(io.ReadLn(), "tail");
        for (size_t asked : io.asked)
            EXPECT_EQ(asked, size_t(kReceive));
    }
}

TEST(IdIOHandlerStack, ReadSomeToTakesTheInputBufferFirstAndReportsEveryByte) {
    ScriptedReceives io;
    io.RecvBufferSize = 16;
    const std::string input = "line\nabcdefghijklmnopqrstuvwxyz";
    io.Script(input, {9});  // the first receive brings the line and four bytes past it
    io.Open();
    EXPECT_EQ(io.ReadLn(), "line");
    EXPECT_EQ(io.asked.size(), 1u);
    int64_t reported = 0;
    io.OnWork = [&](TIdComponent*, TWorkMode mode, int64_t done) {
        if (mode == wmRead) reported = done;
    };
    io.WorkBegin(wmRead, 26);
    rtl::MemoryStream out;
    EXPECT_EQ(io.ReadSomeTo(out, 100), 4);  // the buffered bytes, without a receive
    EXPECT_EQ(io.asked.size(), 1u);
    EXPECT_EQ(io.ReadSomeTo(out, 100), 16);  // one receive, at most the array
    EXPECT_EQ(io.ReadSomeTo(out, 3), 3);     // three of the last six; three stay buffered
    EXPECT_EQ(io.ReadSomeTo(out, 100), 3);
    io.WorkEnd(wmRead);
    EXPECT_EQ(out.Data(), "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(reported, 26);
    EXPECT_EQ(io.ReadSomeTo(out, 0), 0);  // nothing asked, nothing read
    EXPECT_THROW(io.ReadSomeTo(out, 1), EIdConnClosedGracefully);
}

// Upper-cases what it receives.
class UpperCasing : public TIdConnectionIntercept {
public:
    std::string seen;
    void InterceptReceive(TBytes& buffer) override {
        seen.append(buffer.begin(), buffer.end());
        for (uint8_t& b : buffer)
            b = uint8_t(std::toupper(b));
        TIdConnectionIntercept::InterceptReceive(buffer);
    }
};

TEST(IdIOHandlerStack, WithAnInterceptEveryReceivePassesIt) {
    UpperCasing intercept;
    ScriptedReceives io;
    io.RecvBufferSize = 8;
    const std::string input = "abcdefghijklmnopqrstuvwxyz";
    io.ScriptEvery(input, 5);
    io.SetIntercept(&intercept);
    io.Open();
    EXPECT_EQ(ReadSome(io, input.size(), 7), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(intercept.seen, input);
}

}  // namespace
