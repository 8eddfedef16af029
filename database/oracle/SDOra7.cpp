// database/oracle/SDOra7.cpp: the Oracle driver on the OCI 7 calls (unit SDOra): TIOraDatabase and
// TIOraCommand, for client libraries older than version 8 or "FORCE OCI7".
//
// A connection owns a logon data area, a host data area and a cursor of its own (the
// isolation statements run there); each command owns one cursor data area from its first
// prepare until Disconnect. The client fills the areas; the driver reads only the fields
// named in SDOraApi.h. A cursor that a cursor parameter returns is copied out of the
// parameter's cell into the command, since the parameter buffer is released after each
// execution while the cursor's rows are still being read.
//
// Failures: every error passes through the connection's HandleError, so a lost connection
// (3113, 12571) reaches the engine's handling whether a connection or a command call met it.
#include <algorithm>
#include <cstring>

#include "database/oracle/SDOra.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace ociapi;

namespace {

constexpr sb4 kAtExecutionSize = 2147483647;
constexpr int kDescribeEntries = 50;
constexpr int kArgumentNameSize = 30;

bool Flag(const rtl::StringList& params, const char* name) {
    return rtl::UpperCase(rtl::Trim(params.Values(name))) == STrueString;
}

OraText* Text(const std::string& s) {
    return reinterpret_cast<OraText*>(const_cast<char*>(s.c_str()));
}

int32_t AreaCode(const uint8_t* area) {
    return area != nullptr ? GetBufferWord(area, kCdaReturnCode) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connection

TIOraDatabase::TIOraDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stOracle) {
    enableIntegers_ = Flag(Params, "ENABLE INTEGERS");
}

TIOraDatabase::~TIOraDatabase() {
    if (!handle_) ReleaseLibraryLoad();
}

void TIOraDatabase::ReleaseLibraryLoad() {
    if (!holdsLoad_) return;
    holdsLoad_ = false;
    UnloadOciLibrary();
}

void TIOraDatabase::FreeAreas() {
    handle_.reset();
    areas_.clear();
    ownsAreas_ = false;
}

int32_t TIOraDatabase::MaxCharParamLength() const {
    int32_t value = 0;
    return rtl::TryStrToInt(rtl::Trim(Params.Values("MAXCHARPARAMLEN")), value) ? value : 255;
}

void TIOraDatabase::CheckLda(sword status) {
    MarkActivity();
    if (status == 0) return;
    EndWaitCursor();
    int32_t code = AreaCode(Lda());
    if (code == 0 && handle_) code = AreaCode(handle_->Cursor);
    // A failing call that left no code still fails.
    if (code == 0) code = status;
    RaiseOci7Error(Lda(), code, -1, this);
}

void TIOraDatabase::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                              const std::string& password) {
    const std::string logon = BuildOraConnectString(remoteDatabase, userName, password);
    if (!holdsLoad_) {
        LoadOciLibrary(true);
        holdsLoad_ = true;
    }
    areas_.assign(size_t(kLdaSize + kHdaSize + kCdaSize), 0);
    ownsAreas_ = true;
    handle_ = std::make_unique<TOra7HandleRec>();
    handle_->Lda = areas_.data();
    handle_->Hda = areas_.data() + kLdaSize;
    handle_->Cursor = areas_.data() + kLdaSize + kHdaSize;
    const TOci7Functions& f = Oci7();
    try {
        CheckLda(f.olog(handle_->Lda, handle_->Hda, Text(logon), -1, nullptr, -1, nullptr, -1, 0));
    } catch (...) {
        FreeAreas();
        ReleaseLibraryLoad();
        throw;
    }
    CheckLda(f.oopen(handle_->Cursor, handle_->Lda, nullptr, -1, -1, nullptr, -1));
    // A new logon commits nothing by itself. Keeping that (AutoCommitDefault), the flag says
    // so, as the ODBC driver reads its connection's setting back; claiming auto-commit while
    // none is on would leave every statement outside a transaction uncommitted unnoticed.
    if (AutoCommitDefault)
        AutoCommit = false;
    else
        SetAutoCommitOption(AutoCommit);
    SetTransIsolation(TransIsolation);
}

