// database/drivers/SDSybCommand.cpp: the Sybase driver's command (unit SDSyb).
//
// A command runs on its connection's CS_COMMAND, or outside single-connection mode, for a
// SELECT, on a connection and CS_COMMAND of its own. States:
//   idle         nothing sent (sentText_ empty); prepared_ tells whether the preparation ran
//   row result   a row result is pending (rowResult_): the columns up to the first text or
//                image column are bound, the rest is read per row with ct_get_data
//   between      the statement or call went out and its row results are read, or there were
//                none; further results (a procedure's status and output values) may follow
//   done         ct_results reported the end of the results (resultsDone_)
// RunStatement moves idle to row result or between; fetching to the end of the rows moves on
// to between; CloseResultSet, Disconnect and, on the shared command, another command's
// statement (LoseResults) move back to idle.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "database/drivers/SDSqlLiterals.h"
#include "database/drivers/SDSyb.h"
#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// The largest value a fixed-size column can send raw (a CS_NUMERIC is 35 bytes).
constexpr CS_INT kRawValueSize = 64;
// The most of a text or image value reserved ahead of its data, whatever length is announced.
constexpr size_t kBlobReserveLimit = 16u << 20;

const TSybFunctions& Syb() {
    return SybFunctions();
}

// What Client-Library binds (dates as CS_DATETIME, decimals as floats), and the sizes of
// their values.
constexpr TSDSlotMap kSlots =
    kEngineSlots
        .Only({ftString, ftSmallint, ftWord, ftBoolean, ftInteger, ftAutoInc, ftFloat, ftCurrency, ftDate,
               ftTime, ftDateTime, ftBytes, ftVarBytes})
        .With(ftBCD, TSDSlotKind::Float64)
        .With(ftCurrency, TSDSlotKind::Currency);
// The types a procedure parameter is sent as.
constexpr TSDSlotMap kParamSlots = kSlots.Only(
    {ftString, ftSmallint, ftInteger, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate, ftTime, ftDateTime});
// The types an output parameter is read back as (a text is read at its own length).
constexpr TSDSlotMap kOutputSlots = kSlots.Only({ftSmallint, ftInteger, ftBoolean, ftFloat, ftCurrency, ftBCD,
                                                 ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes});
static_assert(sizeof(CS_DATETIME) == 8 && offsetof(CS_DATETIME, dttime) == 4, "PackTdsDateTime's layout");

CS_DATAFMT BindFormat(CS_INT dataType, CS_INT maxLength) {
    CS_DATAFMT f{};
    f.datatype = dataType;
    f.maxlength = maxLength;
    f.scale = CS_SRC_VALUE;
    f.precision = CS_SRC_VALUE;
    return f;
}

bool IsSelectText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n' || text[i] == '\t'))
        ++i;
    return rtl::SameText(text.substr(i, 6), "select");
}

}  // namespace

TISybCommand::TISybCommand(TISybDatabase* database, rtl::Component* owner) : TISqlCommand(database, owner) {
    singleConnection_ = database->SingleConnection;
    emptyStringAsNull_ = database->EmptyStringAsNull();
    rtrim_ = database->RTrimCharOutput;
}

TISybCommand::~TISybCommand() {
    *alive_ = false;
    try {
        Disconnect(ownConn_ == nullptr);
    } catch (const std::exception&) {
        // A command that goes away has nobody left to report to.
    }
    if (ownConn_ != nullptr) DropOwnConnection(false);
    SybDatabase().ReleaseActive(this);
}

TISybDatabase& TISybCommand::SybDatabase() const {
    return static_cast<TISybDatabase&>(GetSqlDatabase());
}

CS_COMMAND* TISybCommand::Handle() const {
    if (ownCmd_ != nullptr) return ownCmd_;
    return SybDatabase().GetCmdPtr();
}

CS_CONNECTION* TISybCommand::Connection() const {
    if (ownConn_ != nullptr) return ownConn_;
    return SybDatabase().GetConnPtr();
}

void TISybCommand::Check(CS_RETCODE result, const char* call) {
    SybDatabase().Check(result, Connection(), call);
}

void TISybCommand::CancelAll(CS_COMMAND* handle) {
    if (handle != nullptr) Check(Syb().ct_cancel(nullptr, handle, CS_CANCEL_ALL), "ct_cancel");
}

void TISybCommand::CancelCurrent(CS_COMMAND* handle) {
    if (handle != nullptr) Check(Syb().ct_cancel(nullptr, handle, CS_CANCEL_CURRENT), "ct_cancel");
}

void TISybCommand::LoseResults() {
    rowResult_ = false;
    resultsDone_ = true;
    sentText_.clear();
}

// ---------------------------------------------------------------------------------------------
// Types

