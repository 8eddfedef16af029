// database/drivers/SDMySqlCommand.cpp: the MySQL driver's commands and catalog commands (unit
// SDMySql).
//
// A command holds at most one client result. States:
//   no result   result_ == nullptr (created, closed, or the statement had no result set:
//               rows affected and insert id are known then)
//   described   result_ opened by GetFieldDescs, described_ set: the next DoExecute of the
//               same statement text reads it instead of sending the statement again
//   open        result_ opened by an execution; rows come with DoFetchNextRow. In unbuffered
//               mode the command holds the connection (TIMyDatabase::SetActiveCommand) until
//               it is closed or another statement makes it read its remaining rows.
// The catalog commands add computed columns after the server's, written into the row buffer
// after each row.
#include <algorithm>
#include <cstring>

#include "database/drivers/SDMySql.h"
#include "database/drivers/SDSqlLiterals.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// A text column wider than this (JSON, long geometries' text) is read as a long value, kept
// whole in a blob slot instead of a row cell of its declared width.
constexpr unsigned long kMaxTextCellSize = 1 << 20;
constexpr int32_t kCatalogTextSize = 50;

const TMySqlFunctions& My() {
    return MySqlFunctions();
}

// MySQL's own text forms (StoreSqlTextValue).
struct TMySqlTextForms {
    static constexpr const char* kCaller = "TIMyCommand.GetCnvtFieldData";
    static constexpr TSDServerType kServer = stMySQL;
    static constexpr bool kTextAtColumnSize = true;

    // Set when the value, up to its first zero byte, is not empty (a BIT(1) 0 is a zero byte).
    static bool IsTrue(const char* text, size_t length) { return length > 0 && text[0] != 0; }
    static double ToDouble(const TSDFieldDesc&, const char* text, size_t length) {
        double v = 0;
        if (!ParseSqlDouble(text, length, v)) v = SqlTextToFloat(std::string(text, length), 0);
        return v;
    }
    bool TrimFixedChar() const { return command.GetSqlDatabase().RTrimCharOutput; }

    const TISqlCommand& command;
};

// Appends a computed catalog column.
void AddComputed(TSDFieldDescList& list, const char* name, bool integer, bool required = false) {
    TSDFieldDesc& d = list.AddFieldDesc();
    d.FieldName = name;
    d.FieldNo = list.Count();
    d.FieldType = integer ? ftInteger : ftString;
    d.NativeType = int16_t(integer ? MYSQL_TYPE_LONG : MYSQL_TYPE_STRING);
    d.DataSize = integer ? 4 : kCatalogTextSize;
    d.Required = required;
}

void Rename(TSDFieldDescList& list, int position, const std::string& name) {
    if (position <= list.Count()) list.GetFieldDesc(position - 1).FieldName = name;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Texts of the dialect

std::string MySqlQuoteTableName(const std::string& name) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (char c : name) {
        if (c == '`') quoted = !quoted;
        if (c == '.' && !quoted) {
            parts.emplace_back();
            continue;
        }
        parts.back() += c;
    }
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty()) out += '.';
        const bool alreadyQuoted = part.size() >= 2 && part.front() == '`' && part.back() == '`';
        out += alreadyQuoted ? part : "`" + rtl::StringReplace(part, "`", "``") + "`";
    }
    return out;
}

namespace {

// A hexadecimal literal is a binary string: no character set check can refuse or change its
// bytes.
std::string MySqlBytesLiteral(const rtl::ByteArray& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "X'";
    out.reserve(bytes.size() * 2 + 3);
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out + "'";
}

}  // namespace

std::string MySqlParamLiteral(const TParam& param, const std::function<std::string(const std::string&)>& quoteString) {
    return ParamLiteral(param, TSqlLiteralDialect{"1", "0", MySqlBytesLiteral, quoteString});
}

