// database/oracle/SDOra8Command.cpp: the Oracle driver's OCI 8 command, its statement side (unit
// SDOra): preparing statements and procedure calls, binding parameters by name, executing,
// sending long values at execution, LOB locators returned by data-modifying statements,
// output parameters and the description of stored procedures.
//
// States: created -> prepared (statement handle, prepared text) -> parameters bound ->
// executed (a result set open on the statement or on a cursor a parameter returned) ->
// parameters released (bind buffers, temporary LOBs and timestamp descriptors live for one
// execution). The cursor statement lives from the output of a cursor parameter until
// CloseResultSet, the end of its rows, or a release of the parameters without cursor result.
#include <algorithm>
#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/oracle/SDOra.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace ociapi;

namespace {

constexpr sb4 kPointerSize = sb4(sizeof(void*));
constexpr sb4 kAtExecutionSize = 2147483647;
// The indicator a NULL value is sent with from the in-bind call-back.
sb2 gNullIndicator = -1;

OraText* Text(const std::string& s) {
    return reinterpret_cast<OraText*>(const_cast<char*>(s.c_str()));
}

bool IsRoutineOutput(TParamType t) {
    return t == ptOutput || t == ptInputOutput || t == ptResult;
}

// The RETURNING test: the first "RETURNING" of the upper-cased text counts when a separator
// follows it or else precedes it. Line breaks and tabs separate words as blanks do, so a
// clause that starts a line is found too.
bool IsReturningSeparator(char c) {
    return c == ' ' || c == 16 || c == 19 || c == '\n' || c == '\r' || c == '\t';
}

bool HasReturningClause(const std::string& text) {
    const std::string upper = rtl::UpperCase(text);
    const size_t p = upper.find("RETURNING");
    if (p == std::string::npos) return false;
    const size_t after = p + 9;
    if (after < upper.size() && IsReturningSeparator(upper[after])) return true;
    return p > 0 && IsReturningSeparator(upper[p - 1]);
}

sb4 InBindCallback(void*, OCIBind*, ub4, ub4, void** bufpp, ub4* alenp, ub1* piecep, void** indpp) {
    // The statement's empty_blob() / empty_clob() supplies the column's value.
    *bufpp = nullptr;
    *alenp = 0;
    *indpp = &gNullIndicator;
    *piecep = OCI_ONE_PIECE;
    return OCI_CONTINUE;
}

sb4 OutBindCallback(void* octxp, OCIBind* bindp, ub4, ub4 index, void** bufpp, ub4** alenpp, ub1* piecep,
                    void**, ub2**) {
    auto* lobs = static_cast<TIOra8LobParams*>(octxp);
    // Nothing may leave a call-back the client called: a failure is kept for the command.
    try {
        if (index == 0) {
            ub4 rows = 0;
            CheckOci8(Oci8().OCIAttrGet(bindp, OCI_HTYPE_BIND, &rows, nullptr, OCI_ATTR_ROWS_RETURNED,
                                        lobs->ErrHandle()),
                      lobs->ErrHandle());
            lobs->Resize(int32_t(rows), lobs->LobCount());
        }
        const int32_t lob = lobs->FindLob(bindp);
        rtl::Assert(lob >= 0, "TIOra8Command: unknown LOB bind in the out-bind call-back");
        rtl::Assert(int32_t(index) < lobs->RowCount(), "TIOra8Command: returned row %d beyond %d",
                    int64_t(index), lobs->RowCount());
        *bufpp = *lobs->LocatorPlace(int32_t(index), lob);
        *alenpp = lobs->LengthPlace(int32_t(index), lob);
        *piecep = OCI_ONE_PIECE;
        return OCI_CONTINUE;
    } catch (const std::exception& e) {
        lobs->CallbackError = e.what();
        return OCI_ERROR;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// LOB returns

TIOra8LobParams::~TIOra8LobParams() {
    FreeLocators();
}

void TIOra8LobParams::FreeLocators() {
    for (OCILobLocator*& locator : locators_) {
        if (locator != nullptr) Oci8().OCIDescriptorFree(locator, OCI_DTYPE_LOB);
        locator = nullptr;
    }
    locators_.clear();
    lengths_.clear();
}

void TIOra8LobParams::Resize(int32_t rows, int32_t lobs) {
    if (rows == 0 && lobs == 0) {
        FreeLocators();
        info_.clear();
        rowCount_ = lobCount_ = 0;
        return;
    }
    rtl::Assert(lobs == 0 || lobs == lobCount_ || lobCount_ == 0, "TIOra8LobParams: LOB count %d after %d",
                lobs, lobCount_);
    rtl::Assert(rows == 0 || rows == rowCount_ || rowCount_ == 0, "TIOra8LobParams: row count %d after %d",
                rows, rowCount_);
    const bool lobsChanged = lobs != lobCount_;
    const bool rowsChanged = rows != rowCount_;
    if (lobsChanged) info_.assign(size_t(lobs), Info());
    lobCount_ = lobs;
    rowCount_ = rows;
    if (rows > 0 && lobs > 0 && (lobsChanged || rowsChanged)) {
        FreeLocators();
        locators_.assign(size_t(rows) * size_t(lobs), nullptr);
        lengths_.assign(locators_.size(), ub4(sizeof(void*)));
        for (OCILobLocator*& locator : locators_) {
            void* allocated = nullptr;
            CheckOci8(Oci8().OCIDescriptorAlloc(env_, &allocated, OCI_DTYPE_LOB, 0, nullptr), err_);
            locator = allocated;
        }
    }
}

void TIOra8LobParams::SetInfo(int32_t lob, OCIBind* bind, int32_t paramIndex) {
    rtl::Assert(lob >= 0 && lob < lobCount_, "TIOra8LobParams: LOB %d outside 0..%d", lob, lobCount_ - 1);
    info_[size_t(lob)] = Info{bind, paramIndex};
}

int32_t TIOra8LobParams::FindLob(const OCIBind* bind) const {
    for (size_t i = 0; i < info_.size(); ++i)
        if (info_[i].Bind == bind) return int32_t(i);
    return -1;
}

OCILobLocator** TIOra8LobParams::LocatorPlace(int32_t row, int32_t lob) {
    rtl::Assert(row >= 0 && row < rowCount_ && lob >= 0 && lob < lobCount_,
                "TIOra8LobParams: (%d, %d) outside", row, lob);
    return &locators_[size_t(row) * size_t(lobCount_) + size_t(lob)];
}

ub4* TIOra8LobParams::LengthPlace(int32_t row, int32_t lob) {
    rtl::Assert(row >= 0 && row < rowCount_ && lob >= 0 && lob < lobCount_,
                "TIOra8LobParams: (%d, %d) outside", row, lob);
    return &lengths_[size_t(row) * size_t(lobCount_) + size_t(lob)];
}

// ---------------------------------------------------------------------------------------------
// Construction and small overrides

TIOra8Command::TIOra8Command(TIOra8Database* database, rtl::Component* owner)
    : TIOraCustomCommand(database, owner), oraDatabase_(database) {}

TIOra8Command::~TIOra8Command() {
    try {
        Disconnect(false);
    } catch (const std::exception&) {
        // Nobody is left to report to while the command goes away.
    }
}

int32_t TIOra8Command::NativeDataType(TFieldType fieldType) {
    if (fieldType == ftCursor) return SQLT_RSET;
    if (fieldType == ftDateTime && Db().DateTimeDescriptorsUsable()) return SQLT_TIMESTAMP;
    return OraNativeDataType(fieldType);
}

uint16_t TIOra8Command::NativeDataSize(TFieldType fieldType) {
    if (fieldType == ftCursor) return uint16_t(kPointerSize);
    if (fieldType == ftDateTime && Db().DateTimeDescriptorsUsable()) return uint16_t(kPointerSize);
    return OraNativeDataSize(fieldType);
}

bool TIOra8Command::RequiredCnvtFieldType(TFieldType fieldType) {
    return Db().IsLobType(fieldType) || OraRequiresConversion(fieldType);
}

ub2 TIOra8Command::StatementType() {
    if (stmt_ == nullptr) return 0;
    ub2 type = 0;
    Check(Fn().OCIAttrGet(stmt_, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, Db().ErrHandle()),
          stmt_);
    return type;
}

ub4 TIOra8Command::AutoCommitMode() const {
    return Db().AutoCommit && !Db().InTransaction ? OCI_COMMIT_ON_SUCCESS : OCI_DEFAULT;
}

void TIOra8Command::AllocStatement() {
    void* handle = nullptr;
    Check(Fn().OCIHandleAlloc(Db().EnvHandle(), &handle, OCI_HTYPE_STMT, 0, nullptr));
    stmt_ = handle;
}

void TIOra8Command::FreeStatement(OCIStmt*& stmt) {
    if (stmt == nullptr) return;
    OCIStmt* handle = stmt;
    stmt = nullptr;
    Check(Fn().OCIHandleFree(handle, OCI_HTYPE_STMT));
}

int32_t TIOra8Command::GetRowsAffected() {
    if (stmt_ == nullptr || StatementType() == OCI_STMT_SELECT) return -1;
    ub4 rows = 0;
    Check(Fn().OCIAttrGet(stmt_, OCI_HTYPE_STMT, &rows, nullptr, OCI_ATTR_ROW_COUNT, Db().ErrHandle()),
          stmt_);
    return int32_t(rows);
}

bool TIOra8Command::ResultSetExists() {
    if (StatementType() == OCI_STMT_SELECT) return true;
    return HasCursorParam() || cursorResult_;
}

void TIOra8Command::Cancel() {
    Check(Fn().OCIBreak(Db().SvcHandle(), Db().ErrHandle()));
}

void TIOra8Command::Disconnect(bool) {
    if (stmt_ == nullptr && cursorStmt_ == nullptr) return;
    lobReturns_.reset();
    FreeFieldsBuffer();
    FreeStatement(cursorStmt_);
    FreeStatement(stmt_);
}

int32_t TIOra8Command::WriteBlob(int32_t, const uint8_t*, int32_t) {
    NotImplemented("TIOra8Command.WriteBlob");
}

// ---------------------------------------------------------------------------------------------
// Prepare

void TIOra8Command::PrepareText(const std::string& text) {
    Check(Fn().OCIStmtPrepare(stmt_, Db().ErrHandle(), Text(text), ub4(text.size()), OCI_NTV_SYNTAX,
                              OCI_DEFAULT),
          stmt_);
}

void TIOra8Command::DoPrepare(const std::string& sql) {
    if (stmt_ == nullptr) AllocStatement();
    if (CommandType == 2) {
        if (Params != nullptr && Params->Count() == 0) InitParamList();
        const std::string call = BuildOraProcCall(sql, Params);
        PrepareText(call);
        SetPreparedText(call);
        return;
    }
    if (CommandType != 0) rtl::DatabaseError("Capability not supported");
    std::string text = PrepareOraSqlText(sql, Params);
    PrepareText(text);
    if (Params != nullptr && Params->Count() > 0 && !Db().TemporaryLobsUsable()) {
        bool hasLob = false;
        for (int i = 0; i < Params->Count(); ++i)
            hasLob = hasLob || Db().IsLobType((*Params)[i].DataType());
        const ub2 type = hasLob ? StatementType() : 0;
        if (hasLob && (type == OCI_STMT_INSERT || type == OCI_STMT_UPDATE) && !HasReturningClause(text)) {
            // Below version 9 a LOB cannot be sent as a value: the statement stores an empty
            // LOB and returns its locator, into which the value is written afterwards.
            std::string names;
            std::string holders;
            for (int i = 0; i < Params->Count(); ++i) {
                const TParam& p = (*Params)[i];
                if (!Db().IsLobType(p.DataType())) continue;
                const std::string holder = ":" + rtl::IntToStr(i + 1);
                std::string replaced = text;
                if (!ReplaceParamMarker(
                        true, holder,
                        NativeDataType(p.DataType()) == SQLT_BLOB ? "empty_blob()" : "empty_clob()",
                        replaced))
                    continue;
                text = replaced;
                names += (names.empty() ? "" : ", ") + p.Name();
                holders += (holders.empty() ? "" : ", ") + holder;
            }
            if (!names.empty()) {
                text += rtl::Format(" returning %s into %s", names, holders);
                PrepareText(text);
            }
        }
    }
    SetPreparedText(text);
}

// ---------------------------------------------------------------------------------------------
// Binds

void TIOra8Command::ConstructDateTime(OCIDateTime* descriptor, TFieldType fieldType, rtl::TDateTime value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (fieldType == ftDate || fieldType == ftDateTime) rtl::DecodeDate(value, year, month, day);
    if (fieldType == ftTime || fieldType == ftDateTime) rtl::DecodeTime(value, hour, minute, second, ms);
    const std::string& zone = Db().SessionTimeZone();
    Check(Fn().OCIDateTimeConstruct(Db().EnvHandle(), Db().ErrHandle(), descriptor, sb2(year), ub1(month),
                                    ub1(day), ub1(hour), ub1(minute), ub1(second), ub4(ms) * 1000000u,
                                    Text(zone), zone.size()));
}

void TIOra8Command::WriteLob(OCILobLocator* locator, const void* data, ub4 length) {
    if (length == 0) return;
    ub4 amount = length;
    Check(Fn().OCILobWrite(Db().SvcHandle(), Db().ErrHandle(), locator, &amount, 1, const_cast<void*>(data),
                           length, OCI_ONE_PIECE, nullptr, nullptr, 0, SQLCS_IMPLICIT));
}

void TIOra8Command::BindParams(bool procedure) {
    if (!ParamsBuffer || paramsBound_ || Params == nullptr) return;
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    std::vector<std::pair<OCIBind*, int>> noted;
    pieceParams_.clear();
    int32_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        const int32_t cellSize = ParamCellSize(p);
        rtl::Assert(offset + cellSize <= int32_t(ParamsBuffer->Size()),
                    "TIOra8Command: parameter cell outside");
        uint8_t* cell = ParamsBuffer->Data() + offset;
        uint8_t* value = cell + kCellHeaderSize;
        const bool isNull = p.IsNull();
        SetCellHeader(cell, 0, isNull ? -1 : 0, 0);
        if (p.DataType() == ftFixedChar) p.SetDataType(ftString);
        const TFieldType type = p.DataType();
        const int32_t size = ParamDataSize(p);
        const std::string holder = procedure ? ":" + p.Name() : rtl::IntToStr(i + 1);
        if (size >= 1 && !(type == ftDateTime && db.DateTimeDescriptorsUsable()) &&
            !FillOraParamValue(p, value, size, procedure)) {
            switch (type) {
                case ftCursor:
                    if (cursorStmt_ == nullptr) {
                        SetCellHeader(cell, 0, 0, 0);
                        void* handle = nullptr;
                        Check(f.OCIHandleAlloc(db.EnvHandle(), &handle, OCI_HTYPE_STMT, 0, nullptr));
                        SetBufferPointer(value, 0, handle);
                    }
                    break;
                case ftBlob:
                case ftMemo:
                case ftOraBlob:
                case ftOraClob:
                    break;
                default:
                    rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
            }
        } else if (size >= 1 && type == ftDateTime && db.DateTimeDescriptorsUsable()) {
            void* descriptor = nullptr;
            Check(f.OCIDescriptorAlloc(db.EnvHandle(), &descriptor, OCI_DTYPE_TIMESTAMP, 0, nullptr));
            SetBufferPointer(value, 0, descriptor);
            if (!isNull) ConstructDateTime(descriptor, type, p.Value().AsDateTime());
        }
        OCIBind* bind = nullptr;
        const ub2 native = ub2(NativeDataType(type));
        auto bindOn = [&](void* place, sb4 placeSize, void* indicator, ub4 mode) {
            Check(f.OCIBindByName(stmt_, &bind, db.ErrHandle(), Text(holder), sb4(holder.size()), place,
                                  placeSize, native, indicator, nullptr, nullptr, 0, nullptr, mode),
                  stmt_);
        };
        if (IsBlobFieldType(stOracle, type)) {
            if (db.IsLobType(type) && procedure) {
                void* locator = nullptr;
                Check(f.OCIDescriptorAlloc(db.EnvHandle(), &locator, OCI_DTYPE_LOB, 0, nullptr));
                SetBufferPointer(value, 0, locator);
                const std::string bytes = OraParamBytes(p);
                if (p.ParamType() == ptInput && db.TemporaryLobsUsable() && !isNull) {
                    // An input LOB reaches the procedure as a temporary LOB holding the value;
                    // an empty LOB would lose it.
                    Check(f.OCILobCreateTemporary(db.SvcHandle(), db.ErrHandle(), locator, 0, 0,
                                                  type == ftOraBlob ? OCI_TEMP_BLOB : OCI_TEMP_CLOB, 0,
                                                  OCI_DURATION_SESSION));
                    WriteLob(locator, bytes.data(), ub4(bytes.size()));
                } else if (p.ParamType() == ptInput || p.ParamType() == ptInputOutput) {
                    ub4 empty = 0;
                    Check(f.OCIAttrSet(locator, OCI_DTYPE_LOB, &empty, sizeof empty, OCI_ATTR_LOBEMPTY,
                                       db.ErrHandle()));
                }
                bindOn(value, kPointerSize, cell, OCI_DEFAULT);
            } else if (db.IsLobType(type) && db.TemporaryLobsUsable()) {
                void* locator = nullptr;
                Check(f.OCIDescriptorAlloc(db.EnvHandle(), &locator, OCI_DTYPE_LOB, 0, nullptr));
                SetBufferPointer(value, 0, locator);
                Check(f.OCILobCreateTemporary(db.SvcHandle(), db.ErrHandle(), locator, 0, 0,
                                              type == ftOraBlob ? OCI_TEMP_BLOB : OCI_TEMP_CLOB, 0,
                                              OCI_DURATION_SESSION));
                const std::string bytes = OraParamBytes(p);
                WriteLob(locator, bytes.data(), ub4(std::min<size_t>(bytes.size(), size_t(OraParamSize(p)))));
                bindOn(value, kPointerSize, cell, OCI_DEFAULT);
            } else if (db.IsLobType(type)) {
                if (!lobReturns_)
                    lobReturns_ = std::make_unique<TIOra8LobParams>(db.EnvHandle(), db.ErrHandle());
                bindOn(nullptr, kPointerSize, nullptr, OCI_DATA_AT_EXEC);
                Check(f.OCIBindDynamic(bind, db.ErrHandle(), lobReturns_.get(), InBindCallback,
                                       lobReturns_.get(), OutBindCallback),
                      stmt_);
                noted.emplace_back(bind, i);
            } else if (procedure) {
                bindOn(nullptr, kAtExecutionSize, nullptr, OCI_DATA_AT_EXEC);
                pieceParams_.push_back(i);
            } else {
                // The value's text lives in the command's buffer list until the next binding.
                const char* text = isNull ? nullptr : BufferList.AllocString(OraParamBytes(p));
                bindOn(const_cast<char*>(text), isNull ? 0 : OraParamSize(p), cell, OCI_DEFAULT);
            }
        } else {
            bindOn(value, size, cell, OCI_DEFAULT);
        }
        offset += cellSize;
    }
    if (lobReturns_ && !noted.empty()) {
        lobReturns_->Resize(0, int32_t(noted.size()));
        for (size_t k = 0; k < noted.size(); ++k)
            lobReturns_->SetInfo(int32_t(k), noted[k].first, noted[k].second);
    }
}

void TIOra8Command::FreeParamsBuffer() {
    if (!cursorResult_) {
        paramsBound_ = false;
        FreeStatement(cursorStmt_);
    }
    lobReturns_.reset();
    pieceParams_.clear();
    if ((CommandType == 0 || CommandType == 2) && ParamsBuffer && Params != nullptr) {
        int32_t offset = 0;
        for (int i = 0; i < Params->Count(); ++i) {
            const TParam& p = (*Params)[i];
            uint8_t* value = ParamsBuffer->Data() + offset + kCellHeaderSize;
            const int32_t cellSize = ParamCellSize(p);
            if (offset + cellSize > int32_t(ParamsBuffer->Size())) break;
            const bool lob = Db().IsLobType(p.DataType());
            const bool stamp = p.DataType() == ftDateTime && Db().DateTimeDescriptorsUsable();
            if (lob || stamp) {
                void* descriptor = GetBufferPointer(value, 0);
                if (descriptor != nullptr) {
                    SetBufferPointer(value, 0, nullptr);
                    Check(Fn().OCIDescriptorFree(descriptor, lob ? OCI_DTYPE_LOB : OCI_DTYPE_TIMESTAMP));
                }
            }
            offset += cellSize;
        }
    }
    BufferList.Clear();
    TISqlCommand::FreeParamsBuffer();
}

// ---------------------------------------------------------------------------------------------
// Execution

void TIOra8Command::RaiseCallbackFailures() {
    if (lobReturns_ && !lobReturns_->CallbackError.empty()) {
        const std::string message = lobReturns_->CallbackError;
        lobReturns_->CallbackError.clear();
        throw rtl::EDatabaseError(message);
    }
}

void TIOra8Command::ExecuteCore() {
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    const ub2 type = StatementType();
    if (type == OCI_STMT_SELECT) {
        ub4 prefetch = ub4(std::max<int32_t>(3, db.PrefetchRows));
        Check(f.OCIAttrSet(stmt_, OCI_HTYPE_STMT, &prefetch, sizeof prefetch, OCI_ATTR_PREFETCH_ROWS,
                           db.ErrHandle()),
              stmt_);
    }
    // Values written through returned locators belong to the statement's transaction: such a
    // statement commits after its LOBs are written, not when it executes, since a locator
    // does not outlive the transaction that returned it.
    const ub4 commitMode = AutoCommitMode();
    const bool writesLobsAfter = lobReturns_ != nullptr;
    sword status = f.OCIStmtExecute(db.SvcHandle(), stmt_, db.ErrHandle(), type == OCI_STMT_SELECT ? 0 : 1, 0,
                                    nullptr, nullptr, writesLobsAfter ? OCI_DEFAULT : commitMode);
    RaiseCallbackFailures();
    if (status == OCI_NEED_DATA)
        SendPieces(status);
    else
        Check(status, stmt_);
    if (writesLobsAfter) {
        WriteReturnedLobs();
        lobReturns_.reset();
        if (commitMode == OCI_COMMIT_ON_SUCCESS)
            Check(f.OCITransCommit(db.SvcHandle(), db.ErrHandle(), OCI_DEFAULT));
    }
    if (type == OCI_STMT_BEGIN || type == OCI_STMT_DECLARE) ReadOutputParams();
}

void TIOra8Command::SendPieces(sword& status) {
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    // The execution that finally runs the statement carries its commit mode, or a statement
    // whose values were sent at execution would stay uncommitted under auto-commit.
    const ub4 commitMode = AutoCommitMode();
    // Each request names the bind it wants; the values go in the order they were bound.
    for (size_t k = 0; k < pieceParams_.size() && status == OCI_NEED_DATA; ++k) {
        const TParam& p = (*Params)[pieceParams_[k]];
        void* handle = nullptr;
        ub4 handleType = 0, iteration = 0, index = 0;
        ub1 inOut = 0, piece = 0;
        Check(f.OCIStmtGetPieceInfo(stmt_, db.ErrHandle(), &handle, &handleType, &inOut, &iteration, &index,
                                    &piece),
              stmt_);
        const std::string bytes = OraParamBytes(p);
        ub4 length = ub4(bytes.size());
        Check(
            f.OCIStmtSetPieceInfo(handle, handleType, db.ErrHandle(), bytes.empty() ? nullptr : bytes.data(),
                                  &length, OCI_LAST_PIECE, nullptr, nullptr),
            stmt_);
        status = f.OCIStmtExecute(db.SvcHandle(), stmt_, db.ErrHandle(), 1, 0, nullptr, nullptr, commitMode);
        if (status != OCI_NEED_DATA) Check(status, stmt_);
    }
    if (status == OCI_NEED_DATA) Check(status, stmt_);
}

void TIOra8Command::WriteReturnedLobs() {
    TIOra8LobParams& lobs = *lobReturns_;
    for (int32_t row = 0; row < lobs.RowCount(); ++row)
        for (int32_t lob = 0; lob < lobs.LobCount(); ++lob) {
            const TParam& p = (*Params)[lobs.InfoParam(lob)];
            const std::string bytes = OraParamBytes(p);
            if (!bytes.empty()) WriteLob(*lobs.LocatorPlace(row, lob), bytes.data(), ub4(bytes.size()));
        }
}

void TIOra8Command::ReadOutputParams() {
    if (!ParamsBuffer || Params == nullptr) return;
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    // Room for the longest text and its own terminator, a packed decimal or a date record.
    std::vector<uint8_t> scratch(size_t(std::max(db.MaxCharParamLength(), 0)) + 1 + 64, 0);
    const int32_t scratchSize = int32_t(scratch.size());
    int32_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        const int32_t cellSize = ParamCellSize(p);
        uint8_t* cell = ParamsBuffer->Data() + offset;
        offset += cellSize;
        int32_t indicator32 = 0, length = 0;
        GetCellHeader(cell, 0, indicator32, length);
        if (length == 0) {
            length = ParamDataSize(p);
            SetCellHeader(cell, 0, indicator32, length);
        }
        if (!IsRoutineOutput(p.ParamType())) continue;
        int16_t indicator = 0;
        std::memcpy(&indicator, cell, sizeof indicator);
        uint8_t* value = cell + kCellHeaderSize;
        const TFieldType type = p.DataType();
        if (type == ftCursor) {
            if (cursorStmt_ == nullptr) {
                cursorStmt_ = GetBufferPointer(value, 0);
                SetBufferPointer(value, 0, nullptr);
            }
            continue;
        }
        if (db.IsLobType(type)) {
            OCILobLocator* locator = GetBufferPointer(value, 0);
            if (indicator != 0 || locator == nullptr) {
                p.Clear();
                continue;
            }
            const std::string current = OraParamBytes(p);
            if (p.ParamType() == ptInputOutput && !current.empty()) {
                WriteLob(locator, current.data(), ub4(current.size()));
                continue;
            }
            ub4 lobLength = 0;
            Check(f.OCILobGetLength(db.SvcHandle(), db.ErrHandle(), locator, &lobLength));
            rtl::ByteArray bytes(lobLength);
            if (lobLength > 0) {
                ub4 amount = lobLength;
                Check(f.OCILobRead(db.SvcHandle(), db.ErrHandle(), locator, &amount, 1, bytes.data(),
                                   lobLength, nullptr, nullptr, 0, SQLCS_IMPLICIT));
                bytes.resize(std::min<size_t>(amount, lobLength));
            }
            if (bytes.empty())
                p.Clear();
            else
                p.SetValue(rtl::Variant::FromBytes(std::move(bytes)));
            continue;
        }
        if (type == ftDateTime && db.DateTimeDescriptorsUsable()) {
            if (indicator == -1) {
                p.Clear();
                continue;
            }
            TSDDateTimeRec rec;
            if (!ExtractDateTime(GetBufferPointer(value, 0), SQLT_TIMESTAMP, type, rec)) {
                p.Clear();
                continue;
            }
            p.SetValue(rtl::Variant::FromDateTime(DateTimeRecToDateTime(type, rec)));
            continue;
        }
        std::fill(scratch.begin(), scratch.end(), 0);
        if (!OraCnvtFieldData(type, cell, scratch.data(), db.RTrimCharOutput, scratchSize)) {
            p.Clear();
            continue;
        }
        SetOraParamValue(p, scratch.data());
    }
}

// ---------------------------------------------------------------------------------------------
// Procedure description

void TIOra8Command::InitParamList() {
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    OCIError* err = db.ErrHandle();
    const std::string name = CommandText;
    std::string package;
    std::string procedure = name;
    if (std::count(name.begin(), name.end(), '.') >= 2) {
        const size_t dot = name.rfind('.');
        package = name.substr(0, dot);
        procedure = name.substr(dot + 1);
    }
    void* describe = nullptr;
    Check(f.OCIHandleAlloc(db.EnvHandle(), &describe, OCI_HTYPE_DESCRIBE, 0, nullptr));
    struct FreeDescribe {
        void* handle;
        ~FreeDescribe() { Oci8().OCIHandleFree(handle, OCI_HTYPE_DESCRIBE); }
    } freeDescribe{describe};
    auto describeAs = [&](const std::string& text, ub1 type) {
        return f.OCIDescribeAny(db.SvcHandle(), err, Text(text), ub4(text.size()), OCI_OTYPE_NAME, 0, type,
                                describe);
    };
    auto top = [&] {
        void* param = nullptr;
        Check(f.OCIAttrGet(describe, OCI_HTYPE_DESCRIBE, &param, nullptr, OCI_ATTR_PARAM, err));
        return param;
    };
    auto textAttr = [&](void* param, ub4 attribute) {
        OraText* text = nullptr;
        ub4 length = 0;
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &text, &length, attribute, err));
        return text != nullptr ? std::string(reinterpret_cast<const char*>(text), length) : std::string();
    };
    bool function = false;
    void* routine = nullptr;
    if (!package.empty()) {
        Check(describeAs(package, OCI_PTYPE_PKG));
        void* list = nullptr;
        Check(f.OCIAttrGet(top(), OCI_DTYPE_PARAM, &list, nullptr, OCI_ATTR_LIST_SUBPROGRAMS, err));
        ub2 count = 0;
        Check(f.OCIAttrGet(list, OCI_DTYPE_PARAM, &count, nullptr, OCI_ATTR_NUM_PARAMS, err));
        ub1 kind = 0;
        for (ub2 i = 0; i < count && routine == nullptr; ++i) {
            void* sub = nullptr;
            Check(f.OCIParamGet(list, OCI_DTYPE_PARAM, err, &sub, i));
            Check(f.OCIAttrGet(sub, OCI_DTYPE_PARAM, &kind, nullptr, OCI_ATTR_PTYPE, err));
            if (rtl::SameText(textAttr(sub, OCI_ATTR_NAME), procedure)) {
                routine = sub;
                function = kind == OCI_PTYPE_FUNC;
            }
        }
        if (routine == nullptr) {
            Check(describeAs(name, OCI_PTYPE_FUNC));
            function = kind == OCI_PTYPE_FUNC;
            routine = top();
        }
    } else {
        const sword status = describeAs(name, OCI_PTYPE_PROC);
        if (status == OCI_ERROR) {
            Check(describeAs(name, OCI_PTYPE_FUNC));
            function = true;
        } else {
            Check(status);
        }
        routine = top();
    }
    void* arguments = nullptr;
    Check(f.OCIAttrGet(routine, OCI_DTYPE_PARAM, &arguments, nullptr, OCI_ATTR_LIST_ARGUMENTS, err));
    ub2 count = 0;
    Check(f.OCIAttrGet(arguments, OCI_DTYPE_PARAM, &count, nullptr, OCI_ATTR_NUM_PARAMS, err));
    const ub4 first = function ? 0 : 1;
    const ub4 last = function ? ub4(count) : ub4(count) + 1;
    for (ub4 position = first; position < last; ++position) {
        void* arg = nullptr;
        Check(f.OCIParamGet(arguments, OCI_DTYPE_PARAM, err, &arg, position));
        std::string argName = textAttr(arg, OCI_ATTR_NAME);
        const bool unnamed = argName.empty();
        if (unnamed) argName = "Result";
        ub2 dataType = 0;
        ub4 mode = 0;
        ub1 precision = 0;
        sb1 scale = 0;
        Check(f.OCIAttrGet(arg, OCI_DTYPE_PARAM, &dataType, nullptr, OCI_ATTR_DATA_TYPE, err));
        Check(f.OCIAttrGet(arg, OCI_DTYPE_PARAM, &mode, nullptr, OCI_ATTR_IOMODE, err));
        Check(f.OCIAttrGet(arg, OCI_DTYPE_PARAM, &precision, nullptr, OCI_ATTR_PRECISION, err));
        Check(f.OCIAttrGet(arg, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, err));
        TFieldType type = FieldDataType(dataType);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", argName);
        type = OraNumberFieldType(type, precision, scale, db.EnableBCD, db.EnableIntegers());
        TParamType paramType;
        switch (mode) {
            case 0:
                paramType = ptInput;
                break;
            case 1:
                paramType = unnamed ? ptResult : ptOutput;
                break;
            case 2:
                paramType = ptInputOutput;
                break;
            default:
                rtl::DatabaseErrorFmt("Unknown parameter type for parameter '%s'", argName);
        }
        AddParam(argName, type, paramType);
    }
    paramsBound_ = false;
}
