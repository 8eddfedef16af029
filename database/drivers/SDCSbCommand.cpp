// database/drivers/SDCSbCommand.cpp: the SQLBase driver's command (part of unit SDCSb).
//
// A command moves from no cursor, to a cursor opened and set up (OpenCursor), to a statement
// compiled or a procedure retrieved (its field descriptions built), to executed (the
// row-fetched flag clear), to rows fetched, to its bind variables cleared (CloseResultSet),
// to its cursor released (Disconnect). Statements without parameters run with one sqlcex;
// with parameters they are compiled, bound by name and executed.
//
// Row cells start on 8-byte boundaries: the client writes each select item's length and
// fetch status into the two 32-bit words of its cell header.
#include <algorithm>
#include <cstring>

#include "database/drivers/SDCSb.h"
#include "database/engine/SDCommonSlots.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace csbapi;

namespace {

const TCsbFunctions& Csb() {
    return CsbFunctions();
}

// The name buffer of a column description: ParamValue(13) x 3 + 1 bytes, all but one usable.
constexpr int kColumnNameBuffer = 18 * 3 + 1;
constexpr int kColumnNameUsable = kColumnNameBuffer - 1;
// Names longer than this are not asked about with sqlgdi.
constexpr int kDescribeInfoNameLimit = 47;

// What the client binds in the engine's shapes (dates in its internal form), and the sizes of
// their values.
constexpr TSDSlotMap kSlots = kEngineSlots.Only({ftString, ftFixedChar, ftSmallint, ftWord, ftBoolean,
                                                 ftInteger, ftFloat, ftCurrency, ftDate, ftTime, ftDateTime});
// The types a parameter's value is written for.
constexpr TSDSlotMap kParamSlots = kSlots.Only(
    {ftString, ftFixedChar, ftSmallint, ftInteger, ftFloat, ftCurrency, ftDate, ftTime, ftDateTime});

// Reads `count` decimal digits at text[at]; false when one is missing.
bool ReadNumber(const std::string& text, size_t& at, size_t count, int& value) {
    value = 0;
    for (size_t i = 0; i < count; ++i, ++at) {
        if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

bool Expect(const std::string& text, size_t& at, char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

// "dd.mm.yyyy" at `at`.
bool ReadDate(const std::string& text, size_t& at, int& day, int& month, int& year) {
    return ReadNumber(text, at, 2, day) && Expect(text, at, '.') && ReadNumber(text, at, 2, month) &&
           Expect(text, at, '.') && ReadNumber(text, at, 4, year);
}

// "hh:nn:ss" at `at`.
bool ReadTime(const std::string& text, size_t& at, int& hour, int& minute, int& second) {
    return ReadNumber(text, at, 2, hour) && Expect(text, at, ':') && ReadNumber(text, at, 2, minute) &&
           Expect(text, at, ':') && ReadNumber(text, at, 2, second);
}

}  // namespace

const char* CsbDatePicture(TFieldType fieldType) {
    switch (fieldType) {
        case ftDate:
            return "dd.mm.yyyy";
        case ftTime:
            return "hh:mi:ss.9999999";
        case ftDateTime:
            return "dd.mm.yyyy hh:mi:ss.9999999";
        default:
            return "";
    }
}

int32_t CsbDateTextLength(TFieldType fieldType) {
    switch (fieldType) {
        case ftDate:
            return 10;
        case ftTime:
            return 15;
        case ftDateTime:
            return 26;
        default:
            return 0;
    }
}

TICsbCommand::TICsbCommand(TICsbDatabase* database, rtl::Component* owner) : TISqlCommand(database, owner) {
    pieceSize_ = std::min<int32_t>(database->BlobPieceSize, 32752);
}

TICsbCommand::~TICsbCommand() {
    try {
        Disconnect(false);
    } catch (const std::exception&) {
        // A cursor that cannot be released has nobody left to report to.
    }
}

TICsbDatabase& TICsbCommand::CsbDatabase() const {
    return static_cast<TICsbDatabase&>(GetSqlDatabase());
}

SQLTCUR TICsbCommand::Cursor() const {
    rtl::Assert(cursor_ != nullptr, "TICsbCommand: no cursor");
    return *cursor_;
}

void TICsbCommand::Check(SQLTRCD result) {
    TICsbDatabase& db = CsbDatabase();
    db.MarkActivity();
    if (result == 0) return;
    SQLTEPO position = -1;
    if (cursor_ == nullptr || Csb().sqlepo(*cursor_, &position) != 0) position = -1;
    db.EndWaitCursor();
    RaiseCsbError(result, position, &db);
}

void TICsbCommand::OpenCursor() {
    if (cursor_ != nullptr) return;
    TICsbDatabase& db = CsbDatabase();
    auto cell = std::make_unique<SQLTCUR>(0);
    if (db.IsVersion7Connection())
        db.CheckCsbStatus(Csb().sqlopc(cell.get(), db.GetLogHandle(), 0));
    else if (db.TransactionLogging())
        db.CheckCsbStatus(Csb().sqlcnc(cell.get(), db.GetConnectStr().c_str(), 0));
    else
        db.CheckCsbStatus(Csb().sqlcnr(cell.get(), db.GetConnectStr().c_str(), 0));
    const SQLTCUR cur = *cell;
    cursor_ = std::move(cell);
    try {
        Check(Csb().sqlsrs(cur));
        Check(Csb().sqlspr(cur));
        Check(db.CsbSetIntParameter(cur, SQLPNPB, 0));
        if (!db.AutoCommitDefault)
            Check(db.CsbSetIntParameter(cur, SQLPAUT, db.AutoCommit && !db.InTransaction ? 1 : 0));
        const std::string timeout = db.CommandTimeout();
        if (!timeout.empty()) {
            int32_t seconds = 0;
            if (!rtl::TryStrToInt(timeout, seconds)) seconds = 0;
            Check(db.CsbSetIntParameter(cur, SQLPTMO, seconds));
        }
        Check(db.CsbSetIntParameter(cur, SQLPCCB, 1));
    } catch (...) {
        // The cursor is connected: give it back before the cell goes.
        Csb().sqldis(cur);
        cursor_.reset();
        throw;
    }
}

void TICsbCommand::DoPrepare(const std::string& sql) {
    OpenCursor();
    if (CommandType == 2) {
        Check(Csb().sqlret(Cursor(), sql.c_str(), 0));
        if (Params != nullptr && Params->Count() == 0) InitParamList();
    } else {
        Check(Csb().sqlcom(Cursor(), sql.c_str(), 0));
    }
    SetPreparedText(sql);
    InitFieldDescs();
}

void TICsbCommand::DoExecDirect(const std::string& sql) {
    OpenCursor();
    if (GetParamCount() > 0 || CommandType == 2) {
        DoPrepare(sql);
        AllocParamsBuffer();
        BindParamsBuffer();
        DoExecute();
    } else {
        Check(Csb().sqlcex(Cursor(), sql.c_str(), 0));
        InitFieldDescs();
    }
    SetPreparedText(sql);
    rowFetched_ = false;
}

void TICsbCommand::DoExecute() {
    Check(Csb().sqlexe(Cursor()));
    rowFetched_ = false;
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TICsbCommand::BindParamsBuffer() {
    if (CommandType == 0)
        BindStatementParams();
    else if (CommandType == 2)
        BindProcedureParams();
    else
        rtl::DatabaseError("Capability not supported");
}

void TICsbCommand::FreeParamsBuffer() {
    ClearBufferList();
    TISqlCommand::FreeParamsBuffer();
}

SQLTPDL TICsbCommand::WriteParamValue(const TParam& param, uint8_t* p, int32_t size, bool statement) {
    SQLTPDL bindLength = SQLTPDL(std::max(size, 0));
    const TSDSlotKind kind = kParamSlots[param.DataType()];
    if (kind == TSDSlotKind::None) {
        // A procedure's cell of another type travels as it is; a statement has no place for it
        // (long values travel apart, by name).
        if (statement && !IsBlobOrMemoType(param.DataType()))
            rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", param.Name());
        return bindLength;
    }
    if (size < 1) {
        if (statement && kind == TSDSlotKind::Text) *p = 0;
        return bindLength;
    }
    // A text takes at most size - 1 characters and their terminating zero: a longer one is cut
    // to its cell.
    const int32_t n = PutParamSlot(param, kind, p, size,
                                   [this](TFieldType t, rtl::TDateTime v, uint8_t* slot, int32_t room) {
                                       return CnvtDateTime2DBDateTime(t, v, slot, room);
                                   });
    if (kind == TSDSlotKind::DateTime) bindLength = SQLTPDL(n);
    if (kind == TSDSlotKind::Text && statement) bindLength = SQLTPDL(size - 1);
    return bindLength;
}

void TICsbCommand::BindStatementParams() {
    if (!ParamsBuffer || Params == nullptr) return;
    const SQLTCUR cur = Cursor();
    // The values lie one after the other from the start of the buffer, without headers; the
    // buffer (cells of header and value) holds them with room to spare.
    uint8_t* base = ParamsBuffer->Data();
    int64_t position = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& param = (*Params)[i];
        const bool null = param.IsNull();
        const SQLTNUL indicator = null ? -1 : 0;
        const int32_t size = null ? 0 : ParamDataSize(param);
        rtl::Assert(position + std::max(size, 1) <= int64_t(ParamsBuffer->Size()),
                    "TICsbCommand: parameter %s outside the buffer", param.Name());
        uint8_t* p = base + position;
        const SQLTPDL bindLength = WriteParamValue(param, p, size, true);
        const std::string& name = param.Name();
        if (IsBlobFieldType(stSQLBase, param.DataType())) {
            const rtl::ByteArray bytes = null ? rtl::ByteArray() : param.Value().AsBytes();
            WriteLongByName(name, bytes.data(), int32_t(bytes.size()));
        } else {
            Check(Csb().sqlbna(cur, name.c_str(), SQLTDAL(name.size()), p, bindLength, 0,
                               SQLTPDT(NativeDataType(param.DataType())), indicator));
        }
        position += size;
    }
}

void TICsbCommand::BindProcedureParams() {
    if (!ParamsBuffer || Params == nullptr) return;
    const SQLTCUR cur = Cursor();
    uint8_t* base = ParamsBuffer->Data();
    int64_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& param = (*Params)[i];
        const bool null = param.IsNull();
        const SQLTNUL indicator = null ? -1 : 0;
        const int32_t size = null ? 0 : ParamDataSize(param);
        rtl::Assert(offset + kCellHeaderSize + size <= int64_t(ParamsBuffer->Size()),
                    "TICsbCommand: parameter %s outside the buffer", param.Name());
        uint8_t* value = base + offset + kCellHeaderSize;
        WriteParamValue(param, value, size, false);
        Check(Csb().sqlbnu(cur, SQLTBNP(i + 1), value, SQLTPDL(size), 0,
                           SQLTPDT(NativeDataType(param.DataType())), indicator));
        offset += int64_t(size) + kCellHeaderSize;
    }
}

int32_t TICsbCommand::WriteLongByName(const std::string& name, const uint8_t* data, int32_t count) {
    const SQLTCUR cur = Cursor();
    int32_t written = 0;
    try {
        Check(Csb().sqlbld(cur, name.c_str(), 0));
        while (written < count) {
            const int32_t piece = std::min(pieceSize_, count - written);
            Check(Csb().sqlwlo(cur, data + written, SQLTDAL(piece)));
            written += piece;
        }
    } catch (...) {
        Csb().sqlelo(cur);  // the long operation ends whatever failed inside it
        throw;
    }
    Check(Csb().sqlelo(cur));
    return written;
}

int32_t TICsbCommand::WriteBlob(int32_t index, const uint8_t* data, int32_t count) {
    const SQLTCUR cur = Cursor();
    int32_t written = 0;
    try {
        Check(Csb().sqlbln(cur, SQLTBNP(index)));
        while (written < count) {
            const int32_t piece = std::min(pieceSize_, count - written);
            Check(Csb().sqlwlo(cur, data + written, SQLTDAL(piece)));
            written += piece;
        }
    } catch (...) {
        Csb().sqlelo(cur);
        throw;
    }
    Check(Csb().sqlelo(cur));
    return written;
}

void TICsbCommand::InitParamList() {
    if (CommandType != 2 || Params == nullptr) return;
    const SQLTCUR cur = Cursor();
    SQLTNSI selectItems = 0;
    SQLTNBV bindVariables = 0;
    Check(Csb().sqlnsi(cur, &selectItems));
    Check(Csb().sqlnbv(cur, &bindVariables));
    // The bind variables come first as inputs; the select items are the procedure's outputs,
    // which it also takes in.
    for (int i = 1; i <= bindVariables - selectItems; ++i)
        AddParam(rtl::IntToStr(i), ftUnknown, ptInput);
    for (SQLTSLC i = 1; i <= selectItems; ++i) {
        char name[256] = {};
        SQLTDDT type = 0;
        SQLTDDL length = 0;
        SQLTCHL nameLength = 255;
        SQLTPRE precision = 0;
        SQLTSCA scale = 0;
        Check(Csb().sqldsc(cur, i, &type, &length, name, &nameLength, &precision, &scale));
        AddParam(std::string(name, std::min<SQLTCHL>(nameLength, 255)), FieldDataType(type), ptInputOutput);
    }
}

// ---------------------------------------------------------------------------------------------
// Columns and rows

TFieldType TICsbCommand::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case SQLEINT:
            return ftInteger;
        case SQLESMA:
            return ftSmallint;
        case SQLEFLO:
        case SQLEDEC:
        case SQLEDOU:
            return ftFloat;
        case SQLECHR:
        case SQLEVAR:
            return ftString;
        case SQLELON:
        case SQLELBI:
            return ftBlob;
        case SQLEDAT:
            return ftDate;
        case SQLETIM:
            return ftTime;
        case SQLETMS:
            return ftDateTime;
        case SQLEBOO:
            return ftBoolean;
        case SQLELCH:
        case SQLELNC:
            return ftMemo;
        default:
            return ftUnknown;
    }
}