TFieldType TISybCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case CS_CHAR_TYPE:
        case CS_LONGCHAR_TYPE:
        case CS_VARCHAR_TYPE:
            return ftString;
        case CS_BINARY_TYPE:
        case CS_LONGBINARY_TYPE:
            return ftBytes;
        case CS_TEXT_TYPE:
            return ftMemo;
        case CS_IMAGE_TYPE:
            return ftBlob;
        case CS_TINYINT_TYPE:
        case CS_SMALLINT_TYPE:
            return ftSmallint;
        case CS_INT_TYPE:
            return ftInteger;
        case CS_REAL_TYPE:
        case CS_FLOAT_TYPE:
        case CS_NUMERIC_TYPE:
        case CS_DECIMAL_TYPE:
            return ftFloat;
        case CS_BIT_TYPE:
            return ftBoolean;
        case CS_DATETIME_TYPE:
        case CS_DATETIME4_TYPE:
            return ftDateTime;
        case CS_MONEY_TYPE:
        case CS_MONEY4_TYPE:
            return ftCurrency;
        default:
            return ftUnknown;
    }
}

int32_t TISybCommand::NativeDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
            return CS_CHAR_TYPE;
        case ftSmallint:
        case ftBoolean:
            return CS_SMALLINT_TYPE;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return CS_INT_TYPE;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            return CS_FLOAT_TYPE;
        case ftDate:
        case ftTime:
        case ftDateTime:
            return CS_DATETIME_TYPE;
        case ftBytes:
        case ftVarBytes:
            return CS_BINARY_TYPE;
        case ftBlob:
            return CS_IMAGE_TYPE;
        case ftMemo:
            return CS_TEXT_TYPE;
        default:
            return CS_ILLEGAL_TYPE;
    }
}

uint16_t TISybCommand::NativeDataSize(TFieldType fieldType) {
    return NativeSlotSize(kSlots, fieldType, sizeof(CS_DATETIME));
}

bool TISybCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    static constexpr TSDFieldTypes kConverted{ftBoolean, ftFloat, ftCurrency, ftBCD,
                                              ftDate,    ftTime,  ftDateTime};
    return kConverted.Has(fieldType);
}

TFieldType TISybCommand::ParamFieldType(int32_t userType) {
    switch (userType) {
        case 1:
        case 2:
        case 18:
        case 24:
        case 25:
            return ftString;
        case 3:
        case 4:
            return ftBytes;
        case 5:
        case 6:
            return ftSmallint;
        case 7:
        case 13:
            return ftInteger;
        case 8:
        case 10:
        case 14:
        case 23:
        case 26:
        case 27:
        case 28:
            return ftFloat;
        case 11:
        case 17:
        case 21:
            return ftCurrency;
        case 12:
        case 15:
        case 22:
            return ftDateTime;
        case 16:
            return ftBoolean;
        case 19:
            return ftMemo;
        case 20:
            return ftBlob;
        default:
            return ftUnknown;
    }
}

// ---------------------------------------------------------------------------------------------
// Parameters

int32_t TISybCommand::GetParamsBufferSize() {
    if (CommandType != 0 && CommandType != 2)
        rtl::DatabaseErrorFmt("Fatal error: %s", "TISybCommand.GetParamsBufferSize");
    if (Params == nullptr) return 0;
    int64_t size = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        if (p.DataType() == ftUnknown) rtl::DatabaseErrorFmt("No value for parameter '%s'", p.Name());
        if (!IsProcedure() && p.ParamType() == ptUnknown)
            rtl::DatabaseErrorFmt("No parameter type for parameter '%s'", p.Name());
        size += int64_t(ParamDataSize(p)) + kCellHeaderSize;
    }
    if (size > kMaxBufferSize) rtl::DatabaseErrorFmt("Parameter buffer of %d bytes is too large", size);
    return int32_t(size);
}

std::string TISybCommand::BuildStatementText() const {
    TTdsLiteralRules rules;
    rules.blobAsTextHex = true;
    rules.emptyStringAsNull = emptyStringAsNull_;
    rules.bcdAsFloat = true;
    return TdsStatementText(CommandText, Params, rules);
}

