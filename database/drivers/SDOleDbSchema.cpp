// database/drivers/SDOleDbSchema.cpp: the OLE DB driver's catalog commands (part of unit
// SDOleDb). Each opens a schema rowset of the session, restricted by the pattern's owner and
// name, and shows it under the library's catalog column names, with the columns every driver
// of the library computes (table, column and index types, sort orders, parameter counts)
// written into the row buffer after each row.
#include <cstring>

#include "database/drivers/SDOleDb.h"
#include "database/engine/SDCommonSqlText.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace com;
using namespace oledb;

namespace {

struct SchemaName {
    const GUID* guid;
    const char* name;
};

const SchemaName kSchemas[] = {
    {&DBSCHEMA_TABLES, "DBSCHEMA_TABLES"},
    {&DBSCHEMA_COLUMNS, "DBSCHEMA_COLUMNS"},
    {&DBSCHEMA_INDEXES, "DBSCHEMA_INDEXES"},
    {&DBSCHEMA_PROCEDURES, "DBSCHEMA_PROCEDURES"},
    {&DBSCHEMA_PROCEDURE_PARAMETERS, "DBSCHEMA_PROCEDURE_PARAMETERS"},
};

void SetStatus(uint8_t* cell, DBSTATUS status, DBLENGTH length) {
    std::memcpy(cell + kOleDbStatusOffset, &status, sizeof status);
    std::memcpy(cell + kOleDbLengthOffset, &length, sizeof length);
}

}  // namespace

const char* OleDbTypeCodeName(int32_t code) {
    switch (code) {
        case 2:
            return "I2";
        case 3:
            return "I4";
        case 4:
            return "R4";
        case 5:
            return "R8";
        case 6:
            return "CY";
        case 7:
            return "DATE";
        case 8:
            return "BSTR";
        case 9:
            return "IDISPATCH";
        case 10:
            return "ERROR";
        case 11:
            return "BOOL";
        case 12:
            return "VARIANT";
        case 13:
            return "IUNKNOWN";
        case 14:
            return "DECIMAL";
        case 16:
            return "I1";
        case 17:
            return "UI1";
        case 18:
            return "UI2";
        case 19:
            return "UI4";
        case 20:
            return "I8";
        case 21:
            return "UI8";
        case 72:
            return "GUID";
        case 128:
            return "BYTES";
        case 129:
            return "STR";
        case 130:
            return "WSTR";
        case 131:
            return "NUMERIC";
        case 132:
            return "UDT";
        case 133:
            return "DBDATE";
        case 134:
            return "DBTIME";
        case 135:
            return "DBTIMESTAMP";
        case 4096:
            return "VECTOR";
        case 8192:
            return "ARRAY";
        case 16384:
            return "BYREF";
        default:
            return "";
    }
}

// ---------------------------------------------------------------------------------------------
// TIOleDbSchemaCommand

TIOleDbSchemaCommand::TIOleDbSchemaCommand(TIOleDbDatabase* database, rtl::Component* owner,
                                           const GUID& schema)
    : TIOleDbCommand(database, owner), schema_(schema) {}

TIOleDbSchemaCommand::~TIOleDbSchemaCommand() {
    ClearRestrictions();
}

void* TIOleDbSchemaCommand::GetHandle() {
    return command_ || !PreparedText.empty() ? this : nullptr;
}

void TIOleDbSchemaCommand::ClearRestrictions() {
    for (VARIANT& v : restrictions_)
        VariantClear(&v);
    restrictions_.clear();
}

void TIOleDbSchemaCommand::AddRestriction(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    if (!text.empty()) v = MakeVariantText(text);
    restrictions_.push_back(v);
}

std::vector<std::string> TIOleDbSchemaCommand::RestrictionTexts() const {
    std::vector<std::string> out;
    for (const VARIANT& v : restrictions_)
        out.push_back(VariantToText(v));
    return out;
}

void TIOleDbSchemaCommand::SplitPattern(std::string& owner, std::string& name) const {
    SplitOwnerAndName(pattern_, owner, name);
    if (owner == "%") owner.clear();
    if (name == "%") name.clear();
}

