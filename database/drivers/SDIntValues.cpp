// database/drivers/SDIntValues.cpp: the InterBase family's command, its value side (unit
// SDInt): parameter values written into the descriptors' cells, column values handed to the
// engine in its layout, dates and times through the client's encode and decode calls, scaled
// numerics, BLOBs in segments, and stored procedures ("Execute Procedure", parameters found in
// the system tables, outputs copied after execution).
//
// What must stay true: a date-time keeps its milliseconds both ways (the server counts time in
// 1/10000 s; the client's broken-down time has whole seconds, so the fraction travels beside
// it); a scaled number becomes a currency exactly or raises, never wraps; a BLOB opened or
// created is closed or cancelled on every path.
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "database/drivers/SDInt.h"
#include "database/drivers/SDSqlLiterals.h"
#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DatabaseError.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr int32_t kBlobIdSize = int32_t(sizeof(ISC_QUAD));
constexpr int kBlobInfoAnswerSize = 100;
// Time of day in the server's units (1/10000 s) per millisecond.
constexpr uint32_t kTimeUnitsPerMs = ISC_TIME_SECONDS_PRECISION / 1000;
// A BLOB's announced length reserves at most this much at once; longer ones grow as read.
constexpr size_t kMaxBlobReserve = size_t(64) << 20;
// A text value's length travels in a 16-bit word.
constexpr size_t kMaxTextValue = size_t(INT16_MAX);

// The parameters bound in the engine's shapes (dates through the client's encode calls); texts,
// small integers, Booleans and scaled numerics are the driver's own.
constexpr TSDSlotMap kParamSlots =
    kEngineSlots.Only({ftInteger, ftFloat, ftCurrency, ftDate, ftTime, ftDateTime, ftLargeint});
// The output values read back in their bound shapes: a word as the small integer it was bound
// as, a currency from its DOUBLE.
constexpr TSDSlotMap kOutputSlots =
    kEngineSlots.Only({ftSmallint, ftWord, ftInteger, ftLargeint, ftCurrency, ftDate, ftTime, ftDateTime})
        .With(ftWord, TSDSlotKind::Int16)
        .With(ftCurrency, TSDSlotKind::Currency);

