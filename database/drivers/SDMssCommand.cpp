// database/drivers/SDMssCommand.cpp: the SQL Server driver's command (unit SDMss).
//
// A command works on its connection's one DBPROCESS. States:
//   idle       nothing sent (sentText_ empty); prepared_ tells whether DoPrepare ran
//   sent       the statement or procedure call went out (sentText_ set); the command is the
//              connection's active command and its pending owner; the DBPROCESS stands at
//              the first row-returning result (or past the last result)
//   fetching   rows are read into the bound cells; at the end of the rows the command lets go
//              of the connection (it stays the pending owner: more results may follow)
//   done       the procedure's results were read to their end, output values and status
//              included (resultsDone_)
// RunStatement moves idle to sent; CloseResultSet, Disconnect and another command's statement
// (which fetches this one's rows first, then drains or cancels what is left) move back to idle.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "database/drivers/SDMssApi.h"
#include "database/drivers/SDSqlLiterals.h"
#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

const TMssFunctions& Mss() {
    return MssFunctions();
}

// What DB-Library binds in the engine's shapes (dates as DBDATETIME): every type a procedure
// parameter is sent as, and the GUIDs read from 16-byte binary columns.
constexpr TSDSlotMap kSlots =
    kEngineSlots.Only({ftString, ftFixedChar, ftSmallint, ftWord, ftBoolean, ftInteger, ftAutoInc, ftFloat,
                       ftCurrency, ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftGuid});
static_assert(sizeof(DBDATETIME) == 8 && offsetof(DBDATETIME, dttime) == 4, "PackTdsDateTime's layout");

// The date and time DB-Library cracks out of a datetime, in the engine's record for the type.
TSDDateTimeRec CrackedToRec(TFieldType type, const tds_microsoft_dbdaterec& rec) {
    rtl::TDateTime date = 0;
    rtl::TDateTime time = 0;
    if (!rtl::TryEncodeDate(rec.year, rec.month, rec.day, date))
        rtl::DatabaseErrorFmt("Invalid date %d-%d-%d from the server", rec.year, rec.month, rec.day);
    if (!rtl::TryEncodeTime(rec.hour, rec.minute, rec.second, rec.millisecond, time))
        rtl::DatabaseErrorFmt("Invalid time %d:%d:%d from the server", rec.hour, rec.minute, rec.second);
    return DateTimeToRec(type, type == ftTime ? time : rtl::CombineDateTime(date, time));
}

template <typename T>
T Load(const uint8_t* data) {
    T v;
    std::memcpy(&v, data, sizeof v);
    return v;
}

constexpr const char* kFetchCaller = "TIMssCommand.GetCnvtFieldData";

}  // namespace

TIMssCommand::TIMssCommand(TIMssDatabase* database, rtl::Component* owner) : TISqlCommand(database, owner) {}

TIMssCommand::~TIMssCommand() {
    *alive_ = false;
    try {
        Disconnect(true);
    } catch (const std::exception&) {
        // A forced disconnect has nobody left to report to.
    }
    MssDatabase().Forget(this);
}

TIMssDatabase& TIMssCommand::MssDatabase() const {
    return static_cast<TIMssDatabase&>(GetSqlDatabase());
}

DBPROCESS* TIMssCommand::Proc() const {
    return MssDatabase().GetDBProcPtr();
}

void TIMssCommand::Check(bool succeeded, const char* call) {
    MssDatabase().Check(Proc(), succeeded, call);
}

// ---------------------------------------------------------------------------------------------
// Types

TFieldType TIMssCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case SYBCHAR:
        case SYBVARCHAR:
            return ftString;
        case SYBINT1:
        case SYBINT2:
            return ftSmallint;
        case SYBINT4:
        case SYBINTN:
            return ftInteger;
        case SYBBIT:
            return ftBoolean;
        case SYBREAL:
        case SYBFLT8:
        case SYBDECIMAL:
        case SYBNUMERIC:
        case SYBFLTN:
            return ftFloat;
        case SYBMONEY:
        case SYBMONEYN:
        case SYBMONEY4:
            return ftCurrency;
        case SYBDATETIME:
        case SYBDATETIME4:
        case SYBDATETIMN:
            return ftDateTime;
        case SYBBINARY:
            return ftBytes;
        case SYBVARBINARY:
            return ftVarBytes;
        case SYBIMAGE:
            return ftBlob;
        case SYBTEXT:
            return ftMemo;
        default:
            return ftUnknown;
    }
}