void TIOleDbSchemaCommand::DoPrepare(const std::string& sql) {
    if (!sql.empty()) {
        SetPreparedText(sql);
        return;
    }
    for (const SchemaName& s : kSchemas)
        if (GuidToString(*s.guid) == GuidToString(schema_)) {
            SetPreparedText(rtl::Format("IDBSchemaRowset.GetRowset( %s )", s.name));
            return;
        }
    rtl::DatabaseErrorFmt("Schema GUID %s not supported", GuidToString(schema_));
}

void TIOleDbSchemaCommand::DoExecDirect(const std::string& sql) {
    DoPrepare(sql);
    DoExecute();
    InitFieldDescs();
}

void TIOleDbSchemaCommand::DoExecute() {
    if (rowset_) return;
    TakeConnection();
    ClearRestrictions();
    SetRestrictions();
    ComPtr<IDBCreateCommand> session = OleDbDatabase().GetSession();
    rtl::Assert(bool(session), "TIOleDbSchemaCommand.DoExecute: not connected");
    ComPtr<IDBSchemaRowset> schemas;
    Check(session->QueryInterface(IDBSchemaRowset::kIID, schemas.ReceiveVoid()));
    Check(schemas->GetRowset(nullptr, schema_, ULONG(restrictions_.size()), restrictions_.data(),
                             IRowset::kIID, 0, nullptr, reinterpret_cast<IUnknown**>(rowset_.Receive())));
}

void TIOleDbSchemaCommand::NameColumn(TSDFieldDescList& list, int position, const char* name) {
    if (position >= 1 && position <= list.Count()) list.GetFieldDesc(position - 1).FieldName = name;
}

void TIOleDbSchemaCommand::AppendColumn(TSDFieldDescList& list, const char* name, TFieldType type,
                                        int32_t size) {
    TSDFieldDesc& d = list.AddFieldDesc();
    d.FieldName = name;
    d.FieldType = type;
    d.NativeType = int16_t(OleDbBoundType(type));
    d.DataSize = type == ftInteger ? NativeDataSize(type) : size;
    d.Precision = 0;
    d.Required = true;
    d.FieldNo = list.Count();
}

uint8_t* TIOleDbSchemaCommand::CellOf(const char* name) {
    return GetFieldCell(FieldDescs->FieldDescByName(name).FieldNo, FieldsBuffer.get());
}

void TIOleDbSchemaCommand::WriteInteger(const char* name, int32_t value) {
    uint8_t* cell = CellOf(name);
    SetStatus(cell, DBSTATUS_S_OK, 4);
    std::memcpy(cell + kOleDbValueOffset, &value, sizeof value);
}

void TIOleDbSchemaCommand::WriteText(const char* name, const std::string& text) {
    const TSDFieldDesc& d = FieldDescs->FieldDescByName(name);
    uint8_t* cell = GetFieldCell(d.FieldNo, FieldsBuffer.get());
    const size_t n = std::min(text.size(), size_t(std::max(d.DataSize - 1, 0)));
    std::memcpy(cell + kOleDbValueOffset, text.data(), n);
    cell[kOleDbValueOffset + n] = 0;
    SetStatus(cell, DBSTATUS_S_OK, n + 1);
}

bool TIOleDbSchemaCommand::ReadInteger(int position, int32_t& value) {
    const TSDFieldDesc& d = FieldDescs->FieldDescByNumber(position);
    const uint8_t* cell = GetFieldCell(d.FieldNo, FieldsBuffer.get());
    DBSTATUS status = 0;
    std::memcpy(&status, cell + kOleDbStatusOffset, sizeof status);
    if (status == DBSTATUS_S_ISNULL) return false;
    const uint8_t* v = cell + kOleDbValueOffset;
    switch (d.FieldType) {
        case ftSmallint:
        case ftBoolean:
        case ftWord: {
            int16_t x = 0;
            std::memcpy(&x, v, 2);
            value = x;
            return true;
        }
        case ftInteger: {
            std::memcpy(&value, v, 4);
            return true;
        }
        case ftLargeint: {
            int64_t x = 0;
            std::memcpy(&x, v, 8);
            value = int32_t(x);
            return true;
        }
        case ftFloat:
        case ftCurrency: {
            double x = 0;
            std::memcpy(&x, v, 8);
            value = int32_t(x);
            return true;
        }
        default: {
            std::string text;
            if (!GetFieldAsString(position, text)) return false;
            value = rtl::StrToIntDef(text, 0);
            return true;
        }
    }
}

