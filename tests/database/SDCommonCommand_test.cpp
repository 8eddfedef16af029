// The driver command: buffer layouts and offsets, field descriptions, the wrappers' order of
// calls, typed readers and blob slots, against the recording fake driver.
#include <gtest/gtest.h>

#include "FakeSqlDriver.h"
#include "database/engine/SDCommonCommand.h"
#include "rtl/Assert.h"
#include "rtl/DateTime.h"

namespace {

using fake::CallLog;
using fake::Column;
using fake::FakeCommand;
using fake::FakeDatabase;

class Command : public ::testing::Test {
protected:
    CallLog log;
    std::unique_ptr<FakeDatabase> db =
        std::make_unique<FakeDatabase>(nullptr, rtl::StringList(), stODBC, log);
    TISqlCommandPtr ptr = db->CreateSqlCommand(nullptr);
    FakeCommand& cmd = static_cast<FakeCommand&>(*ptr);
    TParams params;

    std::unique_ptr<FakeDatabase> DatabaseWith(const rtl::StringList& p) {
        return std::make_unique<FakeDatabase>(nullptr, p, stODBC, log);
    }
};

TEST_F(Command, ParamsBufferLayout) {
    params.CreateParam(ftInteger, "a", ptInput).SetValue(rtl::Variant(int32_t(7)));
    params.CreateParam(ftString, "b", ptInput).SetValue(rtl::Variant("0123456789"));
    params.CreateParam(ftFloat, "c", ptInput).SetValue(rtl::Variant(1.5));
    cmd.SetParams(&params);
    EXPECT_EQ(cmd.GetParamCount(), 3);
    EXPECT_EQ(cmd.GetParamsBufferSize(), 47);
    // A driver finds the cells by walking the parameters in order.
    std::vector<int32_t> offsets;
    int32_t offset = 0;
    for (int i = 0; i < params.Count(); ++i) {
        offsets.push_back(offset);
        offset += cmd.ParamDataSize(params[i]) + kCellHeaderSize;
    }
    EXPECT_EQ(offsets, (std::vector<int32_t>{0, 12, 31}));
    cmd.AllocParamsBuffer();
    ASSERT_NE(cmd.ParamsBuffer, nullptr);
    EXPECT_EQ(cmd.ParamsBuffer->Size(), 47u);
    for (size_t i = 0; i < 47; ++i)
        EXPECT_EQ(cmd.ParamsBuffer->Data()[i], 0) << i;
}

TEST_F(Command, ParamDataSizeRules) {
    struct Case {
        TFieldType type;
        rtl::Variant value;
        int32_t commandType;
        int32_t size;
    };
    const Case cases[] = {
        {ftString, rtl::Variant("ab"), 0, 3},
        {ftString, rtl::Variant("ab"), 2, 256},              // stored procedure: room for an output value
        {ftVarBytes, rtl::Variant::FromBytes({1}), 0, 0},    // a blob type on ODBC: long data
        {ftVarBytes, rtl::Variant::FromBytes({1}), 2, 256},  // ... but a procedure's cell has room
        {ftBytes, rtl::Variant::FromBytes({1, 2}), 2, 256},
        {ftInteger, rtl::Variant(int32_t(1)), 2, 4},
        {ftBlob, rtl::Variant::FromBytes({1, 2, 3}), 0, 0},
        {ftMemo, rtl::Variant("long text"), 0, 0},
        {ftLargeint, rtl::Variant(int64_t(1)), 0, 8},
        {ftGuid, rtl::Variant("{x}"), 0, 38},                // the driver's native size
        {ftDateTime, rtl::Variant::FromDateTime(1), 0, 16},  // needs conversion: native size
    };
    for (const auto& c : cases) {
        TParam p("p", c.type, ptInput);
        p.SetValue(c.value);
        cmd.CommandType = c.commandType;
        EXPECT_EQ(cmd.ParamDataSize(p), c.size) << rtl::FieldTypeName(c.type) << " kind " << c.commandType;
    }
    cmd.CommandType = 0;
    TParams blob;
    blob.CreateParam(ftBlob, "b", ptInput).SetValue(rtl::Variant::FromBytes({1, 2, 3}));
    cmd.SetParams(&blob);
    EXPECT_EQ(cmd.GetParamsBufferSize(), 8);  // a header and no data
}

TEST_F(Command, MaxCharParamLenFromTheConnection) {
    struct Case {
        const char* line;
        int32_t expected;
    };
    for (const Case& c : {Case{"MAXCHARPARAMLEN=300", 300}, Case{"MAXCHARPARAMLEN=300 ", 255},
                          Case{"MAXCHARPARAMLEN=x", 255}, Case{"OTHER=1", 255}}) {
        auto other = DatabaseWith(rtl::StringList{c.line});
        TISqlCommandPtr p = other->CreateSqlCommand(nullptr);
        EXPECT_EQ(p->MaxCharParamLen, c.expected) << c.line;
        p->CommandType = 2;
        TParam s("s", ftString, ptInput);
        s.SetValue(rtl::Variant("ab"));
        EXPECT_EQ(p->ParamDataSize(s), c.expected + 1) << c.line;
    }
}

TEST_F(Command, ParameterErrorsAllocateNothing) {
    params.CreateParam(ftInteger, "ok", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftUnknown, "untyped", ptInput);
    cmd.SetParams(&params);
    try {
        cmd.AllocParamsBuffer();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Unknown data type for parameter 'untyped'");
    }
    EXPECT_EQ(cmd.ParamsBuffer, nullptr);
    params[1].SetDataType(ftInteger);
    params[1].SetParamType(ptUnknown);
    try {
        cmd.Execute();
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "No parameter type for parameter 'untyped'");
    }
    EXPECT_EQ(cmd.ParamsBuffer, nullptr);
    EXPECT_EQ(log.Joined(), "Create(ODBC)");  // nothing reached the driver
}

