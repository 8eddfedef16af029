// database/engine/SDCommonUpdateSql.h: generated update statements and column origins (part of
// unit SDCommon).
//
// A dataset whose changed rows are written back without hand-written statements needs two
// things: the origin of each result column (the table and column it comes from), which
// AnalyseSelectText reads from the SELECT's select list and FROM list, and the statement that
// re-reads, updates, inserts or deletes one row, which GenerateModifySql builds from the
// fields' old and new values. The analysis is a light scan, not a parser: it stops at the
// first "BY" and knows only the words it lists. A select item that computes a value (a call,
// an operator, a literal) comes from no column: it gets no origin, and the generator leaves
// such a field out of every statement.
//
// What must stay true: a generated update or delete always carries a where clause. When no
// field yields a condition (key mode on a table without index fields, key fields that are all
// blobs) the generator raises instead of answering a statement that would change or delete
// every row of the table.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "rtl/FieldType.h"
#include "rtl/StringList.h"
#include "rtl/Variant.h"

// What GenerateModifySql builds, by the row's update status.
enum TSDModifyKind : int32_t {
    mkRefresh = 0,  // re-read one row
    mkModify = 1,
    mkInsert = 2,
    mkDelete = 3,
};

// One field of the dataset, as the generator sees it.
struct TSDUpdateField {
    std::string FieldName;
    bool IsDataField = true;    // false for calculated and lookup fields, which take no part
    bool IsBlob = false;        // a blob field (never in a where clause)
    bool Modified = false;      // the record wrote the field's value (a blob: its stream wrote it)
    bool IsIndexField = false;  // part of the table's unique key
    bool IsAutoInc = false;     // the server fills it (ftAutoInc, or marked auto-increment)
    rtl::Variant OldValue;
    rtl::Variant NewValue;
    // The condition on the column's old value (column, marker) in the where-all and
    // where-changed modes, when the driver compares it otherwise than with "=" (see
    // TISqlDatabase::OldValueCondition); a key-only statement compares keys with "=".
    std::function<std::string(const std::string& column, const std::string& marker)> OldValueCondition;
};

// How the engine holds a column's value that its server keeps more finely: time stamps and
// times cut to the millisecond or to the second, a single-precision float as the double of
// its text, an exact numeric as the nearest double.
enum class TSDHeldAs { Exact, Milliseconds, Seconds, SingleAsDouble, NumericAsDouble };

// PostgreSQL's condition that finds a column's value as the engine holds it (heldAs) by the
// marker of that value: the column cut to the engine's unit (date_trunc), a real compared
// with the value made real, a numeric compared as a double. Both PostgreSQL drivers (native
// and through ODBC) use it. "column = marker" for Exact.
std::string PostgresOldValueCondition(rtl::TFieldType type, TSDHeldAs heldAs, const std::string& column,
                                      const std::string& marker);

// The statement of the kind, with ":FIELD" markers for new values and ":OLD_FIELD" markers
// for old ones. An insert leaves out the fields whose new value is null and that the record
// never wrote, and auto-increment fields whose new value is null: the server fills them (its
// default, its key). When that leaves no column, the unwritten ones are named with NULL. "" when there is
// nothing to do (a refresh without condition, a modify in which no field changed). EDatabaseError for a
// modify or delete without any condition.
std::string GenerateModifySql(TSDModifyKind kind, rtl::TUpdateMode mode, const std::string& tableName,
                              bool quote, const std::vector<TSDUpdateField>& fields,
                              const rtl::StringList& origins);

// Maps the result columns to their origins (lines column=table.column) and lists the FROM
// list's tables (lines ALIAS=table, the alias upper-cased). rtl::EAssertionFailed when no
// column name is given.
void AnalyseSelectText(const std::string& text, const rtl::StringList& columnNames, rtl::StringList& origins,
                       rtl::StringList& tables);
