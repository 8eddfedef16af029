// database/odbc/SDOdbcFetch.cpp: the ODBC driver's command (unit SDOdbc), its result side: the
// row buffer and its binding, single-row and block fetching, cell conversion, long data read
// in pieces, further result sets, output parameters and the statement's end.
//
// Row layout: each column's cell starts on an 8-byte boundary (the 64-bit length-or-indicator
// first, the data at offset 8); a row is a multiple of 8 bytes, so in block mode the driver
// manager finds row r's cells at r * row size with row-wise binding.
#include <algorithm>
#include <cstring>
#include <limits>

#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonValues.h"
#include "database/odbc/SDOdbc.h"
#include "database/odbc/SDOdbcCells.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace odbcapi;
using namespace odbccells;

namespace {

// What an output parameter reads back from its converted cell (the engine's layout): a word, a
// decimal or a long value has no output value here.
constexpr TSDSlotMap kOutputSlots =
    kEngineSlots.Only({ftString, ftFixedChar, ftSmallint, ftBoolean, ftInteger, ftAutoInc, ftFloat,
                       ftCurrency, ftLargeint, ftDate, ftTime, ftDateTime});

}  // namespace

int64_t OdbcIntervalToScaled(int16_t intervalType, const uint8_t* interval) {
    const uint8_t* v = interval + 8;
    __int128 scaled;
    if (intervalType == SQL_INTERVAL_YEAR_TO_MONTH) {
        scaled = (__int128(Read32(v)) * 100 + Read32(v + 4)) * 100000000 * 10000;
    } else {
        // days * 1000000 + hours * 10000 + minutes * 100 + seconds + fraction / 1000000, times 10000
        scaled = __int128(Read32(v)) * 10000000000LL + __int128(Read32(v + 4)) * 100000000 +
                 __int128(Read32(v + 8)) * 1000000 + __int128(Read32(v + 12)) * 10000 + Read32(v + 16) / 100;
    }
    if (scaled > std::numeric_limits<int64_t>::max()) rtl::DatabaseError("Interval value out of range");
    return int64_t(scaled);
}

bool OdbcExactNumericIsBcd(bool enableBcd, int16_t sqlType, uint64_t precision, int16_t scale) {
    // A currency amount holds 922337203685477.5807 at most: fourteen integer digits always fit.
    return enableBcd && (sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL) && scale >= 1 && scale <= 4 &&
           precision >= uint64_t(scale) && precision - uint64_t(scale) <= 14;
}

bool OdbcDecimalTextToScaled(std::string_view text, int64_t& scaled) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    __int128 value = 0;
    int digits = 0;
    int places = -1;  // -1 before the point
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && places < 0) {
            places = 0;
            continue;
        }
        if (c < '0' || c > '9') break;
        ++digits;
        if (places >= 4) continue;  // past the fourth place: cut off
        value = value * 10 + (c - '0');
        if (places >= 0) ++places;
        if (value > std::numeric_limits<int64_t>::max()) return false;
    }
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (digits == 0 || i != text.size()) return false;
    for (int p = std::max(places, 0); p < 4; ++p)
        value *= 10;
    if (value > std::numeric_limits<int64_t>::max()) return false;
    scaled = negative ? -int64_t(value) : int64_t(value);
    return true;
}

