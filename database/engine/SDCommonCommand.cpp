// database/engine/SDCommonCommand.cpp: the driver command, its buffers and field descriptions.
#include "database/engine/SDCommonCommand.h"

#include <algorithm>
#include <cstring>

#include "database/engine/SDCommonTrace.h"
#include "database/engine/SDCommonUpdateSql.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return out;
}

bool SameAscii(std::string_view a, std::string_view b) {
    return AsciiUpper(a) == AsciiUpper(b);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Field descriptions

TSDFieldDesc& TSDFieldDescList::AddFieldDesc() {
    items_.push_back(std::make_unique<TSDFieldDesc>());
    return *items_.back();
}

TSDFieldDesc& TSDFieldDescList::GetFieldDesc(int index) {
    rtl::Assert(index >= 0 && index < Count(), "Field description index %d out of range", index);
    rtl::Assert(items_[size_t(index)] != nullptr, "Field description %d is empty", index);
    return *items_[size_t(index)];
}

const TSDFieldDesc& TSDFieldDescList::GetFieldDesc(int index) const {
    return const_cast<TSDFieldDescList&>(*this).GetFieldDesc(index);
}

TSDFieldDesc& TSDFieldDescList::FieldDescByName(const std::string& name) {
    const std::string key = AsciiUpper(name);
    for (auto& d : items_)
        if (AsciiUpper(d->FieldName) == key) return *d;
    rtl::DatabaseErrorFmt("Description of field '%s' not found", name);
}

TSDFieldDesc& TSDFieldDescList::FieldDescByNumber(int32_t fieldNo) {
    if (fieldNo >= 1 && fieldNo <= Count() && items_[size_t(fieldNo - 1)]->FieldNo == fieldNo)
        return *items_[size_t(fieldNo - 1)];
    for (auto& d : items_)
        if (d->FieldNo == fieldNo) return *d;
    rtl::DatabaseErrorFmt("Description of field '%s' not found", "FieldNo=" + rtl::IntToStr(fieldNo));
}

void TSDFieldDescList::MakeUniqueNames() {
    for (size_t i = 0; i < items_.size(); ++i) {
        TSDFieldDesc& d = *items_[i];
        const std::string base = d.FieldName.empty() ? rtl::Format("COLUMN%d", int64_t(i + 1)) : d.FieldName;
        std::string candidate = base;
        int k = 0;
        for (size_t j = i; j > 0;) {
            --j;
            if (SameAscii(candidate, items_[j]->FieldName)) {
                ++k;
                // The suffix must survive the cut to the name's limit, or a long name would
                // come out equal to the one it was meant to differ from.
                const std::string suffix = rtl::Format("_%d", k);
                candidate = base.size() + suffix.size() > kMaxFieldNameLen
                                ? base.substr(0, kMaxFieldNameLen - suffix.size()) + suffix
                                : base + suffix;
                j = i;  // compare again from the nearest earlier description
            }
        }
        if (!SameAscii(candidate, d.FieldName)) d.FieldName = candidate.substr(0, kMaxFieldNameLen);
    }
}

// ---------------------------------------------------------------------------------------------
// Command

TISqlCommand::TISqlCommand(TISqlDatabase* database, rtl::Component* owner)
    : FieldDescs(std::make_unique<TSDFieldDescList>()), Owner(owner), SqlDatabase(database) {
    int32_t v = 0;
    if (database != nullptr && rtl::TryStrToInt(database->Params.Values("MAXCHARPARAMLEN"), v))
        MaxCharParamLen = v;
}

TISqlCommand::~TISqlCommand() {
    ParamsBuffer.reset();
    FieldsBuffer.reset();
}

void TISqlCommand::BeforeDestruction() {
    try {
        Disconnect(true);
    } catch (const std::exception&) {
        // The object is going away and a forced disconnect has nobody left to report to.
    }
}

void TISqlCommand::NotImplemented(const char* qualifiedName) {
    throw rtl::EAssertionFailed(rtl::Format(SFuncNotImplemented, qualifiedName));
}

TISqlDatabase& TISqlCommand::GetSqlDatabase() const {
    rtl::Assert(SqlDatabase != nullptr, "TISqlCommand.GetSqlDatabase: no database");
    return *SqlDatabase;
}

void TISqlCommand::DoRequestFetchAll(bool value) {
    if (FetchAllProc) FetchAllProc(value);
}

void TISqlCommand::AllocParamsBuffer() {
    FreeParamsBuffer();
    const int32_t size = GetParamsBufferSize();
    if (size > 0) ParamsBuffer = std::make_unique<TSDBuffer>(size_t(size));
}

void TISqlCommand::AllocFieldsBuffer() {
    FieldsBuffer.reset();
    const int32_t size = GetFieldsBufferSize();
    if (size > 0) FieldsBuffer = std::make_unique<TSDBuffer>(size_t(size));
}

void TISqlCommand::BindParamsBuffer() {
    NotImplemented("TISqlCommand.BindParamsBuffer");
}
void TISqlCommand::FreeParamsBuffer() {
    ParamsBuffer.reset();
}

void TISqlCommand::FreeFieldsBuffer() {
    FieldsBuffer.reset();
    FieldOffsets.clear();
}

void TISqlCommand::SetFieldsBuffer() {
    NotImplemented("TISqlCommand.SetFieldsBuffer");
}

int32_t TISqlCommand::CnvtDateTime2DBDateTime(TFieldType, rtl::TDateTime, uint8_t*, int32_t) {
    NotImplemented("TISqlCommand.CnvtDateTime2DBDateTime");
}

void TISqlCommand::InitParamList() {
    NotImplemented("TISqlCommand.InitParamList");
}

void TISqlCommand::ReadBlobsToSlots() {
    const TSDServerType server = GetSqlDatabase().GetServerType();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        if (!IsBlobFieldType(server, d.FieldType)) continue;
        rtl::ByteArray data;
        const int32_t n = ReadBlob(d, data);
        if (n > 0) {
            data.resize(size_t(n));
            SetFieldBlobData(d, std::make_shared<const rtl::ByteArray>(std::move(data)));
        } else {
            SetFieldBlobData(d, nullptr);
        }
    }
}

