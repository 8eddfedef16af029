// database/drivers/SDIntCommand.cpp: the InterBase family's command, its statement side
// (unit SDInt): the statement's life, the descriptors, and the parameter and row buffers the
// descriptors point into. Values, BLOBs and stored procedures are in SDIntValues.cpp.
//
// Command states:
//   created    no statement handle, no descriptors
//   prepared   statement handle, output descriptor (described), field descriptions; the
//              statement type is asked on demand and cached
//   executed   cursorOpen_ set; for a select the output descriptor's entries point into the
//              row buffer (boundRow_ is that buffer), and each fetch writes a row there
//   closed     CloseResultSet: cursor closed, input descriptor freed; Execute again or
//              Disconnect, which drops the statement
// DoPrepare moves any state to prepared (a failed prepare drops the statement), DoExecute to
// executed, Disconnect back to created.
//
// Buffer layouts beyond the engine's (cells of an 8-byte header and the data):
//   row buffer    the engine's cells on 8-byte boundaries and its 4-byte blob slots, then
//                 one 8-byte BLOB-id cell per BLOB-kept field (blobIdOffset_, by blob index)
//   params buffer the engine's packed cells, then one 8-byte BLOB-id cell per parameter of a
//                 BLOB-kept type (paramBlobIdOffset_, in parameter order)
// A TEXT or VARYING value keeps its 16-bit length in the two bytes just before its data (the
// upper half of the header's length word): the client writes a VARYING's there itself.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "database/drivers/SDInt.h"
#include "database/engine/SDCommonSqlText.h"
#include "rtl/Assert.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr int32_t kCellAlignment = 8;
constexpr int32_t kBlobIdSize = int32_t(sizeof(ISC_QUAD));
constexpr int kStmtTypeAnswerSize = 8;
constexpr int kRecordsAnswerSize = 1050;

int32_t AlignUp(int64_t n, int32_t alignment) {
    return int32_t((n + alignment - 1) / alignment * alignment);
}

// Whether the text, after leading CR, LF and blanks, begins with a word that the server must
// prepare (a statement with rows, counts or a procedure's outputs) rather than run at once.
bool StartsWithPreparedWord(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    for (const char* word : {"SELECT", "EXECUTE", "UPDATE", "INSERT", "DELETE"}) {
        const size_t n = std::strlen(word);
        if (text.size() - i <= n || !rtl::SameText(std::string_view(text).substr(i, n), word)) continue;
        const char next = text[i + n];
        if (next == ' ' || next == '\r' || next == '\n' || next == '*') return true;
    }
    return false;
}

bool StartsWithCreateDatabase(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    return rtl::StartsText("CREATE DATABASE", std::string_view(text).substr(i));
}

