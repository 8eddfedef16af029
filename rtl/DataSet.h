// rtl/DataSet.h: the data-set base of the SQL library's class base: states, record buffers,
// navigation, editing, bookmarks, fields, filters and events.
//
// TDataSet is the frame every data set of the SQL library (TSDDataSet, TSDQuery) fills in: it owns
// the state machine (Inactive, Browse, Edit, Insert and the temporary states in which fields read
// another record: CalcFields, Filter, OldValue, NewValue), one active record buffer, the fields
// and field definitions, the events and the data sources that watch it. A subclass supplies the
// cursor through the protected Internal... operations, GetRecord and the field-data pair.
//
// One record buffer is kept for the current record (there are no data-aware controls), plus a
// scratch buffer for moves and a calculation buffer. What must stay true:
//   - the cursor of the subclass sits on the active record whenever cursorOnActive_ is set;
//     every operation that may have moved it calls CursorPosChanged, and every relative move
//     first brings it back (UpdateCursorPos);
//   - a failed open leaves the data set closed (CloseCursor has run);
//   - an exception inside an edit operation leaves the state as it was before the operation.
//
// The texts of the class base's own errors are Portuguese, as the system shows them.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Component.h"
#include "rtl/DatabaseError.h"
#include "rtl/Field.h"
#include "rtl/Stream.h"
#include "rtl/Variant.h"

namespace rtl {

class TDataSource;
class TDataLink;

enum TDataSetState : int32_t {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
    dsOpening,
};

enum TGetMode : int32_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : int32_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

// Sets of flags.
using TResyncMode = unsigned;
inline constexpr TResyncMode rmExact = 1;
inline constexpr TResyncMode rmCenter = 2;
using TLocateOptions = unsigned;
inline constexpr TLocateOptions loCaseInsensitive = 1;
inline constexpr TLocateOptions loPartialKey = 2;
using TFilterOptions = unsigned;
inline constexpr TFilterOptions foCaseInsensitive = 1;
inline constexpr TFilterOptions foNoPartialCompare = 2;

enum TDataEvent : int32_t {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
};

// A row's update status; its ordinal is the status byte of a cached row.
enum TUpdateStatus : uint8_t { usUnmodified, usModified, usInserted, usDeleted };
// A set of statuses, one bit per TUpdateStatus (the class library's update-record types).
using TUpdateStatusSet = unsigned;
inline constexpr TUpdateStatusSet StatusBit(TUpdateStatus s) {
    return 1u << s;
}
enum TUpdateKind : int32_t { ukModify, ukInsert, ukDelete };
enum TUpdateAction : int32_t { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
enum TDataAction : int32_t { daFail, daAbort, daRetry };
enum TBlobStreamMode : int32_t { bmRead, bmWrite, bmReadWrite };

using TBookmark = std::vector<uint8_t>;

// The silent exception of the class library: an operation the program chose to abandon.
RTL_EXCEPTION(EAbort, Exception);
using BlobRef = std::shared_ptr<const ByteArray>;

// Slots of one size for the record buffers of one data set: rows are many and all alike, so
// each row's buffer object and record block are carved together out of large slabs instead of
// two allocations each, and a slot given back is reused (the free list runs through the slots
// themselves, so giving one back allocates nothing). Used by one thread (the data set's).
//
// The record block of a slot handed out is zero-filled. Clearing costs a pass over the memory,
// and for the rows of a large result it was most of what caching them cost, so a pool clears
// only what may hold something: a slot given back and taken again, or a slot of a slab that
// did not come zeroed. A slot carved from a slab fresh from the system is not touched before its
// row is written.
//
// Slabs come from a SlabSource, which owns them and goes with the pool; the plain pool takes
// slabs of 256 KB from the heap. Slots are carved in order and never span two slabs; the tail
// of a slab too short for one more slot stays unused.
//
// A pool lives in a shared_ptr. While any of its slots is out it holds itself (self_), so the
// buffers in its slots point at it without owning it: a row's buffer object stays 32 bytes and
// making or dropping one counts no reference. The pool goes when its owner has let go and the
// last slot is back.
class RecordPool : public std::enable_shared_from_this<RecordPool> {
public:
    // The room at a slot's start for the buffer object; the record block follows it.
    static constexpr size_t kObjectRoom = 32;

    class SlabSource {
    public:
        virtual ~SlabSource() = default;
        // A new slab of at least `minimum` bytes, 8-byte aligned, which stays put until the
        // source goes; `zeroed` tells whether every byte of it reads as zero.
        virtual uint8_t* NewSlab(size_t minimum, size_t& size, bool& zeroed) = 0;
    };

    explicit RecordPool(size_t blockSize);
    RecordPool(size_t blockSize, std::unique_ptr<SlabSource> source);
    ~RecordPool();
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;

