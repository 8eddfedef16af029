// database/oracle/SDOra8Fetch.cpp: the Oracle driver's OCI 8 command, its result side (unit SDOra):
// describing columns, defining them on the row buffer, fetching, converting cells into the
// engine's layout and reading long data (LONG columns collected in pieces by a call-back, LOB
// and file columns through locators, long character columns kept in a plain buffer).
//
// What lives in a column's value area after the define: a LOB or file locator, a date-time or
// interval descriptor, or the address of the column's piece record (LONG, LONG RAW); all are
// released by FreeFieldsBuffer and nowhere else.
#include <algorithm>
#include <cstring>

#include "database/engine/SDCommonSlots.h"
#include "database/oracle/SDOra.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace ociapi;

namespace {

constexpr sb4 kPointerSize = sb4(sizeof(void*));
constexpr sb4 kLongDefineSize = 2147483647;

// The LONG call-back: each call hands the client the next piece of the column's buffer. Only
// the first (0 or 1) and next (2) pieces are asked for; any other piece number stops the
// fetch, and the command raises the kept failure afterwards.
sb4 LongCallback(void* octxp, OCIDefine*, ub4, void** bufpp, ub4** alenpp, ub1* piecep, void** indpp, ub2**) {
    auto* r = static_cast<TOraLongPieces*>(octxp);
    try {
        if (*piecep > OCI_NEXT_PIECE) {
            r->CallbackError = rtl::Format("LONG piece %d asked for (TIOra8Command)", int(*piecep));
            return OCI_ERROR;
        }
        if (*piecep == OCI_ONE_PIECE || *piecep == OCI_FIRST_PIECE) {
            r->Size = 0;
            r->LastPieceLength = 0;
            r->Indicator = 0;
            *piecep = OCI_FIRST_PIECE;
        }
        r->Size += r->LastPieceLength;
        r->LastPieceLength = r->PieceSize;
        if (uint64_t(r->Size) + r->PieceSize > uint64_t(INT32_MAX)) {
            r->CallbackError = "LONG value too large (TIOra8Command)";
            return OCI_ERROR;
        }
        r->Buffer.resize(size_t(r->Size) + r->PieceSize);
        *bufpp = r->Buffer.data() + r->Size;
        *alenpp = &r->LastPieceLength;
        *indpp = &r->Indicator;
        return OCI_CONTINUE;
    } catch (const std::exception& e) {
        r->CallbackError = e.what();
        return OCI_ERROR;
    }
}

int16_t Indicator16(const uint8_t* cell) {
    int16_t indicator = 0;
    std::memcpy(&indicator, cell, sizeof indicator);
    return indicator;
}

}  // namespace

TFieldType TIOra8Command::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case SQLT_RDD:
            return ftString;
        case SQLT_CLOB:
        case SQLT_CFILE:
            return ftOraClob;
        case SQLT_BLOB:
        case SQLT_BFILE:
            return ftOraBlob;
        case SQLT_DATE:
            return ftDate;
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ:
            return ftDateTime;
        case SQLT_INTERVAL_YM:
        case SQLT_INTERVAL_DS:
            return ftBCD;
        default:
            return OraFieldDataType(nativeType);
    }
}

bool TIOra8Command::IsDescriptorType(int32_t dataType) {
    return DescriptorTypeOf(dataType) != 0;
}

ub4 TIOra8Command::DescriptorTypeOf(int32_t dataType) {
    switch (dataType) {
        case SQLT_DATE:
            return OCI_DTYPE_DATE;
        case SQLT_TIME:
            return OCI_DTYPE_TIME;
        case SQLT_TIME_TZ:
            return OCI_DTYPE_TIME_TZ;
        case SQLT_TIMESTAMP:
            return OCI_DTYPE_TIMESTAMP;
        case SQLT_TIMESTAMP_TZ:
            return OCI_DTYPE_TIMESTAMP_TZ;
        case SQLT_TIMESTAMP_LTZ:
            return OCI_DTYPE_TIMESTAMP_LTZ;
        case SQLT_INTERVAL_YM:
            return OCI_DTYPE_INTERVAL_YM;
        case SQLT_INTERVAL_DS:
            return OCI_DTYPE_INTERVAL_DS;
        default:
            return 0;
    }
}

