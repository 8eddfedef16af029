// database/drivers/SDInt.cpp: the InterBase family's client binding, status check, connection
// and catalog queries (unit SDInt). The command lives in SDIntCommand.cpp (statements,
// descriptors, buffers) and SDIntValues.cpp (values, BLOBs, stored procedures).
//
// Connection states: created (no handle record) -> connected (handle record, both cells set,
// one server transaction open, with the auto-commit byte in its TPB unless an explicit
// transaction runs) -> disconnected (record freed, DPB back to its version byte). DoConnect
// moves to connected, DoDisconnect back; DoStartTransaction, DoCommit and DoRollback replace
// the server transaction (or keep it, with the retaining calls) and never leave none open.
#include "database/drivers/SDInt.h"

#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngine.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kIntLibraryName = "libfbclient.so.2";
// The library's name in the missing-entry assertion of both bindings.
constexpr const char* kIntClientName = "Interbase Client";
constexpr size_t kDpbItemMax = 255;
constexpr int kInfoBufferSize = 1000;
// A status vector holds at most this many messages: a bound for the interpretation loop.
constexpr int kMaxStatusMessages = ISC_STATUS_LENGTH;

std::string ParamText(const rtl::StringList& params, const char* name) {
    return rtl::Trim(params.Values(name));
}

// "like UPPER('...')" for a pattern with a wildcard, "= UPPER('...')" otherwise; the text is
// a quoted literal, so a pattern holding an apostrophe stays a pattern.
std::string NameCondition(const std::string& text) {
    return (HasWildcard(text) ? "like UPPER(" : "= UPPER(") + rtl::QuotedStr(text) + ")";
}

// isc_version reports its lines here; the last one naming the engine or the remote server is
// kept. Nothing may escape into the client's code.
struct TVersionLines {
    std::string kept;
};

