// database/drivers/SDPgSQLCommand.cpp: the PostgreSQL driver's command (unit SDPgSQL).
//
// A command holds at most one PGresult: the rows of its last execution, read row by row by
// index and converted from their text form on each GetCnvtFieldData. States:
//   no result    result_ == nullptr, rowCount_ 0, currentRow_ -1 (created, closed)
//   described    result_ from GetFieldDescs, describedResult_ set: the next DoExecute of the
//                same statement text uses it instead of sending the statement again
//   executed     result_ from an execution; rows 0..rowCount_-1, currentRow_ moves on with
//                DoFetchNextRow and is rowCount_ at the end
// ExecuteStatement moves any state to executed (freeing an earlier result), CloseResultSet
// back to no result.
#include <algorithm>
#include <cstring>

#include "database/drivers/SDPgSQL.h"
#include "database/drivers/SDSqlLiterals.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr int32_t kUnboundedTextSize = 8192;
// Fixed-size types read as text (uuid, interval, point, box, ...): their binary size says
// nothing of their text's, which is at most this long.
constexpr int32_t kFixedTypeTextSize = 256;

constexpr int32_t kOidName = 19;
constexpr int32_t kOidMoney = 790;
constexpr int32_t kOidBpchar = 1042;
constexpr int32_t kOidNumeric = 1700;

const TPgFunctions& Pg() {
    return PgFunctions();
}

void CheckLoaded() {
    if (Pg().PQgetvalue == nullptr) rtl::DatabaseError("The PostgreSQL client library is not loaded");
}

// PostgreSQL's own text forms (StoreSqlTextValue).
struct TPgTextForms {
    static constexpr const char* kCaller = "TIPgCommand.GetCnvtFieldData";
    static constexpr TSDServerType kServer = stPostgreSQL;
    static constexpr bool kTextAtColumnSize = false;

    static bool IsTrue(const char* text, size_t length) {
        return SqlTextToBoolean(std::string(text, length));
    }
    static double ToDouble(const TSDFieldDesc& desc, const char* text, size_t length) {
        double v = 0;
        // money carries a currency symbol and group separators in its text.
        if (desc.NativeType == kOidMoney) {
            if (!DecodePgMoney(text, length, v)) v = 0;
        } else if (!ParseSqlDouble(text, length, v)) {
            v = SqlTextToFloat(std::string(text, length), 0);
        }
        return v;
    }
    bool TrimFixedChar() const { return command.GetSqlDatabase().RTrimCharOutput; }

    const TISqlCommand& command;
};

}  // namespace

TIPgCommand::TIPgCommand(TIPgDatabase* database, rtl::Component* owner) : TISqlCommand(database, owner) {}

TIPgCommand::~TIPgCommand() {
    Disconnect(false);
    FreeResult();
}

TIPgDatabase& TIPgCommand::PgDatabase() const {
    return static_cast<TIPgDatabase&>(GetSqlDatabase());
}

void TIPgCommand::RefuseProcedure() const {
    if (CommandType == 2) rtl::DatabaseError("Capability not supported");
}

void TIPgCommand::FreeResult() {
    // After the last connection let the library go nothing of it can be called; the
    // result's memory goes with the process then.
    if (result_ != nullptr && Pg().PQclear != nullptr) Pg().PQclear(result_);
    result_ = nullptr;
    rowCount_ = 0;
    columnCount_ = 0;
    currentRow_ = -1;
    describedResult_ = false;
}

std::string TIPgCommand::BuildStatementText() const {
    return SubstituteParamLiterals(commandText_, Params, PgParamLiteral);
}