template <typename T>
T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Save(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

int16_t Indicator(const uint8_t* cell) {
    return Load<int16_t>(cell);
}

// 10^n for n = 0..18.
int64_t PowerOfTen(int n) {
    int64_t p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// The value as an integer of its entry's width.
int64_t ScaledInteger(int16_t native, const uint8_t* value) {
    switch (native) {
        case TICustomIntCommand::kShort:
            return Load<int16_t>(value);
        case TICustomIntCommand::kLong:
            return Load<int32_t>(value);
        default:
            return Load<int64_t>(value);
    }
}

// A procedure name pasted into a dialect-1 statement, where it cannot be quoted: only a plain
// identifier passes.
void CheckPlainName(const std::string& name) {
    const std::string t = rtl::Trim(name);
    bool plain = !t.empty() && ((t[0] >= 'A' && t[0] <= 'Z') || (t[0] >= 'a' && t[0] <= 'z'));
    for (char c : t)
        plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '$');
    if (!plain) rtl::DatabaseErrorFmt("Invalid procedure name '%s'", name);
}

// The name of a procedure in its "Execute Procedure" statement: upper-cased in any dialect,
// and in dialect 3 a quoted identifier, so that no name can carry SQL with it.
std::string ProcedureStatementName(const std::string& name, int dialect) {
    if (dialect == 1) {
        CheckPlainName(name);
        return rtl::UpperCase(rtl::Trim(name));
    }
    return QuoteIntName(rtl::UpperCase(rtl::Trim(name)), dialect);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scaled numerics

double TICustomIntCommand::ScaledToDouble(int16_t sqlType, int16_t sqlScale, int16_t sqlLen, const uint8_t* value) {
    const int16_t native = int16_t(sqlType & ~1);
    if (native == kLong || native == kShort || native == kInt64) {
        const int places = -sqlScale;
        const double v = double(ScaledInteger(native, value));
        return places > 0 ? v / std::pow(10.0, places) : v;
    }
    if (sqlLen == 4) return double(Load<float>(value));
    if (sqlLen == 8) return Load<double>(value);
    rtl::Assert(false, "TICustomIntCommand.ScaledToDouble: type %d of %d bytes", int32_t(native), int32_t(sqlLen));
    return 0;
}

int64_t TICustomIntCommand::ScaledToCurrency(int16_t sqlType, int16_t sqlScale, const uint8_t* value) {
    const int16_t native = int16_t(sqlType & ~1);
    const int places = -sqlScale;
    rtl::Assert(places >= 0 && places <= 18, "TICustomIntCommand.ScaledToCurrency: scale %d", int32_t(sqlScale));
    // Worked wide: an INT64 times 10000 does not fit in 64 bits.
    __int128 units = __int128(ScaledInteger(native, value)) * 10000;
    const int64_t divisor = PowerOfTen(places);
    if (divisor > 1) {
        const __int128 half = divisor / 2;
        units = units >= 0 ? (units + half) / divisor : (units - half) / divisor;
    }
    if (units > std::numeric_limits<int64_t>::max() || units < std::numeric_limits<int64_t>::min())
        rtl::DatabaseError("Numeric value out of range for a currency");
    return int64_t(units);
}

// ---------------------------------------------------------------------------------------------
// Dates and times

void TICustomIntCommand::DecodeDateTime(TFieldType fieldType, const uint8_t* native, uint8_t* record) {
    const TIntFunctions& fn = IntDatabase().Functions();
    std::tm t{};
    uint32_t fraction = 0;  // 1/10000 s beyond the whole seconds
    if (fieldType == ftDateTime && fn.isc_decode_timestamp != nullptr) {
        const ISC_TIMESTAMP ts = Load<ISC_TIMESTAMP>(native);
        fn.isc_decode_timestamp(&ts, &t);
        fraction = ts.timestamp_time % ISC_TIME_SECONDS_PRECISION;
    } else if (fieldType == ftTime && fn.isc_decode_sql_time != nullptr) {
        const ISC_TIME time = Load<ISC_TIME>(native);
        fn.isc_decode_sql_time(&time, &t);
        fraction = time % ISC_TIME_SECONDS_PRECISION;
    } else if (fieldType == ftDate && fn.isc_decode_sql_date != nullptr) {
        const ISC_DATE date = Load<ISC_DATE>(native);
        fn.isc_decode_sql_date(&date, &t);
    } else {
        const ISC_QUAD quad = Load<ISC_QUAD>(native);
        fn.isc_decode_date(&quad, &t);
        fraction = uint32_t(quad.gds_quad_low) % ISC_TIME_SECONDS_PRECISION;
    }
    rtl::TTimeStamp stamp;
    if (fieldType == ftDate || fieldType == ftDateTime)
        stamp.Date = rtl::DateTimeToTimeStamp(rtl::EncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday)).Date;
    if (fieldType == ftTime || fieldType == ftDateTime)
        stamp.Time = ((t.tm_hour * 60 + t.tm_min) * 60 + t.tm_sec) * 1000 + int32_t(fraction / kTimeUnitsPerMs);
    rtl::Assert(IsDateTimeFieldType(fieldType), "TICustomIntCommand.DecodeDateTime: field type %d",
                int32_t(fieldType));
    const TSDDateTimeRec rec = TimeStampToRec(fieldType, stamp);
    std::memcpy(record, rec.Bytes, sizeof rec.Bytes);
}

int32_t TICustomIntCommand::CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                                    int32_t bufferSize) {
    if (bufferSize < NativeDataSize(fieldType)) rtl::DatabaseError("Insufficient buffer size for internal datetime type");
    const TIntFunctions& fn = IntDatabase().Functions();
    std::tm t{};
    uint32_t fraction = 0;
    if (fieldType == ftTime || fieldType == ftDateTime) {
        int hour = 0, minute = 0, second = 0, ms = 0;
        rtl::DecodeTime(value, hour, minute, second, ms);
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        fraction = uint32_t(ms) * kTimeUnitsPerMs;
    }
    if (fieldType == ftDate || fieldType == ftDateTime) {
        int year = 0, month = 0, day = 0;
        rtl::DecodeDate(value, year, month, day);
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
    }
    if (fieldType == ftDateTime && fn.isc_encode_timestamp != nullptr) {
        ISC_TIMESTAMP ts{};
        fn.isc_encode_timestamp(&t, &ts);
        ts.timestamp_time += fraction;
        Save(buffer, ts);
        return 8;
    }
    if (fieldType == ftTime && fn.isc_encode_sql_time != nullptr) {
        ISC_TIME time = 0;
        fn.isc_encode_sql_time(&t, &time);
        Save(buffer, ISC_TIME(time + fraction));
        return 4;
    }
    if (fn.isc_encode_sql_date != nullptr && fieldType != ftDateTime && fieldType != ftTime) {
        ISC_DATE date = 0;
        fn.isc_encode_sql_date(&t, &date);
        Save(buffer, date);
        return 4;
    }
    rtl::Assert(bufferSize >= 8, "TICustomIntCommand.CnvtDateTime2DBDateTime: %d bytes", bufferSize);
    ISC_QUAD quad{};
    fn.isc_encode_date(&t, &quad);
    quad.gds_quad_low += fraction;
    Save(buffer, quad);
    return 8;
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TICustomIntCommand::BindInputParam(TParam& param, TSQLVAR& var, uint8_t* cell, uint8_t* blobIdCell) {
    TICustomIntDatabase& db = IntDatabase();
    const int32_t size = ParamDataSize(param);
    uint8_t* value = cell + kCellHeaderSize;
    const bool null = param.IsNull();
    var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(value));
    var.SetSqlType(int16_t(var.SqlType() | 1));
    var.SetSqlScale(0);
    SetCellHeader(cell, 0, null ? -1 : 0, 0);
    const TFieldType type = param.DataType();
    if (IsBlobFieldType(db.GetServerType(), type)) {
        rtl::Assert(size == 0 && (var.SqlType() & ~1) == kBlob, "TICustomIntCommand.BindParamsBuffer: BLOB '%s'",
                    param.Name());
        var.SetSqlLen(kBlobIdSize);
        var.SetSqlData(reinterpret_cast<ISC_SCHAR*>(blobIdCell));
        std::memset(blobIdCell, 0, kBlobIdSize);
        if (!null) {
            ISC_QUAD id{};
            const rtl::ByteArray* bytes = param.Value().Bytes();
            if (bytes != nullptr) {
                WriteBlobData(id, bytes->data(), bytes->size());
            } else {
                const std::string text = param.AsString();
                WriteBlobData(id, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            }
            Save(blobIdCell, id);
        }
        return;
    }
    if (null) {
        // Nothing to write; a text's length says none.
        if (type == ftString || type == ftFixedChar) var.SetSqlLen(0);
        if (type == ftBoolean && db.BooleanSqlType() == SQL_BOOLEAN) {
            var.SetSqlType(int16_t(SQL_BOOLEAN | 1));
            var.SetSqlLen(1);
        }
        if (type == ftBCD) var.SetSqlScale(-4);
        return;
    }
    const rtl::Variant& v = param.Value();
    switch (type) {
        case ftString:
        case ftFixedChar: {
            const std::string text = param.AsString();
            if (text.size() > kMaxTextValue)
                rtl::DatabaseErrorFmt("Parameter '%s' is too long (%d bytes, at most %d)", param.Name(),
                                      int64_t(text.size()), int64_t(kMaxTextValue));
            rtl::Assert(size >= int32_t(text.size()) + 1, "TICustomIntCommand.BindParamsBuffer: text '%s'", param.Name());
            var.SetSqlLen(int16_t(text.size()));
            std::memcpy(value, text.data(), text.size());
            break;
        }
        case ftSmallint:
        case ftWord: {
            const int64_t n = v.AsInt64();
            if (n < INT16_MIN || n > INT16_MAX)
                rtl::DatabaseErrorFmt("Parameter '%s': value %d out of range", param.Name(), n);
            Save(value, int16_t(n));
            break;
        }
        case ftBoolean:
            if (db.BooleanSqlType() == SQL_BOOLEAN) {
                var.SetSqlType(int16_t(SQL_BOOLEAN | 1));
                var.SetSqlLen(1);
                Save(value, uint8_t(v.AsBoolean() ? 1 : 0));
            } else {
                Save(value, int16_t(v.AsBoolean() ? 1 : 0));
            }
            break;
        case ftBCD:
            var.SetSqlType(int16_t(kInt64 | 1));
            var.SetSqlLen(8);
            var.SetSqlScale(-4);
            Save(value, v.AsCurrency());
            break;
        default: {
            const int32_t n =
                PutParamSlot(param, kParamSlots[type], value, size,
                             [this](TFieldType t, rtl::TDateTime d, uint8_t* slot, int32_t room) {
                                 return CnvtDateTime2DBDateTime(t, d, slot, room);
                             });
            if (n < 0) rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", param.Name());
            break;
        }
    }
}

void TICustomIntCommand::CopyOutputParams() {
    if (Params == nullptr || out_ == nullptr) return;
    const bool trim = IntDatabase().RTrimCharOutput;
    const TSDServerType server = IntDatabase().GetServerType();
    const auto unpack = [this](TFieldType type, const uint8_t* slot, int32_t) {
        TSDDateTimeRec rec;
        DecodeDateTime(type, slot, rec.Bytes);
        return rec;
    };
    int inputs = 0;
    int k = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& p = (*Params)[i];
        if (p.ParamType() == ptInput) {
            rtl::Assert(k == 0, "TICustomIntCommand.CopyOutputParams: input '%s' after the outputs", p.Name());
            ++inputs;
            continue;
        }
        rtl::Assert(p.ParamType() == ptOutput, "TICustomIntCommand.CopyOutputParams: parameter '%s' of type %d", p.Name(),
                    int32_t(p.ParamType()));
        TSQLVAR var;
        var.Assign(*out_, k++);
        const uint8_t* ind = reinterpret_cast<const uint8_t*>(var.SqlInd());
        if (ind != nullptr && Indicator(ind) == -1) {
            p.Clear();
            continue;
        }
        const uint8_t* data = reinterpret_cast<const uint8_t*>(var.SqlData());
        const int16_t native = int16_t(var.SqlType() & ~1);
        switch (p.DataType()) {
            case ftString:
            case ftFixedChar: {
                std::string text;
                if (native == kVarying) {
                    const uint16_t n = Load<uint16_t>(data);
                    text.assign(reinterpret_cast<const char*>(data + 2), std::min<size_t>(n, size_t(var.SqlLen())));
                } else {
                    const size_t n = size_t(std::max<int16_t>(var.SqlLen(), 0));
                    text.assign(reinterpret_cast<const char*>(data), n);
                    text = text.substr(0, text.find('\0'));
                }
                if (trim) text = rtl::TrimRight(text);
                p.SetValue(rtl::Variant(text));
                break;
            }
            case ftFloat:
                p.SetValue(rtl::Variant(ScaledToDouble(var.SqlType(), var.SqlScale(), var.SqlLen(), data)));
                break;
            case ftBCD:
                p.SetValue(rtl::Variant::FromCurrency(ScaledToCurrency(var.SqlType(), var.SqlScale(), data)));
                break;
            case ftBoolean:
                p.SetValue(rtl::Variant(var.SqlLen() == 1 ? data[0] != 0 : Load<int16_t>(data) != 0));
                break;
            default:
                if (SetParamFromSlot(p, kOutputSlots[p.DataType()], data, var.SqlLen(), unpack)) break;
                if (IsBlobFieldType(server, p.DataType())) {
                    rtl::ByteArray bytes;
                    if (ReadBlobData(Load<ISC_QUAD>(data), bytes) > 0) {
                        if (p.DataType() == ftMemo || p.DataType() == ftFmtMemo)
                            p.SetValue(rtl::Variant(std::string(bytes.begin(), bytes.end())));
                        else
                            p.SetValue(rtl::Variant::FromBytes(std::move(bytes)));
                    }
                }
                break;
        }
    }
    rtl::Assert((in_ != nullptr ? in_->Sqld() : 0) == inputs,
                "TICustomIntCommand.CopyOutputParams: %d inputs bound, %d given", in_ != nullptr ? in_->Sqld() : 0,
                inputs);
}

