// tests/database/DriverConformance.h: one table of cases that every database driver of the
// SQL library passes, run through TSDQuery (and the engine's database) the way the program
// uses a driver.
//
// A driver joins with a fixture of its own: a subclass of conformance::Driver that starts its
// peer, configures the engine's database (server type, remote database, parameters), names
// the column types of its server for the table's kinds, reads back from outside the program,
// can break a connection, and says what it cannot do. Then one line:
//
//     KW_DRIVER_CONFORMANCE(SqliteOdbcConformance, SqliteOdbcDriver);
//
// gives a test per case, named Table/<suite>.Case/<case>. A case the driver cannot do is not
// passed over quietly: the case checks the driver's documented alternative instead (its
// capabilities: no milliseconds, the empty string read as null, a type refused with a clear
// error, ...), or, only when nothing can be observed at all (a file database has no connection
// to lose), the test is skipped with the driver's reason in the output.
//
// The cases: types round trip (integer limits, 64-bit integers, floats exactly, decimals,
// dates and time stamps with milliseconds, times of day, texts with accents, quotes and
// backslashes, fixed-length text with RTRIM CHAR OUTPUT on and off, the empty string beside
// NULL), NULL in every type, blobs and memos beyond the piece size holding zero bytes through
// TSDBlobStream, transactions (commit, rollback, auto-commit outside a transaction, every
// isolation level, a cursor open across a commit), parameters (a repeated marker, :p1 beside :p10, a marker
// inside a literal, an injection attempt stored verbatim), the catalog kinds 0, 1, 3 and 5 under the
// library's column names with a pattern holding a quote, live edits, deletes and record refreshes in each
// update mode on rows holding every kind and the server's finer columns (found again unless another client
// really changed them), and a lost connection (the flag, the engine's handling, the next connect).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineBlobStream.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/DateTime.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace conformance {

using Rows = std::vector<std::vector<std::string>>;

// The column kinds of the table.
enum class Kind { Key, Integer, BigInt, Float, Decimal, Date, DateTime, Time, Text, FixedChar, Blob, Memo };

// What a driver and its server do where servers differ.
struct Capabilities {
    bool Milliseconds = true;        // time stamps keep milliseconds
    bool TimeOfDay = true;           // a time-of-day type exists
    bool BigInt = true;              // 64-bit integers
    bool EmptyStringIsNull = false;  // the server stores '' as NULL
    bool ExactFloats = true;         // doubles come back bit for bit
    bool AutoCommit = true;          // a statement outside a transaction commits by itself
    bool FixedCharPadded = true;     // CHAR(n) values come back blank-padded (RTRIM CHAR OUTPUT off)
    std::string NoLostConnection;    // why a connection cannot be broken here ("" when it can)
};

class Driver {
public:
    virtual ~Driver() = default;
    virtual std::string Name() const = 0;
    // Starts what the driver needs; false with the reason when it is missing.
    virtual bool Available(std::string& reason) = 0;
    // Registers the driver and sets the database up on a fresh, empty server database.
    virtual void Configure(TSDDatabase& db) = 0;
    virtual std::string Type(Kind kind) const = 0;
    // The parameter type with which a value of the kind is written.
    virtual TFieldType ParamType(Kind kind) const {
        switch (kind) {
            case Kind::Key:
            case Kind::Integer:
                return ftInteger;
            case Kind::BigInt:
                return ftLargeint;
            case Kind::Float:
                return ftFloat;
            case Kind::Decimal:
                return ftBCD;
            case Kind::Date:
                return ftDate;
            case Kind::DateTime:
                return ftDateTime;
            case Kind::Time:
                return ftTime;
            case Kind::Text:
                return ftString;
            case Kind::FixedChar:
                return ftFixedChar;
            case Kind::Blob:
                return ftBlob;
            case Kind::Memo:
                return ftMemo;
        }
        return ftUnknown;
    }
    // Statements run by another client on the same database; the rows of the last one.
    virtual Rows Outside(const std::string& sql) = 0;
    // A table or column name as the server's catalog shows one created unquoted.
    virtual std::string CatalogName(const std::string& upperName) const { return upperName; }
    // Breaks the connection of the database from outside.
    virtual void BreakConnection(TSDDatabase&) {}
    // The driver's own code of an error (an ODBC state), for messages.
    virtual std::string ErrorState(const ESDEngineError&) const { return ""; }
    virtual Capabilities Caps() const = 0;

    // A column type the server keeps more finely than the engine holds its values (a time
    // stamp to the microsecond, a single-precision float, an exact numeric past a double's
    // digits): the value another client stores in it (SQL), a second value to which that
    // client changes it, and a value of the engine's that the program writes there.
    struct FineColumn {
        std::string Type;
        std::string Value;
        std::string Changed;
        rtl::Variant Written;
    };
    virtual std::vector<FineColumn> FineColumns() const { return {}; }

    // The definition of a key column ID that the server fills (a serial or identity column;
    // "" when the server has none), and whether the engine reads the new key back after a
    // live insert (AutoRefresh).
    virtual std::string ServerKeyColumn() const { return ""; }
    virtual bool ReadsServerKeysBack() const { return false; }