// A text handed to the client as a zero-terminated string must not hold a zero byte: the
// client would run what comes before it.
void CheckStatementText(const std::string& text) {
    if (text.find('\0') != std::string::npos) rtl::DatabaseError("A statement text cannot hold a zero byte");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Descriptors

TIntSqlda::TIntSqlda(int version, int count) {
    rtl::Assert(version == SQLDA_VERSION1 || version == kSqldaVersion2, "TIntSqlda: descriptor version %d", version);
    rtl::Assert(count >= 0 && count <= INT16_MAX, "TIntSqlda: %d entries", count);
    const size_t size = HeaderSize() + size_t(std::max(count, 1)) * EntrySize(version);
    data_ = std::make_unique<uint8_t[]>(size);  // zero-filled
    XSQLDA* da = Get();
    da->version = ISC_SHORT(version);
    da->sqldabc = ISC_LONG(size);
    da->sqln = ISC_SHORT(count);
    da->sqld = 0;
}

size_t TIntSqlda::EntrySize(int version) {
    return version == kSqldaVersion2 ? sizeof(TXSqlVarV2) : sizeof(XSQLVAR);
}

size_t TIntSqlda::HeaderSize() {
    return offsetof(XSQLDA, sqlvar);
}

uint8_t* TIntSqlda::Entry(int index) {
    rtl::Assert(index >= 0 && index < Sqln(), "TIntSqlda: entry %d outside 0..%d", index, Sqln() - 1);
    return data_.get() + HeaderSize() + size_t(index) * EntrySize(Version());
}

void TSQLVAR::Assign(TIntSqlda& sqlda, int index) {
    version2_ = sqlda.Version() == kSqldaVersion2;
    if (version2_)
        std::memcpy(&v2_, sqlda.Entry(index), sizeof v2_);
    else
        std::memcpy(&v1_, sqlda.Entry(index), sizeof v1_);
    assigned_ = true;
}

void TSQLVAR::Store(TIntSqlda& sqlda, int index) const {
    Check();
    rtl::Assert(version2_ == (sqlda.Version() == kSqldaVersion2), "TSQLVAR.Store: descriptor of another layout");
    if (version2_)
        std::memcpy(sqlda.Entry(index), &v2_, sizeof v2_);
    else
        std::memcpy(sqlda.Entry(index), &v1_, sizeof v1_);
}

void TSQLVAR::Check() const {
    if (!assigned_) rtl::DatabaseError("SQLVAR not assigned");
}

#define KW_SQLVAR_FIELD(Getter, Setter, field, type)   \
    type TSQLVAR::Getter() const {                       \
        Check();                                         \
        return version2_ ? v2_.field : v1_.field;        \
    }                                                    \
    void TSQLVAR::Setter(type value) {                   \
        Check();                                         \
        if (version2_)                                   \
            v2_.field = value;                           \
        else                                             \
            v1_.field = value;                           \
    }
KW_SQLVAR_FIELD(SqlData, SetSqlData, sqldata, ISC_SCHAR*)
KW_SQLVAR_FIELD(SqlInd, SetSqlInd, sqlind, ISC_SHORT*)
KW_SQLVAR_FIELD(SqlLen, SetSqlLen, sqllen, int16_t)
KW_SQLVAR_FIELD(SqlScale, SetSqlScale, sqlscale, int16_t)
KW_SQLVAR_FIELD(SqlType, SetSqlType, sqltype, int16_t)
#undef KW_SQLVAR_FIELD

int16_t TSQLVAR::SqlSubType() const {
    Check();
    return version2_ ? v2_.sqlsubtype : v1_.sqlsubtype;
}

int16_t TSQLVAR::SqlPrecision() const {
    Check();
    return version2_ ? v2_.sqlprecision : 0;
}

namespace {

template <size_t N>
std::string NameText(ISC_SHORT length, const ISC_SCHAR (&name)[N]) {
    const size_t n = std::min<size_t>(size_t(std::max<ISC_SHORT>(length, 0)), N);
    const std::string text(name, n);
    return text.substr(0, text.find('\0'));
}

}  // namespace

std::string TSQLVAR::SqlName() const {
    Check();
    return version2_ ? NameText(v2_.sqlname_length, v2_.sqlname) : NameText(v1_.sqlname_length, v1_.sqlname);
}

std::string TSQLVAR::RelName() const {
    Check();
    return version2_ ? NameText(v2_.relname_length, v2_.relname) : NameText(v1_.relname_length, v1_.relname);
}

std::string TSQLVAR::AliasName() const {
    Check();
    return version2_ ? NameText(v2_.aliasname_length, v2_.aliasname) : NameText(v1_.aliasname_length, v1_.aliasname);
}

// ---------------------------------------------------------------------------------------------
// TICustomIntCommand: the statement

TICustomIntCommand::TICustomIntCommand(TICustomIntDatabase* database, rtl::Component* owner)
    : TISqlCommand(database, owner) {}

TICustomIntCommand::~TICustomIntCommand() {
    try {
        Disconnect(true);
    } catch (const std::exception&) {
        // The command is going away; a forced release has nobody to report to.
    }
}

TICustomIntDatabase& TICustomIntCommand::IntDatabase() const {
    return static_cast<TICustomIntDatabase&>(GetSqlDatabase());
}

void TICustomIntCommand::CheckCommandStatus(ISC_STATUS result) {
    TICustomIntDatabase& db = IntDatabase();
    db.MarkActivity();
    if (result == 0) return;
    db.EndWaitCursor();
    CheckIntStatus(result, status_.data(), db.GetErrorClass(), &db, db.Functions());
}

int TICustomIntCommand::DescriptorVersion() {
    if (descriptorVersion_ < 0) descriptorVersion_ = ChooseDescriptorVersion();
    return descriptorVersion_;
}

int TIIntCommand::ChooseDescriptorVersion() {
    return GetVersionMajor(IntDatabase().GetClientVersion()) > 6 ? kSqldaVersion2 : SQLDA_VERSION1;
}

void* TICustomIntCommand::GetHandle() {
    return stmt_ != nullptr ? reinterpret_cast<void*>(uintptr_t(*stmt_)) : nullptr;
}

void TICustomIntCommand::AllocStatement() {
    TICustomIntDatabase& db = IntDatabase();
    auto cell = std::make_unique<isc_stmt_handle>(0);
    CheckCommandStatus(db.Functions().isc_dsql_allocate_statement(status_.data(), db.GetDBHandle(), cell.get()));
    stmt_ = std::move(cell);
}

void TICustomIntCommand::FreeDescriptors() {
    out_.reset();
    in_.reset();
    boundRow_ = nullptr;
    outputBound_ = false;
}

std::string TICustomIntCommand::ServerText(const std::string& text) const {
    if (Params == nullptr || Params->Count() == 0) return text;
    return ReplaceParamsWithMarkers(text, *Params);
}

void TICustomIntCommand::DescribeOutput() {
    TICustomIntDatabase& db = IntDatabase();
    const int version = DescriptorVersion();
    auto da = std::make_unique<TIntSqlda>(version, 0);
    CheckCommandStatus(db.Functions().isc_dsql_describe(status_.data(), stmt_.get(), uint16_t(db.SqlDialect()), da->Get()));
    if (da->Sqld() > da->Sqln()) {
        const int count = da->Sqld();
        da = std::make_unique<TIntSqlda>(version, count);
        CheckCommandStatus(
            db.Functions().isc_dsql_describe(status_.data(), stmt_.get(), uint16_t(db.SqlDialect()), da->Get()));
        rtl::Assert(da->Sqld() == da->Sqln(), "TICustomIntCommand.DescribeOutput: %d columns described, %d expected",
                    da->Sqld(), da->Sqln());
    }
    out_ = std::move(da);
}

void TICustomIntCommand::CloseCursorQuietly() {
    if (stmt_ == nullptr || !cursorOpen_) return;
    const TIntFunctions& fn = IntDatabase().Functions();
    if (fn.isc_dsql_free_statement != nullptr) fn.isc_dsql_free_statement(status_.data(), stmt_.get(), DSQL_close);
    cursorOpen_ = false;
}

void TICustomIntCommand::DoPrepare(const std::string& sql) {
    TICustomIntDatabase& db = IntDatabase();
    // A statement prepared again while its cursor is open would be refused by the server.
    CloseCursorQuietly();
    cursorOpen_ = false;
    fetchEnded_ = false;
    try {
        if (stmt_ == nullptr) AllocStatement();
        FreeDescriptors();
        stmtType_ = 0;
        std::string serverText;
        if (CommandType == 0) {
            serverText = ServerText(sql);
            CheckStatementText(serverText);
            CheckCommandStatus(db.Functions().isc_dsql_prepare(status_.data(), db.GetTRHandle(), stmt_.get(), 0,
                                                               serverText.c_str(), uint16_t(db.SqlDialect()), nullptr));
        } else if (CommandType == 2) {
            PrepareProcedure(serverText);
        } else {
            rtl::DatabaseError("Capability not supported");
        }
        SetPreparedText(serverText);
        if (out_ == nullptr) DescribeOutput();
        if (FieldDescs->Count() == 0 && CommandType != 2) InitFieldDescs();
    } catch (const ESDEngineError& e) {
        // After a lost connection the engine's handling has closed the data sets, and may
        // have freed this very command: nothing of it is touched then.
        if (!e.ConnectionLost) Disconnect(true);
        throw;
    } catch (...) {
        Disconnect(true);
        throw;
    }
}

void TICustomIntCommand::DoExecDirect(const std::string& sql) {
    CloseCursorQuietly();
    cursorOpen_ = false;
    fetchEnded_ = false;
    FreeDescriptors();
    stmtType_ = 0;
    if (CommandType != 0 || StartsWithPreparedWord(sql)) {
        DoPrepare(sql);
        AllocParamsBuffer();
        BindParamsBuffer();
        DoExecute();
        return;
    }
    const std::string serverText = ServerText(sql);
    CheckStatementText(serverText);
    ExecuteImmediate(serverText);
    stmtType_ = kStmtImmediate;
    cursorOpen_ = true;
    SetPreparedText(serverText);
}

void TICustomIntCommand::ExecuteImmediate(const std::string& serverText) {
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    if (fn.isc_dsql_execute_immediate == nullptr)
        rtl::DatabaseErrorFmt("Function '%s' not found in %s library", "isc_dsql_execute_immediate", "Interbase Client");
    if (!StartsWithCreateDatabase(serverText)) {
        CheckCommandStatus(fn.isc_dsql_execute_immediate(status_.data(), db.GetDBHandle(), db.GetTRHandle(), 0,
                                                         serverText.c_str(), uint16_t(db.SqlDialect()), nullptr));
        return;
    }
    // A new database is made on handles of its own, then let go: the connection's stay as
    // they were.
    isc_db_handle newDb = 0;
    isc_tr_handle newTr = 0;
    CheckCommandStatus(fn.isc_dsql_execute_immediate(status_.data(), &newDb, &newTr, 0, serverText.c_str(),
                                                     uint16_t(db.SqlDialect()), nullptr));
    if (newDb != 0) fn.isc_detach_database(status_.data(), &newDb);
}

void TICustomIntCommand::DoExecute() {
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    rtl::Assert(stmt_ != nullptr, "TICustomIntCommand.DoExecute: not prepared");
    fetchEnded_ = false;
    if (StatementType() == kStmtExecProcedure) {
        // Outputs that nothing bound (a procedure called as a plain statement) are left out:
        // the client would write them through empty data addresses.
        CheckCommandStatus(fn.isc_dsql_execute2(status_.data(), db.GetTRHandle(), stmt_.get(),
                                                uint16_t(db.SqlDialect()), in_ != nullptr ? in_->Get() : nullptr,
                                                out_ != nullptr && outputBound_ ? out_->Get() : nullptr));
        if (outputBound_) CopyOutputParams();
    } else {
        CheckCommandStatus(fn.isc_dsql_execute(status_.data(), db.GetTRHandle(), stmt_.get(),
                                               uint16_t(db.SqlDialect()), in_ != nullptr ? in_->Get() : nullptr));
    }
    cursorOpen_ = true;
}

bool TICustomIntCommand::DoFetchNextRow() {
    TICustomIntDatabase& db = IntDatabase();
    if (stmt_ == nullptr || out_ == nullptr || fetchEnded_) return false;
    // The descriptor's addresses lie in the row buffer it was bound to; a buffer replaced
    // without binding again would have the client write into freed memory.
    rtl::Assert(FieldsBuffer != nullptr && boundRow_ == FieldsBuffer->Data(),
                "TICustomIntCommand.DoFetchNextRow: the row buffer is not bound");
    const ISC_STATUS r =
        db.Functions().isc_dsql_fetch(status_.data(), stmt_.get(), uint16_t(db.SqlDialect()), out_->Get());
    db.MarkActivity();
    if (r == 100) {
        fetchEnded_ = true;
        return false;
    }
    if (r != 0) CheckCommandStatus(r);
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

void TICustomIntCommand::CloseResultSet() {
    TICustomIntDatabase& db = IntDatabase();
    if (stmt_ != nullptr && cursorOpen_) {
        const TIntFunctions& fn = db.Functions();
        const ISC_STATUS r =
            fn.isc_dsql_free_statement != nullptr ? fn.isc_dsql_free_statement(status_.data(), stmt_.get(), DSQL_close) : 0;
        cursorOpen_ = false;
        if (db.CursorPreservedOnCommit && db.CursorPreservedOnRollback) CheckCommandStatus(r);
    }
    in_.reset();
}

void TICustomIntCommand::Disconnect(bool force) {
    if (stmt_ != nullptr) {
        const TIntFunctions* fn = SqlDatabase != nullptr ? &IntDatabase().Functions() : nullptr;
        // After the connection let its library go nothing of it can be called; the server
        // freed the statement with the attachment.
        if (fn != nullptr && fn->isc_dsql_free_statement != nullptr) {
            const ISC_STATUS r = fn->isc_dsql_free_statement(status_.data(), stmt_.get(), DSQL_drop);
            if (!force) CheckCommandStatus(r);
        }
        stmt_.reset();
    }
    if (FieldsBuffer) FreeFieldsBuffer();
    FreeDescriptors();
    cursorOpen_ = false;
    fetchEnded_ = false;
    stmtType_ = 0;
}

void TICustomIntCommand::ClearPreparedText() {
    TISqlCommand::ClearPreparedText();
    FreeDescriptors();
}

int32_t TICustomIntCommand::StatementType() {
    if (stmtType_ != 0 || stmt_ == nullptr) return stmtType_;
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    const char item = isc_info_sql_stmt_type;
    char answer[kStmtTypeAnswerSize] = {};
    CheckCommandStatus(fn.isc_dsql_sql_info(status_.data(), stmt_.get(), 1, &item, sizeof answer, answer));
    int64_t type = 0;
    rtl::Assert(IntInfoItem(reinterpret_cast<const uint8_t*>(answer), sizeof answer, isc_info_sql_stmt_type, type),
                "TICustomIntCommand.StatementType: answer %d", int32_t(answer[0]));
    stmtType_ = int32_t(type);
    return stmtType_;
}

bool TICustomIntCommand::ResultSetExists() {
    const int32_t type = StatementType();
    return type == kStmtSelect || type == kStmtSelectForUpdate;
}

int32_t TICustomIntCommand::GetRowsAffected() {
    if (stmtType_ == kStmtImmediate || stmt_ == nullptr) return 0;
    uint8_t wanted = 0;
    switch (StatementType()) {
        case kStmtUpdate:
            wanted = isc_info_req_update_count;
            break;
        case kStmtDelete:
            wanted = isc_info_req_delete_count;
            break;
        case kStmtInsert:
            wanted = isc_info_req_insert_count;
            break;
        default:
            return -1;
    }
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    const char item = isc_info_sql_records;
    char answer[kRecordsAnswerSize] = {};
    CheckCommandStatus(fn.isc_dsql_sql_info(status_.data(), stmt_.get(), 1, &item, kRecordsAnswerSize - 1, answer));
    if (answer[0] != isc_info_sql_records) return -1;
    // The counts follow as items of their own, read by their codes within the answer's length.
    const size_t length = size_t(uint8_t(answer[1])) | size_t(uint8_t(answer[2])) << 8;
    int64_t count = 0;
    if (IntInfoItem(reinterpret_cast<const uint8_t*>(answer) + 3, std::min<size_t>(length, kRecordsAnswerSize - 3),
                    wanted, count))
        return int32_t(count);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Types

TFieldType TICustomIntCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case kVarying:
        case kText:
            return ftString;
        case kDouble:
        case kFloat:
            return ftFloat;
        case kLong:
            return ftInteger;
        case kShort:
            return ftSmallint;
        case kTimeStamp:
            return ftDateTime;
        case kTime:
            return ftTime;
        case kDate:
            return ftDate;
        case kInt64:
            return ftLargeint;
        case kBoolean:
        case SQL_BOOLEAN:
            return ftBoolean;
        case kBlob:
            // BLOBs are typed by their sub-type (EntryFieldType) before this is asked.
            return ftBlob;
        default:
            return ftUnknown;
    }
}

TFieldType TICustomIntCommand::EntryFieldType(const TSQLVAR& var) {
    const int16_t native = int16_t(var.SqlType() & ~1);
    TFieldType type;
    if (native == kBlob) {
        switch (var.SqlSubType()) {
            case 1:
                type = ftMemo;
                break;
            case 20:
                type = ftFmtMemo;
                break;
            case 21:
                type = ftParadoxOle;
                break;
            case 22:
                type = ftGraphic;
                break;
            case 23:
                type = ftDBaseOle;
                break;
            case 24:
                type = ftTypedBinary;
                break;
            default:
                type = ftBlob;
                break;
        }
    } else if (native == kVarying && var.SqlLen() > IntDatabase().MaxStringSize) {
        type = ftMemo;
    } else {
        type = FieldDataType(native);
    }
    if ((type == ftSmallint || type == ftInteger || type == ftBCD || type == ftLargeint) && var.SqlScale() != 0)
        type = IntDatabase().EnableBCD && -var.SqlScale() <= 4 ? ftBCD : ftFloat;
    return type;
}

int32_t TICustomIntCommand::NativeDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
        case ftFixedChar:
            return kText;
        case ftSmallint:
        case ftWord:
            return kShort;
        case ftInteger:
            return kLong;
        case ftBoolean:
            return kBoolean;
        case ftFloat:
        case ftCurrency:
            return kDouble;
        case ftBCD:
        case ftLargeint:
            return kInt64;
        case ftDate:
            return kDate;
        case ftTime:
            return kTime;
        case ftDateTime:
            return kTimeStamp;
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
            return kBlob;
        default:
            return 0;
    }
}