bool TIOra8Command::IsPlainBufferBlob(const TSDFieldDesc& desc) {
    return IsBlobFieldType(stOracle, desc.FieldType) &&
           !IsBlobFieldType(stOracle, FieldDataType(desc.NativeType));
}

bool TIOra8Command::IsLongColumn(const TSDFieldDesc& desc) const {
    return IsBlobOrMemoType(desc.FieldType) && (desc.NativeType == SQLT_LNG || desc.NativeType == SQLT_LBI);
}

bool TIOra8Command::IsLobColumn(const TSDFieldDesc& desc) const {
    return (IsBlobOrMemoType(desc.FieldType) || desc.FieldType == ftOraBlob || desc.FieldType == ftOraClob) &&
           desc.NativeType >= SQLT_CLOB && desc.NativeType <= SQLT_CFILE;
}

uint8_t* TIOra8Command::RowCell(const TSDFieldDesc& desc) {
    return GetFieldCell(desc.FieldNo, FieldsBuffer.get());
}

// ---------------------------------------------------------------------------------------------
// Describe

void TIOra8Command::GetFieldDescs(TSDFieldDescList& list) {
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    OCIError* err = db.ErrHandle();
    if (!paramsBound_) {
        if (StatementType() == OCI_STMT_SELECT) {
            Check(f.OCIStmtExecute(db.SvcHandle(), stmt_, err, 0, 0, nullptr, nullptr, OCI_DESCRIBE_ONLY),
                  stmt_);
        } else if (cursorResult_) {
            ExecuteToDescribe();
        }
    }
    OCIStmt* handle = static_cast<OCIStmt*>(GetHandle());
    if (handle == nullptr) return;
    ub4 count = 0;
    Check(f.OCIAttrGet(handle, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, err), handle);
    for (ub4 position = 1; position <= count; ++position) {
        void* param = nullptr;
        Check(f.OCIParamGet(handle, OCI_HTYPE_STMT, err, &param, position), handle);
        OraText* nameText = nullptr;
        ub4 nameLength = 0;
        ub2 dataType = 0, dataSize = 0;
        ub1 precision = 0, nullable = 0;
        sb1 scale = 0;
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &nameText, &nameLength, OCI_ATTR_NAME, err));
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &dataType, nullptr, OCI_ATTR_DATA_TYPE, err));
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &dataSize, nullptr, OCI_ATTR_DATA_SIZE, err));
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &precision, nullptr, OCI_ATTR_PRECISION, err));
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, err));
        Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &nullable, nullptr, OCI_ATTR_IS_NULL, err));
        std::string name = nameText != nullptr
                               ? std::string(reinterpret_cast<const char*>(nameText), nameLength)
                               : std::string();
        if (int32_t(name.size()) > db.MaxFieldNameLen) name.resize(size_t(db.MaxFieldNameLen));
        TFieldType type = FieldDataType(dataType);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", name);
        type = OraNumberFieldType(type, precision, scale, db.EnableBCD, db.EnableIntegers());
        if (type == ftString && int32_t(dataSize) > db.MaxStringSize) type = ftMemo;
        if ((type == ftBytes || type == ftVarBytes) && int32_t(dataSize) > db.MaxStringSize) type = ftBlob;
        if (dataType == SQLT_RDD) {
            ub2 displaySize = 0;
            Check(f.OCIAttrGet(param, OCI_DTYPE_PARAM, &displaySize, nullptr, OCI_ATTR_DISP_SIZE, err));
            dataSize = displaySize;
        }
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = name;
        d.FieldNo = int32_t(position);
        d.FieldType = type;
        d.NativeType = int16_t(dataType);
        d.Precision = precision;
        d.Scale = scale;
        d.Required = nullable == 0;
        if (IsDescriptorType(dataType)) {
            d.DataSize = kPointerSize;
            d.Precision = 0;
        } else if (FieldTypeHasSize(type) || IsPlainBufferBlob(d)) {
            d.DataSize = int32_t(dataSize) + (IsOraCharZType(dataType) ? 0 : 1);
        } else if (type == ftDateTime && dataType == SQLT_DAT) {
            d.DataSize = 7;
        } else if (IsLongColumn(d)) {
            d.DataSize = kPointerSize;  // the piece record's address
        } else if (type == ftSmallint) {
            d.DataSize = 2;  // defined as a 2-byte integer: the engine reads a smallint's cell as 2 bytes
        } else {
            d.DataSize = NativeDataSize(type);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Define

void TIOra8Command::SetFieldsBuffer() {
    if (!FieldsBuffer) return;
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    OCIError* err = db.ErrHandle();
    OCIStmt* handle = static_cast<OCIStmt*>(GetHandle());
    longPieces_.clear();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        uint8_t* cell = RowCell(d);
        uint8_t* value = cell + kCellHeaderSize;
        auto* length = reinterpret_cast<ub2*>(cell + GetCellLengthOffset());
        const bool descriptor = IsDescriptorType(d.NativeType);
        int32_t bindType =
            IsPlainBufferBlob(d) ? NativeDataType(FieldDataType(d.NativeType)) : NativeDataType(d.FieldType);
        if (descriptor || IsLobColumn(d)) bindType = d.NativeType;
        if (bindType == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (bindType == SQLT_AVC) bindType = SQLT_STR;
        OCIDefine* define = nullptr;
        if (IsLobColumn(d)) {
            const ub4 kind =
                d.NativeType == SQLT_BFILE || d.NativeType == SQLT_CFILE ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
            void* locator = nullptr;
            Check(f.OCIDescriptorAlloc(db.EnvHandle(), &locator, kind, 0, nullptr));
            SetBufferPointer(value, 0, locator);
            Check(f.OCIDefineByPos(handle, &define, err, ub4(d.FieldNo), value, kPointerSize,
                                   ub2(d.NativeType), cell, length, nullptr, OCI_DEFAULT),
                  handle);
        } else if (IsLongColumn(d)) {
            Check(f.OCIDefineByPos(handle, &define, err, ub4(d.FieldNo), nullptr, kLongDefineSize,
                                   ub2(bindType), nullptr, length, nullptr, OCI_DYNAMIC_FETCH),
                  handle);
            auto pieces = std::make_unique<TOraLongPieces>();
            pieces->PieceSize = ub4(db.LongPieceSize());
            SetBufferPointer(value, 0, pieces.get());
            Check(f.OCIDefineDynamic(define, err, pieces.get(), LongCallback), handle);
            longPieces_.push_back(std::move(pieces));
        } else if (descriptor) {
            void* allocated = nullptr;
            Check(
                f.OCIDescriptorAlloc(db.EnvHandle(), &allocated, DescriptorTypeOf(d.NativeType), 0, nullptr));
            SetBufferPointer(value, 0, allocated);
            Check(f.OCIDefineByPos(handle, &define, err, ub4(d.FieldNo), value, kPointerSize,
                                   ub2(d.NativeType), cell, length, nullptr, OCI_DEFAULT),
                  handle);
        } else {
            // A plain DATE column is a seven-byte date whatever the date-time flag says.
            if (IsDateTimeFieldType(d.FieldType)) bindType = OraNativeDataType(d.FieldType);
            Check(f.OCIDefineByPos(handle, &define, err, ub4(d.FieldNo), value, d.DataSize, ub2(bindType),
                                   cell, length, nullptr, OCI_DEFAULT),
                  handle);
        }
    }
}

void TIOra8Command::FreeFieldsBuffer() {
    if (FieldsBuffer && !FieldOffsets.empty()) {
        const TOci8Functions& f = Fn();
        for (int i = 0; i < FieldDescs->Count(); ++i) {
            const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
            if (d.FieldNo < 1 || size_t(d.FieldNo) > FieldOffsets.size()) continue;
            uint8_t* value = RowCell(d) + kCellHeaderSize;
            if (IsLongColumn(d)) {
                SetBufferPointer(value, 0, nullptr);
                continue;
            }
            ub4 kind = DescriptorTypeOf(d.NativeType);
            if (IsLobColumn(d))
                kind =
                    d.NativeType == SQLT_BFILE || d.NativeType == SQLT_CFILE ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
            if (kind == 0) continue;
            void* descriptor = GetBufferPointer(value, 0);
            if (descriptor == nullptr) continue;
            SetBufferPointer(value, 0, nullptr);
            f.OCIDescriptorFree(descriptor, kind);
        }
    }
    longPieces_.clear();
    TISqlCommand::FreeFieldsBuffer();
}

// ---------------------------------------------------------------------------------------------
// Fetch

bool TIOra8Command::DoFetchNextRow() {
    OCIStmt* handle = static_cast<OCIStmt*>(GetHandle());
    if (handle == nullptr) return false;
    // A row whose LONG value the client does not hand over (a null) must not show the
    // previous row's value.
    for (const auto& pieces : longPieces_) {
        pieces->Size = pieces->LastPieceLength = 0;
        pieces->Indicator = -1;
        pieces->CallbackError.clear();
    }
    sword status = Fn().OCIStmtFetch(handle, Db().ErrHandle(), 1, OCI_FETCH_NEXT, OCI_DEFAULT);
    Db().MarkActivity();
    for (const auto& pieces : longPieces_)
        if (!pieces->CallbackError.empty()) throw rtl::EAssertionFailed(pieces->CallbackError);
    if (BlobFieldCount > 0 &&
        (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO || status == OCI_NEED_DATA)) {
        ReadBlobsToSlots();
        status = OCI_SUCCESS;
    }
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) return true;
    if (status == OCI_NO_DATA) {
        FreeStatement(cursorStmt_);
        return false;
    }
    Check(status, handle);
    return false;
}