TFieldType TISqlCommand::FieldDataType(int32_t) {
    NotImplemented("TISqlCommand.FieldDataType");
}
void TISqlCommand::GetFieldDescs(TSDFieldDescList&) {
    NotImplemented("TISqlCommand.GetFieldDescs");
}
TSDBuffer* TISqlCommand::GetFieldsBuffer() {
    return FieldsBuffer.get();
}

int32_t TISqlCommand::GetFieldsBufferSize() {
    return LayOutFieldCells(1);
}

int32_t TISqlCommand::LayOutFieldCells(int32_t alignment, int32_t headerSize) {
    rtl::Assert(alignment >= 1, "Cell alignment %d below 1", alignment);
    rtl::Assert(headerSize >= kCellHeaderSize, "Cell header of %d bytes", headerSize);
    const auto align = [alignment](int64_t n) { return (n + alignment - 1) / alignment * alignment; };
    const TSDServerType server = GetSqlDatabase().GetServerType();
    const int count = FieldDescs->Count();
    FieldOffsets.assign(size_t(count), -1);
    // Sizes come from the server's column descriptions: summed wide, so that a huge or
    // negative size is refused instead of wrapping into a buffer smaller than its cells.
    int64_t offset = 0;
    int32_t slot = 0;
    for (int i = 0; i < count; ++i) {
        TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        rtl::Assert(d.FieldNo >= 1 && d.FieldNo <= count, "Field number %d outside 1..%d", d.FieldNo, count);
        if (d.DataSize < 0) {
            FieldOffsets.clear();
            rtl::Assert(false, "Field '%s' has a negative data size (%d)", d.FieldName, d.DataSize);
        }
        FieldOffsets[size_t(d.FieldNo - 1)] = int32_t(std::min<int64_t>(offset, kMaxBufferSize));
        d.BlobIndex = IsBlobFieldType(server, d.FieldType) ? slot++ : -1;
        offset = align(offset + headerSize + d.DataSize);
    }
    const int64_t total = align(offset + 4 * int64_t(BlobFieldCount));
    if (total > kMaxBufferSize) {
        FieldOffsets.clear();
        rtl::DatabaseErrorFmt("Row buffer of %d bytes is too large", total);
    }
    FieldsDataSize = int32_t(offset);
    return int32_t(total);
}

void* TISqlCommand::GetHandle() {
    NotImplemented("TISqlCommand.GetHandle");
}

int32_t TISqlCommand::GetParamsBufferSize() {
    if (Params == nullptr) return 0;
    int64_t size = 0;  // summed wide: a sum past the limit is refused, never wrapped
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        if (p.DataType() == ftUnknown)
            rtl::DatabaseErrorFmt("Unknown data type for parameter '%s'", p.Name());
        if (p.ParamType() == ptUnknown)
            rtl::DatabaseErrorFmt("No parameter type for parameter '%s'", p.Name());
        size += int64_t(ParamDataSize(p)) + kCellHeaderSize;
    }
    if (size > kMaxBufferSize) rtl::DatabaseErrorFmt("Parameter buffer of %d bytes is too large", size);
    return int32_t(size);
}