void TIOraDatabase::DoDisconnect(bool force) {
    if (!handle_) return;
    const TOci7Functions& f = Oci7();
    struct Release {
        TIOraDatabase& db;
        ~Release() {
            db.FreeAreas();
            db.ReleaseLibraryLoad();
        }
    } release{*this};
    const sword closed = f.oclose(handle_->Cursor);
    if (!force) CheckLda(closed);
    if (InTransaction) f.orol(handle_->Lda);
    const sword loggedOff = f.ologof(handle_->Lda);
    if (!force) CheckLda(loggedOff);
}

void TIOraDatabase::DoCommit() {
    CheckLda(Oci7().ocom(Lda()));
    SetTransIsolation(TransIsolation);
}

void TIOraDatabase::DoRollback() {
    CheckLda(Oci7().orol(Lda()));
    SetTransIsolation(TransIsolation);
}

void TIOraDatabase::SetAutoCommitOption(bool value) {
    CheckLda(value ? Oci7().ocon(Lda()) : Oci7().ocof(Lda()));
}

void TIOraDatabase::SetTransIsolation(TSDTransIsolation value) {
    const std::string statement = OraIsolationStatement(value);
    CheckLda(Oci7().oparse(handle_->Cursor, Text(statement), -1, 1, 2));
    CheckLda(Oci7().oexec(handle_->Cursor));
}

void TIOraDatabase::SetHandle(void* handle) {
    if (handle == nullptr) return;
    if (!holdsLoad_) {
        LoadOciLibrary(true);
        holdsLoad_ = true;
    }
    const auto* given = static_cast<const TOra7HandleRec*>(handle);
    FreeAreas();
    handle_ = std::make_unique<TOra7HandleRec>();
    handle_->Lda = given->Lda;
    handle_->Hda = given->Hda;
    handle_->Cursor = given->Cursor;
}

TISqlCommandPtr TIOraDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIOraCommand>(this, ownerDataSet);
}

int32_t TIOraDatabase::GetClientVersion() {
    return OciClientVersion();
}

void TIOraDatabase::QueryColumnValues(const std::string& sql, rtl::StringList& values) {
    OraQueryColumnValues(*this, sql, values);
}

int32_t TIOraDatabase::GetServerVersion() {
    return OraServerVersion(*this);
}

std::string TIOraDatabase::GetVersionString() {
    return OraVersionString(*this);
}

TISqlCommandPtr TIOraDatabase::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    return OraSchemaCommand(*this, kind, objectName);
}

bool TIOraDatabase::TestConnected() {
    OraExecute(*this, "select 0 from DUAL");
    return true;
}