void TIOra8Command::CloseResultSet() {
    cursorResult_ = false;
    FreeStatement(cursorStmt_);
}

// ---------------------------------------------------------------------------------------------
// Cells and long data

bool TIOra8Command::ExtractDateTime(OCIDateTime* descriptor, ub2 dataType, TFieldType fieldType,
                                    TSDDateTimeRec& rec) {
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    TOraDateTimeParts parts;
    const bool withTimeZone = dataType == SQLT_TIMESTAMP_LTZ;
    if (fieldType == ftDate || fieldType == ftDateTime || withTimeZone) {
        sb2 year = 0;
        ub1 month = 0, day = 0;
        Check(f.OCIDateTimeGetDate(db.EnvHandle(), db.ErrHandle(), descriptor, &year, &month, &day));
        parts.Year = year;
        parts.Month = month;
        parts.Day = day;
    }
    if (fieldType == ftTime || fieldType == ftDateTime || withTimeZone) {
        ub1 hour = 0, minute = 0, second = 0;
        ub4 fraction = 0;
        Check(f.OCIDateTimeGetTime(db.EnvHandle(), db.ErrHandle(), descriptor, &hour, &minute, &second,
                                   &fraction));
        parts.Hour = hour;
        parts.Minute = minute;
        parts.Second = second;
        parts.Millisecond = int(fraction / 1000000u);
    }
    if (withTimeZone) {
        sb1 offsetHours = 0, offsetMinutes = 0;
        Check(f.OCIDateTimeGetTimeZoneOffset(db.EnvHandle(), db.ErrHandle(), descriptor, &offsetHours,
                                             &offsetMinutes));
        AddOraTimeZoneOffset(parts, offsetHours, offsetMinutes);
    }
    OraPartsToDateTimeRec(fieldType, parts, rec);
    return true;
}