bool TISqlCommand::IsFixedCharType(int32_t) {
    return false;
}
uint16_t TISqlCommand::NativeDataSize(TFieldType) {
    NotImplemented("TISqlCommand.NativeDataSize");
}
int32_t TISqlCommand::NativeDataType(TFieldType) {
    NotImplemented("TISqlCommand.NativeDataType");
}
bool TISqlCommand::RequiredCnvtFieldType(TFieldType) {
    NotImplemented("TISqlCommand.RequiredCnvtFieldType");
}
void TISqlCommand::CloseResultSet() {}
void TISqlCommand::Cancel() {}
void TISqlCommand::Disconnect(bool) {
    NotImplemented("TISqlCommand.Disconnect");
}
void TISqlCommand::ClearPreparedText() {
    PreparedText.clear();
}

void TISqlCommand::ExecDirect(const std::string& sql) {
    if (FieldsBuffer) FreeFieldsBuffer();
    SetCommandText(sql);
    const TSDTraceStart start;
    try {
        DoExecDirect(sql);
    } catch (...) {
        TraceSqlExecute(*this, start);
        throw;
    }
    TraceSqlExecute(*this, start);
    if (FieldDescs->Count() > 0 && !FieldsBuffer) {
        AllocFieldsBuffer();
        SetFieldsBuffer();
    }
}

void TISqlCommand::Execute() {
    AllocParamsBuffer();
    BindParamsBuffer();
    if (FieldDescs->Count() > 0 && !FieldsBuffer) {
        AllocFieldsBuffer();
        SetFieldsBuffer();
    }
    TracedExecute();
}

void TISqlCommand::TracedExecute() {
    const TSDTraceStart start;
    try {
        DoExecute();
    } catch (...) {
        TraceSqlExecute(*this, start);
        throw;
    }
    TraceSqlExecute(*this, start);
}

int32_t TISqlCommand::GetIdentityValue() {
    return -1;
}
void TISqlCommand::ReadAutoIncrementColumns() {}
int32_t TISqlCommand::GetRowsAffected() {
    NotImplemented("TISqlCommand.GetRowsAffected");
}
bool TISqlCommand::NextResultSet() {
    return false;
}

void TISqlCommand::Prepare(const std::string& sql) {
    if (IsPrepared()) return;
    if (FieldsBuffer) FreeFieldsBuffer();
    SetCommandText(sql);
    const TSDTraceStart start;
    try {
        DoPrepare(sql);
    } catch (...) {
        TraceSqlPrepare(*this, start);
        throw;
    }
    TraceSqlPrepare(*this, start);
}

bool TISqlCommand::ResultSetExists() {
    NotImplemented("TISqlCommand.ResultSetExists");
}

bool TISqlCommand::FetchNextRow() {
    // Rows are fetched far more often than anything is traced: without hooks there is no
    // start to take and nothing to report.
    if (GetSqlTraceHooks() == nullptr) return DoFetchNextRow();
    const TSDTraceStart start;
    const bool row = DoFetchNextRow();
    if (row) TraceSqlFetch(*this, start);
    return row;
}

void TISqlCommand::InitFieldDescs() {
    auto fresh = std::make_unique<TSDFieldDescList>();
    auto replace = [&] {
        ClearFieldDescs();
        FieldDescs = std::move(fresh);
    };
    try {
        GetFieldDescs(*fresh);
        fresh->MakeUniqueNames();
        const TSDServerType server = GetSqlDatabase().GetServerType();
        BlobFieldCount = 0;
        for (int i = 0; i < fresh->Count(); ++i) {
            TSDFieldDesc& d = fresh->GetFieldDesc(i);
            d.FieldNo = i + 1;
            if (IsBlobFieldType(server, d.FieldType)) d.BlobIndex = BlobFieldCount++;
            if (!d.IsFixedChar && (d.FieldType == ftString || d.FieldType == ftFixedChar))
                d.IsFixedChar = IsFixedCharType(d.NativeType);
        }
    } catch (...) {
        replace();
        throw;
    }
    replace();
}

bool TISqlCommand::GetCnvtFieldData(const TSDFieldDesc&, void*, int32_t) {
    NotImplemented("TISqlCommand.GetCnvtFieldData");
}

void TISqlCommand::GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record) {
    for (size_t i = 0; i < count; ++i) {
        uint8_t* p = record + cells[i].Slot;
        p[0] = GetCnvtFieldData(*cells[i].Desc, p + 1, cells[i].Limit) ? 1 : 0;
    }
}