TMySqlColumnType ParseMySqlColumnType(const std::string& typeText) {
    TMySqlColumnType t;
    std::string base = typeText;
    std::string args;
    const size_t open = typeText.find('(');
    if (open != std::string::npos) {
        base = typeText.substr(0, open);
        args = typeText.substr(open + 1);
        if (!args.empty() && args.back() == ')') args.pop_back();
    }
    const size_t comma = args.find(',');
    if (comma != std::string::npos) {
        const int32_t m = rtl::StrToIntDef(args.substr(0, comma), 0);
        const int32_t d = rtl::StrToIntDef(args.substr(comma + 1), 0);
        t.Precision = int32_t(int64_t(m) + d);
        t.Scale = d;
    } else {
        t.Precision = rtl::StrToIntDef(args, 0);
        t.Scale = 0;
    }
    if (StartsWith(base, "int") || StartsWith(base, "tinyint") || StartsWith(base, "smallint") ||
        StartsWith(base, "mediumint") || StartsWith(base, "bigint"))
        t.Length = 4;
    else if (StartsWith(base, "real") || StartsWith(base, "double") || StartsWith(base, "float") ||
             StartsWith(base, "decimal") || StartsWith(base, "numeric"))
        t.Length = 8;
    else if (base.find("char") != std::string::npos)
        t.Length = t.Precision;
    else if (base.find("time") != std::string::npos || base.find("date") != std::string::npos)
        t.Length = 8;
    else
        t.Length = 0;
    return t;
}

// ---------------------------------------------------------------------------------------------
// TIMyCommand

TIMyCommand::TIMyCommand(TIMyDatabase* database, rtl::Component* owner)
    : TISqlCommand(database, owner), unbuffered_(database->UnbufferedResults()) {}

TIMyCommand::~TIMyCommand() {
    Disconnect(false);
}

TIMyDatabase& TIMyCommand::MyDatabase() const {
    return static_cast<TIMyDatabase&>(GetSqlDatabase());
}

void TIMyCommand::RefuseProcedure() const {
    if (CommandType == 2) rtl::DatabaseError("Capability not supported");
}

void TIMyCommand::ResetStatement() {
    // An open result is released, not forgotten: forgotten, it would keep its memory and, in
    // unbuffered mode, the connection.
    if (result_ != nullptr) CloseResultSet();
    sentText_.clear();
    handle_ = MyDatabase().GetMySQLPtr();
}

std::string TIMyCommand::BuildSqlText() {
    TIMyDatabase& db = MyDatabase();
    return SubstituteParamLiterals(givenText_, Params, [&db](const TParam& p) {
        return MySqlParamLiteral(p, [&db](const std::string& s) { return db.QuoteString(s); });
    });
}

void TIMyCommand::ExecuteSql() {
    TIMyDatabase& db = MyDatabase();
    rowsAffected_ = -1;
    insertId_ = 0;
    described_ = false;
    if (unbuffered_) db.SetActiveCommand(this, true);
    sentText_ = BuildSqlText();
    if (My().mysql_real_query(handle_, sentText_.data(), static_cast<unsigned long>(sentText_.size())) != 0)
        db.Check(uintptr_t(0));
    result_ = unbuffered_ ? My().mysql_use_result(handle_) : My().mysql_store_result(handle_);
    if (result_ == nullptr) {
        // No result: a statement without rows, or rows the client could not read.
        if (My().mysql_field_count(handle_) != 0) db.Check(uintptr_t(0));
        rowsAffected_ = int64_t(My().mysql_affected_rows(handle_));
        insertId_ = My().mysql_insert_id(handle_);
        ReadRemainingResults();
        if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false);
    } else if (!unbuffered_) {
        // The rows are with the client already: what follows them can be read now.
        ReadRemainingResults();
    }
    serverColumns_ = result_ != nullptr ? int(My().mysql_num_fields(result_)) : 0;
}