uint16_t TICustomIntCommand::NativeDataSize(TFieldType fieldType) {
    switch (fieldType) {
        case ftSmallint:
        case ftWord:
        case ftBoolean:
            return 2;
        case ftInteger:
        case ftDate:
        case ftTime:
            return 4;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
        case ftDateTime:
        case ftLargeint:
            return 8;
        default:
            return 0;
    }
}

bool TICustomIntCommand::IsFixedCharType(int32_t nativeType) {
    return nativeType == kText || nativeType == kText + 1;
}

bool TICustomIntCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    return fieldType == ftDate || fieldType == ftTime || fieldType == ftDateTime || fieldType == ftBCD;
}

void TICustomIntCommand::GetFieldDescs(TSDFieldDescList& list) {
    rtl::Assert(out_ != nullptr, "TICustomIntCommand.GetFieldDescs: nothing described");
    for (int i = 0; i < out_->Sqld(); ++i) {
        TSQLVAR var;
        var.Assign(*out_, i);
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = var.AliasName().substr(0, kMaxFieldNameLen);
        d.FieldNo = i + 1;
        d.FieldType = EntryFieldType(var);
        if (d.FieldType == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", d.FieldName);
        int16_t native = int16_t(var.SqlType() & ~1);
        if (native == SQL_BOOLEAN) native = kBoolean;
        d.NativeType = native;
        d.Precision = var.SqlPrecision();
        d.Required = (var.SqlType() & 1) == 0;
        if (d.FieldType == ftBCD) {
            d.DataSize = var.SqlLen();
            d.Precision = 20;
            d.Scale = int16_t(-var.SqlScale());
        } else if (FieldTypeHasSize(d.FieldType)) {
            d.DataSize = var.SqlLen() + (d.FieldType == ftString ? 1 : 0);
        } else {
            d.DataSize = NativeDataSize(d.FieldType);
        }
    }
}

void TICustomIntCommand::ReadAutoIncrementColumns() {
    if (out_ == nullptr) return;
    std::vector<std::pair<std::string, std::string>> origins;  // table and column of each description
    std::vector<std::string> tables;
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        std::pair<std::string, std::string> origin;
        if (d.FieldNo >= 1 && d.FieldNo <= out_->Sqld()) {
            TSQLVAR var;
            var.Assign(*out_, d.FieldNo - 1);
            origin = {rtl::TrimRight(var.RelName()), rtl::TrimRight(var.SqlName())};
            if (!origin.first.empty() &&
                std::find(tables.begin(), tables.end(), origin.first) == tables.end())
                tables.push_back(origin.first);
        }
        origins.push_back(origin);
    }
    TICustomIntDatabase& db = IntDatabase();
    for (const std::string& table : tables) {
        std::vector<std::string> identities;
        try {
            TISqlCommandPtr catalog = db.CreateSqlCommand(nullptr);
            catalog->ExecDirect("select RDB$FIELD_NAME from RDB$RELATION_FIELDS where RDB$RELATION_NAME = '" +
                                DoubleChar('\'', table) + "' and RDB$IDENTITY_TYPE is not null");
            std::string name;
            while (catalog->FetchNextRow())
                if (catalog->GetFieldAsString(1, name)) identities.push_back(rtl::TrimRight(name));
        } catch (const ESDEngineError& e) {
            // A server before Firebird 3 has no identity columns (nor the catalog's column).
            if (e.ConnectionLost) throw;
            return;
        }
        for (int i = 0; i < FieldDescs->Count(); ++i)
            if (origins[size_t(i)].first == table && std::find(identities.begin(), identities.end(),
                                                               origins[size_t(i)].second) != identities.end())
                FieldDescs->GetFieldDesc(i).AutoIncrement = true;
    }
}