void TIPgCommand::ExecuteStatement() {
    rowsAffected_ = -1;
    statementText_ = BuildStatementText();
    // The client takes a zero-terminated text: anything after a zero byte would be cut off.
    if (statementText_.find('\0') != std::string::npos)
        rtl::DatabaseError("A statement text cannot hold a zero byte");
    FreeResult();
    TIPgDatabase& db = PgDatabase();
    conn_ = db.GetPgConn();
    PGresult* r = Pg().PQexec(conn_, statementText_.c_str());
    db.CheckResult(r);
    result_ = r;
    const ExecStatusType status = Pg().PQresultStatus(r);
    if (status == PGRES_COMMAND_OK) {
        rowsAffected_ = rtl::StrToIntDef(Pg().PQcmdTuples(r), 0);
    } else if (status == PGRES_TUPLES_OK) {
        rowCount_ = Pg().PQntuples(r);
        columnCount_ = Pg().PQnfields(r);
        currentRow_ = -1;
    }
}

void TIPgCommand::DoPrepare(const std::string& sql) {
    RefuseProcedure();
    conn_ = PgDatabase().GetPgConn();
    statementText_.clear();
    commandText_ = sql;
}

void TIPgCommand::DoExecDirect(const std::string& sql) {
    RefuseProcedure();
    conn_ = PgDatabase().GetPgConn();
    commandText_ = sql;
    ExecuteStatement();
    if (Pg().PQresultStatus(result_) == PGRES_TUPLES_OK && FieldDescs->Count() == 0) InitFieldDescs();
    SetPreparedText(statementText_);
}

void TIPgCommand::DoExecute() {
    RefuseProcedure();
    // Describing ran the statement already; its result serves this execution only when the
    // execution would send the very same text (the parameters may have changed since).
    const bool reuse = conn_ != nullptr && result_ != nullptr && describedResult_ &&
                       BuildStatementText() == statementText_;
    if (reuse)
        describedResult_ = false;
    else
        ExecuteStatement();
    if (Pg().PQresultStatus(result_) == PGRES_TUPLES_OK && FieldDescs->Count() == 0) {
        InitFieldDescs();
        AllocFieldsBuffer();
        SetFieldsBuffer();
    }
    SetPreparedText(statementText_);
}

bool TIPgCommand::DoFetchNextRow() {
    if (result_ == nullptr) return false;
    CheckLoaded();
    if (currentRow_ < rowCount_) ++currentRow_;
    const bool row = currentRow_ < rowCount_;
    if (row && BlobFieldCount > 0) ReadBlobsToSlots();
    return row;
}

void TIPgCommand::InitParamList() {
    rtl::DatabaseError("Capability not supported");
}

TFieldType TIPgCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case 16:
            return ftBoolean;
        case 17:
            return ftBlob;
        case 20:
            return ftLargeint;
        case 21:
            return ftSmallint;
        case 23:
        case 26:
        case 28:
        case 29:
            return ftInteger;
        case 25:
            return ftMemo;
        case 700:
        case 701:
        case kOidMoney:
        case 1700:
            return ftFloat;
        case 1082:
            return ftDate;
        case 1083:
            return ftTime;
        case 702:
        case 1114:
        case 1184:
        case 1266:
            return ftDateTime;
        default:
            return ftString;
    }
}

bool TIPgCommand::IsFixedCharType(int32_t nativeType) {
    return nativeType == kOidBpchar;
}

bool TIPgCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    // What StoreSqlTextValue reads from the server's text.
    static constexpr TSDFieldTypes kConverted{ftSmallint, ftInteger,  ftBoolean,  ftFloat, ftDate,
                                              ftTime,     ftDateTime, ftLargeint, ftBCD};
    return kConverted.Has(fieldType);
}

