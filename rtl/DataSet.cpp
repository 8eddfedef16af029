// rtl/DataSet.cpp: the data-set base: opening and closing, moves over one record buffer,
// the edit states, bookmarks, fields, controls and data events.
#include "rtl/DataSet.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "rtl/Assert.h"
#include "rtl/DataLink.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

std::mutex gHandlerLock;
TExceptionHandler gHandler;

}  // namespace

void SetApplicationExceptionHandler(TExceptionHandler handler) {
    std::lock_guard lock(gHandlerLock);
    gHandler = std::move(handler);
}

void HandleApplicationException(const std::exception& e) {
    TExceptionHandler handler;
    {
        std::lock_guard lock(gHandlerLock);
        handler = gHandler;
    }
    if (handler) handler(e);
}

// ---------------------------------------------------------------------------------------------
// Record buffers

static_assert(sizeof(RecordBuffer) <= RecordPool::kObjectRoom && alignof(RecordBuffer) <= 8,
              "a record buffer object fits the room at the start of a pool slot");

namespace {

// The plain pool's slabs: 256 KB (or one slot, when a slot is larger) from the heap, cleared by
// calloc, which knows when memory fresh from the system needs no clearing.
class HeapSlabs final : public RecordPool::SlabSource {
public:
    uint8_t* NewSlab(size_t minimum, size_t& size, bool& zeroed) override {
        size = std::max<size_t>(minimum, size_t(1) << 18);
        std::unique_ptr<uint8_t[], Free> slab(static_cast<uint8_t*>(std::calloc(1, size)));
        if (!slab) throw std::bad_alloc();
        slabs_.push_back(std::move(slab));
        zeroed = true;
        return slabs_.back().get();
    }

private:
    struct Free {
        void operator()(uint8_t* slab) const { std::free(slab); }
    };
    std::vector<std::unique_ptr<uint8_t[], Free>> slabs_;
};

}  // namespace

RecordPool::RecordPool(size_t blockSize) : RecordPool(blockSize, std::make_unique<HeapSlabs>()) {}

RecordPool::RecordPool(size_t blockSize, std::unique_ptr<SlabSource> source)
    : blockSize_((std::max<size_t>(blockSize, 1) + 7) & ~size_t(7)),
      slotSize_(kObjectRoom + blockSize_),
      source_(std::move(source)) {}

RecordPool::~RecordPool() = default;

uint8_t* RecordPool::Take() {
    // Taken first: it is what may fail besides a new slab, and nothing has changed yet.
    std::shared_ptr<RecordPool> keep = inUse_ == 0 ? shared_from_this() : nullptr;
    uint8_t* slot = free_;
    if (slot != nullptr) {
        std::memcpy(&free_, slot, sizeof free_);
        std::memset(slot + kObjectRoom, 0, blockSize_);
    } else {
        if (size_t(end_ - next_) < slotSize_) {
            size_t size = 0;
            bool zeroed = false;
            uint8_t* slab = source_->NewSlab(slotSize_, size, zeroed);
            Assert(size >= slotSize_ && reinterpret_cast<uintptr_t>(slab) % 8 == 0,
                   "RecordPool: a slab must hold a slot and be 8-byte aligned");
            next_ = slab;
            end_ = slab + size / slotSize_ * slotSize_;
            restZeroed_ = zeroed;
        }
        slot = next_;
        next_ += slotSize_;
        if (!restZeroed_) std::memset(slot + kObjectRoom, 0, blockSize_);
    }
    if (keep) self_ = std::move(keep);
    ++inUse_;
    return slot;
}

void RecordPool::Give(uint8_t* slot) noexcept {
    if (!retired_) {
        std::memcpy(slot, &free_, sizeof free_);
        free_ = slot;
    }
    if (--inUse_ == 0) {
        // The pool may go with this, when its owner let go: nothing here is touched after it.
        std::shared_ptr<RecordPool> last = std::move(self_);
    }
}

