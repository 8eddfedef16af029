// database/odbc/SDOdbcCommand.cpp: the ODBC driver's command (unit SDOdbc): statements and their
// texts, execution, parameters and long data sent in pieces, the type tables and describing
// the result. Rows, conversion and long data read in pieces are in SDOdbcFetch.cpp.
#include <algorithm>
#include <cstring>
#include <limits>

#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "database/odbc/SDOdbc.h"
#include "database/odbc/SDOdbcCells.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace odbcapi;
using namespace odbccells;

namespace {

// Character columns are sized by the ODBC column size, a count of characters; their bytes
// arrive in the workstation's code page, UTF-8, where one character takes up to 4 bytes.
constexpr int64_t kMaxBytesPerChar = 4;

// The parameters bound in the engine's shapes (a fixed-length text is bound as a text), dates
// as the ODBC date, time and time-stamp structures. Decimals and GUIDs are the driver's own;
// a word is no parameter type here.
constexpr TSDSlotMap kParamSlots =
    kEngineSlots.Only({ftString, ftSmallint, ftInteger, ftAutoInc, ftBoolean, ftFloat, ftCurrency, ftDate,
                       ftTime, ftDateTime, ftBytes, ftVarBytes, ftLargeint});

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) into the 16-byte binary layout
// (the first three groups little-endian).
bool ParseGuidText(const std::string& text, uint8_t out[16]) {
    std::string s = rtl::Trim(text);
    if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
    std::string hex;
    for (char c : s)
        if (c != '-') hex += c;
    uint8_t raw[16];
    for (int i = 0; i < 16; ++i) {
        const int hi = HexValue(hex[size_t(2 * i)]);
        const int lo = HexValue(hex[size_t(2 * i + 1)]);
        if (hi < 0 || lo < 0) return false;
        raw[i] = uint8_t(hi * 16 + lo);
    }
    // raw holds the groups most significant byte first; the first three go little-endian.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i)
        out[i] = raw[order[i]];
    return true;
}

SQLSMALLINT Direction(rtl::TParamType type) {
    switch (type) {
        case rtl::ptInput:
            return SQL_PARAM_INPUT;
        case rtl::ptInputOutput:
            return SQL_PARAM_INPUT_OUTPUT;
        case rtl::ptOutput:
        case rtl::ptResult:
            return SQL_PARAM_OUTPUT;
        default:
            return SQL_PARAM_TYPE_UNKNOWN;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TICustomOdbcCommand::TICustomOdbcCommand(TICustomOdbcDatabase* database, rtl::Component* owner)
    : TISqlCommand(database, owner), odbcDatabase_(database) {
    singleConnection_ = database->SingleConnection;
    serverCursor_ = rtl::UpperCase(rtl::Trim(database->Params.Values("SERVER CURSOR"))) == STrueString;
    // A piece size of 0 or less would never finish reading or writing long data.
    pieceSize_ = database->BlobPieceSize > 0 ? database->BlobPieceSize : 32752;
    int32_t maxBlob = 0;
    if (rtl::TryStrToInt(rtl::Trim(database->Params.Values("MAX BLOB SIZE")), maxBlob) && maxBlob > 0)
        maxBlobSize_ = maxBlob;
}

TICustomOdbcCommand::~TICustomOdbcCommand() {
    try {
        Disconnect(false);
    } catch (const std::exception&) {
        // Nobody is left to report to while the command goes away.
    }
}

void TICustomOdbcCommand::TakeConnection() {
    if (singleConnection_) odbcDatabase_->SetActiveCommand(this, true);
}

void TICustomOdbcCommand::ReleaseConnection() {
    odbcDatabase_->ReleaseActiveCommand(this);
}

void TICustomOdbcCommand::AllocStatement() {
    TICustomOdbcDatabase& db = OdbcDatabase();
    SQLHANDLE handle = nullptr;
    const SQLRETURN rc = db.AllocOdbcHandle(SQL_HANDLE_STMT, db.GetDbcHandle(), &handle);
    stmt_ = Succeeded(rc) ? handle : nullptr;
    try {
        db.CheckDbc(rc);
        const bool staticCursor = serverCursor_ || db.GetServerType() == stODBC;
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_CURSOR_TYPE,
                                 staticCursor ? SQL_CURSOR_STATIC : SQL_CURSOR_FORWARD_ONLY, 0));
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_MAX_ROWS, 0, 0));
        const std::string timeout = rtl::Trim(db.Params.Values("COMMAND TIMEOUT"));
        if (!timeout.empty())
            db.SetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT, SQLULEN(uint32_t(rtl::StrToIntDef(timeout, 0))),
                           SQL_IS_UINTEGER);
    } catch (...) {
        if (stmt_ != nullptr) db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt_);
        stmt_ = nullptr;
        throw;
    }
}

