// The SQL trace hooks: without a sink the wrappers record nothing; an installed sink gets
// numbered records of the connection and statement events, errors after the statement that
// met them, and one DataOut record per column after each fetched row.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "FakeSqlDriver.h"
#include "database/engine/SDCommonTrace.h"

namespace {

using fake::CallLog;
using fake::FakeCommand;
using fake::FakeDatabase;

struct SinkGuard {
    explicit SinkGuard(uint32_t flags) {
        InstallSqlTraceHooks(std::make_unique<TSDSqlTraceHooks>("kwLoader", flags));
    }
    ~SinkGuard() { InstallSqlTraceHooks(nullptr); }
    TSDSqlTraceHooks& hooks() { return *GetSqlTraceHooks(); }
};

std::string Describe(const TSDTraceRecord& r) {
    return std::to_string(r.Sequence) + ":" + TraceEventName(TSDTraceEvent(r.Event)) + ":" + r.ComponentName +
           ":" + r.Text;
}

TEST(SqlTrace, NoSinkRecordsNothing) {
    ASSERT_EQ(GetSqlTraceHooks(), nullptr);
    const int32_t before = SqlTraceSharedCounter();
    CallLog log;
    FakeDatabase db(nullptr, rtl::StringList(), stODBC, log);
    db.Connect("r", "u", "p");
    db.StartTransaction();
    db.Commit();
    EXPECT_EQ(SqlTraceSharedCounter(), before);
}

TEST(SqlTrace, EventsOfConnectionAndStatements) {
    SinkGuard sink(tfConnect | tfTransact | tfPrepare | tfExecute | tfFetch);
    rtl::Component dbOwner;
    dbOwner.SetName("MainDB");
    rtl::Component queryOwner;
    queryOwner.SetName("Query1");
    CallLog log;
    FakeDatabase db(&dbOwner, rtl::StringList(), stODBC, log);
    db.Connect("r", "u", "p");
    db.StartTransaction();
    db.Commit();

    TISqlCommandPtr ptr = db.CreateSqlCommand(&queryOwner);
    auto& cmd = static_cast<FakeCommand&>(*ptr);
    cmd.columns = {
        {"N", ftInteger, 4}, {"AI", ftAutoInc, 4}, {"B", ftBytes, 2}, {"M", ftMemo, 0}, {"S", ftString, 4}};
    cmd.rows = {
        {fake::IntCell(7), fake::IntCell(3), fake::TextCell("xy"), fake::Cell(), fake::TextCell("ab\0")}};
    cmd.failIn = {"DoPrepare"};
    EXPECT_THROW(cmd.Prepare("select n from t"), ESDFakeError);
    cmd.failIn.clear();
    cmd.ExecDirect("select * from t");
    ASSERT_TRUE(cmd.FetchNextRow());
    db.Disconnect(false);

    std::vector<std::string> got;
    for (const TSDTraceRecord& r : sink.hooks().TakeRecords()) {
        got.push_back(Describe(r));
        EXPECT_STREQ(r.AppName, "kwLoader");
        EXPECT_GE(r.Elapsed, 0.0);
        EXPECT_EQ(r.ServerType, int32_t(stODBC));
    }
    const std::vector<std::string> expected = {
        "1:Connect:MainDB:",
        "2:TrStart:MainDB:",
        "3:TrCommit:MainDB:",
        "4:Prepare:Query1:select n from t",
        "5:Error:Query1:server failed in DoPrepare",
        "6:Execute:Query1:select * from t",
        "7:Fetch:Query1:select * from t",
        "8:DataOut:Query1:Field = 1, Name = N, Type = Integer, Size = 4, Data = 7",
        "9:DataOut:Query1:Field = 2, Name = AI, Type = AutoInc, Size = 4, Data = 3",
        "10:DataOut:Query1:Field = 3, Name = B, Type = Bytes, Size = 2, Data = <BINARY>",
        "11:DataOut:Query1:Field = 4, Name = M, Type = Memo, Size = 0, Data = <BLOB>",
        "12:DataOut:Query1:Field = 5, Name = S, Type = String, Size = 4, Data = ab",
        "13:Disconnect:MainDB:",
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(sink.hooks().Counter(), 13);
}

TEST(SqlTrace, FlagsPauseAndFieldLimits) {
    SinkGuard sink(tfExecute);
    CallLog log;
    FakeDatabase db(nullptr, rtl::StringList(), stODBC, log);
    db.Connect("r", "u", "p");  // not traced: no connect flag
    TISqlCommandPtr cmd = db.CreateSqlCommand(nullptr);
    const std::string longText = "select '" + std::string(2000, 'x') + "'";
    cmd->ExecDirect(longText);
    sink.hooks().SetPaused(true);
    cmd->ExecDirect("select 1");
    const auto records = sink.hooks().TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Event, teExecute);
    EXPECT_EQ(std::strlen(records[0].Text), 1024u);
    EXPECT_EQ(std::string(records[0].Text), longText.substr(0, 1024));
    EXPECT_STREQ(records[0].ComponentName, "");
}

TEST(SqlTrace, RecordsFromSeveralThreadsGetDistinctNumbers) {
    SinkGuard sink(tfConnect);
    constexpr int kThreads = 8;
    constexpr int kRecords = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&sink] {
            for (int i = 0; i < kRecords; ++i)
                sink.hooks().Queue(TSDTraceRecord());
        });
    for (auto& t : threads)
        t.join();
    std::vector<int32_t> numbers;
    for (const TSDTraceRecord& r : sink.hooks().TakeRecords())
        numbers.push_back(r.Sequence);
    ASSERT_EQ(numbers.size(), size_t(kThreads * kRecords));
    // In queue order, each record carries the next number.
    for (size_t i = 0; i < numbers.size(); ++i)
        ASSERT_EQ(numbers[i], int32_t(i + 1)) << i;
    EXPECT_EQ(sink.hooks().Counter(), kThreads * kRecords);
}

}  // namespace