    // An exact numeric type of four places whose values go past a double's digits, and its
    // largest value as the server writes it; none where the server has no such type.
    struct ExactNumeric {
        std::string Type;
        std::string Largest;
    };
    virtual ExactNumeric WideDecimal() const { return {}; }

    // An array type of integers whose slices the server writes a[1:2] (PostgreSQL's); "" for
    // a server without arrays.
    virtual std::string IntegerArrayType() const { return ""; }
};

// A server's column type of each kind, in the order of Kind's values.
using TypeNames = std::array<const char*, 12>;
inline std::string TypeOf(Kind kind, const TypeNames& names) {
    return names[size_t(kind)];
}

// PostgreSQL's types (the ODBC driver through psqlODBC and the PostgreSQL driver both run the
// table on it).
inline std::string PostgresType(Kind kind) {
    return TypeOf(kind, {"integer", "integer", "bigint", "double precision", "numeric(12,2)", "date", "timestamp(3)",
                         "time", "varchar(100)", "char(8)", "bytea", "text"});
}

// What PostgreSQL keeps more finely than the engine: time stamps and times to the
// microsecond (one stamped by the server's clock), single-precision floats and numerics past
// a double's digits.
inline std::vector<Driver::FineColumn> PostgresFineColumns() {
    const rtl::Variant stamp =
        rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 2) + rtl::EncodeTime(10, 0, 0, 250));
    return {
        {"timestamp(6)", "'2024-03-01 12:00:00.123456'", "'2024-03-01 12:00:00.987654'", stamp},
        {"timestamptz", "now()", "now() + interval '1 second'", stamp},
        {"time", "'07:08:09.123456'", "'07:08:09.654321'",
         rtl::Variant::FromDateTime(rtl::EncodeTime(8, 0, 0, 500))},
        {"real", "0.1", "0.2", rtl::Variant(0.25)},
        {"numeric(20,2)", "123456789012345678.91", "123456789012345778.91", rtl::Variant(1.5)},
    };
}

struct Context {
    Driver& driver;
    TSDDatabase& db;
    std::vector<std::unique_ptr<TSDQuery>> queries;

    TSDQuery& Query(const std::string& sql) {
        queries.push_back(std::make_unique<TSDQuery>());
        TSDQuery& q = *queries.back();
        q.SetDatabaseName(db.DatabaseName());
        q.SQL().SetText(sql);
        return q;
    }
    void Run(const std::string& sql) { Query(sql).ExecuteStatement(); }
    // Drops the case's table once no query of the case holds a statement on it: a server may
    // refuse to drop a table that a prepared statement of the same session uses (Firebird).
    void DropTable() {
        queries.clear();
        Run("drop table KWC");
    }
    std::string T(Kind kind) const { return driver.Type(kind); }
    // A parameter of the statement set to a value of the kind (null when value is empty).
    void Set(TSDQuery& q, const std::string& name, Kind kind, const rtl::Variant& value) {
        for (int i = 0; i < q.Params().Count(); ++i) {
            rtl::Param& p = q.Params()[i];
            if (!rtl::SameText(p.Name(), name)) continue;
            p.SetDataType(driver.ParamType(kind));
            if (value.IsEmptyOrNull())
                p.Clear();
            else
                p.SetValue(value);
        }
    }
    // The first row's value of a field of a query opened on the text.
    TSDQuery& Open(const std::string& sql) {
        TSDQuery& q = Query(sql);
        q.Open();
        return q;
    }
};

inline void CreateTable(Context& c, Kind kind) {
    c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key, V " + c.T(kind) + ")");
}

// One table, one key and one column of the kind (made here unless told it exists); inserts the
// values through a parameter and reads them back in key order.
inline TSDQuery& RoundTrip(Context& c, Kind kind, const std::vector<rtl::Variant>& values, bool create = true) {
    if (create) CreateTable(c, kind);
    for (size_t i = 0; i < values.size(); ++i) {
        TSDQuery& q = c.Query("insert into KWC (ID, V) values (:ID, :V)");
        c.Set(q, "ID", Kind::Key, rtl::Variant(int32_t(i + 1)));
        c.Set(q, "V", kind, values[i]);
        q.ExecuteStatement();
    }
    TSDQuery& q = c.Query("select V from KWC order by ID");
    q.Open();
    return q;
}

inline std::string Stamp(rtl::TDateTime value) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    rtl::DecodeDate(value, y, mo, d);
    rtl::DecodeTime(value, h, mi, s, ms);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
    return text;
}

inline std::vector<std::string> Column(TSDQuery& q, const std::function<std::string(rtl::TField&)>& read) {
    std::vector<std::string> out;
    for (q.First(); !q.Eof(); q.Next()) {
        rtl::TField& f = q.FieldByName("V");
        out.push_back(f.IsNull() ? "<null>" : read(f));
    }
    return out;
}

