// database/SDOdbcCommand.cpp: the ODBC driver's command (unit SDOdbc): statement texts,
// parameters, describing and binding the result, single-row and block fetching, cell
// conversion and long data in pieces.
//
// Row layout: each column's cell starts on an 8-byte boundary (the 64-bit length-or-indicator
// first, the data at offset 8); a row is a multiple of 8 bytes, so in block mode the driver
// manager finds row r's cells at r * row size with row-wise binding.
#include <algorithm>
#include <cstring>
#include <limits>

#include "database/SDCommonSqlText.h"
#include "database/SDCommonValues.h"
#include "database/SDOdbc.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace odbcapi;

namespace {

// Character columns are sized by the ODBC column size, a count of characters; their bytes
// arrive in the workstation's code page, UTF-8, where one character takes up to 4 bytes.
constexpr int64_t kMaxBytesPerChar = 4;

int32_t Align8(int64_t n) {
    const int64_t aligned = (n + 7) & ~int64_t(7);
    if (aligned > std::numeric_limits<int32_t>::max()) rtl::DatabaseError("Row buffer too large");
    return int32_t(aligned);
}

SQLCHAR* Text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

SQLLEN* IndicatorOf(uint8_t* cell) {
    return reinterpret_cast<SQLLEN*>(cell);
}

bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

bool IsIntervalType(int32_t nativeType) {
    return nativeType >= SQL_INTERVAL_YEAR && nativeType <= SQL_INTERVAL_MINUTE_TO_SECOND;
}

bool IsCharCType(TFieldType t) {
    return t == ftString || t == ftFixedChar;
}

uint16_t Read16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void Write16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

void Write32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

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

bool IsOutputParam(rtl::TParamType type) {
    return type == rtl::ptOutput || type == rtl::ptInputOutput || type == rtl::ptResult;
}

}  // namespace

SQLLEN OdbcCellIndicator(const uint8_t* cell) {
    SQLLEN v;
    std::memcpy(&v, cell, sizeof v);
    return v;
}

void SetOdbcCellIndicator(uint8_t* cell, SQLLEN value) {
    std::memcpy(cell, &value, sizeof value);
}

int64_t OdbcIntervalToScaled(int16_t intervalType, const uint8_t* interval) {
    const uint8_t* v = interval + 8;
    __int128 scaled;
    if (intervalType == SQL_INTERVAL_YEAR_TO_MONTH) {
        scaled = (__int128(Read32(v)) * 100 + Read32(v + 4)) * 100000000 * 10000;
    } else {
        // days * 1000000 + hours * 10000 + minutes * 100 + seconds + fraction / 1000000, times 10000
        scaled = __int128(Read32(v)) * 10000000000LL + __int128(Read32(v + 4)) * 100000000 +
                 __int128(Read32(v + 8)) * 1000000 + __int128(Read32(v + 12)) * 10000 + Read32(v + 16) / 100;
    }
    if (scaled > std::numeric_limits<int64_t>::max()) rtl::DatabaseError("Interval value out of range");
    return int64_t(scaled);
}

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

        SQLLEN ind = isNull ? SQL_NULL_DATA : (type == ftString ? SQL_NTS : SQLLEN(dataSize));
        SQLLEN bufferLength = dataSize;
        if (!procedure && type == ftString) bufferLength = dataSize - 1;
        std::memset(data, 0, size_t(dataSize));
        switch (type) {
            case ftString: {
                if (isNull) break;
                const std::string text = p.AsString();
                const size_t n = std::min(text.size(), size_t(std::max(dataSize - 1, 0)));
                std::memcpy(data, text.data(), n);
                break;
            }
            case ftSmallint:
                if (!isNull) SetBufferSmallint(data, 0, int16_t(p.Value().AsInteger()));
                break;
            case ftInteger:
            case ftAutoInc:
                if (!isNull) SetBufferInteger(data, 0, p.Value().AsInteger());
                break;
            case ftBoolean:
                if (procedure) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
                if (!isNull) SetBufferSmallint(data, 0, p.Value().AsBoolean() ? 1 : 0);
                break;
            case ftFloat:
            case ftCurrency:
                if (!isNull) SetBufferDouble(data, 0, p.Value().AsDouble());
                break;
            case ftDate:
            case ftTime:
            case ftDateTime:
                if (!isNull) CnvtDateTime2DBDateTime(type, p.Value().AsDateTime(), data, dataSize);
                break;
            case ftBytes:
            case ftVarBytes: {
                if (procedure) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
                if (isNull) break;
                const rtl::ByteArray bytes = p.Value().AsBytes();
                std::memcpy(data, bytes.data(), std::min(bytes.size(), size_t(dataSize)));
                break;
            }
            case ftLargeint:
                if (!isNull) SetBufferInt64(data, 0, p.Value().AsInt64());
                break;
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
            default:
                rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
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
        CheckStmt(Fn().SQLBindParameter(stmt_, number, direction, cType, sqlType, columnSize, 0, data,
                                        procedure ? dataSize : bufferLength, IndicatorOf(cell)));
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
        else
            d.DataSize = NativeDataSize(type);
        d.Precision = digits;
        d.Required = nullable == 0;
    }
    resultColumns_ = list.Count();
}