void TICustomOdbcCommand::RePrepareIfNeeded() {
    if (stmt_ != nullptr) return;
    AllocStatement();
    if (!directMode_ && IsPrepared()) {
        TakeConnection();
        CheckStmt(Fn().SQLPrepare(stmt_, Text(PreparedText), SQL_NTS));
    }
}

std::string TICustomOdbcCommand::BuildStatementText() {
    if (CommandType == 2) {
        if (GetParamCount() == 0) InitParamList();
        const bool sqlServer =
            OdbcDatabase().GetDbmsDescription().find("Microsoft SQL Server") != std::string::npos;
        return BuildOdbcCallStatement(CommandText, Params, !sqlServer);
    }
    if (Params == nullptr) return CommandText;
    return ReplaceParamsWithMarkers(CommandText, *Params);
}

// ---------------------------------------------------------------------------------------------
// Prepare and execute

void TICustomOdbcCommand::DoPrepare(const std::string&) {
    if (stmt_ == nullptr) AllocStatement();
    const std::string text = BuildStatementText();
    if (!directMode_) {
        TakeConnection();
        CheckStmt(Fn().SQLPrepare(stmt_, Text(text), SQL_NTS));
    }
    SetPreparedText(text);
    if (CommandType == 0) InitFieldDescs();
}

void TICustomOdbcCommand::DoExecDirect(const std::string&) {
    TakeConnection();
    if (stmt_ == nullptr) AllocStatement();
    const std::string text = BuildStatementText();
    // Descriptions left from another statement would bind this one's columns wrongly.
    if (text != PreparedText) ClearFieldDescs();
    AllocParamsBuffer();
    BindParamsBuffer();
    SetPreparedText(text);
    directMode_ = true;
    try {
        if (CommandType == 0)
            StatementExecution(false);
        else if (CommandType == 2 && !furtherResultSet_)
            ProcedureExecution(false);
    } catch (...) {
        directMode_ = false;
        throw;
    }
    directMode_ = false;
    if (FieldDescs->Count() == 0) {
        // The statement has run: describing it must look at its results, never run it again.
        executed_ = true;
        try {
            InitFieldDescs();
        } catch (...) {
            executed_ = false;
            throw;
        }
        executed_ = false;
    }
}

void TICustomOdbcCommand::DoExecute() {
    TakeConnection();
    RePrepareIfNeeded();
    if (CommandType == 0)
        StatementExecution(false);
    else if (CommandType == 2) {
        if (!furtherResultSet_) ProcedureExecution(false);
    } else {
        CheckStmt(Fn().SQLExecute(stmt_));
    }
}

void TICustomOdbcCommand::StatementExecution(bool bind) {
    noRows_ = false;
    noMoreResults_ = false;
    if (bind) BindParamsBuffer();
    if (!executed_) {
        furtherResultSet_ = false;
        SQLRETURN rc =
            directMode_ ? Fn().SQLExecDirect(stmt_, Text(PreparedText), SQL_NTS) : Fn().SQLExecute(stmt_);
        if (rc == SQL_NEED_DATA)
            rc = SendLongParams(rc);
        else
            CheckStmt(rc);
        noRows_ = rc == SQL_NO_DATA;
    }
    executed_ = bind;
}