    // The record bytes of a slot (the asked size rounded up to 8).
    size_t BlockSize() const { return blockSize_; }
    // The bytes of a slot: the object room and the record block.
    size_t SlotSize() const { return slotSize_; }
    // std::bad_weak_ptr when the pool is not held by a shared_ptr.
    uint8_t* Take();
    // The pool may go inside this call, with the last of its slots.
    void Give(uint8_t* slot) noexcept;
    // The owner lets go of the pool: slots given back from now on are not kept for reuse, since
    // the pool goes with the last of them.
    void Retire() { retired_ = true; }
    // Slots handed out and not given back.
    size_t InUse() const { return inUse_; }
    const SlabSource& Source() const { return *source_; }

private:
    size_t blockSize_;
    size_t slotSize_;
    std::unique_ptr<SlabSource> source_;
    // The unused rest of the newest slab: slots from next_ up to end_.
    uint8_t* next_ = nullptr;
    uint8_t* end_ = nullptr;
    bool restZeroed_ = false;
    // Slots given back, each holding the address of the next in its first bytes.
    uint8_t* free_ = nullptr;
    size_t inUse_ = 0;
    bool retired_ = false;
    std::shared_ptr<RecordPool> self_;  // set while inUse_ > 0
};

// A record buffer: a zero-filled block laid out by the data set, and the byte arrays of its blob
// references beside it. A blob array that anything besides its writer may see is never changed
// in place: a writer stores a new array, so copies of a buffer may share arrays safely. The
// block is the buffer's own, or the buffer lives in a slot of a pool together with its block,
// and the pool stays while the buffer does.
class RecordBuffer {
public:
    RecordBuffer(size_t size, size_t blobCount);
    ~RecordBuffer();
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;
    // A buffer in a slot of the pool.
    static std::unique_ptr<RecordBuffer> FromPool(const std::shared_ptr<RecordPool>& pool, size_t blobCount);
    // A buffer of its own comes from the heap; a pooled buffer gives its slot back to the pool,
    // any other goes back to the heap.
    static void* operator new(size_t size);
    void operator delete(RecordBuffer* buffer, std::destroying_delete_t);

    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }
    size_t Size() const { return size_; }
    size_t BlobCount() const { return blobCount_; }
    // rtl::EAssertionFailed for an index outside the references.
    const BlobRef& Blob(size_t index) const;
    // An empty array is stored as no array.
    void SetBlob(size_t index, BlobRef blob);
    void ClearBlobs();

private:
    RecordBuffer(RecordPool* pool, uint8_t* data, size_t blobCount);

    RecordPool* pool_ = nullptr;
    // Before data_: a pooled buffer whose references cannot be had must not free its block.
    std::unique_ptr<BlobRef[]> blobs_;
    // A buffer of its own owns its block; a pooled buffer's block is part of its slot, let go
    // of (not freed) when the buffer goes.
    std::unique_ptr<uint8_t[]> data_;
    uint32_t size_;
    uint32_t blobCount_;
};

// The class library's update error: a failure of one record's update, wrapping the original.
class EUpdateError : public EDatabaseError {
public:
    EUpdateError(std::string message, std::string context, int32_t errorCode, int32_t previousError,
                 std::exception_ptr original)
        : EDatabaseError(std::move(message)),
          Context(std::move(context)),
          ErrorCode(errorCode),
          PreviousError(previousError),
          OriginalException(std::move(original)) {}
    const char* ClassName() const noexcept override { return "EUpdateError"; }

    std::string Context;
    int32_t ErrorCode;
    int32_t PreviousError;
    std::exception_ptr OriginalException;
};

// Where exceptions go that a data set must not let through (a filter that fails on one record):
// the program's handler, which shows or logs them. Without one they are dropped.
using TExceptionHandler = std::function<void(const std::exception& e)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(const std::exception& e);

class TDataSet : public Component {
public:
    using TDataSetNotifyEvent = std::function<void(TDataSet& dataSet)>;
    using TDataSetErrorEvent = std::function<void(TDataSet& dataSet, EDatabaseError& e, TDataAction& action)>;
    using TFilterRecordEvent = std::function<void(TDataSet& dataSet, bool& accept)>;

    explicit TDataSet(Component* owner = nullptr);
    ~TDataSet() override;

    // State and opening.
    TDataSetState State() const { return state_; }
    bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    void Loaded() override;
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    bool IsEmpty() const { return !hasRecord_ && state_ != dsInsert; }
    bool Modified() const { return modified_; }
    bool CanModify() { return GetCanModify(); }
    bool UniDirectional() const { return uniDirectional_; }
    int RecordCount();
    int RecNo() { return GetRecNo(); }
    void SetRecNoValue(int value) { SetRecNo(value); }