inline std::string Hex(const rtl::ByteArray& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Live edits, deletes and record refreshes in one update mode on a row holding every kind of
// the table and the server's finer columns, whose values another client wrote: the generated
// statements must find the row the program read. Then that client changes the row, and a
// post that compares what changed fails as the engine's "record changed" error (in key-only
// mode only the key is compared, and the post goes through).
inline void LiveUpdates(Context& c, rtl::TUpdateMode mode) {
    const Capabilities caps = c.driver.Caps();
    const std::vector<Driver::FineColumn> fine = c.driver.FineColumns();
    struct Column {
        std::string Name;
        Kind Type;
        rtl::Variant Value;
    };
    std::vector<Column> columns = {
        {"N", Kind::Integer, rtl::Variant(int32_t(1))},
        {"F", Kind::Float, rtl::Variant(0.5)},
        {"D", Kind::Decimal, rtl::Variant(12345.67)},
        {"DT", Kind::Date, rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 2, 29))},
        {"TS", Kind::DateTime,
         rtl::Variant::FromDateTime(rtl::EncodeDate(1999, 12, 31) + rtl::EncodeTime(23, 59, 58, 123))},
        {"S", Kind::Text, rtl::Variant("Ação")},
        {"C", Kind::FixedChar, rtl::Variant("ab")},
    };
    if (caps.BigInt) columns.push_back({"B", Kind::BigInt, rtl::Variant(int64_t(9007199254740993LL))});
    if (caps.TimeOfDay)
        columns.push_back({"TM", Kind::Time, rtl::Variant::FromDateTime(rtl::EncodeTime(7, 8, 9, 0))});
    std::string ddl = "create table KWC (ID " + c.T(Kind::Key) + " not null primary key";
    std::string names = "ID", markers = ":ID";
    for (const Column& col : columns) {
        ddl += ", " + col.Name + " " + c.T(col.Type);
        names += ", " + col.Name;
        markers += ", :" + col.Name;
    }
    for (size_t i = 0; i < fine.size(); ++i)
        ddl += ", X" + std::to_string(i) + " " + fine[i].Type;
    c.Run(ddl + ")");
    for (int32_t id = 1; id <= 2; ++id) {
        TSDQuery& insert = c.Query("insert into KWC (" + names + ") values (" + markers + ")");
        c.Set(insert, "ID", Kind::Key, rtl::Variant(id));
        for (const Column& col : columns)
            c.Set(insert, col.Name, col.Type, col.Value);
        insert.ExecuteStatement();
    }
    auto storeFine = [&](size_t only, const std::string& changed) {
        if (fine.empty()) return;
        std::string set;
        for (size_t i = 0; i < fine.size(); ++i)
            set += std::string(set.empty() ? "" : ", ") + "X" + std::to_string(i) + " = " +
                   (i == only ? changed : fine[i].Value);
        c.driver.Outside("update KWC set " + set);
    };
    storeFine(fine.size(), "");
    auto live = [&]() -> TSDQuery& {
        TSDQuery& q = c.Query("select * from KWC order by ID");
        q.SetRequestLive(true);
        q.SetCachedUpdates(false);
        q.SetUpdateMode(mode);
        q.Open();
        return q;
    };
    auto expectChanged = [&](TSDQuery& q, const std::string& what) {
        try {
            q.Post();
            ADD_FAILURE() << "a post over " << what << " went through";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), SRecordChanged) << what;
        }
        q.Cancel();
    };

    // The row as read is found again: an edit, a refresh and a delete.
    TSDQuery& q = live();
    q.Edit();
    q.FieldByName("N").SetAsInteger(101);
    if (mode == rtl::upWhereChanged)  // the finer columns change too, compared with their old values
        for (size_t i = 0; i < fine.size(); ++i)
            q.FieldByName("X" + std::to_string(i)).SetValue(fine[i].Written);
    EXPECT_NO_THROW(q.Post());
    EXPECT_EQ(c.driver.Outside("select N from KWC where ID = 1"), (Rows{{"101"}}));
    EXPECT_NO_THROW(q.RefreshRecord());
    EXPECT_EQ(q.FieldByName("N").AsInteger(), 101);
    q.Next();
    ASSERT_EQ(q.FieldByName("ID").AsInteger(), 2);
    EXPECT_NO_THROW(q.Delete());
    EXPECT_EQ(c.driver.Outside("select count(*) from KWC"), (Rows{{"1"}}));

    // Another client changes the row; the program's copy is stale.
    q.First();
    c.driver.Outside("update KWC set N = 555, S = 'outra' where ID = 1");
    q.Edit();
    q.FieldByName("N").SetAsInteger(102);
    if (mode == rtl::upWhereKeyOnly) {
        EXPECT_NO_THROW(q.Post());
        EXPECT_EQ(c.driver.Outside("select N from KWC where ID = 1"), (Rows{{"102"}}));
    } else {
        expectChanged(q, "a changed N");
        EXPECT_EQ(c.driver.Outside("select N from KWC where ID = 1"), (Rows{{"555"}}));
    }
    q.Close();
    if (mode != rtl::upWhereAll) return;
    // Every finer column is compared: a change of its value alone is a change of the row.
    for (size_t i = 0; i < fine.size(); ++i) {
        SCOPED_TRACE(fine[i].Type);
        storeFine(fine.size(), "");
        TSDQuery& again = live();
        storeFine(i, fine[i].Changed);
        again.Edit();
        again.FieldByName("N").SetAsInteger(103);
        expectChanged(again, "a changed " + fine[i].Type);
        again.Close();
    }
}

struct Case {
    const char* Name;
    std::function<void(Context&)> Run;
};