int32_t TIOraDatabase::ParamValue(int32_t index) {
    if (index >= 13 && index <= 15) return 30;
    if (index == 16 || index == 17) return 61;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Command: construction and small overrides

TIOraCommand::TIOraCommand(TIOraDatabase* database, rtl::Component* owner)
    : TIOraCustomCommand(database, owner), oraDatabase_(database) {}

TIOraCommand::~TIOraCommand() {
    try {
        Disconnect(false);
    } catch (const std::exception&) {
        // Nobody is left to report to while the command goes away.
    }
}

int32_t TIOraCommand::CursorReturnCode(const Cda_Def* cursor) {
    return AreaCode(cursor);
}

void TIOraCommand::CheckCursor(sword status, Cda_Def* cursor) {
    Db().MarkActivity();
    if (status == 0) return;
    Db().EndWaitCursor();
    int32_t code = CursorReturnCode(cursor);
    int32_t position = -1;
    if (code != 0 && cursor != nullptr && GetBufferByte(cursor, kCdaOciFunction) == kOci7ParseFunction)
        position = GetBufferWord(cursor, kCdaParseOffset);
    if (code == 0) code = AreaCode(Db().Lda());
    if (code == 0) code = status;
    RaiseOci7Error(Db().Lda(), code, position, &Db());
}

void* TIOraCommand::GetHandle() {
    if (!paramCursor_.empty()) return paramCursor_.data();
    return cursor_.empty() ? nullptr : cursor_.data();
}

int32_t TIOraCommand::GetRowsAffected() {
    const uint8_t* cursor = static_cast<const uint8_t*>(GetHandle());
    return cursor != nullptr ? GetBufferInteger(cursor, kCdaRowsProcessed) : -1;
}

bool TIOraCommand::ResultSetExists() {
    const uint8_t* cursor = cursor_.empty() ? nullptr : cursor_.data();
    if (cursor != nullptr && GetBufferWord(cursor, kCdaFunctionType) == kCdaQueryFunction) return true;
    if (GetParamCount() == 0) return false;
    if ((CommandType == 0 || CommandType == 2) && HasCursorParam()) return true;
    return cursorResult_;
}

void TIOraCommand::Cancel() {
    Db().CheckLda(Fn().obreak(Db().Lda()));
}

void TIOraCommand::CloseCursorParam(bool check) {
    if (paramCursor_.empty()) return;
    const sword status = Fn().oclose(paramCursor_.data());
    std::vector<uint8_t> closed;
    closed.swap(paramCursor_);
    if (check) CheckCursor(status, closed.data());
}

void TIOraCommand::CloseResultSet() {
    cursorResult_ = false;
    CloseCursorParam(true);
}

void TIOraCommand::Disconnect(bool) {
    if (FieldsBuffer) FreeFieldsBuffer();
    if (!paramCursor_.empty()) CloseCursorParam(false);
    if (!cursor_.empty()) {
        Fn().oclose(cursor_.data());
        cursor_.clear();
    }
}

int32_t TIOraCommand::WriteBlob(int32_t, const uint8_t*, int32_t) {
    NotImplemented("TIOraCommand.WriteBlob");
}

// ---------------------------------------------------------------------------------------------
// Prepare and binds

void TIOraCommand::OpenCursorArea() {
    cursor_.assign(size_t(kCdaSize), 0);
    const sword status = Fn().oopen(cursor_.data(), Db().Lda(), nullptr, -1, -1, nullptr, -1);
    if (status != 0) {
        std::vector<uint8_t> failed;
        failed.swap(cursor_);
        CheckCursor(status, failed.data());
    }
    Db().MarkActivity();
}

void TIOraCommand::DoPrepare(const std::string& sql) {
    if (cursor_.empty()) OpenCursorArea();
    std::string text;
    sword deferred = 0;
    if (CommandType == 2) {
        if (Params != nullptr && Params->Count() == 0) InitParamList();
        text = BuildOraProcCall(sql, Params);
        deferred = 1;
    } else if (CommandType == 0) {
        text = PrepareOraSqlText(sql, Params);
    } else {
        rtl::DatabaseError("Capability not supported");
    }
    CheckCursor(Fn().oparse(cursor_.data(), Text(text), -1, deferred, 2), cursor_.data());
    SetPreparedText(text);
}

void TIOraCommand::BindParams(bool procedure) {
    if (!ParamsBuffer || paramsBound_ || Params == nullptr) return;
    const TOci7Functions& f = Fn();
    const bool piecewise = Oci7PiecewiseAvailable();
    const bool oldClient = OciClientVersion() < MakeVersionNumber(7, 3);
    Cda_Def* cursor = cursor_.data();
    pieceParams_.clear();
    int32_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        const int32_t cellSize = ParamCellSize(p);
        rtl::Assert(offset + cellSize <= int32_t(ParamsBuffer->Size()),
                    "TIOraCommand: parameter cell outside");
        uint8_t* cell = ParamsBuffer->Data() + offset;
        uint8_t* value = cell + kCellHeaderSize;
        offset += cellSize;
        const bool isNull = p.IsNull();
        SetCellHeader(cell, 0, isNull ? -1 : 0, 0);
        if (p.DataType() == ftFixedChar) p.SetDataType(ftString);
        const TFieldType type = p.DataType();
        const int32_t size = ParamDataSize(p);
        if (size >= 1 && !FillOraParamValue(p, value, size, procedure)) {
            switch (type) {
                case ftCursor:
                    SetCellHeader(cell, 0, 0, 0);
                    if (!isNull) {
                        const std::string area = OraParamBytes(p);
                        std::memcpy(value, area.data(), std::min<size_t>(area.size(), size_t(size)));
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
        }
        std::string holder = procedure ? ":" + p.Name() : ":" + rtl::IntToStr(i + 1);
        const sword native = NativeDataType(type);
        auto* indicator = reinterpret_cast<sb2*>(cell);
        sword status = 0;
        const bool blob = IsBlobFieldType(stOracle, type);
        if (blob && procedure && !oldClient) {
            status = f.obindps(cursor, 0, Text(holder), -1, nullptr, kAtExecutionSize, native, -1, nullptr,
                               nullptr, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, 0, 0);
            pieceParams_.push_back(i);
        } else if (blob) {
            // The value's text lives in the command's buffer list until the next binding.
            char* text = BufferList.AllocString(OraParamBytes(p));
            // The value's own length: a blob's cell has no room for it (its data size is 0).
            const sword length = OraParamSize(p);
            status = f.obndra(cursor, Text(holder), -1, reinterpret_cast<ub1*>(text), isNull ? 0 : length,
                              native, -1, indicator, nullptr, nullptr, 0, nullptr, nullptr, -1, -1);
        } else if ((procedure && !oldClient) || (!procedure && piecewise)) {
            status = f.obindps(cursor, 1, Text(holder), -1, value, size, native, -1, indicator, nullptr,
                               nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, 0, 0);
        } else {
            status = f.obndra(cursor, Text(holder), -1, value, size, native, -1, indicator, nullptr, nullptr,
                              0, nullptr, nullptr, -1, -1);
        }
        CheckCursor(status, cursor);
    }
}

void TIOraCommand::FreeParamsBuffer() {
    if (!cursorResult_) {
        paramsBound_ = false;
        CloseCursorParam(false);
    }
    pieceParams_.clear();
    BufferList.Clear();
    TISqlCommand::FreeParamsBuffer();
}

// ---------------------------------------------------------------------------------------------
// Execution

void TIOraCommand::ExecuteCore() {
    const TOci7Functions& f = Fn();
    Cda_Def* cursor = cursor_.data();
    sword status = f.oexec(cursor);
    if (status != 0) status = CursorReturnCode(cursor);
    if (status == kOraNextPieceToInsert && Oci7PiecewiseAvailable()) {
        for (size_t k = 0; k < pieceParams_.size() && status == kOraNextPieceToInsert; ++k) {
            const TParam& p = (*Params)[pieceParams_[k]];
            ub1 piece = 0;
            void* context = nullptr;
            ub4 iteration = 0, index = 0;
            CheckCursor(f.ogetpi(cursor, &piece, &context, &iteration, &index), cursor);
            const std::string bytes = OraParamBytes(p);
            ub4 length = ub4(bytes.size());
            CheckCursor(f.osetpi(cursor, OCI_LAST_PIECE,
                                 bytes.empty() ? nullptr : const_cast<char*>(bytes.data()), &length),
                        cursor);
            status = f.oexec(cursor);
            if (status != 0) status = CursorReturnCode(cursor);
        }
    } else if (status == kOraNextPieceToFetch && CommandType == 2) {
        rtl::DatabaseError("Capability not supported");
    }
    if (status != 0) CheckCursor(status, cursor);
    Db().MarkActivity();
    if (GetBufferWord(cursor, kCdaFunctionType) == kCdaPlsqlFunction) ReadOutputParams();
}

void TIOraCommand::ReadOutputParams() {
    if (!ParamsBuffer || Params == nullptr) return;
    std::vector<uint8_t> scratch(size_t(std::max(Db().MaxCharParamLength(), 0)) + 1 + 64, 0);
    const int32_t scratchSize = int32_t(scratch.size());
    int32_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        uint8_t* cell = ParamsBuffer->Data() + offset;
        offset += ParamCellSize(p);
        int32_t indicator = 0, length = 0;
        GetCellHeader(cell, 0, indicator, length);
        if (length == 0) SetCellHeader(cell, 0, indicator, ParamDataSize(p));
        const TParamType kind = p.ParamType();
        if (kind != ptOutput && kind != ptInputOutput && kind != ptResult) continue;
        if (p.DataType() == ftCursor) {
            if (paramCursor_.empty())
                paramCursor_.assign(cell + kCellHeaderSize, cell + kCellHeaderSize + kCdaSize);
            continue;
        }
        std::fill(scratch.begin(), scratch.end(), 0);
        if (OraCnvtFieldData(p.DataType(), cell, scratch.data(), Db().RTrimCharOutput, scratchSize))
            SetOraParamValue(p, scratch.data());
        else
            p.Clear();
    }
}

// ---------------------------------------------------------------------------------------------
// Result columns

bool TIOraCommand::IsPlainBufferBlob(const TSDFieldDesc& desc) const {
    return IsBlobFieldType(stOracle, desc.FieldType) &&
           !IsBlobFieldType(stOracle, OraFieldDataType(desc.NativeType));
}

bool TIOraCommand::IsLongColumn(const TSDFieldDesc& desc) const {
    return IsBlobOrMemoType(desc.FieldType) && !IsPlainBufferBlob(desc);
}

uint8_t* TIOraCommand::RowCell(const TSDFieldDesc& desc) {
    return GetFieldCell(desc.FieldNo, FieldsBuffer.get());
}

void TIOraCommand::GetFieldDescs(TSDFieldDescList& list) {
    if (cursorResult_ && !paramsBound_) ExecuteToDescribe();
    auto* cursor = static_cast<Cda_Def*>(GetHandle());
    if (cursor == nullptr) return;
    TIOraDatabase& db = Db();
    std::vector<sb1> name(size_t(db.MaxFieldNameLen) + 1, 0);
    for (sword position = 1;; ++position) {
        sb4 dbSize = 0, nameLength = sb4(name.size()), displaySize = 0;
        sb2 dbType = 0, precision = 0, scale = 0, nullable = 0;
        std::fill(name.begin(), name.end(), 0);
        const sword status = Fn().odescr(cursor, position, &dbSize, &dbType, name.data(), &nameLength,
                                         &displaySize, &precision, &scale, &nullable);
        if (status != 0) {
            if (CursorReturnCode(cursor) == kOraEndOfDescribe) break;
            CheckCursor(status, cursor);
        }
        if (nameLength > sb4(name.size())) rtl::DatabaseError("Insufficient column buffer size");
        const std::string fieldName(reinterpret_cast<const char*>(name.data()),
                                    size_t(std::max(nameLength, 0)));
        TFieldType type = OraFieldDataType(dbType);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", fieldName);
        type = OraNumberFieldType(type, precision, scale, db.EnableBCD, db.EnableIntegers());
        if (type == ftString && displaySize > db.MaxStringSize) type = ftMemo;
        if ((type == ftBytes || type == ftVarBytes) && displaySize > db.MaxStringSize) type = ftBlob;
        if (dbType == SQLT_RID) dbSize = displaySize;
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = fieldName;
        d.FieldNo = position;
        d.FieldType = type;
        d.NativeType = dbType;
        d.Precision = precision;
        d.Scale = scale;
        d.Required = nullable == 0;
        if (FieldTypeHasSize(type) || IsPlainBufferBlob(d))
            d.DataSize = IsOraCharZType(dbType) ? dbSize : displaySize + 1;
        else if (type == ftSmallint)
            d.DataSize = 2;  // defined as a 2-byte integer: the engine reads a smallint's cell as 2 bytes
        else
            d.DataSize = NativeDataSize(type);
    }
}

void TIOraCommand::SetFieldsBuffer() {
    if (!FieldsBuffer) return;
    const TOci7Functions& f = Fn();
    const bool piecewise = Oci7PiecewiseAvailable();
    auto* cursor = static_cast<Cda_Def*>(GetHandle());
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        uint8_t* cell = RowCell(d);
        uint8_t* value = cell + kCellHeaderSize;
        auto* indicator = reinterpret_cast<sb2*>(cell);
        auto* length = reinterpret_cast<ub2*>(cell + GetCellLengthOffset());
        int32_t bindType = IsPlainBufferBlob(d) ? NativeDataType(OraFieldDataType(d.NativeType))
                                                : NativeDataType(d.FieldType);
        if (bindType == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (bindType == SQLT_AVC) bindType = SQLT_STR;
        sword status = 0;
        if (IsLongColumn(d))
            status = f.odefin(cursor, d.FieldNo, value, 0, bindType, -1, indicator, nullptr, -1, -1, length,
                              nullptr);
        else if (piecewise)
            status = f.odefinps(cursor, 1, d.FieldNo, value, d.DataSize, bindType, -1, indicator, nullptr, -1,
                                -1, length, nullptr, 0, 0, 0, 0);
        else
            status = f.odefin(cursor, d.FieldNo, value, d.DataSize, bindType, -1, indicator, nullptr, -1, -1,
                              length, nullptr);
        CheckCursor(status, cursor);
    }
}

void TIOraCommand::FreeFieldsBuffer() {
    TISqlCommand::FreeFieldsBuffer();
}

bool TIOraCommand::DoFetchNextRow() {
    auto* cursor = static_cast<Cda_Def*>(GetHandle());
    if (cursor == nullptr) return false;
    sword status = Fn().ofetch(cursor);
    if (status != 0) status = CursorReturnCode(cursor);
    Db().MarkActivity();
    // Only the end of the data ends the rows: a lost connection or any other failure is
    // raised, so it cannot pass for the last row.
    const bool row = status == 0 || (status == kOraNextPieceToFetch && Oci7PiecewiseAvailable());
    if (row) {
        if (BlobFieldCount > 0) ReadBlobsToSlots();
        return true;
    }
    if (status == kOraNoDataFound) {
        CloseCursorParam(false);
        return false;
    }
    CheckCursor(status, cursor);
    return false;
}

bool TIOraCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    const TFieldType type = IsPlainBufferBlob(desc) ? ftString : desc.FieldType;
    return OraCnvtFieldData(type, RowCell(desc), dest, desc.NativeType == SQLT_AFC && Db().RTrimCharOutput,
                            destSize);
}