    // Navigation.
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int distance);
    void Refresh();
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }

    // Editing.
    void Edit();
    void Insert();
    void Append();
    void Post();
    void Cancel();
    void Delete();
    // Appends a record whose fields take the values in field order (a missing value leaves the
    // field null) and posts it.
    void AppendRecord(const std::vector<Variant>& values);
    void CheckBrowseMode();
    void UpdateRecord();
    virtual TUpdateStatus UpdateStatus();

    // Fields and field definitions.
    TFieldDefs& FieldDefs() { return fieldDefs_; }
    int FieldCount() const { return int(fields_.size()); }
    TField& Fields(int index) const;
    // Without regard to case; nullptr when absent.
    TField* FindField(std::string_view name) const;
    // "%s: Campo '%s' não encontrado" (data set name, field name) when absent.
    virtual TField& FieldByName(std::string_view name);
    TField* FieldByNumber(int fieldNo) const;
    // A persistent field; the data set must be closed. Owned by the data set.
    TField& AddField(const std::string& name, TFieldType type, int size = 0, TFieldKind kind = fkData);
    void RemoveField(TField& field);
    // Destroys every field.
    void ClearFields();
    // The fields were made from the definitions at open and go at close.
    bool DefaultFields() const { return defaultFields_; }
    virtual void InitFieldDefs();
    // Reads the value of a field in another state's record (OldValue, NewValue).
    Variant GetStateFieldValue(TDataSetState state, const TField& field);

    // Bookmarks.
    bool BookmarkAvailable() const;
    TBookmark GetBookmark();
    void GotoBookmark(const TBookmark& bookmark);
    virtual bool BookmarkValid(const TBookmark& bookmark);
    // Both nullptr 0, only the first 1, only the second -1, otherwise by position.
    virtual int CompareBookmarks(const TBookmark* a, const TBookmark* b);

    // Search.
    virtual bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options);
    virtual Variant Lookup(const std::string& keyFields, const Variant& keyValues,
                           const std::string& resultFields);

    // Filters.
    const std::string& Filter() const { return filterText_; }
    void SetFilter(const std::string& text) { SetFilterText(text); }
    bool Filtered() const { return filtered_; }
    virtual void SetFiltered(bool value);
    TFilterOptions FilterOptions() const { return filterOptions_; }
    virtual void SetFilterOptions(TFilterOptions value);
    const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
    virtual void SetOnFilterRecord(TFilterRecordEvent handler);
    virtual void SetFilterText(const std::string& text);

    // Data sources and events.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }
    virtual void DataEvent(TDataEvent event, intptr_t info);
    const std::vector<TDataSource*>& DataSources() const { return dataSources_; }
    // The master data source of a detail data set (nullptr for none).
    virtual TDataSource* GetDataSource() const { return nullptr; }
    bool IsLinkedTo(const TDataSource* source) const;

    // Field data of the record of the current state (see TField).
    virtual bool GetFieldData(const TField& field, void* dest) = 0;
    // The same value read in place: where its RecordSize() bytes sit in the record of the current
    // state, nullptr when it is null or there is no record. A data set that cannot point into its
    // records leaves inPlace false, and the value is read through GetFieldData.
    virtual const uint8_t* FieldDataInPlace(const TField& field, bool& inPlace) {
        (void)field;
        inPlace = false;
        return nullptr;
    }
    virtual void SetFieldData(TField& field, const void* source) = 0;
    virtual std::unique_ptr<Stream> CreateBlobStream(TField& field, TBlobStreamMode mode);

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
        AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeRefresh,
        AfterRefresh, BeforeScroll, AfterScroll, OnNewRecord, OnCalcFields;
    TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
    bool AutoCalcFields = true;