int32_t TIMssCommand::NativeDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
            return NTBSTRINGBIND;
        case ftSmallint:
        case ftBoolean:
            return SMALLBIND;
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return INTBIND;
        case ftFloat:
        case ftCurrency:
            return FLT8BIND;
        case ftDate:
        case ftTime:
        case ftDateTime:
            return DATETIMEBIND;
        case ftBytes:
        case ftVarBytes:
        case ftGuid:
            return BINARYBIND;
        case ftBlob:
        case ftMemo:
            return VARYBINBIND;
        default:
            return -1;
    }
}

uint16_t TIMssCommand::NativeDataSize(TFieldType fieldType) {
    return NativeSlotSize(kSlots, fieldType, sizeof(DBDATETIME));
}

int32_t TIMssCommand::ServerParamType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
            return SYBVARCHAR;
        case ftFixedChar:
            return SYBCHAR;
        case ftSmallint:
        case ftWord:
        case ftBoolean:
            return SYBINT2;
        case ftInteger:
        case ftAutoInc:
            return SYBINT4;
        case ftFloat:
        case ftCurrency:
            return SYBFLT8;
        case ftDate:
        case ftTime:
        case ftDateTime:
            return SYBDATETIME;
        case ftBytes:
        case ftVarBytes:
            return SYBBINARY;
        case ftBlob:
            return SYBIMAGE;
        case ftMemo:
            return SYBTEXT;
        default:
            return 0;
    }
}

bool TIMssCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    static constexpr TSDFieldTypes kConverted{ftBoolean, ftFloat,    ftCurrency, ftDate,
                                              ftTime,    ftDateTime, ftGuid};
    return kConverted.Has(fieldType);
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TIMssCommand::AllocParamsBuffer() {
    if (IsProcedure() && ParamsBuffer) return;
    TISqlCommand::AllocParamsBuffer();
}

void TIMssCommand::FreeParamsBuffer() {
    ClearBufferList();
    TISqlCommand::FreeParamsBuffer();
}

int32_t TIMssCommand::GetParamsBufferSize() {
    if (CommandType != 0 && CommandType != 2)
        rtl::DatabaseErrorFmt("Fatal error: %s", "TIMssCommand.GetParamsBufferSize");
    if (Params == nullptr) return 0;
    int64_t size = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        if (p.DataType() == ftUnknown) rtl::DatabaseErrorFmt("No value for parameter '%s'", p.Name());
        if (p.ParamType() == ptUnknown) rtl::DatabaseErrorFmt("No parameter type for parameter '%s'", p.Name());
        int64_t valueSize;
        if (IsProcedure())
            valueSize = IsDateTimeFieldType(p.DataType()) ? 8 : ParamDataSize(p);
        else if (p.DataType() == ftBoolean)
            valueSize = ParamDataSize(p) + 1;
        else if (p.DataType() == ftFloat || p.DataType() == ftCurrency)
            valueSize = 64;  // the longest float text DB-Library writes, and its zero
        else if (RequiredCnvtFieldType(p.DataType()))
            valueSize = 9;
        else
            valueSize = ParamDataSize(p);
        size += valueSize + kCellHeaderSize;
    }
    if (size > kMaxBufferSize) rtl::DatabaseErrorFmt("Parameter buffer of %d bytes is too large", size);
    return int32_t(size);
}

std::string TIMssCommand::BuildStatementText(DBPROCESS* dbProcess) const {
    TTdsLiteralRules rules;
    if (dbProcess != nullptr && Mss().dbconvert != nullptr) {
        rules.floatText = [dbProcess](double value) {
            char text[256] = {};
            const DBINT n = Mss().dbconvert(dbProcess, SYBFLT8, reinterpret_cast<const BYTE*>(&value), sizeof value,
                                            SYBCHAR, reinterpret_cast<BYTE*>(text), -1);
            return n > 0 ? std::string(text, strnlen(text, sizeof text)) : std::string();
        };
    }
    return TdsStatementText(CommandText, Params, rules);
}