std::string OdbcScaledToDecimalText(int64_t scaled, int& precision, int& places) {
    const bool negative = scaled < 0;
    const uint64_t mag = negative ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string whole = std::to_string(mag / 10000);
    std::string fraction = std::to_string(mag % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    places = int(fraction.size());
    precision = int(whole == "0" ? 0 : whole.size()) + places;
    if (precision == 0) precision = 1;
    std::string text = negative ? "-" + whole : whole;
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

// ---------------------------------------------------------------------------------------------
// Row buffer

int32_t TICustomOdbcCommand::GetFieldsBufferSize() {
    // Cells on 8-byte boundaries: the 64-bit indicator heads each cell, and a block fetch
    // finds row r at r * row size.
    rowSize_ = LayOutFieldCells(8);
    truncationChecksPlanned_ = false;  // planned again for the new layout
    int64_t size = rowSize_;
    const int32_t prefetch = OdbcDatabase().PrefetchRows;
    if (BlobFieldCount == 0 && prefetch > 1 && stmt_ != nullptr) {
        TICustomOdbcDatabase& db = OdbcDatabase();
        rowStatus_.assign(size_t(prefetch), SQL_ROW_NOROW);
        rowsFetched_ = 0;
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, SQLULEN(rowSize_), 0));
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, SQLULEN(prefetch), 0));
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR,
                                 reinterpret_cast<uintptr_t>(rowStatus_.data()), 0));
        CheckStmt(
            db.SetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, reinterpret_cast<uintptr_t>(&rowsFetched_), 0));
        blockFetching_ = true;
        blockLoaded_ = false;
        rowsPerFetch_ = prefetch;
        currentRow_ = 0;
        size = int64_t(rowSize_) * prefetch;
    }
    if (size > std::numeric_limits<int32_t>::max()) rtl::DatabaseError("Row buffer too large");
    return int32_t(size);
}

TSDBuffer* TICustomOdbcCommand::GetFieldsBuffer() {
    return FieldsBuffer.get();
}

void TICustomOdbcCommand::SetFieldsBuffer() {
    rtl::Assert(FieldsBuffer != nullptr, "TICustomOdbcCommand.SetFieldsBuffer: no row buffer");
    const TSDServerType server = OdbcDatabase().GetServerType();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo <= 0) continue;
        const bool boundLong = IsBoundLongField(d);
        const int32_t cType = IsIntervalField(d) ? d.NativeType
                              : boundLong        ? NativeDataType(FieldDataType(d.NativeType))
                                                 : NativeDataType(d.FieldType);
        if (cType == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (d.FieldNo > resultColumns_) continue;  // computed by the command, not bound
        uint8_t* cell = FieldsBuffer->Data() + FieldOffsets[size_t(d.FieldNo - 1)];
        if (IsBlobFieldType(server, d.FieldType) && !boundLong)
            CheckStmt(Fn().SQLBindCol(stmt_, SQLUSMALLINT(d.FieldNo), SQLSMALLINT(cType), nullptr, 0,
                                      IndicatorOf(cell)));
        else
            CheckStmt(Fn().SQLBindCol(stmt_, SQLUSMALLINT(d.FieldNo), SQLSMALLINT(cType),
                                      cell + kCellHeaderSize, d.DataSize, IndicatorOf(cell)));
    }
    PlanTruncationChecks();
}

void TICustomOdbcCommand::FreeRowBuffer(bool check) {
    TICustomOdbcDatabase& db = OdbcDatabase();
    if (stmt_ != nullptr) {
        const SQLRETURN rc = Fn().SQLFreeStmt(stmt_, SQL_UNBIND);
        if (check) CheckStmt(rc);
    }
    currentRow_ = 0;
    rowSize_ = 0;
    if (blockFetching_ && stmt_ != nullptr) {
        const SQLRETURN rcs[4] = {
            db.SetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0),
            db.SetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, 1, 0),
            db.SetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, 0, 0),
            db.SetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, 0, 0),
        };
        if (check)
            for (SQLRETURN rc : rcs)
                CheckStmt(rc);
    }
    blockFetching_ = false;
    blockLoaded_ = false;
    rowsPerFetch_ = 1;
    rowStatus_.clear();
    rowsFetched_ = 0;
    truncationChecks_.clear();
    truncationChecksPlanned_ = false;
    TISqlCommand::FreeFieldsBuffer();
}

void TICustomOdbcCommand::FreeFieldsBuffer() {
    FreeRowBuffer(true);
}

// ---------------------------------------------------------------------------------------------
// Fetching