// ---------------------------------------------------------------------------------------------
// Column values

bool TICustomIntCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    const uint8_t* cell = FieldCellOf(desc);
    if (Indicator(cell) == -1) return false;
    const TIntColumn& column = columns_[size_t(desc.FieldNo - 1)];
    const uint8_t* value = cell + kCellHeaderSize;
    auto* out = static_cast<uint8_t*>(dest);
    switch (desc.FieldType) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            TSDDateTimeRec rec;
            DecodeDateTime(desc.FieldType, value, rec.Bytes);
            StoreDateTimeRec(desc.FieldType, rec, out, destSize);
            return true;
        }
        case ftString: {
            if (destSize <= 0) return true;
            const uint16_t length = Load<uint16_t>(value - 2);
            size_t n = std::min<size_t>(length, size_t(destSize - 1));
            std::memcpy(out, value, n);
            // Only fixed-length values are padded by the server; a VARYING's blanks are its own.
            if (n > 0 && IntDatabase().RTrimCharOutput && column.Native == kText)
                while (n > 0 && out[n - 1] == ' ')
                    --n;
            out[n] = 0;
            return true;
        }
        case ftFloat:
            rtl::Assert(destSize >= 8, "TICustomIntCommand.GetCnvtFieldData: %d bytes for a float", destSize);
            Save(out, ScaledToDouble(column.Native, column.Scale, column.Length, value));
            return true;
        case ftBCD: {
            if (destSize < int32_t(sizeof(rtl::TBcd))) {
                // A destination that cannot hold a packed decimal asks for the number itself
                // (the command's own readers, GetFieldAsFloat): a double.
                rtl::Assert(destSize >= 8, "TICustomIntCommand.GetCnvtFieldData: %d bytes for a number", destSize);
                Save(out, ScaledToDouble(column.Native, column.Scale, column.Length, value));
                return true;
            }
            if (!StoreCurrencyAsBcd(ScaledToCurrency(column.Native, column.Scale, value), desc.Scale, out,
                                    destSize))
                rtl::DatabaseErrorFmt("Field '%s': value out of range", desc.FieldName);
            return true;
        }
        case ftBoolean: {
            // Firebird sends a BOOLEAN as one byte, InterBase as two; the engine reads two.
            const bool set = column.Length == 1 ? value[0] != 0 : Load<int16_t>(value) != 0;
            if (destSize >= 2) Save(out, int16_t(set ? 1 : 0));
            return true;
        }
        default: {
            int32_t indicator = 0;
            int32_t length = 0;
            GetCellHeader(cell, 0, indicator, length);
            std::memcpy(out, value, size_t(std::clamp(std::min(destSize, length), 0, INT32_MAX)));
            return true;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// BLOBs

int32_t TICustomIntCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    const uint8_t* cell = FieldCellOf(desc);
    if (Indicator(cell) == -1) return 0;
    const TIntColumn& column = columns_[size_t(desc.FieldNo - 1)];
    if (column.Native == kBlob) {
        rtl::Assert(desc.BlobIndex >= 0, "TICustomIntCommand.ReadBlob: field '%s'", desc.FieldName);
        const ISC_QUAD id = Load<ISC_QUAD>(FieldsBuffer->Data() + blobIdOffset_ + kBlobIdSize * desc.BlobIndex);
        return ReadBlobData(id, data);
    }
    // A long VARYING in its own buffer: the length before the characters.
    const uint16_t length = Load<uint16_t>(cell + kCellHeaderSize - 2);
    data.assign(cell + kCellHeaderSize, cell + kCellHeaderSize + std::min<size_t>(length, size_t(column.Length)));
    return int32_t(data.size());
}

