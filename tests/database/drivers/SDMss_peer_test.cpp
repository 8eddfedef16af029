// The SQL Server driver through FreeTDS's real DB-Library against the scripted TDS peer
// (tests/peers/tds_peer.py): what the driver sends is read from the peer's journal, what it
// returns from its result.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDMss.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "support/TdsPeer.h"

using namespace odbctest;

namespace {

class Mss : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        peer_ = std::make_unique<kwtest::TdsPeer>(std::vector<std::string>{"sa:secret"});
    }
    static void TearDownTestSuite() { peer_.reset(); }
    void SetUp() override { KW_REQUIRE_PEER(peer_->Available(), peer_->Reason()); }
    void TearDown() override {
        if (MssLibrary().LoadCount() == 0) MssLibrary().TakeNameFromParams(MakeParams({"SQLServer API LIBRARY=libsybdb.so.5"}));
    }

    static Connection Open(std::initializer_list<std::string> params = {}, const std::string& user = "sa",
                           const std::string& password = "secret", const std::string& remote = "kwpeer:kwtest") {
        Connection c;
        c.db = CreateSQLServerDatabase(nullptr, MakeParams(params));
        c.db->TransIsolation = tiReadCommitted;
        c.db->Connect(remote, user, password);
        return c;
    }
    static TIMssDatabase& Driver(const Connection& c) { return static_cast<TIMssDatabase&>(*c.db); }

    static std::unique_ptr<kwtest::TdsPeer> peer_;
};

std::unique_ptr<kwtest::TdsPeer> Mss::peer_;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The bytes of a binary column of the current row.
std::string BytesOf(TISqlCommand& cmd, int32_t fieldNo) {
    const TSDFieldDesc& d = cmd.FieldDescs->FieldDescByNumber(fieldNo);
    std::string data(size_t(d.DataSize), '\0');
    if (!cmd.GetCnvtFieldData(d, data.data(), d.DataSize)) return "<null>";
    int32_t indicator = 0;
    int32_t length = 0;
    GetCellHeader(cmd.GetFieldCell(fieldNo, cmd.FieldsBuffer.get()), 0, indicator, length);
    return data.substr(0, size_t(length));
}

TEST_F(Mss, ConnectSendsTheLoginAndTheConnectionOptions) {
    struct Case {
        std::vector<std::string> params;
        const char* app;
        const char* host;
        std::vector<std::string> batches;
    } cases[] = {
        {{},
         nullptr,
         nullptr,
         {"set quoted_identifier on\n", "use kwtest", "set textsize 2147483647\nset quoted_identifier on\n",
          "SET TRANSACTION ISOLATION LEVEL READ COMMITTED"}},
        // "false" is not "FALSE": ANSI NULLS goes on; quoted identifiers go off.
        {{"APPLICATION NAME=kwapp", "HOST NAME=kwhost", "ANSI NULLS=false", "QUOTED IDENTIFIER=false",
          "COMMAND TIMEOUT=30", "LOGIN TIMEOUT=20", "MAX CURSORS=50"},
         "kwapp",
         "kwhost",
         {"use kwtest", "set textsize 2147483647\nset quoted_identifier off\n",
          "SET TRANSACTION ISOLATION LEVEL READ COMMITTED", "SET ANSI_NULLS ON"}},
        {{"ANSI NULLS=FALSE", "APPLICATION NAME=  "},
         nullptr,
         nullptr,
         {"set quoted_identifier on\n", "use kwtest", "set textsize 2147483647\nset quoted_identifier on\n",
          "SET TRANSACTION ISOLATION LEVEL READ COMMITTED", "SET ANSI_NULLS OFF"}},
    };
    for (const Case& c : cases) {
        const size_t mark = peer_->Mark();
        Connection db;
        db.db = CreateSQLServerDatabase(nullptr, [&] {
            rtl::StringList params;
            for (const std::string& p : c.params)
                params.Add(p);
            return params;
        }());
        db->TransIsolation = tiReadCommitted;
        db->Connect("kwpeer:kwtest", "sa", "secret");
        const std::vector<kwtest::TdsJournalEntry> logins = peer_->EntriesSince(mark, "login");
        ASSERT_EQ(logins.size(), 1u);
        const kwtest::TdsJournalEntry& login = logins[0];
        EXPECT_EQ(login.Field("user"), "sa");
        EXPECT_EQ(login.Field("password"), "secret");
        EXPECT_EQ(login.Field("app"), c.app ? c.app : GetAppExeName());
        EXPECT_EQ(login.Field("host"), c.host ? c.host : GetClientHostName());
        EXPECT_EQ(login.Field("library"), "DB-Library");
        // Version 6.0 login behaviour: FreeTDS speaks TDS 7.0 then.
        EXPECT_EQ(login.Field("tds_version"), "70000000");
        EXPECT_EQ(login.Field("integrated"), "false");
        EXPECT_EQ(peer_->Batches(mark), c.batches);
        const auto* info = static_cast<const TIMssConnInfo*>(db->GetHandle());
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->ServerType, 2);
        EXPECT_NE(info->DBProc, nullptr);
        EXPECT_NE(info->LoginRec, nullptr);
        EXPECT_EQ(info->ServerName, "kwpeer");
    }
}