void TICustomOdbcCommand::ProcedureExecution(bool bind) {
    if (bind) BindParamsBuffer();
    if (!executed_) {
        noMoreResults_ = false;
        SQLRETURN rc =
            directMode_ ? Fn().SQLExecDirect(stmt_, Text(PreparedText), SQL_NTS) : Fn().SQLExecute(stmt_);
        if (rc == SQL_NEED_DATA)
            SendLongParams(rc);
        else
            CheckStmt(rc);
    }
    executed_ = bind;
}

SQLRETURN TICustomOdbcCommand::SendLongParams(SQLRETURN rc) {
    while (rc == SQL_NEED_DATA) {
        SQLPOINTER token = nullptr;
        rc = Fn().SQLParamData(stmt_, &token);
        if (rc != SQL_NEED_DATA) break;
        // The token is the parameter's number, as the binding registered it.
        const int index = int(reinterpret_cast<intptr_t>(token)) - 1;
        rtl::Assert(index >= 0 && index < GetParamCount(), "TICustomOdbcCommand: unknown long-data token");
        const std::string value = (*Params)[index].AsString();
        WriteBlob(index, reinterpret_cast<const uint8_t*>(value.data()), int32_t(value.size()));
    }
    CheckStmt(rc);
    return rc;
}

int32_t TICustomOdbcCommand::WriteBlob(int32_t, const uint8_t* data, int32_t count) {
    int32_t written = 0;
    while (written < count) {
        const int32_t piece = std::min(pieceSize_, count - written);
        CheckStmt(Fn().SQLPutData(stmt_, const_cast<uint8_t*>(data + written), piece));
        written += piece;
    }
    return written;
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TICustomOdbcCommand::AllocParamsBuffer() {
    if (CommandType == 2 && (executed_ || furtherResultSet_) && ParamsBuffer) return;
    TISqlCommand::AllocParamsBuffer();
}

int32_t TICustomOdbcCommand::GetParamsBufferSize() {
    if (Params == nullptr) return 0;
    int64_t size = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        // Bound as a string; sized as one, so the cells line up with the binding.
        if (p.DataType() == ftFixedChar) p.SetDataType(ftString);
        if (p.DataType() == ftUnknown)
            rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        if (p.ParamType() == ptUnknown)
            rtl::DatabaseErrorFmt("No parameter type for parameter '%s'", p.Name());
        size += Align8(int64_t(ParamDataSize(p)) + kCellHeaderSize);
    }
    return Align8(size);
}

void TICustomOdbcCommand::BindParamsBuffer() {
    if (CommandType == 0)
        BindParams(false);
    else if (CommandType == 2) {
        if (!executed_ && !furtherResultSet_) BindParams(true);
    } else {
        rtl::DatabaseError("Capability not supported");
    }
}