// ---------------------------------------------------------------------------------------------
// Row buffer

int32_t TICustomIntCommand::GetFieldsBufferSize() {
    // Cells on 8-byte boundaries: the client writes numbers, time stamps and BLOB ids there.
    const int32_t engineSize = LayOutFieldCells(kCellAlignment);
    blobIdOffset_ = AlignUp(engineSize, kCellAlignment);
    const int64_t total = int64_t(blobIdOffset_) + int64_t(kBlobIdSize) * BlobFieldCount;
    if (total > kMaxBufferSize) rtl::DatabaseErrorFmt("Row buffer of %d bytes is too large", total);
    return int32_t(total);
}

void TICustomIntCommand::SetFieldsBuffer() {
    if (!ResultSetExists()) return;
    if (FieldDescs->Count() == 0) {
        InitFieldDescs();
        AllocFieldsBuffer();
    }
    rtl::Assert(out_ != nullptr, "TICustomIntCommand.SetFieldsBuffer: nothing described");
    rtl::Assert(FieldsBuffer != nullptr, "TICustomIntCommand.SetFieldsBuffer: no row buffer");
    const TSDServerType server = IntDatabase().GetServerType();
    longTexts_.clear();
    longTexts_.resize(size_t(BlobFieldCount));
    columns_.assign(size_t(FieldDescs->Count()), TIntColumn{});
    uint8_t* row = FieldsBuffer->Data();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        rtl::Assert(d.FieldNo >= 1 && d.FieldNo <= out_->Sqld(), "TICustomIntCommand.SetFieldsBuffer: field %d",
                    d.FieldNo);
        TSQLVAR var;
        var.Assign(*out_, d.FieldNo - 1);
        if (NativeDataType(d.FieldType) == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        const int16_t native = int16_t(var.SqlType() & ~1);
        const int16_t length = var.SqlLen();
        columns_[size_t(d.FieldNo - 1)] = TIntColumn{native, var.SqlScale(), length};
        uint8_t* cell = GetFieldCell(d.FieldNo, FieldsBuffer.get());
        if (native == kBlob) {
            rtl::Assert(length == kBlobIdSize && d.DataSize == 0 && d.BlobIndex >= 0,
                        "TICustomIntCommand.SetFieldsBuffer: BLOB field '%s'", d.FieldName);
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(row + blobIdOffset_ + kBlobIdSize * d.BlobIndex));
            SetCellHeader(cell, 0, 0, 0);
        } else {
            if (IsBlobFieldType(server, d.FieldType)) {
                // A long VARYING read as a memo: its value goes to a buffer of its own, which
                // is its cell (header and data).
                rtl::Assert(d.BlobIndex >= 0, "TICustomIntCommand.SetFieldsBuffer: memo '%s'", d.FieldName);
                auto& buffer = longTexts_[size_t(d.BlobIndex)];
                buffer = std::make_unique<uint8_t[]>(size_t(length) + kCellHeaderSize);
                cell = buffer.get();
            } else {
                rtl::Assert(d.DataSize >= length, "TICustomIntCommand.SetFieldsBuffer: field '%s' holds %d of %d bytes",
                            d.FieldName, d.DataSize, int32_t(length));
            }
            uint8_t* value = cell + kCellHeaderSize;
            if (native == kVarying) {
                var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value - 2));
                SetCellHeader(cell, 0, 0, 0);
            } else if (native == kText) {
                var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
                SetCellHeader(cell, 0, 0, int32_t(uint32_t(uint16_t(length)) << 16));
            } else {
                var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
                SetCellHeader(cell, 0, 0, length);
            }
        }
        var.SetSqlInd(reinterpret_cast<ISC_SHORT*>(cell));
        var.Store(*out_, d.FieldNo - 1);
    }
    boundRow_ = row;
}