TEST_F(Mss, IsolationTransactionsVersionsAndProbe) {
    Connection c = Open();
    EXPECT_EQ(c->GetServerType(), stSQLServer);
    EXPECT_TRUE(c->SingleConnection);
    EXPECT_EQ(GetVersionMajor(c->GetServerVersion()), 15);
    EXPECT_EQ(GetVersionMajor(c->GetClientVersion()), 1);
    EXPECT_NE(c->GetVersionString().find("15.0.2000.5"), std::string::npos);
    EXPECT_EQ(c->GetIdentityQuery(), "select CONVERT(int, @@IDENTITY)");
    size_t mark = peer_->Mark();
    EXPECT_TRUE(c->TestConnected());
    c->SetTransIsolation(tiDirtyRead);
    c->SetTransIsolation(tiRepeatableRead);
    EXPECT_EQ(peer_->Batches(mark), (std::vector<std::string>{"select 1 from sysobjects where 1=0",
                                                              "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED",
                                                              "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ"}));
    Exec(*c.db, "create table tx(i int)");
    Connection other = Open();
    mark = peer_->Mark();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (1)");
    EXPECT_EQ(Query(*other.db, "select count(*) from tx"), (Rows{{"0"}}));
    c->Rollback();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (2)");
    c->Commit();
    EXPECT_EQ(Query(*other.db, "select i from tx"), (Rows{{"2"}}));
    std::vector<std::string> sent;
    for (const std::string& text : peer_->Batches(mark))
        if (text.find("TRAN") != std::string::npos) sent.push_back(text);
    EXPECT_EQ(sent, (std::vector<std::string>{"IF @@TRANCOUNT = 0 BEGIN BEGIN TRAN END",
                                              "IF @@TRANCOUNT > 0 BEGIN ROLLBACK TRAN END",
                                              "IF @@TRANCOUNT = 0 BEGIN BEGIN TRAN END",
                                              "IF @@TRANCOUNT > 0 BEGIN COMMIT TRAN END"}));
    Exec(*c.db, "drop table tx");
}

TEST_F(Mss, RefusedLoginsAndFailedConnectsLeaveNothingOpen) {
    ASSERT_EQ(MssLibrary().LoadCount(), 0);
    // A wrong password: the server's message and the library's, one error.
    try {
        Open({}, "sa", "wrong");
        FAIL() << "logged in with a wrong password";
    } catch (const ESDMssError& e) {
        EXPECT_EQ(e.Message(),
                  "SQL Server message 18456: Login failed for user 'sa'.(line 1)\r\nDB-Library error 20002: Adaptive "
                  "Server connection failed (kwpeer)\n\r");
        EXPECT_EQ(e.ErrorCode, 18456);
        EXPECT_EQ(e.DBProcess, nullptr);
    }
    EXPECT_EQ(MssLibrary().LoadCount(), 0);
    EXPECT_EQ(MssErrors().Count(), 0);

    // A blank user name asks for the workstation account's login and sends no user or
    // password: without a Kerberos ticket FreeTDS gives up before it logs in.
    size_t mark = peer_->Mark();
    EXPECT_THROW(Open({}, "  ", "ignored"), rtl::EDatabaseError);
    EXPECT_TRUE(peer_->EntriesSince(mark, "login").empty());
    EXPECT_EQ(MssLibrary().LoadCount(), 0);

    // A failure after the DBPROCESS exists closes it: the peer sees the connection end.
    mark = peer_->Mark();
    try {
        Open({}, "sa", "secret", "kwpeer:my db");
        FAIL() << "used a database the peer does not have";
    } catch (const ESDMssError& e) {
        EXPECT_NE(e.Message().find("SQL Server message 911: Database 'my db' does not exist"), std::string::npos)
            << e.Message();
    }
    EXPECT_EQ(peer_->Batches(mark), (std::vector<std::string>{"set quoted_identifier on\n", "use [my db]"}));
    const int spid = peer_->EntriesSince(mark, "login").at(0).Spid();
    EXPECT_TRUE(kwtest::Eventually([&] {
        for (const kwtest::TdsJournalEntry& e : peer_->EntriesSince(mark, "closed"))
            if (e.Spid() == spid) return true;
        return false;
    }));
    EXPECT_EQ(MssLibrary().LoadCount(), 0);
}

