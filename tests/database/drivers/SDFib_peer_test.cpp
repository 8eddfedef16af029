// The Firebird and InterBase drivers on Firebird 3: embedded (a database file opened in the
// test's own process) for most tests, a private server on a loopback port for the remote forms,
// logins and lost connections, and isql-fb as the independent reader of what the driver wrote.
#include <gtest/gtest.h>

#include <memory>

#include "database/OdbcTestSupport.h"
#include "database/SDEngine.h"
#include "database/SDEngineQuery.h"
#include "database/drivers/SDFib.h"
#include "rtl/DbParams.h"
#include "support/FirebirdServer.h"

using namespace odbctest;

namespace {

using kwtest::FirebirdHome;

class Firebird : public ::testing::Test {
protected:
    void SetUp() override {
        FirebirdHome& home = FirebirdHome::Get();
        KW_REQUIRE_PEER(home.Available(), home.Reason());
        file_ = (home.Data() / ("t" + std::to_string(++counter_) + ".fdb")).string();
    }
    void TearDown() override {
        for (TSDClientLibrary* library : {&FibLibrary(), &IntLibrary()})
            if (library->LoadCount() == 0) library->TakeNameFromParams(MakeParams({}));
    }

    // A fresh embedded database of that dialect.
    std::string Database(int dialect = 3) {
        FirebirdHome::Get().CreateDatabase(file_, dialect);
        return file_;
    }
    static Rows Isql(const std::string& database, const std::string& sql) {
        return FirebirdHome::Get().Isql(database, sql);
    }

    static Connection Open(const std::string& database, std::initializer_list<std::string> params = {},
                           TSDServerType type = stFirebird, const std::string& user = "SYSDBA",
                           const std::string& password = "") {
        Connection c;
        c.db = type == stFirebird ? CreateFirebirdDatabase(nullptr, MakeParams(params))
                                  : CreateInterbaseDatabase(nullptr, MakeParams(params));
        c.db->Connect(database, user, password);
        return c;
    }
    static TICustomIntDatabase& Int(const Connection& c) { return dynamic_cast<TICustomIntDatabase&>(*c.db); }

    std::string file_;
    static inline int counter_ = 0;
};

TEST_F(Firebird, EmbeddedConnectionCountsAndHandles) {
    const std::string db = Database();
    {
        Connection a = Open(db, {"SQL Dialect=3"});
        Connection b = Open(db, {"SQL Dialect=3"}, stInterbase);
        EXPECT_EQ(FibLibrary().LoadCount(), 1);
        EXPECT_EQ(IntLibrary().LoadCount(), 1);
        Connection c = Open(db, {"SQL Dialect=3"});
        EXPECT_EQ(FibLibrary().LoadCount(), 2);
        EXPECT_EQ(a->GetServerType(), stFirebird);
        EXPECT_EQ(b->GetServerType(), stInterbase);
        EXPECT_EQ(static_cast<const TIntHandle*>(a->GetHandle())->ServerType, 8);
        EXPECT_EQ(static_cast<const TIntHandle*>(b->GetHandle())->ServerType, 7);
        // isc_info_version: the InterBase-compatible version Firebird reports ("LI-V6.3.x Firebird 3.0").
        EXPECT_EQ(a->GetServerVersion(), MakeVersionNumber(6, 3));
        std::cerr << a->GetVersionString() << "\n";
        EXPECT_EQ(GetVersionMajor(a->GetClientVersion()), 3);
        EXPECT_NE(a->GetVersionString().find("(access method)"), std::string::npos) << a->GetVersionString();
        EXPECT_TRUE(a->TestConnected());
        Exec(*a.db, "create table t (i integer, s varchar(20))");
        Exec(*a.db, "insert into t values (1, 'one')");
        EXPECT_EQ(Query(*b.db, "select i, s from t"), (Rows{{"1", "one"}}));
        EXPECT_EQ(Isql(db, "select i || '|' || s from t"), (Rows{{"1", "one"}}));
    }
    EXPECT_EQ(FibLibrary().LoadCount(), 0);
    EXPECT_EQ(IntLibrary().LoadCount(), 0);
}

}  // namespace
