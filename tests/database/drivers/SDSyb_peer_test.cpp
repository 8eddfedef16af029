// The Sybase driver through FreeTDS's real Client-Library against the scripted TDS peer
// (tests/peers/tds_peer.py), which speaks TDS 7 to it: what the driver sends is read from the
// peer's journal, what it returns from its result.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDSyb.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "support/TdsPeer.h"

using namespace odbctest;

namespace {

class Syb : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        peer_ = std::make_unique<kwtest::TdsPeer>(std::vector<std::string>{"sa:secret"});
    }
    static void TearDownTestSuite() { peer_.reset(); }
    void SetUp() override { KW_REQUIRE_PEER(peer_->Available(), peer_->Reason()); }

    static Connection Open(std::initializer_list<std::string> params = {}, const std::string& user = "sa",
                           const std::string& password = "secret") {
        Connection c;
        c.db = CreateSybaseDatabase(nullptr, MakeParams(params));
        c.db->TransIsolation = tiReadCommitted;
        c.db->Connect("kwpeer:kwtest", user, password);
        return c;
    }
    static TISybDatabase& Driver(const Connection& c) { return static_cast<TISybDatabase&>(*c.db); }
    // The spids that received a batch with that text since the mark.
    static std::set<int> SpidsOf(size_t mark, const std::string& text) {
        std::set<int> spids;
        for (const kwtest::TdsJournalEntry& e : peer_->EntriesSince(mark, "batch"))
            if (e.Field("text") == text) spids.insert(e.Spid());
        return spids;
    }

    static std::unique_ptr<kwtest::TdsPeer> peer_;
};

std::unique_ptr<kwtest::TdsPeer> Syb::peer_;

const std::vector<std::string> kOptions = {"SET IMPLICIT_TRANSACTIONS OFF", "SET TEXTSIZE 2147483647",
                                           "SET QUOTED_IDENTIFIER ON"};

TEST_F(Syb, ConnectSendsTheLoginAndTheOptions) {
    const size_t mark = peer_->Mark();
    Connection c = Open({"TDS PACKET SIZE=8192", "APPLICATION NAME=kwapp", "HOST NAME=kwhost"});
    const std::vector<kwtest::TdsJournalEntry> logins = peer_->EntriesSince(mark, "login");
    // The connection's own login, and the one of the connection its probe for xp_msver opens.
    ASSERT_EQ(logins.size(), 2u);
    for (const kwtest::TdsJournalEntry& login : logins) {
        EXPECT_EQ(login.Field("user"), "sa");
        EXPECT_EQ(login.Field("password"), "secret");
        EXPECT_EQ(login.Field("app"), "kwapp");
        EXPECT_EQ(login.Field("host"), "kwhost");
        EXPECT_EQ(login.Field("packet_size"), "8192");
        EXPECT_EQ(login.Field("library"), "CT-Library");
    }
    const int own = logins[0].Spid();
    std::vector<std::string> sent;
    for (const kwtest::TdsJournalEntry& e : peer_->EntriesSince(mark, "batch"))
        if (e.Spid() == own) sent.push_back(e.Field("text"));
    // FreeTDS turns the isolation option into an empty batch for a TDS 7 server; the level
    // follows as text.
    std::vector<std::string> expected = {"use kwtest"};
    expected.insert(expected.end(), kOptions.begin(), kOptions.end());
    expected.insert(expected.end(), {"", "SET TRANSACTION ISOLATION LEVEL READ COMMITTED"});
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(SpidsOf(mark, "select name from dbo.sysobjects where name='xp_msver'").size(), 1u);
    EXPECT_FALSE(Driver(c).XpMsver());
    const auto* info = static_cast<const TISybConnInfo*>(c->GetHandle());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->ServerType, 3);
    EXPECT_NE(info->Connection, nullptr);
    EXPECT_NE(info->Command, nullptr);
    EXPECT_EQ(info->ServerName, "kwpeer");
    EXPECT_EQ(info->DatabaseName, "kwtest");
    EXPECT_EQ(SybLibraryList(), "libct.so.4,libct.so.4");
}