bool TIOleDbSchemaCommand::ReadText(int position, std::string& value) {
    return GetFieldAsString(position, value);
}

// ---------------------------------------------------------------------------------------------
// The five kinds

TIOleDbSchemaTables::TIOleDbSchemaTables(TIOleDbDatabase* database, rtl::Component* owner, bool systemTables)
    : TIOleDbSchemaCommand(database, owner, DBSCHEMA_TABLES), systemTables_(systemTables) {}

void TIOleDbSchemaTables::SetRestrictions() {
    std::string owner, name;
    SplitPattern(owner, name);
    AddRestriction("");
    AddRestriction(owner);
    AddRestriction(name);
    AddRestriction(systemTables_ ? "SYSTEM TABLE" : "TABLE");
}

void TIOleDbSchemaTables::GetFieldDescs(TSDFieldDescList& list) {
    TIOleDbCommand::GetFieldDescs(list);
    NameColumn(list, 1, "CATALOG_NAME");
    NameColumn(list, 2, "SCHEMA_NAME");
    NameColumn(list, 3, "TABLE_NAME");
    NameColumn(list, 4, "OLD_TABLE_TYPE");
    AppendColumn(list, "TABLE_TYPE", ftInteger, 4);
}

bool TIOleDbSchemaTables::DoFetchNextRow() {
    if (!TIOleDbCommand::DoFetchNextRow()) return false;
    std::string type;
    if (ReadText(4, type)) {
        int32_t code = 0;
        if (type == "TABLE")
            code = 1;
        else if (type == "VIEW" || type == "SYSTEM VIEW")
            code = 2;
        else if (type == "SYSTEM TABLE")
            code = 4;
        WriteInteger("TABLE_TYPE", code);
    } else {
        // No type: no value, rather than the last row's.
        SetStatus(CellOf("TABLE_TYPE"), DBSTATUS_S_ISNULL, 0);
    }
    return true;
}

TIOleDbSchemaColumns::TIOleDbSchemaColumns(TIOleDbDatabase* database, rtl::Component* owner)
    : TIOleDbSchemaCommand(database, owner, DBSCHEMA_COLUMNS) {}

void TIOleDbSchemaColumns::SetRestrictions() {
    std::string owner, name;
    SplitPattern(owner, name);
    AddRestriction("");
    AddRestriction(owner);
    AddRestriction(name);
}

void TIOleDbSchemaColumns::GetFieldDescs(TSDFieldDescList& list) {
    TIOleDbCommand::GetFieldDescs(list);
    NameColumn(list, 1, "CATALOG_NAME");
    NameColumn(list, 2, "SCHEMA_NAME");
    NameColumn(list, 3, "TABLE_NAME");
    NameColumn(list, 4, "COLUMN_NAME");
    NameColumn(list, 7, "COLUMN_POSITION");
    NameColumn(list, 9, "COLUMN_DEFAULT");
    NameColumn(list, 11, "COLUMN_NULLABLE");
    NameColumn(list, 12, "COLUMN_DATATYPE");
    NameColumn(list, 14, "COLUMN_LENGTH");
    NameColumn(list, 16, "COLUMN_PRECISION");
    NameColumn(list, 17, "COLUMN_SCALE");
    AppendColumn(list, "COLUMN_TYPE", ftInteger, 4);
    AppendColumn(list, "COLUMN_TYPENAME", ftString, 51);
}

bool TIOleDbSchemaColumns::DoFetchNextRow() {
    if (!TIOleDbCommand::DoFetchNextRow()) return false;
    WriteInteger("COLUMN_TYPE", 0);
    int32_t code = 0;
    if (ReadInteger(12, code))
        WriteText("COLUMN_TYPENAME", OleDbTypeCodeName(int16_t(code)));
    else
        SetStatus(CellOf("COLUMN_TYPENAME"), DBSTATUS_S_ISNULL, 0);
    return true;
}