void TIPgCommand::GetFieldDescs(TSDFieldDescList& list) {
    if (result_ == nullptr) {
        conn_ = PgDatabase().GetPgConn();
        ExecuteStatement();
        describedResult_ = true;
    }
    CheckLoaded();
    const int columns = Pg().PQnfields(result_);
    for (int i = 0; i < columns; ++i) {
        const char* name = Pg().PQfname(result_, i);
        const int32_t native = int32_t(Pg().PQftype(result_, i));
        TFieldType type = FieldDataType(native);
        // A numeric's modifier holds its precision (high 16 bits) and scale past a 4-byte header.
        int32_t precision = 0, scale = 0;
        if (native == kOidNumeric) {
            const int32_t modifier = Pg().PQfmod(result_, i);
            if (modifier >= 4) {
                precision = ((modifier - 4) >> 16) & 0xFFFF;
                scale = (modifier - 4) & 0xFFFF;
            }
            if (DecimalColumnIsBcd(PgDatabase().EnableBCD, precision, scale)) type = ftBCD;
        }
        int32_t size = Pg().PQfsize(result_, i);
        if (type == ftString) {
            if (size < 0) {
                // A declared length counts characters (the type modifier less its 4-byte
                // header); the values arrive in the client's encoding, whose characters may
                // take several bytes each, and a zero byte ends the cell.
                const int32_t modifier = Pg().PQfmod(result_, i);
                const int64_t characters = modifier > 4 ? modifier - 4 : 0;
                size = characters > 0
                           ? int32_t(std::min<int64_t>(characters * PgDatabase().MaxCharBytes() + 1, kMaxBufferSize))
                           : kUnboundedTextSize;
            } else if (native != kOidName) {
                size = std::max(size, kFixedTypeTextSize);
            }
        } else if (size < 0) {
            size = NativeDataSize(type);
        }
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = PCharToString(name, int(kMaxFieldNameLen));
        d.FieldNo = i + 1;
        d.FieldType = type;
        d.NativeType = int16_t(native);
        d.DataSize = FieldTypeHasSize(type) ? size : NativeDataSize(type);
        d.Precision = 0;
        d.Scale = 0;
        if (type == ftBCD) {
            d.DataSize = int32_t(sizeof(rtl::TBcd));
            d.Precision = int16_t(precision);
            d.Scale = int16_t(scale);
        }
    }
}

void TIPgCommand::CloseResultSet() {
    FreeResult();
    statementText_.clear();
}

void TIPgCommand::Disconnect(bool) {
    conn_ = nullptr;
}

bool TIPgCommand::GetFieldText(int32_t fieldNo, std::string& value) const {
    value.clear();
    rtl::Assert(result_ != nullptr && currentRow_ >= 0 && currentRow_ < rowCount_, "TIPgCommand.GetFieldText");
    CheckLoaded();
    const int column = fieldNo - 1;
    rtl::Assert(column >= 0 && column < Pg().PQnfields(result_), "TIPgCommand.GetFieldText: column %d", fieldNo);
    if (Pg().PQgetisnull(result_, currentRow_, column)) return false;
    value.assign(Pg().PQgetvalue(result_, currentRow_, column), size_t(Pg().PQgetlength(result_, currentRow_, column)));
    return true;
}

bool TIPgCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    // Runs once per column of every row: the bound client is taken once, the column count is
    // the one kept with the result.
    rtl::Assert(result_ != nullptr && currentRow_ >= 0 && currentRow_ < rowCount_,
                "TIPgCommand.GetCnvtFieldData: no current row");
    const TPgFunctions& pg = Pg();
    if (pg.PQgetvalue == nullptr) CheckLoaded();
    const int column = desc.FieldNo - 1;
    rtl::Assert(column >= 0 && column < columnCount_, "TIPgCommand.GetCnvtFieldData: column %d", desc.FieldNo);
    // A value with characters is not null: only an empty one needs asking.
    const int32_t length = pg.PQgetlength(result_, currentRow_, column);
    if (length <= 0 && pg.PQgetisnull(result_, currentRow_, column)) return false;
    const char* value = pg.PQgetvalue(result_, currentRow_, column);
    return StoreServerValue(desc, value, length, dest, destSize);
}

void TIPgCommand::GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) {
    // The row and the client are checked once; a column outside the result and a missing row
    // take GetCnvtFieldData's way, with its checks.
    const TPgFunctions& pg = Pg();
    if (result_ == nullptr || currentRow_ < 0 || currentRow_ >= rowCount_ || pg.PQgetvalue == nullptr) {
        TISqlCommand::GetCnvtRowData(cells, count, record);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const TSDFieldDesc& desc = *cells[i].Desc;
        uint8_t* p = record + cells[i].Slot;
        const int column = desc.FieldNo - 1;
        if (column < 0 || column >= columnCount_) {
            p[0] = GetCnvtFieldData(desc, p + 1, cells[i].Limit) ? 1 : 0;
            continue;
        }
        // A value with characters is not null: only an empty one needs asking.
        const int32_t length = pg.PQgetlength(result_, currentRow_, column);
        if (length <= 0 && pg.PQgetisnull(result_, currentRow_, column)) {
            p[0] = 0;
            continue;
        }
        const char* value = pg.PQgetvalue(result_, currentRow_, column);
        p[0] = StoreServerValue(desc, value, length, p + 1, cells[i].Limit) ? 1 : 0;
    }
}