TEST_F(Syb, VersionsIsolationAndTransactions) {
    Connection c = Open();
    EXPECT_EQ(c->GetServerType(), stSybase);
    EXPECT_FALSE(c->SingleConnection);
    EXPECT_EQ(GetVersionMajor(c->GetClientVersion()), 1);
    EXPECT_EQ(c->GetVersionString(), "Adaptive Server Enterprise/15.7/EBF 99999 SMP/P/x86_64/Linux/kwpeer");
    EXPECT_EQ(c->GetServerVersion(), MakeVersionNumber(15, 7));
    EXPECT_EQ(c->GetIdentityQuery(), "select CONVERT(int, @@IDENTITY)");
    size_t mark = peer_->Mark();
    c->SetTransIsolation(tiRepeatableRead);
    c->SetTransIsolation(tiDirtyRead);
    EXPECT_EQ(peer_->Batches(mark), (std::vector<std::string>{"", "SET TRANSACTION ISOLATION LEVEL SERIALIZABLE", "",
                                                              "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"}));
    Exec(*c.db, "create table tx(i int)");
    mark = peer_->Mark();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (1)");
    c->Rollback();
    c->StartTransaction();
    Exec(*c.db, "insert into tx values (2)");
    c->Commit();
    EXPECT_EQ(peer_->Batches(mark), (std::vector<std::string>{"BEGIN TRAN", "insert into tx values (1)", "ROLLBACK TRAN",
                                                              "BEGIN TRAN", "insert into tx values (2)", "COMMIT TRAN"}));
    EXPECT_EQ(Query(*c.db, "select i from tx"), (Rows{{"2"}}));
    EXPECT_TRUE(c->TestConnected());
    Exec(*c.db, "drop table tx");
}

TEST_F(Syb, ARefusedLoginReportsTheServersMessage) {
    const int loads = SybLoadCount();
    try {
        Open({}, "sa", "wrong");
        FAIL() << "logged in with a wrong password";
    } catch (const ESDSybError& e) {
        EXPECT_EQ(e.Message(),
                  "Server message 18456, severity 14, state 1: Login failed for user 'sa'.\r\nClient-Library error "
                  "20002: Adaptive Server connection failed");
        EXPECT_EQ(e.ErrorCode, 18456);
    }
    EXPECT_EQ(SybLoadCount(), loads);
    // A database the server does not have: the "use" fails, its results end the drain, and
    // the connection is dropped again.
    try {
        Connection c;
        c.db = CreateSybaseDatabase(nullptr, MakeParams({}));
        c.db->Connect("kwpeer:nodb", "sa", "secret");
        FAIL() << "used a database the peer does not have";
    } catch (const ESDSybError& e) {
        EXPECT_EQ(e.Message(),
                  "Server message 911, severity 16, state 1: Database 'nodb' does not exist. Make sure that the name "
                  "is entered correctly.");
    }
    EXPECT_EQ(SybLoadCount(), loads);
}

// Outside single-connection mode each SELECT has a connection of its own, so two result sets
// stay open together; in single-connection mode a second statement makes the first dataset
// fetch all its rows.
TEST_F(Syb, OpenResultSetsOnOwnConnectionsOrSharedOne) {
    Connection c = Open();
    Exec(*c.db, "create table nums(n int)");
    Exec(*c.db, "insert into nums values (1); insert into nums values (2); insert into nums values (3)");
    size_t mark = peer_->Mark();
    TISqlCommandPtr first = c->CreateSqlCommand(nullptr);
    first->Prepare("select n from nums order by n");
    first->Execute();
    ASSERT_TRUE(first->FetchNextRow());
    TISqlCommandPtr second = c->CreateSqlCommand(nullptr);
    second->Prepare("  \r\nSELECT n * 10 from nums order by n");
    second->Execute();
    EXPECT_EQ(FetchAll(*second), (Rows{{"10"}, {"20"}, {"30"}}));
    EXPECT_EQ(RowTexts(*first), (std::vector<std::string>{"1"}));
    EXPECT_EQ(FetchAll(*first), (Rows{{"2"}, {"3"}}));
    const std::set<int> a = SpidsOf(mark, "select n from nums order by n");
    const std::set<int> b = SpidsOf(mark, "  \r\nSELECT n * 10 from nums order by n");
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_NE(*a.begin(), *b.begin());
    EXPECT_TRUE(first->GetHandle() != second->GetHandle());
    // An update runs on the connection's own command.
    mark = peer_->Mark();
    Exec(*c.db, "update nums set n = n where n = 1");
    EXPECT_EQ(peer_->EntriesSince(mark, "login").size(), 0u);
    first.reset();
    second.reset();

    Connection single = Open({"SINGLE CONNECTION=TRUE"});
    EXPECT_TRUE(single->SingleConnection);
    mark = peer_->Mark();
    TISqlCommandPtr one = single->CreateSqlCommand(nullptr);
    Rows fetched;
    one->FetchAllProc = [&](bool) {
        while (one->FetchNextRow())
            fetched.push_back(RowTexts(*one));
    };
    one->Prepare("select n from nums order by n");
    one->Execute();
    ASSERT_TRUE(one->FetchNextRow());
    fetched.push_back(RowTexts(*one));
    EXPECT_EQ(Driver(single).ActiveCommand(), one.get());
    EXPECT_EQ(Query(*single.db, "select count(*) from nums"), (Rows{{"3"}}));
    EXPECT_EQ(fetched, (Rows{{"1"}, {"2"}, {"3"}}));
    EXPECT_FALSE(one->FetchNextRow());
    // Everything ran on the one connection.
    EXPECT_TRUE(peer_->EntriesSince(mark, "login").empty());
    one.reset();
    Exec(*c.db, "drop table nums");
}