void TIMssCommand::BindProcedureParams(DBPROCESS* proc) {
    if (Params == nullptr || Params->Count() == 0) return;
    if (!ParamsBuffer) AllocParamsBuffer();
    // The buffer holds one value area after the other, in collection order, each as long as
    // the parameter's value (none for a null value); DB-Library reads them at dbrpcsend.
    int64_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        if (p.ParamType() == ptResult) continue;
        const TFieldType type = p.DataType();
        const bool blob = IsBlobOrMemoType(type) || IsBlobFieldType(stSQLServer, type);
        const int32_t serverType = ServerParamType(type);
        if (!blob && serverType == 0) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        const bool output = p.ParamType() == ptOutput || p.ParamType() == ptInputOutput;
        BYTE status = output ? DBRPCRETURN : 0;
        DBINT maxLength = -1;
        DBINT dataLength = -1;
        BYTE* value = nullptr;
        if (blob) {
            // Text and image values go as the value's characters.
            status = 0;
            const char* text = BufferList.AllocString(p.IsNull() ? std::string() : p.AsString());
            dataLength = DBINT(std::strlen(text));
            if (dataLength == 0) maxLength = 0;
            value = reinterpret_cast<BYTE*>(const_cast<char*>(text));
        } else {
            const int32_t size = p.IsNull() ? 0 : IsDateTimeFieldType(type) ? int32_t(sizeof(DBDATETIME)) : ParamDataSize(p);
            rtl::Assert(ParamsBuffer != nullptr && offset + size <= int64_t(ParamsBuffer->Size()),
                        "TIMssCommand.BindProcedureParams: parameter '%s' outside its buffer", p.Name());
            value = ParamsBuffer->Data() + offset;
            offset += size;
            if (size == 0) {
                dataLength = 0;
                if (!output && (type == ftString || type == ftFixedChar || type == ftBytes || type == ftVarBytes))
                    maxLength = 0;
            } else {
                std::memset(value, 0, size_t(size));
                const TSDSlotKind kind = kSlots[type];
                const int32_t n = PutParamSlot(p, kind, value, size, PackTdsDateTime);
                if (n < 0) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
                // A text or bytes value goes at its own length: a longer one would append zeros.
                if (kind == TSDSlotKind::Text || kind == TSDSlotKind::Bytes) dataLength = DBINT(n);
            }
        }
        Check(Mss().dbrpcparam(proc, GetParamNamePtr(p), status, serverType, maxLength, dataLength, value) == SUCCEED,
              "dbrpcparam");
    }
}

void TIMssCommand::InitParamList() {
    AddParam("Result", ftInteger, ptResult);
    TIMssDatabase& db = MssDatabase();
    const std::string name = TdsQuoted(ExtractProcName(CommandText));
    const std::string sql =
        GetVersionMajor(db.GetServerVersion()) >= 7
            ? rtl::Format("select sc.name, type, sc.length, CONVERT(smallint, ((sc.status/64)&1)) from syscolumns sc "
                          "where sc.id = OBJECT_ID('%s') and sc.number = 1",
                          name)
            : rtl::Format("select sc.name, st.type, sc.length, CONVERT(smallint, ((sc.status/64)&1)) from syscolumns "
                          "sc, systypes st where sc.usertype = st.usertype and sc.id = OBJECT_ID('%s') and "
                          "sc.number = 1",
                          name);
    TISqlCommandPtr query = db.CreateSqlCommand(nullptr);
    query->Prepare(sql);
    query->Execute();
    while (query->FetchNextRow()) {
        std::string paramName;
        int32_t nativeType = 0;
        int32_t output = 0;
        query->GetFieldAsString(1, paramName);
        query->GetFieldAsInteger(2, nativeType);
        query->GetFieldAsInteger(4, output);
        AddParam(paramName, FieldDataType(nativeType), output != 0 ? ptInputOutput : ptInput);
    }
}

// ---------------------------------------------------------------------------------------------
// Running

void TIMssCommand::DoPrepare(const std::string&) {
    sentText_.clear();
    prepared_ = true;
    resultsDone_ = false;
    if (IsProcedure() && Params != nullptr && Params->Count() == 0) InitParamList();
}