void TICustomOdbcCommand::BindParams(bool procedure) {
    if (GetParamCount() == 0) return;
    if (!ParamsBuffer) AllocParamsBuffer();
    RePrepareIfNeeded();
    TICustomOdbcDatabase& db = OdbcDatabase();
    const TSDServerType server = db.GetServerType();
    int needLongLength = -1;  // asked once, when a long parameter needs it
    int64_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        if (p.DataType() == ftFixedChar) p.SetDataType(ftString);
        const TFieldType type = p.DataType();
        const int32_t dataSize = ParamDataSize(p);
        rtl::Assert(ParamsBuffer && offset + kCellHeaderSize + dataSize <= int64_t(ParamsBuffer->Size()),
                    "TICustomOdbcCommand.BindParamsBuffer: parameter buffer too small");
        uint8_t* cell = ParamsBuffer->Data() + offset;
        uint8_t* data = cell + kCellHeaderSize;
        offset += Align8(int64_t(dataSize) + kCellHeaderSize);
        const SQLUSMALLINT number = SQLUSMALLINT(i + 1);
        const SQLSMALLINT direction = procedure ? Direction(p.ParamType()) : SQL_PARAM_INPUT;
        const SQLSMALLINT cType = SQLSMALLINT(NativeDataType(type));
        const SQLSMALLINT sqlType = SqlDataType(type);
        const bool isNull = p.IsNull();

        if (IsBlobFieldType(server, type)) {
            // Long values go at execution time, in pieces (SendLongParams).
            const size_t length = isNull ? 0 : p.AsString().size();
            SQLLEN ind = SQL_DATA_AT_EXEC;
            if (length == 0) {
                ind = SQL_NULL_DATA;
            } else if (!procedure) {
                if (needLongLength < 0) needLongLength = db.NeedLongDataLen() ? 1 : 0;
                if (needLongLength == 1) ind = -SQLLEN(length) + SQL_LEN_DATA_AT_EXEC_OFFSET;
            }
            SetOdbcCellIndicator(cell, ind);
            const SQLPOINTER token = reinterpret_cast<SQLPOINTER>(intptr_t(number));
            CheckStmt(Fn().SQLBindParameter(stmt_, number, direction, cType, sqlType,
                                            procedure ? 0 : SQLULEN(maxBlobSize_), 0, token, 0,
                                            IndicatorOf(cell)));
            continue;
        }

        const bool decimal = type == ftBCD || type == ftFMTBcd;
        SQLLEN ind = isNull ? SQL_NULL_DATA : (type == ftString || decimal ? SQL_NTS : SQLLEN(dataSize));
        int decimalPrecision = 0, decimalPlaces = 0;
        SQLLEN bufferLength = dataSize;
        if (!procedure && type == ftString) bufferLength = dataSize - 1;
        std::memset(data, 0, size_t(dataSize));
        switch (type) {
            case ftBCD:
            case ftFMTBcd: {
                // As decimal text with "." (a currency amount needs at most 21 characters).
                if (procedure) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
                if (isNull) break;
                const std::string text =
                    OdbcScaledToDecimalText(p.Value().AsCurrency(), decimalPrecision, decimalPlaces);
                rtl::Assert(int32_t(text.size()) < dataSize,
                            "TICustomOdbcCommand.BindParams: BCD text too long");
                std::memcpy(data, text.data(), text.size());
                break;
            }
            case ftGuid: {
                const std::string text = isNull ? std::string() : p.AsString();
                if (rtl::Trim(text).empty()) {
                    ind = SQL_NULL_DATA;
                } else {
                    uint8_t guid[16];
                    if (!ParseGuidText(text, guid))
                        rtl::DatabaseErrorFmt("Parameter '%s': '%s' is not a valid GUID", p.Name(), text);
                    std::memcpy(data, guid, 16);
                }
                break;
            }
            default: {
                // A procedure's call takes no Boolean and no bytes either.
                const TSDSlotKind kind = kParamSlots[type];
                if (kind == TSDSlotKind::None ||
                    (procedure && (kind == TSDSlotKind::Bool16 || kind == TSDSlotKind::Bytes)))
                    rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
                if (!isNull)
                    PutParamSlot(p, kind, data, dataSize,
                                 [this](TFieldType t, rtl::TDateTime v, uint8_t* slot, int32_t n) {
                                     return CnvtDateTime2DBDateTime(t, v, slot, n);
                                 });
                break;
            }
        }
        SetOdbcCellIndicator(cell, ind);

        SQLULEN columnSize = procedure ? SQLULEN(dataSize) : SQLULEN(std::max<SQLLEN>(bufferLength, 0));
        if (!procedure && type == ftDateTime) {
            if (server == stODBC) {
                columnSize = 22;
            } else {
                SQLSMALLINT describedType = 0, digits = 0, nullable = 0;
                SQLULEN describedSize = 0;
                if (Fn().SQLDescribeParam != nullptr &&
                    Succeeded(Fn().SQLDescribeParam(stmt_, number, &describedType, &describedSize, &digits,
                                                    &nullable)))
                    columnSize = describedSize;
                else
                    columnSize = p.AsString().size();
            }
        }
        if (decimal) columnSize = SQLULEN(std::max(decimalPrecision, 1));
        // A data source with a boolean type takes a boolean as such (PostgreSQL refuses a small
        // integer for a boolean column, 42804); SQL_BIT reaches its number columns as 0 and 1
        // too. Elsewhere the boolean stays a small integer.
        const SQLSMALLINT boundSqlType =
            type == ftBoolean && !procedure && db.HasBooleanType() ? SQLSMALLINT(SQL_BIT) : sqlType;
        CheckStmt(Fn().SQLBindParameter(stmt_, number, direction, cType, boundSqlType, columnSize,
                                        SQLSMALLINT(decimalPlaces), data, procedure ? dataSize : bufferLength,
                                        IndicatorOf(cell)));
    }
}