TEST_F(Command, RowBufferLayoutAndBlobSlots) {
    cmd.columns = {{"A", ftInteger, 4}, {"B", ftMemo, 10}, {"C", ftFloat, 8}};
    cmd.InitFieldDescs();
    EXPECT_EQ(cmd.BlobFieldCount, 1);
    EXPECT_EQ(cmd.GetFieldsBufferSize(), 50);
    EXPECT_EQ(cmd.FieldsDataSize, 46);
    EXPECT_EQ(cmd.FieldOffsets, (std::vector<int32_t>{0, 12, 30}));
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(0).BlobIndex, -1);
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(1).BlobIndex, 0);
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(2).BlobIndex, -1);

    cmd.AllocFieldsBuffer();
    TSDBuffer* buffer = cmd.GetFieldsBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->Size(), 50u);
    EXPECT_EQ(cmd.GetFieldCell(3, buffer) - buffer->Data(), 30);
    const TSDFieldDesc& memo = cmd.FieldDescs->GetFieldDesc(1);
    auto text = std::make_shared<const rtl::ByteArray>(rtl::ByteArray{'x', 'y'});
    cmd.SetFieldBlobData(memo, text);
    EXPECT_EQ(GetBufferInteger(buffer->Data(), 46), 1);  // the slot word marks a held array
    EXPECT_EQ(cmd.GetFieldBlobData(memo), text);
    EXPECT_EQ(GetBlobSlotLength(buffer, cmd.FieldsDataSize, 0), 2);
    cmd.SetFieldBlobData(memo, std::make_shared<const rtl::ByteArray>());  // empty array: empty slot
    EXPECT_EQ(cmd.GetFieldBlobData(memo), nullptr);
    EXPECT_EQ(GetBufferInteger(buffer->Data(), 46), 0);

    EXPECT_THROW(cmd.GetFieldCell(0, buffer), rtl::EAssertionFailed);
    EXPECT_THROW(GetBlobSlot(buffer, cmd.FieldsDataSize, 1), rtl::EAssertionFailed);  // past the block
    cmd.FreeFieldsBuffer();
    EXPECT_TRUE(cmd.FieldOffsets.empty());
    EXPECT_THROW(cmd.GetFieldBlobData(memo), rtl::EAssertionFailed);
    EXPECT_THROW(cmd.GetFieldCell(1, buffer), rtl::EAssertionFailed);
}