// ---------------------------------------------------------------------------------------------
// Row buffer

int32_t TICustomOdbcCommand::GetFieldsBufferSize() {
    const TSDServerType server = OdbcDatabase().GetServerType();
    const int count = FieldDescs->Count();
    FieldOffsets.assign(size_t(count), -1);
    int64_t offset = 0;
    int32_t slot = 0;
    for (int i = 0; i < count; ++i) {
        TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        rtl::Assert(d.FieldNo >= 1 && d.FieldNo <= count,
                    rtl::Format("Field number %d outside 1..%d", d.FieldNo, count));
        FieldOffsets[size_t(d.FieldNo - 1)] = int32_t(offset);
        d.BlobIndex = IsBlobFieldType(server, d.FieldType) ? slot++ : -1;
        offset = Align8(offset + kCellHeaderSize + std::max(d.DataSize, 0));
    }
    FieldsDataSize = int32_t(offset);
    rowSize_ = Align8(int64_t(FieldsDataSize) + 4 * int64_t(BlobFieldCount));
    int64_t size = rowSize_;
    const int32_t prefetch = OdbcDatabase().PrefetchRows;
    if (BlobFieldCount == 0 && prefetch > 1 && stmt_ != nullptr) {
        TICustomOdbcDatabase& db = OdbcDatabase();
        rowStatus_.assign(size_t(prefetch), SQL_ROW_NOROW);
        rowsFetched_ = 0;
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, SQLULEN(rowSize_), 0));
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, SQLULEN(prefetch), 0));
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR,
                                 reinterpret_cast<uintptr_t>(rowStatus_.data()), 0));
        CheckStmt(
            db.SetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, reinterpret_cast<uintptr_t>(&rowsFetched_), 0));
        blockFetching_ = true;
        blockLoaded_ = false;
        rowsPerFetch_ = prefetch;
        currentRow_ = 0;
        size = int64_t(rowSize_) * prefetch;
    }
    if (size > std::numeric_limits<int32_t>::max()) rtl::DatabaseError("Row buffer too large");
    return int32_t(size);
}

TSDBuffer* TICustomOdbcCommand::GetFieldsBuffer() {
    return FieldsBuffer.get();
}

uint8_t* TICustomOdbcCommand::CurrentCell(int32_t fieldNo) {
    uint8_t* cell = GetFieldCell(fieldNo, FieldsBuffer.get());
    return cell + CurrentRowOffset();
}