RecordBuffer::RecordBuffer(size_t size, size_t blobCount)
    : blobs_(blobCount > 0 ? std::make_unique<BlobRef[]>(blobCount) : nullptr),
      data_(std::make_unique<uint8_t[]>(size == 0 ? 1 : size)),
      size_(uint32_t(size)),
      blobCount_(uint32_t(blobCount)) {}

RecordBuffer::RecordBuffer(RecordPool* pool, uint8_t* data, size_t blobCount)
    : pool_(pool),
      blobs_(blobCount > 0 ? std::make_unique<BlobRef[]>(blobCount) : nullptr),
      data_(data),
      size_(uint32_t(pool_->BlockSize())),
      blobCount_(uint32_t(blobCount)) {}

RecordBuffer::~RecordBuffer() {
    if (pool_ != nullptr) (void)data_.release();  // part of the slot: the pool's
}

std::unique_ptr<RecordBuffer> RecordBuffer::FromPool(const std::shared_ptr<RecordPool>& pool,
                                                     size_t blobCount) {
    uint8_t* slot = pool->Take();
    try {
        uint8_t* data = slot + RecordPool::kObjectRoom;
        return std::unique_ptr<RecordBuffer>(::new (slot) RecordBuffer(pool.get(), data, blobCount));
    } catch (...) {
        pool->Give(slot);
        throw;
    }
}

void* RecordBuffer::operator new(size_t size) {
    return ::operator new(size);
}

void RecordBuffer::operator delete(RecordBuffer* buffer, std::destroying_delete_t) {
    RecordPool* pool = buffer->pool_;
    buffer->~RecordBuffer();
    if (pool)
        pool->Give(reinterpret_cast<uint8_t*>(buffer));
    else
        ::operator delete(buffer);
}

const BlobRef& RecordBuffer::Blob(size_t index) const {
    if (index >= blobCount_)
        throw EAssertionFailed(Format("Blob reference %d outside the record", int64_t(index)));
    return blobs_[index];
}

void RecordBuffer::SetBlob(size_t index, BlobRef blob) {
    if (index >= blobCount_)
        throw EAssertionFailed(Format("Blob reference %d outside the record", int64_t(index)));
    if (blob && blob->empty()) blob.reset();
    blobs_[index] = std::move(blob);
}

void RecordBuffer::ClearBlobs() {
    for (size_t i = 0; i < blobCount_; ++i)
        blobs_[i].reset();
}

// ---------------------------------------------------------------------------------------------
// Creation, errors

TDataSet::TDataSet(Component* owner) : Component(owner), fieldDefs_(this) {}

TDataSet::~TDataSet() {
    // Subclasses close themselves in their own destructors; here only the links go.
    const std::vector<TDataSource*> sources = dataSources_;
    for (TDataSource* s : sources)
        s->DataSetGone();
    fields_.clear();
}

void TDataSet::Error(const std::string& message) const {
    if (Name().empty()) throw EDatabaseError(message);
    throw EDatabaseError(Name() + ": " + message);
}

void TDataSet::CheckActive() const {
    if (!Active()) Error("Não é possível realizar esta operação em um arquivo fechado");
}

void TDataSet::CheckInactive() const {
    if (Active()) Error("Não é possível realizar esta operação em um arquivo aberto");
}

void TDataSet::CheckCanModify() {
    if (!GetCanModify()) Error("Não é possível modificar um arquivo somente de leitura");
}

void TDataSet::Loaded() {
    Component::Loaded();
    if (streamedActive_) SetActive(true);
}

// ---------------------------------------------------------------------------------------------
// States

void TDataSet::SetState(TDataSetState value) {
    if (state_ == value) return;
    state_ = value;
    modified_ = false;
    DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
    const TDataSetState previous = state_;
    state_ = value;
    ++disableCount_;
    return previous;
}