TIOleDbSchemaIndexes::TIOleDbSchemaIndexes(TIOleDbDatabase* database, rtl::Component* owner)
    : TIOleDbSchemaCommand(database, owner, DBSCHEMA_INDEXES) {}

void TIOleDbSchemaIndexes::SetRestrictions() {
    std::string owner, name;
    SplitPattern(owner, name);
    AddRestriction("");
    AddRestriction(owner);
    AddRestriction("");
    AddRestriction("");
    AddRestriction(name);
}

void TIOleDbSchemaIndexes::GetFieldDescs(TSDFieldDescList& list) {
    TIOleDbCommand::GetFieldDescs(list);
    NameColumn(list, 1, "CATALOG_NAME");
    NameColumn(list, 2, "SCHEMA_NAME");
    NameColumn(list, 3, "TABLE_NAME");
    NameColumn(list, 6, "INDEX_NAME");
    NameColumn(list, 17, "COLUMN_POSITION");
    NameColumn(list, 18, "COLUMN_NAME");
    NameColumn(list, 24, "INDEX_FILTER");
    AppendColumn(list, "INDEX_TYPE", ftInteger, 4);
    AppendColumn(list, "SORT_ORDER", ftString, 2);
}

bool TIOleDbSchemaIndexes::DoFetchNextRow() {
    if (!TIOleDbCommand::DoFetchNextRow()) return false;
    int32_t type = 0, flag = 0;
    if (ReadInteger(7, flag) && flag != 0) type += 4;
    if (ReadInteger(8, flag)) type += flag != 0 ? 2 : 1;
    WriteInteger("INDEX_TYPE", type);
    int32_t collation = 0;
    if (ReadInteger(21, collation))
        WriteText("SORT_ORDER", collation == 1 ? "A" : "D");
    else
        SetStatus(CellOf("SORT_ORDER"), DBSTATUS_S_ISNULL, 0);
    return true;
}

TIOleDbSchemaProcs::TIOleDbSchemaProcs(TIOleDbDatabase* database, rtl::Component* owner)
    : TIOleDbSchemaCommand(database, owner, DBSCHEMA_PROCEDURES) {}

void TIOleDbSchemaProcs::SetRestrictions() {
    std::string owner, name;
    SplitPattern(owner, name);
    AddRestriction("");
    AddRestriction(owner);
    AddRestriction(name);
}

void TIOleDbSchemaProcs::GetFieldDescs(TSDFieldDescList& list) {
    TIOleDbCommand::GetFieldDescs(list);
    NameColumn(list, 1, "CATALOG_NAME");
    NameColumn(list, 2, "SCHEMA_NAME");
    NameColumn(list, 3, "PROC_NAME");
    NameColumn(list, 4, "PROC_TYPE");
    AppendColumn(list, "IN_PARAMS", ftInteger, 4);
    AppendColumn(list, "OUT_PARAMS", ftInteger, 4);
}

bool TIOleDbSchemaProcs::DoFetchNextRow() {
    if (!TIOleDbCommand::DoFetchNextRow()) return false;
    int32_t type = 0;
    if (ReadInteger(4, type)) {
        // A procedure (2) is the library's 1, a function (3) its 2; the value is rewritten in
        // its own 16 bits.
        const int16_t mapped = int16_t(type == 2 ? 1 : type == 3 ? 2 : type);
        uint8_t* cell = GetFieldCell(4, FieldsBuffer.get());
        std::memcpy(cell + kOleDbValueOffset, &mapped, sizeof mapped);
    }
    WriteInteger("IN_PARAMS", -1);
    WriteInteger("OUT_PARAMS", -1);
    return true;
}

TIOleDbSchemaProcParams::TIOleDbSchemaProcParams(TIOleDbDatabase* database, rtl::Component* owner)
    : TIOleDbSchemaCommand(database, owner, DBSCHEMA_PROCEDURE_PARAMETERS) {}

void TIOleDbSchemaProcParams::SetRestrictions() {
    std::string owner, name;
    SplitPattern(owner, name);
    AddRestriction("");
    AddRestriction(owner);
    AddRestriction(name);
}