bool TICsbCommand::IsFixedCharType(int32_t nativeType) {
    return nativeType == SQLECHR;
}

int32_t TICsbCommand::NativeDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
        case ftFixedChar:  // written as a text: it must be bound as one
            return SQLPSTR;
        case ftSmallint:
            return SQLPSSH;
        case ftInteger:
            return SQLPSLO;
        case ftWord:
        case ftBoolean:
            return SQLPUSH;
        case ftFloat:
        case ftCurrency:
            return SQLPDOU;
        case ftDate:
            return SQLPDAT;
        case ftTime:
            return SQLPTIM;
        case ftDateTime:
            return SQLPDTM;
        case ftBlob:
            return SQLPLBI;
        case ftMemo:
            return SQLPLON;
        default:
            return 0;
    }
}

uint16_t TICsbCommand::NativeDataSize(TFieldType fieldType) {
    return NativeSlotSize(kSlots, fieldType, uint16_t(kInternalDateSize));
}

bool TICsbCommand::RequiredCnvtFieldType(TFieldType fieldType) {
    return IsDateTimeFieldType(fieldType);
}

void TICsbCommand::GetFieldDescs(TSDFieldDescList& list) {
    const SQLTCUR cur = Cursor();
    SQLTNSI count = 0;
    Check(Csb().sqlnsi(cur, &count));
    char name[kColumnNameBuffer];
    for (SQLTSLC i = 1; i <= count; ++i) {
        std::memset(name, 0, sizeof name);
        SQLTDDT type = 0;
        SQLTDDL length = 0;
        SQLTCHL nameLength = kColumnNameUsable;
        SQLTPRE precision = 0;
        SQLTSCA scale = 0;
        Check(Csb().sqldsc(cur, i, &type, &length, name, &nameLength, &precision, &scale));
        if (nameLength > SQLTCHL(kColumnNameUsable))
            rtl::DatabaseErrorFmt("Insufficient buffer size for column name '%s'",
                                  std::string(name, kColumnNameUsable));
        std::string fieldName(name, nameLength);
        bool required = true;
        if (int(nameLength) <= kDescribeInfoNameLimit) {
            gdidef info{};
            SetBufferSmallint(info.Bytes, int(kGdiColumn), int16_t(i));
            if (Csb().sqlgdi(cur, &info) == 0 && info.Bytes[kGdiNullable] != 0) required = false;
            CsbDatabase().MarkActivity();
        }
        const TFieldType fieldType = FieldDataType(type);
        if (fieldType == ftUnknown) rtl::DatabaseErrorFmt("Field '%s' is of an unsupported type", fieldName);
        // "T.NAME" names the column NAME.
        const size_t dot = fieldName.find('.');
        if (dot != std::string::npos) fieldName = fieldName.substr(dot + 1);
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = fieldName.substr(0, kMaxFieldNameLen);
        d.FieldType = fieldType;
        d.NativeType = int16_t(type);
        if (FieldTypeHasSize(fieldType))
            d.DataSize = int32_t(std::min<SQLTDDL>(length, SQLTDDL(kMaxBufferSize - 1))) +
                         (fieldType == ftString ? 1 : 0);
        else
            d.DataSize = NativeDataSize(fieldType);
        d.Precision = int16_t(precision);
        d.Required = required;
    }
}