bool TICustomOdbcCommand::DoFetchNextRow() {
    odbcDatabase_->MarkActivity();
    if (FieldDescs->Count() == 0) return false;
    bool row = false;
    if (!blockFetching_) {
        const SQLRETURN rc = Fn().SQLFetch(stmt_);
        if (Succeeded(rc))
            row = true;
        else if (rc != SQL_NO_DATA)
            CheckStmt(rc);
    } else {
        for (;;) {
            if (blockLoaded_ && currentRow_ + 1 < rowsPerFetch_) {
                ++currentRow_;
                const SQLUSMALLINT status =
                    SQLULEN(currentRow_) < rowsFetched_ ? rowStatus_[size_t(currentRow_)] : SQL_ROW_NOROW;
                if (status == SQL_ROW_NOROW) {
                    if (currentRow_ < rowsPerFetch_ - 1) break;  // the end of the data
                } else if (status == SQL_ROW_ERROR) {
                    RaiseRowError();
                } else if (status != SQL_ROW_DELETED) {
                    row = true;
                    break;
                } else {
                    continue;  // a row deleted since the block was read
                }
            }
            const SQLRETURN rc = Fn().SQLFetch(stmt_);
            if (rc == SQL_NO_DATA) {
                blockLoaded_ = false;
                break;
            }
            if (!Succeeded(rc)) CheckStmt(rc);
            blockLoaded_ = true;
            currentRow_ = 0;
            const SQLUSMALLINT status = rowsFetched_ > 0 ? rowStatus_[0] : SQL_ROW_NOROW;
            if (status == SQL_ROW_ERROR) RaiseRowError();
            if (status == SQL_ROW_DELETED) continue;
            if (status == SQL_ROW_NOROW) {
                blockLoaded_ = false;
                break;
            }
            row = true;
            break;
        }
    }
    if (!row) {
        ReleaseConnection();
        return false;
    }
    RowArrived();
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

void TICustomOdbcCommand::PlanTruncationChecks() {
    truncationChecks_.clear();
    const TSDServerType server = OdbcDatabase().GetServerType();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (d.FieldNo <= 0 || d.FieldNo > resultColumns_) continue;
        const bool text = IsCharCType(d.FieldType);
        const bool binary =
            (d.FieldType == ftBytes || d.FieldType == ftVarBytes) && !IsBlobFieldType(server, d.FieldType);
        if (text || binary) truncationChecks_.push_back({i, d.FieldNo, d.DataSize - (text ? 1 : 0)});
    }
    truncationChecksPlanned_ = true;
}

void TICustomOdbcCommand::RowArrived() {
    FillComputedColumns();
    if (!truncationChecksPlanned_) PlanTruncationChecks();
    for (const TruncationCheck& check : truncationChecks_) {
        // A value longer than its cell must not be passed on cut short.
        const SQLLEN ind = OdbcCellIndicator(CurrentCell(check.fieldNo));
        if (ind == SQL_NO_TOTAL || ind > check.capacity)
            OdbcDatabase().RaiseError(
                0, 0, false, "01004",
                rtl::Format("String data, right truncated: the value of field '%s' is longer "
                            "than its %d bytes",
                            FieldDescs->GetFieldDesc(check.descIndex).FieldName, int64_t(check.capacity)));
    }
}