void TICustomOdbcCommand::SetFieldsBuffer() {
    rtl::Assert(FieldsBuffer != nullptr, "TICustomOdbcCommand.SetFieldsBuffer: no row buffer");
    const TSDServerType server = OdbcDatabase().GetServerType();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo <= 0) continue;
        const bool boundLong = IsBoundLongField(d);
        const int32_t cType = IsIntervalField(d) ? d.NativeType
                              : boundLong        ? NativeDataType(FieldDataType(d.NativeType))
                                                 : NativeDataType(d.FieldType);
        if (cType == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (d.FieldNo > resultColumns_) continue;  // computed by the command, not bound
        uint8_t* cell = FieldsBuffer->Data() + FieldOffsets[size_t(d.FieldNo - 1)];
        if (IsBlobFieldType(server, d.FieldType) && !boundLong)
            CheckStmt(Fn().SQLBindCol(stmt_, SQLUSMALLINT(d.FieldNo), SQLSMALLINT(cType), nullptr, 0,
                                      IndicatorOf(cell)));
        else
            CheckStmt(Fn().SQLBindCol(stmt_, SQLUSMALLINT(d.FieldNo), SQLSMALLINT(cType),
                                      cell + kCellHeaderSize, d.DataSize, IndicatorOf(cell)));
    }
}

void TICustomOdbcCommand::FreeRowBuffer(bool check) {
    TICustomOdbcDatabase& db = OdbcDatabase();
    if (stmt_ != nullptr) {
        const SQLRETURN rc = Fn().SQLFreeStmt(stmt_, SQL_UNBIND);
        if (check) CheckStmt(rc);
    }
    currentRow_ = 0;
    rowSize_ = 0;
    if (blockFetching_ && stmt_ != nullptr) {
        const SQLRETURN rcs[4] = {
            db.SetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0),
            db.SetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 1, 0),
            db.SetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, 0, 0),
            db.SetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, 0, 0),
        };
        if (check)
            for (SQLRETURN rc : rcs)
                CheckStmt(rc);
    }
    blockFetching_ = false;
    blockLoaded_ = false;
    rowsPerFetch_ = 1;
    rowStatus_.clear();
    rowsFetched_ = 0;
    TISqlCommand::FreeFieldsBuffer();
}

void TICustomOdbcCommand::FreeFieldsBuffer() {
    FreeRowBuffer(true);
}

// ---------------------------------------------------------------------------------------------
// Fetching

bool TICustomOdbcCommand::DoFetchNextRow() {
    odbcDatabase_->MarkActivity();
    if (FieldDescs->Count() == 0) return false;
    bool row = false;
    if (!blockFetching_) {
        const SQLRETURN rc = Fn().SQLFetch(stmt_);
        if (Succeeded(rc))
            row = true;
        else if (rc != SQL_NO_DATA)
            CheckStmt(rc);
    } else {
        for (;;) {
            if (blockLoaded_ && currentRow_ + 1 < rowsPerFetch_) {
                ++currentRow_;
                const SQLUSMALLINT status =
                    SQLULEN(currentRow_) < rowsFetched_ ? rowStatus_[size_t(currentRow_)] : SQL_ROW_NOROW;
                if (status == SQL_ROW_NOROW) {
                    if (currentRow_ < rowsPerFetch_ - 1) break;  // the end of the data
                } else if (status == SQL_ROW_ERROR) {
                    RaiseRowError();
                } else if (status != SQL_ROW_DELETED) {
                    row = true;
                    break;
                } else {
                    continue;  // a row deleted since the block was read
                }
            }
            const SQLRETURN rc = Fn().SQLFetch(stmt_);
            if (rc == SQL_NO_DATA) {
                blockLoaded_ = false;
                break;
            }
            if (!Succeeded(rc)) CheckStmt(rc);
            blockLoaded_ = true;
            currentRow_ = 0;
            const SQLUSMALLINT status = rowsFetched_ > 0 ? rowStatus_[0] : SQL_ROW_NOROW;
            if (status == SQL_ROW_ERROR) RaiseRowError();
            if (status == SQL_ROW_DELETED) continue;
            if (status == SQL_ROW_NOROW) {
                blockLoaded_ = false;
                break;
            }
            row = true;
            break;
        }
    }
    if (!row) {
        ReleaseConnection();
        return false;
    }
    RowArrived();
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

void TICustomOdbcCommand::RowArrived() {
    FillComputedColumns();
    const TSDServerType server = OdbcDatabase().GetServerType();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo <= 0 || d.FieldNo > resultColumns_) continue;
        const bool text = IsCharCType(d.FieldType);
        const bool binary =
            (d.FieldType == ftBytes || d.FieldType == ftVarBytes) && !IsBlobFieldType(server, d.FieldType);
        if (!text && !binary) continue;
        // A value longer than its cell must not be passed on cut short.
        const SQLLEN ind = OdbcCellIndicator(CurrentCell(d.FieldNo));
        const SQLLEN capacity = d.DataSize - (text ? 1 : 0);
        if (ind == SQL_NO_TOTAL || ind > capacity)
            OdbcDatabase().RaiseError(
                0, 0, false, "01004",
                rtl::Format("String data, right truncated: the value of field '%s' is longer "
                            "than its %d bytes",
                            d.FieldName, int64_t(capacity)));
    }
}