bool TIOra8Command::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    const uint8_t* cell = RowCell(desc);
    const uint8_t* value = cell + kCellHeaderSize;
    if (IsIntervalType(desc.NativeType)) {
        if (Indicator16(cell) == -1) return false;
        const TOci8Functions& f = Fn();
        TIOra8Database& db = Db();
        void* interval = GetBufferPointer(value, 0);
        int64_t scaled = 0;
        if (desc.NativeType == SQLT_INTERVAL_YM) {
            sb4 years = 0, months = 0;
            Check(f.OCIIntervalGetYearMonth(db.EnvHandle(), db.ErrHandle(), &years, &months, interval));
            scaled = OraYearMonthToScaled(years, months);
        } else {
            sb4 days = 0, hours = 0, minutes = 0, seconds = 0, fraction = 0;
            Check(f.OCIIntervalGetDaySecond(db.EnvHandle(), db.ErrHandle(), &days, &hours, &minutes, &seconds,
                                            &fraction, interval));
            scaled = OraDaySecondToScaled(days, hours, minutes, seconds, fraction);
        }
        if (!StoreCurrencyAsBcd(scaled, 4, dest, destSize)) rtl::DatabaseError("Interval value out of range");
        return true;
    }
    if (IsDescriptorType(desc.NativeType)) {
        if (Indicator16(cell) == -1) return false;
        TSDDateTimeRec rec;
        ExtractDateTime(GetBufferPointer(value, 0), ub2(desc.NativeType), desc.FieldType, rec);
        std::memcpy(dest, rec.Bytes, size_t(std::min<int32_t>(destSize, int32_t(sizeof rec.Bytes))));
        return true;
    }
    const TFieldType type = IsPlainBufferBlob(desc) ? ftString : desc.FieldType;
    return OraCnvtFieldData(type, cell, dest, desc.NativeType == SQLT_AFC && Db().RTrimCharOutput, destSize);
}

