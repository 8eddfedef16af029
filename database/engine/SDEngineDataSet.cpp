// database/engine/SDEngineDataSet.cpp: TSDDataSet: usage flags and the database, opening and closing,
// field definitions, the record layout, column conversions, field access and navigation.
// Filters, search, sort and local rows are in SDEngineDataSetRows.cpp; changes and the provider
// support in SDEngineDataSetUpdate.cpp.
#include "database/engine/SDEngineDataSet.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "database/engine/SDEngineBlobStream.h"
#include "database/engine/SDEngineRecordStore.h"
#include "database/engine/SDEngineUpdateObject.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using rtl::RecordBuffer;
using rtl::TField;
using rtl::Variant;

// How one result column reaches its field's slot; planned once per execution of the command.
struct TSDDataSet::Conversion {
    enum class Kind { None, Blob, IntegerFromOther, DateFromDateTime, Direct, Unsupported };
    Kind kind = Kind::None;
    int descIndex = 0;
    const TSDFieldDesc* desc = nullptr;  // valid while the command keeps its description list
    TField* field = nullptr;
    int slot = -1;
    int blobIndex = -1;
    int limit = 0;
    int scratchSize = 0;
    TFieldType columnType = ftUnknown;
};

namespace {

bool IsStringType(TFieldType t) {
    return t == ftString || t == ftFixedChar || t == ftWideString;
}

std::string DataConversionError(TFieldType column, TFieldType field) {
    return std::string("Data conversion is not implemented for datatype ") + rtl::FieldTypeName(column) +
           " to " + rtl::FieldTypeName(field) + " (TSDDataSet.ISqlCnvtFieldData)";
}

// A float rounded to the 64-bit integer it stands for. A value that no such integer holds
// (beyond its range, infinite, not a number) has no rounded value: converting it would be
// undefined, so it is out of the field's range.
int64_t RoundedInt64(double value, const TField& field) {
    const double r = std::nearbyint(value);
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
        throw rtl::EDatabaseError(
            rtl::Format("Valor fora dos limites para o campo '%s'", field.DisplayName()));
    return int64_t(r);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation, names and properties

TSDDataSet::TSDDataSet(rtl::Component* owner) : rtl::TDataSet(owner) {
    // A data set put on an owner whose session names itself belongs to that session.
    if (owner != nullptr)
        for (rtl::Component* c : owner->Components())
            if (auto* s = dynamic_cast<TSDSession*>(c); s != nullptr && s->AutoSessionName())
                sessionName_ = s->SessionName();
}

TSDDataSet::~TSDDataSet() {
    MarkDestroying();
    closing_ = true;
    try {
        Close();
    } catch (const std::exception&) {
        // A destructor has nobody to report to; the release below still happens.
    }
    if (dbFlags_ != 0) {
        dbFlags_ = 1u << dsfOpened;
        try {
            SetDBFlag(dsfOpened, false);
        } catch (const std::exception&) {
            // As above.
        }
    }
    SetUpdateObject(nullptr);
    filterParser_.reset();
    command_.reset();
}

void TSDDataSet::Loaded() {
    rtl::TDataSet::Loaded();
    ApplyCachedUpdatesParam();
}

void TSDDataSet::SetAutoRefresh(bool value) {
    CheckInactive();
    autoRefresh_ = value;
}

void TSDDataSet::SetDatabaseName(const std::string& name) {
    if (IsLoading()) {
        databaseName_ = name;
        return;
    }
    CheckInactive();
    if (database_ != nullptr && name != databaseName_)
        rtl::DatabaseError("Cannot perform this operation on an open database");
    databaseName_ = name;
    DataEvent(rtl::dePropertyChange, 0);
    ApplyCachedUpdatesParam();
}

void TSDDataSet::SetSessionName(const std::string& name) {
    if (IsLoading()) {
        sessionName_ = name;
        return;
    }
    CheckInactive();
    if (database_ != nullptr && name != sessionName_)
        rtl::DatabaseError("Cannot perform this operation on an open database");
    sessionName_ = name;
    DataEvent(rtl::dePropertyChange, 0);
    ApplyCachedUpdatesParam();
}

void TSDDataSet::SetDetachOnFetchAll(bool value) {
    if (value == detachOnFetchAll_) return;
    detachOnFetchAll_ = value;
    // Switched on while open: the rows still to come are fetched, then the cursor goes.
    if (value && Active() && CommandHasHandle()) {
        FetchAll();
        Detach();
    }
}

void TSDDataSet::SetUpdateMode(rtl::TUpdateMode value) {
    updateMode_ = value;
}

TSDDatabase* TSDDataSet::FindDatabase() const {
    if (database_ != nullptr) return database_;
    TSDSession* session = Sessions().FindSession(sessionName_);
    if (session == nullptr) return nullptr;
    if (TSDDatabase* db = session->FindDatabaseForOwner(databaseName_, Owner())) return db;
    return session->FindDatabase(databaseName_);
}

std::string TSDDataSet::DatabaseParam(const char* name) const {
    TSDDatabase* db = FindDatabase();
    if (db == nullptr) return "";
    return rtl::UpperCase(rtl::Trim(db->Params().Values(name)));
}

void TSDDataSet::ApplyCachedUpdatesParam() {
    if (cachedUpdatesSet_) return;
    const std::string value = DatabaseParam("CACHED UPDATES");
    if (!value.empty()) cachedUpdates_ = value != SFalseString;
}

void TSDDataSet::DataEvent(rtl::TDataEvent event, intptr_t info) {
    if (event == rtl::dePropertyChange) {
        if (!Active()) FieldDefs().Clear();
        capability_ = -1;
    }
    rtl::TDataSet::DataEvent(event, info);
}

void TSDDataSet::RunWithWaitCursor(const std::function<void()>& step) {
    BeginSqlWaitCursor();
    try {
        step();
    } catch (...) {
        EndSqlWaitCursor();
        throw;
    }
    EndSqlWaitCursor();
}

// ---------------------------------------------------------------------------------------------
// Usage flags and the command

bool TSDDataSet::SetDBFlag(int flag, bool on) {
    const uint32_t bit = 1u << flag;
    const bool previous = (dbFlags_ & bit) != 0;
    if (on) {
        if (dbFlags_ == 0) {
            // A database whose session name named no session yet when it was set sits in the
            // default session; once that session exists, it moves there.
            if (TSDSession* own = Sessions().FindSession(sessionName_);
                own != nullptr && own->FindDatabase(databaseName_) == nullptr) {
                if (TSDDatabase* waiting = Sessions().DefaultSession()->FindDatabase(databaseName_);
                    waiting != nullptr && waiting->Session() != own) {
                    Sessions().GetSession(waiting->GetSessionName());  // "Invalid session name %s"
                    waiting->BindSession(waiting->GetSessionName());
                }
            }
            if (rtl::Trim(databaseName_).empty()) rtl::DatabaseError("Database name missing");
            TSDSession& session = Sessions().GetSession(sessionName_);
            // A data set finds a database on its own owner first, then any of the session's.
            const rtl::Component* owner =
                session.FindDatabaseForOwner(databaseName_, Owner()) ? Owner() : nullptr;
            TSDDatabase& db = session.OpenDatabaseForOwner(databaseName_, owner);
            database_ = &db;
            db.RegisterClient(this);
            capability_ = -1;
            GetCapability();
        }
        dbFlags_ |= bit;
    } else if (previous) {
        dbFlags_ &= ~bit;
        if (dbFlags_ == 0) {
            TSDDatabase* db = database_;
            std::exception_ptr failure;
            try {
                DisconnectCommand();
            } catch (...) {
                failure = std::current_exception();
            }
            if (db != nullptr) {
                db->UnRegisterClient(this);
                database_ = nullptr;
                if (TSDSession* s = db->Session()) s->ReleaseDatabaseReference(*db);
            }
            if (failure) std::rethrow_exception(failure);
        }
    }
    return previous;
}

void TSDDataSet::ISqlCmdCreate() {
    CheckFatal(database_ != nullptr && database_->SqlDatabase() != nullptr, "TSDDataSet.ISqlCmdCreate");
    command_ = database_->SqlDatabase()->CreateSqlCommand(this);
}

TISqlCommandPtr TSDDataSet::CreateCommand() {
    CheckFatal(database_ != nullptr && database_->SqlDatabase() != nullptr, "TSDDataSet.CreateCommand");
    return database_->SqlDatabase()->CreateSqlCommand(this);
}

void TSDDataSet::FreeCommand() {
    if (!command_) return;
    std::exception_ptr failure;
    try {
        command_->Disconnect(closing_);
    } catch (...) {
        failure = std::current_exception();
    }
    // After a lost connection the command object stays for the reconnect.
    if (!connectionLost_) command_.reset();
    conversionsFor_ = nullptr;
    if (failure) std::rethrow_exception(failure);
}

void TSDDataSet::DisconnectCommand() {
    Close();
    DropCommand();
    conversionsFor_ = nullptr;
}

void TSDDataSet::DropCommand() {
    if (!command_) return;
    if (commandCalls_ == 0) {
        command_.reset();
        return;
    }
    // Disconnected now, while its connection still stands; the object stays for the frames
    // of the call still running on it.
    command_->BeforeDestruction();
    droppedCommands_.push_back(std::move(command_));
}

TSDDataSet::CommandCall::CommandCall(TSDDataSet& dataSet)
    : dataSet_(dataSet),
      database_(dataSet.database_),
      wasFetching_(database_ != nullptr && database_->Fetching()) {
    CheckFatal(database_ != nullptr, "TSDDataSet.CommandCall");
    ++dataSet_.commandCalls_;
    database_->SetFetching(true);
}

TSDDataSet::CommandCall::~CommandCall() {
    // A call inside another one (a driver that runs one statement at a time has the previous
    // data set fetch its rest during this one's execution) leaves the outer one fetching.
    database_->SetFetching(wasFetching_);
    if (--dataSet_.commandCalls_ == 0) dataSet_.droppedCommands_.clear();
}

void TSDDataSet::ExecuteCursor() {
    CheckFatal(command_ != nullptr && database_ != nullptr, "TSDDataSet.ExecuteCursor");
    const CommandCall call(*this);
    command_->LongDataSize = LongColumnSize;
    command_->Execute();
}

void TSDDataSet::ReexecuteCursor(bool hasHandle) {
    if (!hasHandle) PrepareCursor();
    ExecuteCursor();
}

void TSDDataSet::ISqlPrepare(const std::string& sql) {
    CheckFatal(command_ != nullptr, "TSDDataSet.ISqlPrepare");
    const CommandCall call(*this);
    command_->LongDataSize = LongColumnSize;
    command_->Prepare(sql);
}

void TSDDataSet::ISqlExecDirect(const std::string& sql) {
    CheckFatal(command_ != nullptr, "TSDDataSet.ISqlExecDirect");
    const CommandCall call(*this);
    command_->LongDataSize = LongColumnSize;
    command_->ExecDirect(sql);
}

void TSDDataSet::ISqlExecute() {
    CheckFatal(command_ != nullptr, "TSDDataSet.ISqlExecute");
    const CommandCall call(*this);
    command_->LongDataSize = LongColumnSize;
    command_->Execute();
}

int32_t TSDDataSet::ISqlGetRowsAffected() {
    CheckFatal(command_ != nullptr, "TSDDataSet.ISqlGetRowsAffected");
    return command_->GetRowsAffected();
}

int32_t TSDDataSet::ISqlWriteBlob(int32_t fieldNo, const uint8_t* data, int32_t count) {
    CheckFatal(command_ != nullptr, "TSDDataSet.ISqlWriteBlob");
    return command_->WriteBlob(fieldNo, data, count);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TSDDataSet::OpenCursor(bool infoQuery) {
    if (localData_) {
        rtl::TDataSet::OpenCursor(infoQuery);
        return;
    }
    RunWithWaitCursor([&] {
        SetDBFlag(dsfOpened, true);
        connectionLost_ = false;
        PrepareCursor();
        if (!command_ || !command_->ResultSetExists()) {
            command_.reset();
            conversionsFor_ = nullptr;
            throw ESDNoResultSet("Error creating cursor handle");
        }
        rtl::TDataSet::OpenCursor(infoQuery);
    });
}

void TSDDataSet::CloseCursor() {
    RunWithWaitCursor([&] {
        // Every step runs; the first failure is reported at the end.
        std::exception_ptr failure;
        auto step = [&](const std::function<void()>& f) {
            try {
                f();
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        };
        step([&] {
            if (command_) command_->CloseResultSet();
        });
        step([&] { FreeCommand(); });
        step([&] { rtl::TDataSet::CloseCursor(); });
        step([&] { SetDBFlag(dsfOpened, false); });
        if (failure) std::rethrow_exception(failure);
    });
}

void TSDDataSet::InternalOpen() {
    if (FieldDefs().Count() == 0) InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    ComputeLayout();
    resultSet_ = std::make_unique<TSDResultSet>(*this, blobCount_ > 0);
    conversionsFor_ = nullptr;
    if (localData_)
        resultSet_->SetAllFetched(true);
    else
        ExecuteCursor();
    updateRecordTypes_ =
        rtl::StatusBit(rtl::usModified) | rtl::StatusBit(rtl::usInserted) | rtl::StatusBit(rtl::usUnmodified);
    if (!rtl::Trim(Filter()).empty() && !filterParser_)
        filterParser_ = CompileFilter(rtl::Trim(Filter()), FilterOptions());
}

void TSDDataSet::InternalClose() {
    if (DefaultFields()) {
        if (filterParser_) filterParser_->ClearCache();
        fieldNameCache_.clear();
    }
    // The rows go with their pool; buffers still alive elsewhere keep it until they go.
    if (pool_) pool_->Retire();
    resultSet_.reset();
    pool_.reset();
    conversions_.clear();
    directCells_.clear();
    allDirect_ = false;
    conversionsFor_ = nullptr;
    fieldOffsets_.clear();
    blobIndexes_.clear();
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    if (defsFromFields_) {
        FieldDefs().Clear();
        defsFromFields_ = false;
    }
    localData_ = false;
    updateRecordTypes_ = 0;
}

void TSDDataSet::InternalInitFieldDefs() {
    if (Active()) return;
    rtl::TFieldDefs& defs = FieldDefs();
    defs.Clear();
    if (!command_) return;
    if (command_->FieldDescs->Count() == 0) command_->InitFieldDescs();
    for (int i = 0; i < command_->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = command_->FieldDescs->GetFieldDesc(i);
        int size = 0;
        switch (d.FieldType) {
            case ftString:
            case ftFixedChar:
            case ftWideString:
                size = d.DataSize > 0 ? d.DataSize - 1 : 0;
                break;
            case ftBytes:
            case ftVarBytes:
            case ftParadoxOle:
            case ftDBaseOle:
            case ftTypedBinary:
                size = d.DataSize;
                break;
            case ftBCD:
                size = d.Scale;
                break;
            case ftGuid:
                size = 38;
                break;
            default:
                break;
        }
        rtl::TFieldDef& def = defs.Add(d.FieldName, d.FieldType, size, false);
        def.FieldNo = d.FieldNo;
        if (d.FieldType == ftFloat || d.FieldType == ftBCD) def.Precision = d.Precision;
        if ((d.FieldType == ftString || d.FieldType == ftFixedChar) && d.IsFixedChar) def.FixedChar = true;
        def.AutoIncrement = d.AutoIncrement;
    }
    const std::string required = DatabaseParam("FIELD REQUIRED");
    if (!required.empty())
        for (int i = 0; i < defs.Count(); ++i)
            defs[i].Required = required == STrueString;
}

void TSDDataSet::ComputeLayout() {
    // Slots of the old size stay with the buffers that hold them.
    if (pool_) pool_->Retire();
    pool_.reset();
    int maxFieldNo = 0;
    for (int i = 0; i < FieldDefs().Count(); ++i)
        maxFieldNo = std::max(maxFieldNo, FieldDefs()[i].FieldNo);
    fieldOffsets_.assign(size_t(maxFieldNo), -1);
    blobIndexes_.assign(size_t(maxFieldNo), -1);
    slotsSize_ = 0;
    blobCount_ = 0;
    for (int i = 0; i < FieldDefs().Count(); ++i) {
        const int fieldNo = FieldDefs()[i].FieldNo;
        if (fieldNo < 1) continue;
        TField* f = FieldByNumber(fieldNo);
        if (f == nullptr || f->Calculated() || f->FieldKind() == rtl::fkInternalCalc) continue;
        fieldOffsets_[size_t(fieldNo - 1)] = slotsSize_;
        slotsSize_ += f->RecordSize() + 1;
        if (f->IsBlob()) blobIndexes_[size_t(fieldNo - 1)] = blobCount_++;
    }
    // Data fields read their slots straight from the active record in browse state, where
    // ReadableSlot would answer the same slot of the same buffer. Blob fields keep asking (their
    // content is beside the record); calculated ones have no slot here (field number 0).
    for (int i = 0; i < FieldCount(); ++i) {
        TField& f = Fields(i);
        SetFieldRecordSlot(f, f.FieldNo() >= 1 && !f.IsBlob() ? FieldSlot(f) : -1);
    }
    dataSize_ = slotsSize_ + CalcFieldsSize();
    headerOffset_ = dataSize_ + 4 * blobCount_;
    bookmarkOffset_ = headerOffset_ + 6;
    recordSize_ = headerOffset_ + 10;
}

int TSDDataSet::FieldSlot(const TField& field) const {
    const int n = field.FieldNo();
    if (n < 1 || n > int(fieldOffsets_.size())) return -1;
    return fieldOffsets_[size_t(n - 1)];
}

int TSDDataSet::BlobIndexOf(const TField& field) const {
    const int n = field.FieldNo();
    if (n < 1 || n > int(blobIndexes_.size())) return -1;
    return blobIndexes_[size_t(n - 1)];
}

std::unique_ptr<RecordBuffer> TSDDataSet::NewRecordBuffer() const {
    if (!pool_) pool_ = NewSDRecordStore(size_t(recordSize_));
    return RecordBuffer::FromPool(pool_, size_t(blobCount_));
}

// ---------------------------------------------------------------------------------------------
// Column conversions

TSDDataSet::Conversion TSDDataSet::PlanConversion(TSDServerType server, const TSDFieldDesc& d,
                                                  TField* field) const {
    Conversion c;
    c.field = field;
    c.columnType = d.FieldType;
    if (field == nullptr || field->Calculated()) return c;
    c.slot = FieldSlot(*field);
    if (c.slot < 0) return c;
    const TFieldType ft = field->DataType();
    const TFieldType ct = d.FieldType;
    if (IsBlobFieldType(server, ct)) {
        c.blobIndex = BlobIndexOf(*field);
        c.kind = c.blobIndex >= 0 ? Conversion::Kind::Blob : Conversion::Kind::Unsupported;
    } else if ((ft == ftInteger || ft == ftAutoInc) && ct != ft &&
               (ct == ftSmallint || ct == ftWord || ct == ftFloat || ct == ftAutoInc || ct == ftLargeint ||
                ct == ftInteger)) {
        c.kind = Conversion::Kind::IntegerFromOther;
        c.scratchSize = std::max(d.DataSize, field->DataSize());
    } else if ((ft == ftDate || ft == ftTime) && ct != ft) {
        c.kind = ct == ftDateTime ? Conversion::Kind::DateFromDateTime : Conversion::Kind::Unsupported;
    } else if (ft != ct && field->DataSize() != d.DataSize) {
        c.kind = Conversion::Kind::Unsupported;
    } else {
        c.kind = Conversion::Kind::Direct;
        c.limit = IsStringType(ft) ? std::min(field->DataSize(), d.DataSize) : field->DataSize();
    }
    return c;
}

void TSDDataSet::BuildConversions() {
    conversions_.clear();
    const TSDServerType server = command_->GetSqlDatabase().GetServerType();
    for (int i = 0; i < command_->FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = command_->FieldDescs->GetFieldDesc(i);
        Conversion c = PlanConversion(server, d, FieldByNumber(d.FieldNo));
        c.descIndex = i;
        c.desc = &d;
        conversions_.push_back(c);
    }
    directCells_.clear();
    allDirect_ = true;
    for (const Conversion& c : conversions_) {
        if (c.kind == Conversion::Kind::None) continue;
        if (c.kind != Conversion::Kind::Direct) {
            allDirect_ = false;
            directCells_.clear();
            break;
        }
        directCells_.push_back({c.desc, c.slot, c.limit});
    }
    conversionsFor_ = command_->FieldDescs.get();
}

void TSDDataSet::CopyRowFromCommand(RecordBuffer& buffer) {
    if (conversionsFor_ != command_->FieldDescs.get()) BuildConversions();
    TISqlCommand& command = *command_;
    uint8_t* data = buffer.Data();
    if (allDirect_) {
        // The common case: the driver reaches its row once and copies every column.
        command.GetCnvtRowData(directCells_.data(), directCells_.size(), data);
        return;
    }
    for (const Conversion& c : conversions_) {
        // Most columns land in their slot as the driver gives them: taken here, once per
        // column of every row, without the other kinds' preparations.
        if (c.kind == Conversion::Kind::Direct) {
            uint8_t* p = data + c.slot;
            p[0] = command.GetCnvtFieldData(*c.desc, p + 1, c.limit) ? 1 : 0;
        } else if (c.kind != Conversion::Kind::None) {
            ApplyConversion(command, *c.desc, c, buffer, false);
        }
    }
}

void TSDDataSet::ISqlCnvtFieldData(TISqlCommand& command, const TSDFieldDesc& desc, TField* field,
                                   RecordBuffer& buffer) {
    if (field == nullptr) field = FieldByNumber(desc.FieldNo);
    if (field == nullptr) return;
    const Conversion c = PlanConversion(command.GetSqlDatabase().GetServerType(), desc, field);
    ApplyConversion(command, desc, c, buffer, true);
}

void TSDDataSet::ApplyConversion(TISqlCommand& command, const TSDFieldDesc& desc, const Conversion& c,
                                 RecordBuffer& buffer, bool clear) {
    uint8_t* p = buffer.Data() + c.slot;
    bool present = false;
    switch (c.kind) {
        case Conversion::Kind::Blob: {
            rtl::BlobRef blob = command.GetFieldBlobData(desc);
            command.SetFieldBlobData(desc, nullptr);
            present = blob && !blob->empty();
            buffer.SetBlob(size_t(c.blobIndex), std::move(blob));
            break;
        }
        case Conversion::Kind::IntegerFromOther: {
            uint8_t local[16] = {};
            std::vector<uint8_t> large;
            uint8_t* scratch = local;
            if (c.scratchSize > int(sizeof local)) {
                large.assign(size_t(c.scratchSize), 0);
                scratch = large.data();
            }
            present = command.GetCnvtFieldData(desc, scratch, c.scratchSize);
            if (present) {
                int32_t v = 0;
                switch (desc.FieldType) {
                    case ftFloat: {
                        double d;
                        std::memcpy(&d, scratch, 8);
                        v = int32_t(uint32_t(uint64_t(RoundedInt64(d, *c.field))));  // the low 32 bits
                        break;
                    }
                    case ftLargeint: {
                        int64_t i;
                        std::memcpy(&i, scratch, 8);
                        v = int32_t(uint32_t(uint64_t(i)));  // the low 32 bits
                        break;
                    }
                    case ftSmallint: {
                        int16_t s;  // keeps its sign
                        std::memcpy(&s, scratch, 2);
                        v = s;
                        break;
                    }
                    case ftWord: {
                        uint16_t w;
                        std::memcpy(&w, scratch, 2);
                        v = w;
                        break;
                    }
                    default:
                        std::memcpy(&v, scratch, 4);
                        break;
                }
                std::memcpy(p + 1, &v, 4);
            }
            break;
        }
        case Conversion::Kind::DateFromDateTime: {
            uint8_t rec[8] = {};
            present = command.GetCnvtFieldData(desc, rec, 8);
            if (present) {
                double ms;
                std::memcpy(&ms, rec, 8);
                const int64_t whole = RoundedInt64(ms, *c.field);
                int64_t day = whole / rtl::MSecsPerDay;
                int64_t time = whole % rtl::MSecsPerDay;
                if (time < 0) {
                    --day;
                    time += rtl::MSecsPerDay;
                }
                if (day < std::numeric_limits<int32_t>::min() || day > std::numeric_limits<int32_t>::max())
                    throw rtl::EDatabaseError(
                        rtl::Format("Valor fora dos limites para o campo '%s'", c.field->DisplayName()));
                const int32_t v = c.field->DataType() == ftDate ? int32_t(day) : int32_t(time);
                std::memset(p + 1, 0, 8);
                std::memcpy(p + 1, &v, 4);
            }
            break;
        }
        case Conversion::Kind::Direct:
            if (clear) std::memset(p + 1, 0, size_t(c.field->RecordSize()));
            present = command.GetCnvtFieldData(desc, p + 1, c.limit);
            break;
        case Conversion::Kind::Unsupported:
            throw rtl::EDatabaseError(DataConversionError(desc.FieldType, c.field->DataType()));
        case Conversion::Kind::None:
            return;
    }
    p[0] = present ? 1 : 0;
}

bool TSDDataSet::FetchCommandRow() {
    // A lost connection the driver finds here closes this data set under the driver's frames,
    // as it may during an execution.
    const CommandCall call(*this);
    return command_->FetchNextRow();
}

// ---------------------------------------------------------------------------------------------
// Field access

RecordBuffer* TSDDataSet::GetActiveRecBuf() {
    switch (State()) {
        case rtl::dsBrowse:
            return IsEmpty() ? nullptr : ActiveBuffer();
        case rtl::dsEdit:
        case rtl::dsInsert:
        case rtl::dsNewValue:
        case rtl::dsBlockRead:
            return ActiveBuffer();
        case rtl::dsCalcFields:
            return CalcBuffer();
        case rtl::dsFilter:
            return filterBuffer_;
        case rtl::dsOldValue: {
            RecordBuffer* active = ActiveBuffer();
            if (active == nullptr || !resultSet_ || !HasActiveRecord()) return nullptr;
            const int index = BookmarkOf(*active);
            if (index < 0 || !resultSet_->HasEntry(index)) return nullptr;
            // The row as the cache holds it: its original once changed, else its current data.
            switch (resultSet_->GetItemStatus(index)) {
                case rtl::usInserted:
                    return nullptr;
                case rtl::usModified:
                case rtl::usDeleted:
                    if (RecordBuffer* old = resultSet_->GetOldItemBuffer(index)) return old;
                    return &resultSet_->GetItemBuffer(index);
                default:
                    return &resultSet_->GetItemBuffer(index);
            }
        }
        default:
            return nullptr;
    }
}

const uint8_t* TSDDataSet::ReadableSlot(const TField& field) {
    // Browsing is by far the most frequent state a value is read in.
    RecordBuffer* buffer =
        State() == rtl::dsBrowse ? (IsEmpty() ? nullptr : ActiveBuffer()) : GetActiveRecBuf();
    if (buffer == nullptr) return nullptr;
    if (field.FieldNo() < 1) {
        // Calculated values are there only while records are read or calculated.
        switch (State()) {
            case rtl::dsBrowse:
            case rtl::dsEdit:
            case rtl::dsInsert:
            case rtl::dsCalcFields:
            case rtl::dsBlockRead:
                return buffer->Data() + slotsSize_ + field.Offset();
            default:
                return nullptr;
        }
    }
    const int slot = FieldSlot(field);
    return slot < 0 ? nullptr : buffer->Data() + slot;
}

bool TSDDataSet::GetFieldData(const TField& field, void* dest) {
    const uint8_t* p = ReadableSlot(field);
    if (p == nullptr || p[0] == 0) return false;
    if (dest != nullptr) std::memcpy(dest, p + 1, size_t(field.RecordSize()));
    return true;
}

const uint8_t* TSDDataSet::FieldDataInPlace(const TField& field, bool& inPlace) {
    inPlace = true;
    const uint8_t* p = ReadableSlot(field);
    return p == nullptr || p[0] == 0 ? nullptr : p + 1;
}

void TSDDataSet::SetFieldData(TField& field, const void* source) {
    const rtl::TDataSetState state = State();
    switch (state) {
        case rtl::dsEdit:
        case rtl::dsInsert:
        case rtl::dsSetKey:
        case rtl::dsCalcFields:
        case rtl::dsFilter:
        case rtl::dsNewValue:
        case rtl::dsInternalCalc:
            break;
        default:
            Error("Arquivo não está em modo de edição ou inserção");
    }
    RecordBuffer* buffer = GetActiveRecBuf();
    rtl::Assert(buffer != nullptr, "Field buffer = nil");
    if (field.Calculated() || field.FieldKind() == rtl::fkInternalCalc) {
        uint8_t* p = buffer->Data() + slotsSize_ + field.Offset();
        p[0] = source != nullptr ? 1 : 0;
        if (source != nullptr) std::memcpy(p + 1, source, size_t(field.RecordSize()));
    } else {
        if (state == rtl::dsCalcFields) Error("Arquivo não está em modo de edição ou inserção");
        if (field.ReadOnly && state != rtl::dsSetKey && state != rtl::dsFilter)
            Error(rtl::Format("Campo '%s' não pode ser modificado", field.DisplayName()));
        const int slot = FieldSlot(field);
        CheckFatal(slot >= 0, "TSDDataSet.SetFieldData");
        uint8_t* p = buffer->Data() + slot;
        if (source == nullptr) {
            p[0] = 0;
            const int blob = BlobIndexOf(field);
            if (blob >= 0) buffer->SetBlob(size_t(blob), nullptr);
        } else {
            size_t n = size_t(field.RecordSize());
            if (IsStringType(field.DataType()) || field.DataType() == ftGuid) {
                const auto* text = static_cast<const char*>(source);
                n = strnlen(text, n > 0 ? n - 1 : 0) + 1;
            }
            std::memcpy(p + 1, source, n);
            if (IsStringType(field.DataType()) || field.DataType() == ftGuid) p[n] = 0;
            p[0] = 1;
        }
        if (StatusOf(*buffer) == rtl::usUnmodified) SetStatusOf(*buffer, rtl::usModified);
    }
    if (state != rtl::dsCalcFields && state != rtl::dsFilter && state != rtl::dsNewValue)
        DataEvent(rtl::deFieldChange, reinterpret_cast<intptr_t>(&field));
}

TField& TSDDataSet::FieldByName(std::string_view name) {
    TField* f = FindFieldCached(name);
    if (f == nullptr)
        throw rtl::EDatabaseError(rtl::Format("%s: Campo '%s' não encontrado", Name(), std::string(name)));
    return *f;
}

TField* TSDDataSet::FindFieldCached(std::string_view name) {
    const std::string key = rtl::UpperCase(name);
    auto it = fieldNameCache_.find(key);
    if (it != fieldNameCache_.end()) return it->second;
    TField* f = FindField(name);
    if (f != nullptr) fieldNameCache_.emplace(key, f);
    return f;
}

void TSDDataSet::FieldRemoved(TField&) {
    // Field objects are about to go: nothing may keep pointing at them.
    fieldNameCache_.clear();
    if (filterParser_) filterParser_->ClearCache();
    conversionsFor_ = nullptr;
}

void TSDDataSet::InternalInitRecord(RecordBuffer& buffer) {
    for (int offset : fieldOffsets_)
        if (offset >= 0) buffer.Data()[offset] = 0;
}

void TSDDataSet::InitRecord(RecordBuffer& buffer) {
    rtl::TDataSet::InitRecord(buffer);
    buffer.ClearBlobs();
    SetRecNoOf(buffer, -1);
    SetStatusOf(buffer, rtl::usInserted);
    SetBookmarkFlagOf(buffer, rtl::bfInserted);
    SetBookmarkOf(buffer, -1);
}

void TSDDataSet::ClearCalcFields(RecordBuffer& buffer) {
    if (CalcFieldsSize() > 0) std::memset(buffer.Data() + slotsSize_, 0, size_t(CalcFieldsSize()));
}

void TSDDataSet::DoOnNewRecord() {
    for (int i = 0; i < FieldCount(); ++i) {
        TField& f = Fields(i);
        if (!f.DefaultExpression.empty() && f.DataType() != ftLargeint)
            f.SetValue(Variant(f.DefaultExpression));
    }
    rtl::TDataSet::DoOnNewRecord();
}

std::unique_ptr<rtl::Stream> TSDDataSet::CreateBlobStream(TField& field, rtl::TBlobStreamMode mode) {
    if (!field.IsBlob()) Error(rtl::Format("O campo '%s' não é um campo de blob", field.DisplayName()));
    return std::make_unique<TSDBlobStream>(field, mode);
}

// ---------------------------------------------------------------------------------------------
// Navigation

rtl::TGetResult TSDDataSet::GetRecord(RecordBuffer& buffer, rtl::TGetMode mode, bool) {
    if (resultSet_ && resultSet_->GetRecord(buffer, mode)) {
        SetBookmarkFlagOf(buffer, rtl::bfCurrent);
        GetCalcFields(buffer);
        return rtl::grOK;
    }
    return mode == rtl::gmPrior ? rtl::grBOF : rtl::grEOF;
}

void TSDDataSet::InternalFirst() {
    if (resultSet_) resultSet_->ResetPosition();
}

void TSDDataSet::InternalLast() {
    if (!resultSet_) return;
    RunWithWaitCursor([&] { resultSet_->FetchAll(); });
    resultSet_->SetPositionToEnd();
}

void TSDDataSet::InternalSetToRecord(RecordBuffer& buffer) {
    if (resultSet_) resultSet_->SetPosition(BookmarkOf(buffer));
}

void TSDDataSet::GetBookmarkData(const RecordBuffer& buffer, rtl::TBookmark& bookmark) {
    bookmark.assign(4, 0);
    const int32_t index = BookmarkOf(buffer);
    std::memcpy(bookmark.data(), &index, 4);
}

void TSDDataSet::SetBookmarkData(RecordBuffer& buffer, const rtl::TBookmark& bookmark) {
    int32_t index = -1;
    if (bookmark.size() >= 4) std::memcpy(&index, bookmark.data(), 4);
    SetBookmarkOf(buffer, index);
}

void TSDDataSet::InternalGotoBookmark(const rtl::TBookmark& bookmark) {
    if (!resultSet_) return;
    int32_t index = -1;
    if (bookmark.size() >= 4) std::memcpy(&index, bookmark.data(), 4);
    if (index >= resultSet_->Count() && !resultSet_->AllFetched())
        RunWithWaitCursor([&] { resultSet_->FetchAll(); });
    resultSet_->SetPosition(index);
}

bool TSDDataSet::BookmarkValid(const rtl::TBookmark& bookmark) {
    if (!resultSet_ || bookmark.size() < 4) return false;
    int32_t index = -1;
    std::memcpy(&index, bookmark.data(), 4);
    return index >= 0 && index < resultSet_->Count() && resultSet_->GetItemStatus(index) != rtl::usDeleted;
}

int TSDDataSet::CompareBookmarks(const rtl::TBookmark* a, const rtl::TBookmark* b) {
    if (a == nullptr && b == nullptr) return 0;
    if (a == nullptr) return 1;
    if (b == nullptr) return -1;
    if (!Active() || a->size() < 4 || b->size() < 4) return 0;
    int32_t x = 0, y = 0;
    std::memcpy(&x, a->data(), 4);
    std::memcpy(&y, b->data(), 4);
    return x < y ? -1 : x > y ? 1 : 0;
}

bool TSDDataSet::GetCurrentRecord(std::vector<uint8_t>& buffer) {
    RecordBuffer* active = ActiveBuffer();
    if (IsEmpty() || active == nullptr || BookmarkFlagOf(*active) != rtl::bfCurrent) return false;
    UpdateCursorPos();
    buffer.assign(active->Data(), active->Data() + slotsSize_);
    return true;
}

int TSDDataSet::GetRecNo() {
    if (IsEmpty()) return 0;
    RecordBuffer* buffer = State() == rtl::dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (buffer == nullptr) return 0;
    return RecNoOf(*buffer) + 1;
}

void TSDDataSet::SetRecNo(int value) {
    CheckBrowseMode();
    if (!resultSet_) return;
    // Record numbers count the rows not hidden by a delete (a live delete hides its row too).
    const bool hidden = resultSet_->DeletedCount() > 0;
    if (value - 1 >= resultSet_->Count() - resultSet_->DeletedCount() && !resultSet_->AllFetched())
        RunWithWaitCursor([&] { resultSet_->FetchAll(); });
    // Once rows are hidden, a record number is no longer its row's index: the row is found by
    // its number, and nothing happens when it is the active one already.
    const int target = CachedUpdates() || hidden ? resultSet_->FindRowIndex(value - 1) : value - 1;
    if (HasActiveRecord() && ActiveBuffer() != nullptr && BookmarkOf(*ActiveBuffer()) == target) return;
    Fire(BeforeScroll);
    resultSet_->SetPosition(target);
    Resync(rtl::rmCenter);
    Fire(AfterScroll);
}

int TSDDataSet::GetRecordCount() {
    if (UniDirectional() || !resultSet_) return -1;
    RunWithWaitCursor([&] { resultSet_->FetchAll(); });
    return resultSet_->GetVisibleCount();
}

bool TSDDataSet::IsSequenced() {
    return Active() && (!command_ || (resultSet_ && resultSet_->AllFetched()));
}

void TSDDataSet::FetchAll() {
    if (!resultSet_) return;
    RunWithWaitCursor([&] { resultSet_->FetchAll(); });
    if (detachOnFetchAll_ && CommandHasHandle()) Detach();
}

void TSDDataSet::Detach() {
    if (!command_) return;
    command_->CloseResultSet();
    command_->Disconnect(true);
    command_->ClearPreparedText();
    // No row can come any more.
    if (resultSet_) resultSet_->SetAllFetched(true);
}

void TSDDataSet::DetachForRollback() {
    if (Active()) {
        FetchAll();
        if (command_) command_->CloseResultSet();
    }
    if (command_) {
        command_->Disconnect(true);
        command_->ClearPreparedText();
    }
    if (resultSet_) resultSet_->SetAllFetched(true);
}

void TSDDataSet::CloseQuietly() {
    struct Closing {
        bool& flag;
        ~Closing() { flag = false; }
    } guard{closing_};
    closing_ = true;
    try {
        Close();
        if (dbFlags_ != 0) {
            dbFlags_ = 1u << dsfOpened;
            SetDBFlag(dsfOpened, false);
        }
    } catch (const ESDEngineError&) {
        // A connection being torn down may fail to close cleanly; the data set is closed anyway.
        if (dbFlags_ != 0) {
            dbFlags_ = 1u << dsfOpened;
            try {
                SetDBFlag(dsfOpened, false);
            } catch (const ESDEngineError&) {
                // As above.
            }
        }
    }
}

void TSDDataSet::InternalRefresh() {
    if (!resultSet_ || localData_) return;
    const int oldPosition = resultSet_->Position();
    if (oldPosition == -1) return;
    // The rows come back without those a delete hid: the record is found again by its record
    // number, which is its place among the rows read again.
    int target = oldPosition - resultSet_->DeletedCount();
    if (oldPosition < resultSet_->Count() && resultSet_->HasEntry(oldPosition)) {
        const int recNo = RecNoOf(resultSet_->GetItemBuffer(oldPosition));
        if (recNo >= 0) target = recNo;
    }
    target = std::max(target, 0);
    RunWithWaitCursor([&] {
        const bool hasHandle = CommandHasHandle();
        if (command_) command_->CloseResultSet();
        resultSet_->Clear();
        conversionsFor_ = nullptr;
        ReexecuteCursor(hasHandle);
        while (resultSet_->Count() <= target && resultSet_->FetchNext()) {
        }
        resultSet_->SetPosition(target);
    });
}
