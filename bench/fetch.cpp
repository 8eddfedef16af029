// bench_fetch: reading a 200,000-row, 6-column result through TSDQuery over the ODBC driver,
// against a plain ODBC loop (SQLExecDirect, SQLFetch, SQLGetData per column) over the same
// SQLite file through the same driver manager, in the same run.
//
// Prints "fetch <ours ms> <plain ODBC ms> ms <speed>" (bench/BenchLine.h; speed = plain / ours) for a query
// with its default row cache (every row kept: about 100 MB here, since the driver reports the two text
// columns 160 and 240 bytes wide and a record holds each at its full width), and the same for a
// unidirectional query, which like the plain loop keeps only the current row. The cached records come
// from blocks the system hands out zeroed, in 2 MB pieces it may back with huge pages
// (database/engine/SDEngineRecordStore.h): keeping them costs a fault per piece rather than per 4 KB
// page, and no clearing pass, so the cached case adds little to the unidirectional one. Times are
// processor time of the process (on a shared machine wall time mostly measures the neighbours), each the
// best of a few rounds that alternate between the loops.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "bench/BenchLine.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineQuery.h"

// From database/odbc/SDOdbc.h, whose own ODBC declarations cannot live beside the driver manager's
// headers that the plain loop uses.
void RegisterOdbcDriver();

namespace {

constexpr const char* kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
constexpr int kRows = 200000;
constexpr int kRounds = 5;

// Milliseconds of processor time this process has used.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

[[noreturn]] void Fail(const char* what, SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {};
    SQLCHAR message[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (handle != nullptr) SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    std::fprintf(stderr, "bench_fetch: %s failed: %s %s\n", what, state, message);
    std::exit(1);
}

void Check(SQLRETURN rc, const char* what, SQLSMALLINT type, SQLHANDLE handle) {
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) Fail(what, type, handle);
}

// A plain ODBC connection on the file.
struct Plain {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;

    explicit Plain(const std::string& connect) {
        Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), "SQLAllocHandle(ENV)", SQL_HANDLE_ENV,
              nullptr);
        Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              "SQLSetEnvAttr", SQL_HANDLE_ENV, env);
        Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), "SQLAllocHandle(DBC)", SQL_HANDLE_ENV, env);
        SQLCHAR out[1024];
        SQLSMALLINT outLength = 0;
        Check(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connect.c_str())),
                               SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT),
              "SQLDriverConnect", SQL_HANDLE_DBC, dbc);
    }
    ~Plain() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }

    void Exec(const std::string& sql) {
        SQLHSTMT stmt = nullptr;
        Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), "SQLAllocHandle(STMT)", SQL_HANDLE_DBC, dbc);
        Check(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS),
              "SQLExecDirect", SQL_HANDLE_STMT, stmt);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
};

// Something the compiler cannot drop: every value read goes into it.
struct Sink {
    double numbers = 0;
    size_t characters = 0;
    int rows = 0;
};

double PlainLoop(const std::string& connect, Sink& sink) {
    const double start = CpuMs();
    Plain c(connect);
    SQLHSTMT stmt = nullptr;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &stmt), "SQLAllocHandle(STMT)", SQL_HANDLE_DBC, c.dbc);
    Check(SQLExecDirect(stmt,
                        reinterpret_cast<SQLCHAR*>(
                            const_cast<char*>("select id, name, amount, qty, created, note from items")),
                        SQL_NTS),
          "SQLExecDirect", SQL_HANDLE_STMT, stmt);
    SQLINTEGER id = 0, qty = 0;
    double amount = 0;
    char name[256], note[256];
    SQL_TIMESTAMP_STRUCT created{};
    SQLLEN ind = 0;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        Check(rc, "SQLFetch", SQL_HANDLE_STMT, stmt);
        SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &ind);
        SQLGetData(stmt, 2, SQL_C_CHAR, name, sizeof name, &ind);
        const size_t nameLength = ind > 0 ? size_t(ind) : 0;
        SQLGetData(stmt, 3, SQL_C_DOUBLE, &amount, 0, &ind);
        SQLGetData(stmt, 4, SQL_C_SLONG, &qty, 0, &ind);
        SQLGetData(stmt, 5, SQL_C_TYPE_TIMESTAMP, &created, sizeof created, &ind);
        SQLGetData(stmt, 6, SQL_C_CHAR, note, sizeof note, &ind);
        const size_t noteLength = ind > 0 ? size_t(ind) : 0;
        sink.numbers += id + amount + qty + created.day + created.hour;
        sink.characters += nameLength + noteLength;
        ++sink.rows;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return CpuMs() - start;
}

double OursLoop(const std::string& connect, bool uniDirectional, Sink& sink) {
    const double start = CpuMs();
    {
        TSDDatabase db;
        db.SetDatabaseName("bench");
        db.SetServerType(stODBC);
        db.SetRemoteDatabase(connect);
        db.SetLoginPrompt(false);
        TSDQuery q;
        q.SetDatabaseName("bench");
        q.SQL().SetText("select id, name, amount, qty, created, note from items");
        q.SetUniDirectional(uniDirectional);
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

}  // namespace

int main() {
    if (!std::filesystem::exists(kDriver)) {
        std::fprintf(stderr, "bench_fetch: the SQLite ODBC driver (%s) is not installed\n", kDriver);
        return 1;
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kw-bench-fetch-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string connect = std::string("DRIVER=") + kDriver + ";Database=" + (dir / "fetch.db").string();
    {
        Plain c(connect);
        c.Exec(
            "create table items (id integer, name varchar(40), amount double, qty integer, "
            "created timestamp, note varchar(60))");
        c.Exec("insert into items with recursive n(x) as (select 1 union all select x + 1 from n limit " +
               std::to_string(kRows) +
               ") select x, 'name ' || x, x * 1.25, x % 97, "
               "printf('2024-%02d-%02d %02d:%02d:00', x % 12 + 1, x % 28 + 1, x % 24, x % 60), "
               "'a note about item number ' || x from n");
    }
    RegisterOdbcDriver();
    double cached = 1e300;
    double forward = 1e300;
    double plain = 1e300;
    Sink cachedSink, forwardSink, plainSink;
    for (int round = 0; round < kRounds; ++round) {
        Sink a, b, c;
        plain = std::min(plain, PlainLoop(connect, c));
        cached = std::min(cached, OursLoop(connect, false, a));
        forward = std::min(forward, OursLoop(connect, true, b));
        cachedSink = a;
        forwardSink = b;
        plainSink = c;
    }
    std::filesystem::remove_all(dir);
    for (const Sink* s : {&cachedSink, &forwardSink}) {
        if (s->rows != kRows || plainSink.rows != kRows || s->characters != plainSink.characters) {
            std::fprintf(stderr,
                         "bench_fetch: the loops read different data (%d/%d rows, %zu/%zu characters)\n",
                         s->rows, plainSink.rows, s->characters, plainSink.characters);
            return 1;
        }
    }
    bench::PrintTimes("fetch", cached, plain);
    bench::PrintTimes("fetch-unidirectional", forward, plain);
    return 0;
}