void TICustomOdbcCommand::RaiseRowError() {
    // The rows of a block carry only a status; the diagnostics of the fetch that read the
    // block tell what went wrong, one record per failed row (besides the general "01S01").
    struct Record {
        std::string state;
        std::string message;
        int32_t native = 0;
        SQLLEN row = -1;
    };
    std::vector<Record> records;
    TOdbcFunctions& fn = Fn();
    if (fn.SQLGetDiagRec != nullptr) {
        for (SQLSMALLINT rec = 1; rec < 100; ++rec) {
            SQLCHAR state[6] = {};
            SQLCHAR text[1001] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!Succeeded(
                    fn.SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, rec, state, &native, text, 1000, &length)))
                break;
            Record r{PCharToString(reinterpret_cast<const char*>(state)),
                     PCharToString(reinterpret_cast<const char*>(text)), native, -1};
            if (fn.SQLGetDiagField != nullptr)
                fn.SQLGetDiagField(SQL_HANDLE_STMT, stmt_, rec, SQL_DIAG_ROW_NUMBER, &r.row, 0, nullptr);
            records.push_back(std::move(r));
        }
    }
    const SQLLEN thisRow = currentRow_ + 1;
    const Record* chosen = nullptr;
    auto pick = [&](auto accept) {
        for (const Record& r : records)
            if (chosen == nullptr && accept(r)) chosen = &r;
    };
    pick([&](const Record& r) { return r.row == thisRow && r.state != "01S01"; });
    pick([&](const Record& r) { return r.state != "01S01"; });
    pick([](const Record&) { return true; });
    Record fallback{"01S01", rtl::Format("Error in row %d of the fetched block", int64_t(thisRow)), 0,
                    thisRow};
    if (chosen == nullptr) chosen = &fallback;
    const int16_t code =
        static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(chosen->native) & 0xFFFF));
    OdbcDatabase().RaiseError(code, code,
                              OdbcConnectionLostState(chosen->state, OdbcDatabase().GetDbmsDescription()),
                              chosen->state, chosen->message);
    // The compiler cannot see that a virtual [[noreturn]] call does not return.
    throw rtl::EAssertionFailed("TICustomOdbcCommand.RaiseRowError: RaiseError returned");
}

// ---------------------------------------------------------------------------------------------
// Cell conversion