namespace {

// Cancels (or closes) a BLOB that an error leaves open; results not checked: the error being
// raised is what the caller must see. It keeps nothing of the command, which a lost
// connection's handling may have freed by then, and calls nothing of a client let go since.
class TBlobGuard {
public:
    TBlobGuard(const TIntFunctions& fn, isc_blob_handle& blob) : fn_(fn), blob_(blob) {}
    ~TBlobGuard() {
        if (blob_ == 0) return;
        ISC_STATUS status[ISC_STATUS_LENGTH] = {};
        if (fn_.isc_cancel_blob != nullptr)
            fn_.isc_cancel_blob(status, &blob_);
        else if (fn_.isc_close_blob != nullptr)
            fn_.isc_close_blob(status, &blob_);
    }
    TBlobGuard(const TBlobGuard&) = delete;
    TBlobGuard& operator=(const TBlobGuard&) = delete;

private:
    const TIntFunctions& fn_;
    isc_blob_handle& blob_;
};

}  // namespace

int32_t TICustomIntCommand::ReadBlobData(const ISC_QUAD& blobId, rtl::ByteArray& data) {
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    data.clear();
    isc_blob_handle blob = 0;
    ISC_QUAD id = blobId;
    CheckCommandStatus(fn.isc_open_blob(status_.data(), db.GetDBHandle(), db.GetTRHandle(), &blob, &id));
    TBlobGuard guard(fn, blob);
    char item = isc_info_blob_total_length;
    char answer[kBlobInfoAnswerSize] = {};
    CheckCommandStatus(fn.isc_blob_info(status_.data(), &blob, 1, &item, kBlobInfoAnswerSize, answer));
    int64_t total = 0;
    if (!IntInfoItem(reinterpret_cast<const uint8_t*>(answer), kBlobInfoAnswerSize, isc_info_blob_total_length, total))
        total = 0;
    if (total > 0) data.reserve(std::min<size_t>(size_t(total), kMaxBlobReserve));
    // Read to the end whatever the length said: a BLOB is never cut to an announced size.
    char segment[kSegmentSize];
    for (;;) {
        unsigned short got = 0;
        const ISC_STATUS r = fn.isc_get_segment(status_.data(), &blob, &got, kSegmentSize, segment);
        if (r != 0 && status_[1] == isc_segstr_eof) break;
        if (r != 0 && status_[1] != isc_segment) CheckCommandStatus(r);
        data.insert(data.end(), segment, segment + std::min<size_t>(got, kSegmentSize));
    }
    const ISC_STATUS closed = fn.isc_close_blob(status_.data(), &blob);
    CheckCommandStatus(closed);
    if (data.size() > size_t(INT32_MAX)) rtl::DatabaseError("BLOB too large");
    return int32_t(data.size());
}

