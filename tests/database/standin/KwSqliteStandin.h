// tests/database/standin/KwSqliteStandin.h: what the stand-in client libraries of the tests
// share (built into each of them, tests only).
//
// Debian has no client library for several of the servers the SQL library speaks to; the
// tests put a small library of our own in its place, which implements the calls a driver
// makes over a SQLite file. These helpers are the part every such stand-in needs:
//   - Journal: the calls a test looks at, one line each, read back through the library's
//     KwStandinJournal export;
//   - FailureSwitch: "fail the next N calls named X with error E" ("*" names every call);
//   - DeclaredType / ParseDeclaredType: a column's declared type, as the server's DDL wrote it
//     ("NUMBER(10,2)", "VARCHAR2(40)", "TIMESTAMP WITH TIME ZONE"), split into its name and
//     its numbers;
//   - Value and ReadRows: SQLite values and whole results, read once and kept;
//   - the date-time text form the stand-ins store ("YYYY-MM-DD HH:MM:SS[.fraction][+HH:MM]"),
//     which the sqlite3 shell shows as it stands.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kwstandin {

class Journal {
public:
    void Add(const std::string& line);
    // The whole journal; the returned pointer stays valid until the next Text or Clear.
    const char* Text();
    void Clear();

private:
    std::mutex lock_;
    std::string text_;
    std::string copy_;
};

class FailureSwitch {
public:
    // The next `count` calls named `call` ("*": any call) fail with `code`.
    void Arm(const std::string& call, int code, int count);
    // Whether this call is to fail; its code then.
    bool Take(const std::string& call, int& code);
    void Clear();

private:
    struct Entry {
        int code;
        int count;
    };
    std::mutex lock_;
    std::map<std::string, Entry> entries_;
};

struct DeclaredType {
    std::string Name;     // upper-cased, blanks single, "_" read as a blank
    int Length = -1;      // the first number in parentheses, -1 when none
    int Scale = -1;       // the second number, -1 when none
};
DeclaredType ParseDeclaredType(const char* declared);

struct Value {
    int Type = SQLITE_NULL;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
    int64_t Integer = 0;
    double Real = 0;
    std::string Bytes;  // text or blob

    static Value Null() { return Value(); }
    static Value Int(int64_t v);
    static Value Float(double v);
    static Value Text(std::string v);
    static Value Blob(std::string v);
    bool IsNull() const { return Type == SQLITE_NULL; }
    // The value as text: integers in decimal, reals with up to 17 significant digits.
    std::string AsText() const;
    double AsReal() const;
    int64_t AsInteger() const;
};
using Row = std::vector<Value>;

Value ColumnValue(sqlite3_stmt* stmt, int column);
void BindValue(sqlite3_stmt* stmt, int index, const Value& value);

// Date-time parts and their text form.
struct DateTimeParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
    uint32_t Nanosecond = 0;
    bool HasZone = false;
    int ZoneHours = 0, ZoneMinutes = 0;  // the offset, both with its sign
};
// "YYYY-MM-DD[ HH:MM:SS[.fraction]][ +HH:MM]"; false when the text is none of these.
bool ParseDateTime(const std::string& text, DateTimeParts& parts);
// The fraction is written with three digits when it is whole milliseconds, else nine, and
// left out when it is 0; the zone only when HasZone.
std::string FormatDateTime(const DateTimeParts& parts);
// "+HH:MM" / "-HH:MM" into hours and minutes, both signed alike.
bool ParseZone(const std::string& text, int& hours, int& minutes);

std::string Upper(std::string s);
bool SameText(const std::string& a, const std::string& b);
std::string TrimText(const std::string& s);

}  // namespace kwstandin