// ---------------------------------------------------------------------------------------------
// Type tables

TFieldType TICustomOdbcCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
            return ftString;
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
            return ftFloat;
        case SQL_INTEGER:
            return ftInteger;
        case SQL_SMALLINT:
        case SQL_TINYINT:
            return ftSmallint;
        case SQL_BIT:
            return ftBoolean;
        case SQL_BIGINT:
            return ftLargeint;
        case SQL_DATE:
        case SQL_TIMESTAMP:
        case SQL_TYPE_TIMESTAMP:
            return ftDateTime;
        case SQL_TYPE_DATE:
            return ftDate;
        case SQL_TIME:
        case SQL_TYPE_TIME:
            return ftTime;
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR:
            return ftMemo;
        case SQL_BINARY:
            return ftBytes;
        case SQL_VARBINARY:
            return ftVarBytes;
        case SQL_LONGVARBINARY:
            return ftBlob;
        case SQL_GUID:
            return ftGuid;
        default:
            return nativeType >= SQL_INTERVAL_YEAR_TO_MONTH && nativeType <= SQL_INTERVAL_MINUTE_TO_SECOND
                       ? ftBCD
                       : ftUnknown;
    }
}

bool TICustomOdbcCommand::IsFixedCharType(int32_t nativeType) {
    return nativeType == SQL_CHAR || nativeType == SQL_WCHAR;
}

uint16_t TICustomOdbcCommand::NativeDataSize(TFieldType fieldType) {
    switch (fieldType) {
        case ftSmallint:
        case ftBoolean:
            return 2;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return 4;
        case ftFloat:
        case ftCurrency:
        case ftLargeint:
            return 8;
        case ftDate:
        case ftTime:
            return 6;
        case ftDateTime:
        case ftGuid:
            return 16;
        default:
            return 0;
    }
}

int32_t TICustomOdbcCommand::NativeDataType(TFieldType fieldType) {
    const bool odbc2 = GetVersionMajor(OdbcDatabase().GetOdbcVersion()) < 3;
    switch (fieldType) {
        case ftString:
        case ftFixedChar:
        case ftMemo:
        case ftFmtMemo:
        case ftBCD:  // decimal text: no digit passes through a double
        case ftFMTBcd:
            return SQL_C_CHAR;
        case ftSmallint:
        case ftBoolean:
            return SQL_C_SHORT;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return SQL_C_LONG;
        case ftFloat:
        case ftCurrency:
            return SQL_C_DOUBLE;
        case ftDate:
            return odbc2 ? SQL_C_DATE : SQL_C_TYPE_DATE;
        case ftTime:
            return odbc2 ? SQL_C_TIME : SQL_C_TYPE_TIME;
        case ftDateTime:
            return odbc2 ? SQL_C_TIMESTAMP : SQL_C_TYPE_TIMESTAMP;
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftGraphic:
            return SQL_C_BINARY;
        case ftLargeint:
            return SQL_C_SBIGINT;
        case ftGuid:
            return SQL_C_GUID;
        default:
            return 0;
    }
}

