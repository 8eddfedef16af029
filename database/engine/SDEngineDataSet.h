// database/engine/SDEngineDataSet.h: the engine's data set TSDDataSet (part of unit SDEngine): cursor,
// fields, navigation, filters, search, sort, local rows, and the way changes reach the server.
//
// A TSDDataSet finds its TSDDatabase by session and database name, holds it open while any of
// its usage flags is set, creates its driver command through the database's driver, and reads
// the command's rows on demand into its row cache (TSDResultSet), converting each column into
// its own record layout. TSDQuery (SDEngineQuery.h) is the data set of one SQL text.
//
// Record layout (offsets from the buffer start; computed when the fields are bound):
//   field slots     per data field, in definition order: a value-present byte (1 = value,
//                   0 = null), then the value (8 bytes for dates and times, else the field's
//                   data size); blob fields keep only the byte
//   calc area       calculated fields at their offsets: a value-present byte, then the value
//   blob words      4 bytes per blob field, reserved; the arrays live beside the block
//                   (rtl::RecordBuffer::Blob, in blob-index order)
//   row header      32-bit record number (-1 deleted or new), 8-bit update status, 8-bit
//                   bookmark flag
//   bookmark        32-bit index of the row in the cache (-1 for a new record)
//
// Usage flags say why the data set holds its database: 0 open, 2 executing a statement,
// 5 reading index information, 10 a provider call. The first flag set opens the database (and
// registers the data set with it); clearing the last one disconnects the command and releases
// the database.
//
// One thread uses a data set. Destroying an open data set closes it first.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDCommonFilter.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineResultSet.h"
#include "rtl/Assert.h"
#include "rtl/DataSet.h"
#include "rtl/DbParams.h"
#include "rtl/StringList.h"

class TSDDataSetUpdateObject;
class TSDQuery;

// An opened statement that produced no rows.
RTL_EXCEPTION(ESDNoResultSet, rtl::EDatabaseError);

// Usage flags of a data set.
enum TSDDataSetFlag : int {
    dsfOpened = 0,
    dsfPrepared = 1,
    dsfExecuting = 2,
    dsfIndexInfo = 5,
    dsfProvider = 10
};

// An internal rule that the engine's callers guarantee; raises "Fatal error: " and the
// operation's name when it is broken. The text is made only then.
inline void CheckFatal(bool ok, const char* operation) {
    if (!ok) throw rtl::EAssertionFailed(std::string("Fatal error: ") + operation);
}

// "?" markers of a provider's statement become ":name" markers for the servers whose drivers
// bind by name (every server but DB2, Informix, ODBC and InterBase); a parameter without name
// is named by its position from 1 (in the given list too).
std::string ReplaceQuestionMarks(TSDServerType server, const std::string& sql, rtl::Params& params);

// Texts of the engine's data sets.
inline constexpr const char* SRecordChanged = "Registro foi alterado por outro usuário";
inline constexpr const char* SNoSqlStatement = "No SQL statement available";
inline constexpr const char* STableIsReadOnly = "Table is read only";
inline constexpr const char* SUpdateFailed = "Update failed";

class TSDDataSet : public rtl::TDataSet, public TSDDatabaseClient, public TSDSessionNamed {
public:
    using TUpdateRecordEvent =
        std::function<void(rtl::TDataSet& dataSet, rtl::TUpdateKind kind, rtl::TUpdateAction& action)>;
    using TUpdateErrorEvent = std::function<void(rtl::TDataSet& dataSet, rtl::EDatabaseError& e,
                                                 rtl::TUpdateKind kind, rtl::TUpdateAction& action)>;

    explicit TSDDataSet(rtl::Component* owner = nullptr);
    ~TSDDataSet() override;

