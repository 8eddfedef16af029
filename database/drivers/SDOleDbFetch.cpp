// database/drivers/SDOleDbFetch.cpp: the OLE DB driver's result columns and rows (part of unit
// SDOleDb): columns as field descriptions, the row buffer bound through an accessor, row
// handles fetched in batches, cell values converted into the engine's layout, and long data
// read through a stream.
//
// A rowset goes: open, described, its row buffer and bindings made, its accessor created
// once, rows fetched batch by batch (the handles of a batch held until the next batch or the
// release), rows exhausted (the command gives up the connection), released with its handles
// and accessor.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "database/drivers/SDOleDb.h"
#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/DateTime.h"
#include "rtl/FieldType.h"
#include "rtl/Format.h"

using namespace com;
using namespace oledb;

namespace {

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

template <typename T>
T Load(const uint8_t* p) {
    T v{};
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Frees the two blocks GetColumnInfo hands out, whatever happens.
struct ColumnInfoBlocks {
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* strings = nullptr;
    ~ColumnInfoBlocks() {
        CoTaskMemFree(columns);
        CoTaskMemFree(strings);
    }
};

}  // namespace

TFieldType OleDbFieldType(int32_t oleDbType) {
    switch (oleDbType) {
        case DBTYPE_I2:
        case DBTYPE_I1:
        case DBTYPE_UI1:
        case DBTYPE_UI2:
            return ftSmallint;
        case DBTYPE_I4:
        case DBTYPE_UI4:
            return ftInteger;
        case DBTYPE_R4:
        case DBTYPE_R8:
        case DBTYPE_DECIMAL:
        case DBTYPE_NUMERIC:
            return ftFloat;
        case DBTYPE_CY:
            return ftCurrency;
        case DBTYPE_DATE:
            return ftDateTime;
        case DBTYPE_BOOL:
            return ftBoolean;
        case DBTYPE_I8:
        case DBTYPE_UI8:
            return ftLargeint;
        case DBTYPE_GUID:
            return ftGuid;
        case DBTYPE_BYTES:
            return ftBytes;
        case DBTYPE_STR:
        case DBTYPE_WSTR:
            return ftString;
        case DBTYPE_DBDATE:
            return ftDate;
        case DBTYPE_DBTIME:
            return ftTime;
        case DBTYPE_DBTIMESTAMP:
            return ftDateTime;
        default:
            return ftUnknown;
    }
}

TFieldType TIOleDbCommand::FieldDataType(int32_t nativeType) {
    return OleDbFieldType(nativeType);
}

int32_t TIOleDbCommand::NativeDataType(TFieldType fieldType) {
    return OleDbBoundType(fieldType);
}

uint16_t TIOleDbCommand::NativeDataSize(TFieldType fieldType) {
    return OleDbNativeSize(fieldType);
}

bool TIOleDbCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    return fieldType == ftDate || fieldType == ftTime || fieldType == ftDateTime || fieldType == ftGuid;
}

bool TIOleDbCommand::InRowBlob(const TSDFieldDesc& desc) const {
    return IsBlobFieldType(stOLEDB, desc.FieldType) && desc.DataSize > 0;
}