void TIMyCommand::ReadRemainingResults() {
    // A CALL answers with the rows of its SELECTs and then a status of its own; until every
    // result of the answer is read the client refuses any other statement (2014, "Commands
    // out of sync"). The results after the first are read and let go: the command serves one.
    const TMySqlFunctions& my = My();
    if (handle_ == nullptr || my.mysql_more_results == nullptr || my.mysql_next_result == nullptr) return;
    while (my.mysql_more_results(handle_)) {
        const int next = my.mysql_next_result(handle_);
        if (next > 0) MyDatabase().Check(uintptr_t(0));
        if (next != 0) return;
        if (MYSQL_RES* extra = my.mysql_store_result(handle_)) {
            my.mysql_free_result(extra);
        } else if (my.mysql_field_count(handle_) != 0) {
            MyDatabase().Check(uintptr_t(0));
        } else if (result_ == nullptr) {
            rowsAffected_ = int64_t(my.mysql_affected_rows(handle_));
        }
    }
}

void TIMyCommand::BindParamsBuffer() {
    RefuseProcedure();
}

void TIMyCommand::DoPrepare(const std::string& sql) {
    RefuseProcedure();
    ResetStatement();
    givenText_ = sql;
    if (CommandText.empty()) SetCommandText(sql);
}

void TIMyCommand::DoExecDirect(const std::string& sql) {
    RefuseProcedure();
    ResetStatement();
    givenText_ = sql;
    ExecuteSql();
    if (result_ != nullptr && FieldDescs->Count() == 0) InitFieldDescs();
    SetPreparedText(sentText_);
}

void TIMyCommand::DoExecute() {
    RefuseProcedure();
    // Describing ran the statement already; its rows serve this execution only when it would
    // send the very same text (the parameters may have changed since). Any other open result
    // is of an earlier execution and is let go.
    const bool reuse = result_ != nullptr && described_ && BuildSqlText() == sentText_;
    if (reuse) {
        described_ = false;
    } else {
        if (result_ != nullptr) CloseResultSet();
        if (handle_ == nullptr) handle_ = MyDatabase().GetMySQLPtr();
        ExecuteSql();
    }
    if (result_ != nullptr && FieldDescs->Count() == 0) {
        InitFieldDescs();
        AllocFieldsBuffer();
        SetFieldsBuffer();
    }
    SetPreparedText(sentText_);
}

bool TIMyCommand::DoFetchNextRow() {
    if (result_ == nullptr) return false;
    if (My().mysql_fetch_row == nullptr) rtl::DatabaseError("The MySQL client library is not loaded");
    row_ = My().mysql_fetch_row(result_);
    MyDatabase().MarkActivity();
    if (row_ == nullptr) {
        lengths_ = nullptr;
        // An unbuffered result ends early when the link breaks: that is an error, not the
        // end of the rows.
        if (unbuffered_ && handle_ != nullptr && My().mysql_errno(handle_) != 0) MyDatabase().Check(uintptr_t(0));
        if (unbuffered_) ReadRemainingResults();
        return false;
    }
    lengths_ = My().mysql_fetch_lengths(result_);
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

void TIMyCommand::InitParamList() {
    rtl::DatabaseError("Capability not supported");
}

TFieldType TIMyCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_FLOAT:
        case MYSQL_TYPE_DOUBLE:
        case MYSQL_TYPE_NEWDECIMAL:
            return ftFloat;
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
            return ftSmallint;
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_INT24:
        case MYSQL_TYPE_YEAR:
            return ftInteger;
        case MYSQL_TYPE_LONGLONG:
            return ftLargeint;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE:
            return ftDate;
        case MYSQL_TYPE_TIME:
            return ftTime;
        case MYSQL_TYPE_DATETIME:
            return ftDateTime;
        case MYSQL_TYPE_BIT:
            return ftBoolean;
        case MYSQL_TYPE_TINY_BLOB:
        case MYSQL_TYPE_MEDIUM_BLOB:
        case MYSQL_TYPE_LONG_BLOB:
        case MYSQL_TYPE_BLOB:
        case MYSQL_TYPE_GEOMETRY:
            return ftBlob;
        default:
            return ftString;
    }
}