TEST_F(Mss, ParameterValuesBecomeLiteralsTheServerStores) {
    Connection c = Open();
    Exec(*c.db,
         "create table lit(id int, s varchar(60), f float, d datetime, t datetime, b bit, v varbinary(8), n int)");
    TParams params;
    params.CreateParam(ftInteger, "a", ptInput).SetValue(rtl::Variant(int32_t(1)));
    params.CreateParam(ftInteger, "ab", ptInput).SetValue(rtl::Variant(int32_t(12)));
    params.CreateParam(ftString, "Name", ptInput).SetValue(rtl::Variant("O'Brien :a ç"));
    params.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(0.1));
    params.CreateParam(ftDateTime, "d", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(13, 4, 5, 7)));
    params.CreateParam(ftTime, "t", ptInput).SetValue(rtl::Variant::FromDateTime(rtl::EncodeTime(0, 0, 0, 0)));
    params.CreateParam(ftBoolean, "b", ptInput).SetValue(rtl::Variant(true));
    params.CreateParam(ftVarBytes, "v", ptInput).SetValue(rtl::Variant::FromBytes({0x00, 0xff, 0x27}));
    params.CreateParam(ftInteger, "n", ptInput).Clear();
    const size_t mark = peer_->Mark();
    TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare("insert into lit values (:a, :\"Name\", :f, :d, :t, :b, :v, :n)");
    insert->Execute();
    EXPECT_EQ(insert->GetRowsAffected(), 1);
    // The float text is DB-Library's own (dbconvert), which reads back as the same double.
    EXPECT_EQ(peer_->Batches(mark),
              (std::vector<std::string>{"insert into lit values (1, 'O''Brien :a ç', 0.10000000000000001, "
                                        "'20240301 13:04:05:007', '', 1, 0x00ff27, NULL)"}));
    TISqlCommandPtr select = c->CreateSqlCommand(nullptr);
    select->SetParams(&params);
    select->Prepare("select id + :ab, s, f, d, t, b, v, n from lit where id = :a");
    select->Execute();
    ASSERT_TRUE(select->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*select);
    EXPECT_EQ(row[0], "13");
    EXPECT_EQ(row[1], "O'Brien :a ç");
    EXPECT_EQ(row[2], "0.1");
    EXPECT_EQ(row[3], "2024-03-01 13:04:05.007");
    EXPECT_EQ(row[4], "1900-01-01 00:00:00.000");
    EXPECT_EQ(row[5], "True");
    EXPECT_EQ(Hex(BytesOf(*select, 7)), "00ff27");
    EXPECT_EQ(row[7], "<null>");
    EXPECT_FALSE(select->FetchNextRow());
    select->CloseResultSet();
    Exec(*c.db, "drop table lit");
}