void KeepVersionLine(void* context, const char* line) noexcept {
    try {
        if (line == nullptr) return;
        const std::string text(line);
        if (text.find("(access method)") != std::string::npos || text.find("(remote server)") != std::string::npos)
            static_cast<TVersionLines*>(context)->kept = text;
    } catch (...) {
        // Out of memory while copying a line: the version text stays as it was.
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry tables and the InterBase binding

TIntFunctions::TIntFunctions()
    : table_{
#define KW_INT_TABLE_ENTRY(name, required, type) {#name, static_cast<void*>(&name), required},
          KW_INT_ENTRY_POINTS(KW_INT_TABLE_ENTRY)
#undef KW_INT_TABLE_ENTRY
      } {
}

bool TIntFunctions::HasEntry(const char* name) const {
    for (const TSDClientEntry& e : table_) {
        if (std::strcmp(e.Name, name) != 0) continue;
        void* address = nullptr;
        std::memcpy(&address, e.Slot, sizeof address);
        return address != nullptr;
    }
    return false;
}

TIntFunctions& IntFunctions() {
    static TIntFunctions functions;
    return functions;
}

TSDClientLibrary& IntLibrary() {
    // The table outlives the library object, which clears it when it goes.
    (void)IntFunctions();
    static TSDClientLibrary library(kIntLibraryName, stInterbase, kIntClientName);
    return library;
}

void LoadIntLibrary() {
    IntLibrary().Load(IntFunctions().Table());
}

void UnloadIntLibrary() {
    IntLibrary().Unload(IntFunctions().Table());
}

std::unique_ptr<TISqlDatabase> CreateInterbaseDatabase(rtl::Component* owner, const rtl::StringList& params) {
    IntLibrary().TakeNameFromParams(params);
    return std::make_unique<TIIntDatabase>(owner, params);
}

void RegisterInterbaseDriver() {
    RegisterSqlDatabaseFactory(stInterbase, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateInterbaseDatabase(owner, params);
    });
}

// ---------------------------------------------------------------------------------------------
// Status check

std::unique_ptr<ESDIntError> MakeIntError(int32_t errorCode, int32_t nativeError, std::string message, bool lost) {
    return std::make_unique<ESDIntError>(errorCode, nativeError, std::move(message), lost);
}

bool IntInfoItem(const uint8_t* answer, size_t size, uint8_t item, int64_t& value) {
    size_t i = 0;
    while (i < size && answer[i] != isc_info_end) {
        if (size - i < 3) return false;
        const uint8_t code = answer[i];
        const size_t length = size_t(answer[i + 1]) | size_t(answer[i + 2]) << 8;
        if (length > size - i - 3) return false;
        if (code == item) {
            if (length < 1 || length > 8) return false;
            uint64_t v = 0;
            for (size_t k = 0; k < length; ++k)
                v |= uint64_t(answer[i + 3 + k]) << (8 * k);
            value = int64_t(v);
            return true;
        }
        i += 3 + length;
    }
    return false;
}

bool IntStatusMeansLostConnection(const ISC_STATUS* status) {
    if (status[0] != isc_arg_gds) return false;
    switch (status[1]) {
        case isc_shutdown:
        case isc_network_error:
        case isc_net_connect_err:
        case isc_net_connect_listen_err:
        case isc_net_event_connect_err:
        case isc_net_event_listen_err:
        case isc_net_read_err:
        case isc_net_write_err:
        case isc_lost_db_connection:
        case isc_att_shutdown:
            return true;
        default:
            return false;
    }
}

std::unique_ptr<ESDIntError> MakeIntStatusError(ISC_STATUS result, const ISC_STATUS* status,
                                                TIntErrorClass errorClass, const TIntFunctions& functions) {
    std::string message;
    char buffer[512];
    if (functions.fb_interpret != nullptr) {
        const ISC_STATUS* cursor = status;
        for (int i = 0; i < kMaxStatusMessages && functions.fb_interpret(buffer, sizeof buffer, &cursor) > 0; ++i) {
            message += "\r\n";
            message += buffer;
        }
    } else {
        // An older client's unbounded form: its messages fit the 512 bytes it documents.
        ISC_STATUS* cursor = const_cast<ISC_STATUS*>(status);
        for (int i = 0; i < kMaxStatusMessages && functions.isc_interprete(buffer, &cursor) > 0; ++i) {
            message += "\r\n";
            message += buffer;
        }
    }
    int32_t sqlCode = functions.isc_sqlcode != nullptr ? int32_t(functions.isc_sqlcode(status)) : -999;
    if (sqlCode == -999) sqlCode = int32_t(result);
    // The server's answer to closing a cursor that is closed already.
    if (sqlCode == -501) return nullptr;
    return errorClass(sqlCode, sqlCode, std::move(message), IntStatusMeansLostConnection(status));
}

void CheckIntStatus(ISC_STATUS result, const ISC_STATUS* status, TIntErrorClass errorClass,
                    TISqlDatabase* database, const TIntFunctions& functions) {
    const std::unique_ptr<ESDIntError> error = MakeIntStatusError(result, status, errorClass, functions);
    if (error == nullptr) return;
    if (database != nullptr) database->HandleError(*error);
    error->Raise();
}

// ---------------------------------------------------------------------------------------------
// TICustomIntDatabase

TICustomIntDatabase::TICustomIntDatabase(rtl::Component* owner, const rtl::StringList& params,
                                         TSDServerType serverType)
    : TISqlDatabase(owner, params, serverType) {
    dpb_.assign(1, char(isc_dpb_version1));
    tpb_[0] = isc_tpb_version3;
    tpb_[1] = isc_tpb_write;
    tpb_[2] = rtl::UpperCase(ParamText(Params, "TRANSACTION NOWAIT")) == STrueString ? isc_tpb_nowait : isc_tpb_wait;
    tpb_[3] = isc_tpb_concurrency;
    tpbLength_ = 4;
    int32_t dialect = 1;
    sqlDialect_ = rtl::TryStrToInt(ParamText(Params, "SQL Dialect"), dialect) ? dialect : 1;
    retaining_ = rtl::UpperCase(ParamText(Params, "TRANSACTION RETAINING")) != SFalseString;
    SchemaNamesSupported = false;
}

TICustomIntDatabase::~TICustomIntDatabase() {
    // The concrete classes disconnect in their own destructors, while their binding is still
    // the one ReleaseClientLibrary names.
    FreeHandle(false);
}

const TIntFunctions& TICustomIntDatabase::Functions() const {
    rtl::Assert(functions_ != nullptr, "TICustomIntDatabase.Functions: the client library is not acquired");
    return *functions_;
}

isc_db_handle* TICustomIntDatabase::GetDBHandle() const {
    rtl::Assert(handle_ != nullptr, "TICustomIntDatabase.GetDBHandle");
    return handle_->DbHandle;
}

isc_tr_handle* TICustomIntDatabase::GetTRHandle() const {
    rtl::Assert(handle_ != nullptr, "TICustomIntDatabase.GetTRHandle");
    return handle_->TrHandle;
}

void TICustomIntDatabase::AllocHandle(bool ownCells) {
    rtl::Assert(handle_ == nullptr, "TICustomIntDatabase.AllocHandle");
    handle_ = std::make_unique<TIntHandle>();
    handle_->ServerType = uint8_t(GetServerType());
    if (ownCells) {
        dbCell_ = std::make_unique<isc_db_handle>(0);
        trCell_ = std::make_unique<isc_tr_handle>(0);
        handle_->DbHandle = dbCell_.get();
        handle_->TrHandle = trCell_.get();
    }
}

void TICustomIntDatabase::FreeHandle(bool freeCells) {
    if (handle_ == nullptr) return;
    // Only the cells this object made are its own; a record of an attached foreign connection
    // points at the caller's.
    if (freeCells) {
        dbCell_.reset();
        trCell_.reset();
    }
    handle_.reset();
}

void TICustomIntDatabase::CheckDatabaseStatus(ISC_STATUS result) {
    MarkActivity();
    if (result == 0) return;
    EndWaitCursor();
    CheckIntStatus(result, status_.data(), GetErrorClass(), this, Functions());
}

int16_t TICustomIntDatabase::BooleanSqlType() const {
    return Functions().fb_interpret != nullptr ? int16_t(SQL_BOOLEAN) : TICustomIntCommand::kBoolean;
}

void TICustomIntDatabase::AppendDpbItems(const std::string& userName, const std::string& password) {
    struct Item {
        uint8_t code;
        std::string value;
        const char* what;
    };
    std::vector<Item> items = {{isc_dpb_user_name, userName, "user name"}, {isc_dpb_password, password, "password"}};
    const std::string charset = ParamText(Params, "LOCAL CHARSET");
    if (!charset.empty()) items.push_back({isc_dpb_lc_ctype, charset, "LOCAL CHARSET"});
    const std::string role = ParamText(Params, "ROLE NAME");
    if (!role.empty()) items.push_back({isc_dpb_sql_role_name, role, "ROLE NAME"});
    // Every item has one length byte: a longer value would corrupt the block, so it is refused
    // before anything is appended.
    for (const Item& item : items)
        if (item.value.size() > kDpbItemMax)
            rtl::DatabaseErrorFmt("The %s is too long for the database parameter block (%d bytes, at most %d)",
                                  item.what, int64_t(item.value.size()), int64_t(kDpbItemMax));
    auto append = [this](uint8_t code, const std::string& value) {
        dpb_ += char(code);
        dpb_ += char(value.size());
        dpb_ += value;
    };
    append(items[0].code, items[0].value);
    append(items[1].code, items[1].value);
    int32_t timeout = 0;
    if (rtl::TryStrToInt(ParamText(Params, "LOGIN TIMEOUT"), timeout) && timeout > 0) {
        dpb_ += char(isc_dpb_connect_timeout);
        if (timeout <= 255) {
            dpb_ += char(1);
            dpb_ += char(timeout);
        } else {
            // A longer time-out takes the item's four-byte form (least significant byte
            // first) instead of keeping only its low byte, which could turn 256 into none.
            dpb_ += char(4);
            for (int shift = 0; shift < 32; shift += 8)
                dpb_ += char((uint32_t(timeout) >> shift) & 0xFF);
        }
    }
    for (size_t i = 2; i < items.size(); ++i)
        append(items[i].code, items[i].value);
}

bool TICustomIntDatabase::UpdateTpb() {
    uint8_t wanted[2] = {};
    size_t count = 0;
    switch (TransIsolation) {
        case tiDirtyRead:
            wanted[0] = isc_tpb_read_committed;
            wanted[1] = isc_tpb_rec_version;
            count = 2;
            break;
        case tiReadCommitted:
            wanted[0] = isc_tpb_read_committed;
            wanted[1] = isc_tpb_no_rec_version;
            count = 2;
            break;
        case tiRepeatableRead:
            wanted[0] = isc_tpb_concurrency;
            count = 1;
            break;
        default:
            rtl::Assert(false, "TICustomIntDatabase.UpdateTpb: isolation %d", int32_t(TransIsolation));
    }
    const bool wantAutoCommit = AutoCommit && !explicitTransaction_;
    bool hasAutoCommit = false;
    for (size_t i = 0; i < tpbLength_; ++i)
        hasAutoCommit = hasAutoCommit || tpb_[i] == isc_tpb_autocommit;
    if (tpbLength_ >= kTpbPrefixLength + count &&
        std::memcmp(tpb_.data() + kTpbPrefixLength, wanted, count) == 0 && hasAutoCommit == wantAutoCommit)
        return false;
    std::fill(tpb_.begin() + kTpbPrefixLength, tpb_.end(), uint8_t(0));
    tpbLength_ = kTpbPrefixLength;
    for (size_t i = 0; i < count; ++i)
        tpb_[tpbLength_++] = wanted[i];
    if (wantAutoCommit) tpb_[tpbLength_++] = isc_tpb_autocommit;
    return true;
}

void TICustomIntDatabase::StartServerTransaction() {
    TIntTeb teb{GetDBHandle(), ISC_LONG(tpbLength_), reinterpret_cast<const ISC_SCHAR*>(tpb_.data())};
    CheckDatabaseStatus(Functions().isc_start_multiple(status_.data(), GetTRHandle(), 1, &teb));
}

void TICustomIntDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                                    const std::string& password) {
    firebirdServer_ = -1;
    AcquireClientLibrary();
    try {
        AllocHandle(true);
    } catch (...) {
        ReleaseClientLibrary();
        throw;
    }
    AppendDpbItems(userName, password);
    CheckDatabaseStatus(Functions().isc_attach_database(status_.data(), 0, remoteDatabase.c_str(), GetDBHandle(),
                                                        ISC_SHORT(dpb_.size()), dpb_.data()));
    UpdateTpb();
    StartServerTransaction();
    CursorPreservedOnStart = !AutoCommit;
    CursorPreservedOnCommit = retaining_ && !AutoCommit;
    CursorPreservedOnRollback = retaining_ && Functions().HasEntry("isc_rollback_retaining") && !AutoCommit;
}