void TIMssCommand::DoExecDirect(const std::string& sql) {
    DoPrepare(sql);
    AllocParamsBuffer();
    BindParamsBuffer();
    RunStatement();
    if (FieldDescs->Count() == 0) InitFieldDescs();
    SetPreparedText(sentText_);
}

void TIMssCommand::DoExecute() {
    if (sentText_.empty() || !(describedEarly_ || FieldDescs->Count() > 0)) RunStatement();
    if (!describedEarly_ && FieldDescs->Count() == 0) InitFieldDescs();
    describedEarly_ = false;
    SetPreparedText(sentText_);
}

void TIMssCommand::Execute() {
    AllocParamsBuffer();
    BindParamsBuffer();
    TracedExecute();
    if (!FieldsBuffer) AllocFieldsBuffer();
    SetFieldsBuffer();
}

void TIMssCommand::RunStatement() {
    TIMssDatabase& db = MssDatabase();
    db.SetActiveCommand(this, true, false);
    DBPROCESS* proc = db.GetDBProcPtr();
    db.DrainPending(proc);
    rowsEnded_ = false;
    if (IsProcedure()) {
        CallProcedure(proc);
        return;
    }
    rowsAffected_ = -1;
    prepared_ = true;
    resultsDone_ = false;
    sentText_ = BuildStatementText(proc);
    const std::shared_ptr<bool> alive = alive_;
    try {
        Check(Mss().dbcmd(proc, sentText_.c_str()) == SUCCEED, "dbcmd");
        db.SetPendingOwner(this);
        Check(Mss().dbsqlexec(proc) == SUCCEED, "dbsqlexec");
        const RETCODE r = Mss().dbresults(proc);
        Check(r != FAIL, "dbresults");
        if (r == SUCCEED) SkipToRows(proc);
    } catch (...) {
        if (!*alive) throw;
        sentText_.clear();
        // The engine's handling of a lost connection may have closed the DBPROCESS already.
        if (db.GetHandle() != nullptr && db.GetDBProcPtr() == proc) {
            rowsAffected_ = Mss().dbcount(proc);
            if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false, false);
        }
        throw;
    }
    rowsAffected_ = Mss().dbcount(proc);
}

void TIMssCommand::SkipToRows(DBPROCESS* proc) {
    while (Mss().dbcmdrow(proc) != SUCCEED) {
        const RETCODE r = Mss().dbresults(proc);
        Check(r != FAIL, "dbresults");
        if (r != SUCCEED) break;
    }
}

void TIMssCommand::CallProcedure(DBPROCESS* proc) {
    TIMssDatabase& db = MssDatabase();
    sentText_ = ExtractProcName(CommandText);
    resultsDone_ = false;
    const std::shared_ptr<bool> alive = alive_;
    try {
        Check(Mss().dbrpcinit(proc, sentText_.c_str(), 0) == SUCCEED, "dbrpcinit");
        BindProcedureParams(proc);
        db.SetPendingOwner(this);
        if (Mss().dbrpcexec != nullptr) {
            const auto rpcExec = reinterpret_cast<RETCODE (*)(DBPROCESS*)>(Mss().dbrpcexec);
            Check(rpcExec(proc) == SUCCEED, "dbrpcexec");
        } else {
            Check(Mss().dbrpcsend(proc) == SUCCEED, "dbrpcsend");
            Check(Mss().dbsqlok(proc) == SUCCEED, "dbsqlok");
        }
        NextResults();
    } catch (...) {
        if (!*alive) throw;
        resultsDone_ = true;
        sentText_.clear();
        if (db.GetHandle() != nullptr && db.GetDBProcPtr() == proc && db.PendingOwner() == this) {
            try {
                db.CancelPending(proc, false);
            } catch (const std::exception&) {
                // The call's own error passes on.
            }
        }
        if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false, false);
        throw;
    }
}