void TICustomIntCommand::FreeFieldsBuffer() {
    // The descriptor points into the buffers freed here: it goes first.
    out_.reset();
    boundRow_ = nullptr;
    longTexts_.clear();
    columns_.clear();
    TISqlCommand::FreeFieldsBuffer();
}

uint8_t* TICustomIntCommand::FieldCellOf(const TSDFieldDesc& desc) {
    rtl::Assert(desc.FieldNo >= 1 && size_t(desc.FieldNo) <= columns_.size(),
                "TICustomIntCommand: field %d is not bound", desc.FieldNo);
    if (desc.BlobIndex >= 0 && size_t(desc.BlobIndex) < longTexts_.size() && longTexts_[size_t(desc.BlobIndex)])
        return longTexts_[size_t(desc.BlobIndex)].get();
    return GetFieldCell(desc.FieldNo, FieldsBuffer.get());
}

// ---------------------------------------------------------------------------------------------
// Parameter buffer

int32_t TICustomIntCommand::GetParamsBufferSize() {
    const int32_t engineSize = TISqlCommand::GetParamsBufferSize();
    paramBlobIdOffset_ = engineSize;
    if (Params == nullptr) return engineSize;
    const TSDServerType server = IntDatabase().GetServerType();
    int64_t total = engineSize;
    for (int i = 0; i < Params->Count(); ++i)
        if (IsBlobFieldType(server, (*Params)[i].DataType())) total += kBlobIdSize;
    if (total > kMaxBufferSize) rtl::DatabaseErrorFmt("Parameter buffer of %d bytes is too large", total);
    return int32_t(total);
}