uint16_t TIMyCommand::NativeDataSize(TFieldType fieldType) {
    // The engine's cells of the fixed-size values; a date or time is its 8-byte record.
    static constexpr TSDSlotMap kCells =
        kEngineSlots.Only({ftSmallint, ftWord, ftBoolean, ftInteger, ftAutoInc, ftFloat, ftCurrency, ftDate,
                           ftTime, ftDateTime});
    return NativeSlotSize(kCells, fieldType, uint16_t(sizeof(TSDDateTimeRec)));
}

int32_t TIMyCommand::NativeDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
        case ftFixedChar:
            return 254;
        case ftSmallint:
        case ftWord:
        case ftBoolean:
            return 2;
        case ftInteger:
        case ftAutoInc:
            return 3;
        case ftFloat:
            return 4;
        case ftCurrency:
            return 0;
        case ftDate:
            return 10;
        case ftTime:
            return 11;
        case ftDateTime:
            return 12;
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
            return 251;
        case ftLargeint:
            return 8;
        default:
            return 0;
    }
}

bool TIMyCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    // What StoreSqlTextValue reads from the server's text.
    static constexpr TSDFieldTypes kConverted{ftSmallint, ftInteger,  ftBoolean, ftFloat,
                                              ftCurrency, ftDate,     ftTime,    ftDateTime,
                                              ftAutoInc,  ftLargeint, ftBCD};
    return kConverted.Has(fieldType);
}

void TIMyCommand::GetFieldDescs(TSDFieldDescList& list) {
    if (result_ == nullptr) {
        ResetStatement();
        ExecuteSql();
        if (result_ == nullptr) return;
        described_ = true;
    }
    const TIMyDatabase& db = MyDatabase();
    const unsigned int count = My().mysql_num_fields(result_);
    for (unsigned int i = 0; i < count; ++i) {
        const MYSQL_FIELD* f = My().mysql_fetch_field_direct(result_, i);
        rtl::Assert(f != nullptr, "TIMyCommand.GetFieldDescs: no description of column %d", int32_t(i + 1));
        TFieldType type = FieldDataType(f->type);
        // Unsigned values past the signed range of their type take the next wider one.
        if ((f->flags & UNSIGNED_FLAG) != 0) {
            if (f->type == MYSQL_TYPE_LONG) type = ftLargeint;
            if (f->type == MYSQL_TYPE_SHORT) type = ftInteger;
        }
        if (type == ftString && f->length > kMaxTextCellSize) type = ftMemo;
        int64_t size = int64_t(f->length) + (type == ftString ? 1 : 0);
        // A 64-bit key keeps its type: as ftAutoInc it would be cut to 32 bits.
        if (IsNumericFieldType(type) && type != ftLargeint && type != ftFloat && (f->flags & AUTO_INCREMENT_FLAG) != 0)
            type = ftAutoInc;
        // A DECIMAL's length counts its digits, its point and (when signed) its sign.
        const bool decimal = f->type == MYSQL_TYPE_DECIMAL || f->type == MYSQL_TYPE_NEWDECIMAL;
        const int64_t digits =
            int64_t(f->length) - (f->decimals > 0 ? 1 : 0) - ((f->flags & UNSIGNED_FLAG) ? 0 : 1);
        if (decimal && DecimalColumnIsBcd(db.EnableBCD, digits, f->decimals)) type = ftBCD;
        if (type == ftFloat && db.EnableMoney() && f->decimals >= 1 && f->decimals <= 4) type = ftCurrency;
        if (type == ftBlob && (f->flags & BINARY_FLAG) == 0) type = ftMemo;
        if (IsBlobFieldType(stMySQL, type)) size = 0;
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = PCharToString(f->name, int(kMaxFieldNameLen));
        d.FieldNo = int32_t(i + 1);
        d.FieldType = type;
        d.NativeType = int16_t(f->type);
        d.DataSize = FieldTypeHasSize(type) ? int32_t(std::min<int64_t>(size, kMaxBufferSize)) : NativeDataSize(type);
        d.Precision = int16_t(f->decimals);
        d.Required = (f->flags & NOT_NULL_FLAG) != 0;
        if (type == ftBCD) {
            d.DataSize = int32_t(sizeof(rtl::TBcd));
            d.Precision = int16_t(digits);
            d.Scale = int16_t(f->decimals);
        }
    }
    serverColumns_ = int(count);
}