TEST_F(Mss, ColumnTypesAndValues) {
    Connection c = Open({"BYTE16 AS GUID=TRUE"});
    Exec(*c.db,
         "create table typed(id int identity, tiny tinyint, small smallint, m money, m4 smallmoney, r real, "
         "dn decimal(10,2), b bit, d datetime, d4 smalldatetime, c char(4), v varchar(10) not null, g binary(16), "
         "bin binary(4), vb varbinary(6))");
    Exec(*c.db,
         "insert into typed(tiny, small, m, m4, r, dn, b, d, d4, c, v, g, bin, vb) values (200, -3, 12.3456, 2.25, "
         "1.5, 12.34, 0, '20240301 12:30:15:750', '20240301 12:31', 'ab', '', "
         "0x00112233445566778899aabbccddeeff, 0x0102, 0x)");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select * from typed");
    cmd->Execute();
    const TSDFieldDescList& d = *cmd->FieldDescs;
    // FreeTDS reports a varbinary column as binary (and a varchar one as char).
    const TFieldType types[] = {ftAutoInc, ftSmallint, ftSmallint, ftCurrency, ftCurrency, ftFloat, ftFloat,
                                ftBoolean, ftDateTime, ftDateTime, ftString, ftString, ftGuid, ftBytes, ftBytes};
    ASSERT_EQ(d.Count(), int(std::size(types)));
    for (int i = 0; i < d.Count(); ++i)
        EXPECT_EQ(d.GetFieldDesc(i).FieldType, types[i]) << d.GetFieldDesc(i).FieldName;
    EXPECT_TRUE(d.GetFieldDesc(11).Required);
    EXPECT_FALSE(d.GetFieldDesc(10).Required);
    ASSERT_TRUE(cmd->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*cmd);
    EXPECT_EQ(row, (std::vector<std::string>{"1", "200", "-3", "12.3456", "2.25", "1.5", "12.34", "False",
                                             "2024-03-01 12:30:15.750", "2024-03-01 12:31:00.000", "ab", "",
                                             "{33221100-5544-7766-8899-AABBCCDDEEFF}", row[13], row[14]}));
    // A money value is an 8-byte float; a tinyint two bytes.
    double money = 0;
    ASSERT_TRUE(cmd->GetFieldAsFloat(4, money));
    EXPECT_DOUBLE_EQ(money, 12.3456);
    int16_t tiny = 0;
    ASSERT_TRUE(cmd->GetFieldAsSmallint(2, tiny));
    EXPECT_EQ(tiny, 200);
    EXPECT_EQ(Hex(BytesOf(*cmd, 14)), "01020000");
    // An empty binary value is not null.
    EXPECT_EQ(BytesOf(*cmd, 15), "");
    EXPECT_FALSE(cmd->FetchNextRow());
    cmd->CloseResultSet();
    // Without "BYTE16 AS GUID" sixteen bytes stay bytes.
    Connection plain = Open();
    TISqlCommandPtr bytes = plain->CreateSqlCommand(nullptr);
    bytes->Prepare("select g from typed");
    bytes->Execute();
    EXPECT_EQ(bytes->FieldDescs->GetFieldDesc(0).FieldType, ftBytes);
    ASSERT_TRUE(bytes->FetchNextRow());
    EXPECT_EQ(Hex(BytesOf(*bytes, 1)), "00112233445566778899aabbccddeeff");
    bytes->CloseResultSet();
    // The identity of the last insert.
    Exec(*plain.db, "insert into typed(v) values ('x')");
    EXPECT_EQ(Query(*plain.db, plain->GetIdentityQuery()), (Rows{{"2"}}));
    Exec(*c.db, "drop table typed");
}

TEST_F(Mss, TextAndImageBeyondThePieceSizeAndAColumnAfterThem) {
    Connection c = Open({"BLOB PIECE SIZE=1000"});
    Exec(*c.db, "create table docs(id int, body text, photo image, name varchar(20))");
    std::string body;
    for (int i = 0; i < 20000; ++i)
        body += char('a' + i % 26);
    body += "ç'fim";
    rtl::ByteArray photo(70000);
    for (size_t i = 0; i < photo.size(); ++i)
        photo[i] = uint8_t(i * 7);
    ASSERT_EQ(InsertLongRow(*c.db, "insert into docs(id, body, photo, name) values (:id, :body, :data, 'after')", 1,
                            body, photo),
              1);
    Exec(*c.db, "insert into docs values (2, NULL, NULL, 'empty')");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select id, photo, name, body from docs order by id");
    cmd->Execute();
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(1).FieldType, ftBlob);
    EXPECT_EQ(cmd->FieldDescs->GetFieldDesc(3).FieldType, ftMemo);
    const Rows rows = FetchAll(*cmd);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[0][1], std::string(photo.begin(), photo.end()));
    EXPECT_EQ(rows[0][2], "after");
    EXPECT_EQ(rows[0][3], body);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "<null>", "empty", "<null>"}));
    Exec(*c.db, "drop table docs");
}