void TICustomIntCommand::BindParamsBuffer() {
    if (!ParamsBuffer || Params == nullptr) return;
    if (in_ == nullptr && Params->Count() > 0) {
        int count = Params->Count();
        if (StatementType() == kStmtExecProcedure) {
            count = 0;
            while (count < Params->Count() && (*Params)[count].ParamType() == ptInput)
                ++count;
        }
        in_ = std::make_unique<TIntSqlda>(DescriptorVersion(), count);
        in_->SetSqld(count);
    }
    if (out_ == nullptr) DescribeOutput();
    uint8_t* cell = ParamsBuffer->Data();
    uint8_t* blobIdCell = ParamsBuffer->Data() + paramBlobIdOffset_;
    const TSDServerType server = IntDatabase().GetServerType();
    int inIndex = 0;
    int outIndex = 0;
    outputBound_ = false;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        const bool input = p.ParamType() == ptInput;
        TIntSqlda& da = input ? *in_ : *out_;
        int& index = input ? inIndex : outIndex;
        rtl::Assert(index < da.Sqln(), "TICustomIntCommand.BindParamsBuffer: parameter '%s' has no descriptor entry",
                    p.Name());
        TSQLVAR var;
        var.Assign(da, index);
        const int32_t type = NativeDataType(p.DataType());
        if (type == 0) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        const int32_t size = ParamDataSize(p);
        var.SetSqlType(int16_t(type));
        var.SetSqlLen(int16_t(std::min<int32_t>(size, INT16_MAX)));
        var.SetSqlInd(reinterpret_cast<ISC_SHORT*>(cell));
        const bool blobKept = IsBlobFieldType(server, p.DataType());
        if (input)
            BindInputParam(p, var, cell, blobIdCell);
        else
            BindOutputParam(p, var, cell, blobIdCell);
        if (blobKept) blobIdCell += kBlobIdSize;
        if (!input) outputBound_ = true;
        var.Store(da, index);
        ++index;
        cell += size + kCellHeaderSize;
    }
}