bool TIMssCommand::NextResults() {
    DBPROCESS* proc = Proc();
    for (;;) {
        const RETCODE r = Mss().dbresults(proc);
        if (r == FAIL) {
            resultsDone_ = true;
            Check(false, "dbresults");
        }
        if (r == NO_MORE_RESULTS) {
            resultsDone_ = true;
            ReadOutputParams(proc);
            if (MssDatabase().PendingOwner() == this) MssDatabase().SetPendingOwner(nullptr);
            return false;
        }
        // A result without columns (the count of a statement inside the procedure) has no rows
        // to show.
        if (r == SUCCEED && Mss().dbnumcols(proc) > 0) return true;
    }
}

void TIMssCommand::ReadOutputParams(DBPROCESS* proc) {
    if (Params == nullptr) return;
    int k = 1;
    const int returned = Mss().dbnumrets(proc);
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        if (p.ParamType() == ptResult) {
            if (Mss().dbhasretstat(proc)) p.SetValue(rtl::Variant(int32_t(Mss().dbretstatus(proc))));
            continue;
        }
        if (p.ParamType() != ptOutput && p.ParamType() != ptInputOutput) continue;
        const int index = k++;
        if (index > returned) continue;
        const char* name = Mss().dbretname(proc, index);
        rtl::Assert(name != nullptr && p.Name() == name, "TIMssCommand.InternalSpGetParams");
        const BYTE* data = Mss().dbretdata(proc, index);
        const int length = data != nullptr ? Mss().dbretlen(proc, index) : 0;
        if (length <= 0) {
            // A null output value makes the parameter null, not what it held on the way in.
            p.Clear();
            continue;
        }
        const int returnedType = Mss().dbrettype(proc, index);
        const TFieldType type = p.DataType();
        // The value comes in the server's type; DB-Library converts it into the parameter's.
        const auto convert = [&](int destType, void* dest, DBINT destLength) {
            return Mss().dbconvert(proc, returnedType, data, length, destType, static_cast<BYTE*>(dest), destLength) > 0;
        };
        if (IsDateTimeFieldType(type)) {
            DBDATETIME dt{};
            if (!convert(SYBDATETIME, &dt, sizeof dt)) continue;
            tds_microsoft_dbdaterec rec{};
            Mss().dbdatecrack(proc, reinterpret_cast<DBDATEREC*>(&rec), &dt);
            SetParamDateTimeRec(p, CrackedToRec(type, rec));
        } else if (type == ftBoolean) {
            DBINT v = 0;
            if (convert(SYBINT4, &v, sizeof v)) p.SetValue(rtl::Variant(v != 0));
        } else if (type == ftSmallint || type == ftInteger || type == ftWord || type == ftAutoInc) {
            DBINT v = 0;
            if (convert(SYBINT4, &v, sizeof v)) p.SetValue(type == ftSmallint ? rtl::Variant(int16_t(v)) : rtl::Variant(v));
        } else if (type == ftCurrency && (returnedType == SYBMONEY || returnedType == SYBMONEY4)) {
            // Money travels as a scaled integer: kept exactly.
            int64_t scaled = 0;
            if (returnedType == SYBMONEY && length >= 8) {
                int32_t high = 0;
                uint32_t low = 0;
                std::memcpy(&high, data, 4);
                std::memcpy(&low, data + 4, 4);
                scaled = int64_t(uint64_t(int64_t(high)) << 32 | low);
            } else if (length >= 4) {
                int32_t v = 0;
                std::memcpy(&v, data, 4);
                scaled = v;
            }
            p.SetValue(rtl::Variant::FromCurrency(scaled));
        } else if (type == ftFloat || type == ftCurrency) {
            double v = 0;
            if (convert(SYBFLT8, &v, sizeof v))
                p.SetValue(type == ftCurrency ? rtl::Variant::FromCurrency(std::llround(v * 10000)) : rtl::Variant(v));
        } else if (type == ftString) {
            p.SetValue(rtl::Variant(std::string(reinterpret_cast<const char*>(data), size_t(length))));
        } else if (type == ftBytes || type == ftVarBytes) {
            p.SetValue(rtl::Variant::FromBytes(rtl::ByteArray(data, data + length)));
        } else {
            p.SetValue(rtl::Variant(std::string(reinterpret_cast<const char*>(data), size_t(length))));
        }
    }
}