int32_t TIOra8Command::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    const TOci8Functions& f = Fn();
    TIOra8Database& db = Db();
    uint8_t* cell = RowCell(desc);
    uint8_t* value = cell + kCellHeaderSize;
    data.clear();
    if (IsPlainBufferBlob(desc)) return OraReadPlainBlob(*this, desc, cell, data);
    if (IsLobColumn(desc)) {
        if (Indicator16(cell) != 0) return 0;
        OCILobLocator* locator = GetBufferPointer(value, 0);
        const bool file = desc.NativeType == SQLT_BFILE || desc.NativeType == SQLT_CFILE;
        if (file) Check(f.OCILobFileOpen(db.SvcHandle(), db.ErrHandle(), locator, OCI_FILE_READONLY));
        struct CloseFile {
            bool open;
            void* svc;
            void* err;
            void* locator;
            ~CloseFile() {
                if (open) Oci8().OCILobFileClose(svc, err, locator);
            }
        } close{file, db.SvcHandle(), db.ErrHandle(), locator};
        ub4 length = 0;
        Check(f.OCILobGetLength(db.SvcHandle(), db.ErrHandle(), locator, &length));
        if (length > 0) {
            data.assign(length, 0);
            ub4 amount = length;
            Check(f.OCILobRead(db.SvcHandle(), db.ErrHandle(), locator, &amount, 1, data.data(), length,
                               nullptr, nullptr, 0, SQLCS_IMPLICIT));
            data.resize(std::min<size_t>(amount, length));
        }
        if (file) {
            close.open = false;
            Check(f.OCILobFileClose(db.SvcHandle(), db.ErrHandle(), locator));
        }
        return int32_t(data.size());
    }
    if (IsLongColumn(desc)) {
        auto* pieces = static_cast<TOraLongPieces*>(GetBufferPointer(value, 0));
        if (pieces == nullptr || pieces->Indicator == -1) return 0;
        const size_t length =
            std::min<size_t>(size_t(pieces->Size) + pieces->LastPieceLength, pieces->Buffer.size());
        data.assign(pieces->Buffer.begin(), pieces->Buffer.begin() + std::ptrdiff_t(length));
        // The piece buffer is released once, here; the record stays for the next row.
        std::vector<uint8_t>().swap(pieces->Buffer);
        pieces->Size = pieces->LastPieceLength = 0;
        return int32_t(length);
    }
    return 0;
}