void TICustomOdbcCommand::RaiseRowError() {
    // The rows of a block carry only a status; the diagnostics of the fetch that read the
    // block tell what went wrong, one record per failed row (besides the general "01S01").
    struct Record {
        std::string state;
        std::string message;
        int32_t native = 0;
        SQLLEN row = -1;
    };
    std::vector<Record> records;
    TOdbcFunctions& fn = Fn();
    if (fn.SQLGetDiagRec != nullptr) {
        for (SQLSMALLINT rec = 1; rec < 100; ++rec) {
            SQLCHAR state[6] = {};
            SQLCHAR text[1001] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!Succeeded(
                    fn.SQLGetDiagRec(SQL_HANDLE_STMT, stmt_, rec, state, &native, text, 1000, &length)))
                break;
            Record r{PCharToString(reinterpret_cast<const char*>(state)),
                     PCharToString(reinterpret_cast<const char*>(text)), native, -1};
            if (fn.SQLGetDiagField != nullptr)
                fn.SQLGetDiagField(SQL_HANDLE_STMT, stmt_, rec, SQL_DIAG_ROW_NUMBER, &r.row, 0, nullptr);
            records.push_back(std::move(r));
        }
    }
    const SQLLEN thisRow = currentRow_ + 1;
    const Record* chosen = nullptr;
    auto pick = [&](auto accept) {
        for (const Record& r : records)
            if (chosen == nullptr && accept(r)) chosen = &r;
    };
    pick([&](const Record& r) { return r.row == thisRow && r.state != "01S01"; });
    pick([&](const Record& r) { return r.state != "01S01"; });
    pick([](const Record&) { return true; });
    Record fallback{"01S01", rtl::Format("Error in row %d of the fetched block", int64_t(thisRow)), 0,
                    thisRow};
    if (chosen == nullptr) chosen = &fallback;
    const int32_t code = static_cast<int32_t>(chosen->native);
    OdbcDatabase().RaiseError(code, code,
                              OdbcConnectionLostState(chosen->state, OdbcDatabase().GetDbmsDescription()),
                              chosen->state, chosen->message);
    // The compiler cannot see that a virtual [[noreturn]] call does not return.
    throw rtl::EAssertionFailed("TICustomOdbcCommand.RaiseRowError: RaiseError returned");
}

// ---------------------------------------------------------------------------------------------
// Cell conversion

namespace {

// The day number of the year, month and day that start a date or time-stamp structure;
// EncodeDate's error for a date that does not exist. Every month has 28 days: only later days
// ask the calendar.
int32_t OdbcDayNumber(const uint8_t* data) {
    const int year = int16_t(Read16(data)), month = Read16(data + 2), day = Read16(data + 4);
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        (day > 28 && day > rtl::DaysInMonth(year, month)))
        rtl::EncodeDate(year, month, day);  // raises its error
    return rtl::DayNumberOfDate(year, month, day);
}

}  // namespace

bool TICustomOdbcCommand::ConvertCodedCell(int16_t nativeType, TFieldType fieldType, void* dest,
                                           int32_t destSize, const uint8_t* cell, int32_t cellSize,
                                           bool& present) {
    const SQLLEN ind = OdbcCellIndicator(cell);
    const uint8_t* data = cell + kCellHeaderSize;
    auto* out = static_cast<uint8_t*>(dest);
    present = true;
    switch (fieldType) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            if (ind == 0) {
                present = false;
                return true;
            }
            TSDDateTimeRec rec;
            if (fieldType == ftDate) {
                rec = TSDDateTimeRec::FromDate(OdbcDayNumber(data));
            } else if (fieldType == ftTime) {
                rec = TSDDateTimeRec::FromTime(int32_t(
                    (int64_t(Read16(data)) * 3600 + Read16(data + 2) * 60 + Read16(data + 4)) * 1000));
            } else {
                rtl::TTimeStamp ts;
                ts.Date = OdbcDayNumber(data);
                ts.Time = int32_t(
                    (int64_t(Read16(data + 6)) * 3600 + Read16(data + 8) * 60 + Read16(data + 10)) * 1000);
                rec = TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(ts) + Read32(data + 12) / 1000000);
            }
            std::memcpy(out, rec.Bytes, size_t(std::min<int32_t>(destSize, int32_t(sizeof rec.Bytes))));
            return true;
        }
        case ftGuid: {
            char text[38];
            GuidToChars(data, 16, text, int(sizeof text));
            rtl::Assert(destSize >= 38, "TICustomOdbcCommand.GetCnvtFieldData: GUID destination too small");
            std::memcpy(out, text, 38);
            if (destSize > 38) out[38] = 0;
            return true;
        }
        case ftBCD:
            if (IsIntervalType(nativeType)) {
                if (!StoreCurrencyAsBcd(OdbcIntervalToScaled(nativeType, data), 4, out, destSize))
                    rtl::DatabaseError("Interval value out of range");
                return true;
            }
            if (nativeType == SQL_NUMERIC || nativeType == SQL_DECIMAL) {
                // Fetched as decimal text, so that no digit passes through a double.
                const int32_t length =
                    ind < 0 ? 0 : int32_t(std::min<SQLLEN>(ind, std::max(cellSize - 1, 0)));
                const std::string_view text(reinterpret_cast<const char*>(data), size_t(length));
                int64_t scaled = 0;
                if (!OdbcDecimalTextToScaled(text, scaled) || !StoreCurrencyAsBcd(scaled, 4, out, destSize))
                    rtl::DatabaseErrorFmt("Numeric value '%s' out of range", std::string(text));
                return true;
            }
            return false;
        default:
            return false;
    }
}

