// database/drivers/SDOleDbCommand.cpp: the OLE DB driver's statements and parameters (part of
// unit SDOleDb): the command object and its text, its properties, preparation, execution
// (one rowset or several results), parameter binding through an accessor or as literals,
// procedure calls and their parameters, output parameters and the type tables.
//
// A command moves from no command object, to a command object with its text, to prepared, to
// executed (a rowset open, or a multiple-results object with its current rowset, or neither),
// through its rows and following result sets, to closed and finally disconnected (everything
// released). The parameter accessor and the task-memory copies of long parameters live from
// BindParamsBuffer to FreeParamsBuffer.
#include <algorithm>
#include <cstring>

#include "database/drivers/SDOleDb.h"
#include "database/drivers/SDSqlLiterals.h"
#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace com;
using namespace oledb;

namespace {

struct TypeRow {
    TFieldType field;
    DBTYPE bound;
    uint16_t size;
    const char* name;
};

const TypeRow kTypes[] = {
    {ftString, DBTYPE_STR, 0, "DBTYPE_CHAR"},      {ftSmallint, DBTYPE_I2, 2, "DBTYPE_I2"},
    {ftInteger, DBTYPE_I4, 4, "DBTYPE_I4"},        {ftWord, DBTYPE_UI2, 2, "DBTYPE_UI2"},
    {ftBoolean, DBTYPE_I2, 2, "DBTYPE_I2"},        {ftFloat, DBTYPE_R8, 8, "DBTYPE_R8"},
    {ftCurrency, DBTYPE_R8, 8, "DBTYPE_R8"},       {ftDate, DBTYPE_DBDATE, 6, "DBTYPE_DBDATE"},
    {ftTime, DBTYPE_DBTIME, 6, "DBTYPE_DBTIME"},   {ftDateTime, DBTYPE_DBTIMESTAMP, 16, "DBTYPE_DBTIMESTAMP"},
    {ftBytes, DBTYPE_BYTES, 0, "DBTYPE_BINARY"},   {ftVarBytes, DBTYPE_BYTES, 0, "DBTYPE_VARBINARY"},
    {ftAutoInc, DBTYPE_I4, 4, "DBTYPE_I4"},        {ftBlob, DBTYPE_BYTES, 0, "DBTYPE_LONGVARBINARY"},
    {ftMemo, DBTYPE_STR, 0, "DBTYPE_LONGVARCHAR"}, {ftFixedChar, DBTYPE_STR, 0, "DBTYPE_CHAR"},
    {ftLargeint, DBTYPE_I8, 8, "DBTYPE_I8"},       {ftGuid, DBTYPE_GUID, 16, "DBTYPE_GUID"},
};

const TypeRow* FindType(TFieldType t) {
    for (const TypeRow& r : kTypes)
        if (r.field == t) return &r;
    return nullptr;
}

int64_t Align8(int64_t n) {
    return (n + 7) / 8 * 8;
}

void SetCellStatus(uint8_t* cell, DBSTATUS status) {
    std::memcpy(cell + kOleDbStatusOffset, &status, sizeof status);
}

void SetCellLength(uint8_t* cell, DBLENGTH length) {
    std::memcpy(cell + kOleDbLengthOffset, &length, sizeof length);
}

DBSTATUS CellStatus(const uint8_t* cell) {
    DBSTATUS s = 0;
    std::memcpy(&s, cell + kOleDbStatusOffset, sizeof s);
    return s;
}

DBLENGTH CellLength(const uint8_t* cell) {
    DBLENGTH n = 0;
    std::memcpy(&n, cell + kOleDbLengthOffset, sizeof n);
    return n;
}

bool IsOutputParam(TParamType t) {
    return t == ptOutput || t == ptInputOutput || t == ptResult;
}

DBPARAMIO ParamIO(TParamType t) {
    DBPARAMIO io = 0;
    if (t == ptInput || t == ptInputOutput) io |= DBPARAMIO_INPUT;
    if (t == ptOutput || t == ptInputOutput || t == ptResult) io |= DBPARAMIO_OUTPUT;
    return io;
}

// Drops the thread's error object left by a failure the driver answers itself.
void ForgetErrorInfo() {
    IErrorInfo* stale = nullptr;
    if (GetErrorInfo(0, &stale) == S_OK && stale != nullptr) stale->Release();
}

// The literal of a parameter for providers that take no markers.
std::string OleDbLiteral(const TParam& p) {
    if (p.IsNull()) return "NULL";
    const rtl::Variant& v = p.Value();
    switch (p.DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint:
            return IntegerLiteral(p);
        case ftBoolean:
            return v.AsBoolean() ? "1" : "0";
        case ftFloat:
        case ftCurrency:
            return FloatLiteral(v.AsDouble());
        case ftDate: {
            int y = 0, m = 0, d = 0;
            rtl::DecodeDate(v.AsDateTime(), y, m, d);
            return rtl::Format("DATE(%d, %d, %d)", y, m, d);
        }
        case ftTime: {
            int h = 0, mi = 0, s = 0, ms = 0;
            rtl::DecodeTime(v.AsDateTime(), h, mi, s, ms);
            return rtl::Format("TIME(%d, %d, %d)", h, mi, s);
        }
        case ftDateTime: {
            int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
            rtl::DecodeDate(v.AsDateTime(), y, m, d);
            rtl::DecodeTime(v.AsDateTime(), h, mi, s, ms);
            return rtl::Format("DATETIME(%d, %d, %d, %d, %d, %d)", y, m, d, h, mi, s);
        }
        default: {
            std::string text = p.AsString();
            while (!text.empty() && text.back() == '\0')
                text.pop_back();
            return "'" + DoubleChar('\'', text) + "'";
        }
    }
}

}  // namespace