int32_t TICsbCommand::GetFieldsBufferSize() {
    return LayOutFieldCells(8);
}

void TICsbCommand::SetFieldsBuffer() {
    if (!FieldsBuffer) return;
    const SQLTCUR cur = Cursor();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        const int32_t type = NativeDataType(d.FieldType);
        if (type == 0) rtl::DatabaseErrorFmt("Field '%s' is of an unknown type", d.FieldName);
        if (IsBlobFieldType(stSQLBase, d.FieldType)) continue;
        uint8_t* cell = GetFieldCell(d.FieldNo, FieldsBuffer.get());
        Check(Csb().sqlssb(cur, SQLTSLC(d.FieldNo), SQLTPDT(type), cell + kCellHeaderSize,
                           SQLTPDL(d.DataSize), 0, reinterpret_cast<SQLTCDL*>(cell + GetCellLengthOffset()),
                           reinterpret_cast<SQLTFSC*>(cell + GetCellIndicatorOffset())));
    }
}

bool TICsbCommand::DoFetchNextRow() {
    const SQLTRCD result = Csb().sqlfet(Cursor());
    rowFetched_ = true;
    CsbDatabase().MarkActivity();
    if (result == kFetchEnd) return false;
    if (result != kFetchRow) Check(result);
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

bool TICsbCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    rtl::Assert(FieldsBuffer != nullptr, "TICsbCommand.GetCnvtFieldData: no row buffer");
    const uint8_t* cell = GetFieldCell(desc.FieldNo, FieldsBuffer.get());
    int32_t status = 0, length = 0;
    GetCellHeader(cell, 0, status, length);
    // The fetch status: 0 a value, 1 a value cut to its buffer, anything else null.
    if (status != 0 && status != 1) return false;
    if (!IsBlobFieldType(stSQLBase, desc.FieldType) && status == 0 && length == 0) return false;
    const uint8_t* value = cell + kCellHeaderSize;
    // The client says how much it wrote; never more than the cell holds.
    length = std::clamp(length, 0, std::max(desc.DataSize, 0));
    if (RequiredCnvtFieldType(desc.FieldType)) {
        const TSDDateTimeRec rec = DecodeCsbDate(desc.FieldType, value, length);
        const int32_t need = desc.FieldType == ftDateTime ? 8 : 4;
        if (dest != nullptr && destSize >= need) std::memcpy(dest, rec.Bytes, size_t(need));
        return true;
    }
    int32_t n = std::min(destSize, desc.FieldType == ftString ? std::min(length + 1, desc.DataSize) : length);
    if (dest != nullptr && n > 0) std::memcpy(dest, value, size_t(n));
    return true;
}