void TDataSet::RestoreState(TDataSetState previous) {
    // A data set closed during the temporary state stays closed: a lost connection closes it
    // from inside a fetch, and a restored state would call its freed buffers current.
    if (state_ != dsInactive) state_ = previous;
    --disableCount_;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TDataSet::SetActive(bool value) {
    if (IsLoading()) {
        streamedActive_ = value;
        return;
    }
    if (value == Active()) return;
    if (value) {
        DoBeforeOpen();
        internalOpenComplete_ = false;
        try {
            OpenCursor(false);
            if (!internalOpenComplete_) DoInternalOpen();
            // The first record becomes the active one.
            hasRecord_ = GetRecord(*activeBuf_, gmNext, true) == grOK;
            cursorOnActive_ = hasRecord_;
            bof_ = true;
            eof_ = !hasRecord_;
        } catch (...) {
            state_ = dsInactive;
            hasRecord_ = false;
            try {
                CloseCursor();
            } catch (const std::exception&) {
                // The open's own failure is the one the caller must see.
            }
            throw;
        }
        SetState(dsBrowse);
        DoAfterOpen();
        if (!IsEmpty()) Fire(AfterScroll);
    } else {
        Fire(BeforeClose);
        SetState(dsInactive);
        CloseCursor();
        Fire(AfterClose);
    }
}

void TDataSet::OpenCursor(bool infoQuery) {
    if (infoQuery)
        InternalInitFieldDefs();
    else
        DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
    defaultFields_ = fields_.empty();
    InternalOpen();
    internalOpenComplete_ = true;
    activeBuf_ = AllocRecordBuffer();
    tempBuf_ = AllocRecordBuffer();
    hasRecord_ = false;
    cursorOnActive_ = false;
    bof_ = true;
    eof_ = true;
}

void TDataSet::CloseCursor() {
    internalOpenComplete_ = false;
    FreeBuffers();
    InternalClose();
    // Default fields are gone with the close; a later close for information must not take
    // fields made since for default ones.
    defaultFields_ = false;
}

void TDataSet::FreeBuffers() {
    activeBuf_.reset();
    tempBuf_.reset();
    calcBuf_ = nullptr;
    hasRecord_ = false;
    cursorOnActive_ = false;
    bof_ = true;
    eof_ = true;
}

void TDataSet::InitFieldDefs() {
    if (IsCursorOpen()) {
        InternalInitFieldDefs();
        return;
    }
    fieldDefsUpdating_ = true;
    try {
        OpenCursor(true);
    } catch (...) {
        fieldDefsUpdating_ = false;
        try {
            CloseCursor();
        } catch (const std::exception&) {
            // The first failure is reported.
        }
        throw;
    }
    fieldDefsUpdating_ = false;
    CloseCursor();
}

// ---------------------------------------------------------------------------------------------
// Moves

void TDataSet::ClearBuffers() {
    hasRecord_ = false;
    cursorOnActive_ = false;
    bof_ = true;
    eof_ = true;
}

void TDataSet::UpdateCursorPos() {
    if (hasRecord_ && !cursorOnActive_ && activeBuf_) {
        InternalSetToRecord(*activeBuf_);
        cursorOnActive_ = true;
    }
}

bool TDataSet::GetNextRecord() {
    UpdateCursorPos();
    if (GetRecord(*tempBuf_, gmNext, true) == grOK) {
        std::swap(activeBuf_, tempBuf_);
        hasRecord_ = true;
        cursorOnActive_ = true;
        return true;
    }
    cursorOnActive_ = false;  // the cursor may have moved past the active record
    return false;
}

bool TDataSet::GetPriorRecord() {
    UpdateCursorPos();
    if (GetRecord(*tempBuf_, gmPrior, true) == grOK) {
        std::swap(activeBuf_, tempBuf_);
        hasRecord_ = true;
        cursorOnActive_ = true;
        return true;
    }
    cursorOnActive_ = false;
    return false;
}

void TDataSet::First() {
    CheckBrowseMode();
    Fire(BeforeScroll);
    ClearBuffers();
    try {
        InternalFirst();
        hasRecord_ = GetRecord(*activeBuf_, gmNext, true) == grOK;
        cursorOnActive_ = hasRecord_;
    } catch (...) {
        bof_ = true;
        eof_ = !hasRecord_;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    bof_ = true;
    eof_ = !hasRecord_;
    DataEvent(deDataSetChange, 0);
    Fire(AfterScroll);
}

void TDataSet::Last() {
    CheckBrowseMode();
    Fire(BeforeScroll);
    ClearBuffers();
    try {
        InternalLast();
        hasRecord_ = GetRecord(*activeBuf_, gmPrior, true) == grOK;
        cursorOnActive_ = hasRecord_;
    } catch (...) {
        eof_ = true;
        bof_ = !hasRecord_;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    eof_ = true;
    bof_ = !hasRecord_;
    DataEvent(deDataSetChange, 0);
    Fire(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
    CheckBrowseMode();
    int result = 0;
    if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
        Fire(BeforeScroll);
        bof_ = false;
        eof_ = false;
        try {
            while (distance > 0) {
                if (!GetNextRecord()) {
                    eof_ = true;
                    break;
                }
                --distance;
                ++result;
            }
            while (distance < 0) {
                if (!GetPriorRecord()) {
                    bof_ = true;
                    break;
                }
                ++distance;
                --result;
            }
        } catch (...) {
            DataEvent(deDataSetChange, 0);
            throw;
        }
        DataEvent(deDataSetScroll, result);
        Fire(AfterScroll);
    }
    return result;
}

void TDataSet::Resync(TResyncMode mode) {
    if (mode & rmExact) {
        CursorPosChanged();
        if (GetRecord(*tempBuf_, gmCurrent, true) != grOK) Error("Registro não encontrado");
    } else if (GetRecord(*tempBuf_, gmCurrent, false) != grOK &&
               GetRecord(*tempBuf_, gmNext, false) != grOK && GetRecord(*tempBuf_, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    std::swap(activeBuf_, tempBuf_);
    hasRecord_ = true;
    cursorOnActive_ = true;
    bof_ = false;
    eof_ = false;
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    Fire(BeforeRefresh);
    UpdateCursorPos();
    InternalRefresh();
    Resync(0);
    Fire(AfterRefresh);
}

int TDataSet::RecordCount() {
    return GetRecordCount();
}

bool TDataSet::FindRecord(bool, bool) {
    return false;
}

// ---------------------------------------------------------------------------------------------
// Editing

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError) {
    for (;;) {
        try {
            (this->*operation)();
            return;
        } catch (EDatabaseError& e) {
            if (!onError) throw;
            TDataAction action = daFail;
            onError(*this, e, action);
            if (action == daFail) throw;
            if (action == daAbort) throw EAbort("Operation aborted");
            // daRetry: once more
        }
    }
}

void TDataSet::UpdateRecord() {
    if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
        Error("Arquivo não está em modo de edição ou inserção");
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (state_) {
        case dsEdit:
        case dsInsert:
            UpdateRecord();
            if (modified_)
                Post();
            else
                Cancel();
            break;
        case dsSetKey:
            Post();
            break;
        default:
            break;
    }
}

void TDataSet::Edit() {
    if (state_ == dsEdit || state_ == dsInsert) return;
    if (!hasRecord_) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    Fire(BeforeEdit);
    UpdateCursorPos();
    CheckOperation(&TDataSet::InternalEdit, OnEditError);
    GetCalcFields(*activeBuf_);
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    Fire(AfterEdit);
}

void TDataSet::InitRecord(RecordBuffer& buffer) {
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    Fire(BeforeInsert);
    Fire(BeforeScroll);
}

void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        SetState(dsBrowse);
        Resync(0);
        throw;
    }
    modified_ = false;
    DataEvent(deDataSetChange, 0);
    Fire(AfterInsert);
    Fire(AfterScroll);
}

void TDataSet::DoOnNewRecord() {
    Fire(OnNewRecord);
}

void TDataSet::Insert() {
    BeginInsertAppend();
    // The new record goes where the current one is; the cursor stays on that one, so that a
    // cancel finds it again.
    TBookmark origin;
    if (hasRecord_) {
        UpdateCursorPos();
        GetBookmarkData(*activeBuf_, origin);
    }
    InitRecord(*activeBuf_);
    if (!origin.empty()) SetBookmarkData(*activeBuf_, origin);
    hasRecord_ = true;
    cursorOnActive_ = false;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append() {
    BeginInsertAppend();
    ClearBuffers();
    InternalLast();
    InitRecord(*activeBuf_);
    hasRecord_ = true;
    cursorOnActive_ = false;
    bof_ = false;
    eof_ = true;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Post() {
    UpdateRecord();
    if (state_ != dsEdit && state_ != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforePost);
    if (state_ == dsEdit) UpdateCursorPos();
    CheckOperation(&TDataSet::InternalPost, OnPostError);
    ClearFieldModified();
    SetState(dsBrowse);
    // The record is in the cursor now: go to it and read it back.
    InternalSetToRecord(*activeBuf_);
    Resync(0);
    Fire(AfterPost);
}

void TDataSet::Cancel() {
    if (state_ != dsEdit && state_ != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforeCancel);
    const bool inserting = state_ == dsInsert;
    if (!inserting) UpdateCursorPos();
    InternalCancel();
    ClearFieldModified();
    SetState(dsBrowse);
    // After an insert the cursor is still where the insert began.
    CursorPosChanged();
    Resync(0);
    Fire(AfterCancel);
}

void TDataSet::Delete() {
    CheckActive();
    if (state_ == dsInsert || state_ == dsSetKey) {
        Cancel();
        return;
    }
    if (!hasRecord_) Error("Não é possível realizar esta operação em um arquivo vazio");
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforeDelete);
    Fire(BeforeScroll);
    UpdateCursorPos();
    CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
    ClearFieldModified();
    SetState(dsBrowse);
    Resync(0);
    Fire(AfterDelete);
    Fire(AfterScroll);
}

void TDataSet::InternalAddRecord(RecordBuffer&, bool) {
    InternalPost();
}

void TDataSet::AppendRecord(const std::vector<Variant>& values) {
    BeginInsertAppend();
    DisableControls();
    try {
        ClearBuffers();
        InternalLast();
        InitRecord(*activeBuf_);
        hasRecord_ = true;
        state_ = dsInsert;
        try {
            DoOnNewRecord();
            Fire(AfterInsert);
            for (size_t i = 0; i < values.size() && i < fields_.size(); ++i)
                if (!fields_[i]->Calculated()) fields_[i]->SetValue(values[i]);
            Fire(BeforePost);
            InternalAddRecord(*activeBuf_, true);
        } catch (...) {
            state_ = dsBrowse;
            modified_ = false;
            CursorPosChanged();
            Resync(0);
            throw;
        }
        state_ = dsBrowse;
        modified_ = false;
        Resync(0);
        Fire(AfterPost);
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

void TDataSet::ClearFieldModified() {
    for (const auto& f : fields_)
        f->Modified = false;
}

TUpdateStatus TDataSet::UpdateStatus() {
    return usUnmodified;
}

// ---------------------------------------------------------------------------------------------
// Fields

TField& TDataSet::Fields(int index) const {
    if (index < 0 || index >= FieldCount()) throw EListError(Format("List index out of bounds (%d)", index));
    return *fields_[size_t(index)];
}

TField* TDataSet::FindField(std::string_view name) const {
    for (const auto& f : fields_)
        if (SameText(f->FieldName(), name)) return f.get();
    return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) {
    TField* f = FindField(name);
    if (f == nullptr)
        throw EDatabaseError(Format("%s: Campo '%s' não encontrado", Name(), std::string(name)));
    return *f;
}

TField* TDataSet::FieldByNumber(int fieldNo) const {
    for (const auto& f : fields_)
        if (f->FieldNo() == fieldNo) return f.get();
    return nullptr;
}

TField& TDataSet::AddField(const std::string& name, TFieldType type, int size, TFieldKind kind) {
    CheckInactive();
    if (FindField(name) != nullptr) Error(Format("Nome de campo '%s' duplicado", name));
    fields_.push_back(std::make_unique<TField>(*this, name, type, size, kind));
    return *fields_.back();
}

void TDataSet::RemoveField(TField& field) {
    CheckInactive();
    auto it = std::find_if(fields_.begin(), fields_.end(), [&](const auto& f) { return f.get() == &field; });
    if (it == fields_.end()) return;
    FieldRemoved(field);
    fields_.erase(it);
}

void TDataSet::ClearFields() {
    CheckInactive();
    DestroyFields();
}

void TDataSet::DestroyFields() {
    for (const auto& f : fields_)
        FieldRemoved(*f);
    fields_.clear();
}

void TDataSet::CreateFields() {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
        const TFieldDef& def = fieldDefs_[i];
        if (def.DataType == ftUnknown || def.DataType == ftCursor || def.DataType == ftADT ||
            def.DataType == ftArray || def.DataType == ftReference || def.DataType == ftDataSet ||
            def.DataType == ftVariant || def.DataType == ftInterface || def.DataType == ftIDispatch)
            Error(Format("O campo '%s' é de um tipo desconhecido", def.Name));
        fields_.push_back(std::make_unique<TField>(*this, def.Name, def.DataType, def.Size, fkData));
        TField& f = *fields_.back();
        f.SetFieldNo(def.FieldNo);
        f.Required = def.Required;
        f.Precision = def.Precision;
        f.FixedChar = def.FixedChar;
        f.AutoIncrement = def.DataType == ftAutoInc || def.AutoIncrement;
    }
}

void TDataSet::BindFields(bool binding) {
    calcFieldsSize_ = 0;
    for (const auto& f : fields_) {
        if (!binding) {
            if (!f->Calculated()) f->SetFieldNo(0);
            continue;
        }
        if (f->Calculated() || f->FieldKind() == fkInternalCalc) {
            f->SetFieldNo(0);
            f->SetOffset(calcFieldsSize_);
            calcFieldsSize_ += f->RecordSize() + 1;
            continue;
        }
        const TFieldDef* def = fieldDefs_.Find(f->FieldName());
        if (def == nullptr) Error(Format("Campo '%s' não encontrado", f->FieldName()));
        f->SetFieldNo(def->FieldNo);
    }
}

Variant TDataSet::GetStateFieldValue(TDataSetState state, const TField& field) {
    const TDataSetState previous = SetTempState(state);
    Variant result;
    try {
        result = field.Value();
    } catch (...) {
        RestoreState(previous);
        throw;
    }
    RestoreState(previous);
    return result;
}

void TDataSet::GetCalcFields(RecordBuffer& buffer) {
    calcBuf_ = &buffer;
    if (calcFieldsSize_ <= 0) return;
    ClearCalcFields(buffer);
    const bool events = AutoCalcFields || state_ == dsEdit || state_ == dsInsert;
    const TDataSetState previous = SetTempState(dsCalcFields);
    try {
        CalcLookupValues();
        if (events) Fire(OnCalcFields);
    } catch (...) {
        RestoreState(previous);
        throw;
    }
    RestoreState(previous);
}

void TDataSet::CalcLookupValues() {
    if (inLookup_) return;
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard{inLookup_};
    inLookup_ = true;
    for (size_t i = 0; i < fields_.size(); ++i) {
        TField& f = *fields_[i];
        if (f.FieldKind() != fkLookup || f.LookupDataSet == nullptr || !f.LookupDataSet->Active()) continue;
        std::vector<Variant> keys;
        bool anyNull = false;
        for (const std::string& name : SplitFields(f.KeyFields, ';')) {
            const std::string n = Trim(name);
            if (n.empty()) continue;
            keys.push_back(FieldByName(n).Value());
            anyNull = anyNull || keys.back().IsEmptyOrNull();
        }
        if (keys.empty() || anyNull) continue;
        const Variant key = keys.size() == 1 ? keys[0] : Variant::FromArray(std::move(keys));
        RecordBuffer* record = calcBuf_;
        const Variant value = f.LookupDataSet->Lookup(f.LookupKeyFields, key, f.LookupResultField);
        // A lookup into this same data set calculates the record it found: this one is meant.
        calcBuf_ = record;
        if (!value.IsEmptyOrNull()) f.SetValue(value);
    }
}

std::unique_ptr<Stream> TDataSet::CreateBlobStream(TField& field, TBlobStreamMode) {
    Error(Format("O campo '%s' não é um campo de blob", field.DisplayName()));
}

// ---------------------------------------------------------------------------------------------
// Bookmarks and search

bool TDataSet::BookmarkAvailable() const {
    return state_ == dsBrowse && hasRecord_ && activeBuf_ &&
           const_cast<TDataSet*>(this)->GetBookmarkFlag(*activeBuf_) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
    TBookmark bookmark;
    if (BookmarkAvailable()) GetBookmarkData(*activeBuf_, bookmark);
    return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
    if (bookmark.empty()) return;
    CheckBrowseMode();
    Fire(BeforeScroll);
    InternalGotoBookmark(bookmark);
    Resync(rmExact | rmCenter);
    Fire(AfterScroll);
}

bool TDataSet::BookmarkValid(const TBookmark&) {
    return false;
}

int TDataSet::CompareBookmarks(const TBookmark* a, const TBookmark* b) {
    if (a == nullptr && b == nullptr) return 0;
    if (a == nullptr) return 1;
    if (b == nullptr) return -1;
    return 0;
}

bool TDataSet::Locate(const std::string&, const Variant&, TLocateOptions) {
    Error("Capacidade não suportada");
}

Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) {
    Error("Capacidade não suportada");
}

// ---------------------------------------------------------------------------------------------
// Filters

void TDataSet::SetFiltered(bool value) {
    filtered_ = value;
}

void TDataSet::SetFilterOptions(TFilterOptions value) {
    filterOptions_ = value;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
    onFilterRecord_ = std::move(handler);
}

void TDataSet::SetFilterText(const std::string& text) {
    filterText_ = text;
}

// ---------------------------------------------------------------------------------------------
// Controls and data events

void TDataSet::DisableControls() {
    if (disableCount_ == 0) stateChangedWhileDisabled_ = false;
    ++disableCount_;
}

void TDataSet::EnableControls() {
    if (disableCount_ <= 0) return;
    if (--disableCount_ > 0) return;
    if (stateChangedWhileDisabled_) {
        stateChangedWhileDisabled_ = false;
        DataEvent(deUpdateState, 0);
    }
    if (state_ != dsInactive) DataEvent(deDataSetChange, 0);
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
    if (event == deFieldChange) {
        auto* field = reinterpret_cast<TField*>(info);
        if (field != nullptr && (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc))
            modified_ = true;
        if (state_ != dsSetKey && field != nullptr && field->FieldKind() == fkData && calcFieldsSize_ > 0 &&
            AutoCalcFields && activeBuf_)
            GetCalcFields(*activeBuf_);
    }
    // Every move sends events; a data set nothing is linked to (a loop over a query) has no
    // list to copy and walk.
    if (disableCount_ == 0) {
        if (!dataSources_.empty()) NotifyDataSources(event, info);
    } else if (event == deUpdateState) {
        stateChangedWhileDisabled_ = true;
    }
}

void TDataSet::NotifyDataSources(TDataEvent event, intptr_t info) {
    const std::vector<TDataSource*> sources = dataSources_;
    for (TDataSource* s : sources)
        s->NotifyLinks(event, info);
}

void TDataSet::AddDataSource(TDataSource* source) {
    if (std::find(dataSources_.begin(), dataSources_.end(), source) == dataSources_.end())
        dataSources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
    dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source), dataSources_.end());
}

bool TDataSet::IsLinkedTo(const TDataSource* source) const {
    while (source != nullptr) {
        const TDataSet* ds = source->DataSet();
        if (ds == nullptr) break;
        if (ds == this) return true;
        source = ds->GetDataSource();
    }
    return false;
}

}  // namespace rtl