void TIMyCommand::CloseResultSet() {
    if (result_ != nullptr) {
        // After the last connection let the library go nothing of it can be called.
        if (My().mysql_free_result != nullptr) My().mysql_free_result(result_);
        // Freeing an unbuffered result reads its rows to the end; the answer's further
        // results follow.
        result_ = nullptr;
        if (unbuffered_ && My().mysql_free_result != nullptr) ReadRemainingResults();
        TIMyDatabase& db = MyDatabase();
        if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false);
    }
    sentText_.clear();
    result_ = nullptr;
    row_ = nullptr;
    lengths_ = nullptr;
    described_ = false;
}

void TIMyCommand::Disconnect(bool) {
    if (result_ != nullptr) CloseResultSet();
    TIMyDatabase& db = MyDatabase();
    if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false);
    handle_ = nullptr;
}

// Read once per column of every row: inline in this file, where all its callers are.
inline const char* TIMyCommand::ServerValue(int column, unsigned long& length) const {
    rtl::Assert(row_ != nullptr && lengths_ != nullptr, "TIMyCommand: no current row");
    rtl::Assert(column >= 0 && column < serverColumns_, "TIMyCommand: column %d outside the result", column + 1);
    length = lengths_[column];
    return row_[column];
}

bool TIMyCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    auto* out = static_cast<char*>(dest);
    if (desc.FieldNo > serverColumns_) {
        // A computed catalog column: its cell in the row buffer.
        rtl::Assert(FieldsBuffer != nullptr, "TIMyCommand.GetCnvtFieldData: no row buffer");
        const uint8_t* cell = GetFieldCell(desc.FieldNo, FieldsBuffer.get());
        int32_t indicator = 0, length = 0;
        GetCellHeader(cell, 0, indicator, length);
        if (length <= 0 || destSize <= 0) return length > 0;
        int32_t n = std::min(length, destSize);
        if (desc.FieldType == ftString && n == destSize) --n;
        std::memcpy(out, cell + kCellHeaderSize, size_t(n));
        if (desc.FieldType == ftString) out[n] = 0;
        return true;
    }
    unsigned long length = 0;
    const char* value = ServerValue(desc.FieldNo - 1, length);
    if (value == nullptr) return false;
    return StoreServerValue(desc, value, length, dest, destSize);
}

void TIMyCommand::GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) {
    // The row is checked once; columns outside the server's (computed ones) and a missing row
    // take GetCnvtFieldData's way, with its checks.
    if (row_ == nullptr || lengths_ == nullptr) {
        TISqlCommand::GetCnvtRowData(cells, count, record);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const TSDFieldDesc& desc = *cells[i].Desc;
        uint8_t* p = record + cells[i].Slot;
        const int column = desc.FieldNo - 1;
        if (column < 0 || column >= serverColumns_) {
            p[0] = GetCnvtFieldData(desc, p + 1, cells[i].Limit) ? 1 : 0;
            continue;
        }
        const char* value = row_[column];
        p[0] = value != nullptr && StoreServerValue(desc, value, lengths_[column], p + 1, cells[i].Limit) ? 1
                                                                                                          : 0;
    }
}

// Inlined into both readers: its call would cost about what it does for most columns.
[[gnu::always_inline]] inline bool TIMyCommand::StoreServerValue(const TSDFieldDesc& desc, const char* value,
                                                                 unsigned long length, void* dest,
                                                                 int32_t destSize) {
    // The types RequiredCnvtFieldType names are read from their text.
    return StoreSqlTextValue(desc, value, length, dest, destSize, TMySqlTextForms{*this});
}