int32_t TICustomIntCommand::WriteBlobData(ISC_QUAD& blobId, const uint8_t* data, size_t length) {
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    if (length > size_t(INT32_MAX)) rtl::DatabaseError("BLOB too large");
    blobId = ISC_QUAD{};
    isc_blob_handle blob = 0;
    CheckCommandStatus(fn.isc_create_blob(status_.data(), db.GetDBHandle(), db.GetTRHandle(), &blob, &blobId));
    TBlobGuard guard(fn, blob);
    for (size_t offset = 0; offset < length; offset += kSegmentSize) {
        const auto n = static_cast<unsigned short>(std::min<size_t>(kSegmentSize, length - offset));
        CheckCommandStatus(
            fn.isc_put_segment(status_.data(), &blob, n, reinterpret_cast<const ISC_SCHAR*>(data + offset)));
    }
    CheckCommandStatus(fn.isc_close_blob(status_.data(), &blob));
    rtl::Assert(blob == 0, "TICustomIntCommand.WriteBlobData: BLOB handle left open");
    return int32_t(length);
}

// ---------------------------------------------------------------------------------------------
// Stored procedures

void TICustomIntCommand::PrepareProcedure(std::string& serverText) {
    TICustomIntDatabase& db = IntDatabase();
    if (Params != nullptr && Params->Count() == 0) InitParamList();
    std::string markers;
    int outputs = 0;
    for (int i = 0; i < GetParamCount(); ++i) {
        const TParam& p = (*Params)[i];
        if (p.ParamType() == ptInput)
            markers += markers.empty() ? " ?" : ", ?";
        else if (p.ParamType() == ptOutput)
            ++outputs;
        else
            rtl::Assert(false, "TICustomIntCommand.DoPrepare: parameter '%s' of type %d", p.Name(),
                        int32_t(p.ParamType()));
    }
    serverText = "Execute Procedure " + ProcedureStatementName(CommandText, db.SqlDialect()) + markers;
    out_ = std::make_unique<TIntSqlda>(DescriptorVersion(), outputs);
    CheckCommandStatus(db.Functions().isc_dsql_prepare(status_.data(), db.GetTRHandle(), stmt_.get(), 0,
                                                       serverText.c_str(), uint16_t(db.SqlDialect()), out_->Get()));
    rtl::Assert(out_->Sqld() == out_->Sqln(), "TICustomIntCommand.DoPrepare: %d outputs described, %d expected",
                out_->Sqld(), out_->Sqln());
}

