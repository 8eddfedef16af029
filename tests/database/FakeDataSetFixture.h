// A database over the recording fake driver for the data-set tests: every command the driver
// creates answers with the rows of `server`, so a query opened on any text reads them, and the
// call log shows how many rows were fetched and which statements ran.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeSqlDriver.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"

namespace fakeds {

struct Server {
    std::vector<fake::Column> columns;
    std::vector<std::vector<fake::Cell>> rows;
    std::map<std::string, rtl::ByteArray> blobs;  // "row:column number" -> long value
    std::set<std::string> failIn;
    size_t failingFetch = 1;  // with "DoFetchNextRow" in failIn
    // Catalog commands answer with these instead.
    std::vector<fake::Column> schemaColumns;
    std::vector<std::vector<fake::Cell>> schemaRows;
};

class Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        factories_.configure = [this](fake::FakeDatabase& d) {
            d.onCreateCommand = [this](fake::FakeCommand& c) {
                if (c.Owner == nullptr) {
                    // A catalog command (the driver makes those without owner): it comes with
                    // its statement run and its rows ready.
                    c.columns = server.schemaColumns;
                    c.rows = server.schemaRows;
                    c.handle = true;
                    c.SetPreparedText("catalog");
                    c.InitFieldDescs();
                    return;
                }
                c.columns = server.columns;
                c.rows = server.rows;
                c.blobs = server.blobs;
                c.failIn = server.failIn;
                c.failingFetch = server.failingFetch;
                commands.push_back(&c);
            };
        };
        db = std::make_unique<TSDDatabase>();
        db->SetDatabaseName("fakedb");
        db->SetRemoteDatabase("fake");
        db->SetServerType(stODBC);
        db->SetLoginPrompt(false);
    }
    void TearDown() override {
        queries_.clear();
        db.reset();
    }

    // A query over the fake database, owned by the fixture unless released.
    TSDQuery& Query(const std::string& sql = "select * from t") {
        queries_.push_back(std::make_unique<TSDQuery>());
        TSDQuery& q = *queries_.back();
        q.SetDatabaseName("fakedb");
        q.SQL().SetText(sql);
        return q;
    }

    // Rows fetched from the driver so far (successful and final calls).
    int FetchCalls() const {
        int n = 0;
        for (const auto& c : factories_.log.calls)
            if (c == "DoFetchNextRow") ++n;
        return n;
    }
    // The driver's calls so far, in order, and a fresh start of them.
    std::string Calls() const { return factories_.log.Joined(); }
    void ClearCalls() { factories_.log.Clear(); }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& c : factories_.log.calls)
            if (c.rfind(prefix, 0) == 0) ++n;
        return n;
    }

    // Columns ID (integer), NAME (string of 20) and the given number of rows "n<i>".
    void SimpleRows(int n) {
        server.columns = {{"ID", ftInteger, 4}, {"NAME", ftString, 21}};
        server.rows.clear();
        for (int i = 1; i <= n; ++i)
            server.rows.push_back({fake::IntCell(i), fake::TextCell("n" + std::to_string(i))});
    }

    // A query opened on SimpleRows(rows), with an update handler that applies every change,
    // so that edits stay in the cache.
    TSDQuery& OpenEditable(int rows) {
        SimpleRows(rows);
        TSDQuery& q = Query();
        q.OnUpdateRecord = [](rtl::TDataSet&, rtl::TUpdateKind, rtl::TUpdateAction& a) {
            a = rtl::uaApplied;
        };
        q.Open();
        return q;
    }

    Server server;
    std::vector<fake::FakeCommand*> commands;
    std::unique_ptr<TSDDatabase> db;

private:
    fake::FakeFactories factories_;
    std::vector<std::unique_ptr<TSDQuery>> queries_;
};

}  // namespace fakeds