// Inlined into both readers: its call would cost about what it does for most columns.
[[gnu::always_inline]] inline bool TIPgCommand::StoreServerValue(const TSDFieldDesc& desc, const char* value,
                                                                 int32_t length, void* dest,
                                                                 int32_t destSize) {
    // The types RequiredCnvtFieldType names are read from their text.
    return StoreSqlTextValue(desc, value, size_t(std::max(length, 0)), dest, destSize, TPgTextForms{*this});
}

void TIPgCommand::ReadAutoIncrementColumns() {
    const TPgFunctions& pg = Pg();
    if (result_ == nullptr || pg.PQftable == nullptr || pg.PQftablecol == nullptr) return;
    std::string columns;
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo < 1 || d.FieldNo > columnCount_) continue;
        const Oid table = pg.PQftable(result_, d.FieldNo - 1);
        const int column = pg.PQftablecol(result_, d.FieldNo - 1);
        if (table == 0 || column <= 0) continue;  // a computed column
        columns += rtl::Format("%s(%u, %d)", columns.empty() ? "" : ", ", uint32_t(table), column);
    }
    if (columns.empty()) return;
    const std::string sql =
        "select a.attrelid, a.attnum from pg_attribute a left join pg_attrdef d on d.adrelid = a.attrelid "
        "and "
        "d.adnum = a.attnum where (a.attrelid, a.attnum) in (" +
        columns + ") and (a.attidentity <> '' or pg_get_expr(d.adbin, d.adrelid) like 'nextval(%')";
    PGresult* r = pg.PQexec(PgDatabase().GetPgConn(), sql.c_str());
    PgDatabase().MarkActivity();
    if (r == nullptr) return;
    if (pg.PQresultStatus(r) == PGRES_TUPLES_OK) {
        for (int row = 0; row < pg.PQntuples(r); ++row) {
            int64_t table = -1;
            if (!rtl::TryStrToInt64(pg.PQgetvalue(r, row, 0), table)) continue;
            const int32_t column = rtl::StrToIntDef(pg.PQgetvalue(r, row, 1), -1);
            for (int i = 0; i < FieldDescs->Count(); ++i) {
                TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
                if (d.FieldNo >= 1 && d.FieldNo <= columnCount_ &&
                    int64_t(pg.PQftable(result_, d.FieldNo - 1)) == table &&
                    pg.PQftablecol(result_, d.FieldNo - 1) == column)
                    d.AutoIncrement = true;
            }
        }
    }
    pg.PQclear(r);
}

void TIPgCommand::GetOutputParams() {
    rtl::DatabaseError("Capability not supported");
}

int32_t TIPgCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    rtl::Assert(result_ != nullptr && currentRow_ >= 0 && currentRow_ < rowCount_, "TIPgCommand.ReadBlob");
    CheckLoaded();
    const int column = desc.FieldNo - 1;
    const int32_t length = Pg().PQgetlength(result_, currentRow_, column);
    const char* value = Pg().PQgetvalue(result_, currentRow_, column);
    if (length <= 0 || value == nullptr) return 0;
    if (desc.FieldType == ftMemo) {
        data.assign(value, value + length);
        return int32_t(data.size());
    }
    std::string error;
    if (!DecodePgBytea(value, size_t(length), data, error)) {
        data.clear();
        PgDatabase().EndWaitCursor();
        PgDatabase().HandleError(ESDPgSQLError(-1, -1, error, -1, false));
    }
    return int32_t(data.size());
}