void TISqlCommand::GetOutputParams() {
    NotImplemented("TISqlCommand.GetOutputParams");
}
int32_t TISqlCommand::ReadBlob(const TSDFieldDesc&, rtl::ByteArray&) {
    NotImplemented("TISqlCommand.ReadBlob");
}
int32_t TISqlCommand::WriteBlob(int32_t, const uint8_t*, int32_t) {
    NotImplemented("TISqlCommand.WriteBlob");
}

bool TISqlCommand::IsPrepared() const {
    return !rtl::Trim(PreparedText).empty();
}

void TISqlCommand::SetCommandText(const std::string& text) {
    if (text == CommandText) return;
    CommandText = text;
    PreparedText.clear();
}

void TISqlCommand::SetPreparedText(const std::string& text) {
    if (text != PreparedText) PreparedText = text;
}

void TISqlCommand::ClearFieldDescs() {
    if (FieldDescs->Count() > 0) FreeFieldsBuffer();
    FieldDescs->Clear();
}

TParam& TISqlCommand::AddParam(const std::string& name, TFieldType fieldType, TParamType paramType) {
    rtl::Assert(Params != nullptr, "TISqlCommand.AddParam: no parameter collection");
    return Params->CreateParam(fieldType, name, paramType);
}

const char* TISqlCommand::GetParamValuePtr(const TParam& param) {
    return BufferList.AllocString(param.AsString());
}

void TISqlCommand::GetFieldOrigins(const std::string& sql, rtl::StringList& origins) {
    rtl::StringList names;
    for (int i = 0; i < FieldDescs->Count(); ++i)
        names.Add(FieldDescs->GetFieldDesc(i).FieldName);
    rtl::StringList tables;
    AnalyseSelectText(sql, names, origins, tables);
}

int32_t TISqlCommand::ParamDataSize(const TParam& param) {
    const TFieldType t = param.DataType();
    int32_t size;
    if (RequiredCnvtFieldType(t) || t == ftGuid)
        size = NativeDataSize(t);
    else if (IsBlobFieldType(GetSqlDatabase().GetServerType(), t))
        size = 0;
    else if (t == ftLargeint)
        size = 8;
    else
        size = param.GetDataSize();
    // MaxCharParamLen comes from the connection's parameters; its + 1 must not wrap.
    const int64_t minimum = int64_t(MaxCharParamLen) + 1;
    if (CommandType == 2 && (t == ftString || t == ftBytes || t == ftVarBytes) && size < minimum)
        size = int32_t(std::min<int64_t>(minimum, kMaxBufferSize));
    return size;
}

int32_t TISqlCommand::GetFieldOffset(int index) const {
    rtl::Assert(index >= 0 && size_t(index) < FieldOffsets.size(), "Field offset index %d out of range",
                index);
    return FieldOffsets[size_t(index)];
}

void TISqlCommand::FieldCellFailure(int32_t fieldNo, const TSDBuffer* buffer) const {
    rtl::Assert(fieldNo >= 1, "Invalid field number %d", fieldNo);
    rtl::Assert(!FieldOffsets.empty(), "TISqlCommand.GetFieldCell: no field offsets");
    rtl::Assert(buffer != nullptr, "TISqlCommand.GetFieldCell: no buffer");
    rtl::Assert(GetFieldOffset(fieldNo - 1) >= 0, "Field %d has no cell", fieldNo);
    throw rtl::EAssertionFailed("TISqlCommand.GetFieldCell: FieldCellFailure without a failure");
}

TSDBlobRef TISqlCommand::GetFieldBlobData(const TSDFieldDesc& desc) {
    rtl::Assert(FieldsBuffer != nullptr, "TISqlCommand.GetFieldBlobData: no row buffer");
    rtl::Assert(desc.BlobIndex >= 0, "Field '%s' has no blob slot", desc.FieldName);
    return GetBlobSlot(FieldsBuffer.get(), FieldsDataSize, desc.BlobIndex);
}

void TISqlCommand::SetFieldBlobData(const TSDFieldDesc& desc, TSDBlobRef data) {
    rtl::Assert(FieldsBuffer != nullptr, "TISqlCommand.SetFieldBlobData: no row buffer");
    rtl::Assert(desc.BlobIndex >= 0, "Field '%s' has no blob slot", desc.FieldName);
    SetBlobSlot(FieldsBuffer.get(), FieldsDataSize, desc.BlobIndex, std::move(data));
}