TSDDateTimeRec TICsbCommand::DecodeCsbDate(TFieldType fieldType, const uint8_t* value, int32_t length) {
    const int32_t textLength = CsbDateTextLength(fieldType);
    if (textLength == 0) return TSDDateTimeRec();
    std::string buffer(size_t(textLength) + 2, '\0');
    Check(Csb().sqlxdp(buffer.data(), SQLTPDL(textLength + 1), value, SQLTDAL(length),
                       CsbDatePicture(fieldType), 0));
    return CsbDateTextToRec(fieldType, PCharToString(buffer.data(), textLength + 1));
}

TSDDateTimeRec CsbDateTextToRec(TFieldType fieldType, std::string text) {
    // The fraction after the seconds is in microseconds; the date pictures are read here with
    // their own fixed formats, so no other thread's dates are touched.
    int milliseconds = 0;
    if (fieldType == ftTime || fieldType == ftDateTime) {
        const size_t dot = text.rfind('.');
        if (dot != std::string::npos) {
            std::string digits = rtl::Trim(text.substr(dot + 1));
            text.erase(dot);
            if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
                throw rtl::EConvertError(rtl::Format("'%s' is not a valid time", digits));
            digits.resize(6, '0');  // a shorter fraction counts from the left, a longer one is cut
            milliseconds = std::stoi(digits) / 1000;
        }
    }
    text = rtl::Trim(text);
    if (text.empty() || CsbDateTextLength(fieldType) == 0) return TSDDateTimeRec();
    size_t at = 0;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    rtl::TDateTime date = 0, time = 0;
    bool ok = true;
    if (fieldType != ftTime)
        ok = ReadDate(text, at, day, month, year) && rtl::TryEncodeDate(year, month, day, date);
    if (ok && fieldType == ftDateTime) ok = Expect(text, at, ' ');
    if (ok && fieldType != ftDate)
        ok = ReadTime(text, at, hour, minute, second) && rtl::TryEncodeTime(hour, minute, second, 0, time);
    if (!ok || at != text.size()) {
        const char* what = fieldType == ftDate ? "date" : fieldType == ftTime ? "time" : "date and time";
        throw rtl::EConvertError(rtl::Format("'%s' is not a valid %s", text, what));
    }
    rtl::TTimeStamp stamp = rtl::DateTimeToTimeStamp(rtl::CombineDateTime(date, time));
    stamp.Time += milliseconds;
    return TimeStampToRec(fieldType, stamp);
}