void TICustomIntDatabase::DoDisconnect(bool force) {
    if (handle_ == nullptr) return;
    const TIntFunctions& fn = Functions();
    // A disconnect always ends disconnected: every step runs, the handles are freed and the
    // client let go, and only then the first failure is reported, once (a broken link fails
    // every step; reporting at the first would leave a dead handle that every later close
    // trips over again).
    std::unique_ptr<ESDIntError> failure;
    auto note = [&](ISC_STATUS r) {
        MarkActivity();
        if (r != 0 && !force && failure == nullptr)
            failure = MakeIntStatusError(r, status_.data(), GetErrorClass(), fn);
    };
    if (*GetTRHandle() != 0) {
        // The explicit-transaction flag lasts only while a transaction starts; the engine's
        // in-transaction flag tells that the program's own transaction is still open, and
        // ending a connection must never commit what the program did not commit.
        const ISC_STATUS r = explicitTransaction_ || InTransaction
                                 ? fn.isc_rollback_transaction(status_.data(), GetTRHandle())
                                 : fn.isc_commit_transaction(status_.data(), GetTRHandle());
        note(r);
        // A transaction that did not end keeps the attachment from detaching.
        if (r != 0 && *GetTRHandle() != 0) fn.isc_rollback_transaction(status_.data(), GetTRHandle());
    }
    if (*GetDBHandle() != 0) note(fn.isc_detach_database(status_.data(), GetDBHandle()));
    dpb_.resize(kDpbPrefixLength);
    FreeHandle(true);
    explicitTransaction_ = false;
    ReleaseClientLibrary();
    if (failure != nullptr) {
        EndWaitCursor();
        HandleError(*failure);
    }
}