// A second statement on the connection makes the first dataset fetch all its rows first.
TEST_F(Mss, ASecondStatementFetchesTheFirstOnesRows) {
    Connection c = Open();
    Exec(*c.db, "create table nums(n int)");
    Exec(*c.db, "insert into nums values (1); insert into nums values (2); insert into nums values (3)");
    TISqlCommandPtr first = c->CreateSqlCommand(nullptr);
    Rows fetched;
    first->FetchAllProc = [&](bool) {
        while (first->FetchNextRow())
            fetched.push_back(RowTexts(*first));
    };
    first->Prepare("select n from nums order by n");
    first->Execute();
    ASSERT_TRUE(first->FetchNextRow());
    fetched.push_back(RowTexts(*first));
    EXPECT_EQ(Driver(c).ActiveCommand(), first.get());
    const size_t mark = peer_->Mark();
    EXPECT_EQ(Query(*c.db, "select count(*) from nums"), (Rows{{"3"}}));
    EXPECT_EQ(fetched, (Rows{{"1"}, {"2"}, {"3"}}));
    // The rows were read, not cancelled.
    EXPECT_TRUE(peer_->EntriesSince(mark, "attention").empty());
    EXPECT_FALSE(first->FetchNextRow());
    first->CloseResultSet();

    // Describing before executing runs the statement once.
    const size_t before = peer_->Mark();
    TISqlCommandPtr described = c->CreateSqlCommand(nullptr);
    described->Prepare("select n from nums where n > 1");
    described->InitFieldDescs();
    described->Execute();
    EXPECT_EQ(FetchAll(*described), (Rows{{"2"}, {"3"}}));
    EXPECT_EQ(peer_->Batches(before), (std::vector<std::string>{"select n from nums where n > 1"}));
    described->CloseResultSet();

    // A command closed with rows pending is cancelled; the connection goes on.
    TISqlCommandPtr left = c->CreateSqlCommand(nullptr);
    left->Prepare("select n from nums");
    left->Execute();
    ASSERT_TRUE(left->FetchNextRow());
    left->CloseResultSet();
    EXPECT_EQ(Query(*c.db, "select max(n) from nums"), (Rows{{"3"}}));
    // Two result sets of one batch.
    TISqlCommandPtr two = c->CreateSqlCommand(nullptr);
    two->Prepare("select n from nums where n = 1; select n * 10, 'x' from nums where n = 2");
    two->Execute();
    EXPECT_EQ(FetchAll(*two), (Rows{{"1"}}));
    ASSERT_TRUE(two->NextResultSet());
    two->InitFieldDescs();
    two->AllocFieldsBuffer();
    two->SetFieldsBuffer();
    EXPECT_EQ(FetchAll(*two), (Rows{{"20", "x"}}));
    EXPECT_FALSE(two->NextResultSet());
    two->CloseResultSet();
    EXPECT_EQ(Query(*c.db, "select min(n) from nums"), (Rows{{"1"}}));
    Exec(*c.db, "drop table nums");
}