int32_t TIOraCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    uint8_t* cell = RowCell(desc);
    data.clear();
    if (IsPlainBufferBlob(desc)) return OraReadPlainBlob(*this, desc, cell, data);
    int16_t indicator = 0;
    std::memcpy(&indicator, cell, sizeof indicator);
    if (indicator == -1) return 0;
    auto* cursor = static_cast<Cda_Def*>(GetHandle());
    const sb4 piece = Db().BlobPieceSize;
    int64_t total = 0;
    for (;;) {
        if (total + piece > INT32_MAX) rtl::DatabaseError("LONG value too large");
        data.resize(size_t(total + piece));
        ub4 returned = 0;
        CheckCursor(Fn().oflng(cursor, desc.FieldNo, data.data() + total, piece,
                               NativeDataType(desc.FieldType), &returned, sb4(total)),
                    cursor);
        total += std::min<int64_t>(returned, piece);
        if (returned == 0 || returned < ub4(piece)) break;
    }
    data.resize(size_t(total));
    return int32_t(total);
}

// ---------------------------------------------------------------------------------------------
// Procedure description

void TIOraCommand::InitParamList() {
    std::vector<ub2> overload(kDescribeEntries), position(kDescribeEntries), level(kDescribeEntries),
        nameLength(kDescribeEntries), dataType(kDescribeEntries);
    std::vector<OraText> names(size_t(kDescribeEntries) * kArgumentNameSize);
    std::vector<ub1> defaults(kDescribeEntries), modes(kDescribeEntries), radix(kDescribeEntries);
    std::vector<ub4> size(kDescribeEntries), spare(kDescribeEntries);
    std::vector<sb2> precision(kDescribeEntries), scale(kDescribeEntries);
    ub4 count = kDescribeEntries;
    const std::string name = CommandText;
    Db().CheckLda(Fn().odessp(Db().Lda(), Text(name), name.size(), nullptr, 0, nullptr, 0, overload.data(),
                              position.data(), level.data(), names.data(), nameLength.data(), dataType.data(),
                              defaults.data(), modes.data(), size.data(), precision.data(), scale.data(),
                              radix.data(), spare.data(), &count));
    count = std::min<ub4>(count, kDescribeEntries);
    if (count == 1 && dataType[0] == 0) return;  // no arguments
    for (ub4 i = 0; i < count; ++i) {
        std::string argName(reinterpret_cast<const char*>(&names[size_t(i) * kArgumentNameSize]),
                            std::min<size_t>(nameLength[i], kArgumentNameSize));
        TFieldType type = OraFieldDataType(dataType[i]);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", argName);
        type = OraNumberFieldType(type, precision[i], scale[i], Db().EnableBCD, Db().EnableIntegers());
        TParamType kind;
        if (position[i] == 0) {
            kind = ptResult;
            if (argName.empty()) argName = "Result";
        } else if (modes[i] == 0) {
            kind = ptInput;
        } else if (modes[i] == 1) {
            kind = ptOutput;
        } else if (modes[i] == 2) {
            kind = ptInputOutput;
        } else {
            rtl::DatabaseErrorFmt("Unknown parameter type for parameter '%s'", argName);
        }
        AddParam(argName, type, kind);
    }
    // The result goes last, after the arguments.
    for (int i = 0; i + 1 < Params->Count(); ++i) {
        if ((*Params)[i].ParamType() != ptResult) continue;
        const TParam result = (*Params)[i];
        Params->Delete(i);
        Params->CreateParam(result.DataType(), result.Name(), ptResult);
        break;
    }
    paramsBound_ = false;
}