TEST_F(Syb, ParameterLiteralsAndEmptyStringsAsNull) {
    Connection c = Open({"EMPTY STRING AS NULL=TRUE"});
    Exec(*c.db, "create table lit(id int, s varchar(30), f float, d datetime, b bit)");
    TParams params;
    params.CreateParam(ftInteger, "id", ptInput).SetValue(rtl::Variant(int32_t(7)));
    params.CreateParam(ftString, "s", ptInput).SetValue(rtl::Variant(""));
    params.CreateParam(ftFloat, "f", ptInput).SetValue(rtl::Variant(1.5));
    params.CreateParam(ftDateTime, "d", ptInput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(0, 0, 0, 0)));
    params.CreateParam(ftBoolean, "b", ptInput).SetValue(rtl::Variant(true));
    const size_t mark = peer_->Mark();
    const char separator = rtl::FormatSettings.DecimalSeparator;
    rtl::FormatSettings.DecimalSeparator = ',';
    TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare("insert into lit values (:id, :s, :f, :d, :b)");
    insert->Execute();
    EXPECT_EQ(insert->GetRowsAffected(), 1);
    EXPECT_EQ(rtl::FormatSettings.DecimalSeparator, ',');
    rtl::FormatSettings.DecimalSeparator = separator;
    EXPECT_EQ(peer_->Batches(mark), (std::vector<std::string>{"insert into lit values (7, NULL, 1.5, '20240301', 1)"}));
    EXPECT_EQ(Query(*c.db, "select id, s, f, d, b from lit"),
              (Rows{{"7", "<null>", "1.5", "2024-03-01 00:00:00.000", "True"}}));
    Exec(*c.db, "drop table lit");
}