void TIMssCommand::GetOutputParams() {
    TIMssDatabase& db = MssDatabase();
    if (!resultsDone_ && db.PendingOwner() == this) {
        RequestFetchAll();
        DBPROCESS* proc = Proc();
        // Each step either reaches the end or raises: a failing call ends the loop.
        do {
            Check(Mss().dbcanquery(proc) == SUCCEED, "dbcanquery");
        } while (NextResults());
    }
    if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false, !resultsDone_);
}

bool TIMssCommand::NextResultSet() {
    TIMssDatabase& db = MssDatabase();
    if (resultsDone_ || db.PendingOwner() != this) return false;
    Check(Mss().dbcanquery(Proc()) == SUCCEED, "dbcanquery");
    if (!NextResults()) return false;
    furtherResult_ = true;
    rowsEnded_ = false;
    db.SetActiveCommand(this, false, false);
    FreeFieldsBuffer();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Columns and rows

void TIMssCommand::GetFieldDescs(TSDFieldDescList& list) {
    if (sentText_.empty()) {
        RunStatement();
        describedEarly_ = true;
    }
    DBPROCESS* proc = Proc();
    const int columns = Mss().dbnumcols(proc);
    for (int c = 1; c <= columns; ++c) {
        DBCOL col{};
        col.SizeOfStruct = sizeof col;
        Check(Mss().dbcolinfo(proc, CI_REGULAR, c, 0, &col) == SUCCEED, "dbcolinfo");
        const std::string name = PCharToString(col.Name, int(sizeof col.Name));
        TFieldType type = FieldDataType(col.Type);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", name);
        if (IsNumericFieldType(type) && col.Identity) type = ftAutoInc;
        if (type == ftBytes && col.MaxLength == 16 && MssDatabase().Byte16AsGuid()) type = ftGuid;
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = name.substr(0, kMaxFieldNameLen);
        d.FieldNo = c;
        d.FieldType = type;
        d.NativeType = int16_t(col.Type);
        if (FieldTypeHasSize(type)) {
            const int64_t size = int64_t(std::max<DBINT>(col.MaxLength, 0)) + (type == ftString ? 1 : 0);
            d.DataSize = int32_t(std::min<int64_t>(size, kMaxBufferSize));
        } else {
            d.DataSize = NativeDataSize(type);
        }
        d.Precision = int16_t(col.Precision);
        d.Scale = int16_t(col.Scale);
        d.Required = col.Null != 1;
    }
}

void TIMssCommand::SetFieldsBuffer() {
    if (sentText_.empty()) RunStatement();
    if (FieldDescs->Count() == 0 || !FieldsBuffer) return;
    DBPROCESS* proc = Proc();
    if (!IsProcedure()) SkipToRows(proc);
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        const int32_t bindType = NativeDataType(d.FieldType);
        if (bindType < 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (IsBlobFieldType(stSQLServer, d.FieldType)) continue;
        BYTE* cell = GetFieldCell(d.FieldNo, FieldsBuffer.get()) + kCellHeaderSize;
        Check(Mss().dbbind(proc, d.FieldNo, bindType, d.DataSize, cell) == SUCCEED, "dbbind");
    }
}

bool TIMssCommand::DoFetchNextRow() {
    TIMssDatabase& db = MssDatabase();
    // Another command's statement took the DBPROCESS: this command's rows were fetched for
    // its dataset or dropped, and nothing more comes.
    if (db.PendingOwner() != this || rowsEnded_ || !FieldsBuffer) return false;
    DBPROCESS* proc = Proc();
    STATUS r = Mss().dbnextrow(proc);
    // Compute rows are not bound; they are passed over.
    while (r > 0)
        r = Mss().dbnextrow(proc);
    db.MarkActivity();
    if (r == FAIL) {
        rowsEnded_ = true;
        Check(false, "dbnextrow");
    }
    if (r == NO_MORE_ROWS) {
        rowsEnded_ = true;
        if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false, false);
        return false;
    }
    uint8_t* buffer = FieldsBuffer->Data();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (IsBlobFieldType(stSQLServer, d.FieldType)) continue;
        // dbdata gives no address for a null value; an empty text has one and length 0.
        const bool null = Mss().dbdata(proc, d.FieldNo) == nullptr;
        const DBINT length = null ? 0 : Mss().dbdatlen(proc, d.FieldNo);
        SetCellHeader(buffer, GetFieldOffset(d.FieldNo - 1), null ? -1 : 0, std::max<DBINT>(length, 0));
    }
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