void TISybCommand::BindProcedureParams(CS_COMMAND* handle) {
    if (Params == nullptr || Params->Count() == 0) return;
    if (!ParamsBuffer) AllocParamsBuffer();
    int64_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        if (p.ParamType() == ptUnknown) rtl::DatabaseErrorFmt("No parameter type for parameter '%s'", p.Name());
        const int32_t size = ParamDataSize(p);
        rtl::Assert(ParamsBuffer != nullptr && offset + size <= int64_t(ParamsBuffer->Size()),
                    "TISybCommand.BindProcedureParams: parameter '%s' outside its buffer", p.Name());
        CS_BYTE* area = ParamsBuffer->Data() + offset;
        offset += size;
        if (p.ParamType() == ptResult) continue;
        const TFieldType type = p.DataType();
        CS_SMALLINT indicator = p.IsNull() ? -1 : 0;
        CS_INT dataLength = size;
        CS_VOID* value = area;
        const bool blob = IsBlobFieldType(stSybase, type) || IsBlobOrMemoType(type);
        if (blob) {
            // Text and image values go as the value's characters: an empty buffer would send
            // nothing of them.
            const std::string text = p.IsNull() ? std::string() : p.AsString();
            if (emptyStringAsNull_ && text.empty()) indicator = -1;
            char* copy = BufferList.AllocString(text);
            value = copy;
            dataLength = CS_INT(text.size());
        } else if (size > 0) {
            std::memset(area, 0, size_t(size));
            const TSDSlotKind kind = kParamSlots[type];
            const int32_t n = PutParamSlot(p, kind, area, size, PackTdsDateTime);
            if (n < 0) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
            if (kind == TSDSlotKind::Text || kind == TSDSlotKind::DateTime) dataLength = CS_INT(n);
            if (kind == TSDSlotKind::Text && emptyStringAsNull_ && p.AsString().empty()) indicator = -1;
        } else if (!p.IsNull()) {
            rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        }
        if (indicator == -1 && !blob) dataLength = 0;
        CS_DATAFMT format{};
        const std::string& name = p.Name();
        std::memcpy(format.name, name.data(), std::min(name.size(), sizeof format.name - 1));
        format.namelen = CS_NULLTERM;
        format.datatype = NativeDataType(type);
        if (format.datatype == CS_ILLEGAL_TYPE) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        format.maxlength = size;
        format.status = p.ParamType() == ptOutput || p.ParamType() == ptInputOutput ? CS_RETURN : CS_INPUTVALUE;
        Check(Syb().ct_param(handle, &format, value, dataLength, indicator), "ct_param");
    }
}

void TISybCommand::InitParamList() {
    AddParam("Result", ftInteger, ptResult);
    TISybDatabase& db = SybDatabase();
    const std::string sql = rtl::Format(
        "select name, usertype, length, status from dbo.syscolumns where id = object_id('%s') and number in (0, 1)",
        TdsQuoted(ExtractProcName(CommandText)));
    db.CancelAll(db.GetCmdPtr(), db.GetConnPtr());
    {
        TISqlCommandPtr query = db.CreateSqlCommand(nullptr);
        query->Prepare(sql);
        query->Execute();
        while (query->FetchNextRow()) {
            std::string name;
            int32_t userType = 0;
            query->GetFieldAsString(1, name);
            query->GetFieldAsInteger(2, userType);
            AddParam(name, ParamFieldType(userType), ptUnknown);
        }
    }
    db.CancelAll(db.GetCmdPtr(), db.GetConnPtr());
}

// ---------------------------------------------------------------------------------------------
// Running

void TISybCommand::PreparationStep() {
    rowsAffected_ = -1;
    rowResult_ = false;
    if (!prepared_ && !singleConnection_ && IsSelectText(CommandText)) CreateConnect();
    prepared_ = true;
    resultsDone_ = false;
}

void TISybCommand::CreateConnect() {
    TISybDatabase& db = SybDatabase();
    CS_CONNECTION* connection = nullptr;
    if (Syb().ct_con_alloc(SybContext(), &connection) != CS_SUCCEED ||
        Syb().ct_diag(connection, CS_INIT, CS_UNUSED, CS_UNUSED, nullptr) != CS_SUCCEED) {
        if (connection != nullptr) Syb().ct_con_drop(connection);
        rtl::DatabaseErrorFmt("Fatal error: %s", "Cannot allocate connection structure in TISybCommand.CreateConnect");
    }
    ownConn_ = connection;
    const std::shared_ptr<bool> alive = alive_;
    try {
        // FreeTDS has no ct_getloginfo/ct_setloginfo: the new connection logs in with the
        // properties the database connection kept.
        db.ApplyLoginProperties(connection);
        const std::string server = db.GetServerName();
        Check(Syb().ct_connect(connection, const_cast<char*>(server.c_str()), CS_NULLTERM), "ct_connect");
        db.ApplyConnectionOptions(connection);
        CS_COMMAND* command = nullptr;
        Check(Syb().ct_cmd_alloc(connection, &command), "ct_cmd_alloc");
        ownCmd_ = command;
        const std::string database = db.GetDatabaseName();
        if (!database.empty()) {
            db.SendLanguage(command, connection, "use " + database);
            db.SendAndDrain(command, connection);
            CancelAll(command);
        }
        db.SetIsolation(connection, command, db.TransIsolation);
    } catch (...) {
        if (*alive) DropOwnConnection(false);
        throw;
    }
}