void TIOleDbCommand::GetFieldDescs(TSDFieldDescList& list) {
    ComPtr<IUnknown> source;
    if (rowset_) {
        source = ComPtr<IUnknown>(rowset_.Get());
    } else if (!command_ || (CommandType == 2 && nextResultOpen_)) {
        DoExecute();
        source = ComPtr<IUnknown>(rowset_.Get());
    } else {
        source = ComPtr<IUnknown>(command_.Get());
    }
    rtl::Assert(bool(source), "TIOleDbCommand.GetFieldDescs: no rowset");
    ComPtr<IColumnsInfo> info;
    Check(source->QueryInterface(IColumnsInfo::kIID, info.ReceiveVoid()));
    rtl::Assert(bool(info), "TIOleDbCommand.GetFieldDescs: no column information");
    DBORDINAL count = 0;
    ColumnInfoBlocks blocks;
    Check(info->GetColumnInfo(&count, &blocks.columns, &blocks.strings));
    const int32_t maxString = GetSqlDatabase().MaxStringSize;
    for (DBORDINAL i = 0; i < count; ++i) {
        const DBCOLUMNINFO& c = blocks.columns[i];
        if (c.iOrdinal == 0) continue;  // the bookmark
        const std::string name = BstrToText(c.pwszName);
        TFieldType type = FieldDataType(c.wType);
        if (type == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", name);
        const bool isLong = (c.dwFlags & DBCOLUMNFLAGS_ISLONG) != 0;
        if (isLong) type = type == ftString ? ftMemo : ftBlob;
        const int64_t columnSize = int64_t(std::min<DBLENGTH>(c.ulColumnSize, DBLENGTH(kMaxBufferSize - 16)));
        int64_t size = columnSize + (type == ftString || type == ftFixedChar ? 1 : 0);
        if (type == ftString && size > int64_t(maxString) + 1) type = ftMemo;
        if ((type == ftBytes || type == ftVarBytes) && columnSize > int64_t(maxString) + 1) type = ftBlob;
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = name.substr(0, kMaxFieldNameLen);
        d.FieldNo = int32_t(c.iOrdinal);
        d.FieldType = type;
        d.NativeType = int16_t(c.wType);
        const bool blob = IsBlobFieldType(stOLEDB, type);
        d.DataSize = FieldTypeHasSize(type) || (blob && !isLong) ? int32_t(size) : NativeDataSize(type);
        d.Precision = c.bPrecision;
        d.Scale = c.bScale;
        d.Required = (c.dwFlags & DBCOLUMNFLAGS_ISNULLABLE) == 0;
        if (type == ftString) d.IsFixedChar = (c.dwFlags & DBCOLUMNFLAGS_ISFIXEDLENGTH) != 0;
    }
    describedColumns_ = list.Count();
}

void TIOleDbCommand::AllocFieldsBuffer() {
    TISqlCommand::AllocFieldsBuffer();
    rowBindings_.assign(size_t(FieldDescs->Count()), DBBINDING{});
}

int32_t TIOleDbCommand::GetFieldsBufferSize() {
    return LayOutFieldCells(8, kOleDbCellHeader);
}

void TIOleDbCommand::FreeFieldsBuffer() {
    std::exception_ptr failure;
    try {
        ReleaseRows();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!nextResultOpen_) {
        try {
            ReleaseRowset();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    rowBindings_.clear();
    TISqlCommand::FreeFieldsBuffer();
    if (failure) std::rethrow_exception(failure);
}

void TIOleDbCommand::SetFieldsBuffer() {
    rtl::Assert((FieldDescs->Count() > 0) == !rowBindings_.empty(),
                "TIOleDbCommand.SetFieldsBuffer: descriptions and bindings do not match");
    int binding = 0;
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo <= 0) continue;
        const bool inRow = InRowBlob(d);
        const DBTYPE type = inRow ? OleDbBoundType(FieldDataType(d.NativeType)) : OleDbBoundType(d.FieldType);
        if (type == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (i >= describedColumns_) continue;  // a column the command computes itself
        const DBBYTEOFFSET offset = DBBYTEOFFSET(GetFieldOffset(d.FieldNo - 1));
        DBBINDING& b = rowBindings_[size_t(i)];
        b = DBBINDING{};
        b.iOrdinal = DBORDINAL(binding + 1);
        b.obValue = offset + kOleDbValueOffset;
        b.obLength = offset + kOleDbLengthOffset;
        b.obStatus = offset + kOleDbStatusOffset;
        // A long column says here only whether it is null; its data comes through a stream.
        b.dwPart = IsBlobFieldType(stOLEDB, d.FieldType) && !inRow
                       ? DBPART_STATUS
                       : DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = DBLENGTH(std::max(d.DataSize, 0));
        b.wType = type;
        b.bPrecision = uint8_t(d.Precision);
        b.bScale = uint8_t(d.Scale);
        ++binding;
    }
    if (FieldDescs->Count() > 0 && !rowAccessor_) {
        rtl::Assert(bool(rowset_), "TIOleDbCommand.SetFieldsBuffer: no rowset");
        Check(rowset_->QueryInterface(IAccessor::kIID, rowAccessor_.ReceiveVoid()));
        const HRESULT hr = rowAccessor_->CreateAccessor(DBACCESSOR_ROWDATA, DBCOUNTITEM(binding),
                                                        rowBindings_.data(), 0, &rowAccessorHandle_, nullptr);
        if (FAILED(hr)) {
            rowAccessorHandle_ = 0;
            rowAccessor_.Reset();
        }
        Check(hr);
    }
}

bool TIOleDbCommand::DoFetchNextRow() {
    if (!rowset_) return false;
    if (rowIndex_ >= rowCount_) {
        ReleaseRows();
        DBCOUNTITEM obtained = 0;
        HROW* rows = nullptr;
        const HRESULT hr = rowset_->GetNextRows(0, 0, rowsPerFetch_, &obtained, &rows);
        rows_ = rows;  // held (and given back) whatever the result says
        rowCount_ = rows != nullptr ? obtained : 0;
        rowIndex_ = 0;
        Check(hr);
    }
    if (rowIndex_ < rowCount_) {
        rtl::Assert(FieldsBuffer != nullptr, "TIOleDbCommand.DoFetchNextRow: no row buffer");
        Check(rowset_->GetData(rows_[rowIndex_], rowAccessorHandle_, FieldsBuffer->Data()));
        if (BlobFieldCount > 0) ReadBlobsToSlots();
        ++rowIndex_;
        return true;
    }
    GiveUpConnection();
    return false;
}

void TIOleDbCommand::ReleaseRows() {
    if (rows_ == nullptr) {
        rowIndex_ = rowCount_ = 0;
        return;
    }
    rtl::Assert(bool(rowset_), "TIOleDbCommand.ReleaseRows: no rowset");
    const HRESULT hr = rowset_->ReleaseRows(rowCount_, rows_, nullptr, nullptr, nullptr);
    CoTaskMemFree(rows_);
    rows_ = nullptr;
    rowIndex_ = rowCount_ = 0;
    Check(hr);
}

void TIOleDbCommand::ReleaseRowset() {
    std::exception_ptr failure;
    try {
        ReleaseRows();
    } catch (...) {
        failure = std::current_exception();
    }
    HRESULT hr = S_OK;
    if (rowAccessorHandle_ != 0 && rowAccessor_)
        hr = rowAccessor_->ReleaseAccessor(rowAccessorHandle_, nullptr);
    rowAccessorHandle_ = 0;
    rowAccessor_.Reset();
    rowset_.Reset();
    nextResultOpen_ = false;
    if (failure) std::rethrow_exception(failure);
    Check(hr);
}

int32_t TIOleDbCommand::CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                                int32_t bufferSize) {
    if (fieldType != ftDate && fieldType != ftTime && fieldType != ftDateTime) return 0;
    if (bufferSize < int32_t(OleDbNativeSize(fieldType)))
        rtl::DatabaseError("Insufficient buffer size for internal datetime type");
    int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    rtl::DecodeDate(value, y, m, d);
    rtl::DecodeTime(value, h, mi, s, ms);
    switch (fieldType) {
        case ftDate: {
            const DBDATE v{int16_t(y), uint16_t(m), uint16_t(d)};
            std::memcpy(buffer, &v, sizeof v);
            return int32_t(sizeof v);
        }
        case ftTime: {
            const DBTIME v{uint16_t(h), uint16_t(mi), uint16_t(s)};
            std::memcpy(buffer, &v, sizeof v);
            return int32_t(sizeof v);
        }
        default: {
            const DBTIMESTAMP v{int16_t(y),
                                uint16_t(m),
                                uint16_t(d),
                                uint16_t(h),
                                uint16_t(mi),
                                uint16_t(s),
                                uint32_t(ms) * 1000000u};
            std::memcpy(buffer, &v, sizeof v);
            return int32_t(sizeof v);
        }
    }
}

bool TIOleDbCommand::ConvertCell(const std::string& fieldName, TFieldType fieldType, int32_t destSize,
                                 void* dest, const uint8_t* cell, int32_t capacity, bool fixedChar) {
    const DBSTATUS status = CellStatus(cell);
    if (status == DBSTATUS_E_CANTCONVERTVALUE)
        rtl::DatabaseErrorFmt("Cannot convert value of field '%s'", fieldName);
    if (status == DBSTATUS_S_ISNULL) return false;
    const uint8_t* value = cell + kOleDbValueOffset;
    auto* out = static_cast<uint8_t*>(dest);
    switch (fieldType) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            rtl::TTimeStamp stamp;
            TSDDateTimeRec rec;
            if (fieldType == ftDate) {
                const auto v = Load<DBDATE>(value);
                rtl::TDateTime date = 0;
                if (!rtl::TryEncodeDate(v.year, v.month, v.day, date))
                    rtl::DatabaseErrorFmt("Cannot convert value of field '%s'", fieldName);
                rec = TSDDateTimeRec::FromDate(rtl::DateTimeToTimeStamp(date).Date);
            } else if (fieldType == ftTime) {
                const auto v = Load<DBTIME>(value);
                if (v.hour > 23 || v.minute > 59 || v.second > 59)
                    rtl::DatabaseErrorFmt("Cannot convert value of field '%s'", fieldName);
                rec = TSDDateTimeRec::FromTime(((v.hour * 60 + v.minute) * 60 + v.second) * 1000);
            } else {
                const auto v = Load<DBTIMESTAMP>(value);
                rtl::TDateTime date = 0, time = 0;
                if (!rtl::TryEncodeDate(v.year, v.month, v.day, date) ||
                    !rtl::TryEncodeTime(v.hour, v.minute, v.second, 0, time) || v.fraction >= 1000000000u)
                    rtl::DatabaseErrorFmt("Cannot convert value of field '%s'", fieldName);
                stamp = rtl::DateTimeToTimeStamp(rtl::CombineDateTime(date, time));
                rec = TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(stamp) +
                                                   double(v.fraction / 1000000u));
            }
            // A date or a time is its record's first 4 bytes; a time stamp takes all 8.
            const int32_t need = fieldType == ftDateTime ? 8 : 4;
            rtl::Assert(destSize >= need, "TIOleDbCommand.ConvertCell: field '%s' needs %d bytes", fieldName,
                        need);
            std::memcpy(out, rec.Bytes, size_t(std::min(destSize, 8)));
            return true;
        }
        case ftGuid:
            GuidToChars(value, 16, static_cast<char*>(dest), destSize);
            return true;
        default: {
            // The provider's length, never beyond the cell or the destination.
            const int64_t available =
                int64_t(std::min<DBLENGTH>(CellLength(cell), DBLENGTH(std::max(capacity, 0))));
            if (fieldType == ftString || fieldType == ftFixedChar) {
                // Only fixed-length columns are padded by the server; a varying column's
                // blanks are its value's.
                StoreTextSlot(out, destSize, value, size_t(available),
                              fixedChar && GetSqlDatabase().RTrimCharOutput);
                return true;
            }
            const int32_t n = int32_t(std::min<int64_t>(available, std::max(destSize, 0)));
            if (n > 0) std::memcpy(out, value, size_t(n));
            return true;
        }
    }
}