DBTYPE OleDbBoundType(TFieldType fieldType) {
    const TypeRow* r = FindType(fieldType);
    return r != nullptr ? r->bound : 0;
}

uint16_t OleDbNativeSize(TFieldType fieldType) {
    const TypeRow* r = FindType(fieldType);
    return r != nullptr ? r->size : 0;
}

const char* OleDbTypeName(TFieldType fieldType) {
    const TypeRow* r = FindType(fieldType);
    return r != nullptr ? r->name : "";
}

// ---------------------------------------------------------------------------------------------
// Creation and release

TIOleDbCommand::TIOleDbCommand(TIOleDbDatabase* database, rtl::Component* owner)
    : TISqlCommand(database, owner) {
    rowsPerFetch_ = std::max(database->PrefetchRows, 1);
    singleConnection_ = database->SingleConnection;
}

TIOleDbCommand::~TIOleDbCommand() {
    try {
        Disconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

TIOleDbDatabase& TIOleDbCommand::OleDbDatabase() const {
    return static_cast<TIOleDbDatabase&>(GetSqlDatabase());
}

void TIOleDbCommand::CreateCommandObject() {
    ComPtr<IDBCreateCommand> session = OleDbDatabase().GetSession();
    rtl::Assert(bool(session), "TIOleDbCommand.CreateCommandObject: not connected");
    Check(session->CreateCommand(nullptr, ICommandText::kIID,
                                 reinterpret_cast<IUnknown**>(command_.Receive())));
}

void* TIOleDbCommand::GetHandle() {
    return command_ ? this : nullptr;
}

void TIOleDbCommand::TakeConnection() {
    if (singleConnection_) OleDbDatabase().SetActiveCommand(this, true);
}

void TIOleDbCommand::GiveUpConnection() {
    TIOleDbDatabase& db = OleDbDatabase();
    if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false);
}

void TIOleDbCommand::Disconnect(bool) {
    std::exception_ptr failure;
    const auto step = [&failure](const auto& f) {
        try {
            f();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    };
    step([&] { FreeParamsBuffer(); });
    step([&] { GiveUpConnection(); });
    command_.Reset();
    step([&] { ReleaseRowset(); });
    multipleResults_.Reset();
    if (failure) std::rethrow_exception(failure);
}

void TIOleDbCommand::CloseResultSet() {
    if (nextResultOpen_) {
        ClearFieldDescs();
        return;
    }
    GiveUpConnection();
    ReleaseRowset();
    multipleResults_.Reset();
}

void TIOleDbCommand::Cancel() {
    if (command_) Check(command_->Cancel());
}

// ---------------------------------------------------------------------------------------------
// Text, properties, preparation and execution

void TIOleDbCommand::SetCommandObjectText(const std::string& text) {
    statementText_ = text;
    if (!command_) CreateCommandObject();
    std::string sql;
    if (CommandType == 2) {
        if (Params != nullptr && Params->Count() == 0) InitParamList();
        const bool sqlServer =
            OleDbDatabase().GetVersionString().find("Microsoft SQL Server") != std::string::npos;
        sql = BuildOdbcCallStatement(text, Params, !sqlServer);
    } else {
        sql = Params != nullptr ? ReplaceParamsWithMarkers(text, *Params) : text;
    }
    const TBstr command(sql);
    Check(command_->SetCommandText(DBGUID_DBSQL, command.Get()));
    SetPreparedText(sql);
}

void TIOleDbCommand::SetCommandProperties() {
    TIOleDbDatabase& db = OleDbDatabase();
    ComPtr<ICommandProperties> properties;
    Check(command_->QueryInterface(ICommandProperties::kIID, properties.ReceiveVoid()));
    std::vector<DBPROP> props;
    if (serverCursor_)
        for (DBPROPID id : {DBPROP_SERVERCURSOR, DBPROP_OTHERINSERT, DBPROP_OTHERUPDATEDELETE,
                            DBPROP_OWNINSERT, DBPROP_OWNUPDATEDELETE})
            props.push_back(OleDbProp(id, MakeVariantBool(true)));
    const std::string timeout = rtl::Trim(db.Params.Values("COMMAND TIMEOUT"));
    if (!timeout.empty()) {
        int32_t seconds = 0;
        if (!rtl::TryStrToInt(timeout, seconds)) seconds = 0;
        props.push_back(OleDbProp(DBPROP_COMMANDTIMEOUT, MakeVariantI4(seconds)));
    }
    if (!serverCursor_ && CommandType == 2 && db.ProviderMultipleResults()) {
        props.push_back(OleDbProp(DBPROP_IMultipleResults, MakeVariantBool(true)));
        props.push_back(OleDbProp(DBPROP_SKIPROWCOUNTRESULTS, MakeVariantBool(false)));
    }
    if (!props.empty()) Check(SetOleDbProperties(properties.Get(), DBPROPSET_ROWSET, props));
    if (!serverCursor_ && db.IsSqlServer()) {
        std::vector<DBPROP> defer = {OleDbProp(SSPROP_DEFERPREPARE, MakeVariantBool(false))};
        Check(SetOleDbProperties(properties.Get(), DBPROPSET_SQLSERVERROWSET, defer));
    }
}

namespace {

// The "WITH" rule: a statement holding "WITH" anywhere runs without a server cursor while the
// call lasts; the flag comes back when it ends.
class TWithRule {
public:
    TWithRule(bool& flag, const std::string& text) : flag_(flag), saved_(flag) {
        if (rtl::UpperCase(text).find("WITH") != std::string::npos) flag_ = false;
    }
    ~TWithRule() { flag_ = saved_; }
    TWithRule(const TWithRule&) = delete;
    TWithRule& operator=(const TWithRule&) = delete;

private:
    bool& flag_;
    bool saved_;
};

}  // namespace

void TIOleDbCommand::DoPrepare(const std::string& sql) {
    TakeConnection();
    SetCommandObjectText(sql);
    const TWithRule rule(serverCursor_, statementText_);
    SetCommandProperties();
    ComPtr<ICommandPrepare> prepare;
    Check(command_->QueryInterface(ICommandPrepare::kIID, prepare.ReceiveVoid()));
    HRESULT hr = prepare->Prepare(0);
    if (hr == E_FAIL && OleDbDatabase().IsSqlServer()) {
        // SQL Server prepares some statements only once it knows their parameters.
        ForgetErrorInfo();
        SetParameterInfo();
        hr = prepare->Prepare(0);
    }
    Check(hr);
}

void TIOleDbCommand::DoExecDirect(const std::string& sql) {
    TakeConnection();
    SetCommandObjectText(sql);
    const TWithRule rule(serverCursor_, statementText_);
    SetCommandProperties();
    AllocParamsBuffer();
    BindParamsBuffer();
    ExecuteCommand(true);
}

void TIOleDbCommand::DoExecute() {
    ExecuteCommand(true);
}

void TIOleDbCommand::Execute() {
    if (!rowset_) {
        FreeParamsBuffer();
        AllocParamsBuffer();
        BindParamsBuffer();
        TracedExecute();
    }
    if (rowset_ && FieldDescs->Count() == 0) InitFieldDescs();
    if (FieldDescs->Count() > 0) {
        if (!FieldsBuffer) AllocFieldsBuffer();
        SetFieldsBuffer();
    }
}

void TIOleDbCommand::ExecuteCommand(bool withFieldDescs) {
    TIOleDbDatabase& db = OleDbDatabase();
    rowsAffected_ = -1;
    outputsRead_ = false;
    DBPARAMS params{nullptr, 0, 0};
    if (GetParamCount() > 0)
        params = {ParamsBuffer ? ParamsBuffer->Data() : nullptr, 1, paramAccessorHandle_};
    DBPARAMS* passed = nullptr;
    if (db.ParamMarkers()) {
        passed = &params;
    } else if (GetParamCount() > 0) {
        const std::string literal = BuildLiteralText();
        if (!literal.empty()) DoPrepare(literal);
    }
    if (!command_) CreateCommandObject();
    if (rowset_ && !nextResultOpen_) ReleaseRowset();
    DBROWCOUNT affected = -1;
    if (CommandType != 2 || serverCursor_) {
        Check(command_->Execute(nullptr, IRowset::kIID, passed, &affected,
                                reinterpret_cast<IUnknown**>(rowset_.Receive())));
        rowsAffected_ = int32_t(affected);
    } else if (!nextResultOpen_) {
        Check(command_->Execute(nullptr, IMultipleResults::kIID, passed, &affected,
                                reinterpret_cast<IUnknown**>(multipleResults_.Receive())));
        while (multipleResults_) {
            affected = -1;
            const HRESULT hr = multipleResults_->GetResult(nullptr, 0, IRowset::kIID, &affected,
                                                           reinterpret_cast<IUnknown**>(rowset_.Receive()));
            if (hr == DB_S_NORESULT) break;
            Check(hr);
            rowsAffected_ = int32_t(affected);
            if (rowset_) break;
        }
    }
    if (withFieldDescs && rowset_ && FieldDescs->Count() == 0) InitFieldDescs();
}

std::string TIOleDbCommand::BuildLiteralText() const {
    if (GetParamCount() == 0) return "";
    // One pass over the text: a value written in is never read again, so a text holding a
    // marker or a quote stays a value.
    return SubstituteParamLiterals(CommandText, Params, OleDbLiteral);
}

void TIOleDbCommand::SetParameterInfo() {
    const int count = GetParamCount();
    if (count == 0) return;
    const auto n = static_cast<size_t>(count);
    std::vector<DB_UPARAMS> ordinals(n);
    std::vector<DBPARAMBINDINFO> infos(n);
    std::vector<TBstr> names(n);
    for (int i = 0; i < count; ++i) {
        const TParam& p = (*Params)[i];
        *names[size_t(i)].Receive() = TextToBstr(OleDbTypeName(p.DataType()));
        DBPARAMBINDINFO& info = infos[size_t(i)];
        info.pwszDataSourceType = names[size_t(i)].Get();
        info.pwszName = nullptr;
        info.ulParamSize = DBLENGTH(std::max(ParamDataSize(p), 0));
        info.dwFlags = DBPARAMFLAGS_ISNULLABLE;
        if (p.ParamType() == ptInput || p.ParamType() == ptInputOutput) info.dwFlags |= DBPARAMFLAGS_ISINPUT;
        if (IsOutputParam(p.ParamType())) info.dwFlags |= DBPARAMFLAGS_ISOUTPUT;
        if (IsBlobFieldType(stOLEDB, p.DataType())) info.dwFlags |= DBPARAMFLAGS_ISLONG;
        ordinals[size_t(i)] = DB_UPARAMS(i + 1);
    }
    ComPtr<ICommandWithParameters> withParameters;
    if (SUCCEEDED(command_->QueryInterface(ICommandWithParameters::kIID, withParameters.ReceiveVoid())) &&
        withParameters)
        Check(withParameters->SetParameterInfo(DB_UPARAMS(count), ordinals.data(), infos.data()));
    else
        ForgetErrorInfo();
}

// ---------------------------------------------------------------------------------------------
// Parameters

int32_t TIOleDbCommand::GetParamsBufferSize() {
    TISqlCommand::GetParamsBufferSize();  // refuses parameters without a type or a direction
    if (Params == nullptr) return 0;
    int64_t size = 0;
    int slots = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        size = Align8(size + kOleDbCellHeader + ParamDataSize(p));
        if (IsBlobFieldType(stOLEDB, p.DataType())) ++slots;
    }
    pointerSlotsStart_ = int32_t(std::min<int64_t>(size, kMaxBufferSize));
    size += int64_t(slots) * kOleDbPointerSlot;
    if (size > kMaxBufferSize) rtl::DatabaseErrorFmt("Parameter buffer of %d bytes is too large", size);
    return int32_t(size);
}

void TIOleDbCommand::AllocParamsBuffer() {
    TISqlCommand::AllocParamsBuffer();
    paramBindings_.assign(size_t(GetParamCount()), DBBINDING{});
}

void TIOleDbCommand::FreeParamsBuffer() {
    HRESULT hr = S_OK;
    if (paramAccessorHandle_ != 0 && paramAccessor_)
        hr = paramAccessor_->ReleaseAccessor(paramAccessorHandle_, nullptr);
    paramAccessorHandle_ = 0;
    paramAccessor_.Reset();
    paramBindings_.clear();
    // The task-memory copies of long values.
    if (ParamsBuffer) {
        for (size_t at = size_t(pointerSlotsStart_); at + kOleDbPointerSlot <= ParamsBuffer->Size();
             at += kOleDbPointerSlot) {
            void* block = nullptr;
            std::memcpy(&block, ParamsBuffer->Data() + at, sizeof block);
            CoTaskMemFree(block);
            std::memset(ParamsBuffer->Data() + at, 0, sizeof block);
        }
    }
    TISqlCommand::FreeParamsBuffer();
    Check(hr);
}

void TIOleDbCommand::BindParamsBuffer() {
    const int count = GetParamCount();
    if (count == 0 || !OleDbDatabase().ParamMarkers()) return;
    if (!ParamsBuffer) AllocParamsBuffer();
    rtl::Assert(paramBindings_.size() == size_t(count) && ParamsBuffer != nullptr,
                "TIOleDbCommand.BindParamsBuffer: no parameter bindings");
    uint8_t* base = ParamsBuffer->Data();
    int64_t offset = 0;
    int64_t slot = pointerSlotsStart_;
    for (int i = 0; i < count; ++i) {
        const TParam& p = (*Params)[i];
        const TFieldType type = p.DataType();
        const int32_t size = ParamDataSize(p);
        uint8_t* cell = base + offset;
        uint8_t* value = cell + kOleDbValueOffset;
        const bool null = p.IsNull();
        DBSTATUS status = null ? DBSTATUS_S_ISNULL : DBSTATUS_S_OK;
        DBLENGTH length = DBLENGTH(std::max(size, 0));
        DBTYPE bound = OleDbBoundType(type);
        DBBYTEOFFSET valueOffset = DBBYTEOFFSET(offset + kOleDbValueOffset);
        const bool blob = IsBlobFieldType(stOLEDB, type);
        if (blob) {
            // Long values travel by reference: a task-memory copy whose address is in a slot.
            bound |= DBTYPE_BYREF;
            void* copy = nullptr;
            length = 0;
            if (!null) {
                const rtl::ByteArray bytes = p.Value().AsBytes();
                length = bytes.size();
                copy = CoTaskMemAlloc(bytes.size());
                if (copy == nullptr) rtl::DatabaseErrorFmt("No memory for parameter '%s'", p.Name());
                if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
            }
            std::memcpy(base + slot, &copy, sizeof copy);
            valueOffset = DBBYTEOFFSET(slot);
            slot += kOleDbPointerSlot;
        } else if (size >= 1 && !null) {
            if (type == ftGuid) {
                const std::string text = rtl::Trim(p.AsString());
                if (text.empty()) {
                    status = DBSTATUS_S_ISNULL;
                    length = 0;
                } else {
                    GUID guid{};
                    if (!GuidFromString(text, guid))
                        rtl::DatabaseErrorFmt("Invalid GUID value '%s' for parameter '%s'", text, p.Name());
                    GuidToBytes(guid, value);
                }
            } else {
                // The engine's shapes; dates as the DBDATE, DBTIME and DBTIMESTAMP structures.
                const TSDSlotKind kind = kEngineSlots[type];
                const int32_t n = PutParamSlot(
                    p, kind, value, size, [this](TFieldType t, rtl::TDateTime v, uint8_t* slot, int32_t) {
                        return CnvtDateTime2DBDateTime(t, v, slot, OleDbNativeSize(t));
                    });
                if (n < 0) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
                if (kind == TSDSlotKind::Text) length = DBLENGTH(n);
            }
        } else if (bound == 0) {
            rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        }
        SetCellStatus(cell, status);
        SetCellLength(cell, length);
        DBBINDING& b = paramBindings_[size_t(i)];
        b = DBBINDING{};
        b.iOrdinal = DBORDINAL(i + 1);
        b.obValue = valueOffset;
        b.obLength = DBBYTEOFFSET(offset + kOleDbLengthOffset);
        b.obStatus = DBBYTEOFFSET(offset + kOleDbStatusOffset);
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = ParamIO(p.ParamType());
        b.cbMaxLen = DBLENGTH(std::max(size, 0));
        b.wType = bound;
        offset = Align8(offset + kOleDbCellHeader + size);
    }
    if (paramAccessorHandle_ == 0) {
        rtl::Assert(bool(command_), "TIOleDbCommand.BindParamsBuffer: no command object");
        Check(command_->QueryInterface(IAccessor::kIID, paramAccessor_.ReceiveVoid()));
        const HRESULT hr =
            paramAccessor_->CreateAccessor(DBACCESSOR_PARAMETERDATA, DBCOUNTITEM(count),
                                           paramBindings_.data(), 0, &paramAccessorHandle_, nullptr);
        if (FAILED(hr)) {
            paramAccessorHandle_ = 0;
            paramAccessor_.Reset();  // the next bind starts afresh
        }
        Check(hr);
    }
}

void TIOleDbCommand::InitParamList() {
    if (Params == nullptr) return;
    TISqlCommandPtr cmd = MakeSqlCommand<TIOleDbSchemaProcParams>(&OleDbDatabase(), nullptr);
    static_cast<TIOleDbSchemaProcParams&>(*cmd).SetPattern(CommandText);
    cmd->ExecDirect("");
    while (cmd->FetchNextRow()) {
        std::string name, direction, dataType;
        cmd->GetFieldAsString(4, name);
        TParamType paramType = ptUnknown;
        if (cmd->GetFieldAsString(6, direction)) {
            switch (rtl::StrToIntDef(direction, 0)) {
                case 1:
                    paramType = ptInput;
                    break;
                case 2:
                    paramType = ptInputOutput;
                    break;
                case 3:
                    paramType = ptOutput;
                    break;
                case 4:
                    paramType = ptResult;
                    break;
                default:
                    break;
            }
        }
        const TFieldType type =
            cmd->GetFieldAsString(10, dataType) ? FieldDataType(rtl::StrToIntDef(dataType, 0)) : ftUnknown;
        AddParam(name, type, paramType);
    }
}

// ---------------------------------------------------------------------------------------------
// Results

bool TIOleDbCommand::ResultSetExists() {
    if (CommandType == 2 || FieldDescs->Count() > 0 || rowset_) return true;
    if (!command_) return false;
    ComPtr<IColumnsInfo> info;
    Check(command_->QueryInterface(IColumnsInfo::kIID, info.ReceiveVoid()));
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* strings = nullptr;
    const HRESULT hr = info->GetColumnInfo(&count, &columns, &strings);
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);
    Check(hr);
    return count >= 1;
}