int16_t TICustomOdbcCommand::SqlDataType(TFieldType fieldType) {
    const bool odbc2 = GetVersionMajor(OdbcDatabase().GetOdbcVersion()) < 3;
    switch (fieldType) {
        case ftString:
        case ftFixedChar:
            return SQL_VARCHAR;
        case ftSmallint:
        case ftBoolean:
            return SQL_SMALLINT;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return SQL_INTEGER;
        case ftFloat:
        case ftCurrency:
            return SQL_DOUBLE;
        case ftBCD:
        case ftFMTBcd:
            return SQL_DECIMAL;
        case ftDate:
            return odbc2 ? SQL_DATE : SQL_TYPE_DATE;
        case ftTime:
            return odbc2 ? SQL_TIME : SQL_TYPE_TIME;
        case ftDateTime:
            return odbc2 ? SQL_TIMESTAMP : SQL_TYPE_TIMESTAMP;
        case ftBytes:
            return SQL_BINARY;
        case ftVarBytes:
            return SQL_VARBINARY;
        case ftBlob:
        case ftGraphic:
            return SQL_LONGVARBINARY;
        case ftMemo:
        case ftFmtMemo:
            return SQL_LONGVARCHAR;
        case ftLargeint:
            return SQL_BIGINT;
        case ftGuid:
            return SQL_GUID;
        default:
            return 0;
    }
}

bool TICustomOdbcCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    return fieldType == ftDate || fieldType == ftTime || fieldType == ftDateTime || fieldType == ftGuid;
}

bool TICustomOdbcCommand::IsBoundLongField(const TSDFieldDesc& desc) {
    const TSDServerType server = OdbcDatabase().GetServerType();
    return IsBlobFieldType(server, desc.FieldType) &&
           !IsBlobFieldType(server, FieldDataType(desc.NativeType));
}

bool TICustomOdbcCommand::IsIntervalField(const TSDFieldDesc& desc) const {
    return desc.FieldType == ftBCD && IsIntervalType(desc.NativeType);
}

bool TICustomOdbcCommand::IsDecimalBcdField(const TSDFieldDesc& desc) {
    return desc.FieldType == ftBCD && (desc.NativeType == SQL_NUMERIC || desc.NativeType == SQL_DECIMAL);
}

// ---------------------------------------------------------------------------------------------
// Describing the result

bool TICustomOdbcCommand::IsCallStatement() {
    if (Fn().SQLGetDiagField != nullptr && stmt_ != nullptr) {
        SQLINTEGER code = 0;
        const SQLRETURN rc = Fn().SQLGetDiagField(SQL_HANDLE_STMT, stmt_, 1, SQL_DIAG_DYNAMIC_FUNCTION_CODE,
                                                  &code, SQL_IS_INTEGER, nullptr);
        // 0 is "unknown statement": the text has the last word then.
        if (Succeeded(rc) && code != 0) return code == SQL_DIAG_CALL;
    }
    const std::string text = rtl::UpperCase(PreparedText);
    for (size_t at = text.find("CALL "); at != std::string::npos; at = text.find("CALL ", at + 1)) {
        if (at == 0) return true;
        const char before = text[at - 1];
        if (before == ' ' || before == '=' || before == '{') return true;
    }
    return false;
}

int TICustomOdbcCommand::SearchResultColumns() {
    SQLSMALLINT count = 0;
    CheckStmt(Fn().SQLNumResultCols(stmt_, &count));
    const bool call = CommandType == 0 && IsCallStatement();
    if (count == 0 && CommandType == 0 && (call || StartsWithNoCase(PreparedText, "select"))) {
        StatementExecution(true);
        CheckStmt(Fn().SQLNumResultCols(stmt_, &count));
    }
    if (CommandType == 2 || call) {
        // Skip results without columns (row counts of statements inside the procedure).
        while (count == 0) {
            SQLRETURN rc;
            if (directMode_ || executed_ || furtherResultSet_) {
                rc = Fn().SQLMoreResults(stmt_);
                if (rc == SQL_NO_DATA) {
                    noMoreResults_ = true;
                    break;
                }
                CheckStmt(rc);
            } else {
                BindParamsBuffer();
                rc = Fn().SQLExecute(stmt_);
                if (rc == SQL_NEED_DATA)
                    rc = SendLongParams(rc);
                else
                    CheckStmt(rc);
                executed_ = true;
                if (rc == SQL_NO_DATA) break;
            }
            CheckStmt(Fn().SQLNumResultCols(stmt_, &count));
        }
    }
    return count;
}