namespace {

template <typename T>
bool ReadTyped(TISqlCommand& cmd, int32_t fieldNo, T& value, const char* name) {
    const TSDFieldDesc& d = cmd.FieldDescs->FieldDescByNumber(fieldNo);
    rtl::Assert(d.DataSize <= int32_t(sizeof(T)), "%s: field %d has %d bytes of data", name, fieldNo,
                d.DataSize);
    value = T{};
    return cmd.GetCnvtFieldData(d, &value, int32_t(sizeof(T)));
}

}  // namespace

bool TISqlCommand::GetFieldAsSmallint(int32_t fieldNo, int16_t& value) {
    return ReadTyped(*this, fieldNo, value, "GetFieldAsSmallint");
}

bool TISqlCommand::GetFieldAsInteger(int32_t fieldNo, int32_t& value) {
    return ReadTyped(*this, fieldNo, value, "GetFieldAsInteger");
}

bool TISqlCommand::GetFieldAsFloat(int32_t fieldNo, double& value) {
    return ReadTyped(*this, fieldNo, value, "GetFieldAsFloat");
}

bool TISqlCommand::GetFieldAsLargeint(int32_t fieldNo, int64_t& value) {
    return ReadTyped(*this, fieldNo, value, "GetFieldAsLargeint");
}

bool TISqlCommand::GetFieldAsDateTime(int32_t fieldNo, rtl::TDateTime& value) {
    const TSDFieldDesc& d = FieldDescs->FieldDescByNumber(fieldNo);
    TSDDateTimeRec rec;
    value = 0;
    if (!GetCnvtFieldData(d, rec.Bytes, int32_t(sizeof rec.Bytes))) return false;
    value = DateTimeRecToDateTime(d.FieldType, rec);
    return true;
}

bool TISqlCommand::GetFieldAsString(int32_t fieldNo, std::string& value) {
    value.clear();
    const TSDFieldDesc& d = FieldDescs->FieldDescByNumber(fieldNo);
    if (IsBlobFieldType(GetSqlDatabase().GetServerType(), d.FieldType)) {
        const TSDBlobRef blob = GetFieldBlobData(d);
        if (blob) value.assign(blob->begin(), blob->end());
        return !value.empty();
    }
    switch (d.FieldType) {
        case ftSmallint:
        case ftWord: {
            int16_t v = 0;
            if (!GetFieldAsSmallint(fieldNo, v)) return false;
            value = rtl::IntToStr(v);
            return true;
        }
        case ftInteger:
        case ftAutoInc: {
            int32_t v = 0;
            if (!GetFieldAsInteger(fieldNo, v)) return false;
            value = rtl::IntToStr(v);
            return true;
        }
        case ftBoolean: {
            int16_t v = 0;
            if (!GetFieldAsSmallint(fieldNo, v)) return false;
            value = v != 0 ? "True" : "False";
            return true;
        }
        case ftBCD:
            if (d.DataSize > int32_t(sizeof(double))) {
                // The driver converts its cell (decimal text, an interval) into the packed decimal.
                rtl::TBcd bcd;
                if (!GetCnvtFieldData(d, &bcd, int32_t(sizeof bcd))) return false;
                int64_t scaled = 0;
                if ((bcd.SignSpecialPlaces & 0x3F) <= 4 && rtl::BcdToCurrency(bcd, scaled)) {
                    value = rtl::Variant::FromCurrency(scaled).AsString();
                    return true;
                }
                // Past a currency's range: the exact text.
                value = rtl::BcdToText(bcd);
                if (value.empty()) rtl::DatabaseErrorFmt("Field '%s': value out of range", d.FieldName);
                return true;
            }
            [[fallthrough]];
        case ftFloat:
        case ftCurrency: {
            double v = 0;
            if (!GetFieldAsFloat(fieldNo, v)) return false;
            value = rtl::FloatToStr(v);
            return true;
        }
        case ftLargeint: {
            int64_t v = 0;
            if (!GetFieldAsLargeint(fieldNo, v)) return false;
            value = rtl::IntToStr(v);
            return true;
        }
        case ftDate:
        case ftTime:
        case ftDateTime: {
            rtl::TDateTime v = 0;
            if (!GetFieldAsDateTime(fieldNo, v)) return false;
            value = rtl::DateTimeToStr(v);
            return true;
        }
        default: {
            std::string text(size_t(std::max(d.DataSize, 0)), '\0');
            const bool present = GetCnvtFieldData(d, text.data(), d.DataSize);
            if (!present) return false;
            value = text.substr(0, text.find('\0'));
            return true;
        }
    }
}