bool TICustomIntDatabase::UsesRetainingCalls(bool commit) const {
    if (!retaining_ || AutoCommit) return false;
    return commit || Functions().HasEntry("isc_rollback_retaining");
}

void TICustomIntDatabase::EndTransaction(bool commit) {
    rtl::Assert(handle_ != nullptr && *GetTRHandle() != 0,
                commit ? "TICustomIntDatabase.DoCommit: no transaction" : "TICustomIntDatabase.DoRollback: no transaction");
    const TIntFunctions& fn = Functions();
    if (UsesRetainingCalls(commit)) {
        CheckDatabaseStatus(commit ? fn.isc_commit_retaining(status_.data(), GetTRHandle())
                                   : fn.isc_rollback_retaining(status_.data(), GetTRHandle()));
    } else {
        CheckDatabaseStatus(commit ? fn.isc_commit_transaction(status_.data(), GetTRHandle())
                                   : fn.isc_rollback_transaction(status_.data(), GetTRHandle()));
        UpdateTpb();
        StartServerTransaction();
    }
    explicitTransaction_ = false;
}

void TICustomIntDatabase::DoCommit() {
    EndTransaction(true);
}

void TICustomIntDatabase::DoRollback() {
    EndTransaction(false);
}

void TICustomIntDatabase::DoStartTransaction() {
    explicitTransaction_ = true;
    // The running auto-commit transaction ends and one without the auto-commit byte starts in
    // its place; the base's Rollback does both (and clears the flag again, the new TPB
    // already carrying the explicit mode).
    if (UpdateTpb()) Rollback();
}