void TICustomOdbcCommand::GetFieldDescs(TSDFieldDescList& list) {
    if (noMoreResults_) return;
    TakeConnection();
    RePrepareIfNeeded();
    if (CommandType == 2 && !directMode_ && !furtherResultSet_) ProcedureExecution(true);
    const int count = SearchResultColumns();
    const TSDServerType server = OdbcDatabase().GetServerType();
    const int64_t maxString = int64_t(OdbcDatabase().MaxStringSize);
    for (int column = 1; column <= count; ++column) {
        SQLCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
        SQLULEN columnSize = 0;
        CheckStmt(Fn().SQLDescribeCol(stmt_, SQLUSMALLINT(column), name, 255, &nameLength, &sqlType,
                                      &columnSize, &digits, &nullable));
        const std::string columnName =
            PCharToString(reinterpret_cast<const char*>(name), 255).substr(0, kMaxFieldNameLen);
        TFieldType type = FieldDataType(sqlType);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", columnName);
        const bool decimalBcd = OdbcExactNumericIsBcd(OdbcDatabase().EnableBCD, sqlType, columnSize, digits);
        if (decimalBcd) type = ftBCD;
        if (IsNumericFieldType(type) && type != ftLargeint && Fn().SQLColAttribute != nullptr) {
            SQLLEN autoUnique = 0;
            CheckStmt(Fn().SQLColAttribute(stmt_, SQLUSMALLINT(column), SQL_DESC_AUTO_UNIQUE_VALUE, nullptr,
                                           0, nullptr, &autoUnique));
            if (autoUnique == 1) type = ftAutoInc;
        }
        // Column sizes beyond what a cell can hold are treated as unknown (long).
        const int64_t size =
            columnSize > SQLULEN(std::numeric_limits<int32_t>::max()) ? 0 : int64_t(columnSize);
        const bool charColumn = type == ftString;
        int64_t dataSize = 0;
        if (type == ftString) {
            if (size + 1 > maxString + 1 || (server == stODBC && size == 0)) type = ftMemo;
            // Sized in bytes: up to four per character; never more than a long value's cell.
            int64_t bytes = size * kMaxBytesPerChar;
            if (bytes > LongDataSize) bytes = std::max<int64_t>(size, LongDataSize);
            dataSize = size == 0 ? LongDataSize : bytes + 1;
        }
        if (type == ftBytes || type == ftVarBytes) {
            if (size > maxString + 1 || (server == stODBC && size == 0)) type = ftBlob;
            dataSize = std::min<int64_t>(size, LongDataSize);
        }

        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = columnName;
        d.FieldType = type;
        d.NativeType = sqlType;
        const bool boundLong = IsBoundLongField(d);
        if (FieldTypeHasSize(type) || boundLong)
            d.DataSize =
                int32_t(charColumn || type == ftBytes || type == ftVarBytes || boundLong ? dataSize : size);
        else if (IsIntervalField(d))
            d.DataSize = kIntervalStructSize;
        else if (decimalBcd && type == ftBCD)
            d.DataSize = int32_t(size) + 4;  // the digits, a sign, "0", "." and the terminator
        else
            d.DataSize = NativeDataSize(type);
        d.Precision = digits;
        if (decimalBcd && type == ftBCD) {
            d.Precision = int16_t(size);
            d.Scale = digits;
        }
        d.Required = nullable == 0;
    }
    resultColumns_ = list.Count();
}
