// The scripted TDS peer proven by an independent client: FreeTDS's tsql, with none of the
// drivers' code, logs in, runs batches and a procedure, and reads what it stored.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Process.h"
#include "rtl/Text.h"
#include "support/TdsPeer.h"

namespace {

struct TsqlResult {
    int exitCode = 0;
    std::string output;
};

// Runs the batches through tsql (each line a batch, "go" after each) as the given user.
TsqlResult Tsql(const std::vector<std::string>& batches, const std::string& user, const std::string& password) {
    kwtest::TempDir dir;
    std::string script;
    for (const std::string& b : batches)
        script += b + "\ngo\n";
    script += "exit\n";
    kwtest::WriteFile(dir / "in.sql", script);
    plat::ProcessOptions o;
    o.wait = true;
    o.output = plat::ProcessOutput::Capture;
    const plat::ProcessResult r = plat::StartProcess(
        "/bin/sh", {"-c", "tsql -S kwpeer -U '" + user + "' -P '" + password + "' < '" + (dir / "in.sql").string() + "'"},
        o);
    return {r.exitCode, r.output};
}

TEST(TdsPeer, AnIndependentClientLogsInQueriesAndCallsProcedures) {
    KW_REQUIRE_PEER(std::filesystem::exists("/usr/bin/tsql"), "tsql (freetds-bin)");
    kwtest::TdsPeer peer({"sa:secret"});
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    const TsqlResult r = Tsql({"create table proof(id int identity, name varchar(20), d datetime, b varbinary(4))",
                               "insert into proof(name, d, b) values ('O''Brien ç', '20240301 12:30:15:750', 0x00ff)",
                               "select id, name, b from proof", "select CONVERT(int, @@IDENTITY)",
                               "exec kw_add 5, 3"},
                              "sa", "secret");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("1\tO'Brien ç\t00ff"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(return status = 2)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("5\t3"), std::string::npos) << r.output;
    // The peer's journal: tsql's login and its batches as sent.
    const std::vector<kwtest::TdsJournalEntry> logins = peer.EntriesSince(0, "login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].Field("user"), "sa");
    EXPECT_EQ(logins[0].Field("password"), "secret");
    EXPECT_EQ(logins[0].Field("library"), "TDS-Library");
    const std::vector<std::string> batches = peer.Batches();
    ASSERT_EQ(batches.size(), 5u);
    EXPECT_EQ(rtl::Trim(batches[1]), "insert into proof(name, d, b) values ('O''Brien ç', '20240301 12:30:15:750', 0x00ff)");
    // A wrong password is refused.
    const size_t mark = peer.Mark();
    const TsqlResult refused = Tsql({"select 1"}, "sa", "wrong");
    EXPECT_NE(refused.exitCode, 0) << refused.output;
    EXPECT_TRUE(peer.Batches(mark).empty());
    ASSERT_EQ(peer.EntriesSince(mark, "login").size(), 1u);
    EXPECT_EQ(peer.EntriesSince(mark, "login")[0].Field("password"), "wrong");
}

}  // namespace