void TICustomIntDatabase::SetHandle(void* handle) {
    rtl::Assert(handle != nullptr, "TICustomIntDatabase.SetHandle");
    AcquireClientLibrary();
    try {
        AllocHandle(false);
    } catch (...) {
        ReleaseClientLibrary();
        throw;
    }
    TIntHandle record;
    std::memcpy(&record, handle, sizeof record);
    handle_->DbHandle = record.DbHandle;
    handle_->TrHandle = record.TrHandle;
}

int32_t TICustomIntDatabase::GetServerVersion() {
    const TIntFunctions& fn = Functions();
    if (fn.isc_database_info == nullptr)
        rtl::DatabaseErrorFmt("Function '%s' not found in %s library", "isc_database_info", kIntClientName);
    char buffer[kInfoBufferSize] = {};
    const char item = isc_info_version;
    CheckDatabaseStatus(fn.isc_database_info(status_.data(), GetDBHandle(), 1, &item, kInfoBufferSize, buffer));
    // item, two length bytes, the count of strings, then each string with its length byte
    const size_t length = uint8_t(buffer[4]);
    return ParseVersionNumber(std::string(buffer + 5, std::min<size_t>(length, kInfoBufferSize - 5)));
}

std::string TICustomIntDatabase::GetVersionString() {
    TVersionLines lines;
    if (Functions().isc_version(GetDBHandle(), KeepVersionLine, &lines) != 0) return "";
    return lines.kept;
}

std::string TICustomIntDatabase::OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                                   const std::string& marker) {
    switch (desc.NativeType) {
        case TICustomIntCommand::kTimeStamp:
        case TICustomIntCommand::kTime:
            if (firebirdServer_ < 0)
                firebirdServer_ = GetVersionString().find("Firebird") != std::string::npos ? 1 : 0;
            // The tenths of a millisecond taken off: EXTRACT gives the milliseconds with one place.
            if (firebirdServer_ == 1)
                return "dateadd(-mod(cast(extract(millisecond from " + column +
                       ") * 10 as integer), 10) * 0.1 " + "millisecond to " + column + ") = " + marker;
            break;
        case TICustomIntCommand::kLong:
        case TICustomIntCommand::kShort:
        case TICustomIntCommand::kInt64:
            // The driver's double is the server's own cast of the scaled integer.
            if (desc.FieldType == ftFloat) return "cast(" + column + " as double precision) = " + marker;
            break;
        default:
            break;
    }
    return TISqlDatabase::OldValueCondition(desc, column, marker);
}

bool TICustomIntDatabase::TestConnected() {
    if (handle_ == nullptr || functions_ == nullptr) return false;
    if (functions_->isc_database_info == nullptr) return *GetDBHandle() != 0;
    char buffer[kInfoBufferSize] = {};
    const char item = isc_info_version;
    return functions_->isc_database_info(status_.data(), GetDBHandle(), 1, &item, kInfoBufferSize, buffer) == 0;
}

// ---------------------------------------------------------------------------------------------
// Catalog queries