void TIMyCommand::GetOutputParams() {
    rtl::DatabaseError("Capability not supported");
}

int32_t TIMyCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    unsigned long length = 0;
    const char* value = ServerValue(desc.FieldNo - 1, length);
    if (length == 0 || value == nullptr) return 0;
    rtl::Assert(uint64_t(length) <= uint64_t(kMaxBufferSize), "TIMyCommand.ReadBlob: value of %d bytes", int64_t(length));
    data.assign(value, value + length);
    return int32_t(length);
}

// ---------------------------------------------------------------------------------------------
// Catalog commands

namespace {

// Writes computed values into the row buffer's cells.
class ComputedCells {
public:
    explicit ComputedCells(TISqlCommand& cmd) : cmd_(cmd) {}
    void Null(int32_t fieldNo) { SetCellHeader(Cell(fieldNo), 0, -1, 0); }
    void Integer(int32_t fieldNo, int32_t value) {
        uint8_t* cell = Cell(fieldNo);
        SetCellHeader(cell, 0, 0, 4);
        SetBufferInteger(cell, kCellHeaderSize, value);
    }
    // The text cut to leave room for its zero byte in the cell.
    void Text(int32_t fieldNo, const std::string& text) {
        uint8_t* cell = Cell(fieldNo);
        const int32_t room = cmd_.FieldDescs->FieldDescByNumber(fieldNo).DataSize - 1;
        const int32_t n = std::min<int32_t>(int32_t(std::min<size_t>(text.size(), size_t(INT32_MAX))), room);
        std::memcpy(cell + kCellHeaderSize, text.data(), size_t(n));
        cell[kCellHeaderSize + n] = 0;
        SetCellHeader(cell, 0, 0, n);
    }

private:
    uint8_t* Cell(int32_t fieldNo) {
        rtl::Assert(cmd_.FieldsBuffer != nullptr, "catalog command: no row buffer");
        return cmd_.GetFieldCell(fieldNo, cmd_.FieldsBuffer.get());
    }
    TISqlCommand& cmd_;
};

}  // namespace

TIMyCommandShowTables::TIMyCommandShowTables(TIMyDatabase* database, std::string pattern, bool systemTables)
    : TIMyCommand(database, nullptr), pattern_(std::move(pattern)), systemTables_(systemTables) {}

void TIMyCommandShowTables::DoExecDirect(const std::string&) {
    std::string sql = "SHOW TABLES";
    if (systemTables_) sql += " FROM mysql";
    if (!pattern_.empty()) sql += " like " + MyDatabase().QuoteString(pattern_);
    TIMyCommand::DoExecDirect(sql);
}

void TIMyCommandShowTables::GetFieldDescs(TSDFieldDescList& list) {
    TIMyCommand::GetFieldDescs(list);
    Rename(list, 1, "TABLE_NAME");
    AddComputed(list, "CATALOG_NAME", false);
    AddComputed(list, "SCHEMA_NAME", false);
    AddComputed(list, "TABLE_TYPE", true, true);
}

bool TIMyCommandShowTables::DoFetchNextRow() {
    if (!TIMyCommand::DoFetchNextRow()) return false;
    if (FieldsBuffer == nullptr) return true;
    ComputedCells cells(*this);
    const int32_t first = ServerColumns() + 1;
    cells.Null(first);
    cells.Null(first + 1);
    cells.Integer(first + 2, 1);
    return true;
}

TIMyCommandShowColumns::TIMyCommandShowColumns(TIMyDatabase* database, std::string tableName)
    : TIMyCommand(database, nullptr), tableName_(std::move(tableName)) {}

void TIMyCommandShowColumns::DoExecDirect(const std::string&) {
    position_ = 0;
    TIMyCommand::DoExecDirect("SHOW COLUMNS FROM " + MySqlQuoteTableName(tableName_));
}