TEST_F(Mss, ProceduresDiscoveryOutputsStatusAndResultSets) {
    Connection c = Open();
    const size_t mark = peer_->Mark();
    TParams params;
    TISqlCommandPtr add = c->CreateSqlCommand(nullptr);
    add->SetParams(&params);
    add->CommandType = 2;
    add->Prepare("kw_add;1");
    // The text depends on the server's version, asked first.
    EXPECT_EQ(peer_->Batches(mark),
              (std::vector<std::string>{"select @@version",
                                        "select sc.name, type, sc.length, CONVERT(smallint, ((sc.status/64)&1)) from "
                                        "syscolumns sc where sc.id = OBJECT_ID('kw_add') and sc.number = 1"}));
    ASSERT_EQ(params.Count(), 4);
    const struct {
        const char* name;
        TFieldType type;
        TParamType kind;
    } discovered[] = {{"Result", ftInteger, ptResult},
                      {"@a", ftInteger, ptInput},
                      {"@b", ftInteger, ptInput},
                      {"@sum", ftInteger, ptInputOutput}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(params[i].Name(), discovered[i].name);
        EXPECT_EQ(params[i].DataType(), discovered[i].type) << discovered[i].name;
        EXPECT_EQ(params[i].ParamType(), discovered[i].kind) << discovered[i].name;
    }
    params[1].SetValue(rtl::Variant(int32_t(5)));
    params[2].SetValue(rtl::Variant(int32_t(3)));
    params[3].Clear();
    const size_t call = peer_->Mark();
    add->Execute();
    EXPECT_EQ(FetchAll(*add), (Rows{{"5", "3"}}));
    add->GetOutputParams();
    EXPECT_EQ(params[3].Value().AsInteger(), 8);
    EXPECT_EQ(params[0].Value().AsInteger(), 2);
    const std::vector<kwtest::TdsJournalEntry> rpcs = peer_->EntriesSince(call, "rpc");
    ASSERT_EQ(rpcs.size(), 1u);
    EXPECT_EQ(rpcs[0].Field("proc"), "kw_add");
    EXPECT_NE(rpcs[0].json.find("{\"name\": \"@sum\", \"status\": 1"), std::string::npos) << rpcs[0].json;
    // FreeTDS sends a 4-byte integer as a nullable one (intn, 38).
    EXPECT_NE(rpcs[0].json.find("{\"name\": \"@a\", \"status\": 0, \"type\": 38, \"size\": 4, \"prec\": 0, "
                                "\"scale\": 0, \"value\": 5}"),
              std::string::npos)
        << rpcs[0].json;
    add->CloseResultSet();

    // Two result sets and a return status.
    TParams multiParams;
    multiParams.CreateParam(ftInteger, "Result", ptResult);
    TISqlCommandPtr multi = c->CreateSqlCommand(nullptr);
    multi->SetParams(&multiParams);
    multi->CommandType = 2;
    multi->Prepare("kw_multi");
    multi->Execute();
    EXPECT_EQ(FetchAll(*multi), (Rows{{"1", "um"}, {"2", "dois"}}));
    ASSERT_TRUE(multi->NextResultSet());
    multi->InitFieldDescs();
    multi->AllocFieldsBuffer();
    multi->SetFieldsBuffer();
    EXPECT_EQ(FetchAll(*multi), (Rows{{"2.5"}}));
    EXPECT_FALSE(multi->NextResultSet());
    multi->GetOutputParams();
    EXPECT_EQ(multiParams[0].Value().AsInteger(), 3);
    multi->CloseResultSet();

    // Output values of every type, and a null one.
    TParams echo;
    echo.CreateParam(ftInteger, "Result", ptResult);
    echo.CreateParam(ftInteger, "@i", ptInputOutput).SetValue(rtl::Variant(int32_t(41)));
    echo.CreateParam(ftString, "@s", ptInputOutput).SetValue(rtl::Variant("olá"));
    echo.CreateParam(ftFloat, "@f", ptInputOutput).SetValue(rtl::Variant(1.25));
    echo.CreateParam(ftCurrency, "@m", ptInputOutput).SetValue(rtl::Variant::FromCurrency(123456));
    echo.CreateParam(ftDateTime, "@d", ptInputOutput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 28) + rtl::EncodeTime(23, 59, 59, 997)));
    echo.CreateParam(ftBoolean, "@b", ptInputOutput).SetValue(rtl::Variant(false));
    echo.CreateParam(ftVarBytes, "@v", ptInputOutput).SetValue(rtl::Variant::FromBytes({1, 2, 3}));
    TISqlCommandPtr e = c->CreateSqlCommand(nullptr);
    e->SetParams(&echo);
    e->CommandType = 2;
    e->Prepare("kw_echo");
    e->Execute();
    e->GetOutputParams();
    EXPECT_EQ(echo[0].Value().AsInteger(), 5);
    EXPECT_EQ(echo[1].Value().AsInteger(), 42);
    EXPECT_EQ(echo[2].AsString(), "OLÁ!");
    EXPECT_DOUBLE_EQ(echo[3].Value().AsDouble(), 2.5);
    EXPECT_EQ(echo[4].Value().AsCurrency(), 128456);
    EXPECT_EQ(Iso(echo[5].Value().AsDateTime(), ftDateTime), "2024-02-29 23:59:59.997");
    EXPECT_TRUE(echo[6].Value().AsBoolean());
    EXPECT_EQ(echo[7].Value().AsBytes(), (rtl::ByteArray{3, 2, 1}));
    echo[1].Clear();
    e->Execute();
    e->GetOutputParams();
    EXPECT_TRUE(echo[1].IsNull());
    e->CloseResultSet();
}