bool TIOleDbCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    rtl::Assert(FieldsBuffer != nullptr, "TIOleDbCommand.GetCnvtFieldData: no row buffer");
    return ConvertCell(desc.FieldName, desc.FieldType, destSize, dest,
                       GetFieldCell(desc.FieldNo, FieldsBuffer.get()), desc.DataSize, desc.IsFixedChar);
}

int32_t TIOleDbCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    if (InRowBlob(desc)) {
        const uint8_t* cell = GetFieldCell(desc.FieldNo, FieldsBuffer.get());
        data.resize(size_t(desc.DataSize));
        if (!GetCnvtFieldData(desc, data.data(), desc.DataSize)) {
            data.clear();
            return 0;
        }
        data.resize(size_t(std::min<DBLENGTH>(CellLength(cell), DBLENGTH(desc.DataSize))));
        return int32_t(data.size());
    }
    rtl::Assert(bool(rowset_) && rows_ != nullptr && rowIndex_ < rowCount_,
                "TIOleDbCommand.ReadBlob: no row is being fetched");
    DBOBJECT object{STGM_READ, ISequentialStream::kIID};
    DBBINDING b{};
    b.iOrdinal = DBORDINAL(desc.FieldNo);
    b.obValue = offsetof(TBlobStorage, Stream);
    b.obLength = offsetof(TBlobStorage, Length);
    b.obStatus = offsetof(TBlobStorage, Status);
    b.pObject = &object;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.cbMaxLen = 0;
    b.wType = DBTYPE_IUNKNOWN;
    ComPtr<IAccessor> accessor;
    Check(rowset_->QueryInterface(IAccessor::kIID, accessor.ReceiveVoid()));
    HACCESSOR handle = 0;
    Check(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 0, &handle, nullptr));
    TBlobStorage storage{nullptr, 0, 0};
    void* buffer = nullptr;
    // The stream, the accessor and the buffer go whatever the reading met; a failed release
    // of the accessor is reported after a successful read.
    HRESULT releaseResult = S_OK;
    try {
        Check(rowset_->GetData(rows_[rowIndex_], handle, &storage));
        if (storage.Status != DBSTATUS_S_ISNULL) {
            rtl::Assert(storage.Status == DBSTATUS_S_OK && storage.Stream != nullptr,
                        "TIOleDbCommand.ReadBlob: status %d of field '%s'", int64_t(storage.Status),
                        desc.FieldName);
            // The size of an interface pointer is the provider's "unknown".
            const DBLENGTH known = storage.Length == sizeof(void*) ? 0 : storage.Length;
            const ULONG piece = ULONG(std::max(GetSqlDatabase().BlobPieceSize, 1));
            if (known > 0) {
                // A stream may answer less than asked: read until the value is whole or the
                // stream ends, and keep only what came.
                data.resize(size_t(std::min<DBLENGTH>(known, DBLENGTH(kMaxBufferSize))));
                size_t got = 0;
                while (got < data.size()) {
                    const ULONG want = ULONG(std::min<size_t>(data.size() - got, size_t(UINT32_MAX)));
                    ULONG read = 0;
                    Check(storage.Stream->Read(data.data() + got, want, &read));
                    if (read == 0) break;
                    got += std::min(read, want);
                }
                data.resize(got);
            } else {
                buffer = CoTaskMemAlloc(piece);
                if (buffer == nullptr) rtl::DatabaseError("No memory for a long value");
                while (true) {
                    ULONG read = 0;
                    Check(storage.Stream->Read(buffer, piece, &read));
                    read = std::min(read, piece);
                    if (read == 0) break;
                    const auto* p = static_cast<const uint8_t*>(buffer);
                    data.insert(data.end(), p, p + read);
                    if (data.size() > size_t(kMaxBufferSize))
                        rtl::DatabaseErrorFmt("Field '%s': long value too large", desc.FieldName);
                    if (read < piece) break;
                }
            }
        }
    } catch (...) {
        if (storage.Stream != nullptr) storage.Stream->Release();
        accessor->ReleaseAccessor(handle, nullptr);
        CoTaskMemFree(buffer);
        throw;
    }
    if (storage.Stream != nullptr) storage.Stream->Release();
    releaseResult = accessor->ReleaseAccessor(handle, nullptr);
    CoTaskMemFree(buffer);
    Check(releaseResult);
    return int32_t(data.size());
}