bool TICustomOdbcCommand::ConvertCell(int16_t nativeType, TFieldType fieldType, bool fixedChar, void* dest,
                                      int32_t destSize, const uint8_t* cell, int32_t cellSize) {
    const SQLLEN ind = OdbcCellIndicator(cell);
    if (ind == SQL_NULL_DATA) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    auto* out = static_cast<uint8_t*>(dest);
    if (IsDateTimeFieldType(fieldType)) {
        if (ind == 0) return false;
        TSDDateTimeRec rec;
        if (fieldType == ftDate) {
            const rtl::TDateTime date =
                rtl::EncodeDate(int16_t(Read16(data)), Read16(data + 2), Read16(data + 4));
            rec = TSDDateTimeRec::FromDate(rtl::DateTimeToTimeStamp(date).Date);
        } else if (fieldType == ftTime) {
            rec = TSDDateTimeRec::FromTime(
                int32_t((int64_t(Read16(data)) * 3600 + Read16(data + 2) * 60 + Read16(data + 4)) * 1000));
        } else {
            const rtl::TDateTime date =
                rtl::EncodeDate(int16_t(Read16(data)), Read16(data + 2), Read16(data + 4));
            rtl::TTimeStamp ts;
            ts.Date = rtl::DateTimeToTimeStamp(date).Date;
            ts.Time = int32_t((int64_t(Read16(data + 6)) * 3600 + Read16(data + 8) * 60 + Read16(data + 10)) *
                              1000);
            rec = TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(ts) + Read32(data + 12) / 1000000);
        }
        std::memcpy(out, rec.Bytes, size_t(std::min<int32_t>(destSize, int32_t(sizeof rec.Bytes))));
        return true;
    }
    if (fieldType == ftGuid) {
        char text[38];
        GuidToChars(data, 16, text, int(sizeof text));
        rtl::Assert(destSize >= 38, "TICustomOdbcCommand.GetCnvtFieldData: GUID destination too small");
        std::memcpy(out, text, 38);
        if (destSize > 38) out[38] = 0;
        return true;
    }
    if (fieldType == ftBCD && IsIntervalType(nativeType)) {
        rtl::TBcd bcd;
        if (!rtl::CurrencyToBcd(OdbcIntervalToScaled(nativeType, data), bcd, 32, 4))
            rtl::DatabaseError("Interval value out of range");
        std::memcpy(out, &bcd, size_t(std::min<int32_t>(destSize, int32_t(sizeof bcd))));
        return true;
    }
    if (RequiredCnvtFieldType(fieldType))
        throw rtl::EAssertionFailed(std::string("Data conversion is not implemented for datatype ") +
                                    rtl::FieldTypeName(fieldType));
    const int32_t capacity = IsCharCType(fieldType) ? std::max(cellSize - 1, 0) : cellSize;
    const int32_t available = ind < 0 ? capacity : int32_t(std::min<SQLLEN>(ind, capacity));
    if (IsCharCType(fieldType)) {
        if (destSize <= 0) return true;
        const int32_t n = std::min(available, destSize);
        std::memcpy(out, data, size_t(n));
        out[n < destSize ? n : destSize - 1] = 0;
        // Only fixed-length columns are padded by the server; the blanks of a varying
        // column are the value's own.
        if (fixedChar && OdbcDatabase().RTrimCharOutput) TrimTrailingBlanks(reinterpret_cast<char*>(out));
        return true;
    }
    std::memcpy(out, data, size_t(std::max(0, std::min(available, destSize))));
    return true;
}

bool TICustomOdbcCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    return ConvertCell(desc.NativeType, desc.FieldType, desc.IsFixedChar, dest, destSize,
                       CurrentCell(desc.FieldNo), desc.DataSize);
}