protected:
    friend class TDataSource;

    // The cursor, supplied by the subclass.
    virtual std::unique_ptr<RecordBuffer> AllocRecordBuffer() = 0;
    virtual TGetResult GetRecord(RecordBuffer& buffer, TGetMode mode, bool doCheck) = 0;
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual void InternalInitFieldDefs() = 0;
    virtual bool IsCursorOpen() const = 0;
    virtual void InternalFirst() = 0;
    virtual void InternalLast() = 0;
    virtual void InternalSetToRecord(RecordBuffer& buffer) = 0;
    virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
    virtual void InternalInitRecord(RecordBuffer& buffer) = 0;
    virtual void InitRecord(RecordBuffer& buffer);
    virtual void InternalPost() {}
    virtual void InternalDelete() {}
    virtual void InternalAddRecord(RecordBuffer& buffer, bool append);
    virtual void InternalCancel() {}
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalRefresh() {}
    virtual void InternalHandleException(const std::exception& e) { HandleApplicationException(e); }
    virtual void GetBookmarkData(const RecordBuffer& buffer, TBookmark& bookmark) = 0;
    virtual void SetBookmarkData(RecordBuffer& buffer, const TBookmark& bookmark) = 0;
    virtual TBookmarkFlag GetBookmarkFlag(const RecordBuffer& buffer) = 0;
    virtual void SetBookmarkFlag(RecordBuffer& buffer, TBookmarkFlag flag) = 0;
    virtual int GetRecordCount() { return -1; }
    virtual int GetRecNo() { return -1; }
    virtual void SetRecNo(int) {}
    virtual bool GetCanModify() { return true; }
    virtual bool IsSequenced() { return true; }
    virtual bool FindRecord(bool restart, bool goForward);
    virtual void Resync(TResyncMode mode);
    // InfoQuery: only the field definitions are wanted.
    virtual void OpenCursor(bool infoQuery);
    virtual void CloseCursor();
    virtual void ClearCalcFields(RecordBuffer&) {}
    virtual void DoOnNewRecord();
    virtual void DoBeforeOpen() { Fire(BeforeOpen); }
    virtual void DoAfterOpen() { Fire(AfterOpen); }
    virtual void SetUniDirectional(bool value) { uniDirectional_ = value; }

    // Record buffers.
    RecordBuffer* ActiveBuffer() const { return activeBuf_.get(); }
    RecordBuffer* CalcBuffer() const { return calcBuf_; }
    // Puts back the calculation buffer of an outer calculation after one of a buffer that goes.
    void RestoreCalcBuffer(RecordBuffer* buffer) { calcBuf_ = buffer; }
    bool HasActiveRecord() const { return hasRecord_; }
    // Computes the calculated fields of a record in the CalcFields state: the lookup fields'
    // values, then OnCalcFields.
    void GetCalcFields(RecordBuffer& buffer);
    int CalcFieldsSize() const { return calcFieldsSize_; }

    // Cursor bookkeeping.
    void CursorPosChanged() { cursorOnActive_ = false; }
    void UpdateCursorPos();
    void ClearBuffers();

    // States.
    void SetState(TDataSetState value);
    TDataSetState SetTempState(TDataSetState value);
    void RestoreState(TDataSetState previous);

    // Fields.
    // The data set keeps the field's value at this offset of every record buffer, as a
    // value-present byte followed by the value's RecordSize() bytes (-1: not so, or no longer).
    // A field so placed reads its value in browse state straight from the active record, without
    // asking GetFieldData or FieldDataInPlace, so the offset must stay true for every record
    // buffer until the layout changes; a new field number forgets it.
    static void SetFieldRecordSlot(TField& field, int offset) { field.recordSlot_ = offset; }
    void CreateFields();
    // Gives every data field the number of its definition; "Campo '%s' não encontrado" for a
    // persistent field without one. Calculated fields get their offsets.
    void BindFields(bool binding);
    void DestroyFields();
    virtual void FieldRemoved(TField&) {}

    void CheckActive() const;
    void CheckInactive() const;
    void CheckCanModify();
    // Raises through EDatabaseError with "%s: " and the data set's name before the text.
    [[noreturn]] void Error(const std::string& message) const;
    void Fire(const TDataSetNotifyEvent& event) {
        if (event) event(*this);
    }

    bool fieldDefsUpdating_ = false;

private:
    friend class TField;

    void DoInternalOpen();
    bool GetNextRecord();
    bool GetPriorRecord();
    void BeginInsertAppend();
    void EndInsertAppend();
    void CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError);
    void NotifyDataSources(TDataEvent event, intptr_t info);
    void AddDataSource(TDataSource* source);
    void RemoveDataSource(TDataSource* source);
    void FreeBuffers();
    // The blob fields' written marks end with the edit.
    void ClearFieldModified();
    void CalcLookupValues();

    TDataSetState state_ = dsInactive;
    bool bof_ = true;
    bool eof_ = true;
    bool hasRecord_ = false;
    bool cursorOnActive_ = false;
    bool modified_ = false;
    bool internalOpenComplete_ = false;
    bool defaultFields_ = false;
    bool streamedActive_ = false;
    bool uniDirectional_ = false;
    bool stateChangedWhileDisabled_ = false;
    // Set while the lookup values of a record are computed: a lookup into this same data set
    // computes its found record's other calculated fields, but not its lookups again, so that
    // records that look each other up cannot recurse without end.
    bool inLookup_ = false;
    int disableCount_ = 0;
    int calcFieldsSize_ = 0;
    std::unique_ptr<RecordBuffer> activeBuf_;
    std::unique_ptr<RecordBuffer> tempBuf_;
    RecordBuffer* calcBuf_ = nullptr;
    TBookmark insertOrigin_;
    bool insertHadRecord_ = false;
    TFieldDefs fieldDefs_;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<TDataSource*> dataSources_;
    std::string filterText_;
    bool filtered_ = false;
    TFilterOptions filterOptions_ = 0;
    TFilterRecordEvent onFilterRecord_;
};

}  // namespace rtl