void TIMyCommandShowColumns::GetFieldDescs(TSDFieldDescList& list) {
    TIMyCommand::GetFieldDescs(list);
    Rename(list, 1, "COLUMN_NAME");
    Rename(list, 2, "COLUMN_TYPENAME");
    Rename(list, 5, "COLUMN_DEFAULT");
    AddComputed(list, "CATALOG_NAME", false);
    AddComputed(list, "SCHEMA_NAME", false);
    AddComputed(list, "TABLE_NAME", false);
    AddComputed(list, "COLUMN_LENGTH", true);
    AddComputed(list, "COLUMN_PRECISION", true);
    AddComputed(list, "COLUMN_SCALE", true);
    AddComputed(list, "COLUMN_NULLABLE", true);
    // The library's name for a column's place in its table, which every driver's columns
    // request gives (SHOW COLUMNS lists them in that order).
    AddComputed(list, "COLUMN_POSITION", true);
}

bool TIMyCommandShowColumns::DoFetchNextRow() {
    if (!TIMyCommand::DoFetchNextRow()) return false;
    if (FieldsBuffer == nullptr) return true;
    ComputedCells cells(*this);
    const int32_t first = ServerColumns() + 1;
    cells.Null(first);
    cells.Null(first + 1);
    cells.Text(first + 2, tableName_);
    unsigned long length = 0;
    const char* type = ServerColumns() >= 2 ? ServerValue(1, length) : nullptr;
    const TMySqlColumnType t = ParseMySqlColumnType(type != nullptr ? std::string(type, length) : std::string());
    cells.Integer(first + 3, t.Length);
    if (t.Precision < 1)
        cells.Null(first + 4);
    else
        cells.Integer(first + 4, t.Precision);
    if (t.Scale < 1)
        cells.Null(first + 5);
    else
        cells.Integer(first + 5, t.Scale);
    const char* nullable = ServerColumns() >= 3 ? ServerValue(2, length) : nullptr;
    cells.Integer(first + 6, nullable != nullptr && length > 0 && (nullable[0] == 'Y' || nullable[0] == 'y') ? 1 : 0);
    cells.Integer(first + 7, ++position_);
    return true;
}

TIMyCommandShowIndexes::TIMyCommandShowIndexes(TIMyDatabase* database, std::string tableName)
    : TIMyCommand(database, nullptr), tableName_(std::move(tableName)) {}

void TIMyCommandShowIndexes::DoExecDirect(const std::string&) {
    TIMyCommand::DoExecDirect("SHOW INDEX FROM " + MySqlQuoteTableName(tableName_));
}

void TIMyCommandShowIndexes::GetFieldDescs(TSDFieldDescList& list) {
    TIMyCommand::GetFieldDescs(list);
    Rename(list, 1, "TABLE_NAME");
    Rename(list, 3, "INDEX_NAME");
    Rename(list, 4, "COLUMN_POSITION");
    Rename(list, 5, "COLUMN_NAME");
    Rename(list, 6, "SORT_ORDER");
    if (list.Count() >= 11) Rename(list, 11, "OLD_" + list.GetFieldDesc(10).FieldName);
    AddComputed(list, "CATALOG_NAME", false);
    AddComputed(list, "SCHEMA_NAME", false);
    AddComputed(list, "INDEX_TYPE", true);
    AddComputed(list, "INDEX_FILTER", false);
}

bool TIMyCommandShowIndexes::DoFetchNextRow() {
    if (!TIMyCommand::DoFetchNextRow()) return false;
    if (FieldsBuffer == nullptr) return true;
    ComputedCells cells(*this);
    const int32_t first = ServerColumns() + 1;
    cells.Null(first);
    cells.Null(first + 1);
    unsigned long length = 0;
    const char* nonUnique = ServerColumns() >= 2 ? ServerValue(1, length) : nullptr;
    const int32_t indicator = nonUnique != nullptr ? rtl::StrToIntDef(std::string(nonUnique, length), -1) : -1;
    cells.Integer(first + 2, indicator == 0 ? 2 : indicator == 1 ? 1 : 0);
    cells.Null(first + 3);
    return true;
}