TEST_F(Command, LayoutsThatDoNotFitAreRefused) {
    // Column sizes from the server that would wrap the row buffer's 32-bit size.
    cmd.columns = {{"A", ftString, INT32_MAX - 4}, {"B", ftString, 100}};
    cmd.InitFieldDescs();
    EXPECT_THROW(cmd.GetFieldsBufferSize(), rtl::EDatabaseError);
    EXPECT_THROW(cmd.AllocFieldsBuffer(), rtl::EDatabaseError);
    EXPECT_EQ(cmd.FieldsBuffer, nullptr);
    cmd.columns = {{"A", ftString, 10}, {"B", ftString, -1}};
    cmd.InitFieldDescs();
    EXPECT_THROW(cmd.AllocFieldsBuffer(), rtl::EAssertionFailed);
    EXPECT_EQ(cmd.FieldsBuffer, nullptr);
    EXPECT_TRUE(cmd.FieldOffsets.empty());
    // The largest layout that fits is still accepted.
    cmd.columns = {{"A", ftString, INT32_MAX - 20}, {"B", ftMemo, 0}};
    cmd.InitFieldDescs();
    EXPECT_EQ(cmd.GetFieldsBufferSize(), INT32_MAX);
    EXPECT_EQ(cmd.FieldsDataSize, INT32_MAX - 4);

    // A connection's MAXCHARPARAMLEN at the top of the range: the stored-procedure cell is
    // refused rather than sized by a wrapped number.
    auto other = DatabaseWith(rtl::StringList{"MAXCHARPARAMLEN=2147483647"});
    TISqlCommandPtr p = other->CreateSqlCommand(nullptr);
    p->CommandType = 2;
    TParams out;
    out.CreateParam(ftString, "s", ptOutput).SetValue(rtl::Variant("ab"));
    p->SetParams(&out);
    EXPECT_EQ(p->ParamDataSize(out[0]), INT32_MAX);
    EXPECT_THROW(p->AllocParamsBuffer(), rtl::EDatabaseError);
    EXPECT_EQ(p->ParamsBuffer, nullptr);
}

TEST_F(Command, OnlyBlobColumnsHaveSlots) {
    // The blob column first, so that the slot index -1 would name the integer column's data.
    cmd.columns = {{"DATA", ftBlob, 0}, {"K", ftInteger, 4}};
    cmd.rows = {{fake::Cell(), fake::IntCell(1)}};
    cmd.ExecDirect("select data, k from t");
    ASSERT_TRUE(cmd.FetchNextRow());
    const TSDFieldDesc& key = cmd.FieldDescs->GetFieldDesc(1);
    ASSERT_EQ(key.BlobIndex, -1);
    uint8_t* keyData = cmd.GetFieldCell(2, cmd.FieldsBuffer.get()) + kCellHeaderSize;
    ASSERT_EQ(keyData - cmd.FieldsBuffer->Data(), cmd.FieldsDataSize - 4);
    SetBufferInteger(keyData, 0, 0x01020304);
    auto data = std::make_shared<const rtl::ByteArray>(rtl::ByteArray{9});
    EXPECT_THROW(cmd.SetFieldBlobData(key, data), rtl::EAssertionFailed);
    EXPECT_THROW(cmd.GetFieldBlobData(key), rtl::EAssertionFailed);
    EXPECT_THROW(GetBlobSlot(cmd.FieldsBuffer.get(), cmd.FieldsDataSize, -1), rtl::EAssertionFailed);
    EXPECT_THROW(SetBlobSlot(cmd.FieldsBuffer.get(), cmd.FieldsDataSize, -1, data), rtl::EAssertionFailed);
    EXPECT_EQ(GetBufferInteger(keyData, 0), 0x01020304);  // the cell is untouched
}

