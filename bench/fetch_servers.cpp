// bench_fetch_servers: reading a 200,000-row, 6-column table through TSDQuery over the
// PostgreSQL and MySQL drivers, against a plain client loop over the same table of the same
// private server in the same run: PQexec and PQgetvalue of every field for PostgreSQL,
// mysql_real_query, mysql_use_result and mysql_fetch_row for MySQL (MariaDB).
//
// Prints "pg <ours ms> <plain ms> ms <speed>" and "mysql ..." (bench/BenchLine.h; speed =
// plain / ours). The queries are unidirectional, so like the plain loops they keep only the
// current row. Times are processor time of this process (the servers are other processes),
// each the best of a few rounds that alternate between the loops.
//
// Both loops turn the same columns into the same values: the two integers (atoi), the double
// (atof) and the time stamp, which the plain loop reads from its "yyyy-mm-dd hh:mm:ss" text
// into the same date-time number as TField::AsDateTime (days from 1899-12-30, the time of
// day as the fraction) by a few lines of digit arithmetic; the run fails unless both sums of
// numbers come out equal. The two texts are measured in place by the plain loop (strlen, or
// the client's lengths) while ours copies each into the std::string of TField::AsString: that
// copy is part of what ours costs.
#include <libpq-fe.h>
#include <mysql.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>

#include "bench/BenchLine.h"
#include "database/drivers/SDMySql.h"
#include "database/drivers/SDPgSQL.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"
#include "support/MariaDbServer.h"
#include "support/PostgresServer.h"

namespace {

constexpr int kRows = 200000;
constexpr int kRounds = 5;
constexpr const char* kSelect = "select id, name, amount, qty, created, note from items";

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

struct Sink {
    double numbers = 0;
    size_t characters = 0;
    int rows = 0;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_fetch_servers: %s\n", what.c_str());
    std::exit(1);
}

// What a client program's loop would do with a "yyyy-mm-dd hh:mm:ss" text (the servers' form of
// the column) to get the date-time number TField::AsDateTime answers: the civil calendar's day
// count from 1899-12-30, plus the time of day as a fraction of the day.
double DateTimeOfText(const char* text) {
    const auto number = [text](int at, int digits) {
        int value = 0;
        for (int i = 0; i < digits; ++i)
            value = value * 10 + (text[at + i] - '0');
        return value;
    };
    const int month = number(5, 2);
    const int year = number(0, 4) - (month <= 2 ? 1 : 0);
    const int era = year / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + number(8, 2) - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    // era * 146097 + dayOfEra counts from 0000-03-01; 1899-12-30 is day 693899 of that count.
    const int days = era * 146097 + dayOfEra - 693899;
    const int ms = ((number(11, 2) * 60 + number(14, 2)) * 60 + number(17, 2)) * 1000;
    return double(days) + double(ms) / 86400000.0;
}

double PlainPg(const std::string& conninfo, Sink& sink) {
    const double start = CpuMs();
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) Fail(PQerrorMessage(conn));
    PGresult* r = PQexec(conn, kSelect);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail(PQresultErrorMessage(r));
    const int rows = PQntuples(r);
    for (int i = 0; i < rows; ++i) {
        const double when = DateTimeOfText(PQgetvalue(r, i, 4));
        sink.numbers += std::atoi(PQgetvalue(r, i, 0)) + std::atof(PQgetvalue(r, i, 2)) +
                        std::atoi(PQgetvalue(r, i, 3)) + when;
        sink.characters += std::strlen(PQgetvalue(r, i, 1)) + std::strlen(PQgetvalue(r, i, 5));
        ++sink.rows;
    }
    PQclear(r);
    PQfinish(conn);
    return CpuMs() - start;
}

double PlainMySql(const kwtest::MariaDbServer& server, Sink& sink) {
    const double start = CpuMs();
    MYSQL* h = mysql_init(nullptr);
    if (mysql_real_connect(h, server.Host().c_str(), server.User().c_str(), server.Password().c_str(), "kwtest",
                           unsigned(server.Port()), nullptr, 0) == nullptr)
        Fail(mysql_error(h));
    if (mysql_real_query(h, kSelect, std::strlen(kSelect)) != 0) Fail(mysql_error(h));
    MYSQL_RES* res = mysql_use_result(h);
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        const unsigned long* lengths = mysql_fetch_lengths(res);
        const double when = DateTimeOfText(row[4]);
        sink.numbers += std::atoi(row[0]) + std::atof(row[2]) + std::atoi(row[3]) + when;
        sink.characters += lengths[1] + lengths[5];
        ++sink.rows;
    }
    mysql_free_result(res);
    mysql_close(h);
    return CpuMs() - start;
}