TISqlCommandPtr TICustomIntDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    std::string sql;
    switch (kind) {
        case stTables:
        case stSysTables: {
            std::string owner;
            std::string name;
            SplitOwnerAndName(objectName, owner, name);
            std::string clause;
            auto add = [&clause](const std::string& condition) {
                clause += rtl::Trim(clause).empty() ? " where " : " and ";
                clause += condition;
            };
            if (name != "*") add("RDB$RELATION_NAME " + NameCondition(name));
            if (owner != "*") add("RDB$OWNER_NAME " + NameCondition(owner));
            add(kind == stSysTables ? "RDB$SYSTEM_FLAG <> 0 " : "RDB$SYSTEM_FLAG = 0 ");
            sql = rtl::Format(
                "select '' as CATALOG_NAME, RDB$OWNER_NAME as SCHEMA_NAME, RDB$RELATION_NAME as TABLE_NAME, "
                "RDB$VIEW_SOURCE as TABLE_TYPE from RDB$RELATIONS %s order by RDB$OWNER_NAME, RDB$RELATION_NAME",
                clause);
            break;
        }
        case stProcedures:
            sql = rtl::Format(
                "select '' as CATALOG_NAME, RDB$OWNER_NAME as SCHEMA_NAME, RDB$PROCEDURE_NAME as PROC_NAME, 0 as "
                "PROC_TYPE, RDB$PROCEDURE_INPUTS as IN_PARAMS, RDB$PROCEDURE_OUTPUTS as OUT_PARAMS, "
                "RDB$SYSTEM_FLAG from RDB$PROCEDURES where RDB$SYSTEM_FLAG = 0 %s order by RDB$OWNER_NAME, "
                "RDB$PROCEDURE_NAME",
                objectName.empty() ? std::string() : "and RDB$PROCEDURE_NAME " + NameCondition(objectName));
            break;
        case stColumns: {
            std::string owner;
            std::string name;
            SplitOwnerAndName(objectName, owner, name);
            sql = rtl::Format(
                "select '' as CATALOG_NAME, R.RDB$OWNER_NAME as SCHEMA_NAME, R.RDB$RELATION_NAME as TABLE_NAME, "
                "RF.RDB$FIELD_NAME as COLUMN_NAME, RF.RDB$FIELD_POSITION as COLUMN_POSITION, 0 as COLUMN_TYPE, "
                "CASE F.RDB$FIELD_TYPE WHEN 7 THEN 'SHORT' WHEN 8 THEN 'LONG' WHEN 9 THEN 'QUAD' WHEN 10 THEN "
                "'FLOAT' WHEN 12 THEN 'DATE' WHEN 13 THEN 'TIME' WHEN 14 THEN 'TEXT' WHEN 16 THEN 'INT64' WHEN 17 "
                "THEN 'BOOLEAN' WHEN 27 THEN 'DOUBLE' WHEN 35 THEN 'TIMESTAMP' WHEN 37 THEN 'VARYING' WHEN 40 THEN "
                "'CSTRING' WHEN 45 THEN 'BLOB_ID' WHEN 261 THEN 'BLOB'  ELSE 'unknown type' END as "
                "COLUMN_TYPENAME, F.RDB$FIELD_LENGTH as COLUMN_LENGTH, F.RDB$FIELD_PRECISION as COLUMN_PRECISION, "
                "F.RDB$FIELD_SCALE as COLUMN_SCALE, RF.RDB$NULL_FLAG as COLUMN_NULLABLE, F.RDB$DEFAULT_VALUE from "
                "RDB$RELATIONS R, RDB$RELATION_FIELDS RF, RDB$FIELDS F where (R.RDB$RELATION_NAME = "
                "RF.RDB$RELATION_NAME) and (RF.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME) and (R.RDB$OWNER_NAME %s) and "
                "(R.RDB$RELATION_NAME %s) order by R.RDB$OWNER_NAME, R.RDB$RELATION_NAME, RF.RDB$FIELD_POSITION",
                NameCondition(owner), NameCondition(name));
            break;
        }
        case stProcedureParams:
            sql = rtl::Format(
                "select '' as CATALOG_NAME, RDB$OWNER_NAME as SCHEMA_NAME, PP.RDB$PROCEDURE_NAME as PROC_NAME, 0 "
                "as PROC_TYPE, RDB$PARAMETER_NAME as PARAM_NAME, RDB$PARAMETER_NUMBER as PARAM_POSITION, "
                "RDB$PARAMETER_TYPE as PARAM_TYPE, RDB$PROCEDURE_SOURCE, RDB$FIELD_SOURCE from RDB$PROCEDURES PR, "
                "RDB$PROCEDURE_PARAMETERS PP where PR.RDB$PROCEDURE_NAME = PP.RDB$PROCEDURE_NAME  %s order by "
                "RDB$OWNER_NAME, PP.RDB$PROCEDURE_NAME, RDB$PARAMETER_NUMBER",
                objectName.empty() ? std::string() : "and PP.RDB$PROCEDURE_NAME " + NameCondition(objectName));
            break;
        case stIndexes: {
            std::string owner;
            std::string name;
            SplitOwnerAndName(objectName, owner, name);
            const std::string ownerCondition = NameCondition(owner);
            const std::string nameCondition = NameCondition(name);
            sql = rtl::Format(
                "select '' as CATALOG_NAME, R.RDB$OWNER_NAME as SCHEMA_NAME, R.RDB$RELATION_NAME as TABLE_NAME, "
                "I.RDB$INDEX_NAME as INDEX_NAME, CAST(S.RDB$FIELD_NAME as CHAR(67)) as COLUMN_NAME, "
                "S.RDB$FIELD_POSITION as COLUMN_POSITION, CAST((I.RDB$UNIQUE_FLAG + 1) as INTEGER) as INDEX_TYPE, "
                "'' as SORT_ORDER, '' as INDEX_FILTER from RDB$RELATIONS R, RDB$INDICES I, RDB$INDEX_SEGMENTS S "
                "where (R.RDB$RELATION_NAME = I.RDB$RELATION_NAME) and (I.RDB$INDEX_NAME = S.RDB$INDEX_NAME) and "
                "(R.RDB$OWNER_NAME %s) and (R.RDB$RELATION_NAME %s) union select '', R.RDB$OWNER_NAME, "
                "I.RDB$RELATION_NAME, I.RDB$INDEX_NAME, CAST('' as CHAR(67)), CAST(-1 as SMALLINT), CAST(4 as "
                "INTEGER), '', ''  from RDB$RELATIONS R, RDB$INDICES I, RDB$RELATION_CONSTRAINTS C where "
                "(R.RDB$RELATION_NAME = I.RDB$RELATION_NAME) and (C.RDB$RELATION_NAME = I.RDB$RELATION_NAME) and "
                "(C.RDB$INDEX_NAME = I.RDB$INDEX_NAME) and C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'  and "
                "(R.RDB$OWNER_NAME %s) and (R.RDB$RELATION_NAME %s) order by 2, 3, 4, 6",
                ownerCondition, nameCondition, ownerCondition, nameCondition);
            break;
        }
        default:
            return nullptr;
    }
    TISqlCommandPtr cmd = CreateSqlCommand(nullptr);
    cmd->ExecDirect(sql);
    return cmd;
}

// ---------------------------------------------------------------------------------------------
// TIIntDatabase

TIIntDatabase::TIIntDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TICustomIntDatabase(owner, params, stInterbase) {}

TIIntDatabase::~TIIntDatabase() {
    // Released here, while this class's own binding is still what ReleaseClientLibrary names.
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

TISqlCommandPtr TIIntDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIIntCommand>(this, ownerDataSet);
}

int32_t TIIntDatabase::GetClientVersion() {
    return IntLibrary().FileVersion();
}

void TIIntDatabase::ReleaseClientLibrary() {
    UnloadIntLibrary();
}

void TIIntDatabase::AcquireClientLibrary() {
    LoadIntLibrary();
    SetFunctions(&IntFunctions());
}

// ---------------------------------------------------------------------------------------------
// Names in statements

std::string NormalizeIntName(const std::string& name, int dialect) {
    return dialect == 1 ? rtl::UpperCase(rtl::Trim(name)) : name;
}

std::string QuoteIntName(const std::string& name, int dialect) {
    if (dialect == 1) return rtl::UpperCase(rtl::Trim(name));
    return "\"" + DoubleChar('"', rtl::TrimRight(name)) + "\"";
}