bool TIMssCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    if (IsBlobFieldType(stSQLServer, desc.FieldType) || !FieldsBuffer) return false;
    const uint8_t* cell = GetFieldCell(desc.FieldNo, FieldsBuffer.get());
    int32_t indicator = 0;
    int32_t length = 0;
    GetCellHeader(cell, 0, indicator, length);
    if (indicator == -1) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    switch (desc.FieldType) {
        case ftSmallint:
            // An int1 value was bound as two bytes too.
            StoreSlotValue(dest, destSize, Load<int16_t>(data), kFetchCaller, "ftSmallint");
            return true;
        case ftString:
            // A server that sends more than the column announced cannot make the copy leave
            // the cell: DB-Library wrote at most DataSize bytes there, the last one a zero.
            StoreTextSlot(dest, destSize, data,
                          size_t(std::min(std::max(length, 0), std::max(desc.DataSize - 1, 0))), false);
            return true;
        case ftDate:
        case ftTime:
        case ftDateTime: {
            DBDATETIME dt{};
            std::memcpy(&dt, data, sizeof dt);
            tds_microsoft_dbdaterec rec{};
            Mss().dbdatecrack(Proc(), reinterpret_cast<DBDATEREC*>(&rec), &dt);
            StoreSlotValue(dest, destSize, CrackedToRec(desc.FieldType, rec), kFetchCaller, "a date");
            return true;
        }
        case ftBoolean:
            StoreSlotValue(dest, destSize, Load<int16_t>(data), kFetchCaller, "ftBoolean");
            return true;
        case ftFloat:
        case ftCurrency:
            StoreSlotValue(dest, destSize, Load<double>(data), kFetchCaller, "ftFloat");
            return true;
        case ftGuid:
            GuidToChars(data, std::min<int32_t>(length, desc.DataSize), static_cast<char*>(dest), destSize);
            return true;
        default: {
            const int32_t n = std::min({length, desc.DataSize, destSize});
            if (n > 0) std::memcpy(dest, data, size_t(n));
            return true;
        }
    }
}

int32_t TIMssCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    DBPROCESS* proc = Proc();
    const DBINT length = Mss().dbdatlen(proc, desc.FieldNo);
    if (length < 1) return 0;
    const BYTE* bytes = Mss().dbdata(proc, desc.FieldNo);
    if (bytes == nullptr) return 0;
    data.assign(bytes, bytes + length);
    return int32_t(length);
}

// ---------------------------------------------------------------------------------------------
// Closing

void TIMssCommand::CloseResultSet() {
    if (furtherResult_) {
        ClearFieldDescs();
        return;
    }
    sentText_.clear();
    TIMssDatabase& db = MssDatabase();
    if (db.GetHandle() == nullptr) return;
    if (db.PendingOwner() == this) {
        DBPROCESS* proc = Proc();
        if (IsProcedure() && !resultsDone_) {
            // The procedure's remaining results carry its output values and status.
            do {
                Check(Mss().dbcanquery(proc) == SUCCEED, "dbcanquery");
            } while (NextResults());
        }
        if (db.PendingOwner() == this) {
            if (rowsEnded_)
                db.DrainPending(proc);
            else
                db.CancelPending(proc, true);
        }
    }
    if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false, false);
}

void TIMssCommand::Disconnect(bool force) {
    if (!prepared_) return;
    TIMssDatabase& db = MssDatabase();
    if (db.GetHandle() != nullptr && db.GetDBProcPtr() != nullptr &&
        (db.PendingOwner() == this || db.ActiveCommand() == this)) {
        try {
            if (db.PendingOwner() == this) db.CancelPending(Proc(), !force);
            if (db.ActiveCommand() == this) db.SetActiveCommand(nullptr, false, false);
        } catch (...) {
            db.Forget(this);
            if (!force) throw;
        }
    }
    db.Forget(this);
    sentText_.clear();
    prepared_ = false;
}

void* TIMssCommand::GetHandle() {
    if (IsProcedure() || prepared_) return MssDatabase().GetDBProcPtr();
    return nullptr;
}