double Ours(TSDServerType type, const std::string& remote, const std::string& user, const std::string& password,
            const std::string& port, Sink& sink) {
    const double start = CpuMs();
    {
        TSDDatabase db;
        db.SetDatabaseName("bench");
        db.SetServerType(type);
        db.SetRemoteDatabase(remote);
        db.SetLoginPrompt(false);
        db.Params().SetValue("USER NAME", user);
        db.Params().SetValue("PASSWORD", password);
        if (!port.empty()) db.Params().SetValue("SERVER PORT", port);
        // The plain loop's connection is not compressed either.
        if (type == stMySQL) db.Params().SetValue("COMPRESSED PROTOCOL", "FALSE");
        TSDQuery q;
        q.SetDatabaseName("bench");
        q.SQL().SetText(kSelect);
        q.SetUniDirectional(true);
        q.Open();
        rtl::TField& id = q.FieldByName("id");
        rtl::TField& name = q.FieldByName("name");
        rtl::TField& amount = q.FieldByName("amount");
        rtl::TField& qty = q.FieldByName("qty");
        rtl::TField& created = q.FieldByName("created");
        rtl::TField& note = q.FieldByName("note");
        for (; !q.Eof(); q.Next()) {
            const rtl::TDateTime when = created.AsDateTime();
            sink.numbers += id.AsInteger() + amount.AsFloat() + qty.AsInteger() + when;
            sink.characters += name.AsString().size() + note.AsString().size();
            ++sink.rows;
        }
    }
    return CpuMs() - start;
}

void Compare(const char* name, const std::function<double(Sink&)>& plain, const std::function<double(Sink&)>& ours) {
    double best = 1e300, bestPlain = 1e300;
    Sink a, b;
    for (int round = 0; round < kRounds; ++round) {
        a = Sink{};
        b = Sink{};
        bestPlain = std::min(bestPlain, plain(b));
        best = std::min(best, ours(a));
    }
    if (a.rows != kRows || b.rows != kRows || a.characters != b.characters || a.numbers != b.numbers)
        Fail(std::string(name) + ": the loops read different data (" + std::to_string(a.rows) + "/" +
             std::to_string(b.rows) + " rows, " + std::to_string(a.characters) + "/" + std::to_string(b.characters) +
             " characters, sums " + std::to_string(a.numbers) + "/" + std::to_string(b.numbers) + ")");
    bench::PrintTimes(name, best, bestPlain);
}

}  // namespace

int main() {
    RegisterPostgreSQLDriver();
    RegisterMySQLDriver();
    const std::string fill = "select x, 'name ' || x, x * 1.25, x % 97, timestamp '2024-01-01' + x * interval '1 minute', "
                             "'a note about item number ' || x from generate_series(1, " + std::to_string(kRows) + ") x";
    {
        kwtest::PostgresServer pg;
        if (!pg.Available()) Fail("PostgreSQL: " + pg.Reason());
        pg.Psql("create table items (id integer, name varchar(40), amount float8, qty integer, created timestamp, "
                "note varchar(60)); insert into items " + fill);
        const std::string conninfo = "host=127.0.0.1 port=" + std::to_string(pg.Port()) + " dbname=kwtest user=postgres";
        Compare(
            "pg", [&](Sink& s) { return PlainPg(conninfo, s); },
            [&](Sink& s) {
                return Ours(stPostgreSQL, "127.0.0.1:" + std::to_string(pg.Port()) + ":kwtest", "postgres", "", "", s);
            });
    }
    {
        kwtest::MariaDbServer my;
        if (!my.Available()) Fail("MariaDB: " + my.Reason());
        my.Sql("create table items (id integer, name varchar(40), amount double, qty integer, created datetime, "
               "note varchar(60)); insert into items select seq, concat('name ', seq), seq * 1.25, seq % 97, "
               "'2024-01-01' + interval seq minute, concat('a note about item number ', seq) from seq_1_to_" +
               std::to_string(kRows));
        Compare(
            "mysql", [&](Sink& s) { return PlainMySql(my, s); },
            [&](Sink& s) {
                return Ours(stMySQL, "127.0.0.1:kwtest", my.User(), my.Password(), std::to_string(my.Port()), s);
            });
    }
    return 0;
}