TEST_F(Mss, ErrorsFromTheServerAndBadInputLeaveTheConnectionUsable) {
    Connection c = Open();
    // Two messages of one batch: one error, the first message's numbers and line.
    try {
        Exec(*c.db,
             "kwpeer messages [{\"number\": 50001, \"class\": 16, \"text\": \"first\", \"line\": 3}, {\"number\": 2, "
             "\"class\": 11, \"text\": \"\", \"line\": 0}, {\"number\": 5701, \"class\": 0, \"text\": \"info\"}]");
        FAIL() << "no error";
    } catch (const ESDMssError& e) {
        EXPECT_EQ(e.Message(), "SQL Server message 50001: first(line 3)\r\nSQL Server message 2:");
        EXPECT_EQ(e.ErrorCode, 50001);
        EXPECT_EQ(e.ErrorPos, 3);
        EXPECT_FALSE(e.ConnectionLost);
        EXPECT_EQ(e.DBProcess, Driver(c).GetDBProcPtr());
    }
    // A procedure's error carries its number whole.
    TISqlCommandPtr fail = c->CreateSqlCommand(nullptr);
    TParams none;
    fail->SetParams(&none);
    fail->CommandType = 2;
    none.CreateParam(ftInteger, "Result", ptResult);
    fail->Prepare("kw_fail");
    try {
        fail->Execute();
        FAIL() << "no error";
    } catch (const ESDMssError& e) {
        EXPECT_EQ(e.Message(), "SQL Server message 50001: kw_fail: refused on purpose(line 7)");
        EXPECT_EQ(e.NativeError, 50001);
    }
    EXPECT_EQ(Query(*c.db, "select 1"), (Rows{{"1"}}));
    // A parameter without a type, a column of a type the driver does not know, a value longer
    // than its column: each a clear error or a value cut to its column, and the connection goes on.
    TParams untyped;
    untyped.CreateParam(ftUnknown, "p", ptInput);
    TISqlCommandPtr u = c->CreateSqlCommand(nullptr);
    u->SetParams(&untyped);
    u->Prepare("select :p");
    try {
        u->Execute();
        FAIL() << "a parameter without a type was sent";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "No value for parameter 'p'");
    }
    TParams noKind;
    noKind.CreateParam(ftInteger, "p", ptUnknown).SetValue(rtl::Variant(int32_t(1)));
    u->SetParams(&noKind);
    EXPECT_THROW(u->Execute(), rtl::EDatabaseError);
    EXPECT_EQ(Query(*c.db, "select 2"), (Rows{{"2"}}));
    Exec(*c.db, "create table wide(b bigint)");
    Exec(*c.db, "insert into wide values (5000000000)");
    try {
        Query(*c.db, "select b from wide");
        FAIL() << "a bigint column was described";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Field 'b' is of an unsupported type");
    }
    EXPECT_EQ(Query(*c.db, "select 3"), (Rows{{"3"}}));
    // The peer sends 26 characters in a column announced for 4 (16 bytes in UTF-8): the value
    // is cut to its column, never written past it.
    TISqlCommandPtr overlong = c->CreateSqlCommand(nullptr);
    TParams overlongParams;
    overlongParams.CreateParam(ftInteger, "Result", ptResult);
    overlong->SetParams(&overlongParams);
    overlong->CommandType = 2;
    overlong->Prepare("kw_overlong");
    overlong->Execute();
    EXPECT_EQ(overlong->FieldDescs->GetFieldDesc(1).DataSize, 17);
    EXPECT_EQ(FetchAll(*overlong), (Rows{{"1", "abcdefghijklmnop"}}));
    overlong->CloseResultSet();
    EXPECT_EQ(Query(*c.db, "select 4"), (Rows{{"4"}}));
    Exec(*c.db, "drop table wide");
}

TEST_F(Mss, CatalogQueriesAsSent) {
    Connection c = Open();
    Exec(*c.db, "create table cat_a(id int, name varchar(30) not null)");
    const size_t mark = peer_->Mark();
    TISqlCommandPtr tables = c->GetSchemaInfo(stTables, "cat%");
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(FetchAll(*tables), (Rows{{"kwtest", "dbo", "cat_a", "1"}}));
    tables.reset();
    TISqlCommandPtr columns = c->GetSchemaInfo(stColumns, "dbo.cat_a");
    ASSERT_NE(columns, nullptr);
    const Rows cols = FetchAll(*columns);
    ASSERT_EQ(cols.size(), 2u);
    EXPECT_EQ(cols[1][3], "name");
    EXPECT_EQ(cols[1][6], "varchar");
    EXPECT_EQ(cols[1][10], "0");
    columns.reset();
    EXPECT_EQ(c->GetSchemaInfo(TSDSchemaType(6), "x"), nullptr);
    // A quote in a pattern is a character of the name.
    TISqlCommandPtr quoted = c->GetSchemaInfo(stTables, "x') or ('1'='1");
    ASSERT_NE(quoted, nullptr);
    EXPECT_EQ(FetchAll(*quoted), Rows{});
    quoted.reset();
    const std::vector<std::string> sent = peer_->Batches(mark);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], TIMssDatabase::SchemaInfoText(stTables, "cat%", 15));
    EXPECT_EQ(sent[1], "select @@version");
    EXPECT_EQ(sent[2], TIMssDatabase::SchemaInfoText(stColumns, "dbo.cat_a", 15));
    EXPECT_NE(sent[3].find("so.name = 'x'') or (''1''=''1'"), std::string::npos) << sent[3];
    // The index query runs on the peer's catalog views: the key's unique index.
    Exec(*c.db, "create table cat_k(id int not null primary key, v int)");
    TISqlCommandPtr indexes = c->GetSchemaInfo(stIndexes, "cat_k");
    ASSERT_NE(indexes, nullptr);
    const Rows keys = FetchAll(*indexes);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0][2], "cat_k");
    EXPECT_EQ(keys[0][4], "id");
    EXPECT_EQ(keys[0][6], "2");
    indexes.reset();
    // The procedure text (an outer join SQLite cannot run) goes out as built; the peer answers
    // it from the canned rows given for it.
    Exec(*c.db,
         "kwpeer canned {\"contains\": \"so.id *= sc.id\", \"columns\": [[\"PROC_NAME\", \"varchar(30)\"], "
         "[\"IN_PARAMS\", \"int\"]], \"rows\": [[\"kw_add;1\", 3]]}");
    const size_t procMark = peer_->Mark();
    TISqlCommandPtr procs = c->GetSchemaInfo(stProcedures, "kw%");
    ASSERT_NE(procs, nullptr);
    EXPECT_EQ(FetchAll(*procs), (Rows{{"kw_add;1", "3"}}));
    EXPECT_EQ(peer_->Batches(procMark), (std::vector<std::string>{TIMssDatabase::SchemaInfoText(stProcedures, "kw%", 15)}));
    procs.reset();
    Exec(*c.db, "drop table cat_k");
    Exec(*c.db, "drop table cat_a");
}