TEST_F(Command, InitFieldDescsNumbersNamesAndFlags) {
    cmd.columns = {{"ID", ftInteger, 4},  {"id", ftBlob, 0},       {"ID", ftMemo, 0},
                   {"", ftString, 11, 1}, {"", ftFixedChar, 5, 2}, {"COLUMN4", ftInteger, 4}};
    cmd.InitFieldDescs();
    const std::vector<std::string> names = {"ID", "id_1", "ID_2", "COLUMN4", "COLUMN5", "COLUMN4_1"};
    ASSERT_EQ(cmd.FieldDescs->Count(), 6);
    for (int i = 0; i < 6; ++i) {
        const TSDFieldDesc& d = cmd.FieldDescs->GetFieldDesc(i);
        EXPECT_EQ(d.FieldName, names[size_t(i)]);
        EXPECT_EQ(d.FieldNo, i + 1);
    }
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(1).BlobIndex, 0);
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(2).BlobIndex, 1);
    EXPECT_EQ(cmd.BlobFieldCount, 2);
    EXPECT_TRUE(cmd.FieldDescs->GetFieldDesc(3).IsFixedChar);  // native type 1 is blank-padded
    EXPECT_FALSE(cmd.FieldDescs->GetFieldDesc(4).IsFixedChar);

    EXPECT_EQ(&cmd.FieldDescs->FieldDescByName("id_1"), &cmd.FieldDescs->GetFieldDesc(1));
    EXPECT_EQ(&cmd.FieldDescs->FieldDescByName("Id_2"), &cmd.FieldDescs->GetFieldDesc(2));
    EXPECT_EQ(&cmd.FieldDescs->FieldDescByNumber(6), &cmd.FieldDescs->GetFieldDesc(5));
    try {
        cmd.FieldDescs->FieldDescByName("nope");
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Description of field 'nope' not found");
    }
    try {
        cmd.FieldDescs->FieldDescByNumber(7);
        FAIL();
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Description of field 'FieldNo=7' not found");
    }
    EXPECT_THROW(cmd.FieldDescs->GetFieldDesc(6), rtl::EAssertionFailed);

    // Names that had to change stay within 70 characters and still differ: the suffix is kept
    // and the base name gives way to it.
    cmd.columns = {{std::string(70, 'N'), ftInteger, 4},
                   {std::string(70, 'N'), ftInteger, 4},
                   {std::string(69, 'N'), ftInteger, 4},
                   {std::string(68, 'N') + "_1", ftInteger, 4}};
    cmd.InitFieldDescs();
    const std::vector<std::string> longNames = {std::string(70, 'N'), std::string(68, 'N') + "_1",
                                                std::string(69, 'N'), std::string(68, 'N') + "_2"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(i).FieldName, longNames[size_t(i)]) << i;
        EXPECT_LE(cmd.FieldDescs->GetFieldDesc(i).FieldName.size(), kMaxFieldNameLen);
    }
    // Ten and more repeats of a long name take a longer suffix.
    cmd.columns.assign(12, Column{std::string(70, 'L'), ftInteger, 4});
    cmd.InitFieldDescs();
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(11).FieldName, std::string(67, 'L') + "_11");
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(&cmd.FieldDescs->FieldDescByName(cmd.FieldDescs->GetFieldDesc(i).FieldName),
                  &cmd.FieldDescs->GetFieldDesc(i));
}

TEST_F(Command, FailedDescriptionKeepsThePartialList) {
    cmd.columns = {{"A", ftInteger, 4}};
    cmd.InitFieldDescs();
    cmd.AllocFieldsBuffer();
    cmd.columns = {{"X", ftInteger, 4}, {"Y", ftInteger, 4}};
    cmd.failIn = {"GetFieldDescs"};
    EXPECT_THROW(cmd.InitFieldDescs(), ESDFakeError);
    EXPECT_EQ(cmd.FieldDescs->Count(), 2);
    EXPECT_EQ(cmd.FieldDescs->GetFieldDesc(0).FieldName, "X");
    EXPECT_EQ(cmd.FieldsBuffer, nullptr);  // the old layout is gone with the old list
}