void TICustomIntCommand::BindOutputParam(TParam& param, TSQLVAR& var, uint8_t* cell, uint8_t* blobIdCell) {
    TICustomIntDatabase& db = IntDatabase();
    const int32_t size = ParamDataSize(param);
    uint8_t* value = cell + kCellHeaderSize;
    int16_t native = var.SqlType();
    // The outputs report NULL through their indicators: nullable, whatever was described.
    if (native == kBoolean) native = db.BooleanSqlType();
    var.SetSqlType(int16_t(native | 1));
    switch (native) {
        case kBlob:
            var.SetSqlLen(kBlobIdSize);
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(blobIdCell));
            SetCellHeader(cell, 0, 0, 0);
            return;
        case kVarying:
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value - 2));
            SetCellHeader(cell, 0, 0, 0);
            break;
        case kText:
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
            SetCellHeader(cell, 0, 0, int32_t(uint32_t(uint16_t(var.SqlLen())) << 16));
            break;
        case SQL_BOOLEAN:
            var.SetSqlLen(1);
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
            SetCellHeader(cell, 0, 0, 1);
            break;
        case kInt64:
            // Exact numerics arrive as units of 1/10000, the currency's scale.
            if (param.DataType() == ftBCD) var.SetSqlScale(-4);
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
            SetCellHeader(cell, 0, 0, var.SqlLen());
            break;
        default:
            var.SetSqlScale(0);
            var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
            SetCellHeader(cell, 0, 0, var.SqlLen());
            break;
    }
    if (native != kInt64) var.SetSqlScale(0);
    rtl::Assert(size >= var.SqlLen(), "TICustomIntCommand.BindParamsBuffer: parameter '%s' holds %d of %d bytes",
                param.Name(), size, int32_t(var.SqlLen()));
}