    // Properties.
    bool AutoRefresh() const { return autoRefresh_; }
    void SetAutoRefresh(bool value);
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& name);
    const std::string& GetSessionName() const override { return sessionName_; }
    void SetSessionName(const std::string& name) override;
    const std::string& SessionName() const { return sessionName_; }
    bool DetachOnFetchAll() const { return detachOnFetchAll_; }
    void SetDetachOnFetchAll(bool value);
    bool CachedUpdates() const { return cachedUpdates_; }
    void SetCachedUpdates(bool value);
    rtl::TUpdateMode UpdateMode() const { return updateMode_; }
    virtual void SetUpdateMode(rtl::TUpdateMode value);
    TSDDataSetUpdateObject* UpdateObject() const { return updateObject_; }
    void SetUpdateObject(TSDDataSetUpdateObject* object);
    bool CacheBlobs = true;
    int32_t LongColumnSize = 1048576;
    TUpdateRecordEvent OnUpdateRecord;
    TUpdateErrorEvent OnUpdateError;

    // What the data set holds.
    TSDDatabase* Database() const { return database_; }
    TISqlCommand* Command() const { return command_.get(); }
    TSDResultSet* ResultSet() const { return resultSet_.get(); }
    TSDExprParser* FilterParser() const { return filterParser_.get(); }
    bool LocalData() const { return localData_; }
    bool HasDBFlag(int flag) const { return (dbFlags_ >> flag) & 1u; }

    // Every remaining row into the cache; with DetachOnFetchAll the command is then released.
    void FetchAll() override;
    // Releases the command's cursor; the cached rows stay usable.
    void Detach();
    // "%s: Campo '%s' não encontrado" (data set name, field name) when there is none.
    rtl::TField& FieldByName(std::string_view name) override;
    rtl::TField* FindFieldCached(std::string_view name);
    // Closes and releases the database whatever holds it; ESDEngineError is swallowed.
    void CloseQuietly() override;
    void CopyRowFromCommand(rtl::RecordBuffer& buffer);
    void ISqlCnvtFieldData(TISqlCommand& command, const TSDFieldDesc& desc, rtl::TField* field,
                           rtl::RecordBuffer& buffer);

    // Virtual operations of the engine's data sets.
    virtual void LoadFromDataSet(rtl::TDataSet& source);
    virtual void LoadFromStrings(const rtl::StringList& lines);
    // Assigning a data set loads its rows, assigning lines loads them one row each.
    void Assign(rtl::TDataSet& source) { LoadFromDataSet(source); }
    void Assign(const rtl::StringList& lines) { LoadFromStrings(lines); }
    virtual void RefreshRecordWithSQL(const std::string& sql);
    // Sorts the cache by the fields at those indexes; flag i of each flag array belongs to field
    // i (flag 0 when the array is shorter; case-sensitive ascending when empty).
    virtual void SortRecords(const std::vector<int>& fieldIndexes, const std::vector<bool>& caseInsensitive,
                             const std::vector<bool>& ascending);
    // Sets or clears a usage flag; answers whether it was set.
    virtual bool SetDBFlag(int flag, bool on);
    virtual void DisconnectCommand();
    virtual void RefreshRecord();
    virtual void RefreshRecordFrom(const std::string& sql);

    // Changes (live updates, update objects).
    rtl::TUpdateStatus UpdateStatus() override;
    void ApplyLiveUpdate(bool deleting, const std::string& sql, const std::string& liveTable);
    void ExecuteUpdateSQL(rtl::TUpdateStatus status, const std::string& sql, const std::string& refreshSql,
                          const std::string& liveTable);
    // The driver takes qualified table names (cached until a property changes).
    bool GetCapability();
    virtual bool GetIsIndexField(const rtl::TField&) const { return false; }

    // Provider support.
    bool PSIsSQLBased() const { return true; }
    bool PSIsSQLSupported() const { return true; }
    std::string PSGetQuoteChar() const { return ""; }
    void PSReset();
    bool PSInTransaction();
    void PSStartTransaction();
    void PSEndTransaction(bool commit);
    // Runs a statement; with resultSet the query opened on it is handed over. Answers the rows
    // affected (-1 for an opened query).
    int PSExecuteStatement(const std::string& sql, const rtl::Params& params,
                           std::unique_ptr<TSDQuery>* resultSet = nullptr);
    // The update error for a failure of one record (nullptr for an exception that is no
    // ESDEngineError: the class library's own handling applies).
    std::unique_ptr<rtl::EUpdateError> PSGetUpdateException(const std::exception& e,
                                                            const rtl::EUpdateError* previous);
    // Applies one record of a delta; answers whether it was applied.
    bool PSUpdateRecord(rtl::TUpdateKind kind, rtl::TDataSet& delta);

    // Database client.
    rtl::Component* ClientOwner() const override { return Owner(); }
    bool IsActive() const override { return Active(); }
    bool HasCommandHandle() const override { return CommandHasHandle(); }
    void DetachForRollback() override;
    void SetConnectionLost() override { connectionLost_ = true; }
    void DatabaseChanged() override { DataEvent(rtl::dePropertyChange, 0); }

    void Loaded() override;
    void DataEvent(rtl::TDataEvent event, intptr_t info) override;
    void SetFiltered(bool value) override;
    void SetFilterOptions(rtl::TFilterOptions value) override;
    void SetOnFilterRecord(TFilterRecordEvent handler) override;
    void SetFilterText(const std::string& text) override;
    bool Locate(const std::string& keyFields, const rtl::Variant& keyValues,
                rtl::TLocateOptions options) override;
    rtl::Variant Lookup(const std::string& keyFields, const rtl::Variant& keyValues,
                        const std::string& resultFields) override;
    bool BookmarkValid(const rtl::TBookmark& bookmark) override;
    int CompareBookmarks(const rtl::TBookmark* a, const rtl::TBookmark* b) override;
    // Final: the fields read browse-state values straight from the active record at the slots
    // ComputeLayout gives them, the same bytes these answer in that state, so no subclass may
    // answer differently.
    bool GetFieldData(const rtl::TField& field, void* dest) final;
    const uint8_t* FieldDataInPlace(const rtl::TField& field, bool& inPlace) final;
    void SetFieldData(rtl::TField& field, const void* source) override;
    std::unique_ptr<rtl::Stream> CreateBlobStream(rtl::TField& field, rtl::TBlobStreamMode mode) override;
    void SetRecNo(int value) override;
    int GetRecordCount() override;
    int GetRecNo() override;

    // The bytes of a record's field slots (the whole slots size, not cut to 16 bits as the
    // class library's record size would be, so that a buffer sized by it always holds a record).
    int GetRecordSize() const { return slotsSize_; }
    // The field slots of the active record; false (and the buffer left alone) when the data set
    // is empty or the active record is not a fetched one.
    bool GetCurrentRecord(std::vector<uint8_t>& buffer);
    // Block reading is never switched on: a positive size is ignored.
    int BlockReadSize() const { return blockReadSize_; }
    void SetBlockReadSize(int value) {
        if (value <= 0) blockReadSize_ = value;
    }

    // The record layout, for the row cache and the blob stream.
    int RecordDataSize() const { return dataSize_; }
    int HeaderOffset() const { return headerOffset_; }
    int RecordSize() const { return recordSize_; }
    int SlotsSize() const { return slotsSize_; }
    // The store of the record buffers of this layout (nullptr before the first buffer).
    const rtl::RecordPool* RecordStore() const { return pool_.get(); }
    // The slot of a data field (its value-present byte), -1 for none.
    int FieldSlot(const rtl::TField& field) const;
    // The blob reference of a blob field, -1 for none.
    int BlobIndexOf(const rtl::TField& field) const;
    int32_t RecNoOf(const rtl::RecordBuffer& b) const { return Load32(b, headerOffset_); }
    void SetRecNoOf(rtl::RecordBuffer& b, int32_t v) const { Store32(b, headerOffset_, v); }
    rtl::TUpdateStatus StatusOf(const rtl::RecordBuffer& b) const {
        return rtl::TUpdateStatus(b.Data()[headerOffset_ + 4]);
    }
    void SetStatusOf(rtl::RecordBuffer& b, rtl::TUpdateStatus s) const {
        b.Data()[headerOffset_ + 4] = uint8_t(s);
    }
    rtl::TBookmarkFlag BookmarkFlagOf(const rtl::RecordBuffer& b) const {
        return rtl::TBookmarkFlag(b.Data()[headerOffset_ + 5]);
    }
    void SetBookmarkFlagOf(rtl::RecordBuffer& b, rtl::TBookmarkFlag f) const {
        b.Data()[headerOffset_ + 5] = f;
    }
    int32_t BookmarkOf(const rtl::RecordBuffer& b) const { return Load32(b, bookmarkOffset_); }
    void SetBookmarkOf(rtl::RecordBuffer& b, int32_t v) const { Store32(b, bookmarkOffset_, v); }

    // What the row cache asks of its data set.
    std::unique_ptr<rtl::RecordBuffer> NewRecordBuffer() const;
    bool CommandHasHandle() const { return command_ != nullptr && command_->GetHandle() != nullptr; }
    bool FetchCommandRow();
    int RecordBufferCount() const { return 1; }
    bool IsStatusShown(rtl::TUpdateStatus status) const { return (updateRecordTypes_ >> status) & 1u; }
    // The filter test of a cached row: the filter expression, then OnFilterRecord; a failure is
    // handed to the program's exception handler and rejects the row.
    bool FilterRecord(rtl::RecordBuffer& buffer);
    uint64_t FilterGeneration() const { return filterGeneration_; }
    // The record of the current state (nullptr when there is none).
    rtl::RecordBuffer* GetActiveRecBuf();

    // Thin wrappers over the command; each asserts that there is one and hands it the long-column
    // size first, and calls it as a CommandCall.
    void ISqlPrepare(const std::string& sql);
    void ISqlExecDirect(const std::string& sql);
    void ISqlExecute();
    int32_t ISqlGetRowsAffected();
    int32_t ISqlWriteBlob(int32_t fieldNo, const uint8_t* data, int32_t count);