bool TIOleDbCommand::NextResultSet() {
    if (!multipleResults_) return false;
    ReleaseRowset();
    rowsAffected_ = -1;
    DBROWCOUNT affected = -1;
    const HRESULT hr = multipleResults_->GetResult(nullptr, 0, IRowset::kIID, &affected,
                                                   reinterpret_cast<IUnknown**>(rowset_.Receive()));
    Check(hr);
    if (rowset_) {
        rowsAffected_ = int32_t(affected);
        nextResultOpen_ = true;
        FreeFieldsBuffer();
        return true;
    }
    if (hr == DB_S_NORESULT) {
        ReleaseRowset();
        multipleResults_.Reset();
        ReadOutputParams();
    }
    return false;
}

void TIOleDbCommand::GetOutputParams() {
    if (OleDbDatabase().OutputParamAvailability() == DBPROPVAL_OA_ATROWRELEASE) {
        RequestFetchAll();
        if (rowset_) {
            while (NextResultSet()) {
            }
        } else {
            ReadOutputParams();
        }
        // A provider gives outputs when their rowset goes. One rowset without a results object
        // has none to follow: release it, then the outputs are there.
        if (!outputsRead_) {
            ReleaseRowset();
            ReadOutputParams();
        }
    } else {
        ReadOutputParams();
    }
    GiveUpConnection();
}

void TIOleDbCommand::ReadOutputParams() {
    if (!ParamsBuffer || Params == nullptr) return;
    outputsRead_ = true;
    int64_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        const int32_t size = ParamDataSize(p);
        uint8_t* cell = ParamsBuffer->Data() + offset;
        offset = Align8(offset + kOleDbCellHeader + size);
        if (!IsOutputParam(p.ParamType())) continue;
        if (CellStatus(cell) != DBSTATUS_S_ISNULL && CellLength(cell) == 0)
            SetCellLength(cell, DBLENGTH(std::max(size, 0)));
        std::vector<uint8_t> scratch(size_t(std::max({MaxCharParamLen + 1, size + 1, 64})), 0);
        if (!ConvertCell(p.Name(), p.DataType(), int32_t(scratch.size()), scratch.data(), cell, size,
                         false)) {
            p.Clear();
            continue;
        }
        const bool bytes = p.DataType() == ftBytes || p.DataType() == ftVarBytes;
        const int32_t n =
            bytes ? int32_t(std::min<DBLENGTH>(CellLength(cell), DBLENGTH(size))) : int32_t(scratch.size());
        SetParamData(p, scratch.data(), n);
    }
}