inline const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"IntegerLimits",
         [](Context& c) {
             TSDQuery& q = RoundTrip(c, Kind::Integer,
                                     {rtl::Variant(int32_t(2147483647)), rtl::Variant(int32_t(-2147483647 - 1)),
                                      rtl::Variant(int32_t(0))});
             EXPECT_EQ(Column(q, [](rtl::TField& f) { return rtl::IntToStr(f.AsInteger()); }),
                       (std::vector<std::string>{"2147483647", "-2147483648", "0"}));
         }},
        {"BigIntegers",
         [](Context& c) {
             if (!c.driver.Caps().BigInt) {
                 // No 64-bit integer: the driver refuses the value clearly and goes on working.
                 EXPECT_THROW(RoundTrip(c, Kind::BigInt, {rtl::Variant(int64_t(9007199254740993LL))}),
                              rtl::EDatabaseError);
                 EXPECT_EQ(c.Open("select count(*) as N from KWC").FieldByName("N").AsInteger(), 0);
                 return;
             }
             TSDQuery& q = RoundTrip(c, Kind::BigInt,
                                     {rtl::Variant(int64_t(9007199254740993LL)), rtl::Variant(int64_t(-9223372036854775807LL))});
             EXPECT_EQ(Column(q, [](rtl::TField& f) { return f.AsString(); }),
                       (std::vector<std::string>{"9007199254740993", "-9223372036854775807"}));
         }},
        {"FloatsExactly",
         [](Context& c) {
             const std::vector<double> values = {0.1, 1.0 / 3, -2.5e-100, 6.02214076e23, 123456789.125};
             std::vector<rtl::Variant> in;
             for (double v : values)
                 in.emplace_back(v);
             TSDQuery& q = RoundTrip(c, Kind::Float, in);
             size_t i = 0;
             for (q.First(); !q.Eof(); q.Next(), ++i) {
                 const double got = q.FieldByName("V").AsFloat();
                 if (c.driver.Caps().ExactFloats)
                     EXPECT_EQ(got, values[i]) << "row " << i;
                 else  // fifteen significant digits, all a text form of a double may carry
                     EXPECT_NEAR(got, values[i], std::fabs(values[i]) * 1e-14) << "row " << i;
             }
             EXPECT_EQ(i, values.size());
         }},
        {"Decimals",
         [](Context& c) {
             TSDQuery& q = RoundTrip(c, Kind::Decimal,
                                     {rtl::Variant(12345.67), rtl::Variant(-0.05), rtl::Variant(0.0)});
             EXPECT_EQ(Column(q, [](rtl::TField& f) { return rtl::FloatToStr(f.AsFloat()); }),
                       (std::vector<std::string>{"12345.67", "-0.05", "0"}));
         }},
        {"DatesAndTimeStamps",
         [](Context& c) {
             const rtl::TDateTime day = rtl::EncodeDate(2024, 2, 29);
             TSDQuery& d = RoundTrip(c, Kind::Date, {rtl::Variant::FromDateTime(day)});
             EXPECT_EQ(Stamp(d.FieldByName("V").AsDateTime()), "2024-02-29 00:00:00.000");
             c.DropTable();
             const rtl::TDateTime stamp = rtl::EncodeDate(1999, 12, 31) + rtl::EncodeTime(23, 59, 58, 123);
             TSDQuery& q = RoundTrip(c, Kind::DateTime, {rtl::Variant::FromDateTime(stamp)});
             EXPECT_EQ(Stamp(q.FieldByName("V").AsDateTime()),
                       c.driver.Caps().Milliseconds ? "1999-12-31 23:59:58.123" : "1999-12-31 23:59:58.000");
         }},
        {"TimesOfDay",
         [](Context& c) {
             if (!c.driver.Caps().TimeOfDay) {
                 // No time-of-day type: a time parameter is refused clearly and nothing breaks.
                 EXPECT_THROW(RoundTrip(c, Kind::Time, {rtl::Variant::FromDateTime(rtl::EncodeTime(7, 8, 9, 0))}),
                              rtl::EDatabaseError);
                 EXPECT_EQ(c.Open("select count(*) as N from KWC").FieldByName("N").AsInteger(), 0);
                 return;
             }
             // Midnight is a time like any other, written and compared with its time part.
             TSDQuery& q = RoundTrip(c, Kind::Time,
                                     {rtl::Variant::FromDateTime(rtl::EncodeTime(7, 8, 9, 0)),
                                      rtl::Variant::FromDateTime(0.0)});
             EXPECT_EQ(Column(q, [](rtl::TField& f) { return Stamp(f.AsDateTime()).substr(11); }),
                       (std::vector<std::string>{"07:08:09.000", "00:00:00.000"}));
             for (const double time : {rtl::EncodeTime(7, 8, 9, 0), 0.0}) {
                 TSDQuery& found = c.Query("select ID from KWC where V = :V");
                 c.Set(found, "V", Kind::Time, rtl::Variant::FromDateTime(time));
                 found.Open();
                 EXPECT_EQ(found.FieldByName("ID").AsInteger(), time == 0.0 ? 2 : 1);
             }
         }},
        {"TextsWithAccentsQuotesAndBackslashes",
         [](Context& c) {
             const std::string text = "Ação 'x' \"y\" \\z ; -- ü";
             // The table comes before the transaction: a server may let a transaction use a
             // table only once the one that made it has committed (Firebird).
             CreateTable(c, Kind::Text);
             c.db.StartTransaction();
             TSDQuery& q = RoundTrip(c, Kind::Text, {rtl::Variant(text)}, false);
             c.db.Commit();
             EXPECT_EQ(q.FieldByName("V").AsString(), text);
             EXPECT_EQ(c.driver.Outside("select V from KWC"), (Rows{{text}}));
         }},
        {"FixedCharWithAndWithoutTrimming",
         [](Context& c) {
             TSDQuery& q = RoundTrip(c, Kind::FixedChar, {rtl::Variant("ab")});
             EXPECT_EQ(q.FieldByName("V").AsString(), "ab");  // RTRIM CHAR OUTPUT is on by default
             q.Close();
             c.db.Close();
             c.db.Params().SetValue("RTRIM CHAR OUTPUT", "FALSE");
             c.db.Open();
             TSDQuery& raw = c.Open("select V from KWC");
             EXPECT_EQ(raw.FieldByName("V").AsString(), c.driver.Caps().FixedCharPadded ? "ab      " : "ab");
         }},
        {"EmptyStringBesideNull",
         [](Context& c) {
             TSDQuery& q = RoundTrip(c, Kind::Text, {rtl::Variant(std::string()), rtl::Variant()});
             // A text parameter with the empty text is not null; the server decides what it stores.
             EXPECT_EQ(Column(q, [](rtl::TField& f) { return "[" + f.AsString() + "]"; }),
                       (std::vector<std::string>{c.driver.Caps().EmptyStringIsNull ? "<null>" : "[]", "<null>"}));
         }},
        {"NullInEveryType",
         [](Context& c) {
             std::vector<Kind> kinds = {Kind::Integer, Kind::Float, Kind::Decimal, Kind::Date, Kind::DateTime,
                                        Kind::Text, Kind::FixedChar, Kind::Blob, Kind::Memo};
             if (c.driver.Caps().BigInt) kinds.push_back(Kind::BigInt);
             if (c.driver.Caps().TimeOfDay) kinds.push_back(Kind::Time);
             std::string ddl = "create table KWC (ID " + c.T(Kind::Key) + " not null primary key";
             std::string columns, markers;
             for (size_t i = 0; i < kinds.size(); ++i) {
                 ddl += ", C" + std::to_string(i) + " " + c.T(kinds[i]);
                 columns += ", C" + std::to_string(i);
                 markers += ", :C" + std::to_string(i);
             }
             c.Run(ddl + ")");
             TSDQuery& insert = c.Query("insert into KWC (ID" + columns + ") values (:ID" + markers + ")");
             c.Set(insert, "ID", Kind::Key, rtl::Variant(int32_t(1)));
             for (size_t i = 0; i < kinds.size(); ++i)
                 c.Set(insert, "C" + std::to_string(i), kinds[i], rtl::Variant());
             insert.ExecuteStatement();
             TSDQuery& q = c.Open("select * from KWC");
             for (size_t i = 0; i < kinds.size(); ++i)
                 EXPECT_TRUE(q.FieldByName("C" + std::to_string(i)).IsNull()) << "column " << i;
         }},
        {"BlobsAndMemosBeyondThePieceSize",
         [](Context& c) {
             rtl::ByteArray bytes(5000);
             for (size_t i = 0; i < bytes.size(); ++i)
                 bytes[i] = uint8_t(i % 7 == 0 ? 0 : i * 13);
             std::string memo;
             while (memo.size() < 4000)
                 memo += "ção ";
             for (Kind kind : {Kind::Blob, Kind::Memo}) {
                 SCOPED_TRACE(kind == Kind::Blob ? "blob" : "memo");
                 c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key, V " + c.T(kind) + ")");
                 c.Run("insert into KWC (ID) values (1)");
                 TSDQuery& live = c.Query("select ID, V from KWC");
                 live.SetRequestLive(true);
                 live.SetCachedUpdates(false);
                 live.Open();
                 live.Edit();
                 {
                     TSDBlobStream out(live.FieldByName("V"), rtl::bmWrite);
                     if (kind == Kind::Blob)
                         out.Write(bytes.data(), bytes.size());
                     else
                         out.Write(memo.data(), memo.size());
                 }
                 live.Post();
                 live.Close();
                 TSDQuery& back = c.Open("select V from KWC where ID = 1");
                 TSDBlobStream in(back.FieldByName("V"), rtl::bmRead);
                 std::string got(size_t(in.Size()), '\0');
                 EXPECT_EQ(in.Read(got.data(), got.size()), got.size());
                 EXPECT_EQ(got, kind == Kind::Blob ? std::string(bytes.begin(), bytes.end()) : memo);
                 back.Close();
                 c.DropTable();
             }
         }},
        {"CommitAndRollback",
         [](Context& c) {
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key)");
             c.db.StartTransaction();
             c.Run("insert into KWC (ID) values (1)");
             c.db.Commit();
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC"), (Rows{{"1"}}));
             c.db.StartTransaction();
             c.Run("insert into KWC (ID) values (2)");
             c.db.Rollback();
             EXPECT_FALSE(c.db.GetInTransaction());
             EXPECT_EQ(c.Open("select count(*) as N from KWC").FieldByName("N").AsInteger(), 1);
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC"), (Rows{{"1"}}));
         }},
        {"AutoCommitOutsideTransactions",
         [](Context& c) {
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key)");
             c.Run("insert into KWC (ID) values (1)");
             // Another client sees the row at once where statements commit by themselves; else
             // only after a commit.
             const Rows before = c.driver.Outside("select count(*) from KWC");
             EXPECT_EQ(before, (Rows{{c.driver.Caps().AutoCommit ? "1" : "0"}}));
             EXPECT_EQ(c.db.SqlDatabase()->AutoCommit, c.driver.Caps().AutoCommit);
             c.db.StartTransaction();
             c.db.Commit();
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC"), (Rows{{"1"}}));
         }},
        {"EveryIsolationLevel",
         [](Context& c) {
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key)");
             for (TSDTransIsolation level : {tiDirtyRead, tiReadCommitted, tiRepeatableRead}) {
                 SCOPED_TRACE(int(level));
                 c.db.Close();
                 c.db.SetTransIsolation(level);
                 c.db.Open();
                 c.db.StartTransaction();
                 EXPECT_EQ(c.Open("select count(*) as N from KWC").FieldByName("N").AsInteger(), 0);
                 c.db.Commit();
             }
         }},
        {"ACursorOpenAcrossACommit",
         [](Context& c) {
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key)");
             for (int i = 1; i <= 40; ++i)
                 c.Run("insert into KWC (ID) values (" + std::to_string(i) + ")");
             TSDQuery& q = c.Open("select ID from KWC order by ID");
             c.db.StartTransaction();
             c.Run("insert into KWC (ID) values (41)");
             c.db.Commit();
             // The rows read are those of the open cursor, in order and whole, whatever the
             // driver keeps open across the commit.
             int count = 0;
             for (; !q.Eof(); q.Next())
                 EXPECT_EQ(q.FieldByName("ID").AsInteger(), ++count);
             EXPECT_TRUE(count == 40 || count == 41) << count;
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC"), (Rows{{"41"}}));
         }},
        {"ParameterMarkers",
         [](Context& c) {
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key, A " + c.T(Kind::Integer) +
                   ", B " + c.T(Kind::Integer) + ", S " + c.T(Kind::Text) + ")");
             // :p1 beside :p10.
             c.db.StartTransaction();
             TSDQuery& insert = c.Query("insert into KWC (ID, A, B) values (:p10, :p1, :p10)");
             c.Set(insert, "p1", Kind::Integer, rtl::Variant(int32_t(1)));
             c.Set(insert, "p10", Kind::Integer, rtl::Variant(int32_t(10)));
             insert.ExecuteStatement();
             c.db.Commit();
             EXPECT_EQ(c.driver.Outside("select ID, A, B from KWC"), (Rows{{"10", "1", "10"}}));
             // A repeated marker is a parameter per place.
             TSDQuery& twice = c.Query("select count(*) as N from KWC where A = :x or B = :x");
             EXPECT_EQ(twice.Params().Count(), 2);
             c.Set(twice, "x", Kind::Integer, rtl::Variant(int32_t(10)));
             twice.Open();
             EXPECT_EQ(twice.FieldByName("N").AsInteger(), 1);
             // A marker inside a literal is text.
             TSDQuery& literal = c.Query("select ':p1' as L, A from KWC where A = :p1");
             EXPECT_EQ(literal.Params().Count(), 1);
             c.Set(literal, "p1", Kind::Integer, rtl::Variant(int32_t(1)));
             literal.Open();
             EXPECT_EQ(literal.FieldByName("L").AsString(), ":p1");
             // A value that tries to end the statement is stored as it stands.
             const std::string hostile = "x'); delete from KWC; --";
             c.db.StartTransaction();
             TSDQuery& update = c.Query("update KWC set S = :S where ID = :ID");
             c.Set(update, "S", Kind::Text, rtl::Variant(hostile));
             c.Set(update, "ID", Kind::Key, rtl::Variant(int32_t(10)));
             update.ExecuteStatement();
             c.db.Commit();
             EXPECT_EQ(c.driver.Outside("select S from KWC"), (Rows{{hostile}}));
         }},
        {"CatalogUnderTheLibrarysNames",
         [](Context& c) {
             c.Run("create table KWCAT (ID " + c.T(Kind::Key) + " not null primary key, NAME " + c.T(Kind::Text) + ")");
             const std::string table = c.driver.CatalogName("KWCAT");
             auto has = [](TSDQuery& q, std::initializer_list<const char*> names) {
                 for (const char* n : names) EXPECT_NE(q.FindField(n), nullptr) << n;
             };
             auto values = [](TSDQuery& q, const char* field) {
                 std::vector<std::string> out;
                 for (q.First(); !q.Eof(); q.Next()) out.push_back(rtl::TrimRight(q.FieldByName(field).AsString()));
                 return out;
             };
             std::unique_ptr<TSDQuery> tables = OpenSchemaQuery(c.db, stTables, table);
             ASSERT_TRUE(tables);
             has(*tables, {"CATALOG_NAME", "SCHEMA_NAME", "TABLE_NAME", "TABLE_TYPE"});
             EXPECT_EQ(values(*tables, "TABLE_NAME"), std::vector<std::string>{table});
             std::unique_ptr<TSDQuery> system = OpenSchemaQuery(c.db, stSysTables, "");
             ASSERT_TRUE(system);
             has(*system, {"CATALOG_NAME", "SCHEMA_NAME", "TABLE_NAME", "TABLE_TYPE"});
             std::unique_ptr<TSDQuery> columns = OpenSchemaQuery(c.db, stColumns, table);
             ASSERT_TRUE(columns);
             has(*columns, {"TABLE_NAME", "COLUMN_NAME", "COLUMN_POSITION", "COLUMN_TYPENAME"});
             EXPECT_EQ(values(*columns, "COLUMN_NAME"),
                       (std::vector<std::string>{c.driver.CatalogName("ID"), c.driver.CatalogName("NAME")}));
             std::unique_ptr<TSDQuery> indexes = OpenSchemaQuery(c.db, stIndexes, table);
             ASSERT_TRUE(indexes);
             has(*indexes, {"TABLE_NAME", "INDEX_NAME", "COLUMN_NAME", "INDEX_TYPE"});
             bool keyed = false;
             for (indexes->First(); !indexes->Eof(); indexes->Next())
                 keyed = keyed || (rtl::TrimRight(indexes->FieldByName("COLUMN_NAME").AsString()) ==
                                       c.driver.CatalogName("ID") &&
                                   (indexes->FieldByName("INDEX_TYPE").AsInteger() & 2) != 0);
             EXPECT_TRUE(keyed) << "the key's unique index is listed";
             // A pattern holding a quote finds nothing and breaks nothing.
             std::unique_ptr<TSDQuery> quoted = OpenSchemaQuery(c.db, stTables, "KW'CAT%");
             ASSERT_TRUE(quoted);
             EXPECT_TRUE(quoted->Eof());
         }},
        {"LiveUpdatesWhereAll", [](Context& c) { LiveUpdates(c, rtl::upWhereAll); }},
        {"LiveUpdatesWhereChanged", [](Context& c) { LiveUpdates(c, rtl::upWhereChanged); }},
        {"LiveUpdatesWhereKeyOnly", [](Context& c) { LiveUpdates(c, rtl::upWhereKeyOnly); }},
        {"LiveInsertsLeaveUnassignedColumnsToTheServer",
         [](Context& c) {
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key, N " +
                   c.T(Kind::Integer) + ", DV " + c.T(Kind::Integer) + " default 7, S " + c.T(Kind::Text) +
                   ")");
             TSDQuery& q = c.Query("select ID, N, DV, S from KWC");
             q.SetRequestLive(true);
             q.SetCachedUpdates(false);
             q.Open();
             // A column the insert never assigned takes the server's default; an assigned
             // NULL is written.
             q.Append();
             q.FieldByName("ID").SetAsInteger(1);
             q.FieldByName("N").SetAsInteger(1);
             EXPECT_NO_THROW(q.Post());
             q.Append();
             q.FieldByName("ID").SetAsInteger(2);
             q.FieldByName("DV").Clear();
             q.FieldByName("S").SetAsString("x");
             EXPECT_NO_THROW(q.Post());
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC where ID = 1 and DV = 7"), (Rows{{"1"}}));
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC where ID = 2 and DV is null and N is null"),
                       (Rows{{"1"}}));
             q.Close();

             const std::string key = c.driver.ServerKeyColumn();
             if (key.empty()) return;
             // A key left empty is the server's to fill, and comes back with AutoRefresh.
             c.Run("create table KWK (" + key + ", N " + c.T(Kind::Integer) + ")");
             TSDQuery& k = c.Query("select ID, N from KWK");
             k.SetRequestLive(true);
             k.SetCachedUpdates(false);
             k.SetAutoRefresh(true);
             k.Open();
             k.Append();
             k.FieldByName("N").SetAsInteger(5);
             EXPECT_NO_THROW(k.Post());
             const Rows stored = c.driver.Outside("select ID from KWK where N = 5");
             ASSERT_EQ(stored.size(), 1u);
             if (!c.driver.ReadsServerKeysBack()) return;
             EXPECT_EQ(k.FieldByName("ID").AsString(), stored[0][0]);
             // The row is known by its key: it can be changed at once.
             k.Edit();
             k.FieldByName("N").SetAsInteger(6);
             EXPECT_NO_THROW(k.Post());
             EXPECT_EQ(c.driver.Outside("select count(*) from KWK where N = 6"), (Rows{{"1"}}));
             k.Close();
             c.queries.clear();
             c.Run("drop table KWK");
         }},
        {"ExactNumericsWithEnableBcd",
         [](Context& c) {
             const Driver::ExactNumeric wide = c.driver.WideDecimal();
             if (wide.Type.empty())
                 GTEST_SKIP() << c.driver.Name() << ": no exact numeric past a double's digits";
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key, V " + wide.Type +
                   ", W " + wide.Type + ")");
             c.driver.Outside("insert into KWC (ID, V, W) values (1, " + wide.Largest + ", -" + wide.Largest +
                              ")");
             c.db.Close();
             c.db.Params().SetValue("ENABLE BCD", "TRUE");
             c.db.Open();
             TSDQuery& q = c.Query("select ID, V, W from KWC");
             q.SetRequestLive(true);
             q.SetCachedUpdates(false);
             q.Open();
             EXPECT_EQ(q.FieldByName("V").DataType(), ftBCD);
             EXPECT_EQ(q.FieldByName("V").AsString(), wide.Largest);
             EXPECT_EQ(q.FieldByName("W").AsString(), "-" + wide.Largest);
             // Written back exactly, and the row found by its exact values.
             q.Edit();
             q.FieldByName("V").SetAsString("1234.5");
             EXPECT_NO_THROW(q.Post());
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC where V = 1234.5 and W = -" + wide.Largest),
                       (Rows{{"1"}}));
             TSDQuery& insert = c.Query("insert into KWC (ID, V) values (2, :V)");
             insert.Params().ParamByName("V").SetDataType(ftBCD);
             insert.Params().ParamByName("V").SetValue(rtl::Variant(wide.Largest));
             insert.ExecuteStatement();
             EXPECT_EQ(c.driver.Outside("select count(*) from KWC where ID = 2 and V = " + wide.Largest),
                       (Rows{{"1"}}));
         }},
        {"ColonsOfArraySlicesAndCastsAreNoMarkers",
         [](Context& c) {
             const std::string array = c.driver.IntegerArrayType();
             if (array.empty()) GTEST_SKIP() << c.driver.Name() << ": no arrays";
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key, A " + array + ")");
             c.driver.Outside("insert into KWC (ID, A) values (1, '{10,20,30}')");
             TSDQuery& q = c.Query(
                 "select A[1:2] as S, A[:2] as T, A[2:] as U, :n::int + 1 as V from KWC where ID = :id");
             ASSERT_EQ(q.Params().Count(), 2);
             c.Set(q, "n", Kind::Integer, rtl::Variant(int32_t(41)));
             c.Set(q, "id", Kind::Key, rtl::Variant(int32_t(1)));
             q.Open();
             EXPECT_EQ(q.FieldByName("S").AsString(), "{10,20}");
             EXPECT_EQ(q.FieldByName("T").AsString(), "{10,20}");
             EXPECT_EQ(q.FieldByName("U").AsString(), "{20,30}");
             EXPECT_EQ(q.FieldByName("V").AsInteger(), 42);
         }},
        {"LostConnection",
         [](Context& c) {
             const std::string why = c.driver.Caps().NoLostConnection;
             if (!why.empty()) GTEST_SKIP() << c.driver.Name() << ": " << why;
             c.Run("create table KWC (ID " + c.T(Kind::Key) + " not null primary key)");
             c.db.StartTransaction();
             c.Run("insert into KWC (ID) values (1)");
             c.db.Commit();
             int events = 0;
             c.db.OnLostConnectError = [&](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& action) {
                 ++events;
                 EXPECT_TRUE(e.ConnectionLost);
                 action = lcCloseConnect;
             };
             c.driver.BreakConnection(c.db);
             try {
                 c.Open("select ID from KWC");
                 FAIL() << "the broken connection answered";
             } catch (const ESDEngineError& e) {
                 EXPECT_TRUE(e.ConnectionLost) << e.Message() << " state " << c.driver.ErrorState(e);
             }
             EXPECT_EQ(events, 1);
             EXPECT_TRUE(c.db.ConnectionLost());
             c.queries.clear();
             c.db.Close();
             c.db.Open();
             EXPECT_FALSE(c.db.ConnectionLost());
             EXPECT_EQ(c.Open("select count(*) as N from KWC").FieldByName("N").AsInteger(), 1);
         }},
    };
    return cases;
}