protected:
    // Slots of the engine's data sets.
    virtual void ISqlCmdCreate();
    virtual void PrepareCursor() = 0;
    virtual void FreeCommand();
    virtual void ExecuteCursor();
    // The statement text that generated update statements analyse.
    virtual std::string SelectSQL() const { return command_ ? command_->CommandText : std::string(); }
    // Runs the statement again for a refresh (the command may have lost its handle).
    virtual void ReexecuteCursor(bool hasHandle);

    // Overrides of the data-set base.
    std::unique_ptr<rtl::RecordBuffer> AllocRecordBuffer() override { return NewRecordBuffer(); }
    rtl::TGetResult GetRecord(rtl::RecordBuffer& buffer, rtl::TGetMode mode, bool doCheck) override;
    void OpenCursor(bool infoQuery) override;
    void CloseCursor() override;
    void InternalOpen() override;
    void InternalClose() override;
    void InternalInitFieldDefs() override;
    bool IsCursorOpen() const override { return HasDBFlag(dsfOpened) || localData_; }
    void InternalFirst() override;
    void InternalLast() override;
    void InternalSetToRecord(rtl::RecordBuffer& buffer) override;
    void InternalGotoBookmark(const rtl::TBookmark& bookmark) override;
    void InternalInitRecord(rtl::RecordBuffer& buffer) override;
    void InitRecord(rtl::RecordBuffer& buffer) override;
    void InternalPost() override;
    void InternalAddRecord(rtl::RecordBuffer& buffer, bool append) override;
    void InternalDelete() override;
    void InternalRefresh() override;
    void GetBookmarkData(const rtl::RecordBuffer& buffer, rtl::TBookmark& bookmark) override;
    void SetBookmarkData(rtl::RecordBuffer& buffer, const rtl::TBookmark& bookmark) override;
    rtl::TBookmarkFlag GetBookmarkFlag(const rtl::RecordBuffer& buffer) override {
        return BookmarkFlagOf(buffer);
    }
    void SetBookmarkFlag(rtl::RecordBuffer& buffer, rtl::TBookmarkFlag flag) override {
        SetBookmarkFlagOf(buffer, flag);
    }
    bool GetCanModify() override;
    bool IsSequenced() override;
    bool FindRecord(bool restart, bool goForward) override;
    void ClearCalcFields(rtl::RecordBuffer& buffer) override;
    void DoOnNewRecord() override;
    void FieldRemoved(rtl::TField& field) override;

    // A new driver command of this data set's database (not this data set's own command).
    TISqlCommandPtr CreateCommand();
    // The database this data set would use, held or not.
    TSDDatabase* FindDatabase() const;
    // The trimmed, upper-cased value of a database parameter ("" without a database).
    std::string DatabaseParam(const char* name) const;
    void ApplyCachedUpdatesParam();
    // Opens the data set on the rows of its cache alone.
    void OpenAsLocalData();
    // Opens it so and appends rows through appendRows with the controls off; the rows then
    // count as the data set's own (no pending updates) and the first is current.
    void LoadLocalRows(const std::function<void()>& appendRows);
    std::unique_ptr<TSDExprParser> CompileFilter(const std::string& text, rtl::TFilterOptions options);
    void RunWithWaitCursor(const std::function<void()>& step);

    // A call into the driver through the command (a statement's preparation or execution, a
    // row's fetch), which a lost connection may end from inside: the driver's error handler
    // closes this data set while the driver's own frames are still running on the command. For
    // the length of the call the database counts as fetching (its idle timer does not close
    // it), and a command dropped meanwhile is disconnected at once but freed only when the
    // outermost call has returned.
    class CommandCall {
    public:
        explicit CommandCall(TSDDataSet& dataSet);
        ~CommandCall();
        CommandCall(const CommandCall&) = delete;
        CommandCall& operator=(const CommandCall&) = delete;

    private:
        TSDDataSet& dataSet_;
        TSDDatabase* database_;
        bool wasFetching_;
    };
    // command_ goes: at once, or as above while a CommandCall runs.
    void DropCommand();

    TISqlCommandPtr command_;
    bool closing_ = false;
    bool connectionLost_ = false;