// Text and image columns end the bound columns: from the first one on, every column of a row
// is read on its own, in its own layout, and converted.
TEST_F(Syb, ColumnsAfterAnImageAreReadRowByRow) {
    Connection c = Open({"ENABLE BCD=TRUE", "BLOB PIECE SIZE=1000"});
    Exec(*c.db,
         "create table docs(id int identity, photo image, name varchar(20), amount numeric(10,2), flag bit, "
         "tiny tinyint, d4 smalldatetime, m money, body text)");
    rtl::ByteArray photo(50000);
    for (size_t i = 0; i < photo.size(); ++i)
        photo[i] = uint8_t(i * 13);
    std::string body(30000, 'x');
    body += "ção";
    TParams params;
    params.CreateParam(ftBlob, "photo", ptInput).SetValue(rtl::Variant::FromBytes(photo));
    params.CreateParam(ftMemo, "body", ptInput).SetValue(rtl::Variant(body));
    TISqlCommandPtr insert = c->CreateSqlCommand(nullptr);
    insert->SetParams(&params);
    insert->Prepare(
        "insert into docs(photo, name, amount, flag, tiny, d4, m, body) values (:photo, 'after', 12.34, 1, 200, "
        "'20240301 12:31', 5.5, :body)");
    insert->Execute();
    Exec(*c.db, "insert into docs(name) values ('nothing')");
    TISqlCommandPtr cmd = c->CreateSqlCommand(nullptr);
    cmd->Prepare("select id, photo, name, amount, flag, tiny, d4, m, body from docs order by id");
    cmd->Execute();
    const TSDFieldDescList& d = *cmd->FieldDescs;
    const TFieldType types[] = {ftAutoInc, ftBlob,     ftString,   ftBCD, ftBoolean,
                                ftSmallint, ftDateTime, ftCurrency, ftMemo};
    ASSERT_EQ(d.Count(), int(std::size(types)));
    for (int i = 0; i < d.Count(); ++i)
        EXPECT_EQ(d.GetFieldDesc(i).FieldType, types[i]) << d.GetFieldDesc(i).FieldName;
    EXPECT_EQ(d.GetFieldDesc(3).Scale, 2);
    ASSERT_TRUE(cmd->FetchNextRow());
    const std::vector<std::string> row = RowTexts(*cmd);
    EXPECT_EQ(row[0], "1");
    EXPECT_EQ(row[1], std::string(photo.begin(), photo.end()));
    EXPECT_EQ(row[2], "after");
    // A BCD column after the image: converted, not read raw.
    EXPECT_EQ(row[3], "12.34");
    EXPECT_EQ(row[4], "True");
    EXPECT_EQ(row[5], "200");
    EXPECT_EQ(row[6], "2024-03-01 12:31:00.000");
    EXPECT_EQ(row[7], "5.5");
    EXPECT_EQ(row[8], body);
    ASSERT_TRUE(cmd->FetchNextRow());
    EXPECT_EQ(RowTexts(*cmd), (std::vector<std::string>{"2", "<null>", "nothing", "<null>", "<null>", "<null>", "<null>",
                                                        "<null>", "<null>"}));
    EXPECT_FALSE(cmd->FetchNextRow());
    cmd->CloseResultSet();
    // Without ENABLE BCD a numeric column is a float.
    Connection plain = Open();
    TISqlCommandPtr floats = plain->CreateSqlCommand(nullptr);
    floats->Prepare("select amount from docs where id = 1");
    floats->Execute();
    EXPECT_EQ(floats->FieldDescs->GetFieldDesc(0).FieldType, ftFloat);
    EXPECT_EQ(FetchAll(*floats), (Rows{{"12.34"}}));
    Exec(*c.db, "drop table docs");
}