int32_t TICsbCommand::CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                              int32_t bufferSize) {
    std::string text;
    switch (fieldType) {
        case ftDate:
            text = rtl::FormatDateTime("dd\".\"mm\".\"yyyy", value);
            break;
        case ftTime:
            text = rtl::FormatDateTime("hh\":\"nn\":\"ss", value);
            break;
        case ftDateTime:
            text = rtl::FormatDateTime("dd\".\"mm\".\"yyyy hh\":\"nn\":\"ss", value);
            break;
        default:
            return 0;
    }
    if (bufferSize < int32_t(kInternalDateSize))
        rtl::DatabaseError("Insufficient buffer size for internal datetime type");
    if (fieldType != ftDate) {
        int h = 0, m = 0, s = 0, ms = 0;
        rtl::DecodeTime(value, h, m, s, ms);
        text = rtl::Format("%s.%.6d", text, int64_t(ms) * 1000);
    }
    const char* picture = CsbDatePicture(fieldType);
    SQLTDAL length = kInternalDateSize;
    Check(Csb().sqlxpd(buffer, &length, text.c_str(), picture, SQLTPDL(std::strlen(picture))));
    return int32_t(length);
}

int32_t TICsbCommand::ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) {
    const SQLTCUR cur = Cursor();
    const SQLTSLC column = SQLTSLC(desc.FieldNo);
    SQLTLSI size = 0;
    Check(Csb().sqlgls(cur, column, &size));
    data.clear();
    if (size == 0) return 0;
    data.resize(size);
    size_t got = 0;
    try {
        Check(Csb().sqllsk(cur, column, 1));
        while (got < data.size()) {
            const SQLTDAL piece = SQLTDAL(std::min<size_t>(size_t(pieceSize_), data.size() - got));
            SQLTDAL read = 0;
            Check(Csb().sqlrlo(cur, column, data.data() + got, piece, &read));
            got += std::min(read, piece);
            // A client that gives less than asked has no more: the value ends here.
            if (read < piece) break;
        }
    } catch (...) {
        Csb().sqlelo(cur);
        throw;
    }
    Check(Csb().sqlelo(cur));
    data.resize(got);
    return int32_t(got);
}