// Runs once per column of every row, inlined into its callers: texts and the types bound in
// the engine's own layout (numbers, bytes) are copied here; dates, GUIDs and decimals are
// converted by ConvertCodedCell.
[[gnu::always_inline]] inline bool TICustomOdbcCommand::ConvertCell(int16_t nativeType, TFieldType fieldType,
                                                                    bool fixedChar, void* dest,
                                                                    int32_t destSize, const uint8_t* cell,
                                                                    int32_t cellSize) {
    const SQLLEN ind = OdbcCellIndicator(cell);
    if (ind == SQL_NULL_DATA) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    auto* out = static_cast<uint8_t*>(dest);
    switch (fieldType) {
        case ftString:
        case ftFixedChar: {
            const int32_t capacity = std::max(cellSize - 1, 0);
            const int32_t available = ind < 0 ? capacity : int32_t(std::min<SQLLEN>(ind, capacity));
            // Only fixed-length columns are padded by the server; the blanks of a varying
            // column are the value's own.
            StoreTextSlot(out, destSize, data, size_t(available),
                          fixedChar && OdbcDatabase().RTrimCharOutput);
            return true;
        }
        case ftDate:
        case ftTime:
        case ftDateTime:
        case ftGuid:
        case ftBCD: {
            bool present = false;
            if (ConvertCodedCell(nativeType, fieldType, dest, destSize, cell, cellSize, present))
                return present;
            break;
        }
        default:
            break;
    }
    // The types the driver reads in the engine's layout as they are: every type
    // RequiredCnvtFieldType names was converted above. Numbers take a copy of their own size.
    const int32_t available = ind < 0 ? cellSize : int32_t(std::min<SQLLEN>(ind, cellSize));
    const int32_t n = std::max(0, std::min(available, destSize));
    if (n == 4)
        std::memcpy(out, data, 4);
    else if (n == 8)
        std::memcpy(out, data, 8);
    else
        std::memcpy(out, data, size_t(n));
    return true;
}

bool TICustomOdbcCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    return ConvertCell(desc.NativeType, desc.FieldType, desc.IsFixedChar, dest, destSize,
                       CurrentCell(desc.FieldNo), desc.DataSize);
}

void TICustomOdbcCommand::GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) {
    for (size_t i = 0; i < count; ++i) {
        const TSDFieldDesc& desc = *cells[i].Desc;
        uint8_t* p = record + cells[i].Slot;
        p[0] = ConvertCell(desc.NativeType, desc.FieldType, desc.IsFixedChar, p + 1, cells[i].Limit,
                           CurrentCell(desc.FieldNo), desc.DataSize)
                   ? 1
                   : 0;
    }
}