TEST_F(Syb, ProceduresDiscoveryOutputsStatusAndResultSets) {
    Connection c = Open({"EMPTY STRING AS NULL=TRUE"});
    size_t mark = peer_->Mark();
    TParams params;
    TISqlCommandPtr add = c->CreateSqlCommand(nullptr);
    add->SetParams(&params);
    add->CommandType = 2;
    add->Prepare("kw_add;1");
    const std::vector<std::string> sent = peer_->Batches(mark);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(),
              "select name, usertype, length, status from dbo.syscolumns where id = object_id('kw_add') and number in "
              "(0, 1)");
    ASSERT_EQ(params.Count(), 4);
    EXPECT_EQ(params[0].Name(), "Result");
    EXPECT_EQ(params[0].ParamType(), ptResult);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(params[i].DataType(), ftInteger) << params[i].Name();
        // Discovery gives no direction: the caller sets it.
        EXPECT_EQ(params[i].ParamType(), ptUnknown) << params[i].Name();
    }
    params[1].SetValue(rtl::Variant(int32_t(5)));
    params[2].SetValue(rtl::Variant(int32_t(3)));
    try {
        add->Execute();
        FAIL() << "parameters without a direction were sent";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "No parameter type for parameter '@a'");
    }
    params[1].SetParamType(ptInput);
    params[2].SetParamType(ptInput);
    params[3].SetParamType(ptOutput);
    mark = peer_->Mark();
    add->Execute();
    EXPECT_EQ(FetchAll(*add), (Rows{{"5", "3"}}));
    add->GetOutputParams();
    EXPECT_EQ(params[3].Value().AsInteger(), 8);
    EXPECT_EQ(params[0].Value().AsInteger(), 2);
    const std::vector<kwtest::TdsJournalEntry> rpcs = peer_->EntriesSince(mark, "rpc");
    ASSERT_EQ(rpcs.size(), 1u);
    EXPECT_EQ(rpcs[0].Field("proc"), "kw_add");
    EXPECT_NE(rpcs[0].json.find("{\"name\": \"@sum\", \"status\": 1"), std::string::npos) << rpcs[0].json;
    add->CloseResultSet();

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

    // Output values; an empty text goes as NULL.
    TParams echo;
    echo.CreateParam(ftInteger, "Result", ptResult);
    echo.CreateParam(ftInteger, "@i", ptInputOutput).SetValue(rtl::Variant(int32_t(41)));
    echo.CreateParam(ftString, "@s", ptInputOutput).SetValue(rtl::Variant(""));
    echo.CreateParam(ftFloat, "@f", ptInputOutput).SetValue(rtl::Variant(1.25));
    echo.CreateParam(ftCurrency, "@m", ptInputOutput).SetValue(rtl::Variant::FromCurrency(123456));
    echo.CreateParam(ftDateTime, "@d", ptInputOutput)
        .SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 28) + rtl::EncodeTime(23, 59, 59, 997)));
    echo.CreateParam(ftBoolean, "@b", ptInputOutput).SetValue(rtl::Variant(false));
    TISqlCommandPtr e = c->CreateSqlCommand(nullptr);
    e->SetParams(&echo);
    e->CommandType = 2;
    e->Prepare("kw_echo");
    mark = peer_->Mark();
    e->Execute();
    e->GetOutputParams();
    const std::vector<kwtest::TdsJournalEntry> echoCalls = peer_->EntriesSince(mark, "rpc");
    ASSERT_EQ(echoCalls.size(), 1u);
    EXPECT_NE(echoCalls[0].json.find("\"name\": \"@s\", \"status\": 1"), std::string::npos) << echoCalls[0].json;
    EXPECT_NE(echoCalls[0].json.find("\"value\": null}, {\"name\": \"@f\""), std::string::npos) << echoCalls[0].json;
    EXPECT_EQ(echo[0].Value().AsInteger(), 5);
    EXPECT_EQ(echo[1].Value().AsInteger(), 42);
    EXPECT_TRUE(echo[2].IsNull());
    EXPECT_DOUBLE_EQ(echo[3].Value().AsDouble(), 2.5);
    EXPECT_EQ(echo[4].Value().AsCurrency(), 128456);
    EXPECT_EQ(Iso(echo[5].Value().AsDateTime(), ftDateTime), "2024-02-29 23:59:59.997");
    EXPECT_TRUE(echo[6].Value().AsBoolean());
    e->CloseResultSet();
}

TEST_F(Syb, ErrorsAndBadInputLeaveTheConnectionUsable) {
    Connection c = Open();
    try {
        Exec(*c.db,
             "kwpeer messages [{\"number\": 50001, \"class\": 16, \"text\": \"first\", \"line\": 3}, {\"number\": 2, "
             "\"class\": 11, \"text\": \"second\"}, {\"number\": 5701, \"class\": 10, \"text\": \"info\"}]");
        FAIL() << "no error";
    } catch (const ESDSybError& e) {
        EXPECT_EQ(e.Message(),
                  "Server message 50001, severity 16, state 1: first\r\nServer message 2, severity 11, state 1: second");
        EXPECT_EQ(e.ErrorCode, 50001);
        EXPECT_EQ(e.ErrorPos, -1);
        EXPECT_FALSE(e.ConnectionLost);
    }
    TParams none;
    none.CreateParam(ftInteger, "Result", ptResult);
    TISqlCommandPtr fail = c->CreateSqlCommand(nullptr);
    fail->SetParams(&none);
    fail->CommandType = 2;
    fail->Prepare("kw_fail");
    try {
        fail->Execute();
        FAIL() << "no error";
    } catch (const ESDSybError& e) {
        EXPECT_EQ(e.Message(), "Server message 50001, severity 16, state 2: kw_fail: refused on purpose");
    }
    EXPECT_EQ(Query(*c.db, "select 1"), (Rows{{"1"}}));
    Exec(*c.db, "create table wide(b bigint)");
    try {
        Query(*c.db, "select b from wide");
        FAIL() << "a bigint column was described";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Field 'b' is of an unsupported type");
    }
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
    // More characters than the column announces: cut to the column, never written past it.
    TParams overlongParams;
    overlongParams.CreateParam(ftInteger, "Result", ptResult);
    TISqlCommandPtr overlong = c->CreateSqlCommand(nullptr);
    overlong->SetParams(&overlongParams);
    overlong->CommandType = 2;
    overlong->Prepare("kw_overlong");
    overlong->Execute();
    EXPECT_EQ(overlong->FieldDescs->GetFieldDesc(1).DataSize, 17);
    EXPECT_EQ(FetchAll(*overlong), (Rows{{"1", "abcdefghijklmnop"}}));
    overlong->CloseResultSet();
    EXPECT_EQ(Query(*c.db, "select 2"), (Rows{{"2"}}));
    Exec(*c.db, "drop table wide");
}