void TICsbCommand::GetOutputParams() {
    if (CommandType != 2 || Params == nullptr || Params->Count() == 0 || FieldDescs->Count() == 0) return;
    if (!rowFetched_) FetchNextRow();
    std::vector<uint8_t> buffer(size_t(std::max(MaxCharParamLen, 1)));
    for (int i = 0; i < Params->Count(); ++i) {
        TParam& param = (*Params)[i];
        if (param.ParamType() != ptOutput && param.ParamType() != ptInputOutput) continue;
        const TSDFieldDesc& d = FieldDescs->FieldDescByName(param.Name());
        if (buffer.size() < size_t(d.DataSize) + 1) buffer.resize(size_t(d.DataSize) + 1);
        std::fill(buffer.begin(), buffer.end(), 0);
        if (!GetCnvtFieldData(d, buffer.data(), int32_t(buffer.size()))) continue;
        if (param.DataType() != d.FieldType) param.SetDataType(d.FieldType);
        SetParamData(param, buffer.data(), int32_t(buffer.size()));
    }
}

bool TICsbCommand::ResultSetExists() {
    SQLTCTY type = 0;
    Check(Csb().sqlcty(Cursor(), &type));
    return type == SQLTSELECT;
}

int32_t TICsbCommand::GetRowsAffected() {
    SQLTROW rows = 0;
    Check(Csb().sqlrow(Cursor(), &rows));
    return rows;
}

void TICsbCommand::CloseResultSet() {
    if (cursor_ != nullptr) Check(Csb().sqlcbv(*cursor_));
}

void TICsbCommand::Disconnect(bool force) {
    if (FieldsBuffer) FreeFieldsBuffer();
    if (cursor_ == nullptr) return;
    const SQLTRCD result = Csb().sqldis(*cursor_);
    cursor_.reset();  // gone whatever the client answered
    if (!force && result != 0) CsbDatabase().CheckCsbStatus(result);
}