private:
    struct Conversion;
    static int32_t Load32(const rtl::RecordBuffer& b, int offset) {
        int32_t v;
        std::memcpy(&v, b.Data() + offset, 4);
        return v;
    }
    static void Store32(rtl::RecordBuffer& b, int offset, int32_t v) {
        std::memcpy(b.Data() + offset, &v, 4);
    }

    void ComputeLayout();
    // The slot of the field (its value-present byte) in the record of the current state, or
    // nullptr when that record has no value of it to read.
    const uint8_t* ReadableSlot(const rtl::TField& field);
    Conversion PlanConversion(TSDServerType server, const TSDFieldDesc& desc, rtl::TField* field) const;
    void BuildConversions();
    static void ApplyConversion(TISqlCommand& command, const TSDFieldDesc& desc, const Conversion& c,
                                rtl::RecordBuffer& buffer, bool clear);
    void MakeDefsFromFields();
    // The index of the first shown row whose key fields match, or -1; rows are fetched as needed.
    int LocateRecord(const std::string& keyFields, const rtl::Variant& keyValues,
                     rtl::TLocateOptions options);
    std::vector<rtl::TField*> FieldList(const std::string& names);
    rtl::Variant FieldValues(const std::vector<rtl::TField*>& fields);
    void ExecuteRefreshStatement(TISqlCommand& command, int rowIndex);
    void AutoRefreshIdentity(TISqlCommand& command, int rowIndex);
    std::string GetSqlDatabaseIdentityQuery();

    std::string databaseName_;
    std::string sessionName_;
    bool autoRefresh_ = false;
    bool detachOnFetchAll_ = false;
    bool cachedUpdates_ = true;
    bool cachedUpdatesSet_ = false;
    rtl::TUpdateMode updateMode_ = rtl::upWhereAll;
    TSDDataSetUpdateObject* updateObject_ = nullptr;

    TSDDatabase* database_ = nullptr;
    uint32_t dbFlags_ = 0;
    std::unique_ptr<TSDResultSet> resultSet_;
    std::unique_ptr<TSDExprParser> filterParser_;
    std::map<std::string, rtl::TField*> fieldNameCache_;  // keys upper-cased
    bool localData_ = false;
    bool defsFromFields_ = false;
    rtl::TUpdateStatusSet updateRecordTypes_ = 0;
    rtl::RecordBuffer* filterBuffer_ = nullptr;
    uint64_t filterGeneration_ = 0;
    int capability_ = -1;
    int blockReadSize_ = 0;

    std::vector<int> fieldOffsets_;  // by field number - 1
    std::vector<int> blobIndexes_;   // by field number - 1
    int slotsSize_ = 0;
    int dataSize_ = 0;
    int blobCount_ = 0;
    int headerOffset_ = 0;
    int bookmarkOffset_ = 0;
    int recordSize_ = 0;

    // The record store (SDEngineRecordStore.h): slots of recordSize_, made on first use.
    mutable std::shared_ptr<rtl::RecordPool> pool_;
    std::vector<Conversion> conversions_;
    // When every column with a slot is read as the driver gives it (Direct), the same columns
    // for one GetCnvtRowData per row; empty otherwise.
    std::vector<TSDCellCopy> directCells_;
    bool allDirect_ = false;
    const TSDFieldDescList* conversionsFor_ = nullptr;
    // CommandCalls running, and the commands dropped during them.
    int commandCalls_ = 0;
    std::vector<TISqlCommandPtr> droppedCommands_;
};