void TISybCommand::DropOwnConnection(bool check) {
    CS_CONNECTION* connection = ownConn_;
    CS_COMMAND* command = ownCmd_;
    if (connection == nullptr) return;
    std::exception_ptr failure;
    const auto step = [&](CS_RETCODE r, const char* call) {
        if (!check || failure) return;
        try {
            SybDatabase().Check(r, connection, call);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (command != nullptr) {
        step(Syb().ct_cancel(nullptr, command, CS_CANCEL_ALL), "ct_cancel");
        step(Syb().ct_cmd_drop(command), "ct_cmd_drop");
    }
    CS_INT status = 0;
    if (Syb().ct_con_props(connection, CS_GET, CS_LOGIN_STATUS, &status, CS_UNUSED, nullptr) == CS_SUCCEED &&
        status == CS_TRUE) {
        step(Syb().ct_cancel(connection, nullptr, CS_CANCEL_ALL), "ct_cancel");
        const CS_RETCODE closed = Syb().ct_close(connection, CS_UNUSED);
        step(closed, "ct_close");
        if (closed != CS_SUCCEED) Syb().ct_close(connection, CS_FORCE_CLOSE);
    }
    Syb().ct_con_drop(connection);
    ownCmd_ = nullptr;
    ownConn_ = nullptr;
    if (failure) std::rethrow_exception(failure);
}

void TISybCommand::DoPrepare(const std::string&) {
    sentText_.clear();
    if (IsProcedure()) {
        if (Params != nullptr && Params->Count() == 0) InitParamList();
        return;
    }
    PreparationStep();
}

void TISybCommand::DoExecDirect(const std::string&) {
    sentText_.clear();
    if (!IsProcedure()) PreparationStep();
    AllocParamsBuffer();
    BindParamsBuffer();
    RunStatement();
    if (FieldDescs->Count() == 0) InitFieldDescs();
    SetPreparedText(sentText_);
}

void TISybCommand::DoExecute() {
    if (sentText_.empty() || FieldDescs->Count() == 0) RunStatement();
    if (FieldDescs->Count() == 0 && rowResult_) InitFieldDescs();
    SetPreparedText(sentText_);
}

void TISybCommand::Execute() {
    AllocParamsBuffer();
    BindParamsBuffer();
    TracedExecute();
    if (!FieldsBuffer) AllocFieldsBuffer();
    SetFieldsBuffer();
}

void TISybCommand::RunStatement() {
    TISybDatabase& db = SybDatabase();
    if (singleConnection_) db.SetActiveCommand(this, true);
    if (IsProcedure()) {
        CallProcedure();
        return;
    }
    PreparationStep();
    sentText_ = BuildStatementText();
    CS_COMMAND* handle = Handle();
    CancelAll(handle);
    Check(Syb().ct_command(handle, CS_LANG_CMD, const_cast<char*>(sentText_.c_str()), CS_NULLTERM, CS_UNUSED),
          "ct_command");
    Check(TISybDatabase::Send(handle), "ct_send");
    CS_INT type = 0;
    CS_RETCODE r;
    while ((r = Syb().ct_results(handle, &type)) == CS_SUCCEED) {
        if (type == CS_ROW_RESULT) {
            rowResult_ = true;
            break;
        }
        switch (type) {
            case CS_STATUS_RESULT:
                ReadReturnStatus(handle);
                break;
            case CS_CMD_DONE: {
                CS_INT rows = -1;
                Check(Syb().ct_res_info(handle, CS_ROW_COUNT, &rows, CS_UNUSED, nullptr), "ct_res_info");
                if (rows >= 0) rowsAffected_ = rows;
                db.RaisePending(Connection());
                break;
            }
            case CS_CMD_SUCCEED:
                db.RaisePending(Connection());
                break;
            case CS_CMD_FAIL:
                Check(CS_FAIL, "ct_results");
                break;
            default:
                // Parameter and compute results of a statement have no place to go.
                CancelCurrent(handle);
        }
    }
    if (r != CS_SUCCEED && r != CS_END_RESULTS) Check(r, "ct_results");
    resultsDone_ = r == CS_END_RESULTS;
    if (resultsDone_ && singleConnection_) db.ReleaseActive(this);
}

void TISybCommand::CallProcedure() {
    TISybDatabase& db = SybDatabase();
    sentText_ = ExtractProcName(CommandText);
    prepared_ = true;
    CS_COMMAND* handle = db.GetCmdPtr();
    CancelAll(handle);
    Check(Syb().ct_command(handle, CS_RPC_CMD, const_cast<char*>(sentText_.c_str()), CS_NULLTERM, CS_NO_RECOMPILE),
          "ct_command");
    BindProcedureParams(handle);
    Check(TISybDatabase::Send(handle), "ct_send");
    resultsDone_ = false;
    rowResult_ = false;
    NextResults();
}

bool TISybCommand::NextResults() {
    CS_COMMAND* handle = IsProcedure() ? SybDatabase().GetCmdPtr() : Handle();
    CS_INT type = 0;
    for (;;) {
        const CS_RETCODE r = Syb().ct_results(handle, &type);
        if (r == CS_END_RESULTS) {
            resultsDone_ = true;
            rowResult_ = false;
            return false;
        }
        if (r != CS_SUCCEED) {
            resultsDone_ = true;
            rowResult_ = false;
            Check(r, "ct_results");
        }
        switch (type) {
            case CS_ROW_RESULT:
                rowResult_ = true;
                return true;
            case CS_PARAM_RESULT:
                ReadOutputParams(handle);
                break;
            case CS_STATUS_RESULT:
                ReadReturnStatus(handle);
                break;
            case CS_CMD_FAIL:
                Check(CS_FAIL, "ct_results");
                break;
            case CS_CMD_DONE:
            case CS_CMD_SUCCEED:
                break;
            default:
                CancelCurrent(handle);
        }
    }
}

void TISybCommand::DrainRows(CS_COMMAND* handle) {
    for (;;) {
        const CS_RETCODE r = Syb().ct_fetch(handle, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
        if (r == CS_END_DATA) return;
        // Anything else than a row ends the loop: a failing fetch is raised, never retried.
        if (r != CS_SUCCEED) Check(r, "ct_fetch");
    }
}

void TISybCommand::ReadOutputParams(CS_COMMAND* handle) {
    if (Params == nullptr) {
        CancelCurrent(handle);
        return;
    }
    CS_INT columns = 0;
    Check(Syb().ct_res_info(handle, CS_NUMDATA, &columns, CS_UNUSED, nullptr), "ct_res_info");
    struct Cell {
        TParam* param;
        std::vector<CS_BYTE> data;
        CS_INT length = 0;
        CS_SMALLINT indicator = 0;
    };
    // The bound addresses must not move: the cells are never reallocated after binding.
    std::vector<Cell> cells;
    cells.reserve(size_t(Params->Count()));
    int k = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        if (p.ParamType() != ptOutput && p.ParamType() != ptInputOutput) continue;
        ++k;
        if (IsBlobFieldType(stSybase, p.DataType()) || k > columns) continue;
        const CS_INT type = NativeDataType(p.DataType());
        if (type == CS_ILLEGAL_TYPE) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        Cell& cell = cells.emplace_back();
        cell.param = &p;
        cell.data.assign(size_t(std::max(ParamDataSize(p), 1)) + 1, 0);
        CS_DATAFMT format = BindFormat(type, CS_INT(cell.data.size() - 1));
        Check(Syb().ct_bind(handle, k, &format, cell.data.data(), &cell.length, &cell.indicator), "ct_bind");
    }
    const CS_RETCODE r = Syb().ct_fetch(handle, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
    if (r != CS_SUCCEED && r != CS_END_DATA) Check(r, "ct_fetch");
    if (r == CS_SUCCEED) {
        for (Cell& cell : cells) {
            TParam& p = *cell.param;
            if (cell.indicator == -1) {
                p.Clear();
                continue;
            }
            const CS_BYTE* data = cell.data.data();
            const CS_INT length = std::clamp<CS_INT>(cell.length, 0, CS_INT(cell.data.size() - 1));
            if (p.DataType() == ftString) {
                p.SetValue(rtl::Variant(std::string(reinterpret_cast<const char*>(data), size_t(length))));
                continue;
            }
            const auto unpack = [this](TFieldType type, const uint8_t* slot, int32_t) {
                TSDDateTimeRec rec;
                CrackDateTime(type, slot, rec);
                return rec;
            };
            if (!SetParamFromSlot(p, kOutputSlots[p.DataType()], data, length, unpack))
                rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        }
        DrainRows(handle);
    }
}

void TISybCommand::ReadReturnStatus(CS_COMMAND* handle) {
    CS_INT count = 0;
    Check(Syb().ct_res_info(handle, CS_NUMDATA, &count, CS_UNUSED, nullptr), "ct_res_info");
    if (count < 1) return;
    CS_DATAFMT described{};
    Check(Syb().ct_describe(handle, 1, &described), "ct_describe");
    CS_DATAFMT format = BindFormat(CS_INT_TYPE, sizeof(CS_INT));
    CS_INT status = 0;
    CS_INT length = 0;
    CS_SMALLINT indicator = 0;
    Check(Syb().ct_bind(handle, 1, &format, &status, &length, &indicator), "ct_bind");
    const CS_RETCODE r = Syb().ct_fetch(handle, CS_UNUSED, CS_UNUSED, CS_UNUSED, nullptr);
    if (r != CS_SUCCEED && r != CS_END_DATA) Check(r, "ct_fetch");
    if (r == CS_SUCCEED) {
        if (Params != nullptr) {
            for (int i = 0; i < Params->Count(); ++i) {
                TParam& p = (*Params)[i];
                if (p.ParamType() != ptResult) continue;
                if (indicator == -1 || length < 1)
                    p.Clear();
                else
                    p.SetValue(rtl::Variant(int32_t(status)));
                break;
            }
        }
        DrainRows(handle);
    }
}

void TISybCommand::GetOutputParams() {
    if (!resultsDone_) {
        RequestFetchAll();
        CS_COMMAND* handle = IsProcedure() ? SybDatabase().GetCmdPtr() : Handle();
        do {
            CancelCurrent(handle);
        } while (NextResults());
    }
    SybDatabase().ReleaseActive(this);
}

bool TISybCommand::NextResultSet() {
    if (resultsDone_) return false;
    CancelCurrent(IsProcedure() ? SybDatabase().GetCmdPtr() : Handle());
    if (!NextResults()) return false;
    furtherResult_ = true;
    FreeFieldsBuffer();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Columns and rows

void TISybCommand::GetFieldDescs(TSDFieldDescList& list) {
    if (sentText_.empty()) RunStatement();
    if (!rowResult_) return;
    CS_COMMAND* handle = IsProcedure() ? SybDatabase().GetCmdPtr() : Handle();
    CS_INT columns = 0;
    Check(Syb().ct_res_info(handle, CS_NUMDATA, &columns, CS_UNUSED, nullptr), "ct_res_info");
    for (CS_INT c = 1; c <= columns; ++c) {
        CS_DATAFMT format{};
        Check(Syb().ct_describe(handle, c, &format), "ct_describe");
        const std::string name = format.namelen > 0 ? PCharToString(format.name, int(sizeof format.name)) : "";
        TFieldType type = FieldDataType(format.datatype);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", name);
        if (IsNumericFieldType(type) && (format.status & CS_IDENTITY) != 0 && format.precision <= 10 &&
            format.scale == 0)
            type = ftAutoInc;
        if (type == ftFloat && format.scale >= 1 && format.scale <= 4 && format.precision <= 20 &&
            GetSqlDatabase().EnableBCD)
            type = ftBCD;
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = name.substr(0, kMaxFieldNameLen);
        d.FieldNo = c;
        d.FieldType = type;
        d.NativeType = int16_t(format.datatype);
        if (FieldTypeHasSize(type)) {
            const int64_t size = int64_t(std::max<CS_INT>(format.maxlength, 0)) + (type == ftString ? 1 : 0);
            d.DataSize = int32_t(std::min<int64_t>(size, kMaxBufferSize));
        } else if (IsBlobFieldType(stSybase, type)) {
            d.DataSize = 0;
        } else {
            d.DataSize = NativeDataSize(type);
        }
        if (type == ftBCD) d.Scale = int16_t(format.scale);
        d.Precision = int16_t(format.precision);
        d.Required = (format.status & CS_CANBENULL) == 0;
    }
}

void TISybCommand::SetFieldsBuffer() {
    if (sentText_.empty()) RunStatement();
    firstBlobColumn_ = 0;
    indicators_.assign(size_t(FieldDescs->Count()), 0);
    if (FieldDescs->Count() == 0 || !FieldsBuffer || !rowResult_) return;
    CS_COMMAND* handle = IsProcedure() ? SybDatabase().GetCmdPtr() : Handle();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        const CS_INT bindType = NativeDataType(d.FieldType);
        if (bindType == CS_ILLEGAL_TYPE) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (IsBlobFieldType(stSybase, d.FieldType)) {
            if (firstBlobColumn_ == 0) firstBlobColumn_ = d.FieldNo;
            continue;
        }
        // Once a text or image column came, Client-Library gives the later columns only
        // through ct_get_data, row by row.
        if (firstBlobColumn_ != 0) break;
        uint8_t* cell = GetFieldCell(d.FieldNo, FieldsBuffer.get());
        CS_DATAFMT format = BindFormat(bindType, d.DataSize);
        Check(Syb().ct_bind(handle, d.FieldNo, &format, cell + kCellHeaderSize, reinterpret_cast<CS_INT*>(cell + 4),
                            &indicators_[size_t(i)]),
              "ct_bind");
    }
}

bool TISybCommand::DoFetchNextRow() {
    TISybDatabase& db = SybDatabase();
    CS_RETCODE r = CS_END_DATA;
    if (rowResult_ && FieldsBuffer) r = Syb().ct_fetch(IsProcedure() ? db.GetCmdPtr() : Handle(), CS_UNUSED, CS_UNUSED,
                                                       CS_UNUSED, nullptr);
    db.MarkActivity();
    if (r != CS_SUCCEED && r != CS_END_DATA) {
        rowResult_ = false;
        Check(r, "ct_fetch");
    }
    if (r == CS_SUCCEED) {
        uint8_t* buffer = FieldsBuffer->Data();
        for (int i = 0; i < FieldDescs->Count(); ++i) {
            const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
            if (IsBlobFieldType(stSybase, d.FieldType)) continue;
            if (firstBlobColumn_ != 0 && d.FieldNo >= firstBlobColumn_) break;
            // The bound 16-bit indicator, widened into the cell's 32 bits.
            const int32_t indicator = indicators_[size_t(i)];
            int32_t ignored = 0;
            int32_t length = 0;
            GetCellHeader(buffer, GetFieldOffset(i), ignored, length);
            SetCellHeader(buffer, GetFieldOffset(i), indicator, length);
        }
        if (firstBlobColumn_ != 0) ReadColumnsFromFirstBlob();
        return true;
    }
    rowResult_ = false;
    db.ReleaseActive(this);
    return false;
}

void TISybCommand::ReadColumnsFromFirstBlob() {
    CS_COMMAND* handle = IsProcedure() ? SybDatabase().GetCmdPtr() : Handle();
    uint8_t* buffer = FieldsBuffer->Data();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo < firstBlobColumn_) continue;
        if (IsBlobFieldType(stSybase, d.FieldType)) {
            rtl::ByteArray bytes;
            const int32_t n = ReadBlob(d, bytes);
            SetFieldBlobData(d, n > 0 ? std::make_shared<const rtl::ByteArray>(std::move(bytes)) : nullptr);
            continue;
        }
        const int offset = GetFieldOffset(i);
        uint8_t* data = buffer + offset + kCellHeaderSize;
        std::memset(data, 0, size_t(d.DataSize));
        CS_INT length = 0;
        CS_RETCODE r;
        if (d.FieldType == ftString || d.FieldType == ftBytes || d.FieldType == ftVarBytes) {
            r = Syb().ct_get_data(handle, d.FieldNo, data, d.DataSize, &length);
        } else {
            // Read raw, then converted into the type the column would have been bound as: a
            // tinyint, bit, numeric, money or short datetime comes in its own layout.
            CS_DATAFMT source{};
            Check(Syb().ct_describe(handle, d.FieldNo, &source), "ct_describe");
            CS_BYTE raw[kRawValueSize] = {};
            CS_INT rawLength = 0;
            r = Syb().ct_get_data(handle, d.FieldNo, raw, sizeof raw, &rawLength);
            if (rawLength > 0) {
                source.maxlength = rawLength;
                CS_DATAFMT dest = BindFormat(NativeDataType(d.FieldType), d.DataSize);
                dest.scale = 0;
                dest.precision = 0;
                Check(Syb().cs_convert(SybContext(), &source, raw, &dest, data, &length), "cs_convert");
                length = NativeDataSize(d.FieldType);
            }
        }
        if (r != CS_END_ITEM && r != CS_END_DATA && r != CS_SUCCEED) Check(r, "ct_get_data");
        SetCellHeader(buffer, offset, length > 0 ? 0 : -1, std::max<CS_INT>(length, 0));
    }
}

int32_t TISybCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    CS_COMMAND* handle = IsProcedure() ? SybDatabase().GetCmdPtr() : Handle();
    CS_BYTE probe = 0;
    CS_INT got = 0;
    CS_RETCODE r = Syb().ct_get_data(handle, desc.FieldNo, &probe, 0, &got);
    if (r == CS_END_ITEM || r == CS_END_DATA) return 0;
    Check(r, "ct_get_data");
    CS_IODESC io{};
    Check(Syb().ct_data_info(handle, CS_GET, desc.FieldNo, &io), "ct_data_info");
    // The announced length only reserves room: the array grows with what really comes.
    if (io.total_txtlen > 0) data.reserve(std::min(size_t(io.total_txtlen), kBlobReserveLimit));
    const CS_INT piece = std::max<CS_INT>(GetSqlDatabase().BlobPieceSize, 1);
    std::vector<CS_BYTE> chunk(static_cast<size_t>(piece));
    for (;;) {
        got = 0;
        r = Syb().ct_get_data(handle, desc.FieldNo, chunk.data(), piece, &got);
        if (got > 0) data.insert(data.end(), chunk.begin(), chunk.begin() + std::min(got, piece));
        if (r == CS_END_ITEM || r == CS_END_DATA) break;
        Check(r, "ct_get_data");
    }
    if (data.size() > size_t(INT32_MAX)) rtl::DatabaseErrorFmt("Field '%s' is too long", desc.FieldName);
    return int32_t(data.size());
}