TEST_F(Syb, CatalogQueriesAsSentAndTheXpMsverBranch) {
    Connection c = Open();
    Exec(*c.db, "create table cat_b(id int, name varchar(30) not null)");
    size_t mark = peer_->Mark();
    TISqlCommandPtr tables = c->GetSchemaInfo(stTables, "cat%");
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(FetchAll(*tables), (Rows{{"kwtest", "dbo", "cat_b", "1"}}));
    tables.reset();
    TISqlCommandPtr columns = c->GetSchemaInfo(stColumns, "dbo.cat_b");
    ASSERT_NE(columns, nullptr);
    const Rows cols = FetchAll(*columns);
    ASSERT_EQ(cols.size(), 2u);
    EXPECT_EQ(cols[1][3], "name");
    columns.reset();
    EXPECT_EQ(c->GetSchemaInfo(TSDSchemaType(6), "x"), nullptr);
    EXPECT_EQ(SpidsOf(mark, TISybDatabase::SchemaInfoText(stTables, "cat%", 0, false)).size(), 1u);
    EXPECT_EQ(SpidsOf(mark, TISybDatabase::SchemaInfoText(stColumns, "dbo.cat_b", 0, false)).size(), 1u);
    // The index batch goes out as built, the pattern's quote doubled; the peer answers it from
    // its canned rows.
    Exec(*c.db,
         "kwpeer canned {\"contains\": \"#spindcols\", \"columns\": [[\"INDEX_NAME\", \"varchar(30)\"]], \"rows\": "
         "[[\"ix\"]]}");
    mark = peer_->Mark();
    TISqlCommandPtr indexes = c->GetSchemaInfo(stIndexes, "o'cat");
    ASSERT_NE(indexes, nullptr);
    indexes.reset();
    const std::vector<std::string> sent = peer_->Batches(mark);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].find("select @objid = object_id('o''cat')"), std::string::npos);
    EXPECT_EQ(sent[0], TISybDatabase::SchemaInfoText(stIndexes, "o'cat", 0, false));

    // A server with xp_msver: another version query and the other catalog texts.
    Exec(*c.db, "kwpeer set xp_msver on");
    Connection anywhere = Open();
    Exec(*c.db, "kwpeer set xp_msver off");
    EXPECT_TRUE(Driver(anywhere).XpMsver());
    mark = peer_->Mark();
    EXPECT_EQ(anywhere->GetVersionString(), "SQL Anywhere Server 17.0.10.1234");
    EXPECT_EQ(GetVersionMajor(anywhere->GetServerVersion()), 17);
    EXPECT_EQ(SpidsOf(mark, "select dbo.xp_msver('FileDescription') || ' ' || dbo.xp_msver('ProductVersion')").size(),
              2u);
    Exec(*c.db, "drop table cat_b");
}

// The peer drops the connection: the error is marked lost, the engine's handling runs and
// closes the database, and a fresh connect works.
TEST_F(Syb, ConnectionDroppedByThePeerIsLost) {
    RegisterSybaseDriver();
    TSDSession session;
    session.SetSessionName("SybLost");
    TSDDatabase db(&session);
    db.SetDatabaseName("syblost");
    db.SetServerType(stSybase);
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
    const int loads = SybLoadCount();
    try {
        Exec(*db.SqlDatabase(), "kwpeer drop");
        FAIL() << "a dropped connection answered";
    } catch (const ESDSybError& e) {
        EXPECT_TRUE(e.ConnectionLost) << e.Message();
        EXPECT_EQ(e.Message(), "Client-Library error 20017: Unexpected EOF from the server");
    }
    EXPECT_EQ(lostCalls, 1);
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(SybLoadCount(), loads - 1);
    db.Close();
    db.Open();
    EXPECT_EQ(Query(*db.SqlDatabase(), "select 2"), (Rows{{"2"}}));
    db.Close();
    RegisterSqlDatabaseFactory(stSybase, nullptr);
}

}  // namespace