void TICustomIntCommand::InitParamList() {
    TICustomIntDatabase& db = IntDatabase();
    const TIntFunctions& fn = db.Functions();
    if (stmt_ == nullptr) AllocStatement();
    const int dialect = db.SqlDialect();
    const std::string name = NormalizeIntName(CommandText, dialect);
    if (dialect == 1) CheckPlainName(name);
    std::string markers;
    int inputs = 0;
    int outputs = 0;
    {
        TISqlCommandPtr catalog = db.CreateSqlCommand(nullptr);
        catalog->Prepare(
            "SELECT RDB$PARAMETER_NAME,  RDB$PARAMETER_TYPE FROM RDB$PROCEDURE_PARAMETERS WHERE RDB$PROCEDURE_NAME = " +
            rtl::QuotedStr(name) + " ORDER BY RDB$PARAMETER_NUMBER");
        catalog->Execute();
        while (catalog->FetchNextRow()) {
            std::string parameter;
            catalog->GetFieldAsString(1, parameter);
            int16_t type = 0;
            rtl::Assert(catalog->GetFieldAsSmallint(2, type), "TICustomIntCommand.InitParamList: parameter type NULL");
            if (type == 0) {
                AddParam(rtl::Trim(parameter), ftUnknown, ptInput);
                markers += markers.empty() ? "?" : ", ?";
                ++inputs;
            } else if (type == 1) {
                ++outputs;
            }
        }
    }
    TIntSqlda output(SQLDA_VERSION1, outputs);
    const std::string text = "Execute Procedure " + QuoteIntName(CommandText, dialect) + " " + markers;
    CheckCommandStatus(
        fn.isc_dsql_prepare(status_.data(), db.GetTRHandle(), stmt_.get(), 0, text.c_str(), uint16_t(dialect), output.Get()));
    rtl::Assert(output.Sqld() == outputs, "TICustomIntCommand.InitParamList: %d outputs described, %d found",
                output.Sqld(), outputs);
    for (int i = 0; i < outputs; ++i) {
        TSQLVAR var;
        var.Assign(output, i);
        AddParam(var.SqlName().substr(0, 32), EntryFieldType(var), ptOutput);
    }
    TIntSqlda input(SQLDA_VERSION1, inputs);
    CheckCommandStatus(fn.isc_dsql_describe_bind(status_.data(), stmt_.get(), uint16_t(dialect), input.Get()));
    rtl::Assert(input.Sqld() == inputs, "TICustomIntCommand.InitParamList: %d inputs described, %d found", input.Sqld(),
                inputs);
    for (int i = 0; i < inputs; ++i) {
        TSQLVAR var;
        var.Assign(input, i);
        (*Params)[i].SetDataType(EntryFieldType(var));
    }
}