bool TISybCommand::CrackDateTime(TFieldType fieldType, const uint8_t* data, TSDDateTimeRec& rec) {
    CS_DATEREC parts{};
    Check(Syb().cs_dt_crack(SybContext(), CS_DATETIME_TYPE, const_cast<uint8_t*>(data), &parts),
          "cs_dt_crack");
    rtl::TDateTime date = 0;
    rtl::TDateTime time = 0;
    // Both parts are tried, so that a value with a part that is no date or time keeps the other.
    const bool dateValid = rtl::TryEncodeDate(parts.dateyear, parts.datemonth + 1, parts.datedmonth, date);
    const bool timeValid =
        rtl::TryEncodeTime(parts.datehour, parts.dateminute, parts.datesecond, parts.datemsecond, time);
    rec = DateTimeToRec(fieldType, fieldType == ftTime ? time : rtl::CombineDateTime(date, time));
    return dateValid && timeValid;
}

bool TISybCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    if (!FieldsBuffer) return false;
    if (IsBlobFieldType(stSybase, desc.FieldType)) return true;
    const uint8_t* cell = GetFieldCell(desc.FieldNo, FieldsBuffer.get());
    int32_t indicator = 0;
    int32_t length = 0;
    GetCellHeader(cell, 0, indicator, length);
    if (indicator == -1) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    // Nothing of the copy may leave the cell, whatever length the library reported.
    length = std::clamp(length, 0, std::max(desc.DataSize, 0));
    switch (desc.FieldType) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            TSDDateTimeRec value;
            if (!CrackDateTime(desc.FieldType, data, value))
                rtl::DatabaseErrorFmt("Field '%s' holds an invalid date", desc.FieldName);
            rtl::Assert(destSize >= int32_t(sizeof value), "TISybCommand.GetCnvtFieldData: a date needs 8 bytes");
            std::memcpy(dest, &value, sizeof value);
            return true;
        }
        case ftFloat:
        case ftCurrency:
            rtl::Assert(destSize >= 8, "TISybCommand.GetCnvtFieldData: a float needs 8 bytes");
            std::memcpy(dest, data, 8);
            return true;
        case ftBCD: {
            double v = 0;
            std::memcpy(&v, data, sizeof v);
            // A caller with room for a float only (the cell's own size) gets the float.
            if (destSize < int32_t(sizeof(rtl::TBcd)) && destSize >= int32_t(sizeof v)) {
                std::memcpy(dest, &v, sizeof v);
                return true;
            }
            if (!std::isfinite(v) || std::fabs(v) >= 9.2e14)
                rtl::DatabaseErrorFmt("Field '%s': value out of range", desc.FieldName);
            rtl::Assert(destSize >= int32_t(sizeof(rtl::TBcd)),
                        "TISybCommand.GetCnvtFieldData: a BCD needs %d bytes", int32_t(sizeof(rtl::TBcd)));
            if (!StoreCurrencyAsBcd(std::llround(v * 10000), 4, dest, destSize))
                rtl::DatabaseErrorFmt("Field '%s': value out of range", desc.FieldName);
            return true;
        }
        case ftBoolean:
            rtl::Assert(destSize >= 2, "TISybCommand.GetCnvtFieldData: a boolean needs 2 bytes");
            std::memcpy(dest, data, 2);
            return true;
        case ftString:
            StoreTextSlot(dest, destSize, data, size_t(length), rtrim_);
            return true;
        default: {
            const int32_t n = std::min(length, destSize);
            if (n > 0) std::memcpy(dest, data, size_t(n));
            return true;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Closing

void TISybCommand::CloseResultSet() {
    if (furtherResult_) {
        ClearFieldDescs();
        return;
    }
    sentText_.clear();
    rowResult_ = false;
    TISybDatabase& db = SybDatabase();
    if (db.GetHandle() == nullptr) return;
    if (singleConnection_ && db.ActiveCommand() != nullptr && db.ActiveCommand() != this) return;
    if (ownCmd_ != nullptr || db.GetCmdPtr() != nullptr) CancelAll(Handle());
    db.ReleaseActive(this);
}

void TISybCommand::Disconnect(bool force) {
    sentText_.clear();
    prepared_ = false;
    rowResult_ = false;
    SybDatabase().ReleaseActive(this);
    if (ownConn_ != nullptr) DropOwnConnection(!force);
}

void* TISybCommand::GetHandle() {
    TISybDatabase& db = SybDatabase();
    if (IsProcedure()) return db.GetCmdPtr();
    if (!prepared_) return nullptr;
    return ownCmd_ != nullptr ? ownCmd_ : db.GetCmdPtr();
}