int32_t TICustomOdbcCommand::CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value,
                                                     uint8_t* buffer, int32_t bufferSize) {
    if (bufferSize < NativeDataSize(fieldType))
        rtl::DatabaseError("Insufficient buffer size for internal datetime type");
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    switch (fieldType) {
        case ftDate:
            rtl::DecodeDate(value, year, month, day);
            Write16(buffer, uint16_t(year));
            Write16(buffer + 2, uint16_t(month));
            Write16(buffer + 4, uint16_t(day));
            return kDateStructSize;
        case ftTime:
            rtl::DecodeTime(value, hour, minute, second, msec);
            Write16(buffer, uint16_t(hour));
            Write16(buffer + 2, uint16_t(minute));
            Write16(buffer + 4, uint16_t(second));
            return kTimeStructSize;
        case ftDateTime:
            rtl::DecodeDate(value, year, month, day);
            rtl::DecodeTime(value, hour, minute, second, msec);
            Write16(buffer, uint16_t(year));
            Write16(buffer + 2, uint16_t(month));
            Write16(buffer + 4, uint16_t(day));
            Write16(buffer + 6, uint16_t(hour));
            Write16(buffer + 8, uint16_t(minute));
            Write16(buffer + 10, uint16_t(second));
            Write32(buffer + 12, uint32_t(msec) * 1000000u);
            return kTimestampStructSize;
        default:
            return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Long data

int32_t TICustomOdbcCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    const bool boundLong = IsBoundLongField(desc);
    const TFieldType cellType = boundLong ? FieldDataType(desc.NativeType) : desc.FieldType;
    if (boundLong) {
        const uint8_t* cell = CurrentCell(desc.FieldNo);
        const SQLLEN ind = OdbcCellIndicator(cell);
        if (ind == SQL_NULL_DATA) return 0;
        const SQLLEN capacity = desc.DataSize - (IsCharCType(cellType) ? 1 : 0);
        if (ind >= 0 && ind <= capacity) {
            data.assign(cell + kCellHeaderSize, cell + kCellHeaderSize + ind);
            return int32_t(ind);
        }
        // The cell holds only the start of a longer value: the whole value is read below.
    }
    const SQLSMALLINT cType = SQLSMALLINT(NativeDataType(cellType));
    const bool text = cType == SQL_C_CHAR;
    const SQLLEN terminator = text ? 1 : 0;
    try {
        // A first tiny read tells whether there is a value and, usually, how long it is; the
        // rest follows in one read of that size, or in pieces when the size is not known. A
        // read that still reports more data is followed by another, so nothing is cut.
        std::vector<uint8_t> buffer(size_t(1 + terminator));
        for (;;) {
            SQLLEN ind = 0;
            const SQLRETURN rc = Fn().SQLGetData(stmt_, SQLUSMALLINT(desc.FieldNo), cType, buffer.data(),
                                                 SQLLEN(buffer.size()), &ind);
            if (rc == SQL_NO_DATA) break;
            if (!Succeeded(rc)) CheckStmt(rc);
            if (ind == SQL_NULL_DATA) {
                data.clear();
                return 0;
            }
            const SQLLEN room = SQLLEN(buffer.size()) - terminator;
            SQLLEN got;
            if (rc == SQL_SUCCESS)
                got = std::min(ind, room);
            else if (text)
                got = SQLLEN(strnlen(reinterpret_cast<const char*>(buffer.data()), size_t(room)));
            else
                got = room;
            data.insert(data.end(), buffer.begin(), buffer.begin() + got);
            if (rc == SQL_SUCCESS) break;
            SQLLEN next = pieceSize_;
            if (ind != SQL_NO_TOTAL && ind > got) next = std::min<SQLLEN>(ind - got, SQLLEN(1) << 28);
            buffer.assign(size_t(next + terminator), 0);
        }
    } catch (...) {
        data.clear();
        throw;
    }
    if (data.size() > size_t(std::numeric_limits<int32_t>::max())) {
        data.clear();
        rtl::DatabaseErrorFmt("Value of field '%s' is too long", desc.FieldName);
    }
    return int32_t(data.size());
}

// ---------------------------------------------------------------------------------------------
// Results and the statement's end

bool TICustomOdbcCommand::ResultSetExists() {
    if (CommandType != 0) return true;
    TakeConnection();
    RePrepareIfNeeded();
    return SearchResultColumns() > 0;
}

bool TICustomOdbcCommand::NextResultSet() {
    if (noMoreResults_ || stmt_ == nullptr) return false;
    const SQLRETURN rc = Fn().SQLMoreResults(stmt_);
    if (rc == SQL_NO_DATA) {
        noMoreResults_ = true;
        return false;
    }
    CheckStmt(rc);
    if (FieldsBuffer) FreeFieldsBuffer();
    furtherResultSet_ = true;
    return true;
}

int32_t TICustomOdbcCommand::GetRowsAffected() {
    if (noRows_) return 0;
    SQLLEN count = 0;
    CheckStmt(Fn().SQLRowCount(stmt_, &count));
    return int32_t(
        std::clamp<SQLLEN>(count, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

void TICustomOdbcCommand::GetOutputParams() {
    RequestFetchAll();
    while (NextResultSet()) {
    }
    if (Params != nullptr && ParamsBuffer) {
        int64_t offset = 0;
        const int32_t size = MaxCharParamLen + 1;
        std::vector<uint8_t> buffer(size_t(std::max(size, 64)));
        for (int i = 0; i < Params->Count(); ++i) {
            TParam& p = (*Params)[i];
            const int32_t dataSize = ParamDataSize(p);
            const uint8_t* cell = ParamsBuffer->Data() + offset;
            offset += Align8(int64_t(dataSize) + kCellHeaderSize);
            if (!IsOutputParam(p.ParamType())) continue;
            if (OdbcCellIndicator(cell) == SQL_NULL_DATA) {
                p.Clear();
                continue;
            }
            std::fill(buffer.begin(), buffer.end(), 0);
            const SQLLEN ind = OdbcCellIndicator(cell);
            ConvertCell(SqlDataType(p.DataType()), p.DataType(), false, buffer.data(), size, cell, dataSize);
            const uint8_t* b = buffer.data();
            switch (p.DataType()) {
                case ftString:
                case ftFixedChar:
                    p.SetValue(rtl::Variant(PCharToString(reinterpret_cast<const char*>(b), size - 1)));
                    break;
                case ftSmallint:
                    p.SetValue(rtl::Variant(int16_t(Read16(b))));
                    break;
                case ftBoolean:
                    p.SetValue(rtl::Variant(Read16(b) != 0));
                    break;
                case ftInteger:
                case ftAutoInc:
                    p.SetValue(rtl::Variant(int32_t(Read32(b))));
                    break;
                case ftFloat:
                case ftCurrency:
                    p.SetValue(rtl::Variant(GetBufferDouble(b, 0)));
                    break;
                case ftLargeint:
                    p.SetValue(rtl::Variant(GetBufferInt64(b, 0)));
                    break;
                case ftDate:
                case ftTime:
                case ftDateTime:
                    SetParamDateTimeRec(p, GetBufferDateTimeRec(b, 0));
                    break;
                case ftGuid:
                    p.SetValue(rtl::Variant(std::string(reinterpret_cast<const char*>(b), 38)));
                    break;
                case ftBytes:
                case ftVarBytes: {
                    const size_t n = size_t(std::clamp<SQLLEN>(ind, 0, std::min(dataSize, size)));
                    p.SetValue(rtl::Variant::FromBytes(rtl::ByteArray(b, b + n)));
                    break;
                }
                default:
                    break;
            }
        }
    }
    ReleaseConnection();
}

void TICustomOdbcCommand::CloseResultSet() {
    noMoreResults_ = false;
    if (furtherResultSet_) {
        ClearFieldDescs();
        return;
    }
    if (blockFetching_) {
        currentRow_ = 0;
        rowsFetched_ = 0;
        blockLoaded_ = false;
    }
    if (stmt_ != nullptr && odbcDatabase_->GetHandle() != nullptr) Fn().SQLFreeStmt(stmt_, SQL_CLOSE);
    ReleaseConnection();
}

void TICustomOdbcCommand::Cancel() {
    if (stmt_ != nullptr) CheckStmt(Fn().SQLCancel(stmt_));
}

void TICustomOdbcCommand::Disconnect(bool force) {
    // Once the connection is gone its statements went with it: only forget them.
    const bool connected = odbcDatabase_->GetHandle() != nullptr;
    if (!connected) {
        stmt_ = nullptr;
        blockFetching_ = false;
    }
    if (FieldsBuffer) FreeRowBuffer(!force && connected);
    ReleaseConnection();
    furtherResultSet_ = false;
    executed_ = false;
    noMoreResults_ = false;
    if (stmt_ == nullptr) return;
    TICustomOdbcDatabase& db = OdbcDatabase();
    const SQLRETURN rc = Fn().SQLFreeStmt(stmt_, SQL_CLOSE);
    try {
        if (!force) CheckStmt(rc);
    } catch (...) {
        db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt_);
        stmt_ = nullptr;
        throw;
    }
    db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = nullptr;
}