// The peer ends the connection: the error is marked lost, the engine's handling runs and
// closes the database, and a fresh connect works.
TEST_F(Mss, ConnectionDroppedByThePeerIsLost) {
    RegisterSQLServerDriver();
    TSDSession session;
    session.SetSessionName("MssLost");
    TSDDatabase db(&session);
    db.SetDatabaseName("msslost");
    db.SetServerType(stSQLServer);
    db.SetRemoteDatabase("kwpeer:kwtest");
    db.SetLoginPrompt(false);
    db.Params().SetValue("USER NAME", "sa");
    db.Params().SetValue("PASSWORD", "secret");
    int lostCalls = 0;
    db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& action) {
        ++lostCalls;
        EXPECT_TRUE(e.ConnectionLost);
        action = lcCloseConnect;
    };
    db.Open();
    {
        TSDQuery q;
        q.SetSessionName("MssLost");
        q.SetDatabaseName("msslost");
        q.SQL().SetText("select @@spid as spid, :x as x");
        q.Params().ParamByName("x").SetDataType(ftInteger);
        q.Params().ParamByName("x").SetValue(rtl::Variant(int32_t(5)));
        q.Open();
        EXPECT_EQ(q.FieldByName("x").AsInteger(), 5);
        Connection other = Open();
        Exec(*other.db, "kwpeer kill " + q.FieldByName("spid").AsString());
    }
    try {
        Query(*db.SqlDatabase(), "select 1");
        FAIL() << "a dropped connection answered";
    } catch (const ESDMssError& e) {
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
    }
    EXPECT_EQ(lostCalls, 1);
    EXPECT_FALSE(db.Connected());
    db.Close();
    db.Open();
    EXPECT_EQ(Query(*db.SqlDatabase(), "select 2"), (Rows{{"2"}}));
    db.Close();
    RegisterSqlDatabaseFactory(stSQLServer, nullptr);
    EXPECT_EQ(MssLibrary().LoadCount(), 0);
}

// The engine's datasets through the driver: a second query makes the first one fetch all its
// rows, so both can be read to the end.
TEST_F(Mss, DatasetsShareTheConnection) {
    RegisterSQLServerDriver();
    TSDSession session;
    session.SetSessionName("MssShare");
    TSDDatabase db(&session);
    db.SetDatabaseName("mssshare");
    db.SetServerType(stSQLServer);
    db.SetRemoteDatabase("kwpeer:kwtest");
    db.SetLoginPrompt(false);
    db.Params().SetValue("USER NAME", "sa");
    db.Params().SetValue("PASSWORD", "secret");
    db.Open();
    Exec(*db.SqlDatabase(), "create table share(n int)");
    for (int i = 1; i <= 5; ++i)
        Exec(*db.SqlDatabase(), "insert into share values (" + std::to_string(i) + ")");
    TSDQuery first;
    first.SetSessionName("MssShare");
    first.SetDatabaseName("mssshare");
    first.SQL().SetText("select n from share order by n");
    first.Open();
    EXPECT_EQ(first.FieldByName("n").AsInteger(), 1);
    TSDQuery second;
    second.SetSessionName("MssShare");
    second.SetDatabaseName("mssshare");
    second.SQL().SetText("select count(*) as c from share");
    second.Open();
    EXPECT_EQ(second.FieldByName("c").AsInteger(), 5);
    int seen = 0;
    for (first.First(); !first.Eof(); first.Next())
        seen += first.FieldByName("n").AsInteger();
    EXPECT_EQ(seen, 15);
    first.Close();
    second.Close();
    Exec(*db.SqlDatabase(), "drop table share");
    db.Close();
    RegisterSqlDatabaseFactory(stSQLServer, nullptr);
}


}  // namespace