int32_t TICustomOdbcCommand::CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value,
                                                     uint8_t* buffer, int32_t bufferSize) {
    if (bufferSize < NativeDataSize(fieldType))
        rtl::DatabaseError("Insufficient buffer size for internal datetime type");
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    switch (fieldType) {
        case ftDate:
            rtl::DecodeDate(value, year, month, day);
            Write16(buffer, uint16_t(year));
            Write16(buffer + 2, uint16_t(month));
            Write16(buffer + 4, uint16_t(day));
            return kDateStructSize;
        case ftTime:
            rtl::DecodeTime(value, hour, minute, second, msec);
            Write16(buffer, uint16_t(hour));
            Write16(buffer + 2, uint16_t(minute));
            Write16(buffer + 4, uint16_t(second));
            return kTimeStructSize;
        case ftDateTime:
            rtl::DecodeDate(value, year, month, day);
            rtl::DecodeTime(value, hour, minute, second, msec);
            Write16(buffer, uint16_t(year));
            Write16(buffer + 2, uint16_t(month));
            Write16(buffer + 4, uint16_t(day));
            Write16(buffer + 6, uint16_t(hour));
            Write16(buffer + 8, uint16_t(minute));
            Write16(buffer + 10, uint16_t(second));
            Write32(buffer + 12, uint32_t(msec) * 1000000u);
            return kTimestampStructSize;
        default:
            return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Long data

int32_t TICustomOdbcCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    data.clear();
    const bool boundLong = IsBoundLongField(desc);
    const TFieldType cellType = boundLong ? FieldDataType(desc.NativeType) : desc.FieldType;
    if (boundLong) {
        const uint8_t* cell = CurrentCell(desc.FieldNo);
        const SQLLEN ind = OdbcCellIndicator(cell);
        if (ind == SQL_NULL_DATA) return 0;
        const SQLLEN capacity = desc.DataSize - (IsCharCType(cellType) ? 1 : 0);
        if (ind >= 0 && ind <= capacity) {
            data.assign(cell + kCellHeaderSize, cell + kCellHeaderSize + ind);
            return int32_t(ind);
        }
        // The cell holds only the start of a longer value: the whole value is read below.
    }
    const SQLSMALLINT cType = SQLSMALLINT(NativeDataType(cellType));
    const bool text = cType == SQL_C_CHAR;
    const SQLLEN terminator = text ? 1 : 0;
    try {
        // A first tiny read tells whether there is a value and, usually, how long it is; the
        // rest follows in one read of that size, or in pieces when the size is not known. A
        // read that still reports more data is followed by another, so nothing is cut.
        std::vector<uint8_t> buffer(size_t(1 + terminator));
        for (;;) {
            SQLLEN ind = 0;
            const SQLRETURN rc = Fn().SQLGetData(stmt_, SQLUSMALLINT(desc.FieldNo), cType, buffer.data(),
                                                 SQLLEN(buffer.size()), &ind);
            if (rc == SQL_NO_DATA) break;
            if (!Succeeded(rc)) CheckStmt(rc);
            if (ind == SQL_NULL_DATA) {
                data.clear();
                return 0;
            }
            const SQLLEN room = SQLLEN(buffer.size()) - terminator;
            SQLLEN got;
            if (rc == SQL_SUCCESS)
                got = std::min(ind, room);
            else if (text)
                got = SQLLEN(strnlen(reinterpret_cast<const char*>(buffer.data()), size_t(room)));
            else
                got = room;
            data.insert(data.end(), buffer.begin(), buffer.begin() + got);
            if (rc == SQL_SUCCESS) break;
            SQLLEN next = pieceSize_;
            if (ind != SQL_NO_TOTAL && ind > got) next = std::min<SQLLEN>(ind - got, SQLLEN(1) << 28);
            buffer.assign(size_t(next + terminator), 0);
        }
    } catch (...) {
        data.clear();
        throw;
    }
    if (data.size() > size_t(std::numeric_limits<int32_t>::max())) {
        data.clear();
        rtl::DatabaseErrorFmt("Value of field '%s' is too long", desc.FieldName);
    }
    return int32_t(data.size());
}

// ---------------------------------------------------------------------------------------------
// Results and the statement's end

bool TICustomOdbcCommand::ResultSetExists() {
    if (CommandType != 0) return true;
    TakeConnection();
    RePrepareIfNeeded();
    return SearchResultColumns() > 0;
}

bool TICustomOdbcCommand::NextResultSet() {
    if (noMoreResults_ || stmt_ == nullptr) return false;
    const SQLRETURN rc = Fn().SQLMoreResults(stmt_);
    if (rc == SQL_NO_DATA) {
        noMoreResults_ = true;
        return false;
    }
    CheckStmt(rc);
    if (FieldsBuffer) FreeFieldsBuffer();
    furtherResultSet_ = true;
    return true;
}

int32_t TICustomOdbcCommand::GetRowsAffected() {
    if (noRows_) return 0;
    SQLLEN count = 0;
    CheckStmt(Fn().SQLRowCount(stmt_, &count));
    return int32_t(
        std::clamp<SQLLEN>(count, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

void TICustomOdbcCommand::GetOutputParams() {
    RequestFetchAll();
    while (NextResultSet()) {
    }
    if (Params != nullptr && ParamsBuffer) {
        int64_t offset = 0;
        const int32_t size = MaxCharParamLen + 1;
        std::vector<uint8_t> buffer(size_t(std::max(size, 64)));
        for (int i = 0; i < Params->Count(); ++i) {
            TParam& p = (*Params)[i];
            const int32_t dataSize = ParamDataSize(p);
            const uint8_t* cell = ParamsBuffer->Data() + offset;
            offset += Align8(int64_t(dataSize) + kCellHeaderSize);
            if (!IsOutputParam(p.ParamType())) continue;
            if (OdbcCellIndicator(cell) == SQL_NULL_DATA) {
                p.Clear();
                continue;
            }
            std::fill(buffer.begin(), buffer.end(), 0);
            const SQLLEN ind = OdbcCellIndicator(cell);
            ConvertCell(SqlDataType(p.DataType()), p.DataType(), false, buffer.data(), size, cell, dataSize);
            const uint8_t* b = buffer.data();
            switch (p.DataType()) {
                case ftGuid:
                    p.SetValue(rtl::Variant(std::string(reinterpret_cast<const char*>(b), 38)));
                    break;
                case ftBytes:
                case ftVarBytes: {
                    const size_t n = size_t(std::clamp<SQLLEN>(ind, 0, std::min(dataSize, size)));
                    p.SetValue(rtl::Variant::FromBytes(rtl::ByteArray(b, b + n)));
                    break;
                }
                default:
                    // A type the map leaves out keeps the value it had.
                    SetParamFromSlot(p, kOutputSlots[p.DataType()], b, size - 1, UnpackEngineDateTime);
                    break;
            }
        }
    }
    ReleaseConnection();
}

void TICustomOdbcCommand::CloseResultSet() {
    noMoreResults_ = false;
    if (furtherResultSet_) {
        ClearFieldDescs();
        return;
    }
    if (blockFetching_) {
        currentRow_ = 0;
        rowsFetched_ = 0;
        blockLoaded_ = false;
    }
    if (stmt_ != nullptr && odbcDatabase_->GetHandle() != nullptr) Fn().SQLFreeStmt(stmt_, SQL_CLOSE);
    ReleaseConnection();
}

void TICustomOdbcCommand::Cancel() {
    if (stmt_ != nullptr) CheckStmt(Fn().SQLCancel(stmt_));
}

void TICustomOdbcCommand::Disconnect(bool force) {
    // Once the connection is gone its statements went with it: only forget them.
    const bool connected = odbcDatabase_->GetHandle() != nullptr;
    if (!connected) {
        stmt_ = nullptr;
        blockFetching_ = false;
    }
    if (FieldsBuffer) FreeRowBuffer(!force && connected);
    ReleaseConnection();
    furtherResultSet_ = false;
    executed_ = false;
    noMoreResults_ = false;
    if (stmt_ == nullptr) return;
    TICustomOdbcDatabase& db = OdbcDatabase();
    const SQLRETURN rc = Fn().SQLFreeStmt(stmt_, SQL_CLOSE);
    try {
        if (!force) CheckStmt(rc);
    } catch (...) {
        db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt_);
        stmt_ = nullptr;
        throw;
    }
    db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = nullptr;
}