inline std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const Case& c : Cases()) names.push_back(c.Name);
    return names;
}

// The test of one case on one driver: a fresh database, the case, everything closed.
class Test : public ::testing::TestWithParam<std::string> {
protected:
    virtual std::unique_ptr<Driver> MakeDriver() = 0;

    void RunCase() {
        driver_ = MakeDriver();
        std::string reason;
        const bool available = driver_->Available(reason);
        KW_REQUIRE_PEER(available, reason);
        db_ = std::make_unique<TSDDatabase>();
        db_->SetDatabaseName("conformance");
        db_->SetLoginPrompt(false);
        db_->SetTransIsolation(tiReadCommitted);
        driver_->Configure(*db_);
        db_->Open();
        Context context{*driver_, *db_, {}};
        for (const Case& c : Cases())
            if (GetParam() == c.Name) {
                c.Run(context);
                context.queries.clear();
                return;
            }
        FAIL() << "no case " << GetParam();
    }
    void TearDown() override {
        if (db_) {
            try {
                db_->Close();
            } catch (const std::exception&) {
            }
        }
        db_.reset();
        driver_.reset();
    }

    std::unique_ptr<Driver> driver_;
    std::unique_ptr<TSDDatabase> db_;
};

}  // namespace conformance

// One test per case of the table for a driver's fixture class.
#define KW_DRIVER_CONFORMANCE(Suite, DriverClass)                                                       \
    class Suite : public ::conformance::Test {                                                          \
    protected:                                                                                          \
        std::unique_ptr<::conformance::Driver> MakeDriver() override { return std::make_unique<DriverClass>(); } \
    };                                                                                                  \
    TEST_P(Suite, Case) { RunCase(); }                                                                  \
    INSTANTIATE_TEST_SUITE_P(Table, Suite, ::testing::ValuesIn(::conformance::CaseNames()),             \
                             [](const ::testing::TestParamInfo<std::string>& info) { return info.param; })