TEST_F(Command, PrepareOnlyOnceUntilCleared) {
    cmd.columns = {{"A", ftInteger, 4}};
    cmd.Prepare("select a from t");
    cmd.Prepare("select b from t");  // ignored: already prepared
    EXPECT_EQ(cmd.CommandText, "select a from t");
    EXPECT_TRUE(cmd.IsPrepared());
    cmd.ClearPreparedText();
    cmd.Prepare("select b from t");
    EXPECT_EQ(log.Joined(), "Create(ODBC) DoPrepare(select a from t) DoPrepare(select b from t)");

    cmd.SetCommandText("select b from t");
    EXPECT_TRUE(cmd.IsPrepared());
    cmd.SetCommandText("SELECT b FROM t");
    EXPECT_FALSE(cmd.IsPrepared());

    // A failing prepare leaves the text and lets the next Prepare try again.
    cmd.failIn = {"DoPrepare"};
    EXPECT_THROW(cmd.Prepare("select c from t"), ESDFakeError);
    EXPECT_EQ(cmd.CommandText, "select c from t");
    EXPECT_FALSE(cmd.IsPrepared());
}

TEST_F(Command, ExecuteOrderOfCalls) {
    cmd.columns = {{"A", ftInteger, 4}};
    cmd.rows = {{fake::IntCell(1)}, {fake::IntCell(2)}};
    cmd.Prepare("select a from t");
    log.Clear();
    cmd.Execute();
    EXPECT_EQ(log.Joined(), "BindParamsBuffer(0) SetFieldsBuffer(12) DoExecute");
    EXPECT_EQ(cmd.ParamsBuffer, nullptr);  // no parameters: no buffer, still bound
    log.Clear();
    cmd.Execute();  // the row buffer stays
    EXPECT_EQ(log.Joined(), "BindParamsBuffer(0) DoExecute");
    int32_t v = 0;
    std::vector<int32_t> values;
    while (cmd.FetchNextRow()) {
        ASSERT_TRUE(cmd.GetFieldAsInteger(1, v));
        values.push_back(v);
    }
    EXPECT_EQ(values, (std::vector<int32_t>{1, 2}));

    // Direct execution of a statement without result columns allocates no row buffer.
    TISqlCommandPtr other = db->CreateSqlCommand(nullptr);
    FakeCommand& plain = static_cast<FakeCommand&>(*other);
    log.Clear();
    plain.ExecDirect("delete from t");
    EXPECT_EQ(log.Joined(), "DoExecDirect(delete from t)");
    EXPECT_EQ(plain.FieldsBuffer, nullptr);
    EXPECT_EQ(plain.CommandText, "delete from t");
}

TEST_F(Command, ExecDirectWithColumnsBindsTheRowBuffer) {
    cmd.columns = {{"A", ftInteger, 4}, {"B", ftString, 6}};
    log.Clear();
    cmd.ExecDirect("select a, b from t");
    EXPECT_EQ(log.Joined(), "DoExecDirect(select a, b from t) SetFieldsBuffer(26)");
}

TEST_F(Command, TypedReadersAndText) {
    const double when = rtl::EncodeDate(2004, 2, 29) + 0.75;
    cmd.columns = {{"W", ftWord, 2},     {"B", ftBoolean, 2}, {"F", ftFloat, 8},   {"L", ftLargeint, 8},
                   {"D", ftDateTime, 8}, {"S", ftString, 8},  {"N", ftInteger, 4}, {"M", ftMemo, 0},
                   {"T", ftTime, 8},     {"I", ftInteger, 8}};
    const TSDDateTimeRec dt =
        TSDDateTimeRec::FromDateTime(double(rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(when))));
    cmd.rows = {{fake::SmallCell(int16_t(40000 - 65536)), fake::SmallCell(2), fake::FloatCell(2.5),
                 fake::Int64Cell(int64_t(1) << 40), fake::DateTimeCell(dt),
                 fake::TextCell(std::string("abc\0\0", 5)), fake::Cell(), fake::Cell(),
                 fake::DateTimeCell(TSDDateTimeRec::FromTime(18 * 3600000)), fake::Int64Cell(1)}};
    cmd.blobs["0:8"] = {'m', 'e', 'm', 'o'};
    cmd.ExecDirect("select ...");
    ASSERT_TRUE(cmd.FetchNextRow());
    struct Case {
        int32_t fieldNo;
        bool present;
        std::string text;
    };
    const Case cases[] = {
        {1, true, "-25536"},
        {2, true, "True"},
        {3, true, "2.5"},
        {4, true, "1099511627776"},
        {5, true, "29/02/2004 18:00:00"},
        {6, true, "abc"},
        {7, false, ""},
        {8, true, "memo"},
        {9, true, "30/12/1899 18:00:00"},
    };
    for (const auto& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(cmd.GetFieldAsString(c.fieldNo, text), c.present) << c.fieldNo;
        EXPECT_EQ(text, c.text) << c.fieldNo;
    }
    rtl::TDateTime t = 0;
    ASSERT_TRUE(cmd.GetFieldAsDateTime(5, t));
    EXPECT_NEAR(t, when, 1e-9);
    int32_t n = 99;
    EXPECT_FALSE(cmd.GetFieldAsInteger(7, n));
    EXPECT_EQ(n, 0);                                                    // cleared for null
    EXPECT_THROW(cmd.GetFieldAsInteger(10, n), rtl::EAssertionFailed);  // 8 bytes of data
    int16_t s = 0;
    EXPECT_THROW(cmd.GetFieldAsSmallint(3, s), rtl::EAssertionFailed);
}

