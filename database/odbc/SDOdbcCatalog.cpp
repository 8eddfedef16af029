// database/odbc/SDOdbcCatalog.cpp: the ODBC driver's catalog commands and the stored-procedure
// parameter list (unit SDOdbc).
//
// Each catalog command runs one ODBC catalog function and presents its result as an ordinary
// result set: a few columns get the library's own names, and columns the library computes
// (TABLE_TYPE, COLUMN_TYPE, COLUMN_PRECISION...) follow the data source's columns; they are
// not bound and are filled whenever a row becomes current.
#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/odbc/SDOdbc.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace odbcapi;

namespace {

SQLCHAR* Text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

bool Succeeded(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Stored-procedure parameters

void TICustomOdbcCommand::InitParamList() {
    TICustomOdbcDatabase& db = OdbcDatabase();
    TOdbcFunctions& fn = Fn();
    SQLHANDLE stmt = nullptr;
    const SQLRETURN allocated = db.AllocOdbcHandle(SQL_HANDLE_STMT, db.GetDbcHandle(), &stmt);
    struct StatementGuard {
        TICustomOdbcDatabase& db;
        SQLHANDLE& stmt;
        ~StatementGuard() {
            if (stmt != nullptr) db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt);
        }
    } guard{db, stmt};
    if (!Succeeded(allocated)) stmt = nullptr;
    db.CheckDbc(allocated);

    // "owner.name" when the dot is not the last character; otherwise any owner.
    std::string owner = "%";
    std::string name = CommandText;
    const size_t dot = CommandText.find('.');
    if (dot != std::string::npos && dot + 1 < CommandText.size()) {
        owner = CommandText.substr(0, dot);
        name = CommandText.substr(dot + 1);
    }
    db.CheckStmt(stmt, fn.SQLProcedureColumns(stmt, nullptr, 0, Text(owner), SQL_NTS, Text(name), SQL_NTS,
                                              nullptr, 0));

    char columnName[129] = {};
    SQLLEN nameInd = 0;
    int16_t columnType = 0;
    SQLLEN columnTypeInd = 0;
    int16_t dataType = 0;
    SQLLEN dataTypeInd = 0;
    int32_t columnSize = 0;
    SQLLEN columnSizeInd = 0;
    db.CheckStmt(stmt, fn.SQLBindCol(stmt, 4, SQL_C_CHAR, columnName, sizeof columnName, &nameInd));
    db.CheckStmt(stmt, fn.SQLBindCol(stmt, 5, SQL_C_SHORT, &columnType, 2, &columnTypeInd));
    db.CheckStmt(stmt, fn.SQLBindCol(stmt, 6, SQL_C_SHORT, &dataType, 2, &dataTypeInd));
    db.CheckStmt(stmt, fn.SQLBindCol(stmt, 9, SQL_C_LONG, &columnSize, 4, &columnSizeInd));

    int32_t longest = 0;
    for (;;) {
        std::memset(columnName, 0, sizeof columnName);
        columnSize = 0;
        const SQLRETURN rc = fn.SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        if (!Succeeded(rc)) db.CheckStmt(stmt, rc);
        std::string paramName =
            nameInd == SQL_NULL_DATA ? std::string() : std::string(columnName, strnlen(columnName, 128));
        const TFieldType fieldType = FieldDataType(dataType);
        if (fieldType == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", paramName);
        TParamType paramType;
        switch (columnType) {
            case 1:
                paramType = ptInput;
                break;
            case 2:
                paramType = ptInputOutput;
                break;
            case 3:
                continue;  // a result-set column, not a parameter
            case 4:
                paramType = ptOutput;
                break;
            case 5:
                paramType = ptResult;
                break;
            default:
                rtl::DatabaseErrorFmt("Unknown parameter type for parameter '%s'", paramName);
        }
        if (paramType == ptOutput && paramName.empty()) paramType = ptResult;
        if (paramType == ptResult) paramName = "Result";
        if (paramType != ptInput && FieldTypeHasSize(fieldType) && columnSizeInd != SQL_NULL_DATA &&
            columnSize > longest)
            longest = columnSize;
        AddParam(paramName, fieldType, paramType);
    }
    if (longest > MaxCharParamLen) MaxCharParamLen = longest;
}

// ---------------------------------------------------------------------------------------------
// TICustomOdbcCall

void TICustomOdbcCall::DoExecDirect(const std::string&) {
    TakeConnection();
    if (stmt_ == nullptr) AllocStatement();
    SplitOwnerAndName(ObjectName, owner_, name_);
    // The catalog functions take names as the catalog stores them, not as SQL identifiers.
    auto unquote = [](std::string& part) {
        const bool quoted = part.size() >= 2 && part.front() == '"' && part.back() == '"';
        if (quoted) part = UnquoteText(part, '"');
        return quoted;
    };
    ownerQuoted_ = unquote(owner_);
    nameQuoted_ = unquote(name_);
    SQLRETURN rc = CallCatalog(Text(owner_), Text(name_));
    if (!Succeeded(rc) && rc != SQL_NO_DATA) rc = RetryCatalog(rc, Text(name_));
    CheckStmt(rc);
    SetPreparedText(CallText());
    InitFieldDescs();
}

SQLRETURN TICustomOdbcCall::RetryCatalog(SQLRETURN, SQLCHAR* name) {
    return CallCatalog(nullptr, name);
}

void TICustomOdbcCall::RenameColumns(TSDFieldDescList& list,
                                     std::initializer_list<std::pair<int, const char*>> names) {
    for (const auto& [column, name] : names)
        if (column >= 1 && column <= list.Count()) list.GetFieldDesc(column - 1).FieldName = name;
}

TSDFieldDesc& TICustomOdbcCall::AddComputedColumn(TSDFieldDescList& list, const char* name, TFieldType type,
                                                  int32_t size, bool required) {
    TSDFieldDesc& d = list.AddFieldDesc();
    d.FieldName = name;
    d.FieldType = type;
    d.DataSize = size;
    d.Required = required;
    return d;
}

bool TICustomOdbcCall::CellIsNull(int32_t fieldNo) {
    return OdbcCellIndicator(CurrentCell(fieldNo)) == SQL_NULL_DATA;
}

bool TICustomOdbcCall::CellAsInteger(int32_t fieldNo, int64_t& value) {
    value = 0;
    if (fieldNo < 1 || fieldNo > FieldDescs->Count()) return false;
    const TSDFieldDesc& d = FieldDescs->FieldDescByNumber(fieldNo);
    const uint8_t* cell = CurrentCell(fieldNo);
    if (OdbcCellIndicator(cell) == SQL_NULL_DATA) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    switch (d.FieldType) {
        case ftSmallint:
        case ftBoolean:
            value = int16_t(GetBufferWord(data, 0));
            return true;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            value = GetBufferInteger(data, 0);
            return true;
        case ftLargeint:
            value = GetBufferInt64(data, 0);
            return true;
        case ftFloat:
        case ftCurrency:
            value = int64_t(GetBufferDouble(data, 0));
            return true;
        case ftString:
        case ftFixedChar:
            return rtl::TryStrToInt64(rtl::Trim(CellAsText(fieldNo)), value);
        default:
            return false;
    }
}

std::string TICustomOdbcCall::CellAsText(int32_t fieldNo) {
    const TSDFieldDesc& d = FieldDescs->FieldDescByNumber(fieldNo);
    const uint8_t* cell = CurrentCell(fieldNo);
    const SQLLEN ind = OdbcCellIndicator(cell);
    if (ind == SQL_NULL_DATA) return "";
    const char* data = reinterpret_cast<const char*>(cell + kCellHeaderSize);
    return std::string(data, strnlen(data, size_t(std::max(d.DataSize - 1, 0))));
}

void TICustomOdbcCall::SetCellInteger(int32_t fieldNo, int64_t value) {
    const TSDFieldDesc& d = FieldDescs->FieldDescByNumber(fieldNo);
    uint8_t* cell = CurrentCell(fieldNo);
    uint8_t* data = cell + kCellHeaderSize;
    switch (d.FieldType) {
        case ftSmallint:
        case ftBoolean:
            SetBufferSmallint(data, 0, int16_t(value));
            SetOdbcCellIndicator(cell, 2);
            break;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            SetBufferInteger(data, 0, int32_t(value));
            SetOdbcCellIndicator(cell, 4);
            break;
        case ftLargeint:
            SetBufferInt64(data, 0, value);
            SetOdbcCellIndicator(cell, 8);
            break;
        case ftFloat:
        case ftCurrency:
            SetBufferDouble(data, 0, double(value));
            SetOdbcCellIndicator(cell, 8);
            break;
        default:
            rtl::Assert(false, "TICustomOdbcCall.SetCellInteger: not a numeric column");
    }
}

void TICustomOdbcCall::SetCellNull(int32_t fieldNo) {
    SetOdbcCellIndicator(CurrentCell(fieldNo), SQL_NULL_DATA);
}

// ---------------------------------------------------------------------------------------------
// Tables

TIOdbcCallTables::TIOdbcCallTables(TICustomOdbcDatabase* database, rtl::Component* owner,
                                   std::string objectName, std::string tableTypes)
    : TICustomOdbcCall(database, owner, std::move(objectName)), tableTypes_(std::move(tableTypes)) {}

SQLRETURN TIOdbcCallTables::CallCatalog(SQLCHAR* owner, SQLCHAR* name) {
    std::string types = rtl::Trim(tableTypes_);
    if (types.empty()) types = "%";
    return Fn().SQLTables(stmt_, nullptr, 0, owner, owner != nullptr ? SQL_NTS : 0, name, SQL_NTS,
                          Text(types), SQL_NTS);
}

SQLRETURN TIOdbcCallTables::RetryCatalog(SQLRETURN, SQLCHAR* name) {
    // Excel's driver knows neither owners nor table types.
    if (rtl::UpperCase(OdbcDatabase().GetInfoString(SQL_DBMS_NAME)) == "EXCEL")
        return Fn().SQLTables(stmt_, nullptr, 0, nullptr, 0, name, SQL_NTS, nullptr, 0);
    return CallCatalog(nullptr, name);
}

void TIOdbcCallTables::GetFieldDescs(TSDFieldDescList& list) {
    TICustomOdbcCommand::GetFieldDescs(list);
    RenameColumns(list, {{1, "CATALOG_NAME"}, {2, "SCHEMA_NAME"}, {3, "TABLE_NAME"}, {4, "OLD_TABLE_TYPE"}});
    AddComputedColumn(list, "TABLE_TYPE", ftInteger, 4, true);
}

void TIOdbcCallTables::FillComputedColumns() {
    const int32_t typeField = resultColumns_ + 1;
    // A row without a type is no table, view or system table: it counts as "other" (0).
    int64_t code = 0;
    if (resultColumns_ >= 4 && !CellIsNull(4)) {
        const std::string type = CellAsText(4);
        if (type == "TABLE")
            code = 1;
        else if (type == "VIEW")
            code = 2;
        else if (type == "SYSTEM TABLE")
            code = 4;
    }
    SetCellInteger(typeField, code);
}

// ---------------------------------------------------------------------------------------------
// Procedures and their parameters

SQLRETURN TIOdbcCallProcs::CallCatalog(SQLCHAR* owner, SQLCHAR* name) {
    return Fn().SQLProcedures(stmt_, nullptr, 0, owner, owner != nullptr ? SQL_NTS : 0, name, SQL_NTS);
}

void TIOdbcCallProcs::GetFieldDescs(TSDFieldDescList& list) {
    TICustomOdbcCommand::GetFieldDescs(list);
    RenameColumns(list, {{1, "CATALOG_NAME"},
                         {2, "SCHEMA_NAME"},
                         {3, "PROC_NAME"},
                         {4, "IN_PARAMS"},
                         {5, "OUT_PARAMS"},
                         {8, "PROC_TYPE"}});
}

SQLRETURN TIOdbcCallProcParams::CallCatalog(SQLCHAR* owner, SQLCHAR* name) {
    return Fn().SQLProcedureColumns(stmt_, nullptr, 0, owner, owner != nullptr ? SQL_NTS : 0, name, SQL_NTS,
                                    nullptr, 0);
}

void TIOdbcCallProcParams::GetFieldDescs(TSDFieldDescList& list) {
    TICustomOdbcCommand::GetFieldDescs(list);
    RenameColumns(list, {{1, "CATALOG_NAME"},
                         {2, "SCHEMA_NAME"},
                         {3, "PROC_NAME"},
                         {4, "PARAM_NAME"},
                         {5, "PARAM_TYPE"},
                         {6, "PARAM_DATATYPE"},
                         {7, "PARAM_TYPENAME"},
                         {9, "PARAM_LENGTH"},
                         {10, "PARAM_SCALE"},
                         {11, "PARAM_PRECISION"},
                         {12, "PARAM_NULLABLE"},
                         {18, "PARAM_POSITION"}});
}

// ---------------------------------------------------------------------------------------------
// Columns

SQLRETURN TIOdbcCallColumns::CallCatalog(SQLCHAR* owner, SQLCHAR* name) {
    return Fn().SQLColumns(stmt_, nullptr, 0, owner, owner != nullptr ? SQL_NTS : 0, name, SQL_NTS, nullptr,
                           0);
}

void TIOdbcCallColumns::GetFieldDescs(TSDFieldDescList& list) {
    TICustomOdbcCommand::GetFieldDescs(list);
    const int sourceColumns = list.Count();
    RenameColumns(list, {{1, "CATALOG_NAME"},
                         {2, "SCHEMA_NAME"},
                         {3, "TABLE_NAME"},
                         {4, "COLUMN_NAME"},
                         {6, "COLUMN_TYPENAME"},
                         {8, "COLUMN_LENGTH"},
                         {9, "COLUMN_SCALE"},
                         {11, "COLUMN_NULLABLE"},
                         {13, "COLUMN_DEFAULT"},
                         {17, "COLUMN_POSITION"}});
    AddComputedColumn(list, "COLUMN_TYPE", ftInteger, 4, true);
    typeField_ = list.Count();
    AddComputedColumn(list, "COLUMN_PRECISION", ftInteger, 4, false);
    precisionField_ = list.Count();
    // An ODBC 2 data source stops after the remarks column.
    if (sourceColumns <= 13) {
        AddComputedColumn(list, "COLUMN_POSITION", ftInteger, 4, false);
        AddComputedColumn(list, "COLUMN_DEFAULT", ftString, 10, false);
    }
}

void TIOdbcCallColumns::FillComputedColumns() {
    SetCellInteger(typeField_, 0);
    int64_t size = 0, digits = 0, radix = 0;
    if (CellAsInteger(7, size) && CellAsInteger(10, radix) && radix == 10) {
        CellAsInteger(9, digits);
        SetCellInteger(precisionField_, size + digits);
    } else {
        SetCellNull(precisionField_);
    }
    for (int32_t fieldNo = precisionField_ + 1; fieldNo <= FieldDescs->Count(); ++fieldNo)
        SetCellNull(fieldNo);
}

// ---------------------------------------------------------------------------------------------
// Indexes

SQLRETURN TIOdbcCallIndexes::CallCatalog(SQLCHAR* owner, SQLCHAR* name) {
    // The table name is an identifier here, not a pattern; servers that fold unquoted names
    // find it upper-cased. A quoted identifier is exact: it keeps its case.
    const char* given = reinterpret_cast<const char*>(name);
    const std::string table = nameQuoted_ ? std::string(given) : rtl::UpperCase(given);
    const bool anyOwner =
        owner == nullptr || (!ownerQuoted_ && std::strcmp(reinterpret_cast<const char*>(owner), "%") == 0);
    return Fn().SQLStatistics(stmt_, nullptr, 0, anyOwner ? nullptr : owner, anyOwner ? 0 : SQL_NTS,
                              Text(table), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
}

void TIOdbcCallIndexes::GetFieldDescs(TSDFieldDescList& list) {
    TICustomOdbcCommand::GetFieldDescs(list);
    RenameColumns(list, {{1, "CATALOG_NAME"},
                         {2, "SCHEMA_NAME"},
                         {3, "TABLE_NAME"},
                         {4, "INDEX_TYPE"},
                         {6, "INDEX_NAME"},
                         {8, "COLUMN_POSITION"},
                         {9, "COLUMN_NAME"},
                         {10, "SORT_ORDER"},
                         {13, "INDEX_FILTER"}});
}

void TIOdbcCallIndexes::FillComputedColumns() {
    int64_t nonUnique = 0;
    if (resultColumns_ >= 4 && CellAsInteger(4, nonUnique)) SetCellInteger(4, nonUnique != 0 ? 1 : 2);
}