TEST_F(Command, BlobsOfEachRowGoToTheSlots) {
    cmd.columns = {{"K", ftInteger, 4}, {"DATA", ftBlob, 0}};
    cmd.rows = {{fake::IntCell(1), fake::Cell()}, {fake::IntCell(2), fake::Cell()}};
    cmd.blobs["0:2"] = {1, 2, 3};  // the second row's blob is null
    cmd.ExecDirect("select k, data from t");
    const TSDFieldDesc& data = cmd.FieldDescs->GetFieldDesc(1);
    ASSERT_TRUE(cmd.FetchNextRow());
    ASSERT_NE(cmd.GetFieldBlobData(data), nullptr);
    EXPECT_EQ(*cmd.GetFieldBlobData(data), (rtl::ByteArray{1, 2, 3}));
    ASSERT_TRUE(cmd.FetchNextRow());
    EXPECT_EQ(cmd.GetFieldBlobData(data), nullptr);
    EXPECT_FALSE(cmd.FetchNextRow());
}

TEST_F(Command, DestroyingDisconnectsFirst) {
    cmd.columns = {{"A", ftInteger, 4}};
    cmd.ExecDirect("select a from t");
    log.Clear();
    ptr.reset();
    EXPECT_EQ(log.Joined(), "Command.Disconnect(true) ~Command");
}

TEST_F(Command, FetchAllRequestAndOrigins) {
    std::vector<bool> requests;
    cmd.FetchAllProc = [&](bool v) { requests.push_back(v); };
    cmd.RequestFetchAll();
    EXPECT_EQ(requests, std::vector<bool>{true});

    cmd.columns = {{"name", ftString, 11}, {"nm", ftString, 11}};
    cmd.InitFieldDescs();
    rtl::StringList origins;
    cmd.GetFieldOrigins("select e.nm as name, d.nm from emp e join dept d on e.dep = d.id", origins);
    EXPECT_EQ(origins.Text(), "name=emp.nm\r\nnm=dept.nm\r\n");
}

TEST_F(Command, StubsOfTheBase) {
    class Bare : public TISqlCommand {
    public:
        using TISqlCommand::TISqlCommand;

    protected:
        void DoPrepare(const std::string&) override {}
        void DoExecDirect(const std::string&) override {}
        void DoExecute() override {}
        bool DoFetchNextRow() override { return false; }
    };
    Bare bare(db.get(), nullptr);
    try {
        bare.GetRowsAffected();
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Function TISqlCommand.GetRowsAffected not implemented");
    }
    EXPECT_THROW(bare.BindParamsBuffer(), rtl::EAssertionFailed);
    EXPECT_THROW(bare.WriteBlob(0, nullptr, 0), rtl::EAssertionFailed);
    EXPECT_EQ(bare.GetIdentityValue(), -1);
    EXPECT_FALSE(bare.NextResultSet());
    EXPECT_FALSE(bare.IsFixedCharType(1));
    EXPECT_EQ(bare.LongDataSize, 1048576);
    Bare orphan(nullptr, nullptr);
    EXPECT_THROW(orphan.GetSqlDatabase(), rtl::EAssertionFailed);
}

}  // namespace
